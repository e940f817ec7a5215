// Every setting of both reader kinds in one table: for each value its stable
// lower-case name (for people, profiles and JSON), the letters it has on the
// wire and the record value it stands for. Plain C++ over bytes.
#ifndef VELMORA_PROTOCOL_SETTINGS_TABLE_H
#define VELMORA_PROTOCOL_SETTINGS_TABLE_H

#include <string_view>

#include "protocol/wire.h"

struct SettingValue {
    const char *name;     // "wiegand26"
    const char *letters;  // "W26": as many letters as the field is wide
    int record;           // the record's enumerator (or the byte count) ...
    int recordType;       // ... and for the Usb output group the OutputType
};

struct SettingField {
    const char *key;       // "interface"
    int offset;            // position of the first letter in the read payload
    int width;             // letters on the wire
    const SettingValue *values;
    int valueCount;
};

// Fields of a kind, in wire order.
constexpr int MaxSettingFields = 4;
int settingFieldCount(ReaderType kind);
const SettingField &settingField(ReaderType kind, int field);
// -1 when the kind has no such key / the field no such value name.
int findSettingField(ReaderType kind, std::string_view key);
int findSettingValue(const SettingField &field, std::string_view name);

// One reader's settings as value indices into the table; -1 marks a field
// that was not recognised (or not given).
struct SettingsValues {
    ReaderType kind = ReaderType::Lnx;
    int value[MaxSettingFields] = {-1, -1, -1, -1};
};

bool operator==(const SettingsValues &a, const SettingsValues &b);
inline bool operator!=(const SettingsValues &a, const SettingsValues &b) { return !(a == b); }
// True when every field of the kind holds a value.
bool settingsComplete(const SettingsValues &settings);

// From a read payload (LnxPayloadLength or UsbPayloadLength readable bytes),
// letter by letter through the table.
SettingsValues settingsFromPayload(ReaderType kind, const unsigned char *payload);
// Whether a read payload proves a reader of `kind` that may be written:
// the supported firmware and a recognised value in every field.
bool readerIdentified(ReaderType kind, const unsigned char *payload);
// "AT+" and the letters; the settings must be complete.
WriteCommand writeCommandFor(const SettingsValues &settings);

// The records of the window program, through the table's record values.
SettingsValues settingsFromRecord(const LnxSettings &record);
SettingsValues settingsFromRecord(const UsbSettings &record);
LnxSettings lnxRecordFrom(const SettingsValues &settings);  // firmwareVersion the supported one
UsbSettings usbRecordFrom(const SettingsValues &settings);

// "lnx" / "usb".
const char *readerKindName(ReaderType kind);
bool readerKindFromName(std::string_view name, ReaderType &kind);
// "Tarvik-LNA_LNB" / "Tarvik-USB".
const char *readerProductName(ReaderType kind);

#endif
