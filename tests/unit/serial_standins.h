// Stand-ins for what the serial link calls in the rest of the program (the
// window, the panel, the texts, the message boxes and the reader link), so
// the serial tests link the serial sources alone. The stand-ins record what
// they were asked to do.
#ifndef VELMORA_TESTS_SERIAL_STANDINS_H
#define VELMORA_TESTS_SERIAL_STANDINS_H

#include <windows.h>

#include <string>
#include <vector>

#include "ui/messages.h"

struct ShownMessage {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
    MsgIcon icon;
};

struct StartedProgress {
    TimerId timerId;
    UINT periodMs;
};

struct ResetCall {
    bool portOpen;     // linkState.portOpen when resetLink was called
    bool channelOpen;  // whether the channel still held a handle then
};

extern std::vector<ShownMessage> shownMessages;
extern std::vector<StartedProgress> startedProgress;
extern std::vector<ResetCall> resetCalls;

void clearStandinRecords();

#endif
