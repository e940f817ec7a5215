// The number read from a port name, on any name the device map or a USB
// device's "PortName" could hold: the input up to its first NUL, in a heap
// copy of exactly that name and its terminator. The result must be what
// strtol gives for the text behind the three-letter prefix, held to the
// range of an int.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "serial/portnumber.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t length = strnlen(reinterpret_cast<const char *>(data), size);
    std::unique_ptr<char[]> name(new char[length + 1]);
    std::memcpy(name.get(), data, length);
    name[length] = '\0';

    long long expected = 0;
    if (length >= 3) {
        expected = std::strtoll(name.get() + 3, nullptr, 10);
        if (expected > INT_MAX)
            expected = INT_MAX;
        if (expected < INT_MIN)
            expected = INT_MIN;
    }
    check(parsePortNumber(name.get()) == expected, "port number as strtol reads it, held to an int");
    check(parsePortNumber(nullptr) == 0, "no name, no number");
    return 0;
}
