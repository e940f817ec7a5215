// Settings records on the panel: shown after a read, collected for a write.
#ifndef VELMORA_PROTOCOL_WIN32_PANEL_SETTINGS_H
#define VELMORA_PROTOCOL_WIN32_PANEL_SETTINGS_H

#include "protocol/wire.h"

void showLnxSettings(const LnxSettings &settings);
void showUsbSettings(const UsbSettings &settings);
LnxSettings collectLnxSettings();
UsbSettings collectUsbSettings();

#endif
