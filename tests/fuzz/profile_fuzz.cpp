// Profile parsing on any text: it never crashes, refuses with a message
// that says where (or why the whole file is refused), and what it accepts
// is complete and comes back the same after saving it as text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/profile.h"
#include "fuzz_check.h"

namespace {

// Well-formed UTF-8 (no overlong forms or surrogates checked: the point is
// that no character is cut).
bool wholeUtf8(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size() + (extra == 0 ? 1 : 0))
            return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    SettingsValues profile;
    std::string error;
    if (!parseProfile(text, profile, error)) {
        check(error.compare(0, 5, "line ") == 0 || error.compare(0, 12, "larger than ") == 0,
              "a refusal names the line and column");
        check(wholeUtf8(error), "a refusal is UTF-8 whatever the text was");
        return 0;
    }
    check(error.empty(), "no error for an accepted profile");
    check(settingsComplete(profile), "an accepted profile sets every field");
    SettingsValues again;
    check(parseProfile(profileText(profile), again, error), "the saved text parses");
    check(again == profile, "the saved text holds the same settings");
    return 0;
}
