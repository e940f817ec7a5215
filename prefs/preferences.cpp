// appconfig.ini: the language and the reader tab, two text lines in the
// working directory.
#include "prefs/preferences.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "ui/messages.h"

UiLanguage uiLanguage = UiLanguage::Russian;
ReaderType readerType = ReaderType::Lnx;

static const char PreferencesFile[] = "appconfig.ini";

// Each constant ends in one LF, which the text-mode stream writes as CR LF.
static const char LanguageRussian[] = "Language = RU;\n";
static const char LanguageEnglish[] = "Language = EN;\n";
static const char TabLnx[] = "TabCtrl = LNA_LNB;\n";
static const char TabUsb[] = "TabCtrl = USB_USB;\n";
static const char DefaultContent[] = "Language = RU;\nTabCtrl = LNA_LNB;\n";

// Line reads take at most 79 characters, like the 80-byte buffer they use.
constexpr int LineBufferSize = 80;

// A line matches only when it is exactly the constant, line end included:
// the comparison covers the terminating NUL as well.
static bool lineIs(const char *line, const char *constant)
{
    return std::strcmp(line, constant) == 0;
}

void loadPreferences()
{
    FILE *file = std::fopen(PreferencesFile, "r");
    if (file == nullptr) {
        uiLanguage = UiLanguage::Russian;
        readerType = ReaderType::Lnx;
        // A file that can neither be read nor created (a folder of that
        // name, a read-only directory) leaves the defaults in effect.
        file = std::fopen(PreferencesFile, "w");
        if (file != nullptr) {
            std::fputs(DefaultContent, file);
            std::fclose(file);
        }
        return;
    }

    char line[LineBufferSize] = {};
    for (int lineNumber = 0; std::fgets(line, sizeof line, file) != nullptr; lineNumber++) {
        if (lineNumber == 0)
            uiLanguage = !lineIs(line, LanguageRussian) && lineIs(line, LanguageEnglish)
                             ? UiLanguage::English : UiLanguage::Russian;
        else if (lineNumber == 1)
            readerType = !lineIs(line, TabLnx) && lineIs(line, TabUsb)
                             ? ReaderType::Usb : ReaderType::Lnx;
    }
    std::fclose(file);
}

void savePreferences()
{
    FILE *file = std::fopen(PreferencesFile, "r+");
    if (file == nullptr) {
        showMessage(mainWindow, TextTable[TxtSaveFailed], TextTable[TxtMessageCaption], 0, MsgIcon::Warning);
        return;
    }
    std::fputs(uiLanguage == UiLanguage::English ? LanguageEnglish : LanguageRussian, file);
    std::fputs(readerType == ReaderType::Usb ? TabUsb : TabLnx, file);
    std::fclose(file);
}
