// The codec's entry points for the corpus check, the same source built to
// WebAssembly and natively: a reply's kind, and for each reader kind the
// firmware check and decoded values of the bytes as a payload.
#include "protocol/settings_table.h"
#include "protocol/wire.h"

#ifdef __wasm__
#define CHECK_EXPORT(name) extern "C" __attribute__((export_name(name)))
#else
#define CHECK_EXPORT(name) extern "C"
#endif

static unsigned char io[256];

CHECK_EXPORT("check_io") unsigned char *check_io() { return io; }

CHECK_EXPORT("check_classify") int check_classify(int count)
{
    return static_cast<int>(classifyReply(io, count));
}

// The decoded values, each plus one, replace the first four bytes of io.
CHECK_EXPORT("check_decode") int check_decode(int kind)
{
    ReaderType k = kind == 1 ? ReaderType::Usb : ReaderType::Lnx;
    SettingsValues s = settingsFromPayload(k, io);
    int firmware = checkFirmwareVersion(k, io);
    for (int i = 0; i < MaxSettingFields; ++i)
        io[i] = static_cast<unsigned char>(s.value[i] + 1);
    return firmware;
}
