// The reader transactions for the page, as a state machine fed bytes and
// time: the script asks what to do next (send these bytes, wait until a time
// or for bytes, or stop), does it with the browser's port and reports back.
// Every rule (reply complete, identification, compare, write, acknowledgement,
// read-back) lives here, over protocol/, so the page keeps the console tool's
// rules; the script only moves bytes and time.
#include <cstring>
#include <new>

#include "protocol/settings_table.h"
#include "protocol/wire.h"

#if defined(__wasm__)
#define EXPORT(name) extern "C" __attribute__((export_name(name)))
#else
#define EXPORT(name) extern "C"  // the same entry points natively, for the tests
#endif

namespace {

// Apply writes only what differs; Write (the WRITE button) always writes
// once the reader is identified, and both read the settings back.
enum Operation { OpRead = 0, OpApply = 1, OpVerify = 2, OpWrite = 3 };
enum Action { ActSend = 1, ActWait = 2, ActDone = 3 };
// Why a transaction ended as it did, for the page's messages.
enum Detail {
    DetailNone = 0,
    DetailSilent = 1,
    DetailGarbled = 2,
    DetailUnknownCommand = 3,
    DetailFirmware = 4,
    DetailUnrecognised = 5,
    DetailLinkLost = 6,
    DetailNoAck = 7,
};
// Same order as the console tool's statuses.
enum Status { StRead, StUnchanged, StVerified, StMismatch, StNoReader, StWrongReader, StRefused, StLinkLost };

enum Phase { Idle, SendRead, WaitRead, SendWrite, WaitAck, SendReadBack, WaitReadBack, Finished };

constexpr int ReplyTimeoutMs = 1000;
const char PayloadIntroducer[] = " >> ";

unsigned char io[256];  // shared with the script: bytes in and out

// One transaction per port; ports are served side by side.
struct Machine {
    Operation op = OpRead;
    ReaderType kind = ReaderType::Lnx;
    Phase phase = Idle;
    SettingsValues profile;
    SettingsValues before, after;
    bool hasBefore = false, hasAfter = false, wrote = false;
    int status = StNoReader;
    int detail = DetailNone;
    char firmware[FirmwareVersionLength + 1] = {};
    unsigned char payload[UsbPayloadLength] = {};
    unsigned char block[ReplyBufferSize] = {};
    int blockCount = 0;
    int outLength = 0;
    double deadline = 0;
};

constexpr int MaxSlots = 64;
// Zeroed storage, each machine built when its slot is first chosen, so the
// module carries no image of 64 machines.
alignas(Machine) unsigned char pool[MaxSlots][sizeof(Machine)];
bool built[MaxSlots];
Machine *current = nullptr;
#define m (*current)
#define block (m.block)
#define blockCount (m.blockCount)
#define outLength (m.outLength)
#define deadline (m.deadline)

int payloadLength(ReaderType kind) { return kind == ReaderType::Usb ? UsbPayloadLength : LnxPayloadLength; }

int markerEnd(int count, ReplyKind kind)
{
    unsigned char scratch[ReplyBufferSize];
    for (int n = 1; n <= count; ++n) {
        std::memcpy(scratch, block, static_cast<size_t>(n));
        if (classifyReply(scratch, n) == kind)
            return n;
    }
    return 0;
}

ReplyKind classifyBlock()
{
    unsigned char scratch[ReplyBufferSize];
    std::memcpy(scratch, block, static_cast<size_t>(blockCount));
    return classifyReply(scratch, blockCount);
}

// Whether the bytes so far make a whole reply to what was sent.
bool replyComplete(bool expectSettings)
{
    ReplyKind kind = classifyBlock();
    switch (kind) {
    case ReplyKind::UnknownCommand:
        return true;
    case ReplyKind::SettingsReply:
        return blockCount - markerEnd(blockCount, kind) >= payloadLength(m.kind);
    case ReplyKind::WriteAck: {
        if (!expectSettings)
            return true;
        int end = markerEnd(blockCount, kind);
        int behind = blockCount - end;
        return !(behind < 4 && std::memcmp(block + end, PayloadIntroducer, static_cast<size_t>(behind)) == 0);
    }
    default:
        return false;
    }
}

// Nothing but line ends may follow a reply: a port that keeps sending is
// no reader to be written to.
bool noiseBehind(ReplyKind kind)
{
    int end = markerEnd(blockCount, kind);
    if (kind == ReplyKind::SettingsReply)
        end += payloadLength(m.kind);
    for (int i = end; i < blockCount; ++i)
        if (block[i] != '\r' && block[i] != '\n')
            return true;
    return false;
}

void finish(int status, int detail)
{
    m.status = status;
    m.detail = detail;
    m.phase = Finished;
}

void prepareSend(const unsigned char *bytes, int length, Phase next)
{
    std::memcpy(io, bytes, static_cast<size_t>(length));
    outLength = length;
    blockCount = 0;
    m.phase = next;
}

void sendRead(Phase next) { prepareSend(readCommand(m.kind), ReadCommandLength, next); }

// A read reply: settings out of it, or the reason there are none.
bool takeSettings(SettingsValues &into, bool first)
{
    ReplyKind kind = classifyBlock();
    if (blockCount == 0) {
        finish(first ? StNoReader : StLinkLost, first ? DetailSilent : DetailLinkLost);
        return false;
    }
    if (kind == ReplyKind::UnknownCommand) {
        finish(first ? StWrongReader : StMismatch, DetailUnknownCommand);
        return false;
    }
    if (kind != ReplyKind::SettingsReply || !replyComplete(true) || noiseBehind(kind)) {
        finish(first ? StNoReader : StMismatch, DetailGarbled);
        return false;
    }
    int start = markerEnd(blockCount, kind);
    std::memcpy(m.payload, block + start, static_cast<size_t>(payloadLength(m.kind)));
    if (first) {
        std::memcpy(m.firmware, m.payload, FirmwareVersionLength);
        m.firmware[FirmwareVersionLength] = 0;
    }
    if (checkFirmwareVersion(m.kind, m.payload) != 0) {
        finish(StWrongReader, DetailFirmware);
        return false;
    }
    into = settingsFromPayload(m.kind, m.payload);
    return true;
}

void afterRead()
{
    if (!takeSettings(m.before, true))
        return;
    m.hasBefore = true;
    if (!readerIdentified(m.kind, m.payload)) {
        // The settings are shown as far as they were recognised; nothing is
        // ever written to such a reader.
        finish(m.op == OpRead ? StRead : StWrongReader, DetailUnrecognised);
        return;
    }
    if (m.op == OpRead)
        return finish(StRead, DetailNone);
    if (m.op == OpVerify)
        return finish(m.before == m.profile ? StVerified : StMismatch, DetailNone);
    if (!settingsComplete(m.profile))
        return finish(StRefused, DetailNone);  // never half a write
    if (m.op == OpApply && m.before == m.profile) {
        m.after = m.before;
        m.hasAfter = true;
        return finish(StUnchanged, DetailNone);
    }
    WriteCommand command = writeCommandFor(m.profile);
    prepareSend(command.bytes, command.length, SendWrite);
}

void afterAck()
{
    ReplyKind kind = classifyBlock();
    if (blockCount == 0)
        return finish(StLinkLost, DetailNoAck);
    if (kind == ReplyKind::UnknownCommand)
        return finish(StRefused, DetailUnknownCommand);
    if (kind != ReplyKind::WriteAck)
        return finish(StRefused, DetailGarbled);
    sendRead(SendReadBack);
}

void afterReadBack()
{
    if (!takeSettings(m.after, false))
        return;
    m.hasAfter = true;
    finish(m.after == m.profile ? StVerified : StMismatch, DetailNone);
}

}  // namespace

EXPORT("vm_io") unsigned char *vmIo() { return io; }

// The port's transaction the next calls are about; false for a slot out of range.
EXPORT("vm_select") int vmSelect(int slot)
{
    if (slot < 0 || slot >= MaxSlots)
        return 0;
    current = reinterpret_cast<Machine *>(pool[slot]);
    if (!built[slot]) {
        new (current) Machine();
        built[slot] = true;
    }
    return 1;
}

// Starts a transaction on one port. For apply and verify, the profile's
// value indices are set first with vm_profile.
EXPORT("vm_begin") void vmBegin(int kind, int op)
{
    SettingsValues profile = m.profile;
    m = Machine();  // a fresh transaction keeps only the profile set for it
    m.kind = kind == 1 ? ReaderType::Usb : ReaderType::Lnx;
    m.op = static_cast<Operation>(op);
    m.profile = profile;
    m.profile.kind = m.kind;
    sendRead(SendRead);
}

EXPORT("vm_profile") void vmProfile(int kind, int field, int value)
{
    m.profile.kind = kind == 1 ? ReaderType::Usb : ReaderType::Lnx;
    if (field >= 0 && field < MaxSettingFields)
        m.profile.value[field] = value;
}

EXPORT("vm_profile_complete") int vmProfileComplete() { return settingsComplete(m.profile) ? 1 : 0; }

// What to do now: send io[0..vm_length) (then call vm_sent), wait until
// vm_deadline for bytes, or stop.
EXPORT("vm_next") int vmNext()
{
    switch (m.phase) {
    case SendRead:
    case SendWrite:
    case SendReadBack:
        return ActSend;
    case WaitRead:
    case WaitAck:
    case WaitReadBack:
        return ActWait;
    default:
        return ActDone;
    }
}

EXPORT("vm_length") int vmLength() { return outLength; }
EXPORT("vm_deadline") double vmDeadline() { return deadline; }

EXPORT("vm_sent") void vmSent(double nowMs)
{
    deadline = nowMs + ReplyTimeoutMs;
    if (m.phase == SendRead)
        m.phase = WaitRead;
    else if (m.phase == SendWrite) {
        m.wrote = true;
        m.phase = WaitAck;
    } else if (m.phase == SendReadBack)
        m.phase = WaitReadBack;
}

void replyEnded()
{
    if (m.phase == WaitRead)
        afterRead();
    else if (m.phase == WaitAck)
        afterAck();
    else if (m.phase == WaitReadBack)
        afterReadBack();
}

// `count` bytes arrived in io. A reply is taken as soon as it is whole.
EXPORT("vm_received") void vmReceived(int count, double nowMs)
{
    (void)nowMs;
    for (int i = 0; i < count && blockCount < ReplyBufferSize; ++i)
        block[blockCount++] = io[i];
    bool expectSettings = m.phase != WaitAck;
    if (replyComplete(expectSettings) || blockCount == ReplyBufferSize)
        replyEnded();
}

EXPORT("vm_time") void vmTime(double nowMs)
{
    if (nowMs >= deadline)
        replyEnded();
}

// The port failed (unplugged, closed under us).
EXPORT("vm_link_lost") void vmLinkLost()
{
    if (m.phase == Finished)
        return;
    if (m.wrote || m.phase == SendWrite)
        return finish(StLinkLost, DetailLinkLost);
    finish(StNoReader, DetailLinkLost);
}

EXPORT("vm_status") int vmStatus() { return m.status; }
EXPORT("vm_detail") int vmDetail() { return m.detail; }
EXPORT("vm_wrote") int vmWrote() { return m.wrote ? 1 : 0; }
EXPORT("vm_firmware") const char *vmFirmware() { return m.firmware; }
// Value index of a field read before / after (-1 when none).
EXPORT("vm_before") int vmBefore(int field) { return m.hasBefore ? m.before.value[field] : -2; }
EXPORT("vm_after") int vmAfter(int field) { return m.hasAfter ? m.after.value[field] : -2; }

// The settings table, for names in profiles and logs.
EXPORT("vm_field_count") int vmFieldCount(int kind)
{
    return settingFieldCount(kind == 1 ? ReaderType::Usb : ReaderType::Lnx);
}
EXPORT("vm_field_key") const char *vmFieldKey(int kind, int field)
{
    return settingField(kind == 1 ? ReaderType::Usb : ReaderType::Lnx, field).key;
}
EXPORT("vm_value_count") int vmValueCount(int kind, int field)
{
    return settingField(kind == 1 ? ReaderType::Usb : ReaderType::Lnx, field).valueCount;
}
EXPORT("vm_value_name") const char *vmValueName(int kind, int field, int value)
{
    return settingField(kind == 1 ? ReaderType::Usb : ReaderType::Lnx, field).values[value].name;
}

// The codec alone, for the corpus check: classify io[0..count) and, for a
// settings reply, decode the payload of `kind` into io (value indices).
EXPORT("vm_classify") int vmClassify(int count)
{
    return static_cast<int>(classifyReply(io, count));
}
EXPORT("vm_decode") int vmDecode(int kind)
{
    ReaderType k = kind == 1 ? ReaderType::Usb : ReaderType::Lnx;
    SettingsValues s = settingsFromPayload(k, io);
    int fw = checkFirmwareVersion(k, io);
    for (int i = 0; i < MaxSettingFields; ++i)
        io[i] = static_cast<unsigned char>(s.value[i] + 1);
    return fw;
}

// "Tarvik-LNA_LNB" / "Tarvik-USB": the tabs' names.
EXPORT("vm_product_name") const char *vmProductName(int kind)
{
    return readerProductName(kind == 1 ? ReaderType::Usb : ReaderType::Lnx);
}
