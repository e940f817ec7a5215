// appconfig.ini: the language and the reader tab, two text lines in the
// working directory.
#include "prefs/preferences.h"

#include <cstdio>

#include "app/app.h"
#include "prefs/preference_lines.h"
#include "ui/messages.h"

UiLanguage uiLanguage = UiLanguage::Russian;
ReaderType readerType = ReaderType::Lnx;

static const char PreferencesFile[] = "appconfig.ini";

// Written as text: the LF becomes CR LF on disk.
static const char DefaultContent[] = "Language = RU;\nTabCtrl = LNA_LNB;\n";

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

    readPreferenceLines(file, uiLanguage, readerType);
    std::fclose(file);
}

void savePreferences()
{
    FILE *file = std::fopen(PreferencesFile, "r+");
    if (file == nullptr) {
        showMessage(mainWindow, TextTable[TxtSaveFailed], TextTable[TxtMessageCaption], 0, MsgIcon::Warning);
        return;
    }
    std::fputs(uiLanguage == UiLanguage::English ? LanguageEnglishLine : LanguageRussianLine, file);
    std::fputs(readerType == ReaderType::Usb ? TabUsbLine : TabLnxLine, file);
    std::fclose(file);
}
