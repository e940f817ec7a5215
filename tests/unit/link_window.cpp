#include "tests/unit/link_window.h"

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "ui/lamps.h"
#include "ui/messages.h"
#include "ui/panel.h"

namespace {

// Everything that was invalid when a WM_PAINT came, since the last forget.
HRGN paintedRegion;

void notePaint(HWND window)
{
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    if (GetUpdateRgn(window, update, FALSE) != NULLREGION)
        CombineRgn(paintedRegion, paintedRegion, update, RGN_OR);
    DeleteObject(update);
}

WNDPROC programWindowProc;

// In front of the program's own procedure: notes what a paint was asked to
// cover, and keeps the timers' ticks away, since the tests give the ticks
// themselves.
LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT && paintedRegion != nullptr)
        notePaint(window);
    if (message == WM_TIMER)
        return 0;
    return CallWindowProcW(programWindowProc, window, message, wParam, lParam);
}

}  // namespace

void createTestMainWindow(ReaderType type)
{
    if (paintedRegion == nullptr)
        paintedRegion = CreateRectRgn(0, 0, 0, 0);

    uiLanguage = UiLanguage::English;
    readerType = type;
    selectTextTable();
    if (createMainWindow(GetModuleHandleW(nullptr)) == nullptr)
        return;
    programWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(testWindowProc)));
    // Left of the screen's edge with its lamp column: a message box that
    // closes over the window can then never expose the lamp area, and only
    // the code under test can make it invalid.
    SetWindowPos(mainWindow, nullptr, -390, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(mainWindow, SW_SHOWNOACTIVATE);
    UpdateWindow(mainWindow);
    pumpMessages();
}

void destroyTestMainWindow()
{
    for (UINT_PTR id = 1; id <= 4; id++)
        KillTimer(mainWindow, id);
    if (progressPopup != nullptr) {
        DestroyWindow(progressPopup);
        progressPopup = nullptr;
    }
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    pumpMessages();
}

void pumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT)
            DispatchMessageW(&message);
}

void forgetLampRepaints()
{
    pumpMessages();
    ValidateRect(mainWindow, nullptr);
    SetRectRgn(paintedRegion, 0, 0, 0, 0);
}

LampRepaint lampRepaint()
{
    HRGN asked = CreateRectRgn(0, 0, 0, 0);
    CombineRgn(asked, paintedRegion, nullptr, RGN_COPY);
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    if (GetUpdateRgn(mainWindow, update, FALSE) != NULLREGION)
        CombineRgn(asked, asked, update, RGN_OR);

    HRGN lamps = CreateRectRgnIndirect(&lampArea);
    HRGN covered = CreateRectRgn(0, 0, 0, 0);
    HRGN missing = CreateRectRgn(0, 0, 0, 0);
    int coveredKind = CombineRgn(covered, lamps, asked, RGN_AND);
    int missingKind = CombineRgn(missing, lamps, asked, RGN_DIFF);
    LampRepaint result = coveredKind == NULLREGION ? LampRepaint::None
                         : missingKind == NULLREGION ? LampRepaint::Whole
                                                     : LampRepaint::Part;
    DeleteObject(missing);
    DeleteObject(covered);
    DeleteObject(lamps);
    DeleteObject(update);
    DeleteObject(asked);
    return result;
}

bool isRadioChecked(int id)
{
    return SendDlgItemMessageW(mainWindow, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool isControlEnabled(int id)
{
    return IsWindowEnabled(GetDlgItem(mainWindow, id)) != FALSE;
}
