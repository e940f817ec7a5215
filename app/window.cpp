// The window procedure: every message of the main window reaches the other
// parts of the program from here.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/link.h"
#include "protocol/win32/panel_settings.h"
#include "res/resource_ids.h"
#include "serial/devchange.h"
#include "ui/lamps.h"
#include "ui/messages.h"
#include "ui/panel.h"
#include "velmora_version.h"

constexpr int MainWindowWidth = 395;
constexpr int MainWindowHeight = 670;
// The top-left corner is placed this far left of and above the screen's
// centre.
constexpr int MainWindowCentreOffsetX = 197;
constexpr int MainWindowCentreOffsetY = 335;

static const wchar_t HelpFile[] = L"help\\" VELMORA_HELP_FILE_NAME;

// A click on a radio with a lamp beside its group lights the lamp in the
// colour of that choice.
static bool setLampForRadio(int commandId)
{
    int lamp;
    COLORREF color;
    if (!lampForRadio(commandId, lamp, color))
        return false;
    lampColor[lamp] = color;
    invalidateLamps();
    return true;
}

static void switchLanguage(UiLanguage language)
{
    CheckMenuItem(languageMenu, ID_MENU_LANG_RU,
                  MF_BYCOMMAND | (language == UiLanguage::Russian ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(languageMenu, ID_MENU_LANG_EN,
                  MF_BYCOMMAND | (language == UiLanguage::English ? MF_CHECKED : MF_UNCHECKED));
    uiLanguage = language;
    savePreferences();
    applyInterfaceTexts();
    rebuildMenuBar();
}

static void switchTab()
{
    LRESULT selection = SendMessageW(readerTabs, TCM_GETCURSEL, 0, 0);
    if (selection == 0) {
        readerType = ReaderType::Lnx;
        savePreferences();
        applyLnxPageDefaults();
    } else if (selection == 1) {
        readerType = ReaderType::Usb;
        savePreferences();
        applyUsbPageDefaults();
    } else {
        return;
    }
    invalidateLamps();
    resetLink();
    startProgress(TimerId::Search, SearchPeriodMs);
}

void reportHelpResult(INT_PTR result)
{
    const wchar_t *caption = TextTable[TxtMessageCaption];
    if (result > 32)
        return;
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) {
        showMessage(mainWindow, TextTable[TxtHelpFileNotFound], caption, 0, MsgIcon::Error);
        showMessage(mainWindow, TextTable[TxtHelpFolderHint], caption, 0, MsgIcon::Hint);
    } else if (result == SE_ERR_NOASSOC) {
        showMessage(mainWindow, TextTable[TxtHelpNoViewer], caption, 0, MsgIcon::Warning);
        showMessage(mainWindow, TextTable[TxtInstallPdfViewer], caption, 0, MsgIcon::Hint);
    } else {
        wchar_t text[256];
        formatText(text, sizeof text / sizeof text[0], L"%ls\n\r[%ls: %d]", TextTable[TxtHelpOpenFailed],
                   TextTable[TxtErrorCode], static_cast<int>(result));
        showMessage(mainWindow, text, caption, 0, MsgIcon::Error);
    }
}

static void openHelpFile()
{
    HINSTANCE result = ShellExecuteW(mainWindow, L"open", HelpFile, nullptr, nullptr, SW_RESTORE);
    reportHelpResult(reinterpret_cast<INT_PTR>(result));
}

static void showAboutBox()
{
    int dialog = uiLanguage == UiLanguage::English ? IDD_ABOUT_EN : IDD_ABOUT_RU;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog), mainWindow, aboutDialogProc, 0);
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            EndDialog(dialog, IDOK);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

static void showContextMenu(LPARAM lParam)
{
    POINT point = {LOWORD(lParam), HIWORD(lParam)};
    ClientToScreen(mainWindow, &point);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, ID_MENU_QUIT, TextTable[TxtMenuQuit]);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, mainWindow, nullptr);
    DestroyMenu(menu);
}

static void onCommand(WORD id, WORD notificationCode)
{
    switch (id) {
    case ID_PORT_LIST: onPortListCommand(notificationCode); break;
    case ID_SEARCH: onSearchCommand(); break;
    case ID_READ: onReadCommand(); break;
    case ID_WRITE: onWriteCommand(); break;
    case ID_MENU_QUIT: SendMessageW(mainWindow, WM_CLOSE, 0, 0); break;
    case ID_MENU_LANG_RU: switchLanguage(UiLanguage::Russian); break;
    case ID_MENU_LANG_EN: switchLanguage(UiLanguage::English); break;
    case ID_MENU_HELP: openHelpFile(); break;
    case ID_MENU_ABOUT: showAboutBox(); break;
    case ID_OUT_HEX_DEC:
        EnableWindow(fmtHexRadio, TRUE);
        EnableWindow(fmtDecRadio, TRUE);
        break;
    case ID_OUT_TOUCH_MEMORY:
        EnableWindow(fmtHexRadio, FALSE);
        EnableWindow(fmtDecRadio, FALSE);
        break;
    default: setLampForRadio(id); break;
    }
}

static void onTimer(UINT_PTR timerId)
{
    switch (timerId) {
    case static_cast<UINT_PTR>(TimerId::Search):
    case static_cast<UINT_PTR>(TimerId::Read):
    case static_cast<UINT_PTR>(TimerId::Write):
        onProgressTimer(timerId);
        break;
    case static_cast<UINT_PTR>(TimerId::DeviceChange):
        onDeviceChangeTimer();
        break;
    }
}

static void onDestroy()
{
    KillTimer(mainWindow, static_cast<UINT_PTR>(TimerId::Search));
    KillTimer(mainWindow, static_cast<UINT_PTR>(TimerId::Read));
    KillTimer(mainWindow, static_cast<UINT_PTR>(TimerId::Write));
    KillTimer(mainWindow, static_cast<UINT_PTR>(TimerId::DeviceChange));
    resetLink();
    PostQuitMessage(0);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        onDestroy();
        break;
    case WM_PAINT:
        // Each pass paints within its own BeginPaint: the lamp area is made
        // invalid again between them so the second pass always gets it.
        eraseOtherPageLamps();
        invalidateLamps();
        paintLamps();
        break;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR *>(lParam)->code == TCN_SELCHANGE)
            switchTab();
        break;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        break;
    case WM_TIMER:
        onTimer(LOWORD(wParam));
        break;
    case WM_RBUTTONUP:
        showContextMenu(lParam);
        break;
    case WM_DEVICECHANGE:
        onDeviceChange(wParam);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static void registerMainWindowClass(HINSTANCE instance)
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN_WINDOW));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = MainWindowClass;
    // A Unicode class, so the window keeps its Russian title on any code page.
    registered = RegisterClassW(&windowClass) != 0;
}

HWND createMainWindow(HINSTANCE instance)
{
    registerMainWindowClass(instance);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    mainWindow = CreateWindowExW(0, MainWindowClass, TextTable[TxtWindowTitle], WS_SYSMENU | WS_MINIMIZEBOX,
                                 screenWidth / 2 - MainWindowCentreOffsetX,
                                 screenHeight / 2 - MainWindowCentreOffsetY, MainWindowWidth, MainWindowHeight,
                                 nullptr, nullptr, instance, nullptr);
    if (mainWindow != nullptr)
        createControls();
    return mainWindow;
}
