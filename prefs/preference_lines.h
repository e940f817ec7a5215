// The lines of appconfig.ini and how a line read from it is understood.
// Plain C++ over a stdio stream: no Windows headers, so it builds natively
// and can be fuzzed.
#ifndef VELMORA_PREFS_PREFERENCE_LINES_H
#define VELMORA_PREFS_PREFERENCE_LINES_H

#include <cstdio>

#include "prefs/texts.h"
#include "protocol/wire.h"

// Each line ends in one LF, which a text-mode stream writes as CR LF and
// reads back as LF.
extern const char LanguageRussianLine[];  // "Language = RU;\n"
extern const char LanguageEnglishLine[];  // "Language = EN;\n"
extern const char TabLnxLine[];           // "TabCtrl = LNA_LNB;\n"
extern const char TabUsbLine[];           // "TabCtrl = USB_USB;\n"

// Lines are read into a buffer of this size: at most 79 characters a read.
constexpr int PreferenceLineBufferSize = 80;

// Applies the line of read number `lineNumber` (from 0), as fgets left it in
// the buffer: read 0 sets the language, read 1 the tab, later reads nothing.
// A line counts only when it is exactly the constant, LF included.
void applyPreferenceLine(int lineNumber, const char *line, UiLanguage &language, ReaderType &tab);

// Reads `file` to its end in reads of at most 79 characters, applying each.
// A value whose line is never read is left as it was.
void readPreferenceLines(std::FILE *file, UiLanguage &language, ReaderType &tab);

#endif
