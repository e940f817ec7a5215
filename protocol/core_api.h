// The reader transactions, the settings table and the profile rules as a
// small C interface, for programs that cannot link C++ directly (the browser
// page loads this compiled to WebAssembly). No exceptions, no allocation:
// everything lives in fixed static storage. Not thread-safe: one caller.
//
// Bytes and texts travel through one shared buffer: the caller copies bytes
// received (or a profile's text) into vc_buffer() before the call that reads
// them, and reads texts the calls return before the next call.
//
// A transaction, step by step:
//   h = vc_tx_begin(operation, kind, values, timeoutMs, dryRun);
//   action = vc_tx_start(h, now);
//   loop until action == VC_DONE:
//     VC_SEND: drop stale input, send vc_tx_out(h) (vc_tx_out_length(h)
//              bytes), then wait as for VC_WAIT;
//     VC_WAIT: when bytes arrive, copy them into vc_buffer() and call
//              vc_tx_received(h, count, now); when vc_tx_deadline(h) passes
//              first, call vc_tx_timer(h, now); when the line fails,
//              vc_tx_line_failed(h, now);
//   then read the outcome and vc_tx_end(h).
// vc_tx_stop(h) asks a transaction to end: one that has written nothing ends
// at once as "skipped" (vc_tx_action(h) is then VC_DONE); one that has
// written finishes its acknowledgement and read-back first, so the caller
// carries on as it was (sending what it was given, then waiting).
// Times are milliseconds on any clock that does not go back.
#ifndef VELMORA_PROTOCOL_CORE_API_H
#define VELMORA_PROTOCOL_CORE_API_H

#ifdef __wasm__
#define VC_EXPORT(name) __attribute__((export_name(name)))
#else
#define VC_EXPORT(name)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Operations.
#define VC_READ 0
#define VC_APPLY 1
#define VC_VERIFY 2
// Reader kinds.
#define VC_LNX 0
#define VC_USB 1
// Actions.
#define VC_SEND 1
#define VC_WAIT 2
#define VC_DONE 3
// Transactions open at once.
#define VC_MAX_TRANSACTIONS 64
// Fields of a kind, at most.
#define VC_MAX_FIELDS 4
// Why a transaction ended short of its goal (vc_tx_reason).
#define VC_REASON_NONE 0
#define VC_REASON_SILENT 1
#define VC_REASON_GARBLED 2
#define VC_REASON_REFUSAL 3
#define VC_REASON_UNRECOGNISED 4
#define VC_REASON_FIRMWARE 5
#define VC_REASON_NOT_IDENTIFIED 6
#define VC_REASON_LINE_LOST 7

// The shared buffer and its size in bytes (at least 64 KiB: a whole profile).
VC_EXPORT("vc_buffer") unsigned char *vc_buffer(void);
VC_EXPORT("vc_buffer_size") int vc_buffer_size(void);

// Begins a transaction; `values` (VC_MAX_FIELDS value indices, see the
// tables below) is the profile for apply and verify and may be null for a
// read. Returns a handle, or -1 when the arguments are wrong (an incomplete
// profile for apply/verify) or every slot is taken.
VC_EXPORT("vc_tx_begin")
int vc_tx_begin(int operation, int kind, const int *values, int timeoutMs, int dryRun);
// Each returns the next action (VC_SEND, VC_WAIT, VC_DONE), or -1 for a bad
// handle.
VC_EXPORT("vc_tx_start") int vc_tx_start(int h, double nowMs);
// `count` bytes in vc_buffer() arrived.
VC_EXPORT("vc_tx_received") int vc_tx_received(int h, int count, double nowMs);
// The deadline passed with nothing received.
VC_EXPORT("vc_tx_timer") int vc_tx_timer(int h, double nowMs);
// The line failed (unplugged, closed under the transaction).
VC_EXPORT("vc_tx_line_failed") int vc_tx_line_failed(int h, double nowMs);
// Asks the transaction to end; see above. vc_tx_action() gives the action
// last handed out (VC_DONE once it has ended).
VC_EXPORT("vc_tx_stop") void vc_tx_stop(int h);
VC_EXPORT("vc_tx_action") int vc_tx_action(int h);

// For VC_SEND: the bytes to send.
VC_EXPORT("vc_tx_out") const unsigned char *vc_tx_out(int h);
VC_EXPORT("vc_tx_out_length") int vc_tx_out_length(int h);
// For VC_WAIT (and after VC_SEND): when to call vc_tx_timer if nothing
// arrives first.
VC_EXPORT("vc_tx_deadline") double vc_tx_deadline(int h);

// The outcome, once VC_DONE. Status: an index for vc_status_name ("read",
// "unchanged", "verified", "mismatch", "no_reader", "wrong_reader",
// "refused", "link_lost", "skipped").
VC_EXPORT("vc_tx_status") int vc_tx_status(int h);
// 1 when a write command went out.
VC_EXPORT("vc_tx_wrote") int vc_tx_wrote(int h);
// Why it ended short of its goal: VC_REASON_NONE when it did not (the
// status alone tells a mismatch); nothing came back, bytes that make no
// reply, the reader's refusal, an answer of the wrong form (a bare
// acknowledgement, settings cut short), firmware not supported, settings
// of another reader, or the line failed.
VC_EXPORT("vc_tx_reason") int vc_tx_reason(int h);
// The firmware version the reader reported, escaped printable ("" if none).
VC_EXPORT("vc_tx_firmware") const char *vc_tx_firmware(int h);
// Value index of `field` in the settings read before / after the write: -1
// when not recognised, -2 when there are no such settings.
VC_EXPORT("vc_tx_before") int vc_tx_before(int h, int field);
VC_EXPORT("vc_tx_after") int vc_tx_after(int h, int field);
// For people; "" on success.
VC_EXPORT("vc_tx_error") const char *vc_tx_error(int h);
// Frees the handle.
VC_EXPORT("vc_tx_end") void vc_tx_end(int h);

// The settings table. Names are stable lower-case words ("interface",
// "wiegand26"); null for an index out of range.
VC_EXPORT("vc_field_count") int vc_field_count(int kind);
VC_EXPORT("vc_field_key") const char *vc_field_key(int kind, int field);
VC_EXPORT("vc_value_count") int vc_value_count(int kind, int field);
VC_EXPORT("vc_value_name") const char *vc_value_name(int kind, int field, int value);
VC_EXPORT("vc_status_name") const char *vc_status_name(int status);
VC_EXPORT("vc_kind_name") const char *vc_kind_name(int kind);

// Parses a profile's text (`length` bytes in vc_buffer()): 0 and `*kind`
// and VC_MAX_FIELDS `values` set, or -1 with vc_profile_error() saying why
// (with line and column where one applies).
VC_EXPORT("vc_profile_parse") int vc_profile_parse(int length, int *kind, int *values);
VC_EXPORT("vc_profile_error") const char *vc_profile_error(void);
// Writes the profile text the console tool saves into vc_buffer() and
// returns its length, or -1 for an incomplete profile.
VC_EXPORT("vc_profile_text") int vc_profile_text(int kind, const int *values);

#ifdef __cplusplus
}
#endif

#endif
