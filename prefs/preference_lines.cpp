// The lines of appconfig.ini and how a line read from it is understood.
#include "prefs/preference_lines.h"

#include <cstring>

const char LanguageRussianLine[] = "Language = RU;\n";
const char LanguageEnglishLine[] = "Language = EN;\n";
const char TabLnxLine[] = "TabCtrl = LNA_LNB;\n";
const char TabUsbLine[] = "TabCtrl = USB_USB;\n";

namespace {

// The comparison covers the terminating NUL: a longer line, a line cut off
// before its LF, or one with a NUL inside does not match.
bool lineIs(const char *line, const char *constant)
{
    return std::strcmp(line, constant) == 0;
}

}  // namespace

void applyPreferenceLine(int lineNumber, const char *line, UiLanguage &language, ReaderType &tab)
{
    if (lineNumber == 0)
        language = !lineIs(line, LanguageRussianLine) && lineIs(line, LanguageEnglishLine)
                       ? UiLanguage::English : UiLanguage::Russian;
    else if (lineNumber == 1)
        tab = !lineIs(line, TabLnxLine) && lineIs(line, TabUsbLine) ? ReaderType::Usb : ReaderType::Lnx;
}

void readPreferenceLines(std::FILE *file, UiLanguage &language, ReaderType &tab)
{
    char line[PreferenceLineBufferSize] = {};
    // Every read counts as a line, whether or not it reached an LF, so the
    // rest of an over-long first line is taken as the second. Only reads 0
    // and 1 matter: the count stops at 2, however long the file.
    int lineNumber = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        applyPreferenceLine(lineNumber, line, language, tab);
        if (lineNumber < 2)
            lineNumber++;
    }
}
