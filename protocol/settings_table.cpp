// The one table of settings: names, wire letters and record values.
#include "protocol/settings_table.h"

#include <cstring>

namespace {

constexpr int NoType = -1;  // the value carries no OutputType

const SettingValue InterfaceValues[] = {
    {"touch_memory", "TMX", static_cast<int>(LnxInterface::TouchMemory), NoType},
    {"wiegand26", "W26", static_cast<int>(LnxInterface::Wiegand26), NoType},
    {"wiegand44", "W44", static_cast<int>(LnxInterface::Wiegand44), NoType},
};
const SettingValue IndicationValues[] = {
    {"direct", "1", static_cast<int>(IndicationControl::Direct), NoType},
    {"inverse", "0", static_cast<int>(IndicationControl::Inverse), NoType},
};
const SettingValue StandbyValues[] = {
    {"dynamic", "D", static_cast<int>(StandbyIndication::Dynamic), NoType},
    {"static", "S", static_cast<int>(StandbyIndication::Static), NoType},
    {"off", "A", static_cast<int>(StandbyIndication::Off), NoType},
};
const SettingValue TouchPollValues[] = {
    {"on", "O", static_cast<int>(TouchButtonPoll::On), NoType},
    {"off", "F", static_cast<int>(TouchButtonPoll::Off), NoType},
};
const SettingValue ModeValues[] = {
    {"windows", "W", static_cast<int>(OperatingMode::Windows), NoType},
    {"all_os", "A", static_cast<int>(OperatingMode::AllOs), NoType},
};
// Format and type travel together on the wire, so they are one setting here.
const SettingValue OutputValues[] = {
    {"hex", "HDH", static_cast<int>(OutputFormat::HexOrDec), static_cast<int>(OutputType::Hex)},
    {"dec", "HDD", static_cast<int>(OutputFormat::HexOrDec), static_cast<int>(OutputType::Dec)},
    {"touch_memory", "TMX", static_cast<int>(OutputFormat::TouchMemory), static_cast<int>(OutputType::Absent)},
};
const SettingValue IdBytesValues[] = {
    {"2", "2", 2, NoType},
    {"3", "3", 3, NoType},
    {"4", "4", 4, NoType},
    {"5", "5", 5, NoType},
};
const SettingValue CardsValues[] = {
    {"all", "EM", static_cast<int>(CardsToRead::All), NoType},
    {"hid_em", "EX", static_cast<int>(CardsToRead::HidEm), NoType},
    {"mifare_pay", "XM", static_cast<int>(CardsToRead::MifarePay), NoType},
};

template <int N>
constexpr int countOf(const SettingValue (&)[N]) { return N; }

// Offsets are payload positions; the write command carries the same letters
// three bytes in, behind "AT+" (where the payload has the four version bytes).
const SettingField LnxFields[] = {
    {"interface", 4, 3, InterfaceValues, countOf(InterfaceValues)},
    {"indication", 7, 1, IndicationValues, countOf(IndicationValues)},
    {"standby", 8, 1, StandbyValues, countOf(StandbyValues)},
    {"touch_poll", 9, 1, TouchPollValues, countOf(TouchPollValues)},
};
const SettingField UsbFields[] = {
    {"mode", 4, 1, ModeValues, countOf(ModeValues)},
    {"output", 5, 3, OutputValues, countOf(OutputValues)},
    {"id_bytes", 8, 1, IdBytesValues, countOf(IdBytesValues)},
    {"cards", 9, 2, CardsValues, countOf(CardsValues)},
};

enum LnxField { LnxInterfaceField, LnxIndicationField, LnxStandbyField, LnxTouchPollField };
enum UsbField { UsbModeField, UsbOutputField, UsbIdBytesField, UsbCardsField };

const SettingField *fieldsOf(ReaderType kind)
{
    return kind == ReaderType::Usb ? UsbFields : LnxFields;
}

// The index of the value whose record value is `record` (and, where the
// value carries one, whose type is `type`); -1 when none is.
int valueForRecord(const SettingField &field, int record, int type = NoType)
{
    for (int i = 0; i < field.valueCount; ++i) {
        const SettingValue &v = field.values[i];
        if (v.record == record && (v.recordType == NoType || type == NoType || v.recordType == type))
            return i;
    }
    return -1;
}

const SettingValue *valueAt(const SettingsValues &settings, int field)
{
    int i = settings.value[field];
    const SettingField &f = settingField(settings.kind, field);
    return i >= 0 && i < f.valueCount ? &f.values[i] : nullptr;
}

}  // namespace

int settingFieldCount(ReaderType kind)
{
    return kind == ReaderType::Usb ? static_cast<int>(sizeof UsbFields / sizeof UsbFields[0])
                                   : static_cast<int>(sizeof LnxFields / sizeof LnxFields[0]);
}

const SettingField &settingField(ReaderType kind, int field)
{
    return fieldsOf(kind)[field];
}

int findSettingField(ReaderType kind, std::string_view key)
{
    for (int i = 0; i < settingFieldCount(kind); ++i)
        if (key == settingField(kind, i).key)
            return i;
    return -1;
}

int findSettingValue(const SettingField &field, std::string_view name)
{
    for (int i = 0; i < field.valueCount; ++i)
        if (name == field.values[i].name)
            return i;
    return -1;
}

bool operator==(const SettingsValues &a, const SettingsValues &b)
{
    if (a.kind != b.kind)
        return false;
    for (int i = 0; i < settingFieldCount(a.kind); ++i)
        if (a.value[i] != b.value[i])
            return false;
    return true;
}

bool settingsComplete(const SettingsValues &settings)
{
    for (int i = 0; i < settingFieldCount(settings.kind); ++i)
        if (valueAt(settings, i) == nullptr)
            return false;
    return true;
}

SettingsValues settingsFromPayload(ReaderType kind, const unsigned char *payload)
{
    SettingsValues settings;
    settings.kind = kind;
    for (int f = 0; f < settingFieldCount(kind); ++f) {
        const SettingField &field = settingField(kind, f);
        for (int i = 0; i < field.valueCount; ++i) {
            if (std::memcmp(payload + field.offset, field.values[i].letters,
                            static_cast<size_t>(field.width)) == 0) {
                settings.value[f] = i;
                break;
            }
        }
    }
    return settings;
}

bool readerIdentified(ReaderType kind, const unsigned char *payload)
{
    return checkFirmwareVersion(kind, payload) == 0 && settingsComplete(settingsFromPayload(kind, payload));
}

WriteCommand writeCommandFor(const SettingsValues &settings)
{
    WriteCommand command = {};
    std::memcpy(command.bytes, CommandPrefix, sizeof CommandPrefix - 1);
    int at = sizeof CommandPrefix - 1;
    for (int f = 0; f < settingFieldCount(settings.kind); ++f) {
        const SettingField &field = settingField(settings.kind, f);
        const SettingValue *v = valueAt(settings, f);
        // An incomplete record has no command; the caller checks first.
        const char *letters = v ? v->letters : field.values[0].letters;
        std::memcpy(command.bytes + at, letters, static_cast<size_t>(field.width));
        at += field.width;
    }
    command.length = at;
    return command;
}

SettingsValues settingsFromRecord(const LnxSettings &record)
{
    SettingsValues s;
    s.kind = ReaderType::Lnx;
    s.value[LnxInterfaceField] = valueForRecord(LnxFields[LnxInterfaceField], static_cast<int>(record.readerInterface));
    s.value[LnxIndicationField] = valueForRecord(LnxFields[LnxIndicationField], static_cast<int>(record.indicationControl));
    s.value[LnxStandbyField] = valueForRecord(LnxFields[LnxStandbyField], static_cast<int>(record.standbyIndication));
    s.value[LnxTouchPollField] = valueForRecord(LnxFields[LnxTouchPollField], static_cast<int>(record.touchButtonPoll));
    return s;
}

SettingsValues settingsFromRecord(const UsbSettings &record)
{
    SettingsValues s;
    s.kind = ReaderType::Usb;
    s.value[UsbModeField] = valueForRecord(UsbFields[UsbModeField], static_cast<int>(record.operatingMode));
    // Touch Memory carries no type: whatever the record holds there is moot.
    int type = record.outputFormat == OutputFormat::TouchMemory ? static_cast<int>(OutputType::Absent)
                                                                 : static_cast<int>(record.outputType);
    s.value[UsbOutputField] = valueForRecord(UsbFields[UsbOutputField], static_cast<int>(record.outputFormat), type);
    s.value[UsbIdBytesField] = valueForRecord(UsbFields[UsbIdBytesField], record.idByteCount);
    s.value[UsbCardsField] = valueForRecord(UsbFields[UsbCardsField], static_cast<int>(record.cardsToRead));
    return s;
}

LnxSettings lnxRecordFrom(const SettingsValues &settings)
{
    LnxSettings r;
    std::memcpy(r.firmwareVersion, SupportedFirmwareVersion, FirmwareVersionLength);
    const SettingValue *v;
    r.readerInterface = (v = valueAt(settings, LnxInterfaceField)) ? static_cast<LnxInterface>(v->record)
                                                                    : LnxInterface::NotRecognized;
    r.indicationControl = (v = valueAt(settings, LnxIndicationField)) ? static_cast<IndicationControl>(v->record)
                                                                       : IndicationControl::NotRecognized;
    r.standbyIndication = (v = valueAt(settings, LnxStandbyField)) ? static_cast<StandbyIndication>(v->record)
                                                                    : StandbyIndication::NotRecognized;
    r.touchButtonPoll = (v = valueAt(settings, LnxTouchPollField)) ? static_cast<TouchButtonPoll>(v->record)
                                                                    : TouchButtonPoll::NotRecognized;
    return r;
}

UsbSettings usbRecordFrom(const SettingsValues &settings)
{
    UsbSettings r;
    std::memcpy(r.firmwareVersion, SupportedFirmwareVersion, FirmwareVersionLength);
    const SettingValue *v;
    r.operatingMode = (v = valueAt(settings, UsbModeField)) ? static_cast<OperatingMode>(v->record)
                                                             : OperatingMode::NotRecognized;
    if ((v = valueAt(settings, UsbOutputField))) {
        r.outputFormat = static_cast<OutputFormat>(v->record);
        r.outputType = static_cast<OutputType>(v->recordType);
    } else {
        r.outputFormat = OutputFormat::NotRecognized;
        r.outputType = OutputType::Absent;
    }
    r.idByteCount = (v = valueAt(settings, UsbIdBytesField)) ? v->record : 0;
    r.cardsToRead = (v = valueAt(settings, UsbCardsField)) ? static_cast<CardsToRead>(v->record)
                                                            : CardsToRead::NotRecognized;
    return r;
}

const char *readerKindName(ReaderType kind)
{
    return kind == ReaderType::Usb ? "usb" : "lnx";
}

bool readerKindFromName(std::string_view name, ReaderType &kind)
{
    if (name == "lnx")
        kind = ReaderType::Lnx;
    else if (name == "usb")
        kind = ReaderType::Usb;
    else
        return false;
    return true;
}

const char *readerProductName(ReaderType kind)
{
    return kind == ReaderType::Usb ? "Tarvik-USB" : "Tarvik-LNA_LNB";
}
