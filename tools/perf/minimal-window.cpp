// The benchmark's reference program: the least a Win32 program does to show
// one window and wait for input. tools/bench-perf compares Velmora's start-up,
// memory, handles and idle CPU time with this program's.
#include <windows.h>

static const wchar_t ReferenceClass[] = L"velmora perf minimal";

static LRESULT CALLBACK referenceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = referenceWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = ReferenceClass;
    RegisterClassW(&windowClass);

    // Velmora's outer size, so both paint the same area on first show.
    HWND window = CreateWindowExW(0, ReferenceClass, L"Minimal window", WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 395, 670, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
