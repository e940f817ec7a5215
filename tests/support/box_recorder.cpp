#include "tests/support/box_recorder.h"

static BoxRecorder *active;

// The box's picture sits in a static of this id.
constexpr int BoxIconControl = 1088;
constexpr int BoxTextControl = 0xFFFF;

static int identifyPicture(HICON shown)
{
    if (shown == nullptr)
        return 0;
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (int id = 3; id <= 7; id++)
        if (LoadIconW(module, MAKEINTRESOURCEW(id)) == shown)
            return id;
    if (LoadIconW(nullptr, MAKEINTRESOURCEW(32513)) == shown)  // IDI_HAND
        return -1;
    return 0;
}

static BOOL CALLBACK countButton(HWND child, LPARAM count)
{
    wchar_t className[16];
    GetClassNameW(child, className, 16);
    // The box is not shown yet when it is recorded: look at the style.
    if (lstrcmpiW(className, L"Button") == 0 && (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE))
        ++*reinterpret_cast<int *>(count);
    return TRUE;
}

LRESULT CALLBACK BoxRecorder::hook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && active != nullptr) {
        HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16];
        GetClassNameW(box, className, 16);
        if (lstrcmpW(className, L"#32770") == 0 && GetDlgItem(box, BoxTextControl) != nullptr) {
            RecordedBox record;
            wchar_t buffer[1024];
            GetWindowTextW(box, buffer, 1024);
            record.caption = buffer;
            GetDlgItemTextW(box, BoxTextControl, buffer, 1024);
            record.text = buffer;
            record.picture = identifyPicture(reinterpret_cast<HICON>(
                SendDlgItemMessageW(box, BoxIconControl, STM_GETICON, 0, 0)));
            record.owner = GetWindow(box, GW_OWNER);
            record.buttonCount = 0;
            EnumChildWindows(box, countButton, reinterpret_cast<LPARAM>(&record.buttonCount));
            active->boxes_.push_back(record);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BoxRecorder::BoxRecorder()
{
    active = this;
    hook_ = SetWindowsHookExW(WH_CBT, hook, nullptr, GetCurrentThreadId());
}

BoxRecorder::~BoxRecorder()
{
    UnhookWindowsHookEx(hook_);
    active = nullptr;
}

std::wstring widen(const char *text)
{
    std::wstring wide;
    for (; *text != '\0'; text++)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}
