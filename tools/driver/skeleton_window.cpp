// skeleton-window: a small stand-in for the configurator, so the driver and
// the end-to-end harness can be tested on their own. It looks like the real
// main window from outside (class, title, style, a few controls with their
// real ids and positions, lamps, tabs, boxes with the real pictures, a
// progress popup, a shortcut menu, the About box) and reacts in simple,
// known ways:
//   port list CBN_SELCHANGE   the version value shows the chosen entry; the
//                             empty entry shows the no-ports warning box
//   SEARCH                    progress popup, 100 ticks of 10 ms with the
//                             window disabled, then a success box
//   READ                      one box per picture 3..7, then a stock error box
//   WRITE                     one warning box whose text has a "\n\r" break
//   WM_DEVICECHANGE           the version value shows "dev <code>"
//   tabs                      switch the page and its lamps
//   radios 3-5, 20, 21        set lamp 1
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "velmora_version.h"

static const wchar_t WindowTitle[] = L"Velmora ver." VELMORA_VERSION_LABEL;
static const wchar_t Caption[] = L"Message";

static HWND mainWindow;
static HWND portList, tabs, versionValue, popup;
static HWND lnxPage[4], usbPage[3];
static int page;            // 0 Lnx, 1 Usb
static int ticks;
static COLORREF lamp[5];

static const RECT LampArea = {330, 60, 380, 560};
static const RECT LampRects[2][5] = {
    {{345, 140, 365, 160}, {345, 230, 365, 250}, {345, 320, 365, 340}, {345, 410, 365, 430}, {345, 500, 365, 520}},
    {{345, 130, 365, 150}, {345, 210, 365, 230}, {345, 290, 365, 310}, {345, 390, 365, 410}, {345, 500, 365, 520}},
};

static HWND child(const wchar_t *cls, const wchar_t *text, DWORD style, int x, int y, int w, int h, int id)
{
    return CreateWindowExW(0, cls, text, WS_CHILD | style, x, y, w, h, mainWindow, (HMENU)(INT_PTR)id,
                           GetModuleHandleW(nullptr), nullptr);
}

static void box(const wchar_t *text, int icon)
{
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = mainWindow;
    params.hInstance = GetModuleHandleW(nullptr);
    params.lpszText = text;
    params.lpszCaption = Caption;
    params.dwStyle = MB_USERICON;
    params.lpszIcon = MAKEINTRESOURCEW(icon);
    params.dwLanguageId = 0x0400;
    MessageBoxIndirectW(&params);
}

static void fillPortList()
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256], data[256];
            DWORD nameSize = 256, dataSize = sizeof data, type = 0;
            if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, (BYTE *)data, &dataSize) != ERROR_SUCCESS)
                break;
            if (type == REG_SZ && dataSize >= sizeof(wchar_t)) {
                data[std::min<DWORD>(dataSize / sizeof(wchar_t), 255)] = 0;
                names.push_back(data);
            }
        }
        RegCloseKey(key);
    }
    std::sort(names.begin(), names.end());
    SendMessageW(portList, CB_RESETCONTENT, 0, 0);
    if (names.empty())
        SendMessageW(portList, CB_ADDSTRING, 0, (LPARAM)L"");
    for (const std::wstring &name : names)
        SendMessageW(portList, CB_ADDSTRING, 0, (LPARAM)name.c_str());
}

static void showPage(int which)
{
    page = which;
    for (HWND w : lnxPage)
        ShowWindow(w, which == 0 ? SW_SHOW : SW_HIDE);
    for (HWND w : usbPage)
        ShowWindow(w, which == 1 ? SW_SHOW : SW_HIDE);
    static const COLORREF defaults[2][5] = {{0x0000FF, 0x0000FF, 0xFF00FF, 0x0000FF, 0xFFFFFF},
                                            {0xFFFF00, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}};
    std::copy(defaults[which], defaults[which] + 5, lamp);
    CheckRadioButton(mainWindow, 3, 5, 3);
    CheckRadioButton(mainWindow, 20, 21, 20);
    InvalidateRect(mainWindow, &LampArea, FALSE);
}

static void createControls()
{
    HMENU bar = CreateMenu(), file = CreateMenu(), help = CreateMenu();
    AppendMenuW(file, MF_STRING, ID_MENU_QUIT, L"Quit");
    AppendMenuW(help, MF_STRING, ID_MENU_ABOUT, L"About...");
    AppendMenuW(bar, MF_POPUP, (UINT_PTR)file, L"File");
    AppendMenuW(bar, MF_POPUP, (UINT_PTR)help, L"Help");
    SetMenu(mainWindow, bar);

    portList = child(L"Combobox", L"", WS_VISIBLE | CBS_DROPDOWNLIST, 10, 10, 150, 200, ID_PORT_LIST);
    child(L"Button", L"SEARCH", WS_VISIBLE | BS_PUSHBUTTON, 180, 10, 140, 40, ID_SEARCH);
    child(L"Static", L"Version:", WS_VISIBLE | SS_LEFT, 10, 39, 60, 20, ID_VERSION_LABEL);
    versionValue = child(L"Static", L"x.xx", WS_VISIBLE | SS_LEFT, 70, 39, 40, 20, ID_VERSION_VALUE);
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    tabs = child(WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPSIBLINGS, 10, 60, 310, 500, 0);
    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.iImage = -1;
    item.pszText = (wchar_t *)L"Tarvik-LNA_B";
    SendMessageW(tabs, TCM_INSERTITEMW, 0, (LPARAM)&item);
    item.pszText = (wchar_t *)L"  Tarvik-USB   ";
    SendMessageW(tabs, TCM_INSERTITEMW, 1, (LPARAM)&item);
    lnxPage[0] = child(L"Button", L"Interfaces", WS_GROUP | BS_GROUPBOX, 20, 100, 290, 90, 0);
    lnxPage[1] = child(L"Button", L"Touch Memory", BS_AUTORADIOBUTTON, 30, 120, 120, 20, ID_IF_TOUCH_MEMORY);
    lnxPage[2] = child(L"Button", L"Wiegand 26", BS_AUTORADIOBUTTON, 30, 141, 120, 20, ID_IF_WIEGAND26);
    lnxPage[3] = child(L"Button", L"Wiegand 44", BS_AUTORADIOBUTTON, 30, 162, 120, 20, ID_IF_WIEGAND44);
    usbPage[0] = child(L"Button", L"Operating mode", WS_GROUP | BS_GROUPBOX, 20, 100, 290, 70, 0);
    usbPage[1] = child(L"Button", L"WINDOWS", BS_AUTORADIOBUTTON, 30, 120, 95, 20, ID_MODE_WINDOWS);
    usbPage[2] = child(L"Button", L"Windows, Linux, MacOS", BS_AUTORADIOBUTTON, 30, 141, 180, 20, ID_MODE_ALL_OS);
    showPage(0);
    child(L"Button", L"READ", WS_VISIBLE | WS_GROUP | BS_PUSHBUTTON, 10, 570, 140, 40, ID_READ);
    child(L"Button", L"WRITE", WS_VISIBLE | BS_PUSHBUTTON, 180, 570, 140, 40, ID_WRITE);
    child(L"Button", L"Indicator", WS_VISIBLE | WS_GROUP | BS_GROUPBOX, 330, 60, 50, 500, 0);
    fillPortList();
}

static void startSearch()
{
    int left = GetSystemMetrics(SM_CXSCREEN) / 2 - 148;
    int top = GetSystemMetrics(SM_CYSCREEN) / 2 - 25;
    popup = CreateWindowExW(0, PROGRESS_CLASSW, L"Search for Tarvik-LNA_LNB reader", WS_VISIBLE | PBS_SMOOTH,
                            left, top, 291, 50, mainWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(popup, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(popup, PBM_SETSTEP, 1, 0);
    SendMessageW(popup, PBM_SETPOS, 0, 0);
    EnableWindow(mainWindow, FALSE);
    ticks = 0;
    SetTimer(mainWindow, 1, 10, nullptr);
}

static void onTick()
{
    SendMessageW(popup, PBM_STEPIT, 0, 0);
    if (++ticks < 100)
        return;
    KillTimer(mainWindow, 1);
    DestroyWindow(popup);
    popup = nullptr;
    fillPortList();
    box(L"Search finished", IDI_MSG_SUCCESS);
    EnableWindow(mainWindow, TRUE);
}

static void onPortChosen()
{
    wchar_t text[64] = {};
    LRESULT index = SendMessageW(portList, CB_GETCURSEL, 0, 0);
    if (index >= 0 && SendMessageW(portList, CB_GETLBTEXTLEN, index, 0) < 63)
        SendMessageW(portList, CB_GETLBTEXT, index, (LPARAM)text);
    if (!text[0]) {
        box(L"No COM ports found in the system!", IDI_MSG_WARNING);
        return;
    }
    SetWindowTextW(versionValue, text);
}

static void showAllPictures()
{
    static const wchar_t *texts[] = {L"Picture 3", L"Picture 4", L"Picture 5", L"Picture 6", L"Picture 7"};
    for (int icon = IDI_MSG_SUCCESS; icon <= IDI_MSG_RETRY; ++icon)
        box(texts[icon - IDI_MSG_SUCCESS], icon);
    MessageBoxW(mainWindow, L"Stock error", Caption, MB_ICONERROR);
}

static void paintLamps()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(mainWindow, &ps);
    HPEN erasePen = CreatePen(PS_SOLID, 2, GetSysColor(COLOR_BTNFACE));
    HGDIOBJ oldPen = SelectObject(dc, erasePen);
    HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(COLOR_BTNFACE));
    for (const RECT &r : LampRects[1 - page])
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
    HPEN pen = CreatePen(PS_SOLID, 2, 0);
    SelectObject(dc, pen);
    for (int i = 0; i < 5; ++i) {
        HBRUSH brush = CreateSolidBrush(lamp[i]);
        SelectObject(dc, brush);
        const RECT &r = LampRects[page][i];
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    DeleteObject(erasePen);
    EndPaint(mainWindow, &ps);
}

static INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, LOWORD(wParam));
    return message == WM_COMMAND;
}

static void onCommand(int id, int code)
{
    static const COLORREF lamp1[] = {0x0000FF, 0x00FF00, 0xFFFF00};
    switch (id) {
    case ID_PORT_LIST:
        if (code == CBN_SELCHANGE)
            onPortChosen();
        break;
    case ID_SEARCH: startSearch(); break;
    case ID_READ: showAllPictures(); break;
    case ID_WRITE: box(L"Line one\n\rLine two", IDI_MSG_WARNING); break;
    case ID_IF_TOUCH_MEMORY:
    case ID_IF_WIEGAND26:
    case ID_IF_WIEGAND44:
        lamp[0] = lamp1[id - ID_IF_TOUCH_MEMORY];
        InvalidateRect(mainWindow, &LampArea, FALSE);
        break;
    case ID_MODE_WINDOWS:
    case ID_MODE_ALL_OS:
        lamp[0] = id == ID_MODE_WINDOWS ? 0xFFFF00 : 0xFF00FF;
        InvalidateRect(mainWindow, &LampArea, FALSE);
        break;
    case ID_MENU_QUIT: SendMessageW(mainWindow, WM_CLOSE, 0, 0); break;
    case ID_MENU_ABOUT:
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT_EN), mainWindow, aboutProc, 0);
        break;
    }
}

static void shortcutMenu(LPARAM at)
{
    POINT p = {LOWORD(at), HIWORD(at)};
    ClientToScreen(mainWindow, &p);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, ID_MENU_QUIT, L"Quit");
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, p.x, p.y, 0, mainWindow, nullptr);
    DestroyMenu(menu);
}

static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: PostQuitMessage(0); break;
    case WM_PAINT: paintLamps(); return 0;
    case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam)); break;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->code == TCN_SELCHANGE)
            showPage((int)SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == 1 ? 1 : 0);
        break;
    case WM_TIMER:
        if (wParam == 1)
            onTick();
        break;
    case WM_RBUTTONUP: shortcutMenu(lParam); break;
    case WM_DEVICECHANGE: {
        std::wstring text = L"dev " + std::to_wstring(wParam);
        SetWindowTextW(versionValue, text.c_str());
        break;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    HWND running = FindWindowW(nullptr, WindowTitle);
    if (running) {
        if (IsIconic(running))
            ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
        return 0;
    }
    WNDCLASSW cls = {};
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = windowProc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN_WINDOW));
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    cls.lpszClassName = L"my Window";
    RegisterClassW(&cls);
    int left = GetSystemMetrics(SM_CXSCREEN) / 2 - 197;
    int top = GetSystemMetrics(SM_CYSCREEN) / 2 - 335;
    mainWindow = CreateWindowExW(0, L"my Window", WindowTitle, WS_SYSMENU | WS_MINIMIZEBOX, left, top, 395, 670,
                                 nullptr, nullptr, instance, nullptr);
    createControls();
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    SetWindowPos(mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
