// Commands on the main window and its controls.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include "commands.h"
#include "json.h"
#include "target.h"

static const wchar_t MainWindowClass[] = L"my Window";

// Polls cond every 10 ms until it holds or timeoutMs passed.
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

static BOOL CALLBACK childHasNothingToPaint(HWND child, LPARAM clean)
{
    if (!GetUpdateRect(child, nullptr, FALSE))
        return TRUE;
    *(bool *)clean = false;
    return FALSE;
}

// True when neither the window nor any of its children waits for a paint.
static bool nothingToPaint(HWND window)
{
    if (GetUpdateRect(window, nullptr, FALSE))
        return false;
    bool clean = true;
    EnumChildWindows(window, childHasNothingToPaint, (LPARAM)&clean);
    return clean;
}

// Shown is not painted: on a loaded machine the first paint can come well
// after the window is visible, and pixels read before it are the screen's.
// Once no update region is left, a message sent through the program's queue
// returns only after the paint that validated the last one has ended.
static bool waitPainted(HWND window, long long timeoutMs)
{
    if (!waitFor(timeoutMs, [&] { return nothingToPaint(window); }))
        return false;
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &ignored) != 0;
}

static bool controlArg(const Words &w, size_t index, HWND &control, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    if (index >= w.size()) {
        reply = "missing control id";
        return false;
    }
    control = target::control(w[index]);
    if (!control) {
        reply = "no control " + w[index];
        return false;
    }
    return true;
}

// Whether the main window takes input. Commands that post input read it
// before posting: read afterwards, it may already show what the input did
// (a box the click opened disables the window).
static bool windowEnabled()
{
    return IsWindowEnabled(target::mainWindow) != FALSE;
}

static void appendWindowState(std::string &out, bool enabled)
{
    json::member(out, "window_enabled", enabled);
}

bool cmdAttach(const Words &w, const std::string &rest, std::string &reply)
{
    long long timeout;
    if (!optIntArg(w, 1, 5000, timeout, reply))
        return false;
    std::wstring exe;
    if (w.size() >= 3) {
        size_t at = rest.find(w[1]) + w[1].size();
        size_t start = rest.find_first_not_of(" \t", at);
        if (start != std::string::npos)
            exe = json::wide(rest.substr(start));
    }
    HWND found = nullptr;
    bool shown = waitFor(timeout, [&] {
        found = FindWindowW(MainWindowClass, nullptr);
        return found && IsWindowVisible(found);
    });
    if (!found) {
        reply = "no main window";
        return false;
    }
    if (!shown) {
        reply = "main window not shown";
        return false;
    }
    if (!target::attach(found, exe)) {
        reply = "cannot attach";
        return false;
    }
    if (!waitPainted(found, timeout)) {
        reply = "main window not painted";
        return false;
    }
    reply = "{";
    json::memberHandle(reply, "hwnd", target::mainWindow);
    json::member(reply, "pid", target::processId);
    json::member(reply, "exe", target::exePath);
    reply += "}";
    return true;
}

bool cmdTitle(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    std::wstring title;
    if (!target::windowText(target::mainWindow, title)) {
        reply = "no answer";
        return false;
    }
    reply.clear();
    json::str(reply, title);
    return true;
}

bool cmdWininfo(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    HWND main = target::mainWindow;
    std::wstring title;
    target::windowText(main, title);
    RECT outer, client;
    GetWindowRect(main, &outer);
    GetClientRect(main, &client);
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    DWORD style = (DWORD)GetWindowLongPtrW(main, GWL_STYLE);
    DWORD exstyle = (DWORD)GetWindowLongPtrW(main, GWL_EXSTYLE);
    reply = "{";
    json::memberHandle(reply, "hwnd", main);
    json::member(reply, "title", title);
    json::member(reply, "class", target::className(main));
    json::memberRect(reply, "rect", outer);
    json::key(reply, "client_origin");
    reply += "[" + std::to_string(origin.x) + "," + std::to_string(origin.y) + "]";
    json::key(reply, "client_size");
    reply += "[" + std::to_string(client.right) + "," + std::to_string(client.bottom) + "]";
    json::memberHex(reply, "style", style);
    json::memberHex(reply, "exstyle", exstyle);
    json::member(reply, "enabled", IsWindowEnabled(main) != FALSE);
    json::member(reply, "visible", IsWindowVisible(main) != FALSE);
    json::member(reply, "iconic", IsIconic(main) != FALSE);
    json::member(reply, "topmost", (exstyle & WS_EX_TOPMOST) != 0);
    json::member(reply, "foreground", GetForegroundWindow() == main);
    json::member(reply, "has_menu", GetMenu(main) != nullptr);
    json::memberHandle(reply, "owner", GetWindow(main, GW_OWNER));
    json::member(reply, "pid", target::processId);
    reply += "}";
    return true;
}

bool cmdControls(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    reply = "[";
    int index = 0;
    for (HWND child : target::children(target::mainWindow)) {
        std::wstring cls = target::className(child);
        std::wstring text;
        target::windowText(child, text);
        DWORD style = (DWORD)GetWindowLongPtrW(child, GWL_STYLE);
        json::next(reply);
        reply += "{";
        json::member(reply, "index", index++);
        json::memberHandle(reply, "hwnd", child);
        json::member(reply, "class", cls);
        json::member(reply, "id", (long long)GetDlgCtrlID(child));
        json::memberHex(reply, "style", style);
        json::memberHex(reply, "exstyle", (DWORD)GetWindowLongPtrW(child, GWL_EXSTYLE));
        json::memberRect(reply, "rect", target::rectIn(child, target::mainWindow));
        json::member(reply, "visible", IsWindowVisible(child) != FALSE);
        json::member(reply, "enabled", IsWindowEnabled(child) != FALSE);
        json::member(reply, "text", text);
        if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
            LRESULT check = 0;
            json::key(reply, "check");
            if (target::query(child, BM_GETCHECK, 0, 0, &check))
                json::num(reply, check);
            else
                json::null(reply);
        }
        reply += "}";
    }
    reply += "]";
    return true;
}

bool cmdText(const Words &w, const std::string &, std::string &reply)
{
    HWND control;
    if (!controlArg(w, 1, control, reply))
        return false;
    std::wstring text;
    if (!target::windowText(control, text)) {
        reply = "no answer";
        return false;
    }
    reply.clear();
    json::str(reply, text);
    return true;
}

bool cmdCheck(const Words &w, const std::string &, std::string &reply)
{
    HWND control;
    if (!controlArg(w, 1, control, reply))
        return false;
    LRESULT check = 0;
    if (!target::query(control, BM_GETCHECK, 0, 0, &check)) {
        reply = "no answer";
        return false;
    }
    reply = std::to_string(check);
    return true;
}

bool cmdEnabled(const Words &w, const std::string &, std::string &reply)
{
    HWND control;
    if (!controlArg(w, 1, control, reply))
        return false;
    reply = IsWindowEnabled(control) ? "true" : "false";
    return true;
}

bool cmdVisible(const Words &w, const std::string &, std::string &reply)
{
    HWND control;
    if (!controlArg(w, 1, control, reply))
        return false;
    reply = IsWindowVisible(control) ? "true" : "false";
    return true;
}

// Posted, never sent: a click may open a modal box. A posted BM_CLICK acts
// even on a disabled control, so the reply says what a user would have met.
bool cmdClick(const Words &w, const std::string &, std::string &reply)
{
    HWND control;
    if (!controlArg(w, 1, control, reply))
        return false;
    bool controlEnabled = IsWindowEnabled(control) != FALSE;
    bool visible = IsWindowVisible(control) != FALSE;
    bool enabled = windowEnabled();
    if (!PostMessageW(control, BM_CLICK, 0, 0)) {
        reply = "post failed";
        return false;
    }
    reply = "{";
    json::member(reply, "control_enabled", controlEnabled);
    json::member(reply, "visible", visible);
    appendWindowState(reply, enabled);
    reply += "}";
    return true;
}

bool cmdCommand(const Words &w, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    long long id, code;
    if (!intArg(w, 1, id, reply) || !optIntArg(w, 2, 0, code, reply))
        return false;
    bool enabled = windowEnabled();
    if (!PostMessageW(target::mainWindow, WM_COMMAND, MAKEWPARAM((WORD)id, (WORD)code), 0)) {
        reply = "post failed";
        return false;
    }
    reply = "{";
    appendWindowState(reply, enabled);
    reply += "}";
    return true;
}

enum class ComboRead { Done, NoAnswer, Changed };

// The entries, one message each: the program may refill the list between two
// of them, and an entry that is gone reads as CB_ERR.
static ComboRead comboItems(HWND combo, std::string &out)
{
    out.clear();
    LRESULT count = 0;
    if (!target::query(combo, CB_GETCOUNT, 0, 0, &count))
        return ComboRead::NoAnswer;
    if (count < 0)
        return ComboRead::Changed;
    out += "[";
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!target::query(combo, CB_GETLBTEXTLEN, i, 0, &length))
            return ComboRead::NoAnswer;
        if (length < 0)
            return ComboRead::Changed;
        // Room to spare: an entry replaced in between may be longer.
        std::wstring item((size_t)length + 1024, L'\0');
        LRESULT copied = 0;
        if (!target::query(combo, CB_GETLBTEXT, i, (LPARAM)&item[0], &copied))
            return ComboRead::NoAnswer;
        if (copied < 0 || (size_t)copied != (size_t)length)
            return ComboRead::Changed;
        item.resize((size_t)copied);
        json::next(out);
        json::str(out, item);
    }
    out += "]";
    return ComboRead::Done;
}

bool cmdCombo(const Words &w, const std::string &, std::string &reply)
{
    HWND combo;
    if (!controlArg(w, 1, combo, reply))
        return false;
    std::string items;
    ComboRead read = ComboRead::Changed;
    for (int attempt = 0; attempt < 20 && read == ComboRead::Changed; attempt++) {
        if (attempt > 0)
            Sleep(10);
        read = comboItems(combo, items);
    }
    LRESULT selection = 0;
    if (read == ComboRead::NoAnswer || !target::query(combo, CB_GETCURSEL, 0, 0, &selection)) {
        reply = "no answer";
        return false;
    }
    if (read == ComboRead::Changed) {
        reply = "the list kept changing";
        return false;
    }
    reply = "{";
    json::key(reply, "items");
    reply += items;
    json::member(reply, "sel", (long long)selection);
    json::member(reply, "enabled", IsWindowEnabled(combo) != FALSE);
    json::member(reply, "visible", IsWindowVisible(combo) != FALSE);
    reply += "}";
    return true;
}

// What a user's choice in the drop-down list amounts to: the selection
// moves, then the parent hears CBN_SELCHANGE.
bool cmdPick(const Words &w, const std::string &, std::string &reply)
{
    HWND combo;
    long long index;
    if (!controlArg(w, 1, combo, reply) || !intArg(w, 2, index, reply))
        return false;
    bool controlEnabled = IsWindowEnabled(combo) != FALSE;
    LRESULT result = 0;
    if (!target::query(combo, CB_SETCURSEL, (WPARAM)index, 0, &result)) {
        reply = "no answer";
        return false;
    }
    if (result == CB_ERR && index != -1) {
        reply = "no entry " + std::to_string(index);
        return false;
    }
    int id = GetDlgCtrlID(combo);
    bool enabled = windowEnabled();
    if (!PostMessageW(target::mainWindow, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)combo)) {
        reply = "post failed";
        return false;
    }
    reply = "{";
    json::member(reply, "sel", (long long)result);
    json::member(reply, "control_enabled", controlEnabled);
    appendWindowState(reply, enabled);
    reply += "}";
    return true;
}

static HWND tabControl(std::string &reply)
{
    if (!needAttached(reply))
        return nullptr;
    HWND tab = target::childOfClass(target::mainWindow, WC_TABCONTROLW);
    if (!tab)
        reply = "no tab control";
    return tab;
}

// TCM_GETITEMRECT writes through a pointer, so the RECT lives in the
// program's own address space.
static bool tabItemRect(HWND tab, int index, RECT &r)
{
    void *remote = target::remoteAlloc(sizeof(RECT));
    if (!remote)
        return false;
    LRESULT result = 0;
    bool ok = target::query(tab, TCM_GETITEMRECT, index, (LPARAM)remote, &result) && result &&
              target::remoteRead(remote, &r, sizeof r);
    target::remoteFree(remote);
    return ok;
}

static bool tabItemText(HWND tab, int index, std::wstring &text)
{
    const size_t chars = 256;
    char *remote = (char *)target::remoteAlloc(sizeof(TCITEMW) + chars * sizeof(wchar_t));
    if (!remote)
        return false;
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = (wchar_t *)(remote + sizeof(TCITEMW));
    item.cchTextMax = (int)chars;
    wchar_t buffer[chars] = {};
    LRESULT result = 0;
    bool ok = target::remoteWrite(remote, &item, sizeof item) &&
              target::remoteWrite(remote + sizeof(TCITEMW), buffer, sizeof buffer) &&
              target::query(tab, TCM_GETITEMW, index, (LPARAM)remote, &result) && result &&
              target::remoteRead(remote + sizeof(TCITEMW), buffer, sizeof buffer);
    target::remoteFree(remote);
    if (ok) {
        buffer[chars - 1] = 0;
        text = buffer;
    }
    return ok;
}

// Real mouse input at a screen point: it reaches whatever window is there,
// and nothing if that window is disabled, as for a user.
static bool realClick(POINT screen)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT &input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (LONG)(((long long)screen.x * 65535 + (width - 1) / 2) / (width - 1));
        input.mi.dy = (LONG)(((long long)screen.y * 65535 + (height - 1) / 2) / (height - 1));
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE;
    }
    inputs[0].mi.dwFlags |= MOUSEEVENTF_MOVE;
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    if (SendInput(1, &inputs[0], sizeof(INPUT)) != 1)
        return false;
    Sleep(20);
    if (SendInput(1, &inputs[1], sizeof(INPUT)) != 1)
        return false;
    Sleep(20);
    return SendInput(1, &inputs[2], sizeof(INPUT)) == 1;
}

bool cmdTab(const Words &w, const std::string &, std::string &reply)
{
    HWND tab = tabControl(reply);
    long long index;
    if (!tab || !intArg(w, 1, index, reply))
        return false;
    bool input = w.size() > 2 && w[2] == "input";
    RECT r;
    if (!tabItemRect(tab, (int)index, r)) {
        reply = "no tab " + std::to_string(index);
        return false;
    }
    LRESULT before = -1;
    target::query(tab, TCM_GETCURSEL, 0, 0, &before);
    bool windowEnabled = IsWindowEnabled(target::mainWindow) != FALSE;
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    bool sent;
    if (input) {
        POINT screen = centre;
        ClientToScreen(tab, &screen);
        sent = realClick(screen);
    } else {
        LPARAM at = MAKELPARAM(centre.x, centre.y);
        sent = PostMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at) && PostMessageW(tab, WM_LBUTTONUP, 0, at);
    }
    if (!sent) {
        reply = "input failed";
        return false;
    }
    // The selection moves as the click is handled; wait for it (briefly:
    // a disabled window may rightly ignore a real click).
    LRESULT after = before;
    waitFor(input ? 300 : 1000, [&] {
        return target::query(tab, TCM_GETCURSEL, 0, 0, &after) && after == index;
    });
    reply = "{";
    json::memberRect(reply, "item_rect", r);
    json::key(reply, "point");
    reply += "[" + std::to_string(centre.x) + "," + std::to_string(centre.y) + "]";
    json::member(reply, "before", (long long)before);
    json::member(reply, "sel", (long long)after);
    json::member(reply, "window_enabled", windowEnabled);
    reply += "}";
    return true;
}

bool cmdTabsel(const Words &, const std::string &, std::string &reply)
{
    HWND tab = tabControl(reply);
    LRESULT selection = 0;
    if (!tab)
        return false;
    if (!target::query(tab, TCM_GETCURSEL, 0, 0, &selection)) {
        reply = "no answer";
        return false;
    }
    reply = std::to_string(selection);
    return true;
}

bool cmdTabs(const Words &, const std::string &, std::string &reply)
{
    HWND tab = tabControl(reply);
    LRESULT count = 0, selection = -1;
    if (!tab)
        return false;
    if (!target::query(tab, TCM_GETITEMCOUNT, 0, 0, &count) ||
        !target::query(tab, TCM_GETCURSEL, 0, 0, &selection)) {
        reply = "no answer";
        return false;
    }
    reply = "{";
    json::member(reply, "sel", (long long)selection);
    json::key(reply, "items");
    reply += "[";
    for (int i = 0; i < (int)count; ++i) {
        std::wstring text;
        RECT r = {};
        bool haveText = tabItemText(tab, i, text);
        bool haveRect = tabItemRect(tab, i, r);
        json::next(reply);
        reply += "{";
        json::key(reply, "text");
        if (haveText)
            json::str(reply, text);
        else
            json::null(reply);
        json::key(reply, "rect");
        if (haveRect)
            json::rect(reply, r);
        else
            json::null(reply);
        reply += "}";
    }
    reply += "]}";
    return true;
}

bool cmdDevchange(const Words &w, const std::string &, std::string &reply)
{
    long long code, param;
    if (!needAttached(reply) || !intArg(w, 1, code, reply) || !optIntArg(w, 2, 0, param, reply))
        return false;
    // Codes with bit 0x8000 carry a pointer in lParam: Windows refuses to
    // post those, and so does Wine.
    bool enabled = windowEnabled();
    if (!PostMessageW(target::mainWindow, WM_DEVICECHANGE, (WPARAM)code, (LPARAM)param)) {
        DWORD error = GetLastError();
        reply = "post failed: " + std::to_string(error);
        return false;
    }
    reply = "{";
    appendWindowState(reply, enabled);
    reply += "}";
    return true;
}

// Right button released over the client area: the program opens its
// shortcut menu (a modal loop), so both halves are posted.
bool cmdRclick(const Words &w, const std::string &, std::string &reply)
{
    long long x, y;
    if (!needAttached(reply) || !intArg(w, 1, x, reply) || !intArg(w, 2, y, reply))
        return false;
    LPARAM at = MAKELPARAM((WORD)x, (WORD)y);
    // The cursor goes there too: a menu opens where the mouse is.
    POINT screen = {(LONG)x, (LONG)y};
    ClientToScreen(target::mainWindow, &screen);
    SetCursorPos(screen.x, screen.y);
    bool enabled = windowEnabled();
    if (!PostMessageW(target::mainWindow, WM_RBUTTONDOWN, MK_RBUTTON, at) ||
        !PostMessageW(target::mainWindow, WM_RBUTTONUP, 0, at)) {
        reply = "post failed";
        return false;
    }
    reply = "{";
    appendWindowState(reply, enabled);
    reply += "}";
    return true;
}

bool cmdLclick(const Words &w, const std::string &, std::string &reply)
{
    long long x, y;
    if (!needAttached(reply) || !intArg(w, 1, x, reply) || !intArg(w, 2, y, reply))
        return false;
    POINT screen = {(LONG)x, (LONG)y};
    ClientToScreen(target::mainWindow, &screen);
    bool windowEnabled = IsWindowEnabled(target::mainWindow) != FALSE;
    if (!realClick(screen)) {
        reply = "input failed";
        return false;
    }
    reply = "{";
    json::key(reply, "screen");
    reply += "[" + std::to_string(screen.x) + "," + std::to_string(screen.y) + "]";
    json::member(reply, "window_enabled", windowEnabled);
    reply += "}";
    return true;
}

bool cmdMinimize(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    ShowWindowAsync(target::mainWindow, SW_MINIMIZE);
    if (!waitFor(3000, [] { return IsIconic(target::mainWindow) != FALSE; })) {
        reply = "not minimised";
        return false;
    }
    reply = "null";
    return true;
}

bool cmdRestore(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    ShowWindowAsync(target::mainWindow, SW_RESTORE);
    if (!waitFor(3000, [] { return !IsIconic(target::mainWindow); })) {
        reply = "still minimised";
        return false;
    }
    reply = "null";
    return true;
}

bool cmdClose(const Words &, const std::string &, std::string &reply)
{
    if (!needAttached(reply))
        return false;
    if (!PostMessageW(target::mainWindow, WM_CLOSE, 0, 0)) {
        reply = "post failed";
        return false;
    }
    reply = "null";
    return true;
}

bool cmdWaitgone(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!optIntArg(w, 1, 5000, timeout, reply))
        return false;
    if (!target::mainWindow) {
        reply = "not attached";
        return false;
    }
    if (!waitFor(timeout, [] { return !IsWindow(target::mainWindow); })) {
        reply = "main window still there";
        return false;
    }
    reply = "null";
    return true;
}

bool cmdWaitexit(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!optIntArg(w, 1, 5000, timeout, reply))
        return false;
    if (!target::process) {
        reply = "no process";
        return false;
    }
    if (WaitForSingleObject(target::process, (DWORD)timeout) != WAIT_OBJECT_0) {
        reply = "still running";
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(target::process, &code);
    reply = std::to_string(code);
    return true;
}

bool cmdPid(const Words &, const std::string &, std::string &reply)
{
    if (!target::mainWindow) {
        reply = "not attached";
        return false;
    }
    reply = "{";
    json::member(reply, "pid", target::processId);
    json::memberHandle(reply, "hwnd", target::mainWindow);
    json::member(reply, "exe", target::exePath);
    json::member(reply, "window_alive", IsWindow(target::mainWindow) != FALSE);
    reply += "}";
    return true;
}

// Processes by .exe name (all without a name), for making sure none is left.
bool cmdProcs(const Words &w, const std::string &, std::string &reply)
{
    std::wstring name = w.size() > 1 ? json::wide(w[1]) : std::wstring();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        reply = "no process list";
        return false;
    }
    reply = "[";
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const wchar_t *base = entry.szExeFile;
        for (const wchar_t *p = entry.szExeFile; *p; ++p)
            if (*p == L'\\' || *p == L'/')
                base = p + 1;
        if (!name.empty() && lstrcmpiW(base, name.c_str()) != 0)
            continue;
        json::next(reply);
        reply += "{";
        json::member(reply, "pid", entry.th32ProcessID);
        json::member(reply, "exe", std::wstring(base));
        reply += "}";
    }
    CloseHandle(snapshot);
    reply += "]";
    return true;
}

bool cmdKill(const Words &w, const std::string &, std::string &reply)
{
    long long pid, code;
    if (!intArg(w, 1, pid, reply) || !optIntArg(w, 2, 1, code, reply))
        return false;
    HANDLE victim = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, (DWORD)pid);
    if (!victim) {
        reply = "cannot open process " + std::to_string(pid);
        return false;
    }
    bool ended = TerminateProcess(victim, (UINT)code) && WaitForSingleObject(victim, 5000) == WAIT_OBJECT_0;
    CloseHandle(victim);
    if (!ended) {
        reply = "process not ended";
        return false;
    }
    reply = "null";
    return true;
}

// A top-level window by its exact title, as the program's own guard looks
// for a running copy.
bool cmdFind(const Words &, const std::string &rest, std::string &reply)
{
    std::wstring title = json::wide(rest);
    HWND found = FindWindowW(nullptr, title.c_str());
    if (!found) {
        reply = "null";
        return true;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(found, &pid);
    reply = "{";
    json::memberHandle(reply, "hwnd", found);
    json::member(reply, "class", target::className(found));
    json::member(reply, "pid", pid);
    reply += "}";
    return true;
}
