// Entry point: preferences, the single-instance guard, the main window and
// the message loop.
#include <windows.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "res/resource_ids.h"
#include "ui/messages.h"
#include "ui/panel.h"

constexpr int MainWindowWidth = 395;
constexpr int MainWindowHeight = 670;

// A copy already running in the remembered language is brought forward and
// this one ends. Returns whether such a copy was found.
static bool bringForwardRunningCopy()
{
    HWND running = FindWindowW(nullptr, TextTable[TxtWindowTitle]);
    if (running == nullptr)
        return false;
    if (IsIconic(running))
        ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return true;
}

static void registerMainWindowClass(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN_WINDOW));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = MainWindowClass;
    // A Unicode class, so the window keeps its Russian title on any code page.
    RegisterClassW(&windowClass);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    loadPreferences();
    selectTextTable();
    if (bringForwardRunningCopy())
        return 0;

    registerMainWindowClass(instance);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    mainWindow = CreateWindowExW(0, MainWindowClass, TextTable[TxtWindowTitle], WS_SYSMENU | WS_MINIMIZEBOX,
                                 screenWidth / 2 - 197, screenHeight / 2 - 335,
                                 MainWindowWidth, MainWindowHeight, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr)
        return 0;

    createControls();
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    SetWindowPos(mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    startProgress(TimerId::Search, SearchPeriodMs);

    MSG message;
    // GetMessage gives -1 only for an invalid window handle, which this loop
    // never passes; stop on it rather than spin.
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
