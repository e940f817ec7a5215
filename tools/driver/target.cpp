#include "target.h"

#include <cstdlib>

namespace target {

HWND mainWindow;
DWORD processId;
HANDLE process;
std::wstring exePath;

void detach()
{
    if (process)
        CloseHandle(process);
    process = nullptr;
    mainWindow = nullptr;
    processId = 0;
    exePath.clear();
}

bool attach(HWND window, const std::wstring &exeOverride)
{
    detach();
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(window, &pid))
        return false;
    mainWindow = window;
    processId = pid;
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                              PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE,
                          FALSE, pid);
    if (!exeOverride.empty()) {
        exePath = exeOverride;
    } else if (process) {
        wchar_t path[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        if (QueryFullProcessImageNameW(process, 0, path, &size))
            exePath.assign(path, size);
    }
    return true;
}

bool query(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result)
{
    DWORD_PTR answer = 0;
    if (!window)
        return false;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             QueryTimeoutMs, &answer))
        return false;
    if (result)
        *result = (LRESULT)answer;
    return true;
}

bool windowText(HWND window, std::wstring &text)
{
    text.clear();
    LRESULT length = 0;
    if (!query(window, WM_GETTEXTLENGTH, 0, 0, &length))
        return false;
    std::wstring buffer((size_t)length + 64, L'\0');
    LRESULT copied = 0;
    if (!query(window, WM_GETTEXT, buffer.size(), (LPARAM)&buffer[0], &copied))
        return false;
    if (copied < 0)
        copied = 0;
    if ((size_t)copied > buffer.size())
        copied = (LRESULT)buffer.size();
    text.assign(buffer.data(), (size_t)copied);
    return true;
}

std::wstring className(HWND window)
{
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> list;
    for (HWND child = GetWindow(parent, GW_CHILD); child && list.size() < 1000;
         child = GetWindow(child, GW_HWNDNEXT))
        list.push_back(child);
    return list;
}

HWND control(const std::string &selector)
{
    if (!mainWindow || selector.empty())
        return nullptr;
    char *end = nullptr;
    if (selector[0] == '#') {
        long index = std::strtol(selector.c_str() + 1, &end, 0);
        if (*end)
            return nullptr;
        std::vector<HWND> list = children(mainWindow);
        if (index < 0 || (size_t)index >= list.size())
            return nullptr;
        return list[index];
    }
    long id = std::strtol(selector.c_str(), &end, 0);
    if (*end)
        return nullptr;
    return GetDlgItem(mainWindow, (int)id);
}

HWND childOfClass(HWND parent, const wchar_t *cls)
{
    for (HWND child : children(parent))
        if (lstrcmpiW(className(child).c_str(), cls) == 0)
            return child;
    return nullptr;
}

RECT rectIn(HWND window, HWND reference)
{
    RECT r = {};
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, reference, (POINT *)&r, 2);
    return r;
}

struct TopLevelSearch {
    const wchar_t *cls;
    std::vector<HWND> *found;
};

static BOOL CALLBACK collectTopLevel(HWND window, LPARAM param)
{
    TopLevelSearch *search = (TopLevelSearch *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == processId && IsWindowVisible(window) &&
        lstrcmpiW(className(window).c_str(), search->cls) == 0)
        search->found->push_back(window);
    return TRUE;
}

std::vector<HWND> topLevelWindows(const wchar_t *cls)
{
    std::vector<HWND> found;
    if (!processId)
        return found;
    TopLevelSearch search = {cls, &found};
    EnumWindows(collectTopLevel, (LPARAM)&search);
    return found;
}

void *remoteAlloc(size_t size)
{
    if (!process)
        return nullptr;
    return VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void remoteFree(void *address)
{
    if (process && address)
        VirtualFreeEx(process, address, 0, MEM_RELEASE);
}

bool remoteWrite(void *address, const void *data, size_t size)
{
    SIZE_T done = 0;
    return process && WriteProcessMemory(process, address, data, size, &done) && done == size;
}

bool remoteRead(const void *address, void *data, size_t size)
{
    SIZE_T done = 0;
    return process && ReadProcessMemory(process, address, data, size, &done) && done == size;
}

DWORD now()
{
    static DWORD start = GetTickCount();
    return GetTickCount() - start;
}

void pause(DWORD ms)
{
    Sleep(ms);
}

}
