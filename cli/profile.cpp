// Profile files: parsing with positions, saving, --set overrides.
#include "cli/profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "serial/host.h"

using nlohmann::json;

namespace {

struct Position {
    int line = 1;
    int column = 1;
};

std::string at(const Position &p)
{
    return "line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

Position positionOfByte(const std::string &text, std::size_t byte)
{
    Position p;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++p.line;
            p.column = 1;
        } else {
            ++p.column;
        }
    }
    return p;
}

// nlohmann keeps no positions, so a second pass over text it has already
// accepted records where each value of the top two levels starts: "" for the
// document, "kind", "settings/interface" and so on (the last of duplicates).
class PositionScan {
public:
    explicit PositionScan(const std::string &text) : text_(text) { value(""); }
    Position of(const std::string &path) const
    {
        auto it = positions_.find(path);
        return it == positions_.end() ? Position() : it->second;
    }

private:
    void skipSpace()
    {
        while (i_ < text_.size() && (text_[i_] == ' ' || text_[i_] == '\t' || text_[i_] == '\n' || text_[i_] == '\r'))
            advance();
    }
    void advance()
    {
        if (text_[i_] == '\n') {
            ++here_.line;
            here_.column = 1;
        } else if ((static_cast<unsigned char>(text_[i_]) & 0xC0) != 0x80) {
            ++here_.column;  // columns count characters, not UTF-8 bytes
        }
        ++i_;
    }
    std::string string()
    {
        std::string s;
        advance();  // the opening quote
        while (i_ < text_.size() && text_[i_] != '"') {
            if (text_[i_] == '\\') {
                advance();
                s += '\\';
            }
            if (i_ < text_.size()) {
                s += text_[i_];
                advance();
            }
        }
        if (i_ < text_.size())
            advance();
        return s;
    }
    void value(const std::string &path)
    {
        skipSpace();
        if (i_ >= text_.size())
            return;
        positions_[path] = here_;
        char c = text_[i_];
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            advance();
            skipSpace();
            while (i_ < text_.size() && text_[i_] != close) {
                std::string child = path + "/[]";
                if (c == '{') {
                    std::string key = string();
                    skipSpace();
                    advance();  // ':'
                    child = path.empty() ? key : path + "/" + key;
                    skipSpace();
                    positions_["key:" + child] = here_;
                }
                // Deeper levels are not looked up; their paths do no harm.
                value(child);
                skipSpace();
                if (i_ < text_.size() && text_[i_] == ',') {
                    advance();
                    skipSpace();
                }
            }
            if (i_ < text_.size())
                advance();
        } else if (c == '"') {
            string();
        } else {
            while (i_ < text_.size() && text_[i_] != ',' && text_[i_] != '}' && text_[i_] != ']' &&
                   text_[i_] != ' ' && text_[i_] != '\n' && text_[i_] != '\r' && text_[i_] != '\t')
                advance();
        }
    }

    const std::string &text_;
    std::size_t i_ = 0;
    Position here_;
    std::map<std::string, Position> positions_;
};

std::string typeName(const json &value)
{
    switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "an integer";
    case json::value_t::number_float: return "a number";
    case json::value_t::string: return "a string";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    default: return "something else";
    }
}

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

// The value index for a profile value, or -1 with `error` set. id_bytes may
// be written as a number or as a string.
int settingValueFromJson(const SettingField &field, const json &value, std::string &error)
{
    std::string name;
    if (value.is_string()) {
        name = value.get<std::string>();
    } else if (value.is_number_integer() && std::string(field.key) == "id_bytes") {
        name = std::to_string(value.get<long long>());
    } else {
        error = std::string(field.key) + " must be a string (one of " + valueNames(field) + "), not " +
                typeName(value);
        return -1;
    }
    int index = findSettingValue(field, name);
    if (index < 0)
        error = std::string(field.key) + " cannot be \"" + name + "\": it is one of " + valueNames(field);
    return index;
}

}  // namespace

bool parseProfile(const std::string &text, SettingsValues &profile, std::string &error)
{
    if (text.size() > ProfileSizeLimit) {
        // Only the first byte past the limit has been read: name where it is.
        error = at(positionOfByte(text, ProfileSizeLimit)) +
                ": the file goes on past 64 KiB (65536 bytes), more than a profile can be";
        return false;
    }
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error &e) {
        std::string why = e.what();
        std::string::size_type colon = why.find(": ");
        if (colon != std::string::npos)
            why = why.substr(colon + 2);
        // byte is one past the offending character.
        error = at(positionOfByte(text, e.byte > 0 ? e.byte - 1 : 0)) + ": not JSON: " + why;
        return false;
    } catch (const json::exception &e) {
        // A number too large for any type: the library quotes its text but
        // does not say where it stands.
        std::string why = e.what();
        std::string::size_type open = why.find('\''), close = why.rfind('\'');
        std::size_t byte = 0;
        if (open != std::string::npos && close > open + 1) {
            std::string::size_type found = text.find(why.substr(open + 1, close - open - 1));
            if (found != std::string::npos)
                byte = found;
        }
        error = at(positionOfByte(text, byte)) + ": not JSON: a number out of range";
        return false;
    }
    PositionScan positions(text);

    if (!document.is_object()) {
        error = at(positions.of("")) + ": a profile is a JSON object, not " + typeName(document);
        return false;
    }
    // The version first: a profile from a newer program is named as such
    // rather than by what it lacks.
    if (document.contains("format")) {
        const json &format = document["format"];
        if (!format.is_string() || format.get<std::string>() != ProfileFormat) {
            error = at(positions.of("format")) + ": unknown format " + format.dump() + " (this program reads \"" +
                    ProfileFormat + "\")";
            return false;
        }
    }
    for (auto &item : document.items()) {
        if (item.key() != "format" && item.key() != "kind" && item.key() != "settings") {
            error = at(positions.of("key:" + item.key())) + ": unknown key \"" + item.key() +
                    "\" (a profile has format, kind and settings)";
            return false;
        }
    }
    for (const char *key : {"format", "kind", "settings"}) {
        if (!document.contains(key)) {
            error = at(positions.of("")) + ": the key \"" + key + "\" is missing";
            return false;
        }
    }
    const json &kindValue = document["kind"];
    ReaderType kind;
    if (!kindValue.is_string() || !readerKindFromName(kindValue.get<std::string>(), kind)) {
        error = at(positions.of("kind")) + ": kind must be \"lnx\" or \"usb\", not " + kindValue.dump();
        return false;
    }
    const json &settings = document["settings"];
    if (!settings.is_object()) {
        error = at(positions.of("settings")) + ": settings must be an object, not " + typeName(settings);
        return false;
    }
    SettingsValues result;
    result.kind = kind;
    for (auto &item : settings.items()) {
        int field = findSettingField(kind, item.key());
        if (field < 0) {
            error = at(positions.of("key:settings/" + item.key())) + ": unknown setting \"" + item.key() +
                    "\" for a " + readerKindName(kind) + " reader (its settings are " + keyNames(kind) + ")";
            return false;
        }
        std::string why;
        int value = settingValueFromJson(settingField(kind, field), item.value(), why);
        if (value < 0) {
            error = at(positions.of("settings/" + item.key())) + ": " + why;
            return false;
        }
        result.value[field] = value;
    }
    for (int field = 0; field < settingFieldCount(kind); ++field) {
        if (result.value[field] < 0) {
            error = at(positions.of("settings")) + ": the setting \"" + settingField(kind, field).key +
                    "\" is missing (a " + readerKindName(kind) + " profile has " + keyNames(kind) + ")";
            return false;
        }
    }
    profile = result;
    return true;
}

bool loadProfile(const std::string &path, SettingsValues &profile, std::string &error)
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
    // Wire order reads best; json objects sort their keys, so build by hand.
    std::string text = "{\n  \"format\": \"" + std::string(ProfileFormat) + "\",\n  \"kind\": \"" +
                       readerKindName(settings.kind) + "\",\n  \"settings\": {\n";
    for (int f = 0; f < settingFieldCount(settings.kind); ++f) {
        const char *name = settingValueName(settings, f);
        text += "    " + json(settingField(settings.kind, f).key).dump() + ": " +
                (name ? json(name).dump() : "null") + (f + 1 < settingFieldCount(settings.kind) ? ",\n" : "\n");
    }
    text += "  }\n}\n";
    return text;
}

bool saveProfile(const std::string &path, const SettingsValues &settings, std::string &error)
{
    if (!settingsComplete(settings)) {
        error = path + ": not saved: the reader holds settings this program does not recognise";
        return false;
    }
    if (pathKind(path) == PathKind::Other) {
        error = path + ": not saved: only a regular file or a new one is replaced by a profile";
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
