// The settings table: every value's name, wire letters and record agree with
// each other and with the wire codec the window program uses.
#include "protocol/settings_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The names and letters users and readers see, written out once here as an
// independent copy: a change to the table that renames a value or moves a
// letter fails this test instead of silently changing profiles on disk.
struct Expected {
    ReaderType kind;
    const char *key;
    const char *name;
    const char *letters;
};

const Expected ExpectedValues[] = {
    {ReaderType::Lnx, "interface", "touch_memory", "TMX"},
    {ReaderType::Lnx, "interface", "wiegand26", "W26"},
    {ReaderType::Lnx, "interface", "wiegand44", "W44"},
    {ReaderType::Lnx, "indication", "direct", "1"},
    {ReaderType::Lnx, "indication", "inverse", "0"},
    {ReaderType::Lnx, "standby", "dynamic", "D"},
    {ReaderType::Lnx, "standby", "static", "S"},
    {ReaderType::Lnx, "standby", "off", "A"},
    {ReaderType::Lnx, "touch_poll", "on", "O"},
    {ReaderType::Lnx, "touch_poll", "off", "F"},
    {ReaderType::Usb, "mode", "windows", "W"},
    {ReaderType::Usb, "mode", "all_os", "A"},
    {ReaderType::Usb, "output", "hex", "HDH"},
    {ReaderType::Usb, "output", "dec", "HDD"},
    {ReaderType::Usb, "output", "touch_memory", "TMX"},
    {ReaderType::Usb, "id_bytes", "2", "2"},
    {ReaderType::Usb, "id_bytes", "3", "3"},
    {ReaderType::Usb, "id_bytes", "4", "4"},
    {ReaderType::Usb, "id_bytes", "5", "5"},
    {ReaderType::Usb, "cards", "all", "EM"},
    {ReaderType::Usb, "cards", "hid_em", "EX"},
    {ReaderType::Usb, "cards", "mifare_pay", "XM"},
};

TEST(SettingsTable, HoldsExactlyTheExpectedNamesAndLetters)
{
    std::set<std::string> fromTable, expected;
    for (ReaderType kind : {ReaderType::Lnx, ReaderType::Usb})
        for (int f = 0; f < settingFieldCount(kind); ++f)
            for (int v = 0; v < settingField(kind, f).valueCount; ++v)
                fromTable.insert(std::string(kind == ReaderType::Lnx ? "lnx " : "usb ") + settingField(kind, f).key +
                                 " " + settingField(kind, f).values[v].name + " " +
                                 settingField(kind, f).values[v].letters);
    for (const Expected &e : ExpectedValues)
        expected.insert(std::string(e.kind == ReaderType::Lnx ? "lnx " : "usb ") + e.key + " " + e.name + " " +
                        e.letters);
    EXPECT_EQ(fromTable, expected);
}

TEST(SettingsTable, NamesFindTheirValueAndUnknownNamesNothing)
{
    for (const Expected &e : ExpectedValues) {
        int field = findSettingField(e.kind, e.key);
        ASSERT_GE(field, 0) << e.key;
        int value = findSettingValue(settingField(e.kind, field), e.name);
        ASSERT_GE(value, 0) << e.name;
        EXPECT_STREQ(settingField(e.kind, field).values[value].letters, e.letters);
        EXPECT_EQ(findSettingValue(settingField(e.kind, field), std::string(e.name) + "x"), -1);
        EXPECT_EQ(findSettingValue(settingField(e.kind, field), ""), -1);
    }
    // Keys belong to one kind.
    EXPECT_EQ(findSettingField(ReaderType::Lnx, "mode"), -1);
    EXPECT_EQ(findSettingField(ReaderType::Usb, "interface"), -1);
    EXPECT_EQ(findSettingField(ReaderType::Lnx, "Interface"), -1);
}

// Every combination of values of a kind, as settings.
std::vector<SettingsValues> everyCombination(ReaderType kind)
{
    std::vector<SettingsValues> all(1);
    all[0].kind = kind;
    for (int f = 0; f < settingFieldCount(kind); ++f) {
        std::vector<SettingsValues> next;
        for (const SettingsValues &s : all)
            for (int v = 0; v < settingField(kind, f).valueCount; ++v) {
                SettingsValues t = s;
                t.value[f] = v;
                next.push_back(t);
            }
        all = next;
    }
    return all;
}

std::string text(const WriteCommand &c)
{
    return std::string(reinterpret_cast<const char *>(c.bytes), static_cast<size_t>(c.length));
}

// name -> letters -> payload -> settings, and the window program's codec on
// the same payload gives the same record and the same command.
TEST(SettingsTable, EveryCombinationRoundTripsThroughLettersAndRecords)
{
    int combinations = 0;
    for (ReaderType kind : {ReaderType::Lnx, ReaderType::Usb}) {
        for (const SettingsValues &s : everyCombination(kind)) {
            ++combinations;
            ASSERT_TRUE(settingsComplete(s));
            WriteCommand command = writeCommandFor(s);
            ASSERT_EQ(command.length, kind == ReaderType::Lnx ? LnxWriteCommandLength : UsbWriteCommandLength);
            std::string payload = "1.00" + text(command).substr(3);
            std::vector<unsigned char> bytes(payload.begin(), payload.end());
            EXPECT_EQ(settingsFromPayload(kind, bytes.data()), s) << payload;

            if (kind == ReaderType::Lnx) {
                LnxSettings record = decodeLnxSettings(bytes.data());
                EXPECT_EQ(settingsFromRecord(record), s) << payload;
                EXPECT_EQ(text(encodeWriteCommand(lnxRecordFrom(s))), text(command));
                LnxSettings back = lnxRecordFrom(s);
                EXPECT_EQ(back.readerInterface, record.readerInterface);
                EXPECT_EQ(back.indicationControl, record.indicationControl);
                EXPECT_EQ(back.standbyIndication, record.standbyIndication);
                EXPECT_EQ(back.touchButtonPoll, record.touchButtonPoll);
            } else {
                UsbSettings record = decodeUsbSettings(bytes.data());
                EXPECT_EQ(settingsFromRecord(record), s) << payload;
                EXPECT_EQ(text(encodeWriteCommand(usbRecordFrom(s))), text(command));
                UsbSettings back = usbRecordFrom(s);
                EXPECT_EQ(back.operatingMode, record.operatingMode);
                EXPECT_EQ(back.outputFormat, record.outputFormat);
                EXPECT_EQ(back.outputType, record.outputType);
                EXPECT_EQ(back.idByteCount, record.idByteCount);
                EXPECT_EQ(back.cardsToRead, record.cardsToRead);
            }
        }
    }
    EXPECT_EQ(combinations, 3 * 2 * 3 * 2 + 2 * 3 * 4 * 3);
}

struct UnknownCase {
    ReaderType kind;
    const char *payload;
    const char *key;  // the one field that is not recognised
};

const UnknownCase UnknownCases[] = {
    {ReaderType::Lnx, "1.00TMx1DO", "interface"},
    {ReaderType::Lnx, "1.00W251DO", "interface"},
    {ReaderType::Lnx, "1.00TMX2DO", "indication"},
    {ReaderType::Lnx, "1.00TMX1dO", "standby"},
    {ReaderType::Lnx, "1.00TMX1D\0", "touch_poll"},
    {ReaderType::Usb, "1.00XHDH5EM", "mode"},
    {ReaderType::Usb, "1.00WHDX5EM", "output"},  // format known, type not: no value of ours
    {ReaderType::Usb, "1.00WTMH5EM", "output"},
    {ReaderType::Usb, "1.00WHDH6EM", "id_bytes"},
    {ReaderType::Usb, "1.00WHDH1EM", "id_bytes"},
    {ReaderType::Usb, "1.00WHDH5EE", "cards"},
    {ReaderType::Usb, "1.00WHDH5XX", "cards"},
};

TEST(SettingsTable, AFieldNotRecognisedIsMarkedAndTheOthersStillRead)
{
    for (const UnknownCase &c : UnknownCases) {
        unsigned char payload[UsbPayloadLength] = {};
        std::memcpy(payload, c.payload, c.kind == ReaderType::Lnx ? LnxPayloadLength : UsbPayloadLength);
        SettingsValues s = settingsFromPayload(c.kind, payload);
        int unknown = findSettingField(c.kind, c.key);
        for (int f = 0; f < settingFieldCount(c.kind); ++f) {
            if (f == unknown)
                EXPECT_EQ(s.value[f], -1) << c.payload;
            else
                EXPECT_GE(s.value[f], 0) << c.payload << " " << settingField(c.kind, f).key;
        }
        EXPECT_FALSE(settingsComplete(s));
        // The window program's decoder marks the same field.
        SettingsValues viaRecord = c.kind == ReaderType::Lnx ? settingsFromRecord(decodeLnxSettings(payload))
                                                             : settingsFromRecord(decodeUsbSettings(payload));
        EXPECT_EQ(viaRecord, s) << c.payload;
    }
}

// The rule before every write: a read payload proves a reader that may be
// written only with our firmware and every field of the tab's kind known.
TEST(SettingsTable, OnlyOurFirmwareWithEverySettingKnownIdentifiesAReader)
{
    for (ReaderType kind : {ReaderType::Lnx, ReaderType::Usb}) {
        ReaderType other = kind == ReaderType::Lnx ? ReaderType::Usb : ReaderType::Lnx;
        for (const SettingsValues &s : everyCombination(kind)) {
            std::string letters = text(writeCommandFor(s)).substr(3);
            for (const char *version : {"1.00", "1.01", "0.99", "1,00", "\0\0\0\0"}) {
                unsigned char payload[ReplyBufferSize] = {};
                std::memcpy(payload, version, FirmwareVersionLength);
                std::memcpy(payload + FirmwareVersionLength, letters.data(), letters.size());
                EXPECT_EQ(readerIdentified(kind, payload), std::strcmp(version, "1.00") == 0)
                    << version << letters;
                // The other kind's settings never pass for this kind's.
                EXPECT_FALSE(readerIdentified(other, payload)) << version << letters;
            }
        }
    }
    for (const UnknownCase &c : UnknownCases) {
        unsigned char payload[ReplyBufferSize] = {};
        std::memcpy(payload, c.payload, std::strlen(c.payload));
        EXPECT_FALSE(readerIdentified(c.kind, payload)) << c.payload;
    }
    // A reply cut short: the zeroed rest of the buffer is no setting.
    const char *cut[] = {"1.00", "1.00W26", "1.00W261A", "1.00WHDH5E"};
    for (const char *start : cut) {
        unsigned char payload[ReplyBufferSize] = {};
        std::memcpy(payload, start, std::strlen(start));
        EXPECT_FALSE(readerIdentified(ReaderType::Lnx, payload)) << start;
        EXPECT_FALSE(readerIdentified(ReaderType::Usb, payload)) << start;
    }
}

TEST(SettingsTable, TouchMemoryOutputIgnoresWhateverTypeTheRecordCarries)
{
    UsbSettings record = usbRecordFrom(everyCombination(ReaderType::Usb)[0]);
    record.outputFormat = OutputFormat::TouchMemory;
    for (OutputType type : {OutputType::Hex, OutputType::Dec, OutputType::Absent, OutputType::NotRecognized}) {
        record.outputType = type;
        SettingsValues s = settingsFromRecord(record);
        EXPECT_STREQ(settingField(ReaderType::Usb, findSettingField(ReaderType::Usb, "output"))
                         .values[s.value[findSettingField(ReaderType::Usb, "output")]]
                         .name,
                     "touch_memory");
    }
}

TEST(SettingsTable, SettingsOfDifferentKindsNeverCompareEqual)
{
    SettingsValues lnx = everyCombination(ReaderType::Lnx)[0];
    SettingsValues usb = everyCombination(ReaderType::Usb)[0];
    EXPECT_NE(lnx, usb);
    SettingsValues changed = lnx;
    changed.value[3] = 1 - changed.value[3];
    EXPECT_NE(lnx, changed);
}

}  // namespace
