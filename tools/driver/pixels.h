// Pixels as the user sees them: read from the screen, so a window covering
// the main window shows in the result, exactly as in a screenshot.
#ifndef VELMORA_DRIVER_PIXELS_H
#define VELMORA_DRIVER_PIXELS_H

#include <windows.h>

#include <string>
#include <vector>

namespace pixels {

// The pixels of a screen rectangle as COLORREF values (0x00BBGGRR), row by row.
bool grab(const RECT &screenRect, std::vector<COLORREF> &out);

struct PictureMatch {
    std::string name;   // "3".."7", "stock-error", "stock-warning", "stock-info",
                        // "stock-question", "none"
    int diff;           // largest channel difference of the best candidate, 0..255
    int runnerUp;       // the same for the second best (shows how sure the match is)
    std::string runnerUpName;
};

// Which picture an icon static of a message box shows: each candidate is
// drawn over the box's own background and compared with the screen.
bool identifyPicture(HWND iconStatic, const std::wstring &exePath, PictureMatch &match);

}

#endif
