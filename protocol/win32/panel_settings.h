// Settings records on the panel: shown after a read, collected for a write.
#ifndef VELMORA_PROTOCOL_WIN32_PANEL_SETTINGS_H
#define VELMORA_PROTOCOL_WIN32_PANEL_SETTINGS_H

#include <windows.h>

#include "protocol/wire.h"

// The choices and lamp colours of a page before any reader was read: the
// settings' defaults, as the binding of groups to settings shows them.
void showDefaultSettings(ReaderType page);

// The reader's firmware version in the version field.
void showFirmwareVersion(const char (&version)[FirmwareVersionLength]);
void showLnxSettings(const LnxSettings &settings);
void showUsbSettings(const UsbSettings &settings);
LnxSettings collectLnxSettings();
UsbSettings collectUsbSettings();

// The lamp (0 is lamp 1) and colour a click on a radio sets; false for a
// radio of a group without a lamp, or any other control.
bool lampForRadio(int radio, int &lamp, COLORREF &color);

#endif
