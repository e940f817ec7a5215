// Commands, reply classification and the settings codec of the Tarvik readers.
#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Bytes in a vector of exactly their own size, so that the address sanitizer
// catches any read at or beyond the count.
std::vector<unsigned char> bytesOf(const std::string &text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::string textOf(const unsigned char *bytes, int length)
{
    return std::string(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
}

std::string commandText(const WriteCommand &command)
{
    return textOf(command.bytes, command.length);
}

const char *kindName(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::Unrecognized: return "Unrecognized";
    case ReplyKind::UnknownCommand: return "UnknownCommand";
    case ReplyKind::WriteAck: return "WriteAck";
    case ReplyKind::SettingsReply: return "SettingsReply";
    }
    return "?";
}

// ---------------------------------------------------------------------------
// Read commands

TEST(ReadCommand, LnxIsTheTwelveBytesOfItsCommand)
{
    EXPECT_EQ(textOf(readCommand(ReaderType::Lnx), ReadCommandLength), "AT+READS_LNX");
}

TEST(ReadCommand, UsbIsTheTwelveBytesOfItsCommand)
{
    EXPECT_EQ(textOf(readCommand(ReaderType::Usb), ReadCommandLength), "AT+READS_USB");
}

// ---------------------------------------------------------------------------
// Reply classification

struct ClassifyCase {
    const char *what;
    std::string block;
    ReplyKind expected;
};

const ClassifyCase classifyCases[] = {
    {"empty block", "", ReplyKind::Unrecognized},
    {"no separator", "AT+READS_LNX OK! >> 1.00TMX1DO", ReplyKind::Unrecognized},
    {"only zero bytes", std::string(64, '\0'), ReplyKind::Unrecognized},
    {"separator alone", " - ", ReplyKind::Unrecognized},
    {"separator cut off", " -", ReplyKind::Unrecognized},
    {"acknowledgement cut after O", " - O", ReplyKind::Unrecognized},
    {"acknowledgement cut after OK", " - OK", ReplyKind::Unrecognized},
    {"acknowledgement at the end", " - OK!", ReplyKind::WriteAck},
    {"acknowledgement after an echo", "AT+TMX1DO - OK!", ReplyKind::WriteAck},
    {"acknowledgement with line end", "AT+WHDH5EM - OK!\r\n", ReplyKind::WriteAck},
    {"acknowledgement after zero bytes", std::string("\0\0\0 - OK!", 9), ReplyKind::WriteAck},
    {"introducer cut after space", " - OK! ", ReplyKind::WriteAck},
    {"introducer cut after one >", " - OK! >", ReplyKind::WriteAck},
    {"introducer cut before last space", " - OK! >>", ReplyKind::WriteAck},
    {"introducer with other last byte", " - OK! >>X1.00TMX1DO", ReplyKind::WriteAck},
    {"introducer with one >", " - OK! > 1.00TMX1DO", ReplyKind::WriteAck},
    {"introducer at the very end", " - OK! >> ", ReplyKind::SettingsReply},
    {"settings reply", "AT+READS_LNX - OK! >> 1.00TMX1DO", ReplyKind::SettingsReply},
    {"refusal", " - UNKNOWN CMD!", ReplyKind::UnknownCommand},
    {"refusal after an echo", "AT+READS_XYZ - UNKNOWN CMD!\r\n", ReplyKind::UnknownCommand},
    {"refusal without exclamation mark", " - UNKNOWN CMD", ReplyKind::Unrecognized},
    {"refusal cut after U", " - U", ReplyKind::Unrecognized},
    {"refusal with two spaces", " - UNKNOWN  CMD!", ReplyKind::Unrecognized},
    {"refusal before acknowledgement", " - UNKNOWN CMD! - OK!", ReplyKind::UnknownCommand},
    {"acknowledgement before refusal", " - OK! - UNKNOWN CMD!", ReplyKind::WriteAck},
    {"settings reply before refusal", " - OK! >> 1.00 - UNKNOWN CMD!", ReplyKind::SettingsReply},
    {"lower-case acknowledgement", " - ok!", ReplyKind::Unrecognized},
    {"mixed-case acknowledgement", " - Ok!", ReplyKind::Unrecognized},
    {"lower-case refusal", " - unknown cmd!", ReplyKind::Unrecognized},
    {"lower-case refusal tail", " - Unknown Cmd!", ReplyKind::Unrecognized},
    {"separator with other hyphen", " _ OK!", ReplyKind::Unrecognized},
    // The scan resumes behind the byte that failed, so a separator that
    // begins inside a failed keyword attempt is never seen.
    {"separator directly after separator", " - - OK!", ReplyKind::Unrecognized},
    {"separator inside failed acknowledgement", " - O - OK!", ReplyKind::Unrecognized},
    {"separator inside failed refusal", " - UNKNOWN - OK!", ReplyKind::Unrecognized},
    {"separator overlapping other byte", " -  - OK!", ReplyKind::Unrecognized},
    // A separator that begins behind the failed byte is still found.
    {"marker behind other letter", " - X - OK!", ReplyKind::WriteAck},
    {"marker behind failed acknowledgement", " - OX - OK!", ReplyKind::WriteAck},
    {"marker behind failed refusal", " - UNKNOWN CMD? - OK!", ReplyKind::WriteAck},
    {"refusal behind failed acknowledgement", " - OK? - UNKNOWN CMD!", ReplyKind::UnknownCommand},
};

TEST(ClassifyReply, TableOfBlocks)
{
    for (const ClassifyCase &c : classifyCases) {
        std::vector<unsigned char> block = bytesOf(c.block);
        const std::vector<unsigned char> original = block;
        const int count = static_cast<int>(block.size());
        // Without moving anything: the same kind, and where its parts are.
        ReplyParts parts = findReplyParts(block.data(), count);
        EXPECT_EQ(block, original) << c.what;
        ReplyKind kind = classifyReply(block.data(), count);
        EXPECT_EQ(kind, c.expected) << c.what << ": got " << kindName(kind) << ", expected "
                                    << kindName(c.expected);
        EXPECT_EQ(parts.kind, kind) << c.what;
        if (kind == ReplyKind::Unrecognized) {
            EXPECT_EQ(parts.markerStart, -1) << c.what;
            continue;
        }
        // The marker stands where it says, and the payload is what was moved.
        const std::string marker(original.begin() + parts.markerStart, original.begin() + parts.markerEnd);
        const char *expected = kind == ReplyKind::UnknownCommand ? " - UNKNOWN CMD!"
                               : kind == ReplyKind::WriteAck     ? " - OK!"
                                                                 : " - OK! >> ";
        EXPECT_EQ(marker, expected) << c.what;
        if (kind == ReplyKind::SettingsReply && parts.payloadStart < count)
            EXPECT_TRUE(std::equal(original.begin() + parts.payloadStart, original.end(), block.begin())) << c.what;
    }
}

TEST(ClassifyReply, NegativeCountIsUnrecognized)
{
    unsigned char block[ReplyBufferSize] = {};
    std::memcpy(block, " - OK!", 6);
    EXPECT_EQ(classifyReply(block, -1), ReplyKind::Unrecognized);
    EXPECT_EQ(classifyReply(block, -64), ReplyKind::Unrecognized);
}

// Every prefix of one reply: markers that lie partly behind the count never
// match, even though the bytes are there in the buffer.
TEST(ClassifyReply, BytesBehindTheCountNeverMatch)
{
    const std::string reply = " - OK! >> 1.00TMX1DO";
    const int acknowledged = 6;   // " - OK!"
    const int introduced = 10;    // " - OK! >> "
    for (int count = 0; count <= static_cast<int>(reply.size()); ++count) {
        unsigned char block[ReplyBufferSize] = {};
        std::memcpy(block, reply.data(), reply.size());
        ReplyKind expected = count < acknowledged ? ReplyKind::Unrecognized
                             : count < introduced ? ReplyKind::WriteAck
                                                  : ReplyKind::SettingsReply;
        EXPECT_EQ(classifyReply(block, count), expected) << "count " << count;
    }

    const std::string refusal = " - UNKNOWN CMD!";
    for (int count = 0; count <= static_cast<int>(refusal.size()); ++count) {
        unsigned char block[ReplyBufferSize] = {};
        std::memcpy(block, refusal.data(), refusal.size());
        ReplyKind expected = count == static_cast<int>(refusal.size()) ? ReplyKind::UnknownCommand
                                                                        : ReplyKind::Unrecognized;
        EXPECT_EQ(classifyReply(block, count), expected) << "count " << count;
    }
}

TEST(ClassifyReply, SettingsReplyMovesPayloadToTheStart)
{
    const std::string reply = "AT+READS_LNX - OK! >> 1.00TMX1DO\r\n";
    const std::string payload = "1.00TMX1DO\r\n";
    const int count = static_cast<int>(reply.size());

    unsigned char block[ReplyBufferSize];
    std::memset(block, 0xAA, sizeof block);
    std::memcpy(block, reply.data(), reply.size());
    unsigned char before[ReplyBufferSize];
    std::memcpy(before, block, sizeof block);

    ASSERT_EQ(classifyReply(block, count), ReplyKind::SettingsReply);
    EXPECT_EQ(textOf(block, static_cast<int>(payload.size())), payload);
    // Behind the moved payload nothing is cleared or terminated.
    for (int i = static_cast<int>(payload.size()); i < ReplyBufferSize; ++i)
        EXPECT_EQ(block[i], before[i]) << "byte " << i;
}

TEST(ClassifyReply, MovedPayloadDecodes)
{
    const std::string reply = "junk - OK! >> 1.00WHDD3XM";
    unsigned char block[ReplyBufferSize] = {};
    std::memcpy(block, reply.data(), reply.size());

    ASSERT_EQ(classifyReply(block, static_cast<int>(reply.size())), ReplyKind::SettingsReply);
    EXPECT_EQ(checkFirmwareVersion(ReaderType::Usb, block), 0);
    UsbSettings s = decodeUsbSettings(block);
    EXPECT_EQ(s.operatingMode, OperatingMode::Windows);
    EXPECT_EQ(s.outputFormat, OutputFormat::HexOrDec);
    EXPECT_EQ(s.outputType, OutputType::Dec);
    EXPECT_EQ(s.idByteCount, 3);
    EXPECT_EQ(s.cardsToRead, CardsToRead::MifarePay);
}

TEST(ClassifyReply, OnePayloadByteIsMoved)
{
    const std::string reply = "ab - OK! >> Z";
    unsigned char block[ReplyBufferSize] = {};
    std::memcpy(block, reply.data(), reply.size());

    ASSERT_EQ(classifyReply(block, static_cast<int>(reply.size())), ReplyKind::SettingsReply);
    EXPECT_EQ(textOf(block, static_cast<int>(reply.size())), "Zb - OK! >> Z");
}

TEST(ClassifyReply, IntroducerAtTheEndMovesNothing)
{
    const std::string reply = "1.00 - OK! >> ";
    unsigned char block[ReplyBufferSize];
    std::memset(block, 0x55, sizeof block);
    std::memcpy(block, reply.data(), reply.size());
    unsigned char before[ReplyBufferSize];
    std::memcpy(before, block, sizeof block);

    ASSERT_EQ(classifyReply(block, static_cast<int>(reply.size())), ReplyKind::SettingsReply);
    EXPECT_EQ(std::memcmp(block, before, sizeof block), 0);
}

TEST(ClassifyReply, OtherKindsLeaveTheBufferAlone)
{
    const char *replies[] = {" - OK!", " - OK! >>", " - UNKNOWN CMD! >> 1.00", "nothing >> 1.00"};
    for (const char *reply : replies) {
        unsigned char block[ReplyBufferSize] = {};
        std::memcpy(block, reply, std::strlen(reply));
        unsigned char before[ReplyBufferSize];
        std::memcpy(before, block, sizeof block);
        ASSERT_NE(classifyReply(block, static_cast<int>(std::strlen(reply))), ReplyKind::SettingsReply)
            << reply;
        EXPECT_EQ(std::memcmp(block, before, sizeof block), 0) << reply;
    }
}

// ---------------------------------------------------------------------------
// Firmware version

struct VersionCase {
    std::string payload;
    int expected;
};

const VersionCase versionCases[] = {
    {"1.00TMX1DO", 0},
    {"1.00WHDH5EM", 0},
    {"1.00", 0},
    {"1.01TMX1DO", -1},
    {"1.01WHDH5EM", -1},
    {"0.00", -1},
    {"2.00", -1},
    {"1,00", -1},
    {"1.0 ", -1},
    {" 1.0", -1},
    {std::string("1.0\0", 4), -1},
    {std::string("\0\0\0\0", 4), -1},
    {"TMX1DO1.00", -1},
};

TEST(CheckFirmwareVersion, TableOfPayloadsForBothReaders)
{
    for (const VersionCase &c : versionCases) {
        std::vector<unsigned char> payload = bytesOf(c.payload);
        EXPECT_EQ(checkFirmwareVersion(ReaderType::Lnx, payload.data()), c.expected) << "Lnx " << c.payload;
        EXPECT_EQ(checkFirmwareVersion(ReaderType::Usb, payload.data()), c.expected) << "Usb " << c.payload;
    }
}

// ---------------------------------------------------------------------------
// Lnx decoding

struct LnxDecodeCase {
    std::string payload;
    LnxInterface readerInterface;
    IndicationControl indicationControl;
    StandbyIndication standbyIndication;
    TouchButtonPoll touchButtonPoll;
};

constexpr LnxInterface LnxNR = LnxInterface::NotRecognized;
constexpr IndicationControl IndNR = IndicationControl::NotRecognized;
constexpr StandbyIndication StbNR = StandbyIndication::NotRecognized;
constexpr TouchButtonPoll PollNR = TouchButtonPoll::NotRecognized;

const LnxDecodeCase lnxDecodeCases[] = {
    {"1.00TMX1DO", LnxInterface::TouchMemory, IndicationControl::Direct, StandbyIndication::Dynamic,
     TouchButtonPoll::On},
    {"1.00W260SF", LnxInterface::Wiegand26, IndicationControl::Inverse, StandbyIndication::Static,
     TouchButtonPoll::Off},
    {"1.00W441AO", LnxInterface::Wiegand44, IndicationControl::Direct, StandbyIndication::Off,
     TouchButtonPoll::On},
    // One unknown field does not disturb the others.
    {"1.00TMXxDO", LnxInterface::TouchMemory, IndNR, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00TMX1xO", LnxInterface::TouchMemory, IndicationControl::Direct, StbNR, TouchButtonPoll::On},
    {"1.00TMX1Dx", LnxInterface::TouchMemory, IndicationControl::Direct, StandbyIndication::Dynamic, PollNR},
    {"1.00TMY0SF", LnxNR, IndicationControl::Inverse, StandbyIndication::Static, TouchButtonPoll::Off},
    // Interface spellings that are not recognised.
    {"1.00TXX1DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00T261DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00W271DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00W461DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00W241DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00W361DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00WMX1DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    {"1.00X261DO", LnxNR, IndicationControl::Direct, StandbyIndication::Dynamic, TouchButtonPoll::On},
    // Lower case is never recognised.
    {"1.00tmx1do", LnxNR, IndicationControl::Direct, StbNR, PollNR},
    {"1.00w26?ds", LnxNR, IndNR, StbNR, PollNR},
    // Letters of the other reader are not accepted either.
    {"1.00HDH2EM", LnxNR, IndNR, StbNR, PollNR},
    {std::string("1.00\0\0\0\0\0\0", 10), LnxNR, IndNR, StbNR, PollNR},
};

TEST(DecodeLnxSettings, TableOfPayloads)
{
    for (const LnxDecodeCase &c : lnxDecodeCases) {
        std::vector<unsigned char> payload = bytesOf(c.payload);
        ASSERT_EQ(payload.size(), static_cast<size_t>(LnxPayloadLength));
        LnxSettings s = decodeLnxSettings(payload.data());
        EXPECT_EQ(s.readerInterface, c.readerInterface) << c.payload;
        EXPECT_EQ(s.indicationControl, c.indicationControl) << c.payload;
        EXPECT_EQ(s.standbyIndication, c.standbyIndication) << c.payload;
        EXPECT_EQ(s.touchButtonPoll, c.touchButtonPoll) << c.payload;
    }
}

TEST(DecodeLnxSettings, VersionIsTakenAsItIs)
{
    std::vector<unsigned char> payload = bytesOf("9.x7TMX1DO");
    LnxSettings s = decodeLnxSettings(payload.data());
    EXPECT_EQ(textOf(reinterpret_cast<const unsigned char *>(s.firmwareVersion), FirmwareVersionLength), "9.x7");
    EXPECT_EQ(s.readerInterface, LnxInterface::TouchMemory);
}

// ---------------------------------------------------------------------------
// Usb decoding

struct UsbDecodeCase {
    std::string payload;
    OperatingMode operatingMode;
    OutputFormat outputFormat;
    OutputType outputType;
    int idByteCount;
    CardsToRead cardsToRead;
};

constexpr OperatingMode ModeNR = OperatingMode::NotRecognized;
constexpr OutputFormat FmtNR = OutputFormat::NotRecognized;
constexpr OutputType TypeNR = OutputType::NotRecognized;
constexpr CardsToRead CardsNR = CardsToRead::NotRecognized;

const UsbDecodeCase usbDecodeCases[] = {
    {"1.00WHDH5EM", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsToRead::All},
    {"1.00AHDD4EX", OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, 4, CardsToRead::HidEm},
    {"1.00WTMX3XM", OperatingMode::Windows, OutputFormat::TouchMemory, OutputType::Absent, 3,
     CardsToRead::MifarePay},
    {"1.00ATMX2EM", OperatingMode::AllOs, OutputFormat::TouchMemory, OutputType::Absent, 2, CardsToRead::All},
    // The format is recognised while the type behind it is not.
    {"1.00WHDX5EM", OperatingMode::Windows, OutputFormat::HexOrDec, TypeNR, 5, CardsToRead::All},
    {"1.00WHDh5EM", OperatingMode::Windows, OutputFormat::HexOrDec, TypeNR, 5, CardsToRead::All},
    // Output groups that are not recognised carry no type.
    {"1.00WHXH5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00WDDH5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00WTMY5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00WTXX5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00WTDH5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00Whdh5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    {"1.00Wtmx5EM", OperatingMode::Windows, FmtNR, OutputType::Absent, 5, CardsToRead::All},
    // Byte counts outside 2 to 5.
    {"1.00WHDH1EM", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 0, CardsToRead::All},
    {"1.00WHDH6EM", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 0, CardsToRead::All},
    {"1.00WHDH0EM", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 0, CardsToRead::All},
    {"1.00WHDHxEM", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 0, CardsToRead::All},
    // Card letters that are not recognised.
    {"1.00WHDH5EY", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    {"1.00WHDH5EE", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    {"1.00WHDH5XE", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    {"1.00WHDH5XX", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    {"1.00WHDH5ME", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    {"1.00WHDH5em", OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsNR},
    // Operating mode alone unknown, then everything unknown.
    {"1.00wHDD2XM", ModeNR, OutputFormat::HexOrDec, OutputType::Dec, 2, CardsToRead::MifarePay},
    {"1.00TMX1DO?", ModeNR, FmtNR, OutputType::Absent, 0, CardsNR},
    {std::string("1.00\0\0\0\0\0\0\0", 11), ModeNR, FmtNR, OutputType::Absent, 0, CardsNR},
};

TEST(DecodeUsbSettings, TableOfPayloads)
{
    for (const UsbDecodeCase &c : usbDecodeCases) {
        std::vector<unsigned char> payload = bytesOf(c.payload);
        ASSERT_EQ(payload.size(), static_cast<size_t>(UsbPayloadLength));
        UsbSettings s = decodeUsbSettings(payload.data());
        EXPECT_EQ(s.operatingMode, c.operatingMode) << c.payload;
        EXPECT_EQ(s.outputFormat, c.outputFormat) << c.payload;
        EXPECT_EQ(s.outputType, c.outputType) << c.payload;
        EXPECT_EQ(s.idByteCount, c.idByteCount) << c.payload;
        EXPECT_EQ(s.cardsToRead, c.cardsToRead) << c.payload;
    }
}

TEST(DecodeUsbSettings, VersionIsTakenAsItIs)
{
    std::vector<unsigned char> payload = bytesOf("1.01WHDH5EM");
    UsbSettings s = decodeUsbSettings(payload.data());
    EXPECT_EQ(textOf(reinterpret_cast<const unsigned char *>(s.firmwareVersion), FirmwareVersionLength), "1.01");
}

// ---------------------------------------------------------------------------
// Encoding

LnxSettings lnxRecord(LnxInterface i, IndicationControl c, StandbyIndication s, TouchButtonPoll p)
{
    LnxSettings r;
    std::memcpy(r.firmwareVersion, "1.00", FirmwareVersionLength);
    r.readerInterface = i;
    r.indicationControl = c;
    r.standbyIndication = s;
    r.touchButtonPoll = p;
    return r;
}

UsbSettings usbRecord(OperatingMode m, OutputFormat f, OutputType t, int n, CardsToRead c)
{
    UsbSettings r;
    std::memcpy(r.firmwareVersion, "1.00", FirmwareVersionLength);
    r.operatingMode = m;
    r.outputFormat = f;
    r.outputType = t;
    r.idByteCount = n;
    r.cardsToRead = c;
    return r;
}

TEST(EncodeWriteCommand, ExamplesOfBothReaders)
{
    WriteCommand lnx = encodeWriteCommand(lnxRecord(LnxInterface::TouchMemory, IndicationControl::Direct,
                                                    StandbyIndication::Dynamic, TouchButtonPoll::On));
    EXPECT_EQ(lnx.length, LnxWriteCommandLength);
    EXPECT_EQ(commandText(lnx), "AT+TMX1DO");

    WriteCommand usb = encodeWriteCommand(
        usbRecord(OperatingMode::Windows, OutputFormat::HexOrDec, OutputType::Hex, 5, CardsToRead::All));
    EXPECT_EQ(usb.length, UsbWriteCommandLength);
    EXPECT_EQ(commandText(usb), "AT+WHDH5EM");
}

TEST(EncodeWriteCommand, TouchMemoryIgnoresTheOutputType)
{
    const OutputType types[] = {OutputType::Hex, OutputType::Dec, OutputType::Absent, OutputType::NotRecognized};
    for (OutputType t : types) {
        WriteCommand c = encodeWriteCommand(
            usbRecord(OperatingMode::AllOs, OutputFormat::TouchMemory, t, 2, CardsToRead::HidEm));
        EXPECT_EQ(commandText(c), "AT+ATMX2EX") << static_cast<int>(t);
    }
}

// A field not recognised is written as the page's default choice.
struct LnxDefaultCase {
    LnxSettings record;
    const char *expected;
};

TEST(EncodeWriteCommand, LnxUnrecognisedFieldsBecomeDefaults)
{
    const LnxDefaultCase cases[] = {
        {lnxRecord(LnxNR, IndicationControl::Inverse, StandbyIndication::Static, TouchButtonPoll::Off),
         "AT+TMX0SF"},
        {lnxRecord(LnxInterface::Wiegand44, IndNR, StandbyIndication::Static, TouchButtonPoll::Off),
         "AT+W441SF"},
        {lnxRecord(LnxInterface::Wiegand44, IndicationControl::Inverse, StbNR, TouchButtonPoll::Off),
         "AT+W440AF"},
        {lnxRecord(LnxInterface::Wiegand44, IndicationControl::Inverse, StandbyIndication::Static, PollNR),
         "AT+W440SO"},
        {lnxRecord(LnxNR, IndNR, StbNR, PollNR), "AT+TMX1AO"},
    };
    for (const LnxDefaultCase &c : cases) {
        WriteCommand command = encodeWriteCommand(c.record);
        EXPECT_EQ(command.length, LnxWriteCommandLength) << c.expected;
        EXPECT_EQ(commandText(command), c.expected);
    }
}

struct UsbDefaultCase {
    UsbSettings record;
    const char *expected;
};

TEST(EncodeWriteCommand, UsbUnrecognisedFieldsBecomeDefaults)
{
    const UsbDefaultCase cases[] = {
        {usbRecord(ModeNR, OutputFormat::HexOrDec, OutputType::Dec, 3, CardsToRead::MifarePay), "AT+WHDD3XM"},
        {usbRecord(OperatingMode::AllOs, FmtNR, OutputType::Absent, 3, CardsToRead::MifarePay), "AT+AHDH3XM"},
        {usbRecord(OperatingMode::AllOs, FmtNR, OutputType::Dec, 3, CardsToRead::MifarePay), "AT+AHDH3XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, TypeNR, 3, CardsToRead::MifarePay),
         "AT+AHDH3XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Absent, 3, CardsToRead::MifarePay),
         "AT+AHDH3XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, 0, CardsToRead::MifarePay),
         "AT+AHDD5XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, 1, CardsToRead::MifarePay),
         "AT+AHDD5XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, 6, CardsToRead::MifarePay),
         "AT+AHDD5XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, -3, CardsToRead::MifarePay),
         "AT+AHDD5XM"},
        {usbRecord(OperatingMode::AllOs, OutputFormat::HexOrDec, OutputType::Dec, 3, CardsNR), "AT+AHDD3EM"},
        {usbRecord(ModeNR, FmtNR, TypeNR, 0, CardsNR), "AT+WHDH5EM"},
    };
    for (const UsbDefaultCase &c : cases) {
        WriteCommand command = encodeWriteCommand(c.record);
        EXPECT_EQ(command.length, UsbWriteCommandLength) << c.expected;
        EXPECT_EQ(commandText(command), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Round trips over every combination of recognised values

const char *const lnxInterfaces[] = {"TMX", "W26", "W44"};
const char *const lnxIndications[] = {"1", "0"};
const char *const lnxStandbys[] = {"D", "S", "A"};
const char *const lnxPolls[] = {"O", "F"};

const char *const usbModes[] = {"W", "A"};
const char *const usbOutputs[] = {"HDH", "HDD", "TMX"};
const char *const usbCounts[] = {"5", "4", "3", "2"};
const char *const usbCards[] = {"EM", "EX", "XM"};

std::vector<std::string> allLnxLetters()
{
    std::vector<std::string> all;
    for (const char *i : lnxInterfaces)
        for (const char *c : lnxIndications)
            for (const char *s : lnxStandbys)
                for (const char *p : lnxPolls)
                    all.push_back(std::string(i) + c + s + p);
    return all;
}

std::vector<std::string> allUsbLetters()
{
    std::vector<std::string> all;
    for (const char *m : usbModes)
        for (const char *o : usbOutputs)
            for (const char *n : usbCounts)
                for (const char *c : usbCards)
                    all.push_back(std::string(m) + o + n + c);
    return all;
}

void expectSameRecord(const LnxSettings &a, const LnxSettings &b, const std::string &what)
{
    EXPECT_EQ(std::memcmp(a.firmwareVersion, b.firmwareVersion, FirmwareVersionLength), 0) << what;
    EXPECT_EQ(a.readerInterface, b.readerInterface) << what;
    EXPECT_EQ(a.indicationControl, b.indicationControl) << what;
    EXPECT_EQ(a.standbyIndication, b.standbyIndication) << what;
    EXPECT_EQ(a.touchButtonPoll, b.touchButtonPoll) << what;
}

void expectSameRecord(const UsbSettings &a, const UsbSettings &b, const std::string &what)
{
    EXPECT_EQ(std::memcmp(a.firmwareVersion, b.firmwareVersion, FirmwareVersionLength), 0) << what;
    EXPECT_EQ(a.operatingMode, b.operatingMode) << what;
    EXPECT_EQ(a.outputFormat, b.outputFormat) << what;
    EXPECT_EQ(a.outputType, b.outputType) << what;
    EXPECT_EQ(a.idByteCount, b.idByteCount) << what;
    EXPECT_EQ(a.cardsToRead, b.cardsToRead) << what;
}

TEST(RoundTrip, LnxPayloadDecodesAndEncodesBackForEveryCombination)
{
    std::vector<std::string> all = allLnxLetters();
    ASSERT_EQ(all.size(), 36u);
    for (const std::string &letters : all) {
        std::vector<unsigned char> payload = bytesOf("1.00" + letters);
        LnxSettings s = decodeLnxSettings(payload.data());
        EXPECT_NE(s.readerInterface, LnxNR) << letters;
        EXPECT_NE(s.indicationControl, IndNR) << letters;
        EXPECT_NE(s.standbyIndication, StbNR) << letters;
        EXPECT_NE(s.touchButtonPoll, PollNR) << letters;
        WriteCommand command = encodeWriteCommand(s);
        EXPECT_EQ(commandText(command), "AT+" + letters);
    }
}

TEST(RoundTrip, LnxRecordEncodesAndDecodesBackForEveryCombination)
{
    const LnxInterface interfaces[] = {LnxInterface::TouchMemory, LnxInterface::Wiegand26,
                                       LnxInterface::Wiegand44};
    const IndicationControl indications[] = {IndicationControl::Direct, IndicationControl::Inverse};
    const StandbyIndication standbys[] = {StandbyIndication::Dynamic, StandbyIndication::Static,
                                          StandbyIndication::Off};
    const TouchButtonPoll polls[] = {TouchButtonPoll::On, TouchButtonPoll::Off};
    int combinations = 0;
    for (LnxInterface i : interfaces)
        for (IndicationControl c : indications)
            for (StandbyIndication s : standbys)
                for (TouchButtonPoll p : polls) {
                    LnxSettings record = lnxRecord(i, c, s, p);
                    WriteCommand command = encodeWriteCommand(record);
                    ASSERT_EQ(command.length, LnxWriteCommandLength);
                    std::string text = commandText(command);
                    ASSERT_EQ(text.substr(0, 3), "AT+");
                    std::vector<unsigned char> payload = bytesOf("1.00" + text.substr(3));
                    ASSERT_EQ(payload.size(), static_cast<size_t>(LnxPayloadLength));
                    expectSameRecord(decodeLnxSettings(payload.data()), record, text);
                    ++combinations;
                }
    EXPECT_EQ(combinations, 36);
}

TEST(RoundTrip, UsbPayloadDecodesAndEncodesBackForEveryCombination)
{
    std::vector<std::string> all = allUsbLetters();
    ASSERT_EQ(all.size(), 72u);
    for (const std::string &letters : all) {
        std::vector<unsigned char> payload = bytesOf("1.00" + letters);
        UsbSettings s = decodeUsbSettings(payload.data());
        EXPECT_NE(s.operatingMode, ModeNR) << letters;
        EXPECT_NE(s.outputFormat, FmtNR) << letters;
        EXPECT_NE(s.outputType, TypeNR) << letters;
        EXPECT_NE(s.idByteCount, 0) << letters;
        EXPECT_NE(s.cardsToRead, CardsNR) << letters;
        WriteCommand command = encodeWriteCommand(s);
        EXPECT_EQ(commandText(command), "AT+" + letters);
    }
}

TEST(RoundTrip, UsbRecordEncodesAndDecodesBackForEveryCombination)
{
    struct Output {
        OutputFormat format;
        OutputType type;
    };
    const OperatingMode modes[] = {OperatingMode::Windows, OperatingMode::AllOs};
    const Output outputs[] = {{OutputFormat::HexOrDec, OutputType::Hex},
                              {OutputFormat::HexOrDec, OutputType::Dec},
                              {OutputFormat::TouchMemory, OutputType::Absent}};
    const int counts[] = {2, 3, 4, 5};
    const CardsToRead cards[] = {CardsToRead::All, CardsToRead::HidEm, CardsToRead::MifarePay};
    int combinations = 0;
    for (OperatingMode m : modes)
        for (const Output &o : outputs)
            for (int n : counts)
                for (CardsToRead c : cards) {
                    UsbSettings record = usbRecord(m, o.format, o.type, n, c);
                    WriteCommand command = encodeWriteCommand(record);
                    ASSERT_EQ(command.length, UsbWriteCommandLength);
                    std::string text = commandText(command);
                    ASSERT_EQ(text.substr(0, 3), "AT+");
                    std::vector<unsigned char> payload = bytesOf("1.00" + text.substr(3));
                    ASSERT_EQ(payload.size(), static_cast<size_t>(UsbPayloadLength));
                    expectSameRecord(decodeUsbSettings(payload.data()), record, text);
                    ++combinations;
                }
    EXPECT_EQ(combinations, 72);
}

// A whole read reply, as the reader sends it, for every combination.
TEST(RoundTrip, FullReadRepliesClassifyCheckAndDecode)
{
    for (const std::string &letters : allLnxLetters()) {
        std::string reply = "AT+READS_LNX - OK! >> 1.00" + letters + "\r\n";
        unsigned char block[ReplyBufferSize] = {};
        std::memcpy(block, reply.data(), reply.size());
        ASSERT_EQ(classifyReply(block, static_cast<int>(reply.size())), ReplyKind::SettingsReply) << reply;
        EXPECT_EQ(checkFirmwareVersion(ReaderType::Lnx, block), 0) << reply;
        EXPECT_EQ(commandText(encodeWriteCommand(decodeLnxSettings(block))), "AT+" + letters);
    }
    for (const std::string &letters : allUsbLetters()) {
        std::string reply = "AT+READS_USB - OK! >> 1.00" + letters + "\r\n";
        unsigned char block[ReplyBufferSize] = {};
        std::memcpy(block, reply.data(), reply.size());
        ASSERT_EQ(classifyReply(block, static_cast<int>(reply.size())), ReplyKind::SettingsReply) << reply;
        EXPECT_EQ(checkFirmwareVersion(ReaderType::Usb, block), 0) << reply;
        EXPECT_EQ(commandText(encodeWriteCommand(decodeUsbSettings(block))), "AT+" + letters);
    }
}

}  // namespace
