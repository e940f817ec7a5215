// Every interface text of both languages, against the table written out
// independently in expected_texts.inc.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "prefs/preferences.h"
#include "prefs/texts.h"

#include "expected_texts.inc"

static std::wstring fromUtf8(const char *text)
{
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length);
    return wide;
}

TEST(Texts, TableHasEveryIdInOrder)
{
    ASSERT_EQ(sizeof expectedTexts / sizeof expectedTexts[0], static_cast<size_t>(TextCount));
    EXPECT_STREQ(expectedTexts[TxtWindowTitle].id, "TxtWindowTitle");
    EXPECT_STREQ(expectedTexts[TxtMessageCaption].id, "TxtMessageCaption");
    EXPECT_STREQ(expectedTexts[TxtInstallPdfViewer].id, "TxtInstallPdfViewer");
}

TEST(Texts, EveryRussianAndEnglishTextIsExact)
{
    for (int id = 0; id < TextCount; id++) {
        SCOPED_TRACE(expectedTexts[id].id);
        ASSERT_NE(RussianTexts[id], nullptr);
        ASSERT_NE(EnglishTexts[id], nullptr);
        EXPECT_EQ(std::wstring(RussianTexts[id]), fromUtf8(expectedTexts[id].russian));
        EXPECT_EQ(std::wstring(EnglishTexts[id]), fromUtf8(expectedTexts[id].english));
    }
}

TEST(Texts, SharedConstantsAreOneString)
{
    EXPECT_EQ(RussianTexts[TxtStandbyOff], RussianTexts[TxtPollOff]);
    EXPECT_EQ(EnglishTexts[TxtStandbyOff], EnglishTexts[TxtPollOff]);
    EXPECT_EQ(EnglishTexts[TxtMenuHelp], EnglishTexts[TxtMenuHelpItem]);
    EXPECT_NE(std::wstring(RussianTexts[TxtMenuHelp]), std::wstring(RussianTexts[TxtMenuHelpItem]));
}

TEST(Texts, LineBreaksKeepTheirOwnOrder)
{
    // LF before CR in some texts, a bare LF in others.
    EXPECT_NE(std::wstring(EnglishTexts[TxtHelpFileNotFound]).find(L"!\n\rCheck"), std::wstring::npos);
    EXPECT_NE(std::wstring(EnglishTexts[TxtNoReply]).find(L"!\n(Try"), std::wstring::npos);
    EXPECT_EQ(std::wstring(EnglishTexts[TxtNoReply]).find(L'\r'), std::wstring::npos);
    EXPECT_NE(std::wstring(EnglishTexts[TxtHelpFolderHint]).find(L"C:\\Velmora v.x.x\\help"), std::wstring::npos);
}

TEST(Texts, SelectTextTableFollowsTheLanguage)
{
    uiLanguage = UiLanguage::English;
    selectTextTable();
    for (int id = 0; id < TextCount; id++)
        EXPECT_EQ(TextTable[id], EnglishTexts[id]);
    uiLanguage = UiLanguage::Russian;
    selectTextTable();
    for (int id = 0; id < TextCount; id++)
        EXPECT_EQ(TextTable[id], RussianTexts[id]);
    EXPECT_EQ(std::wstring(TextTable[TxtWindowTitle]), fromUtf8(u8"Velmora вер.1.0 (x86)"));
}
