// Entry point: preferences, the single-instance guard, the main window and
// the message loop.
#include <windows.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "ui/messages.h"

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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    loadPreferences();
    selectTextTable();
    if (bringForwardRunningCopy())
        return 0;

    if (createMainWindow(instance) == nullptr)
        return 0;
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
