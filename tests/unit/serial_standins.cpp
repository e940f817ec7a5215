// Stand-ins for the rest of the program, linked only into the device-change
// test (see serial.cmake). Each keeps the contract of the real one that the
// serial link relies on, and records its calls.
#include "tests/unit/serial_standins.h"

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/link.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "ui/panel.h"

HWND mainWindow;
HWND portList;
UiLanguage uiLanguage;
ReaderType readerType;
const wchar_t *TextTable[TextCount];
LinkState linkState;

std::vector<ShownMessage> shownMessages;
std::vector<StartedProgress> startedProgress;
std::vector<ResetCall> resetCalls;

void clearStandinRecords()
{
    shownMessages.clear();
    startedProgress.clear();
    resetCalls.clear();
}

void selectTextTable()
{
    const wchar_t *const *texts = uiLanguage == UiLanguage::English ? EnglishTexts : RussianTexts;
    for (int id = 0; id < TextCount; id++)
        TextTable[id] = texts[id];
}


int showMessage(HWND owner, const wchar_t *text, const wchar_t *caption, UINT flags, MsgIcon icon)
{
    shownMessages.push_back({owner, text, caption, flags, icon});
    return IDOK;
}

void startProgress(TimerId timerId, UINT periodMs)
{
    startedProgress.push_back({timerId, periodMs});
}

// As the reader link does it: close an open port, refill the list, clear
// the flags.
void resetLink()
{
    resetCalls.push_back({linkState.portOpen, SerialChannel::isOpen()});
    if (linkState.portOpen) {
        linkState.portOpen = false;
        SerialChannel::close();
    }
    refreshPortList();
    linkState.portChosen = false;
    linkState.probing = false;
    linkState.firmwareSupported = false;
}
