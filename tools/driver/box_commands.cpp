// Message boxes, the About dialog, the progress popup and popup menus of
// the program: all top-level windows of its process.
#include <windows.h>
#include <commctrl.h>

#include <map>

#include "commands.h"
#include "json.h"
#include "pixels.h"
#include "target.h"

// Controls of a message box as Wine (and Windows) build it.
constexpr int BoxTextId = 0xFFFF;
constexpr int BoxIconId = 1088;
// A picture read too soon after the box appears may not be painted yet.
constexpr DWORD PictureSettleMs = 100;

template <typename Cond>
static bool waitFor(long long timeoutMs, Cond cond)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (cond())
            return true;
        if ((long long)(GetTickCount() - start) >= timeoutMs)
            return cond();
        Sleep(10);
    }
}

static bool isMessageBox(HWND box)
{
    return GetDlgItem(box, BoxTextId) && GetDlgItem(box, BoxIconId);
}

// When the driver first saw each box, so pictures are read only once painted.
static std::map<HWND, DWORD> firstSeen;

static std::vector<HWND> dialogs(bool boxesOnly)
{
    std::vector<HWND> all = target::topLevelWindows(L"#32770");
    std::map<HWND, DWORD> seen;
    std::vector<HWND> chosen;
    for (HWND window : all) {
        auto known = firstSeen.find(window);
        seen[window] = known != firstSeen.end() ? known->second : GetTickCount();
        if (!boxesOnly || isMessageBox(window))
            chosen.push_back(window);
    }
    firstSeen.swap(seen);
    return chosen;
}

static void settle(const std::vector<HWND> &boxes)
{
    DWORD latest = 0;
    bool any = false;
    for (HWND box : boxes) {
        DWORD age = GetTickCount() - firstSeen[box];
        if (age < PictureSettleMs && (!any || PictureSettleMs - age > latest)) {
            latest = PictureSettleMs - age;
            any = true;
        }
    }
    if (any)
        Sleep(latest);
}

static void appendOwner(std::string &out, HWND window)
{
    HWND owner = GetWindow(window, GW_OWNER);
    json::member(out, "owner_is_main", owner != nullptr && owner == target::mainWindow);
    json::memberHandle(out, "owner", owner);
}

static void appendButtons(std::string &out, HWND box)
{
    json::key(out, "buttons");
    out += "[";
    for (HWND child : target::children(box)) {
        if (lstrcmpiW(target::className(child).c_str(), L"Button") != 0 || !IsWindowVisible(child))
            continue;
        DWORD type = (DWORD)GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)
            continue;
        std::wstring text;
        target::windowText(child, text);
        json::next(out);
        out += "{";
        json::member(out, "id", (long long)GetDlgCtrlID(child));
        json::member(out, "text", text);
        out += "}";
    }
    out += "]";
}

static void appendBox(std::string &out, HWND box)
{
    std::wstring caption, text;
    target::windowText(box, caption);
    bool message = isMessageBox(box);
    RECT r;
    GetWindowRect(box, &r);
    out += "{";
    json::memberHandle(out, "hwnd", box);
    json::member(out, "kind", message ? "msgbox" : "dialog");
    json::member(out, "caption", caption);
    json::key(out, "text");
    if (message && target::windowText(GetDlgItem(box, BoxTextId), text))
        json::str(out, text);
    else
        json::null(out);
    appendOwner(out, box);
    json::member(out, "enabled", IsWindowEnabled(box) != FALSE);
    json::memberRect(out, "rect", r);
    appendButtons(out, box);
    if (message) {
        pixels::PictureMatch match;
        json::key(out, "picture");
        if (pixels::identifyPicture(GetDlgItem(box, BoxIconId), target::exePath, match)) {
            if (match.name.size() == 1 && match.name[0] >= '3' && match.name[0] <= '7')
                json::num(out, match.name[0] - '0');
            else
                json::str(out, match.name);
            json::member(out, "picture_diff", match.diff);
            json::member(out, "picture_runner_up", match.runnerUpName);
            json::member(out, "picture_runner_up_diff", match.runnerUp);
        } else {
            json::null(out);
        }
    }
    out += "}";
}

static void appendBoxList(std::string &out, const std::vector<HWND> &boxes)
{
    settle(boxes);
    out = "[";
    for (HWND box : boxes) {
        if (!IsWindow(box))
            continue;
        json::next(out);
        appendBox(out, box);
    }
    out += "]";
}

bool cmdBoxes(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    appendBoxList(reply, dialogs(false));
    return true;
}

bool cmdWaitbox(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!needAttached(reply) || !optIntArg(w, 1, 5000, timeout, reply))
        return false;
    if (!waitFor(timeout, [] { return !dialogs(true).empty(); })) {
        reply = "no message box";
        return false;
    }
    appendBoxList(reply, dialogs(false));
    return true;
}

// Presses a button of a box by its command (the box's index in the boxes
// list, topmost first) and waits until that very box is gone.
static bool pressBox(const Words &w, WORD command, std::string &reply)
{
    long long index;
    if (!needAttached(reply) || !optIntArg(w, 1, 0, index, reply))
        return false;
    std::vector<HWND> boxes = dialogs(false);
    if (boxes.empty()) {
        reply = "no box";
        return false;
    }
    if (index < 0 || (size_t)index >= boxes.size()) {
        reply = "no box " + std::to_string(index);
        return false;
    }
    HWND box = boxes[index];
    std::wstring caption;
    target::windowText(box, caption);
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0)) {
        reply = "post failed";
        return false;
    }
    if (!waitFor(5000, [box] { return !IsWindow(box) || !IsWindowVisible(box); })) {
        reply = "box still shown";
        return false;
    }
    reply = "{";
    json::memberHandle(reply, "hwnd", box);
    json::member(reply, "caption", caption);
    reply += "}";
    return true;
}

bool cmdOk(const Words &w, const std::string &, std::string &reply)
{
    return pressBox(w, IDOK, reply);
}

bool cmdCancel(const Words &w, const std::string &, std::string &reply)
{
    return pressBox(w, IDCANCEL, reply);
}

// Dialog base units of a font as dialogs compute them: average width of
// the letters, and the font's height.
static SIZE baseUnits(const std::wstring &face, int points)
{
    SIZE units = {0, 0};
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
    HGDIOBJ previous = SelectObject(dc, font);
    static const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent = {};
    TEXTMETRICW metrics = {};
    GetTextExtentPoint32W(dc, letters, 52, &extent);
    GetTextMetricsW(dc, &metrics);
    units.cx = (extent.cx / 26 + 1) / 2;
    units.cy = metrics.tmHeight;
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return units;
}

// The dialog unit that maps to a pixel value (pixels = units * base / 4 or 8).
static long toUnits(long pixels, long base, long divisor)
{
    if (base <= 0)
        return 0;
    long guess = pixels * divisor / base;
    for (long d = guess - 2; d <= guess + 2; ++d)
        if (MulDiv(d, base, divisor) == pixels)
            return d;
    return guess;
}

static void appendUnits(std::string &out, const char *name, const RECT &r, SIZE units)
{
    RECT d = {toUnits(r.left, units.cx, 4), toUnits(r.top, units.cy, 8),
              toUnits(r.right - r.left, units.cx, 4), toUnits(r.bottom - r.top, units.cy, 8)};
    json::key(out, name);
    out += "[" + std::to_string(d.left) + "," + std::to_string(d.top) + "," + std::to_string(d.right) + "," +
           std::to_string(d.bottom) + "]";
}

static bool describeDialog(std::string &reply, const Words &w)
{
    std::vector<HWND> boxes = dialogs(false);
    HWND dialog = nullptr;
    for (HWND box : boxes)
        if (!isMessageBox(box)) {
            dialog = box;
            break;
        }
    if (!dialog) {
        reply = "null";
        return true;
    }
    // The units need the dialog's font, which cannot be asked across
    // processes: the caller names it (default the About box's).
    std::wstring face = w.size() > 1 ? json::wide(w[1]) : L"Arial";
    int points = w.size() > 2 ? atoi(w[2].c_str()) : 8;
    SIZE units = baseUnits(face, points);
    std::wstring caption;
    target::windowText(dialog, caption);
    RECT outer, client;
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    reply = "{";
    json::memberHandle(reply, "hwnd", dialog);
    json::member(reply, "caption", caption);
    json::memberHex(reply, "style", (DWORD)GetWindowLongPtrW(dialog, GWL_STYLE));
    json::memberHex(reply, "exstyle", (DWORD)GetWindowLongPtrW(dialog, GWL_EXSTYLE));
    appendOwner(reply, dialog);
    json::memberRect(reply, "rect", outer);
    json::key(reply, "base_units");
    reply += "[" + std::to_string(units.cx) + "," + std::to_string(units.cy) + "]";
    appendUnits(reply, "client_dlu", client, units);
    json::key(reply, "controls");
    reply += "[";
    for (HWND child : target::children(dialog)) {
        std::wstring text;
        target::windowText(child, text);
        RECT r = target::rectIn(child, dialog);
        json::next(reply);
        reply += "{";
        json::member(reply, "class", target::className(child));
        json::member(reply, "id", (long long)GetDlgCtrlID(child));
        json::memberHex(reply, "style", (DWORD)GetWindowLongPtrW(child, GWL_STYLE));
        json::memberRect(reply, "rect", r);
        appendUnits(reply, "dlu", r, units);
        json::member(reply, "visible", IsWindowVisible(child) != FALSE);
        json::member(reply, "text", text);
        reply += "}";
    }
    reply += "]}";
    return true;
}

bool cmdDialog(const Words &w, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    return describeDialog(reply, w);
}

bool cmdWaitdialog(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!needAttached(reply) || !intArg(w, 1, timeout, reply))
        return false;
    bool shown = waitFor(timeout, [] {
        for (HWND box : dialogs(false))
            if (!isMessageBox(box))
                return true;
        return false;
    });
    if (!shown) {
        reply = "no dialog";
        return false;
    }
    Words rest(w.begin() + 1, w.end());
    return describeDialog(reply, rest);
}

static void appendPopup(std::string &out, HWND popup)
{
    std::wstring title;
    target::windowText(popup, title);
    RECT r;
    GetWindowRect(popup, &r);
    DWORD style = (DWORD)GetWindowLongPtrW(popup, GWL_STYLE);
    LRESULT low = 0, high = 0, position = 0;
    bool range = target::query(popup, PBM_GETRANGE, TRUE, 0, &low) &&
                 target::query(popup, PBM_GETRANGE, FALSE, 0, &high);
    bool havePosition = target::query(popup, PBM_GETPOS, 0, 0, &position);
    out += "{";
    json::memberHandle(out, "hwnd", popup);
    json::member(out, "title", title);
    json::memberRect(out, "rect", r);
    json::memberHex(out, "style", style);
    json::memberHex(out, "exstyle", (DWORD)GetWindowLongPtrW(popup, GWL_EXSTYLE));
    appendOwner(out, popup);
    json::key(out, "range");
    if (range)
        out += "[" + std::to_string(low) + "," + std::to_string(high) + "]";
    else
        json::null(out);
    json::key(out, "pos");
    if (havePosition)
        json::num(out, position);
    else
        json::null(out);
    json::member(out, "has_close_box", (style & WS_SYSMENU) != 0);
    json::member(out, "visible", IsWindowVisible(popup) != FALSE);
    out += "}";
}

bool cmdPopup(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    std::vector<HWND> popups = target::topLevelWindows(PROGRESS_CLASSW);
    reply.clear();
    if (popups.empty())
        reply = "null";
    else
        appendPopup(reply, popups.front());
    return true;
}

bool cmdPopups(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    reply = "[";
    for (HWND popup : target::topLevelWindows(PROGRESS_CLASSW)) {
        json::next(reply);
        appendPopup(reply, popup);
    }
    reply += "]";
    return true;
}

static HWND openMenu()
{
    std::vector<HWND> menus = target::topLevelWindows(L"#32768");
    return menus.empty() ? nullptr : menus.front();
}

bool cmdMenu(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!needAttached(reply) || !optIntArg(w, 1, 0, timeout, reply))
        return false;
    HWND menu = nullptr;
    waitFor(timeout, [&menu] { return (menu = openMenu()) != nullptr; });
    if (!menu) {
        reply = "null";
        return true;
    }
    RECT r;
    GetWindowRect(menu, &r);
    POINT origin = {0, 0};
    ClientToScreen(target::mainWindow, &origin);
    reply = "{";
    json::memberHandle(reply, "hwnd", menu);
    json::memberRect(reply, "rect", r);
    json::key(reply, "client_pos");
    reply += "[" + std::to_string(r.left - origin.x) + "," + std::to_string(r.top - origin.y) + "]";
    reply += "}";
    return true;
}

// The popup menu's modal loop takes keys from its thread's queue whatever
// window they were posted to: Down moves to the item, Return chooses it.
static bool postKey(HWND window, UINT key)
{
    return PostMessageW(window, WM_KEYDOWN, key, 1) && PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

bool cmdMenuchoose(const Words &w, const std::string &, std::string &reply)
{
    long long item;
    if (!needAttached(reply) || !optIntArg(w, 1, 1, item, reply))
        return false;
    HWND menu = nullptr;
    if (!waitFor(2000, [&menu] { return (menu = openMenu()) != nullptr; })) {
        reply = "no menu open";
        return false;
    }
    for (long long i = 0; i < item; ++i)
        if (!postKey(menu, VK_DOWN)) {
            reply = "post failed";
            return false;
        }
    if (!postKey(menu, VK_RETURN)) {
        reply = "post failed";
        return false;
    }
    if (!waitFor(3000, [menu] { return !IsWindow(menu) || !IsWindowVisible(menu); })) {
        reply = "menu still open";
        return false;
    }
    reply = "null";
    return true;
}

bool cmdMenuclose(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    HWND menu = openMenu();
    if (!menu) {
        reply = "no menu open";
        return false;
    }
    if (!postKey(menu, VK_ESCAPE)) {
        reply = "post failed";
        return false;
    }
    if (!waitFor(3000, [menu] { return !IsWindow(menu) || !IsWindowVisible(menu); })) {
        reply = "menu still open";
        return false;
    }
    reply = "null";
    return true;
}
