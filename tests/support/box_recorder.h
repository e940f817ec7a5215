// Records every message box the code under test opens on this thread and
// presses OK on it, so no test ever waits for a person.
#ifndef VELMORA_TESTS_BOX_RECORDER_H
#define VELMORA_TESTS_BOX_RECORDER_H

#include <windows.h>

#include <string>
#include <vector>

struct RecordedBox {
    std::wstring caption;
    std::wstring text;
    int picture;      // 3..7: the program's icon of that id; -1 the stock error
                      // icon; 0 none or unknown
    HWND owner;
    int buttonCount;  // push buttons in the box
};

// While one of these exists, boxes are recorded and dismissed with OK.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    const std::vector<RecordedBox> &boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_;
    std::vector<RecordedBox> boxes_;
};

// Narrow ASCII to wide, for comparing texts built from port names.
std::wstring widen(const char *text);

#endif
