// The USB identity of the Tarvik-USB reader: one place for the window
// program's hardware-id lookup and the console tool's port list.
#ifndef VELMORA_PROTOCOL_USB_IDS_H
#define VELMORA_PROTOCOL_USB_IDS_H

constexpr int TarvikUsbVendorId = 0x2E3C;
constexpr int TarvikUsbProductId = 0x5750;
constexpr int TarvikUsbRevision = 0x0200;

// The parts of the two hardware-id spellings Windows may report for it.
constexpr char TarvikUsbVendorUpper[] = "2E3C";
constexpr char TarvikUsbProductUpper[] = "5750";
constexpr char TarvikUsbRevisionUpper[] = "0200";
constexpr char TarvikUsbVendorMixed[] = "2e3c";
constexpr char TarvikUsbProductMixed[] = "5750";
constexpr char TarvikUsbRevisionMixed[] = "0200";

#endif
