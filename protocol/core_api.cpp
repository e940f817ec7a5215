// The C interface over the transactions, the settings table and profiles.
#include "protocol/core_api.h"

#include "protocol/fixed_text.h"
#include "protocol/profile_format.h"
#include "protocol/settings_table.h"
#include "protocol/transaction.h"

namespace {

// A whole profile fits, with room to see that a longer one is too long.
constexpr int BufferSize = static_cast<int>(ProfileSizeLimit) + 1024;
unsigned char buffer[BufferSize];

struct Slot {
    bool used = false;
    ReaderTransaction transaction;
};
Slot slots[VC_MAX_TRANSACTIONS];

char profileError[ProfileErrorSize];

ReaderTransaction *find(int h)
{
    if (h < 0 || h >= VC_MAX_TRANSACTIONS || !slots[h].used)
        return nullptr;
    return &slots[h].transaction;
}

bool validKind(int kind)
{
    return kind == VC_LNX || kind == VC_USB;
}

ReaderType readerType(int kind)
{
    return kind == VC_USB ? ReaderType::Usb : ReaderType::Lnx;
}

// The values of a kind, each checked against the table; false when one is
// out of range, or missing where `complete` is asked for.
bool settingsFrom(int kind, const int *values, bool complete, SettingsValues &settings)
{
    settings = SettingsValues();
    settings.kind = readerType(kind);
    if (values == nullptr)
        return !complete;
    for (int f = 0; f < settingFieldCount(settings.kind); ++f) {
        int v = values[f];
        if (v < -1 || v >= settingField(settings.kind, f).valueCount)
            return false;
        if (v == -1 && complete)
            return false;
        settings.value[f] = v;
    }
    return true;
}

int actionOf(TxAction action)
{
    return static_cast<int>(action);
}

static_assert(static_cast<int>(TxReason::None) == VC_REASON_NONE && static_cast<int>(TxReason::Silent) == VC_REASON_SILENT &&
                  static_cast<int>(TxReason::Garbled) == VC_REASON_GARBLED &&
                  static_cast<int>(TxReason::Refusal) == VC_REASON_REFUSAL &&
                  static_cast<int>(TxReason::Unrecognised) == VC_REASON_UNRECOGNISED &&
                  static_cast<int>(TxReason::Firmware) == VC_REASON_FIRMWARE &&
                  static_cast<int>(TxReason::NotIdentified) == VC_REASON_NOT_IDENTIFIED &&
                  static_cast<int>(TxReason::LineLost) == VC_REASON_LINE_LOST,
              "the reasons of core_api.h are those of the transactions");

int settingsValue(const SettingsValues &settings, bool present, int field)
{
    if (!present || field < 0 || field >= settingFieldCount(settings.kind))
        return -2;
    return settings.value[field];
}

}  // namespace

extern "C" {

unsigned char *vc_buffer(void)
{
    return buffer;
}

int vc_buffer_size(void)
{
    return BufferSize;
}

int vc_tx_begin(int operation, int kind, const int *values, int timeoutMs, int dryRun)
{
    if (operation < VC_READ || operation > VC_VERIFY || !validKind(kind) || timeoutMs <= 0)
        return -1;
    SettingsValues profile;
    if (!settingsFrom(kind, operation == VC_READ ? nullptr : values, operation != VC_READ, profile))
        return -1;
    for (int h = 0; h < VC_MAX_TRANSACTIONS; ++h) {
        if (!slots[h].used) {
            slots[h].used = true;
            slots[h].transaction =
                ReaderTransaction(static_cast<TxOperation>(operation), profile, timeoutMs, dryRun != 0);
            return h;
        }
    }
    return -1;
}

int vc_tx_start(int h, double nowMs)
{
    ReaderTransaction *t = find(h);
    return t ? actionOf(t->start(nowMs)) : -1;
}

int vc_tx_received(int h, int count, double nowMs)
{
    ReaderTransaction *t = find(h);
    if (t == nullptr || count < 0 || count > BufferSize)
        return -1;
    return actionOf(t->received(buffer, count, nowMs));
}

int vc_tx_timer(int h, double nowMs)
{
    ReaderTransaction *t = find(h);
    return t ? actionOf(t->timer(nowMs)) : -1;
}

int vc_tx_line_failed(int h, double nowMs)
{
    ReaderTransaction *t = find(h);
    return t ? actionOf(t->lineFailed(nowMs, "the port was closed or unplugged")) : -1;
}

void vc_tx_stop(int h)
{
    if (ReaderTransaction *t = find(h))
        t->stop();
}

int vc_tx_action(int h)
{
    ReaderTransaction *t = find(h);
    return t ? actionOf(t->action()) : -1;
}

const unsigned char *vc_tx_out(int h)
{
    ReaderTransaction *t = find(h);
    return t ? t->out() : nullptr;
}

int vc_tx_out_length(int h)
{
    ReaderTransaction *t = find(h);
    return t ? t->outLength() : -1;
}

double vc_tx_deadline(int h)
{
    ReaderTransaction *t = find(h);
    return t ? t->deadline() : -1;
}

int vc_tx_status(int h)
{
    ReaderTransaction *t = find(h);
    return t ? static_cast<int>(t->outcome().status) : -1;
}

int vc_tx_wrote(int h)
{
    ReaderTransaction *t = find(h);
    return t ? (t->outcome().wrote ? 1 : 0) : -1;
}

int vc_tx_reason(int h)
{
    ReaderTransaction *t = find(h);
    return t ? static_cast<int>(t->outcome().reason) : -1;
}

const char *vc_tx_firmware(int h)
{
    ReaderTransaction *t = find(h);
    return t ? t->outcome().firmware : nullptr;
}

int vc_tx_before(int h, int field)
{
    ReaderTransaction *t = find(h);
    return t ? settingsValue(t->outcome().before, t->outcome().hasBefore, field) : -2;
}

int vc_tx_after(int h, int field)
{
    ReaderTransaction *t = find(h);
    return t ? settingsValue(t->outcome().after, t->outcome().hasAfter, field) : -2;
}

const char *vc_tx_error(int h)
{
    ReaderTransaction *t = find(h);
    return t ? t->outcome().error : nullptr;
}

void vc_tx_end(int h)
{
    if (find(h) != nullptr)
        slots[h].used = false;
}

int vc_field_count(int kind)
{
    return validKind(kind) ? settingFieldCount(readerType(kind)) : -1;
}

const char *vc_field_key(int kind, int field)
{
    if (!validKind(kind) || field < 0 || field >= settingFieldCount(readerType(kind)))
        return nullptr;
    return settingField(readerType(kind), field).key;
}

int vc_value_count(int kind, int field)
{
    if (!validKind(kind) || field < 0 || field >= settingFieldCount(readerType(kind)))
        return -1;
    return settingField(readerType(kind), field).valueCount;
}

const char *vc_value_name(int kind, int field, int value)
{
    int count = vc_value_count(kind, field);
    if (value < 0 || value >= count)
        return nullptr;
    return settingField(readerType(kind), field).values[value].name;
}

const char *vc_status_name(int status)
{
    if (status < 0 || status >= ReaderStatusCount)
        return nullptr;
    return readerStatusName(static_cast<ReaderStatus>(status));
}

const char *vc_kind_name(int kind)
{
    return validKind(kind) ? readerKindName(readerType(kind)) : nullptr;
}

int vc_profile_parse(int length, int *kind, int *values)
{
    if (length < 0 || length > BufferSize || kind == nullptr || values == nullptr) {
        FixedText(profileError, sizeof profileError).add("no profile text given");
        return -1;
    }
    SettingsValues profile;
    if (!parseProfileText(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(length), profile,
                          profileError, sizeof profileError))
        return -1;
    *kind = profile.kind == ReaderType::Usb ? VC_USB : VC_LNX;
    for (int f = 0; f < VC_MAX_FIELDS; ++f)
        values[f] = f < settingFieldCount(profile.kind) ? profile.value[f] : -1;
    return 0;
}

const char *vc_profile_error(void)
{
    return profileError;
}

int vc_profile_text(int kind, const int *values)
{
    SettingsValues settings;
    if (!validKind(kind) || !settingsFrom(kind, values, true, settings))
        return -1;
    return writeProfileText(settings, reinterpret_cast<char *>(buffer), BufferSize);
}

}  // extern "C"
