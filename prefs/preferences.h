// The two remembered choices and appconfig.ini, the file that keeps them.
#ifndef VELMORA_PREFS_PREFERENCES_H
#define VELMORA_PREFS_PREFERENCES_H

#include "prefs/texts.h"
#include "protocol/wire.h"

// Written by loadPreferences and by the language and tab commands.
extern UiLanguage uiLanguage;
extern ReaderType readerType;

// Reads appconfig.ini from the working directory, or creates it with the
// defaults (Russian, Lnx tab) when it cannot be opened.
void loadPreferences();

// Rewrites the first 36 bytes of appconfig.ini in place; tells the user when
// the file cannot be opened for update.
void savePreferences();

#endif
