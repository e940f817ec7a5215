// Profile files: parsing with positions, saving, --set overrides.
#include "cli/profile.h"

#include <cstdio>
#include <fstream>

namespace {

std::string valueNames(const SettingField &field)
{
    std::string names;
    for (int i = 0; i < field.valueCount; ++i) {
        if (i)
            names += i + 1 == field.valueCount ? " or " : ", ";
        names += field.values[i].name;
    }
    return names;
}

std::string keyNames(ReaderType kind)
{
    std::string names;
    for (int i = 0; i < settingFieldCount(kind); ++i) {
        if (i)
            names += ", ";
        names += settingField(kind, i).key;
    }
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

bool loadProfile(const std::string &path, SettingsValues &profile, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    // One byte past the limit is enough to know it is too large.
    std::string text(ProfileSizeLimit + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    if (!parseProfile(text, profile, error)) {
        error = path + ": " + error;
        return false;
    }
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
    const std::string text = profileText(settings);
    const std::string temporary = path + ".tmp";
    FILE *out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        error = path + ": cannot be written";
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = std::fclose(out) == 0 && ok;
    if (ok) {
#ifdef _WIN32
        std::remove(path.c_str());  // rename does not replace there
#endif
        ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        error = path + ": cannot be written";
    }
    return ok;
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
