// The menu bar, the commands of the window procedure that need no reader,
// the help-result boxes and the About box, in-process on a real main window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "res/resource_ids.h"
#include "tests/support/box_recorder.h"
#include "ui/lamps.h"
#include "ui/panel.h"

namespace {

// A main window of the real class, with every control, in a working
// directory of its own (the language commands save appconfig.ini).
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        directory_ = std::wstring(temp) + L"velmora-app-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(directory_.c_str(), nullptr);
        SetCurrentDirectoryW(directory_.c_str());
        DeleteFileW(L"appconfig.ini");
        loadPreferences();  // creates the default file

        uiLanguage = UiLanguage::Russian;
        readerType = ReaderType::Lnx;
        selectTextTable();
        ASSERT_NE(createMainWindow(GetModuleHandleW(nullptr)), nullptr);
        // Shown, so that invalidated areas are tracked.
        ShowWindow(mainWindow, SW_SHOWNOACTIVATE);
        UpdateWindow(mainWindow);
    }

    void TearDown() override
    {
        // Destroying the window runs the orderly shut-down of the link.
        DestroyWindow(mainWindow);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_QUIT)
                DispatchMessageW(&message);
        mainWindow = nullptr;
        DeleteFileW(L"appconfig.ini");
        SetCurrentDirectoryW(L"..");
        RemoveDirectoryW(directory_.c_str());
    }

    static std::wstring menuText(HMENU menu, UINT item, UINT flag)
    {
        wchar_t text[128] = L"";
        GetMenuStringW(menu, item, text, 128, flag);
        return text;
    }

    static void command(int id) { SendMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    std::wstring directory_;
};

TEST_F(MainWindow, MenuBarInRussian)
{
    HMENU bar = GetMenu(mainWindow);
    ASSERT_EQ(GetMenuItemCount(bar), 3);
    EXPECT_EQ(menuText(bar, 0, MF_BYPOSITION), L"Файл");
    EXPECT_EQ(menuText(bar, 1, MF_BYPOSITION), L"Инструменты");
    EXPECT_EQ(menuText(bar, 2, MF_BYPOSITION), L"Помощь");
    HMENU file = GetSubMenu(bar, 0), tools = GetSubMenu(bar, 1), help = GetSubMenu(bar, 2);
    ASSERT_EQ(GetMenuItemCount(file), 1);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(ID_MENU_QUIT));
    EXPECT_EQ(menuText(file, 0, MF_BYPOSITION), L"Выход");
    ASSERT_EQ(GetMenuItemCount(tools), 1);
    EXPECT_EQ(menuText(tools, 0, MF_BYPOSITION), L"Язык");
    EXPECT_EQ(GetSubMenu(tools, 0), languageMenu);
    ASSERT_EQ(GetMenuItemCount(languageMenu), 2);
    EXPECT_EQ(menuText(languageMenu, ID_MENU_LANG_RU, MF_BYCOMMAND), L"Русский");
    EXPECT_EQ(menuText(languageMenu, ID_MENU_LANG_EN, MF_BYCOMMAND), L"English");
    EXPECT_EQ(GetMenuState(languageMenu, ID_MENU_LANG_RU, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(languageMenu, ID_MENU_LANG_EN, MF_BYCOMMAND) & MF_CHECKED, 0u);
    ASSERT_EQ(GetMenuItemCount(help), 3);
    EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(ID_MENU_HELP));
    EXPECT_EQ(menuText(help, 0, MF_BYPOSITION), L"Справка");
    EXPECT_NE(GetMenuState(help, 1, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(help, 2), static_cast<UINT>(ID_MENU_ABOUT));
    EXPECT_EQ(menuText(help, 2, MF_BYPOSITION), L"О программе...");
}

TEST_F(MainWindow, LanguageSwitchRebuildsTheMenuAndSaves)
{
    command(ID_MENU_LANG_EN);
    EXPECT_EQ(uiLanguage, UiLanguage::English);
    HMENU bar = GetMenu(mainWindow);
    EXPECT_EQ(menuText(bar, 0, MF_BYPOSITION), L"File");
    EXPECT_EQ(menuText(bar, 1, MF_BYPOSITION), L"Tools");
    EXPECT_EQ(menuText(bar, 2, MF_BYPOSITION), L"Help");
    EXPECT_EQ(menuText(GetSubMenu(bar, 2), 2, MF_BYPOSITION), L"About...");
    EXPECT_EQ(menuText(languageMenu, ID_MENU_LANG_RU, MF_BYCOMMAND), L"Русский");
    EXPECT_NE(GetMenuState(languageMenu, ID_MENU_LANG_EN, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(GetMenuState(languageMenu, ID_MENU_LANG_RU, MF_BYCOMMAND) & MF_CHECKED, 0u);
    wchar_t title[64];
    GetWindowTextW(mainWindow, title, 64);
    EXPECT_STREQ(title, L"Velmora ver.1.0 (x86)");
    GetWindowTextW(standbyOffRadio, title, 64);  // hidden page captions change too
    EXPECT_STREQ(title, L"Off");

    FILE *file = _wfopen(L"appconfig.ini", L"rb");
    ASSERT_NE(file, nullptr);
    char bytes[64] = {};
    size_t count = fread(bytes, 1, sizeof bytes, file);
    fclose(file);
    EXPECT_EQ(std::string(bytes, count), "Language = EN;\r\nTabCtrl = LNA_LNB;\r\n");

    // The same language again still saves (here it fails: the file is gone)
    // and leaves a complete menu bar.
    DeleteFileW(L"appconfig.ini");
    BoxRecorder recorder;
    command(ID_MENU_LANG_EN);
    EXPECT_EQ(GetMenuItemCount(GetMenu(mainWindow)), 3);
    ASSERT_EQ(recorder.boxes().size(), 1u);  // the save failed: file deleted
    EXPECT_EQ(recorder.boxes()[0].text, L"Failed to save settings!\nRestart the program.");
}

struct LampCommandCase {
    int id;
    int lamp;
    COLORREF color;
};

TEST_F(MainWindow, LampRadiosSetOnlyTheirLamp)
{
    const LampCommandCase cases[] = {
        {ID_IF_TOUCH_MEMORY, 0, 0x0000FF}, {ID_IF_WIEGAND26, 0, 0x00FF00}, {ID_IF_WIEGAND44, 0, 0xFFFF00},
        {ID_MODE_WINDOWS, 0, 0xFFFF00},    {ID_MODE_ALL_OS, 0, 0xFF00FF},  {ID_IND_DIRECT, 1, 0x0000FF},
        {ID_IND_INVERSE, 1, 0xFF0000},     {ID_STANDBY_DYNAMIC, 2, 0x0000FF}, {ID_STANDBY_STATIC, 2, 0x00FF00},
        {ID_STANDBY_OFF, 2, 0xFF00FF},     {ID_TOUCH_POLL_ON, 3, 0x0000FF}, {ID_TOUCH_POLL_OFF, 3, 0x00FFFF},
    };
    for (const LampCommandCase &testCase : cases) {
        SCOPED_TRACE(testCase.id);
        for (int lamp = 0; lamp < LampCount; lamp++)
            lampColor[lamp] = 0x123456;
        ValidateRect(mainWindow, nullptr);
        command(testCase.id);
        for (int lamp = 0; lamp < LampCount; lamp++)
            EXPECT_EQ(lampColor[lamp], lamp == testCase.lamp ? testCase.color : 0x123456) << "lamp " << lamp + 1;
        RECT update;
        EXPECT_TRUE(GetUpdateRect(mainWindow, &update, FALSE));
        EXPECT_EQ(update.left, 330);
        EXPECT_EQ(update.top, 60);
        EXPECT_EQ(update.right, 380);
        EXPECT_EQ(update.bottom, 560);
    }
    // Radios without a lamp change nothing.
    const int silent[] = {ID_FMT_HEX, ID_FMT_DEC, ID_BYTES_5, ID_BYTES_2, ID_CARDS_ALL, ID_CARDS_MIFARE_PAY, 0, 99};
    for (int id : silent) {
        lampColor[0] = 0x123456;
        command(id);
        EXPECT_EQ(lampColor[0], 0x123456u) << id;
    }
}

TEST_F(MainWindow, OutputFormatEnablesHexAndDec)
{
    CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, ID_FMT_DEC);
    command(ID_OUT_TOUCH_MEMORY);
    EXPECT_FALSE(IsWindowEnabled(fmtHexRadio));
    EXPECT_FALSE(IsWindowEnabled(fmtDecRadio));
    EXPECT_EQ(SendMessageW(fmtDecRadio, BM_GETCHECK, 0, 0), BST_CHECKED);  // checks stay
    command(ID_OUT_HEX_DEC);
    EXPECT_TRUE(IsWindowEnabled(fmtHexRadio));
    EXPECT_TRUE(IsWindowEnabled(fmtDecRadio));
    EXPECT_EQ(SendMessageW(fmtDecRadio, BM_GETCHECK, 0, 0), BST_CHECKED);
}

struct HelpCase {
    INT_PTR result;
    std::wstring first;
    int firstPicture;
    std::wstring second;  // empty: one box only
    int secondPicture;
};

TEST_F(MainWindow, HelpResultsMapToTheirBoxes)
{
    uiLanguage = UiLanguage::English;
    selectTextTable();
    const std::wstring notFound =
        L"File not found!\n\rCheck for the presence of the help file (Velmora ver_1_0.pdf).";
    const std::wstring folderHint =
        L"Open the help folder where the application is installed.\n\rDefault: C:\\Velmora v.x.x\\help";
    const HelpCase cases[] = {
        {33, L"", 0, L"", 0},
        {42, L"", 0, L"", 0},
        {2, notFound, 5, folderHint, 6},
        {3, notFound, 5, folderHint, 6},
        {31, L"Help file cannot be opened!", 4, L"Install a PDF viewer on your PC.", 6},
        {5, L"Opening the help file failed!\n\r[Error code: 5]", 5, L"", 0},
        {0, L"Opening the help file failed!\n\r[Error code: 0]", 5, L"", 0},
        {32, L"Opening the help file failed!\n\r[Error code: 32]", 5, L"", 0},
        {-1, L"Opening the help file failed!\n\r[Error code: -1]", 5, L"", 0},
    };
    for (const HelpCase &testCase : cases) {
        SCOPED_TRACE(testCase.result);
        BoxRecorder recorder;
        reportHelpResult(testCase.result);
        size_t expected = testCase.first.empty() ? 0 : testCase.second.empty() ? 1 : 2;
        ASSERT_EQ(recorder.boxes().size(), expected);
        if (expected >= 1) {
            EXPECT_EQ(recorder.boxes()[0].text, testCase.first);
            EXPECT_EQ(recorder.boxes()[0].picture, testCase.firstPicture);
            EXPECT_EQ(recorder.boxes()[0].caption, L"Message");
            EXPECT_EQ(recorder.boxes()[0].owner, mainWindow);
        }
        if (expected == 2) {
            EXPECT_EQ(recorder.boxes()[1].text, testCase.second);
            EXPECT_EQ(recorder.boxes()[1].picture, testCase.secondPicture);
        }
    }
}

// Closes the About box with the given command as soon as it is active, after
// noting its caption and whether it shows the expected text.
struct AboutProbe {
    WORD closeWith;
    std::wstring caption;
    std::wstring text;
} aboutProbe;

LRESULT CALLBACK closeAbout(int code, WPARAM wParam, LPARAM lParam)
{
    wchar_t className[16] = L"";
    if (code == HCBT_ACTIVATE)
        GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16);
    if (lstrcmpW(className, L"#32770") == 0 && aboutProbe.caption.empty()) {
        HWND dialog = reinterpret_cast<HWND>(wParam);
        wchar_t text[256];
        GetWindowTextW(dialog, text, 256);
        aboutProbe.caption = text;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            GetWindowTextW(child, text, 256);
            if (wcslen(text) > aboutProbe.text.size())
                aboutProbe.text = text;
        }
        PostMessageW(dialog, WM_COMMAND, aboutProbe.closeWith, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MainWindow, AboutBoxClosesWithOkOrCancel)
{
    struct {
        UiLanguage language;
        WORD closeWith;
        INT_PTR result;
        const wchar_t *caption;
        const wchar_t *textStart;
    } cases[] = {
        {UiLanguage::English, IDOK, 1, L"About...", L"Reader configurator:\n\rVelmora.\n\n\rVersion:   1.0 (x86)\n\n\r"},
        {UiLanguage::English, IDCANCEL, 2, L"About...", L"Reader configurator:"},
        {UiLanguage::Russian, IDOK, 1, L"О программе...",
         L"Конфигуратор считывателя:\n\rVelmora.\n\n\rВерсия:   1.0 (x86)\n\n\r"},
    };
    for (const auto &testCase : cases) {
        aboutProbe = {testCase.closeWith, L"", L""};
        HHOOK hook = SetWindowsHookExW(WH_CBT, closeAbout, nullptr, GetCurrentThreadId());
        int dialog = testCase.language == UiLanguage::English ? IDD_ABOUT_EN : IDD_ABOUT_RU;
        INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog), mainWindow,
                                         aboutDialogProc, 0);
        UnhookWindowsHookEx(hook);
        EXPECT_EQ(result, testCase.result);
        EXPECT_EQ(aboutProbe.caption, testCase.caption);
        EXPECT_EQ(aboutProbe.text.rfind(testCase.textStart, 0), 0u) << "text: " << aboutProbe.text.size();
    }
}

TEST_F(MainWindow, AboutDialogProcedureAnswers)
{
    EXPECT_EQ(aboutDialogProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(aboutDialogProc(nullptr, WM_COMMAND, 1234, 0), TRUE);  // other ids: nothing, but handled
    EXPECT_EQ(aboutDialogProc(nullptr, WM_PAINT, 0, 0), FALSE);
}

}  // namespace
