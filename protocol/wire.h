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

// Classifies a received block of `count` bytes. For a settings reply the
// payload has been moved to the start of `buffer`. The buffer must hold at
// least `count` bytes.
ReplyKind classifyReply(unsigned char *buffer, int count);

// 0 when the first four payload bytes are the supported version, -1 otherwise.
int checkFirmwareVersion(ReaderType type, const unsigned char *payload);

// Decoders read fixed positions: the payload must have at least
// LnxPayloadLength or UsbPayloadLength readable bytes.
LnxSettings decodeLnxSettings(const unsigned char *payload);
UsbSettings decodeUsbSettings(const unsigned char *payload);

WriteCommand encodeWriteCommand(const LnxSettings &settings);
WriteCommand encodeWriteCommand(const UsbSettings &settings);

#endif
