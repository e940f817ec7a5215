// The Usb settings decoder alone, on any payload: the input's first 11
// bytes (zero bytes where it is shorter, as in the zero-filled receive
// buffer) in a buffer of exactly that size, then the encoder on the record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "protocol/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::unique_ptr<unsigned char[]> payload(new unsigned char[UsbPayloadLength]());
    std::memcpy(payload.get(), data, size < UsbPayloadLength ? size : UsbPayloadLength);
    const bool supported = std::memcmp(payload.get(), "1.00", FirmwareVersionLength) == 0;
    check(checkFirmwareVersion(ReaderType::Usb, payload.get()) == (supported ? 0 : -1), "version check");
    checkUsbPayload(payload.get());
    return 0;
}
