// How the lines of appconfig.ini are read: exact lines only, read 0 the
// language, read 1 the tab, reads of at most 79 characters.
#include "prefs/preference_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Values no line can produce, to tell "left alone" from "set".
const UiLanguage untouchedLanguage = static_cast<UiLanguage>(7);
const ReaderType untouchedTab = static_cast<ReaderType>(7);

const UiLanguage ru = UiLanguage::Russian;
const UiLanguage en = UiLanguage::English;
const ReaderType lnx = ReaderType::Lnx;
const ReaderType usb = ReaderType::Usb;

struct Preferences {
    UiLanguage language;
    ReaderType tab;
};

// Writes `bytes` unchanged to a file of the test's own, then reads it the
// way the program does: opened by name in text mode.
Preferences readFileOf(const std::string &bytes, int row)
{
    const std::string name =
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
        std::to_string(row) + ".ini";
    Preferences result = {untouchedLanguage, untouchedTab};

    std::FILE *out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) {
        ADD_FAILURE() << "cannot create " << name;
        return result;
    }
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);

    std::FILE *in = std::fopen(name.c_str(), "r");
    if (in == nullptr) {
        ADD_FAILURE() << "cannot open " << name;
        std::remove(name.c_str());
        return result;
    }
    readPreferenceLines(in, result.language, result.tab);
    std::fclose(in);
    std::remove(name.c_str());
    return result;
}

struct FileCase {
    const char *what;
    std::string bytes;
    UiLanguage language;
    ReaderType tab;
};

const std::string english = "Language = EN;\n";
const std::string usbTab = "TabCtrl = USB_USB;\n";

// Files with LF line ends, which every platform reads alike.
const FileCase fileCases[] = {
    {"the file the program writes", "Language = RU;\nTabCtrl = LNA_LNB;\n", ru, lnx},
    {"English and the Usb tab", english + usbTab, en, usb},
    {"Russian and the Usb tab", "Language = RU;\n" + usbTab, ru, usb},
    {"English and the Lnx tab", english + "TabCtrl = LNA_LNB;\n", en, lnx},
    {"empty file keeps both values", "", untouchedLanguage, untouchedTab},
    {"only the language line", english, en, untouchedTab},
    {"language line without line end", "Language = EN;", ru, untouchedTab},
    {"tab line without line end", english + "TabCtrl = USB_USB;", en, lnx},
    {"byte-order mark before the first line", "\xEF\xBB\xBF" + english + usbTab, ru, usb},
    {"lower-case first letter", "language = EN;\n" + usbTab, ru, usb},
    {"lower-case value", "Language = en;\n" + usbTab, ru, usb},
    {"lower-case tab line", english + "tabctrl = usb_usb;\n", en, lnx},
    {"no blanks around the equals sign", "Language=EN;\n" + usbTab, ru, usb},
    {"blank after the semicolon", "Language = EN; \n" + usbTab, ru, usb},
    {"blank before the line", " Language = EN;\n" + usbTab, ru, usb},
    {"tab line with a blank after the semicolon", english + "TabCtrl = USB_USB; \n", en, lnx},
    {"no semicolon", "Language = EN\n" + usbTab, ru, usb},
    {"NUL inside the language line", std::string("Language = EN;\0\n", 16) + usbTab, ru, usb},
    {"lines in the wrong order", usbTab + english, ru, lnx},
    {"blank first line", "\n" + usbTab, ru, usb},
    {"third line is ignored", english + usbTab + "Language = RU;\nTabCtrl = LNA_LNB;\n", en, usb},
    {"third line after Russian and Lnx", "Language = RU;\nTabCtrl = LNA_LNB;\n" + english + usbTab, ru, lnx},
    // Reads take at most 79 characters: what is left of a longer first line
    // is read 1, and the real tab line becomes read 2.
    {"first line of 80 characters", "Language = EN;" + std::string(65, 'x') + "\n" + usbTab, ru, lnx},
    {"first line of 79 characters then the tab line", std::string(79, 'x') + usbTab, ru, usb},
    {"first line of 78 characters and its LF", std::string(78, 'x') + "\n" + usbTab, ru, usb},
    {"language line and 80 000 more bytes", english + usbTab + std::string(80000, 'z'), en, usb},
    {"binary bytes", std::string("\xFF\xFE\x00\x01\x80\n\x1B[0m\n", 11), ru, lnx},
};

TEST(PreferenceLines, FilesAreReadLineByLine)
{
    int row = 0;
    for (const FileCase &c : fileCases) {
        Preferences p = readFileOf(c.bytes, row++);
        EXPECT_EQ(static_cast<int>(p.language), static_cast<int>(c.language)) << c.what;
        EXPECT_EQ(static_cast<int>(p.tab), static_cast<int>(c.tab)) << c.what;
    }
}

// A text-mode stream hands CR LF back as LF; POSIX streams have no text
// mode, and the program only runs on Windows.
TEST(PreferenceLines, CrLfLineEndsAreUnderstood)
{
#ifdef _WIN32
    const FileCase cases[] = {
        {"CR LF line ends", "Language = EN;\r\nTabCtrl = USB_USB;\r\n", en, usb},
        {"CR LF then a bare LF", "Language = EN;\r\nTabCtrl = USB_USB;\n", en, usb},
        {"CR LF without line end at the end", "Language = EN;\r\nTabCtrl = USB_USB;", en, lnx},
        {"CR alone is no line end", "Language = EN;\rTabCtrl = USB_USB;\r", ru, untouchedTab},
        {"byte-order mark and CR LF", "\xEF\xBB\xBFLanguage = EN;\r\nTabCtrl = USB_USB;\r\n", ru, usb},
    };
    int row = 0;
    for (const FileCase &c : cases) {
        Preferences p = readFileOf(c.bytes, row++);
        EXPECT_EQ(static_cast<int>(p.language), static_cast<int>(c.language)) << c.what;
        EXPECT_EQ(static_cast<int>(p.tab), static_cast<int>(c.tab)) << c.what;
    }
#else
    GTEST_SKIP() << "no text-mode streams here";
#endif
}

struct LineCase {
    const char *what;
    int lineNumber;
    const char *line;
    Preferences before;
    Preferences after;
};

const LineCase lineCases[] = {
    {"Russian line over English", 0, "Language = RU;\n", {en, usb}, {ru, usb}},
    {"English line over Russian", 0, "Language = EN;\n", {ru, usb}, {en, usb}},
    {"unknown language line resets to Russian", 0, "Language = DE;\n", {en, usb}, {ru, usb}},
    {"empty language line resets to Russian", 0, "", {en, lnx}, {ru, lnx}},
    {"tab line as read 0 is a language line", 0, "TabCtrl = USB_USB;\n", {en, lnx}, {ru, lnx}},
    {"Usb line over Lnx", 1, "TabCtrl = USB_USB;\n", {ru, lnx}, {ru, usb}},
    {"Lnx line over Usb", 1, "TabCtrl = LNA_LNB;\n", {en, usb}, {en, lnx}},
    {"unknown tab line resets to Lnx", 1, "TabCtrl = USB;\n", {en, usb}, {en, lnx}},
    {"language line as read 1 is a tab line", 1, "Language = EN;\n", {ru, usb}, {ru, lnx}},
    {"read 2 changes nothing", 2, "Language = EN;\n", {ru, lnx}, {ru, lnx}},
    {"read 2 with a tab line changes nothing", 2, "TabCtrl = USB_USB;\n", {en, lnx}, {en, lnx}},
    {"a late read changes nothing", 1000, "TabCtrl = LNA_LNB;\n", {en, usb}, {en, usb}},
};

TEST(PreferenceLines, EachReadSetsItsOwnValue)
{
    for (const LineCase &c : lineCases) {
        Preferences p = c.before;
        applyPreferenceLine(c.lineNumber, c.line, p.language, p.tab);
        EXPECT_EQ(static_cast<int>(p.language), static_cast<int>(c.after.language)) << c.what;
        EXPECT_EQ(static_cast<int>(p.tab), static_cast<int>(c.after.tab)) << c.what;
    }
}

TEST(PreferenceLines, WrittenLinesAreTheOnesThatAreUnderstood)
{
    EXPECT_STREQ(LanguageRussianLine, "Language = RU;\n");
    EXPECT_STREQ(LanguageEnglishLine, "Language = EN;\n");
    EXPECT_STREQ(TabLnxLine, "TabCtrl = LNA_LNB;\n");
    EXPECT_STREQ(TabUsbLine, "TabCtrl = USB_USB;\n");
}

}  // namespace
