// The USB identity of the Tarvik-USB reader: one place for the window
// program's hardware-id lookup and the console tool's port list. Any text
// form ("USB\VID_2E3C&...", "2E3C:5750") is made from these numbers.
#ifndef VELMORA_PROTOCOL_USB_IDS_H
#define VELMORA_PROTOCOL_USB_IDS_H

constexpr int TarvikUsbVendorId = 0x2E3C;
constexpr int TarvikUsbProductId = 0x5750;
constexpr int TarvikUsbRevision = 0x0200;

#endif
