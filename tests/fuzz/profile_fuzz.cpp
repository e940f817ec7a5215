// Profile parsing on any text: it never crashes, refuses with a message
// that says where (or why the whole file is refused), and what it accepts
// is complete and comes back the same after saving it as text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/profile.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    SettingsValues profile;
    std::string error;
    if (!parseProfile(text, profile, error)) {
        check(error.compare(0, 5, "line ") == 0 || error.compare(0, 12, "larger than ") == 0,
              "a refusal names the line and column");
        return 0;
    }
    check(error.empty(), "no error for an accepted profile");
    check(settingsComplete(profile), "an accepted profile sets every field");
    SettingsValues again;
    check(parseProfile(profileText(profile), again, error), "the saved text parses");
    check(again == profile, "the saved text holds the same settings");
    return 0;
}
