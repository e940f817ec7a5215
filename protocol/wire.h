// Commands and replies of the Tarvik readers, and the two settings records.
// Plain C++ over bytes: no Windows headers here, so this builds natively too.
#ifndef VELMORA_PROTOCOL_WIRE_H
#define VELMORA_PROTOCOL_WIRE_H

#include <cstdint>

// The reader kind; also the tab index and the "TabCtrl" line of appconfig.ini.
enum class ReaderType : int { Lnx = 0, Usb = 1 };

enum class ReplyKind : int {
    Unrecognized = 0,    // no marker (also an empty block)
    UnknownCommand = 1,  // " - UNKNOWN CMD!"
    WriteAck = 2,        // " - OK!" not followed by " >> "
    SettingsReply = 3,   // " - OK! >> " and the payload
};

// Every field enumeration ends in NotRecognized: the decoder marks a field it
// cannot read and goes on with the next one.
enum class LnxInterface : std::uint8_t { TouchMemory, Wiegand26, Wiegand44, NotRecognized };
enum class IndicationControl : std::uint8_t { Direct, Inverse, NotRecognized };
enum class StandbyIndication : std::uint8_t { Dynamic, Static, Off, NotRecognized };
enum class TouchButtonPoll : std::uint8_t { On, Off, NotRecognized };
enum class OperatingMode : std::uint8_t { Windows, AllOs, NotRecognized };
enum class OutputFormat : std::uint8_t { HexOrDec, TouchMemory, NotRecognized };
// Absent: the format carries no type (Touch Memory, or a format not recognised).
enum class OutputType : std::uint8_t { Hex, Dec, Absent, NotRecognized };
enum class CardsToRead : std::uint8_t { All, HidEm, MifarePay, NotRecognized };

constexpr int FirmwareVersionLength = 4;
constexpr int ReadCommandLength = 12;
constexpr int LnxWriteCommandLength = 9;
constexpr int UsbWriteCommandLength = 10;
constexpr int LnxPayloadLength = 10;
constexpr int UsbPayloadLength = 11;
constexpr int ReplyBufferSize = 64;

// The firmware release both reader kinds run, and the only one written to.
constexpr char SupportedFirmwareVersion[FirmwareVersionLength + 1] = "1.00";

// Commands begin with "AT+"; the two read commands with "AT+READS_".
constexpr char CommandPrefix[] = "AT+";
constexpr char ReadCommandPrefix[] = "AT+READS_";
constexpr int ReadCommandPrefixLength = sizeof ReadCommandPrefix - 1;

// Reply markers, in the order they stand in a reply: the separator, then the
// acknowledgement or the refusal, then (in a settings reply) the introducer
// of the payload.
constexpr char ReplySeparator[] = " - ";
constexpr char ReplyAcknowledgement[] = "OK!";
constexpr char ReplyRefusal[] = "UNKNOWN CMD!";
constexpr char PayloadIntroducer[] = " >> ";
constexpr int ReplySeparatorLength = sizeof ReplySeparator - 1;
constexpr int ReplyAcknowledgementLength = sizeof ReplyAcknowledgement - 1;
constexpr int ReplyRefusalLength = sizeof ReplyRefusal - 1;
constexpr int PayloadIntroducerLength = sizeof PayloadIntroducer - 1;

struct LnxSettings {
    char firmwareVersion[FirmwareVersionLength];  // not terminated
    LnxInterface readerInterface;
    IndicationControl indicationControl;
    StandbyIndication standbyIndication;
    TouchButtonPoll touchButtonPoll;
};

struct UsbSettings {
    char firmwareVersion[FirmwareVersionLength];  // not terminated
    OperatingMode operatingMode;
    OutputFormat outputFormat;
    OutputType outputType;
    int idByteCount;  // 2 to 5; 0 when not recognised
    CardsToRead cardsToRead;
};

struct WriteCommand {
    unsigned char bytes[UsbWriteCommandLength];
    int length;  // 9 for the Lnx reader, 10 for the Usb reader
};

// The 12 bytes "AT+READS_LNX" or "AT+READS_USB" (not terminated).
const unsigned char *readCommand(ReaderType type);

// Where the parts of a reply are. The first complete marker decides.
struct ReplyParts {
    ReplyKind kind = ReplyKind::Unrecognized;
    int markerStart = -1;   // the separator that decided; -1 when unrecognised
    int markerEnd = -1;     // one past "OK!", "UNKNOWN CMD!" or " >> "
    int payloadStart = -1;  // settings reply: where the payload begins (may be `count`)
};

// Classifies a received block of `count` bytes without changing it.
ReplyParts findReplyParts(const unsigned char *buffer, int count);

// Classifies a received block of `count` bytes. For a settings reply the
// payload has been moved to the start of `buffer`. The buffer must hold at
// least `count` bytes.
ReplyKind classifyReply(unsigned char *buffer, int count);

// The supported version of the kind: SupportedFirmwareVersion for both.
const char *supportedFirmwareVersion(ReaderType type);

// 0 when the first four payload bytes are the supported version, -1 otherwise.
int checkFirmwareVersion(ReaderType type, const unsigned char *payload);

// Decoders read fixed positions: the payload must have at least
// LnxPayloadLength or UsbPayloadLength readable bytes.
LnxSettings decodeLnxSettings(const unsigned char *payload);
UsbSettings decodeUsbSettings(const unsigned char *payload);

WriteCommand encodeWriteCommand(const LnxSettings &settings);
WriteCommand encodeWriteCommand(const UsbSettings &settings);

#endif
