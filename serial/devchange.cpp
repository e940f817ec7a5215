// Recovery after the device tree changed: reopen or give up the open port,
// or look for a reader that has just appeared.
#include "serial/devchange.h"

#include <dbt.h>

#include <cstring>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/link.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "ui/messages.h"
#include "ui/panel.h"

bool deviceChangePending = false;

namespace {

// Time for a port that only blinked to come back before it is reopened.
constexpr DWORD ReopenPauseMs = 1000;

constexpr size_t MessageCapacity = 512;

constexpr UINT_PTR DeviceChangeTimer = static_cast<UINT_PTR>(TimerId::DeviceChange);

void widenPortName(const char *name, wchar_t *wide)
{
    int i = 0;
    for (; i < PortNameCapacity - 1 && name[i] != '\0'; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    wide[i] = L'\0';
}

void showError(const wchar_t *text)
{
    showMessage(mainWindow, text, TextTable[TxtMessageCaption], 0, MsgIcon::Error);
}

// The open port came back: use it again, or tell the user and go idle.
void reopenPort()
{
    if (SerialChannel::open(linkState.currentPort, ReaderBaudRate))
        return;
    wchar_t port[PortNameCapacity];
    widenPortName(linkState.currentPort, port);
    wchar_t text[MessageCapacity];
    formatText(text, MessageCapacity, L"%ls [%ls]!", TextTable[TxtErrorOpening], port);
    showError(text);
    resetLink();
}

void reportPortGone()
{
    if (readerType == ReaderType::Lnx) {
        wchar_t port[PortNameCapacity];
        widenPortName(linkState.currentPort, port);
        wchar_t text[MessageCapacity];
        formatText(text, MessageCapacity, L"%ls\n\r(%ls %ls)", TextTable[TxtConnectionBroken], port,
                   TextTable[TxtDisabled]);
        showError(text);
    } else {
        showError(TextTable[TxtUsbDisconnected]);
    }
    // The channel is already closed; this clears the link and drops the
    // vanished port from the list.
    resetLink();
}

struct ListSnapshot {
    int count;
    char first[PortNameCapacity];
};

ListSnapshot takeSnapshot()
{
    ListSnapshot snapshot;
    snapshot.count = static_cast<int>(SendMessageW(portList, CB_GETCOUNT, 0, 0));
    if (!getPortListText(portList, 0, snapshot.first, PortNameCapacity))
        snapshot.first[0] = '\0';
    return snapshot;
}

void startSearch()
{
    startProgress(TimerId::Search, SearchPeriodMs);
}

// A new port, or the first port after none (the list held only the empty
// entry, so its count stays 1): worth a search.
void lookForNewPort()
{
    ListSnapshot before = takeSnapshot();
    refreshPortList();
    ListSnapshot after = takeSnapshot();
    if (before.count < after.count || (before.first[0] == '\0' && std::strcmp(after.first, before.first) != 0))
        startSearch();
}

void lookForUsbReader()
{
    refreshPortList();
    if (findTarvikUsbPort(linkState.currentPort))
        startSearch();
}

}  // namespace

void onDeviceChange(WPARAM eventCode)
{
    if (eventCode != DBT_DEVNODES_CHANGED)
        return;
    // The timer armed by the first change of a burst is not restarted.
    if (deviceChangePending)
        return;
    deviceChangePending = SetTimer(mainWindow, DeviceChangeTimer, DeviceChangeSettleMs, nullptr) != 0;
}

void onDeviceChangeTimer()
{
    // First of all: a box below runs a message loop, and the next change
    // must arm a fresh timer rather than see this one tick again.
    KillTimer(mainWindow, DeviceChangeTimer);
    deviceChangePending = false;

    if (linkState.portOpen) {
        // portOpen stays set: either the reopen carries on, or resetLink
        // clears it (its close then finds nothing left to close).
        SerialChannel::close();
        Sleep(ReopenPauseMs);
        if (isPortPresent(linkState.currentPort))
            reopenPort();
        else
            reportPortGone();
        return;
    }

    if (readerType == ReaderType::Lnx)
        lookForNewPort();
    else
        lookForUsbReader();
}
