// Message boxes with the program's own pictures, and the progress popup of
// the timed waits.
#include "ui/messages.h"

#include <commctrl.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"

HWND progressPopup;
int progressTicks;

namespace {

// The timer of the wait in progress; 0 when none is.
UINT_PTR runningWait;

// The user's default language: it sets the language of the OK button.
constexpr DWORD BoxLanguage = 0x0400;

// Centred on the screen by its top-left corner offset, not by its size.
constexpr int PopupHalfWidth = 148;
constexpr int PopupHalfHeight = 25;
constexpr int PopupWidth = 291;
constexpr int PopupHeight = 50;
// Neither child nor popup: the bar is its own top-level window with a
// caption for the title and no system menu, hence no close box.
constexpr DWORD PopupStyle = WS_VISIBLE | PBS_SMOOTH;  // 0x10000001

struct ProgressKind {
    TimerId timer;
    TextId lnxTitle;
    TextId usbTitle;
    int ticks;  // the bar's maximum: one step per tick
};

const ProgressKind ProgressKinds[] = {
    {TimerId::Search, TxtProgressSearchLnx, TxtProgressSearchUsb, SearchTicks},
    {TimerId::Read, TxtProgressReadLnx, TxtProgressReadUsb, ReplyWaitTicks},
    {TimerId::Write, TxtProgressWriteLnx, TxtProgressWriteUsb, ReplyWaitTicks},
};

const ProgressKind *findProgressKind(TimerId timerId)
{
    for (const ProgressKind &kind : ProgressKinds)
        if (kind.timer == timerId)
            return &kind;
    return nullptr;
}

// The tab classes are all the panel registers; the bar needs its own.
void registerProgressClass()
{
    static bool registered = false;
    if (registered)
        return;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    registered = InitCommonControlsEx(&classes) != FALSE;
}

bool isProgressPopup(HWND window)
{
    wchar_t className[32];
    return window != nullptr && IsWindow(window) && GetClassNameW(window, className, 32) > 0 &&
           lstrcmpiW(className, PROGRESS_CLASSW) == 0;
}

}  // namespace

int showMessage(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags, MsgIcon icon)
{
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.hInstance = GetModuleHandleW(nullptr);
    params.lpszText = text;
    params.lpszCaption = caption;
    params.dwStyle = flags | MB_USERICON;
    params.lpszIcon = MAKEINTRESOURCEW(static_cast<WORD>(static_cast<int>(icon) & 0xFFFF));
    params.dwContextHelpId = 0;
    params.lpfnMsgBoxCallback = nullptr;
    params.dwLanguageId = BoxLanguage;
    return MessageBoxIndirectW(&params);
}

void startProgress(TimerId timerId, UINT periodMs)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const ProgressKind *kind = findProgressKind(timerId);
    if (kind == nullptr)
        return;
    const wchar_t *title = TextTable[readerType == ReaderType::Usb ? kind->usbTitle : kind->lnxTitle];

    registerProgressClass();
    // One wait at a time: the one in progress ends here, timer and popup,
    // so its tick cannot run its work on what the new one is doing.
    endProgress();
    progressPopup = CreateWindowExW(0, PROGRESS_CLASSW, title, PopupStyle, screenWidth / 2 - PopupHalfWidth,
                                    screenHeight / 2 - PopupHalfHeight, PopupWidth, PopupHeight, mainWindow,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(progressPopup, PBM_SETRANGE, 0, MAKELPARAM(0, kind->ticks));
    SendMessageW(progressPopup, PBM_SETSTEP, 1, 0);
    SendMessageW(progressPopup, PBM_SETPOS, 0, 0);

    EnableWindow(mainWindow, FALSE);
    SetTimer(mainWindow, static_cast<UINT_PTR>(timerId), periodMs, nullptr);
    runningWait = static_cast<UINT_PTR>(timerId);
}

bool isProgressRunning(TimerId timerId)
{
    return runningWait != 0 && runningWait == static_cast<UINT_PTR>(timerId);
}

bool endProgress()
{
    bool wasRunning = runningWait != 0;
    if (wasRunning)
        KillTimer(mainWindow, runningWait);
    runningWait = 0;
    // Also a popup left without its timer would otherwise stay on the
    // screen for good, its handle lost.
    if (isProgressPopup(progressPopup))
        DestroyWindow(progressPopup);
    progressPopup = nullptr;
    progressTicks = 0;
    return wasRunning;
}
