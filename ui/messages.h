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
    Search = 1,        // SearchTicks of SearchPeriodMs, then the search runs
    Read = 2,          // ReplyWaitTicks of ReplyWaitPeriodMs, then the reply is read
    Write = 3,         // the same as Read
    DeviceChange = 4,  // one tick of DeviceChangeSettleMs after a device-tree change
};

// A search waits a second behind its popup, in steps small enough to fill
// the bar smoothly; a read or write gives the reader about a second to
// answer before its reply is read.
constexpr UINT SearchPeriodMs = 10;
constexpr int SearchTicks = 100;
constexpr UINT ReplyWaitPeriodMs = 500;
constexpr int ReplyWaitTicks = 2;
// A burst of device-tree changes settles within this; the recovery runs
// once after it.
constexpr UINT DeviceChangeSettleMs = 2000;

// The popup shown now; written by startProgress, stepped by the tick
// handling of the reader transactions, destroyed by endProgress.
extern HWND progressPopup;

// Ticks of the wait in progress, counted by the tick handling of the reader
// transactions; back to 0 whenever a wait starts or ends.
extern int progressTicks;

// Modal box with one OK button (flags 0) and the given picture.
int showMessage(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags, MsgIcon icon);

// Shows the progress popup for timers Search, Read and Write, disables
// mainWindow and starts the timer. Any other id does nothing. A wait still
// in progress is ended first, so only one ever runs.
void startProgress(TimerId timerId, UINT periodMs);

// Whether the wait in progress is the one of this timer.
bool isProgressRunning(TimerId timerId);

// Ends the wait in progress: kills its timer, destroys its popup and clears
// the tick count. The main window is left as it is. False when no wait was
// in progress.
bool endProgress();

#endif
