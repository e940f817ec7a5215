// appconfig.ini as the program reads and writes it, checked byte for byte
// on disk through the same text-mode streams.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "tests/support/box_recorder.h"

namespace {

// Each test runs in a fresh working directory of its own.
class PreferencesFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int counter;
        directory_ = std::wstring(temp) + L"velmora-prefs-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(++counter);
        ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr));
        GetCurrentDirectoryW(MAX_PATH, previous_);
        ASSERT_TRUE(SetCurrentDirectoryW(directory_.c_str()));
        uiLanguage = UiLanguage::Russian;
        readerType = ReaderType::Lnx;
        selectTextTable();
    }

    void TearDown() override
    {
        DeleteFileW(L"appconfig.ini");
        RemoveDirectoryW(L"appconfig.ini");
        SetCurrentDirectoryW(previous_);
        RemoveDirectoryW(directory_.c_str());
    }

    static void writeFile(const std::string &bytes)
    {
        FILE *file = std::fopen("appconfig.ini", "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    static std::string readFile()
    {
        std::string bytes;
        FILE *file = std::fopen("appconfig.ini", "rb");
        if (file == nullptr)
            return "<missing>";
        char buffer[4096];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, count);
        std::fclose(file);
        return bytes;
    }

    std::wstring directory_;
    wchar_t previous_[MAX_PATH];
};

const std::string RussianLnx = "Language = RU;\r\nTabCtrl = LNA_LNB;\r\n";

TEST_F(PreferencesFile, MissingFileIsCreatedWithTheDefaults)
{
    uiLanguage = UiLanguage::English;
    readerType = ReaderType::Usb;
    loadPreferences();
    EXPECT_EQ(uiLanguage, UiLanguage::Russian);
    EXPECT_EQ(readerType, ReaderType::Lnx);
    EXPECT_EQ(readFile(), RussianLnx);
    EXPECT_EQ(readFile().size(), 36u);
}

struct HandEditedCase {
    const char *name;
    std::string content;
    UiLanguage language;
    ReaderType tab;
};

TEST_F(PreferencesFile, HandEditedFiles)
{
    const HandEditedCase cases[] = {
        {"english usb, CR LF", "Language = EN;\r\nTabCtrl = USB_USB;\r\n", UiLanguage::English, ReaderType::Usb},
        {"english usb, bare LF", "Language = EN;\nTabCtrl = USB_USB;\n", UiLanguage::English, ReaderType::Usb},
        {"only the english line", "Language = EN;\r\n", UiLanguage::English, ReaderType::Lnx},
        {"english without line end", "Language = EN;", UiLanguage::Russian, ReaderType::Lnx},
        {"usb line without line end", "Language = EN;\r\nTabCtrl = USB_USB;", UiLanguage::English, ReaderType::Lnx},
        {"byte-order mark", "\xEF\xBB\xBFLanguage = EN;\r\nTabCtrl = USB_USB;\r\n", UiLanguage::Russian, ReaderType::Usb},
        {"lower-case first letter", "language = EN;\r\nTabCtrl = USB_USB;\r\n", UiLanguage::Russian, ReaderType::Usb},
        {"no blanks around =", "Language=EN;\r\nTabCtrl=USB_USB;\r\n", UiLanguage::Russian, ReaderType::Lnx},
        {"blank after ;", "Language = EN; \r\nTabCtrl = USB_USB; \r\n", UiLanguage::Russian, ReaderType::Lnx},
        {"empty file", "", UiLanguage::Russian, ReaderType::Lnx},
        {"tab on line 3", "Language = EN;\r\n\r\nTabCtrl = USB_USB;\r\n", UiLanguage::English, ReaderType::Lnx},
        {"third line ignored", "Language = EN;\r\nTabCtrl = USB_USB;\r\nLanguage = RU;\r\n", UiLanguage::English,
         ReaderType::Usb},
        {"first line of 80 characters", std::string(80, 'x') + "\r\nTabCtrl = USB_USB;\r\n", UiLanguage::Russian,
         ReaderType::Lnx},
        {"binary", std::string("\x00\xFF\x01Language = EN;\r\n\x00", 20), UiLanguage::Russian, ReaderType::Lnx},
    };
    for (const HandEditedCase &testCase : cases) {
        SCOPED_TRACE(testCase.name);
        writeFile(testCase.content);
        uiLanguage = UiLanguage::Russian;
        readerType = ReaderType::Lnx;
        loadPreferences();
        EXPECT_EQ(uiLanguage, testCase.language);
        EXPECT_EQ(readerType, testCase.tab);
        EXPECT_EQ(readFile(), testCase.content) << "reading must not rewrite the file";
    }
}

TEST_F(PreferencesFile, LongFirstLineMakesItsRestTheSecondLine)
{
    // 79 characters are read as line 0; what follows on that line is line 1.
    writeFile(std::string(79, 'x') + "TabCtrl = USB_USB;\r\nTabCtrl = USB_USB;\r\n");
    loadPreferences();
    EXPECT_EQ(readerType, ReaderType::Usb);
}

TEST_F(PreferencesFile, LargeFileIsReadToTheEnd)
{
    std::string content = "Language = EN;\r\nTabCtrl = USB_USB;\r\n";
    while (content.size() < 80000)
        content += "padding line that is ignored\r\n";
    writeFile(content);
    loadPreferences();
    EXPECT_EQ(uiLanguage, UiLanguage::English);
    EXPECT_EQ(readerType, ReaderType::Usb);
}

TEST_F(PreferencesFile, SaveRewritesTheFirst36BytesInPlace)
{
    writeFile("Language = RU;\nTabCtrl = LNA_LNB;\nthird line\n");
    uiLanguage = UiLanguage::English;
    readerType = ReaderType::Usb;
    savePreferences();
    // 36 bytes with CR LF cover the 34 LF-only bytes and 2 of the third line.
    EXPECT_EQ(readFile(), "Language = EN;\r\nTabCtrl = USB_USB;\r\nird line\n");
}

TEST_F(PreferencesFile, SaveGrowsAShortFileTo36Bytes)
{
    writeFile("x");
    uiLanguage = UiLanguage::English;
    readerType = ReaderType::Lnx;
    savePreferences();
    EXPECT_EQ(readFile(), "Language = EN;\r\nTabCtrl = LNA_LNB;\r\n");
}

TEST_F(PreferencesFile, SaveWithoutTheFileShowsTheWarningAndCreatesNothing)
{
    uiLanguage = UiLanguage::English;
    selectTextTable();
    BoxRecorder recorder;
    savePreferences();
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].text, L"Failed to save settings!\nRestart the program.");
    EXPECT_EQ(recorder.boxes()[0].caption, L"Message");
    EXPECT_EQ(recorder.boxes()[0].picture, 4);
    EXPECT_EQ(readFile(), "<missing>");
    EXPECT_EQ(uiLanguage, UiLanguage::English);
}

TEST_F(PreferencesFile, AFolderNamedLikeTheFileLeavesTheDefaults)
{
    ASSERT_TRUE(CreateDirectoryW(L"appconfig.ini", nullptr));
    uiLanguage = UiLanguage::English;
    readerType = ReaderType::Usb;
    loadPreferences();
    EXPECT_EQ(uiLanguage, UiLanguage::Russian);
    EXPECT_EQ(readerType, ReaderType::Lnx);
    DWORD attributes = GetFileAttributesW(L"appconfig.ini");
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    BoxRecorder recorder;
    savePreferences();
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].picture, 4);
}

}  // namespace
