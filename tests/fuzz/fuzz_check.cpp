// Checks shared by the fuzz targets.
#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void check(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

namespace {

bool lettersAre(const unsigned char *bytes, const char *letters)
{
    return std::memcmp(bytes, letters, std::strlen(letters)) == 0;
}

bool isOneOf(const unsigned char *bytes, const char *const *table, int count)
{
    for (int i = 0; i < count; ++i) {
        if (lettersAre(bytes, table[i]))
            return true;
    }
    return false;
}

// A payload with the supported version and the letters of a write command.
void payloadOf(const WriteCommand &command, unsigned char *payload)
{
    std::memcpy(payload, "1.00", FirmwareVersionLength);
    std::memcpy(payload + FirmwareVersionLength, command.bytes + 3, static_cast<size_t>(command.length - 3));
}

const char *const lnxInterfaces[] = {"TMX", "W26", "W44"};
const char *const outputGroups[] = {"HDH", "HDD", "TMX"};
const char *const cardLetters[] = {"EM", "EX", "XM"};

}  // namespace

void checkLnxPayload(const unsigned char *payload)
{
    const LnxSettings s = decodeLnxSettings(payload);
    check(std::memcmp(s.firmwareVersion, payload, FirmwareVersionLength) == 0, "lnx: version copied");
    check(s.readerInterface <= LnxInterface::NotRecognized, "lnx: interface in range");
    check(s.indicationControl <= IndicationControl::NotRecognized, "lnx: indication in range");
    check(s.standbyIndication <= StandbyIndication::NotRecognized, "lnx: standby in range");
    check(s.touchButtonPoll <= TouchButtonPoll::NotRecognized, "lnx: poll in range");

    const WriteCommand c = encodeWriteCommand(s);
    check(c.length == LnxWriteCommandLength, "lnx: command length");
    check(lettersAre(c.bytes, "AT+"), "lnx: command prefix");
    check(isOneOf(c.bytes + 3, lnxInterfaces, 3), "lnx: interface letters sent");
    check(c.bytes[6] == '1' || c.bytes[6] == '0', "lnx: indication letter sent");
    check(std::strchr("DSA", c.bytes[7]) != nullptr && c.bytes[7] != 0, "lnx: standby letter sent");
    check(c.bytes[8] == 'O' || c.bytes[8] == 'F', "lnx: poll letter sent");

    const bool interfaceKnown = isOneOf(payload + 4, lnxInterfaces, 3);
    check((s.readerInterface != LnxInterface::NotRecognized) == interfaceKnown, "lnx: interface recognised");
    if (interfaceKnown)
        check(std::memcmp(c.bytes + 3, payload + 4, 3) == 0, "lnx: interface round trip");
    const bool indicationKnown = payload[7] == '1' || payload[7] == '0';
    check((s.indicationControl != IndicationControl::NotRecognized) == indicationKnown, "lnx: indication recognised");
    if (indicationKnown)
        check(c.bytes[6] == payload[7], "lnx: indication round trip");
    const bool standbyKnown = payload[8] == 'D' || payload[8] == 'S' || payload[8] == 'A';
    check((s.standbyIndication != StandbyIndication::NotRecognized) == standbyKnown, "lnx: standby recognised");
    if (standbyKnown)
        check(c.bytes[7] == payload[8], "lnx: standby round trip");
    const bool pollKnown = payload[9] == 'O' || payload[9] == 'F';
    check((s.touchButtonPoll != TouchButtonPoll::NotRecognized) == pollKnown, "lnx: poll recognised");
    if (pollKnown)
        check(c.bytes[8] == payload[9], "lnx: poll round trip");

    unsigned char again[LnxPayloadLength];
    payloadOf(c, again);
    check(checkFirmwareVersion(ReaderType::Lnx, again) == 0, "lnx: version accepted");
    const LnxSettings t = decodeLnxSettings(again);
    check(t.readerInterface != LnxInterface::NotRecognized && t.indicationControl != IndicationControl::NotRecognized &&
              t.standbyIndication != StandbyIndication::NotRecognized &&
              t.touchButtonPoll != TouchButtonPoll::NotRecognized,
          "lnx: a sent command decodes in full");
    check(!interfaceKnown || t.readerInterface == s.readerInterface, "lnx: interface survives");
    check(!indicationKnown || t.indicationControl == s.indicationControl, "lnx: indication survives");
    check(!standbyKnown || t.standbyIndication == s.standbyIndication, "lnx: standby survives");
    check(!pollKnown || t.touchButtonPoll == s.touchButtonPoll, "lnx: poll survives");
}

void checkUsbPayload(const unsigned char *payload)
{
    const UsbSettings s = decodeUsbSettings(payload);
    check(std::memcmp(s.firmwareVersion, payload, FirmwareVersionLength) == 0, "usb: version copied");
    check(s.operatingMode <= OperatingMode::NotRecognized, "usb: mode in range");
    check(s.outputFormat <= OutputFormat::NotRecognized, "usb: format in range");
    check(s.outputType <= OutputType::NotRecognized, "usb: type in range");
    check(s.idByteCount == 0 || (s.idByteCount >= 2 && s.idByteCount <= 5), "usb: byte count in range");
    check(s.cardsToRead <= CardsToRead::NotRecognized, "usb: cards in range");

    const WriteCommand c = encodeWriteCommand(s);
    check(c.length == UsbWriteCommandLength, "usb: command length");
    check(lettersAre(c.bytes, "AT+"), "usb: command prefix");
    check(c.bytes[3] == 'W' || c.bytes[3] == 'A', "usb: mode letter sent");
    check(isOneOf(c.bytes + 4, outputGroups, 3), "usb: output letters sent");
    check(c.bytes[7] >= '2' && c.bytes[7] <= '5', "usb: byte count sent");
    check(isOneOf(c.bytes + 8, cardLetters, 3), "usb: card letters sent");

    const bool modeKnown = payload[4] == 'W' || payload[4] == 'A';
    check((s.operatingMode != OperatingMode::NotRecognized) == modeKnown, "usb: mode recognised");
    if (modeKnown)
        check(c.bytes[3] == payload[4], "usb: mode round trip");

    const bool hexOrDec = payload[5] == 'H' && payload[6] == 'D';
    const bool touchMemory = lettersAre(payload + 5, "TMX");
    const bool typeKnown = hexOrDec && (payload[7] == 'H' || payload[7] == 'D');
    check((s.outputFormat == OutputFormat::HexOrDec) == hexOrDec, "usb: hex-or-dec recognised");
    check((s.outputFormat == OutputFormat::TouchMemory) == touchMemory, "usb: touch memory recognised");
    check((s.outputType == OutputType::Hex || s.outputType == OutputType::Dec) == typeKnown, "usb: type recognised");
    check((s.outputType == OutputType::NotRecognized) == (hexOrDec && !typeKnown), "usb: type marked");
    check((s.outputType == OutputType::Absent) == !hexOrDec, "usb: type absent without hex-or-dec");
    if (typeKnown || touchMemory)
        check(std::memcmp(c.bytes + 4, payload + 5, 3) == 0, "usb: output round trip");

    const bool countKnown = payload[8] >= '2' && payload[8] <= '5';
    check((s.idByteCount != 0) == countKnown, "usb: byte count recognised");
    if (countKnown)
        check(c.bytes[7] == payload[8], "usb: byte count round trip");

    const bool cardsKnown = isOneOf(payload + 9, cardLetters, 3);
    check((s.cardsToRead != CardsToRead::NotRecognized) == cardsKnown, "usb: cards recognised");
    if (cardsKnown)
        check(std::memcmp(c.bytes + 8, payload + 9, 2) == 0, "usb: cards round trip");

    unsigned char again[UsbPayloadLength];
    payloadOf(c, again);
    check(checkFirmwareVersion(ReaderType::Usb, again) == 0, "usb: version accepted");
    const UsbSettings t = decodeUsbSettings(again);
    check(t.operatingMode != OperatingMode::NotRecognized && t.outputFormat != OutputFormat::NotRecognized &&
              t.outputType != OutputType::NotRecognized && t.idByteCount != 0 &&
              t.cardsToRead != CardsToRead::NotRecognized,
          "usb: a sent command decodes in full");
    check(!modeKnown || t.operatingMode == s.operatingMode, "usb: mode survives");
    check(!(typeKnown || touchMemory) || (t.outputFormat == s.outputFormat && t.outputType == s.outputType),
          "usb: output survives");
    check(!countKnown || t.idByteCount == s.idByteCount, "usb: byte count survives");
    check(!cardsKnown || t.cardsToRead == s.cardsToRead, "usb: cards survive");
}
