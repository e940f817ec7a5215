// Following adapters and readers as they are plugged in and out.
#ifndef VELMORA_SERIAL_DEVCHANGE_H
#define VELMORA_SERIAL_DEVCHANGE_H

#include <windows.h>

// True from the moment the device-change timer is armed until it fires.
extern bool deviceChangePending;

void onDeviceChange(WPARAM eventCode);
void onDeviceChangeTimer();

#endif
