// Stand-ins for the window, the panel and the boxes, linked only into the
// device-change test (see serial.cmake) beside the real serial sources and
// reader link. Each keeps the contract of the real one that the link relies
// on, and records its calls.
#include "tests/unit/serial_standins.h"

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/panel_settings.h"
#include "ui/panel.h"

HWND mainWindow;
HWND portList;
HWND versionValue;
HWND progressPopup;
int progressTicks;
UiLanguage uiLanguage;
ReaderType readerType;
const wchar_t *TextTable[TextCount];

std::vector<ShownMessage> shownMessages;
std::vector<StartedProgress> startedProgress;

void clearStandinRecords()
{
    shownMessages.clear();
    startedProgress.clear();
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

// No popup is ever shown here: no wait is running.
bool isProgressRunning(TimerId)
{
    return false;
}

bool endProgress()
{
    return false;
}

// The recovery never reads or writes settings; the link's transactions
// that would are not run by these tests.
void showLnxSettings(const LnxSettings &) {}
void showUsbSettings(const UsbSettings &) {}
void showFirmwareVersion(const char (&)[FirmwareVersionLength]) {}
LnxSettings collectLnxSettings()
{
    return LnxSettings{};
}
UsbSettings collectUsbSettings()
{
    return UsbSettings{};
}
