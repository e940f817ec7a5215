// Reader transactions: the search, the read and the write over the one
// serial channel, paced by the progress timers, and the link state they keep.
#include "protocol/win32/link.h"

#include <commctrl.h>

#include <cstring>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/settings_table.h"
#include "protocol/win32/panel_settings.h"
#include "serial/channel.h"
#include "serial/portnumber.h"
#include "ui/messages.h"
#include "ui/panel.h"

LinkState linkState;

namespace {

// Time a Lnx reader needs to answer before its reply is read during a search.
constexpr DWORD ProbeReplyDelayMs = 65;

constexpr wchar_t IdleVersionText[] = L"x.xx";

// A write the user asked for, held until a read reply has proved that the
// reader on the port is one this program may write to: any device can sit
// behind a port, and a reader can be swapped behind an open one without the
// system noticing.
struct HeldWrite {
    bool armed;
    WriteCommand command;  // the panel's choices at the click
};

// The read wait in progress identifies the reader for this write.
HeldWrite writeAfterRead;
// WRITE with no port open: written once the search has found the reader.
HeldWrite writeAfterSearch;
// The search runs for a write: the user's choices stay on the panel.
bool keepPanel;

// Every command goes out on an empty receive queue, so that its reply cannot
// be confused with the tail of an earlier one or with bytes sent unasked.
bool sendCommand(const unsigned char *bytes, int length)
{
    SerialChannel::discardInput();
    return SerialChannel::write(bytes, length);
}

// A command whose reply is awaited behind the popup of `wait`; a port that
// takes no bytes ends the link.
void sendAndAwait(const unsigned char *bytes, int length, TimerId wait)
{
    if (sendCommand(bytes, length))
        startProgress(wait, ReplyWaitPeriodMs);
    else
        resetLink();
}

void tell(TextId text, MsgIcon icon)
{
    showMessage(mainWindow, TextTable[text], TextTable[TxtMessageCaption], 0, icon);
}

// A message made of one text and the current port's name; the name is only
// ever an argument, never part of the format.
void tellWithPort(const wchar_t *format, TextId text, MsgIcon icon)
{
    wchar_t port[PortNameCapacity];
    int i = 0;
    for (; i < PortNameCapacity - 1 && linkState.currentPort[i] != '\0'; i++)
        port[i] = static_cast<wchar_t>(static_cast<unsigned char>(linkState.currentPort[i]));
    port[i] = L'\0';

    wchar_t message[512];
    formatText(message, sizeof message / sizeof message[0], format, TextTable[text], port);
    showMessage(mainWindow, message, TextTable[TxtMessageCaption], 0, icon);
}

void tellPortFound(TextId text)
{
    tellWithPort(L"%ls\n\r->[%ls]", text, MsgIcon::Success);
}

void tellOpenFailed()
{
    tellWithPort(L"%ls [%ls]!", TxtErrorOpening, MsgIcon::Error);
}

// A reader that stopped making sense on a port the user relies on: the user is
// told and may pick a port again.
void offerPortsAgain()
{
    tell(TxtNoReply, MsgIcon::Retry);
    EnableWindow(portList, TRUE);
}

// Takes entry `index` of the list as the port to use. False, with
// currentPort untouched, when there is no such entry: the list may have
// shrunk since its size was read.
bool takePortListEntry(HWND list, int index)
{
    char name[PortNameCapacity];
    if (!getPortListText(list, index, name, PortNameCapacity))
        return false;
    std::memcpy(linkState.currentPort, name, sizeof name);
    linkState.currentPortIndex = index;
    return true;
}

// Position of the first listed port whose number is above `number`, or -1.
// The list is sorted, so that is where a search goes on after a port.
int firstPortAfter(HWND list, int number)
{
    int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int position = 0; position < count; position++) {
        char name[PortNameCapacity];
        if (getPortListText(list, position, name, PortNameCapacity) && name[0] != '\0' &&
            parsePortNumber(name) > number)
            return position;
    }
    return -1;
}

// Tries the Lnx read command on currentPort. True when a reader with our
// firmware answered; otherwise the link is left reset.
bool probeLnxReader(HWND list)
{
    if (!SerialChannel::open(linkState.currentPort, ReaderBaudRate))
        return false;
    linkState.portOpen = true;
    EnableWindow(list, FALSE);
    linkState.probing = true;

    if (!sendCommand(readCommand(ReaderType::Lnx), ReadCommandLength)) {
        resetLink();
        return false;
    }
    Sleep(ProbeReplyDelayMs);
    if (receiveReply() == ReplyKind::SettingsReply && linkState.firmwareSupported) {
        linkState.portChosen = true;
        linkState.probing = false;
        return true;
    }
    resetLink();
    return false;
}

void startSearchWait()
{
    startProgress(TimerId::Search, SearchPeriodMs);
}

// Whether a command's reply is awaited or a search is under way: no other
// command may go out before it is over.
bool exchangeInProgress()
{
    return isProgressRunning(TimerId::Read) || isProgressRunning(TimerId::Write) ||
           isProgressRunning(TimerId::Search);
}

void rejectFirmware()
{
    linkState.firmwareSupported = false;
    tell(TxtFirmwareUnsupported, MsgIcon::Error);
    // A Lnx port stays open: the user may plug a supported reader in and
    // READ again. A Usb reader is the only candidate on its port, so there
    // is nothing to keep.
    if (readerType == ReaderType::Usb)
        resetLink();
}

// The firmware version of a reader a read has just proved, while the panel
// keeps the choices the user is about to write: the reader in use is shown,
// not its settings.
void showProvenVersion(const unsigned char *payload)
{
    if (readerType == ReaderType::Lnx)
        showFirmwareVersion(decodeLnxSettings(payload).firmwareVersion);
    else
        showFirmwareVersion(decodeUsbSettings(payload).firmwareVersion);
}

void showReadSettings(const unsigned char *payload)
{
    if (checkFirmwareVersion(readerType, payload) != 0) {
        rejectFirmware();
        return;
    }
    linkState.firmwareSupported = true;
    if (keepPanel) {
        showProvenVersion(payload);
        return;
    }
    if (readerType == ReaderType::Lnx)
        showLnxSettings(decodeLnxSettings(payload));
    else
        showUsbSettings(decodeUsbSettings(payload));
}

// A refused or unintelligible reply outside a search. On a port the user
// relies on the link is reset and the ports offered again.
void reportNonsense(ReplyKind kind)
{
    tell(kind == ReplyKind::UnknownCommand ? TxtInvalidCommand : TxtReplyUnrecognized, MsgIcon::Error);
    if (linkState.portChosen) {
        resetLink();
        offerPortsAgain();
    }
}

// The read before a write did not prove the reader: nothing is written, the
// user is told why, and the panel keeps the choices that were not stored.
void refuseWrite(ReplyKind kind, const unsigned char *payload)
{
    if (kind != ReplyKind::SettingsReply) {
        // A bare acknowledgement is no answer to a read either.
        reportNonsense(kind == ReplyKind::UnknownCommand ? kind : ReplyKind::Unrecognized);
        return;
    }
    if (checkFirmwareVersion(readerType, payload) != 0) {
        rejectFirmware();
        return;
    }
    // Our firmware with a setting this program does not know: writing would
    // replace what the user has never seen. The port stays, as after a READ
    // of such a reply.
    tell(TxtReplyUnrecognized, MsgIcon::Error);
}

WriteCommand panelWriteCommand()
{
    return readerType == ReaderType::Lnx ? encodeWriteCommand(collectLnxSettings())
                                         : encodeWriteCommand(collectUsbSettings());
}

// WRITE on an open port: the read command first; its reply decides whether
// `command` is written (receiveReply). Both steps run behind the write popup.
void identifyThenWrite(const WriteCommand &command)
{
    writeAfterRead = {true, command};
    sendAndAwait(readCommand(readerType), ReadCommandLength, TimerId::Write);
}

bool openCurrentPort()
{
    if (!SerialChannel::open(linkState.currentPort, ReaderBaudRate)) {
        tellOpenFailed();
        refreshPortList();
        return false;
    }
    linkState.portOpen = true;
    EnableWindow(portList, FALSE);
    return true;
}

}  // namespace

void resetLink()
{
    // A wait still running belongs to the link being reset: its tick would
    // read a closed port. Ended here, it cannot enable the window either.
    if (endProgress())
        EnableWindow(mainWindow, TRUE);
    if (linkState.portOpen) {
        linkState.portOpen = false;
        SerialChannel::close();
    }
    // A write waiting for its reader goes with the link.
    writeAfterRead.armed = false;
    writeAfterSearch.armed = false;
    refreshPortList();
    linkState.portChosen = false;
    linkState.probing = false;
    linkState.firmwareSupported = false;
    SetWindowTextW(versionValue, IdleVersionText);
}

void sendReadCommand()
{
    sendAndAwait(readCommand(readerType), ReadCommandLength, TimerId::Read);
}

void sendWriteCommand(const unsigned char *bytes, int length)
{
    sendAndAwait(bytes, length, TimerId::Write);
}

void openAndRead()
{
    if (openCurrentPort())
        sendReadCommand();
}

ReplyKind receiveReply()
{
    // Whatever this reply turns out to be, the held write is done with it.
    HeldWrite held = writeAfterRead;
    writeAfterRead.armed = false;

    unsigned char buffer[ReplyBufferSize] = {};
    int received = 0;
    if (!SerialChannel::read(buffer, ReplyBufferSize, &received)) {
        // The box comes before the reset here: the port is still shown.
        if (linkState.portChosen)
            offerPortsAgain();
        resetLink();
        return ReplyKind::Unrecognized;
    }

    ReplyKind kind = classifyReply(buffer, received);
    if (held.armed) {
        if (kind == ReplyKind::SettingsReply && readerIdentified(readerType, buffer)) {
            linkState.firmwareSupported = true;
            showProvenVersion(buffer);
            sendWriteCommand(held.command.bytes, held.command.length);
        } else {
            refuseWrite(kind, buffer);
        }
        return kind;
    }
    switch (kind) {
    case ReplyKind::UnknownCommand:
    case ReplyKind::Unrecognized:
        // A search tries every port; strangers on the other ports pass silently.
        if (linkState.probing)
            return kind;
        reportNonsense(kind);
        break;
    case ReplyKind::WriteAck:
        tell(TxtSettingsWritten, MsgIcon::Success);
        break;
    case ReplyKind::SettingsReply:
        if (!keepPanel)
            tell(TxtSettingsRead, MsgIcon::Success);
        showReadSettings(buffer);
        break;
    }
    return kind;
}

namespace {

// The search of the current reader kind over the refilled port list.
void searchPorts()
{
    EnableWindow(portList, TRUE);
    if (!fillPortList(portList)) {
        // The single empty entry stands for "no ports" until the next refill.
        SendMessageW(portList, CB_RESETCONTENT, 0, 0);
        SendMessageW(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
        SendMessageW(portList, CB_SETCURSEL, 0, 0);
        tell(TxtNoPorts, MsgIcon::Warning);
        return;
    }
    sortPortList(portList);
    if (readerType == ReaderType::Lnx)
        searchLnxReader(portList);
    else
        searchUsbReader();
}

}  // namespace

void runSearch()
{
    // Taken now: the search resets the link for every port it passes.
    HeldWrite held = writeAfterSearch;
    writeAfterSearch.armed = false;
    keepPanel = held.armed;
    searchPorts();
    keepPanel = false;
    if (held.armed && linkState.portOpen)
        identifyThenWrite(held.command);
}

void searchLnxReader(HWND list)
{
    EnableWindow(mainWindow, FALSE);
    // Every failed port resets the link, which refills the list from the
    // device map, where ports may have come or gone meanwhile. The search
    // goes on with the first listed port numbered above the one just tried,
    // so a port that vanished does not make it skip the next one, and no
    // port is tried twice.
    bool found = false;
    for (int i = 0; i >= 0 && takePortListEntry(list, i);) {
        int tried = parsePortNumber(linkState.currentPort);
        // The empty entry that stands for "no ports" is no port.
        if (linkState.currentPort[0] != '\0' && probeLnxReader(list)) {
            found = true;
            break;
        }
        i = firstPortAfter(list, tried);
    }

    if (!found) {
        EnableWindow(list, TRUE);
        tell(TxtLnxNotFound, MsgIcon::Error);
        tell(TxtSelectPortHint, MsgIcon::Hint);
        EnableWindow(mainWindow, TRUE);
        return;
    }
    // The port stays open and the list disabled while the reader is in use.
    tellPortFound(TxtLnxFound);
    selectPortByName(list, linkState.currentPort, &linkState.currentPortIndex);
    EnableWindow(mainWindow, TRUE);
}

void searchUsbReader()
{
    if (!findTarvikUsbPort(linkState.currentPort)) {
        tell(TxtUsbNotFound, MsgIcon::Error);
        tell(TxtSelectPortHint, MsgIcon::Hint);
        return;
    }
    tellPortFound(TxtUsbFound);
    selectPortByName(portList, linkState.currentPort, &linkState.currentPortIndex);
    if (linkState.portOpen)
        return;
    // For a write the reader is not read onto the panel: the write reads it
    // for itself once the search is over.
    if (keepPanel)
        openCurrentPort();
    else
        openAndRead();
}

void onProgressTimer(UINT_PTR timerId)
{
    int lastTick;
    switch (static_cast<TimerId>(timerId)) {
    case TimerId::Search: lastTick = SearchTicks; break;
    case TimerId::Read:
    case TimerId::Write: lastTick = ReplyWaitTicks; break;
    default: return;
    }

    // A tick already queued when its wait was ended or replaced.
    if (!isProgressRunning(static_cast<TimerId>(timerId)))
        return;
    SendMessageW(progressPopup, PBM_STEPIT, 0, 0);
    if (progressTicks + 1 < lastTick) {
        progressTicks++;
        return;
    }
    // The timer and the popup go before the work: the work shows modal boxes,
    // whose message loops would otherwise deliver further ticks.
    endProgress();
    if (static_cast<TimerId>(timerId) == TimerId::Search)
        runSearch();
    else
        receiveReply();
    // A write goes on behind its popup with the window disabled. Only the
    // read a Usb search starts runs with the window enabled.
    if (!isProgressRunning(TimerId::Write))
        EnableWindow(mainWindow, TRUE);
}

void onPortListCommand(WORD notificationCode)
{
    if (notificationCode != CBN_SELCHANGE)
        return;
    int index = static_cast<int>(SendMessageW(portList, CB_GETCURSEL, 0, 0));
    // No selection reads as an empty name, the same as the empty entry.
    char name[PortNameCapacity];
    getPortListText(portList, index, name, PortNameCapacity);
    if (name[0] == '\0') {
        tell(TxtNoPorts, MsgIcon::Warning);
        return;
    }
    std::memcpy(linkState.currentPort, name, sizeof name);
    linkState.currentPortIndex = index;
    openAndRead();
    // A port that did not open (or took no command) is no choice: the link
    // stays as if nothing had been picked, and a later search is an
    // ordinary one.
    if (linkState.portOpen)
        linkState.portChosen = true;
}

void onSearchCommand()
{
    resetLink();
    startSearchWait();
}

void onReadCommand()
{
    // A click while a reply is awaited (the window is enabled during the read
    // a Usb search starts) would interleave two commands on the line; the
    // reply awaited is shown soon enough.
    if (exchangeInProgress())
        return;
    if (linkState.portOpen)
        sendReadCommand();
    else
        startSearchWait();
}

void onWriteCommand()
{
    // What is written is what the panel holds now, whatever comes first.
    WriteCommand command = panelWriteCommand();
    if (isProgressRunning(TimerId::Read) && !writeAfterRead.armed) {
        // During the read a Usb search starts: that read identifies the
        // reader, then these choices are written instead of the reader's
        // settings going on the panel. The window waits like for any write.
        writeAfterRead = {true, command};
        EnableWindow(mainWindow, FALSE);
        return;
    }
    if (exchangeInProgress())
        return;
    if (!linkState.portOpen) {
        // The search finds the reader; the choices are written to it then.
        writeAfterSearch = {true, command};
        startSearchWait();
        return;
    }
    identifyThenWrite(command);
}
