// Profile files of the console tool: reading, saving and --set overrides
// over the rules of protocol/profile_format.h.
#ifndef VELMORA_CLI_PROFILE_H
#define VELMORA_CLI_PROFILE_H

#include <string>

#include "protocol/profile_format.h"
#include "protocol/settings_table.h"

// Parses a profile's text. On failure returns false and sets `error` to a
// sentence that names the line and column where one applies.
bool parseProfile(const std::string &text, SettingsValues &profile, std::string &error);
// Reads and parses a file; `error` then begins with the file name.
bool loadProfile(const std::string &path, SettingsValues &profile, std::string &error);
// The profile's JSON text (one key per line, ending in a line feed).
std::string profileText(const SettingsValues &settings);
// Writes the profile beside the file and renames it over: a failure leaves
// any earlier file whole.
bool saveProfile(const std::string &path, const SettingsValues &settings, std::string &error);
// "key=value" applied to `profile`; false with `error` for an unknown key or
// value.
bool applyOverride(const std::string &assignment, SettingsValues &profile, std::string &error);

// Names of settings for output: a key's value name, or nullptr when not
// recognised.
const char *settingValueName(const SettingsValues &settings, int field);

#endif
