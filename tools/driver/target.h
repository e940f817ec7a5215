// The program under test as the driver sees it: its main window, its process,
// and the ways to ask its windows questions without ever blocking on a modal
// box (every query is a SendMessageTimeout; every action that may open a box
// is posted).
#ifndef VELMORA_DRIVER_TARGET_H
#define VELMORA_DRIVER_TARGET_H

#include <windows.h>

#include <string>
#include <vector>

namespace target {

// Set by attach; mainWindow is null until then.
extern HWND mainWindow;
extern DWORD processId;
extern HANDLE process;          // VM and query rights, for remote buffers and the exit code
extern std::wstring exePath;    // the program's .exe, for its icons

// How long a query may take before the program counts as hung.
constexpr UINT QueryTimeoutMs = 3000;

bool attach(HWND window, const std::wstring &exeOverride);
void detach();

// SendMessageTimeoutW; false when the window did not answer in time.
bool query(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

// WM_GETTEXT (wide) through query.
bool windowText(HWND window, std::wstring &text);
std::wstring className(HWND window);

// Child windows of the main window in GW_CHILD / GW_HWNDNEXT order.
std::vector<HWND> children(HWND parent);

// A control by id ("13") or by child index ("#4"); null if none.
HWND control(const std::string &selector);
HWND childOfClass(HWND parent, const wchar_t *cls);

// Rectangle of a window in client coordinates of another.
RECT rectIn(HWND window, HWND reference);

// Top-level windows of the program's process with the given class,
// visible ones only, in z order (topmost first).
std::vector<HWND> topLevelWindows(const wchar_t *cls);

// Buffers in the program's address space for messages whose pointers
// cannot cross processes (tab items).
void *remoteAlloc(size_t size);
void remoteFree(void *address);
bool remoteWrite(void *address, const void *data, size_t size);
bool remoteRead(const void *address, void *data, size_t size);

// Milliseconds since the driver started.
DWORD now();
void pause(DWORD ms);

}

#endif
