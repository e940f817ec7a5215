// The serial ports of the system (the port list) and the Tarvik-USB
// reader's port, found by its USB hardware id.
#ifndef VELMORA_SERIAL_PORTS_H
#define VELMORA_SERIAL_PORTS_H

#include <windows.h>

// Room for any port name Windows hands out ("COM4096" and far beyond) and
// its terminator. Longer names are never copied into such a buffer.
constexpr int PortNameCapacity = 32;

bool fillPortList(HWND list);
void sortPortList(HWND list);
int comparePortNumbers(const void *first, const void *second);
void refreshPortList();
void selectPortByName(HWND list, const char *name, int *index);
bool isPortPresent(const char *name);

// The port of the Tarvik-USB reader (the last one enumerated, should there
// be several) into `portName`, which must hold PortNameCapacity characters;
// false, with `portName` untouched, when no reader with a COM port is there.
bool findTarvikUsbPort(char *portName);

// Text of a port-list entry into `buffer`; an entry that does not fit is
// read as empty. Returns false when there is no such entry.
bool getPortListText(HWND list, int index, char *buffer, int capacity);

#endif
