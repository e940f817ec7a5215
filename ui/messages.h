// Message boxes with the program's own pictures, and the progress popup
// that runs in front of every timed wait.
#ifndef VELMORA_UI_MESSAGES_H
#define VELMORA_UI_MESSAGES_H

#include <windows.h>
#include "res/resource_ids.h"

enum class MsgIcon : int {
    Success = IDI_MSG_SUCCESS,
    Warning = IDI_MSG_WARNING,
    Error = IDI_MSG_ERROR,
    Hint = IDI_MSG_HINT,
    Retry = IDI_MSG_RETRY,
};

// Window timers of mainWindow, all without a callback.
enum class TimerId : UINT_PTR {
    Search = 1,        // 10 ms, 100 ticks, then the search runs
    Read = 2,          // 500 ms, 2 ticks, then the reply is read
    Write = 3,         // 500 ms, 2 ticks, then the reply is read
    DeviceChange = 4,  // 2000 ms one-shot after a device-tree change
};

// The popup shown now; written by startProgress, stepped and destroyed by
// the tick handling of the reader transactions.
extern HWND progressPopup;

// Modal box with one OK button (flags 0) and the given picture.
int showMessage(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags, MsgIcon icon);

// Shows the progress popup for timers Search, Read and Write, disables
// mainWindow and starts the timer. Any other id does nothing. A popup still
// shown from an earlier call is destroyed first, so only one is ever shown.
void startProgress(TimerId timerId, UINT periodMs);

// Bounded formatting for every composed message; the result is always
// terminated, and cut short rather than overflowing. Wide texts go in with
// %ls (never %s, whose meaning differs between runtimes); a narrow port
// name is converted to wide first and also passed with %ls, never used as
// the format itself.
void formatText(wchar_t *buffer, size_t capacity, const wchar_t *format, ...);

#endif
