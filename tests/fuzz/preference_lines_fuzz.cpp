// The appconfig.ini reading on any file content: the input is the file,
// read through a stdio stream with the same fgets-based code the program
// uses, and compared with the rule: reads of at most 79 characters that stop
// after an LF; read 0 is English only when exactly "Language = EN;\n", read 1
// the Usb tab only when exactly "TabCtrl = USB_USB;\n"; later reads ignored.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz_check.h"
#include "prefs/preference_lines.h"

namespace {

// Values no line can produce: a value whose line is never read stays put.
const UiLanguage untouchedLanguage = static_cast<UiLanguage>(7);
const ReaderType untouchedTab = static_cast<ReaderType>(7);

bool bytesAre(const std::uint8_t *bytes, std::size_t length, const char *line)
{
    return length == std::strlen(line) && std::memcmp(bytes, line, length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    UiLanguage expectedLanguage = untouchedLanguage;
    ReaderType expectedTab = untouchedTab;
    std::size_t at = 0;
    for (int read = 0; at < size; ++read) {
        std::size_t length = 0;
        while (length < PreferenceLineBufferSize - 1 && at + length < size) {
            if (data[at + length++] == '\n')
                break;
        }
        if (read == 0)
            expectedLanguage = bytesAre(data + at, length, "Language = EN;\n") ? UiLanguage::English
                                                                               : UiLanguage::Russian;
        else if (read == 1)
            expectedTab = bytesAre(data + at, length, "TabCtrl = USB_USB;\n") ? ReaderType::Usb : ReaderType::Lnx;
        at += length;
    }

    // fmemopen reads the bytes as they are, NULs included; an empty input
    // is an empty file.
    static char nothing[1];
    std::FILE *file = fmemopen(size > 0 ? const_cast<std::uint8_t *>(data) : reinterpret_cast<std::uint8_t *>(nothing),
                               size, "r");
    check(file != nullptr, "preferences: stream opened");
    UiLanguage language = untouchedLanguage;
    ReaderType tab = untouchedTab;
    readPreferenceLines(file, language, tab);
    std::fclose(file);

    check(language == expectedLanguage, "preferences: language as the lines say");
    check(tab == expectedTab, "preferences: tab as the lines say");
    return 0;
}
