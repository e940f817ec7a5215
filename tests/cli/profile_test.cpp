// Profiles: what is accepted, what is refused and with which words, and
// that a saved profile reads back as it was.
#include "cli/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const char LnxProfile[] =
    "{\"format\": \"velmora-profile/1\", \"kind\": \"lnx\", \"settings\": {\"interface\": \"wiegand26\", "
    "\"indication\": \"direct\", \"standby\": \"static\", \"touch_poll\": \"off\"}}";

struct Rejected {
    const char *what;
    std::string text;
    const char *message;  // a part of the error the user sees
};

std::string lnxWith(const std::string &settings)
{
    return "{\"format\": \"velmora-profile/1\", \"kind\": \"lnx\", \"settings\": {" + settings + "}}";
}

// `n` letters Zhe, two bytes each in UTF-8.
std::string Cyrillic(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "\xD0\xB6";
    return text;
}

const std::string LongKeyMessage = "unknown key \"" + Cyrillic(24) + "\"...";

const std::string Full = "\"interface\": \"wiegand26\", \"indication\": \"direct\", \"standby\": \"static\"";

const Rejected RejectedProfiles[] = {
    {"empty file", "", "line 1, column 1: not JSON"},
    {"not JSON", "interface=wiegand26\n", "line 1, column 1: not JSON"},
    {"cut off on the third line", "{\n  \"format\": \"velmora-profile/1\",\n  \"kind\": ", "line 3, column 11: not JSON"},
    {"trailing comma", "{\"format\": \"velmora-profile/1\",}", "line 1, column 32: not JSON"},
    {"an array", "[1, 2]", "line 1, column 1: a profile is a JSON object, not an array"},
    {"unknown format version", "{\"format\": \"velmora-profile/2\", \"kind\": \"lnx\", \"settings\": {}}",
     "line 1, column 12: unknown format \"velmora-profile/2\""},
    {"a newer format with other keys", "{\"format\": \"velmora-profile/2\", \"readers\": []}",
     "line 1, column 12: unknown format \"velmora-profile/2\""},
    {"format as a number", "{\"format\": 1, \"kind\": \"lnx\", \"settings\": {}}", "unknown format 1"},
    {"missing format", "{\"kind\": \"lnx\", \"settings\": {}}", "the key \"format\" is missing"},
    {"missing settings", "{\"format\": \"velmora-profile/1\", \"kind\": \"lnx\"}", "the key \"settings\" is missing"},
    {"unknown top-level key",
     "{\"format\": \"velmora-profile/1\",\n \"kind\": \"lnx\",\n \"colour\": 1, \"settings\": {}}",
     "line 3, column 12: unknown key \"colour\""},
    {"unknown kind", "{\"format\": \"velmora-profile/1\", \"kind\": \"LNX\", \"settings\": {}}",
     "kind must be \"lnx\" or \"usb\", not \"LNX\""},
    {"settings not an object", "{\"format\": \"velmora-profile/1\", \"kind\": \"lnx\", \"settings\": []}",
     "settings must be an object, not an array"},
    {"missing key", lnxWith(Full), "the setting \"touch_poll\" is missing"},
    {"unknown key", lnxWith(Full + ", \"touch_poll\": \"off\", \"mode\": \"windows\""),
     "unknown setting \"mode\" for a lnx reader"},
    {"wrong type", lnxWith(Full + ", \"touch_poll\": false"), "touch_poll must be a string (one of on or off), not a boolean"},
    {"null value", lnxWith(Full + ", \"touch_poll\": null"), "not null"},
    {"out of range value", lnxWith(Full + ", \"touch_poll\": \"maybe\""), "touch_poll cannot be \"maybe\": it is one of on or off"},
    {"value in the wrong case", lnxWith(Full + ", \"touch_poll\": \"OFF\""), "touch_poll cannot be \"OFF\""},
    {"usb id_bytes out of range",
     "{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"mode\": \"windows\", \"output\": \"hex\",\n"
     "  \"id_bytes\": 6, \"cards\": \"all\"}}",
     "line 2, column 15: id_bytes cannot be \"6\": it is one of 2, 3, 4 or 5"},
    {"usb id_bytes as a float", "{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"id_bytes\": 4.0}}",
     "id_bytes must be a string"},
    {"lnx key in a usb profile", "{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"interface\": \"wiegand26\"}}",
     "unknown setting \"interface\" for a usb reader"},
    {"number beyond any type", "{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"id_bytes\": 1e400}}",
     "line 1, column 73: not JSON: a number out of range"},
    {"larger than 64 KiB", std::string(LnxProfile) + std::string(64 * 1024, ' '),
     "line 1, column 65537: the file goes on past 64 KiB"},
    // Valid JSON, 30,000 levels deep, under 64 KiB: refused at the level
    // past the limit, before it costs memory or time.
    {"nested 30,000 levels inside settings",
     lnxWith("\"interface\": " + std::string(30000, '[') + std::string(30000, ']')),
     "line 1, column 104: nested more than 32 levels deep"},
    {"kind given twice", "{\"format\": \"velmora-profile/1\", \"kind\": \"lnx\",\n \"k\\u0069nd\": \"usb\", \"settings\": {}}",
     "line 2, column 2: the key \"kind\" is given twice"},
    {"a setting given twice", lnxWith(Full + ", \"touch_poll\": \"off\", \"standby\": \"off\""),
     "the key \"standby\" is given twice"},
    {"a NUL behind the document", std::string(LnxProfile) + std::string(1, '\0'),
     "line 1, column 153: not JSON: more text after the document at \"\\x00\""},
    {"a value that is not UTF-8", lnxWith(Full + ", \"touch_poll\": \"o\xff\""), "ill-formed UTF-8"},
    // A long name is shown cut, never inside a character: the message stays UTF-8.
    {"a long unknown key in Cyrillic",
     "{\"format\": \"velmora-profile/1\", \"" + Cyrillic(30) + "\": 1}", LongKeyMessage.c_str()},
    {"usb id_bytes beyond 64 bits", "{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"id_bytes\": 18446744073709551615}}",
     "id_bytes cannot be \"18446744073709551615\""},
};

TEST(Profile, RefusesEachBadProfileWithAMessageThatSaysWhere)
{
    for (const Rejected &r : RejectedProfiles) {
        SettingsValues profile;
        profile.value[0] = 7;  // proves a refusal leaves the caller's record alone
        std::string error;
        EXPECT_FALSE(parseProfile(r.text, profile, error)) << r.what;
        EXPECT_NE(error.find(r.message), std::string::npos) << r.what << ": " << error;
        EXPECT_EQ(profile.value[0], 7) << r.what;
    }
}

TEST(Profile, AcceptsTheExampleAndIdBytesAsNumberOrString)
{
    SettingsValues profile;
    std::string error;
    ASSERT_TRUE(parseProfile(LnxProfile, profile, error)) << error;
    EXPECT_EQ(profile.kind, ReaderType::Lnx);
    WriteCommand command = writeCommandFor(profile);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(command.bytes), command.length), "AT+W261SF");

    for (const char *idBytes : {"4", "\"4\""}) {
        std::string usb = std::string("{\"format\": \"velmora-profile/1\", \"kind\": \"usb\", \"settings\": {\"mode\": "
                                      "\"all_os\", \"output\": \"dec\", \"id_bytes\": ") +
                          idBytes + ", \"cards\": \"hid_em\"}}";
        ASSERT_TRUE(parseProfile(usb, profile, error)) << error;
        command = writeCommandFor(profile);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(command.bytes), command.length), "AT+AHDD4EX");
    }
}

TEST(Profile, ExactlySixtyFourKiBIsStillRead)
{
    std::string text = LnxProfile;
    text += std::string(ProfileSizeLimit - text.size(), '\n');
    SettingsValues profile;
    std::string error;
    EXPECT_TRUE(parseProfile(text, profile, error)) << error;
}

TEST(Profile, OverridesChangeOneKeyAndRefuseUnknownKeysAndValues)
{
    SettingsValues profile;
    std::string error;
    ASSERT_TRUE(parseProfile(LnxProfile, profile, error));
    SettingsValues before = profile;
    EXPECT_TRUE(applyOverride("standby=dynamic", profile, error)) << error;
    EXPECT_EQ(std::string(settingValueName(profile, findSettingField(ReaderType::Lnx, "standby"))), "dynamic");
    EXPECT_EQ(std::string(settingValueName(profile, findSettingField(ReaderType::Lnx, "interface"))), "wiegand26");

    profile = before;
    struct Bad { const char *assignment; const char *message; };
    for (Bad bad : {Bad{"colour=red", "unknown setting \"colour\""}, Bad{"standby=sometimes", "standby is one of dynamic, static or off"},
                    Bad{"standby", "expected KEY=VALUE"}, Bad{"mode=windows", "unknown setting \"mode\" for a lnx reader"},
                    Bad{"standby=", "standby is one of"}}) {
        EXPECT_FALSE(applyOverride(bad.assignment, profile, error)) << bad.assignment;
        EXPECT_NE(error.find(bad.message), std::string::npos) << error;
        EXPECT_EQ(profile, before);
    }
}

TEST(Profile, SavedProfileReadsBackAndReplacesTheOldFileWhole)
{
    const std::string path = ::testing::TempDir() + "velmora-profile-test.json";
    {
        std::ofstream old(path);
        old << "old content that is longer than any profile would ever be, to show nothing of it remains "
            << std::string(4096, 'x');
    }
    SettingsValues profile;
    std::string error;
    ASSERT_TRUE(parseProfile(LnxProfile, profile, error));
    ASSERT_TRUE(saveProfile(path, profile, error)) << error;
    SettingsValues back;
    ASSERT_TRUE(loadProfile(path, back, error)) << error;
    EXPECT_EQ(back, profile);
    std::remove(path.c_str());
}

TEST(Profile, SettingsNotAllRecognisedAreNotSaved)
{
    SettingsValues profile;
    std::string error;
    ASSERT_TRUE(parseProfile(LnxProfile, profile, error));
    profile.value[1] = -1;
    const std::string path = ::testing::TempDir() + "velmora-profile-partial.json";
    std::remove(path.c_str());
    EXPECT_FALSE(saveProfile(path, profile, error));
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(Profile, AMissingOrUnwritableFileIsNamed)
{
    SettingsValues profile;
    std::string error;
    EXPECT_FALSE(loadProfile("/nonexistent/velmora.json", profile, error));
    EXPECT_EQ(error, "/nonexistent/velmora.json: cannot be read");
    ASSERT_TRUE(parseProfile(LnxProfile, profile, error));
    EXPECT_FALSE(saveProfile("/nonexistent/velmora.json", profile, error));
    EXPECT_EQ(error, "/nonexistent/velmora.json: cannot be written");
}

}  // namespace
