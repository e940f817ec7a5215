// Reader transactions: search, read and write over the serial channel,
// with the link state they keep.
#ifndef VELMORA_PROTOCOL_WIN32_LINK_H
#define VELMORA_PROTOCOL_WIN32_LINK_H

#include <windows.h>
#include "protocol/line_format.h"
#include "protocol/wire.h"
#include "serial/ports.h"

struct LinkState {
    bool portOpen;           // the channel holds currentPort
    bool portChosen;         // picked in the list or confirmed by a search
    bool probing;            // the Lnx search is trying a port
    bool firmwareSupported;  // the last settings reply had our version
    char currentPort[PortNameCapacity];
    int currentPortIndex;
};

extern LinkState linkState;

void resetLink();
void sendReadCommand();
void sendWriteCommand(const unsigned char *bytes, int length);
void openAndRead();
ReplyKind receiveReply();
void runSearch();
void searchLnxReader(HWND list);
void searchUsbReader();

// WM_TIMER of TimerId::Search, Read and Write.
void onProgressTimer(UINT_PTR timerId);

// WM_COMMAND handlers.
void onPortListCommand(WORD notificationCode);
void onSearchCommand();
void onReadCommand();
void onWriteCommand();

#endif
