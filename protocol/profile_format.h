// Profiles: one reader kind's complete settings in a small JSON file, e.g.
// {"format": "velmora-profile/1", "kind": "lnx", "settings": {"interface": "wiegand26", ...}}
// The rules for reading and writing them, strict and without allocation, so
// that every program applies the same ones (the page through WebAssembly).
#ifndef VELMORA_PROTOCOL_PROFILE_FORMAT_H
#define VELMORA_PROTOCOL_PROFILE_FORMAT_H

#include <cstddef>

#include "protocol/settings_table.h"

class FixedText;

constexpr char ProfileFormat[] = "velmora-profile/1";
constexpr std::size_t ProfileSizeLimit = 64 * 1024;
// A profile nests two levels; anything much deeper is refused before it
// costs time or stack.
constexpr int ProfileDepthLimit = 32;
constexpr int ProfileErrorSize = 400;
// Room for the longest profile text written.
constexpr int ProfileTextSize = 512;

// Parses a profile's text: true with `profile` set, or false with `error`
// set to a sentence that begins with the line and column where it applies
// ("line 3, column 12: unknown key ...") and `profile` left alone. Refused:
// anything but strict JSON (also a NUL or any other byte behind the
// document), nesting beyond ProfileDepthLimit, a key given twice, more than
// ProfileSizeLimit bytes, and anything but one complete profile.
bool parseProfileText(const char *text, std::size_t length, SettingsValues &profile, char *error, int errorSize);

// Writes the profile's text (one key per line, ending in a line feed) into
// `buffer`, terminated; returns its length, or -1 for settings that are not
// complete or a buffer too small.
int writeProfileText(const SettingsValues &settings, char *buffer, int size);

// For messages that say what is allowed: the values of `field` ("a, b or c")
// and the setting keys of a reader kind ("a, b, c"), appended to `text`.
void addSettingValueNames(FixedText &text, const SettingField &field);
void addSettingKeyNames(FixedText &text, ReaderType kind);

#endif
