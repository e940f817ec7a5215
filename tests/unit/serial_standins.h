// Stand-ins for what the serial link and the reader link call in the rest
// of the program (the window, the panel, the texts, the message boxes and
// the progress popup), so the device-change test links the serial sources
// and the real reader link alone. The stand-ins record what they were asked
// to do.
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

extern std::vector<ShownMessage> shownMessages;
extern std::vector<StartedProgress> startedProgress;

void clearStandinRecords();

#endif
