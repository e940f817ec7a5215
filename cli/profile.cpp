// Profile files of the console tool: loading and saving them, and --set
// overrides, over the rules of protocol/profile_format.h.
#include "cli/profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "protocol/fixed_text.h"
#include "serial/host.h"

namespace {

std::string valueNames(const SettingField &field)
{
    char names[ProfileErrorSize];
    FixedText text(names, sizeof names);
    addSettingValueNames(text, field);
    return names;
}

std::string keyNames(ReaderType kind)
{
    char names[ProfileErrorSize];
    FixedText text(names, sizeof names);
    addSettingKeyNames(text, kind);
    return names;
}

}  // namespace

bool parseProfile(const std::string &text, SettingsValues &profile, std::string &error)
{
    char why[ProfileErrorSize];
    if (!parseProfileText(text.data(), text.size(), profile, why, sizeof why)) {
        error = why;
        return false;
    }
    error.clear();
    return true;
}

bool loadProfile(const std::string &path, SettingsValues &profile, std::string &error, std::string *fileText)
{
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    // One byte past the limit is enough to know it is too large.
    std::string text(ProfileSizeLimit + 1, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), in));
    int number = std::ferror(in) ? errno : 0;
    std::fclose(in);
    if (number != 0) {
        error = path + ": cannot be read: " + std::strerror(number);
        return false;
    }
    if (!parseProfile(text, profile, error)) {
        error = path + ": " + error;
        return false;
    }
    if (fileText != nullptr)
        *fileText = text;
    return true;
}

const char *settingValueName(const SettingsValues &settings, int field)
{
    int i = settings.value[field];
    const SettingField &f = settingField(settings.kind, field);
    return i >= 0 && i < f.valueCount ? f.values[i].name : nullptr;
}

std::string profileText(const SettingsValues &settings)
{
    char text[ProfileTextSize];
    int length = writeProfileText(settings, text, sizeof text);
    return length < 0 ? std::string() : std::string(text, static_cast<std::size_t>(length));
}

bool saveProfile(const std::string &path, const SettingsValues &settings, std::string &error)
{
    if (!settingsComplete(settings)) {
        error = path + ": not saved: the reader holds settings this program does not recognise";
        return false;
    }
    std::string cause;
    if (!replaceFile(path, profileText(settings), cause)) {
        error = path + ": cannot be written: " + cause;
        return false;
    }
    return true;
}

bool applyOverride(const std::string &assignment, SettingsValues &profile, std::string &error)
{
    std::string::size_type equals = assignment.find('=');
    if (equals == std::string::npos) {
        error = "--set " + assignment + ": expected KEY=VALUE";
        return false;
    }
    std::string key = assignment.substr(0, equals);
    std::string value = assignment.substr(equals + 1);
    int field = findSettingField(profile.kind, key);
    if (field < 0) {
        error = "--set " + assignment + ": unknown setting \"" + key + "\" for a " + readerKindName(profile.kind) +
                " reader (its settings are " + keyNames(profile.kind) + ")";
        return false;
    }
    int index = findSettingValue(settingField(profile.kind, field), value);
    if (index < 0) {
        error = "--set " + assignment + ": " + key + " is one of " + valueNames(settingField(profile.kind, field));
        return false;
    }
    profile.value[field] = index;
    return true;
}
