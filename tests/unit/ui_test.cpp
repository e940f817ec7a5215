// The configuration window on a real main window: every control of both
// pages, the radio groups and page defaults, the lamps as painted, the
// message boxes and the progress popup.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "res/resource_ids.h"
#include "tests/support/box_recorder.h"
#include "ui/lamps.h"
#include "ui/messages.h"
#include "ui/panel.h"

namespace {

// ---------------------------------------------------------------------------
// The main window of the tests: the program's own, made as start-up makes
// it, with a procedure in front of the program's that notes the timers'
// ticks instead of acting on them.

std::vector<UINT_PTR> timerTicks;
WNDPROC programWindowProc;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        timerTicks.push_back(wParam);
        return 0;
    }
    return CallWindowProcW(programWindowProc, window, message, wParam, lParam);
}

void pumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(1);
    } while (GetTickCount() - start < milliseconds);
}

void selectSession(UiLanguage language, ReaderType page)
{
    uiLanguage = language;
    readerType = page;
    selectTextTable();
}

// Creates, fills and shows the main window as start-up does.
void openMainWindow(UiLanguage language, ReaderType page)
{
    selectSession(language, page);
    ASSERT_NE(createMainWindow(GetModuleHandleW(nullptr)), nullptr);
    programWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(testWindowProc)));
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    pumpFor(20);
}

void closeMainWindow()
{
    if (mainWindow == nullptr)
        return;
    for (UINT_PTR timer = 1; timer <= 4; timer++)
        KillTimer(mainWindow, timer);
    if (progressPopup != nullptr && IsWindow(progressPopup))
        DestroyWindow(progressPopup);
    progressPopup = nullptr;
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    pumpFor(10);
    timerTicks.clear();
}

class UiTest : public ::testing::Test {
protected:
    void TearDown() override { closeMainWindow(); }
};

const wchar_t *textOf(UiLanguage language, TextId id)
{
    return (language == UiLanguage::English ? EnglishTexts : RussianTexts)[id];
}

// ---------------------------------------------------------------------------
// Window creation seen through a CBT hook: what was asked for, exactly.

struct Creation {
    HWND window;
    std::wstring className;
    bool hasName;
    std::wstring name;
    DWORD style, exStyle;
    int x, y, width, height;
    INT_PTR menu;
    HWND parent;
    HINSTANCE instance;
    bool menuBarPresent;  // the main window had its menu bar already
    int checkedLnxDefault, checkedUsbDefault;  // radios 3 and 20 at this moment
};

std::vector<Creation> creations;
HHOOK creationHook;

LRESULT CALLBACK recordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW *create = reinterpret_cast<CBT_CREATEWNDW *>(lParam)->lpcs;
        Creation record;
        record.window = reinterpret_cast<HWND>(wParam);
        record.className = IS_INTRESOURCE(create->lpszClass) ? L"#atom" : create->lpszClass;
        record.hasName = create->lpszName != nullptr;
        record.name = record.hasName ? create->lpszName : L"";
        record.style = static_cast<DWORD>(create->style);
        record.exStyle = create->dwExStyle;
        record.x = create->x;
        record.y = create->y;
        record.width = create->cx;
        record.height = create->cy;
        record.menu = reinterpret_cast<INT_PTR>(create->hMenu);
        record.parent = create->hwndParent;
        record.instance = create->hInstance;
        record.menuBarPresent = mainWindow != nullptr && GetMenu(mainWindow) != nullptr;
        record.checkedLnxDefault = mainWindow ? IsDlgButtonChecked(mainWindow, ID_IF_TOUCH_MEMORY) : 0;
        record.checkedUsbDefault = mainWindow ? IsDlgButtonChecked(mainWindow, ID_MODE_WINDOWS) : 0;
        creations.push_back(record);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct CreationRecorder {
    CreationRecorder()
    {
        creations.clear();
        creationHook = SetWindowsHookExW(WH_CBT, recordCreation, nullptr, GetCurrentThreadId());
    }
    ~CreationRecorder() { UnhookWindowsHookEx(creationHook); }
    // Only windows created with this parent (or owner).
    std::vector<Creation> childrenOf(HWND parent) const
    {
        std::vector<Creation> found;
        for (const Creation &record : creations)
            if (record.parent == parent)
                found.push_back(record);
        return found;
    }
};

// ---------------------------------------------------------------------------
// The panel as it must be, row by row in creation order.

enum class Page { Both, Lnx, Usb };
constexpr int Literal = -1;

struct ExpectedControl {
    HWND *handle;
    const wchar_t *className;
    int text;
    const wchar_t *literal;
    DWORD style;
    int x, y, width, height;
    int id;
    Page page;
};

#define TEXT_CONTROL(handle, className, text, style, x, y, width, height, id, page) \
    {&handle, L"" className, text, nullptr, style, x, y, width, height, id, Page::page},
#define LITERAL_CONTROL(handle, className, literal, style, x, y, width, height, id, page) \
    {&handle, L"" className, Literal, L"" literal, style, x, y, width, height, id, Page::page},
const ExpectedControl Panel[] = {
#include "expected_controls.inc"
};
#undef LITERAL_CONTROL
#undef TEXT_CONTROL
constexpr size_t ReadButtonRow = 37;

const int AllRadios[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 32, 33, 34};

struct Session {
    UiLanguage language;
    ReaderType page;
    const char *name;
};

const Session Sessions[] = {
    {UiLanguage::Russian, ReaderType::Lnx, "Russian, Lnx tab"},
    {UiLanguage::Russian, ReaderType::Usb, "Russian, Usb tab"},
    {UiLanguage::English, ReaderType::Lnx, "English, Lnx tab"},
    {UiLanguage::English, ReaderType::Usb, "English, Usb tab"},
};

RECT clientRectOf(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

std::wstring windowText(HWND window)
{
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

std::set<int> checkedRadios()
{
    std::set<int> checked;
    for (int id : AllRadios)
        if (IsDlgButtonChecked(mainWindow, id) == BST_CHECKED)
            checked.insert(id);
    return checked;
}

// ---------------------------------------------------------------------------
// Layout

TEST_F(UiTest, EveryControlIsCreatedAsTheTableSaysOnEachPageAndInEachLanguage)
{
    for (const Session &session : Sessions) {
        SCOPED_TRACE(session.name);
        std::vector<Creation> children;
        {
            CreationRecorder recorder;
            openMainWindow(session.language, session.page);
            children = recorder.childrenOf(mainWindow);
        }
        ASSERT_EQ(children.size(), sizeof Panel / sizeof Panel[0]);
        for (size_t row = 0; row < children.size(); row++) {
            const ExpectedControl &expected = Panel[row];
            const Creation &made = children[row];
            SCOPED_TRACE("control No. " + std::to_string(row + 1));

            // As asked for at creation.
            EXPECT_EQ(made.className, expected.className);
            std::wstring caption = expected.text == Literal ? (expected.literal ? expected.literal : L"")
                                                           : textOf(session.language, TextId(expected.text));
            EXPECT_EQ(made.name, caption);
            EXPECT_EQ(made.style, expected.style);
            EXPECT_EQ(made.exStyle, 0u);
            EXPECT_EQ(made.x, expected.x);
            EXPECT_EQ(made.y, expected.y);
            EXPECT_EQ(made.width, expected.width);
            EXPECT_EQ(made.height, expected.height);
            EXPECT_EQ(made.menu, expected.id);
            EXPECT_EQ(made.instance, GetModuleHandleW(nullptr));
            EXPECT_TRUE(made.menuBarPresent) << "the menu bar comes first";

            // As it stands on the shown window.
            HWND control = *expected.handle;
            EXPECT_EQ(control, made.window);
            EXPECT_EQ(GetParent(control), mainWindow);
            wchar_t className[64];
            GetClassNameW(control, className, 64);
            EXPECT_EQ(lstrcmpiW(className, expected.className), 0)
                << "class " << std::string(className, className + lstrlenW(className));
            EXPECT_EQ(GetDlgCtrlID(control), expected.id);
            EXPECT_EQ(windowText(control), caption);
            // (A checked radio gets WS_TABSTOP from the system itself.)
            if ((expected.style & 0xF) != BS_AUTORADIOBUTTON) {
                EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP, 0);
            }
            RECT rect = clientRectOf(control);
            EXPECT_EQ(rect.left, expected.x);
            EXPECT_EQ(rect.top, expected.y);
            EXPECT_EQ(rect.right - rect.left, expected.width);
            if (control == portList) {
                // A drop-down list shows its field only; the height it was
                // made with is the field and the open list together.
                // Windows counts the field in the dropped rectangle, Wine
                // gives the list's height alone.
                RECT dropped;
                SendMessageW(portList, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
                int field = rect.bottom - rect.top;
                int list = dropped.bottom - dropped.top;
                EXPECT_TRUE(list == expected.height || field + list == expected.height)
                    << "field " << field << ", dropped " << list;
            } else {
                EXPECT_EQ(rect.bottom - rect.top, expected.height);
            }
            bool visible = expected.page == Page::Both ||
                           (expected.page == Page::Lnx) == (session.page == ReaderType::Lnx);
            EXPECT_EQ(IsWindowVisible(control) != FALSE, visible);
        }
        // The page defaults run before READ, WRITE and the lamp frame exist.
        EXPECT_EQ(children[ReadButtonRow - 1].checkedLnxDefault, BST_UNCHECKED);
        EXPECT_EQ(children[ReadButtonRow - 1].checkedUsbDefault, BST_UNCHECKED);
        EXPECT_EQ(children[ReadButtonRow].checkedLnxDefault,
                  session.page == ReaderType::Lnx ? BST_CHECKED : BST_UNCHECKED);
        EXPECT_EQ(children[ReadButtonRow].checkedUsbDefault,
                  session.page == ReaderType::Usb ? BST_CHECKED : BST_UNCHECKED);
        closeMainWindow();
    }
}

TEST_F(UiTest, CaptionsFollowTheLanguageAndLiteralsDoNot)
{
    struct Case {
        UiLanguage language;
        HWND *control;
        const wchar_t *caption;
    };
    const Case cases[] = {
        {UiLanguage::English, &searchButton, L"SEARCH"},
        {UiLanguage::Russian, &searchButton, L"ПОИСК"},
        {UiLanguage::English, &lampFrameGroup, L"Indic."},
        {UiLanguage::Russian, &lampFrameGroup, L"Инд."},
        {UiLanguage::English, &standbyOffRadio, L"Off"},
        {UiLanguage::Russian, &touchPollOffRadio, L"Выкл."},
        {UiLanguage::Russian, &ifWiegand26Radio, L"Wiegand 26"},
        {UiLanguage::Russian, &versionValue, L"x.xx"},
        {UiLanguage::English, &modeAllOsRadio, L"Windows, Linux, MacOS"},
    };
    for (const Case &item : cases) {
        openMainWindow(item.language, ReaderType::Lnx);
        EXPECT_EQ(windowText(*item.control), item.caption);
        closeMainWindow();
    }
}

TEST_F(UiTest, TabsHaveFixedLabelsAndTheRememberedOneIsSelected)
{
    for (const Session &session : Sessions) {
        SCOPED_TRACE(session.name);
        openMainWindow(session.language, session.page);
        ASSERT_EQ(SendMessageW(readerTabs, TCM_GETITEMCOUNT, 0, 0), 2);
        const wchar_t *labels[] = {L"Tarvik-LNA_B", L"  Tarvik-USB   "};
        for (int tab = 0; tab < 2; tab++) {
            wchar_t text[64] = {};
            TCITEMW item = {};
            item.mask = TCIF_TEXT | TCIF_IMAGE;
            item.pszText = text;
            item.cchTextMax = 64;
            item.iImage = 12345;
            ASSERT_TRUE(SendMessageW(readerTabs, TCM_GETITEMW, tab, reinterpret_cast<LPARAM>(&item)));
            EXPECT_STREQ(text, labels[tab]);
            EXPECT_EQ(item.iImage, -1);
        }
        EXPECT_EQ(SendMessageW(readerTabs, TCM_GETCURSEL, 0, 0), static_cast<int>(session.page));
        closeMainWindow();
    }
}

// ---------------------------------------------------------------------------
// Radio groups and page defaults

const std::set<int> LnxDefaultRadios = {3, 6, 10, 11, 32};
const std::set<int> UsbDefaultRadios = {20, 22, 24, 26, 32};

TEST_F(UiTest, AClickClearsOnlyTheRadiosOfItsOwnGroup)
{
    struct Case {
        ReaderType page;
        int clicked;
        std::set<int> checked;
    };
    const Case cases[] = {
        {ReaderType::Lnx, 4, {4, 6, 10, 11, 32}},
        {ReaderType::Lnx, 5, {5, 6, 10, 11, 32}},
        {ReaderType::Lnx, 3, {3, 6, 10, 11, 32}},
        {ReaderType::Lnx, 7, {3, 7, 10, 11, 32}},
        {ReaderType::Lnx, 8, {3, 6, 8, 11, 32}},
        {ReaderType::Lnx, 9, {3, 6, 9, 11, 32}},
        {ReaderType::Lnx, 12, {3, 6, 10, 12, 32}},
        {ReaderType::Usb, 21, {21, 22, 24, 26, 32}},
        {ReaderType::Usb, 23, {20, 23, 24, 26, 32}},
        {ReaderType::Usb, 25, {20, 22, 25, 26, 32}},
        {ReaderType::Usb, 27, {20, 22, 24, 27, 32}},
        {ReaderType::Usb, 29, {20, 22, 24, 29, 32}},
        {ReaderType::Usb, 33, {20, 22, 24, 26, 33}},
        {ReaderType::Usb, 34, {20, 22, 24, 26, 34}},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE("radio " + std::to_string(item.clicked));
        openMainWindow(UiLanguage::English, item.page);
        ASSERT_EQ(checkedRadios(), item.page == ReaderType::Lnx ? LnxDefaultRadios : UsbDefaultRadios);
        SendMessageW(GetDlgItem(mainWindow, item.clicked), BM_CLICK, 0, 0);
        EXPECT_EQ(checkedRadios(), item.checked);
        closeMainWindow();
    }
}

struct PageState {
    std::set<int> checked;
    bool cardsEnabled;
    COLORREF lamps[LampCount];
};

const PageState LnxDefaults = {LnxDefaultRadios, false, {0x0000FF, 0x0000FF, 0xFF00FF, 0x0000FF, 0xFFFFFF}};
const PageState UsbDefaults = {UsbDefaultRadios, true, {0xFFFF00, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}};

void expectPageState(ReaderType page, const PageState &state)
{
    std::set<int> checked = checkedRadios();
    // Radios of the hidden page keep whatever they had.
    std::set<int> shownPage;
    for (int id : checked) {
        bool lnxRadio = id <= 12;
        bool usbRadio = id >= 20 && id <= 29;
        if (id >= 32 || (lnxRadio && page == ReaderType::Lnx) || (usbRadio && page == ReaderType::Usb))
            shownPage.insert(id);
    }
    EXPECT_EQ(shownPage, state.checked);
    for (HWND control : {cardsToReadGroup, cardsAllRadio, cardsHidEmRadio, cardsMifarePayRadio})
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, state.cardsEnabled);
    for (int lamp = 0; lamp < LampCount; lamp++)
        EXPECT_EQ(lampColor[lamp], state.lamps[lamp]) << "lamp " << lamp + 1;
    for (const ExpectedControl &row : Panel) {
        bool visible = row.page == Page::Both || (row.page == Page::Lnx) == (page == ReaderType::Lnx);
        EXPECT_EQ(IsWindowVisible(*row.handle) != FALSE, visible) << "control id " << row.id;
    }
}

TEST_F(UiTest, StartUpShowsTheRememberedPageWithItsDefaults)
{
    for (const Session &session : Sessions) {
        SCOPED_TRACE(session.name);
        openMainWindow(session.language, session.page);
        expectPageState(session.page, session.page == ReaderType::Lnx ? LnxDefaults : UsbDefaults);
        if (session.page == ReaderType::Usb) {
            EXPECT_TRUE(IsWindowEnabled(fmtHexRadio));
            EXPECT_TRUE(IsWindowEnabled(fmtDecRadio));
        }
        closeMainWindow();
    }
}

TEST_F(UiTest, PageDefaultsReloadEveryChoiceAndTouchNothingElse)
{
    struct Case {
        ReaderType from, to;
    };
    const Case cases[] = {
        {ReaderType::Lnx, ReaderType::Usb},
        {ReaderType::Usb, ReaderType::Lnx},
        {ReaderType::Lnx, ReaderType::Lnx},
        {ReaderType::Usb, ReaderType::Usb},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(std::string("from ") + (item.from == ReaderType::Lnx ? "Lnx" : "Usb") + " to " +
                     (item.to == ReaderType::Lnx ? "Lnx" : "Usb"));
        openMainWindow(UiLanguage::English, item.from);
        // Choices away from every default, and state that is not the pages'.
        const int awayFromDefaults[][3] = {{3, 5, 5}, {6, 7, 7}, {8, 10, 8}, {11, 12, 12}, {20, 21, 21},
                                           {22, 23, 23}, {24, 25, 25}, {26, 29, 29}, {32, 34, 34}};
        for (const auto &group : awayFromDefaults)
            CheckRadioButton(mainWindow, group[0], group[1], group[2]);
        BOOL cardsBefore = item.to == ReaderType::Lnx;  // the opposite of the defaults
        for (HWND control : {cardsToReadGroup, cardsAllRadio, cardsHidEmRadio, cardsMifarePayRadio})
            EnableWindow(control, cardsBefore);
        for (COLORREF &color : lampColor)
            color = 0x123456;
        SetWindowTextW(versionValue, L"1.00");
        EnableWindow(portList, FALSE);
        EnableWindow(searchButton, FALSE);
        EnableWindow(readButton, FALSE);
        UpdateWindow(mainWindow);
        ValidateRect(mainWindow, nullptr);

        readerType = item.to;
        if (item.to == ReaderType::Lnx)
            applyLnxPageDefaults();
        else
            applyUsbPageDefaults();

        expectPageState(item.to, item.to == ReaderType::Lnx ? LnxDefaults : UsbDefaults);
        EXPECT_EQ(windowText(versionValue), L"1.00");
        EXPECT_FALSE(IsWindowEnabled(portList));
        EXPECT_FALSE(IsWindowEnabled(searchButton));
        EXPECT_FALSE(IsWindowEnabled(readButton));
        EXPECT_TRUE(IsWindowEnabled(writeButton));
        // The caller asks for the lamp repaint, not the defaults.
        HRGN update = CreateRectRgn(0, 0, 0, 0);
        GetUpdateRgn(mainWindow, update, FALSE);
        EXPECT_FALSE(RectInRegion(update, &lampArea));
        DeleteObject(update);
        closeMainWindow();
    }
}

TEST_F(UiTest, HexAndDecComeBackEnabledOnlyWithTheUsbDefaults)
{
    // "Touch Memory" output disables HEX and DEC; the Lnx defaults leave
    // them as they are, the Usb defaults enable them again.
    for (BOOL enabledBefore : {FALSE, TRUE}) {
        SCOPED_TRACE(enabledBefore ? "enabled before" : "disabled before");
        openMainWindow(UiLanguage::English, ReaderType::Usb);
        CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_TOUCH_MEMORY);
        EnableWindow(fmtHexRadio, enabledBefore);
        EnableWindow(fmtDecRadio, enabledBefore);

        readerType = ReaderType::Lnx;
        applyLnxPageDefaults();
        EXPECT_EQ(IsWindowEnabled(fmtHexRadio), enabledBefore);
        EXPECT_EQ(IsWindowEnabled(fmtDecRadio), enabledBefore);

        readerType = ReaderType::Usb;
        applyUsbPageDefaults();
        EXPECT_TRUE(IsWindowEnabled(fmtHexRadio));
        EXPECT_TRUE(IsWindowEnabled(fmtDecRadio));
        EXPECT_EQ(IsDlgButtonChecked(mainWindow, ID_OUT_HEX_DEC), static_cast<UINT>(BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(mainWindow, ID_OUT_TOUCH_MEMORY), static_cast<UINT>(BST_UNCHECKED));
        closeMainWindow();
    }
}

// ---------------------------------------------------------------------------
// Showing and hiding the pages, in order

struct ShowEvent {
    HWND window;
    bool shown;
    bool operator==(const ShowEvent &other) const { return window == other.window && shown == other.shown; }
};
std::vector<ShowEvent> showEvents;

LRESULT CALLBACK recordShowWindow(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_SHOWWINDOW)
        showEvents.push_back({call->hwnd, call->wParam != 0});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<HWND> lnxPageControls()
{
    return {interfacesGroup, ifTouchMemoryRadio, ifWiegand26Radio, ifWiegand44Radio,
            indicationControlGroup, indDirectRadio, indInverseRadio,
            standbyIndicationGroup, standbyDynamicRadio, standbyStaticRadio, standbyOffRadio,
            touchButtonPollGroup, touchPollOnRadio, touchPollOffRadio};
}

std::vector<HWND> usbPageControls()
{
    return {operatingModeGroup, modeWindowsRadio, modeAllOsRadio,
            outputFormatGroup, outHexDecRadio, outTouchMemoryRadio,
            outputTypeGroup, fmtHexRadio, fmtDecRadio,
            idByteCountGroup, bytes5Radio, bytes4Radio, bytes3Radio, bytes2Radio};
}

std::vector<ShowEvent> eventsFor(const std::vector<HWND> &controls, bool shown)
{
    std::vector<ShowEvent> events;
    for (HWND control : controls)
        events.push_back({control, shown});
    return events;
}

TEST_F(UiTest, PagesAreShownAndHiddenControlByControlInOrder)
{
    enum class Call { ShowLnx, HideLnx, ShowUsb, HideUsb, LnxDefaults, UsbDefaults };
    struct Case {
        const char *name;
        ReaderType start;
        Call call;
        bool lnxVisibleAfter, usbVisibleAfter;
    };
    const Case cases[] = {
        {"hide Lnx", ReaderType::Lnx, Call::HideLnx, false, false},
        {"show Usb over Lnx", ReaderType::Lnx, Call::ShowUsb, true, true},
        {"hide Usb", ReaderType::Usb, Call::HideUsb, false, false},
        {"show Lnx over Usb", ReaderType::Usb, Call::ShowLnx, true, true},
        {"Usb defaults", ReaderType::Lnx, Call::UsbDefaults, false, true},
        {"Lnx defaults", ReaderType::Usb, Call::LnxDefaults, true, false},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        openMainWindow(UiLanguage::English, item.start);
        std::vector<ShowEvent> expected;
        switch (item.call) {
        case Call::HideLnx: expected = eventsFor(lnxPageControls(), false); break;
        case Call::ShowUsb: expected = eventsFor(usbPageControls(), true); break;
        case Call::HideUsb: expected = eventsFor(usbPageControls(), false); break;
        case Call::ShowLnx: expected = eventsFor(lnxPageControls(), true); break;
        case Call::UsbDefaults:
            expected = eventsFor(lnxPageControls(), false);
            for (const ShowEvent &event : eventsFor(usbPageControls(), true))
                expected.push_back(event);
            break;
        case Call::LnxDefaults:
            expected = eventsFor(usbPageControls(), false);
            for (const ShowEvent &event : eventsFor(lnxPageControls(), true))
                expected.push_back(event);
            break;
        }

        showEvents.clear();
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, recordShowWindow, nullptr, GetCurrentThreadId());
        switch (item.call) {
        case Call::HideLnx: showLnxPage(SW_HIDE); break;
        case Call::ShowUsb: showUsbPage(SW_SHOW); break;
        case Call::HideUsb: showUsbPage(SW_HIDE); break;
        case Call::ShowLnx: showLnxPage(SW_SHOW); break;
        case Call::UsbDefaults: applyUsbPageDefaults(); break;
        case Call::LnxDefaults: applyLnxPageDefaults(); break;
        }
        UnhookWindowsHookEx(hook);

        EXPECT_TRUE(showEvents == expected);
        EXPECT_EQ(showEvents.size(), expected.size());
        for (HWND control : lnxPageControls())
            EXPECT_EQ(IsWindowVisible(control) != FALSE, item.lnxVisibleAfter);
        for (HWND control : usbPageControls())
            EXPECT_EQ(IsWindowVisible(control) != FALSE, item.usbVisibleAfter);
        for (HWND control : {portList, searchButton, versionLabel, versionValue, readerTabs, cardsToReadGroup,
                             cardsAllRadio, cardsHidEmRadio, cardsMifarePayRadio, readButton, writeButton,
                             lampFrameGroup})
            EXPECT_TRUE(IsWindowVisible(control));
        closeMainWindow();
    }
}

// ---------------------------------------------------------------------------
// Lamps as painted

COLORREF pixelAt(int x, int y)
{
    HDC dc = GetDC(mainWindow);
    COLORREF color = GetPixel(dc, x, y);
    ReleaseDC(mainWindow, dc);
    return color;
}

std::string hex(COLORREF color)
{
    char text[16];
    snprintf(text, sizeof text, "0x%06lX", static_cast<unsigned long>(color));
    return text;
}

// The lamps of `page` in `colors`, each with its black rim, and nothing of
// any other lamp anywhere in the lamp column.
void expectLamps(ReaderType page, const COLORREF (&colors)[LampCount])
{
    const RECT *rects = lampRect[page == ReaderType::Usb ? 1 : 0];
    for (int lamp = 0; lamp < LampCount; lamp++) {
        int centreX = (rects[lamp].left + rects[lamp].right) / 2;
        int centreY = (rects[lamp].top + rects[lamp].bottom) / 2;
        EXPECT_EQ(hex(pixelAt(centreX, centreY)), hex(colors[lamp])) << "lamp " << lamp + 1 << " centre";
        EXPECT_EQ(hex(pixelAt(rects[lamp].left, centreY)), hex(0)) << "lamp " << lamp + 1 << " rim";
        EXPECT_EQ(hex(pixelAt(centreX, rects[lamp].bottom - 1)), hex(0)) << "lamp " << lamp + 1 << " rim";
    }
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    HDC dc = GetDC(mainWindow);
    int stray = 0;
    std::string firstStray;
    for (int y = 100; y < 545; y++) {
        for (int x = 337; x < 374; x++) {
            bool nearLamp = false;
            for (int lamp = 0; lamp < LampCount; lamp++) {
                RECT around = rects[lamp];
                InflateRect(&around, 2, 2);
                POINT point = {x, y};
                nearLamp = nearLamp || PtInRect(&around, point);
            }
            if (!nearLamp && GetPixel(dc, x, y) != face) {
                if (stray++ == 0)
                    firstStray = std::to_string(x) + "," + std::to_string(y) + " " + hex(GetPixel(dc, x, y));
            }
        }
    }
    ReleaseDC(mainWindow, dc);
    EXPECT_EQ(stray, 0) << "first stray pixel at " << firstStray;
}

const COLORREF LnxStartLamps[LampCount] = {0x0000FF, 0x0000FF, 0xFF00FF, 0x0000FF, 0xFFFFFF};
const COLORREF UsbStartLamps[LampCount] = {0xFFFF00, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};

// What the tab change does around the page defaults.
void switchTab(ReaderType page)
{
    readerType = page;
    if (page == ReaderType::Lnx)
        applyLnxPageDefaults();
    else
        applyUsbPageDefaults();
    invalidateLamps();
    UpdateWindow(mainWindow);
}

TEST_F(UiTest, LampsShowThePageColoursAndNoTraceOfTheOtherPage)
{
    enum class Then { Nothing, SwitchTab, SwitchTwice, RepaintFarAway };
    struct Case {
        const char *name;
        ReaderType start;
        Then then;
        ReaderType shown;
        const COLORREF (&colors)[LampCount];
    };
    const Case cases[] = {
        {"start on Lnx", ReaderType::Lnx, Then::Nothing, ReaderType::Lnx, LnxStartLamps},
        {"start on Usb", ReaderType::Usb, Then::Nothing, ReaderType::Usb, UsbStartLamps},
        {"Lnx to Usb", ReaderType::Lnx, Then::SwitchTab, ReaderType::Usb, UsbStartLamps},
        {"Usb to Lnx", ReaderType::Usb, Then::SwitchTab, ReaderType::Lnx, LnxStartLamps},
        {"Lnx to Usb and back", ReaderType::Lnx, Then::SwitchTwice, ReaderType::Lnx, LnxStartLamps},
        {"far repaint on Lnx", ReaderType::Lnx, Then::RepaintFarAway, ReaderType::Lnx, LnxStartLamps},
        {"far repaint on Usb", ReaderType::Usb, Then::RepaintFarAway, ReaderType::Usb, UsbStartLamps},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        openMainWindow(UiLanguage::English, item.start);
        ReaderType other = item.start == ReaderType::Lnx ? ReaderType::Usb : ReaderType::Lnx;
        switch (item.then) {
        case Then::Nothing:
            break;
        case Then::SwitchTab:
            switchTab(other);
            break;
        case Then::SwitchTwice:
            switchTab(other);
            switchTab(item.start);
            break;
        case Then::RepaintFarAway: {
            // Scribble over the lamps, then invalidate a corner far from
            // them: every paint redraws all five.
            HDC dc = GetDC(mainWindow);
            RECT lamps = lampArea;
            InflateRect(&lamps, -8, -40);
            FillRect(dc, &lamps, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
            ReleaseDC(mainWindow, dc);
            RECT corner = {10, 615, 20, 620};
            InvalidateRect(mainWindow, &corner, TRUE);
            UpdateWindow(mainWindow);
            const RECT *rects = lampRect[item.shown == ReaderType::Usb ? 1 : 0];
            for (int lamp = 0; lamp < LampCount; lamp++)
                EXPECT_EQ(hex(pixelAt((rects[lamp].left + rects[lamp].right) / 2,
                                      (rects[lamp].top + rects[lamp].bottom) / 2)),
                          hex(item.colors[lamp]));
            closeMainWindow();
            continue;  // the scribble stays around the lamps on purpose
        }
        }
        expectLamps(item.shown, item.colors);
        closeMainWindow();
    }
}

TEST_F(UiTest, LampsPaintTheCurrentColours)
{
    openMainWindow(UiLanguage::English, ReaderType::Lnx);
    const COLORREF colors[LampCount] = {0x00FF00, 0xFF0000, 0x00FF00, 0x00FFFF, 0xFFFFFF};
    for (int lamp = 0; lamp < LampCount; lamp++)
        lampColor[lamp] = colors[lamp];
    invalidateLamps();
    UpdateWindow(mainWindow);
    expectLamps(ReaderType::Lnx, colors);
}

TEST_F(UiTest, InvalidateLampsAsksForTheLampAreaWithoutErase)
{
    openMainWindow(UiLanguage::English, ReaderType::Lnx);
    ValidateRect(mainWindow, nullptr);
    invalidateLamps();
    RECT update;
    ASSERT_TRUE(GetUpdateRect(mainWindow, &update, FALSE));
    EXPECT_TRUE(EqualRect(&update, &lampArea));
    // No background erase was asked for: BeginPaint sends no WM_ERASEBKGND.
    PAINTSTRUCT paint;
    BeginPaint(mainWindow, &paint);
    EXPECT_FALSE(paint.fErase);
    EndPaint(mainWindow, &paint);
}

// ---------------------------------------------------------------------------
// Pens and brushes: every paint creates its own and deletes all of them.
// Wine does not count GDI objects (GetGuiResources), so the test watches
// the calls the program makes through its import table instead.

struct GdiCall {
    char kind;  // 'P' pen, 'B' brush
    HGDIOBJ object;
    int width;
    COLORREF color;
};
std::vector<GdiCall> gdiCreated;
std::set<HGDIOBJ> gdiLive;
int systemBrushDeletes;

using CreatePenFn = HPEN(WINAPI *)(int, int, COLORREF);
using CreateSolidBrushFn = HBRUSH(WINAPI *)(COLORREF);
using DeleteObjectFn = BOOL(WINAPI *)(HGDIOBJ);
CreatePenFn realCreatePen;
CreateSolidBrushFn realCreateSolidBrush;
DeleteObjectFn realDeleteObject;

HPEN WINAPI countingCreatePen(int style, int width, COLORREF color)
{
    HPEN pen = realCreatePen(style, width, color);
    gdiCreated.push_back({style == PS_SOLID ? 'P' : '?', pen, width, color});
    gdiLive.insert(pen);
    return pen;
}

HBRUSH WINAPI countingCreateSolidBrush(COLORREF color)
{
    HBRUSH brush = realCreateSolidBrush(color);
    gdiCreated.push_back({'B', brush, 0, color});
    gdiLive.insert(brush);
    return brush;
}

BOOL WINAPI countingDeleteObject(HGDIOBJ object)
{
    if (gdiLive.erase(object) == 0 && object == GetSysColorBrush(COLOR_BTNFACE))
        systemBrushDeletes++;
    return realDeleteObject(object);
}

// Points one gdi32 import of this program at a replacement; returns the
// function it pointed at before.
void *replaceImport(const char *function, void *replacement)
{
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         module->Name != 0; module++) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + module->Name), "gdi32.dll") != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char *>(byName->Name), function) != 0)
                continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            void *previous = reinterpret_cast<void *>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

struct GdiWatch {
    GdiWatch()
    {
        gdiCreated.clear();
        gdiLive.clear();
        systemBrushDeletes = 0;
        realCreatePen = reinterpret_cast<CreatePenFn>(
            replaceImport("CreatePen", reinterpret_cast<void *>(countingCreatePen)));
        realCreateSolidBrush = reinterpret_cast<CreateSolidBrushFn>(
            replaceImport("CreateSolidBrush", reinterpret_cast<void *>(countingCreateSolidBrush)));
        realDeleteObject = reinterpret_cast<DeleteObjectFn>(
            replaceImport("DeleteObject", reinterpret_cast<void *>(countingDeleteObject)));
    }
    ~GdiWatch()
    {
        if (realCreatePen)
            replaceImport("CreatePen", reinterpret_cast<void *>(realCreatePen));
        if (realCreateSolidBrush)
            replaceImport("CreateSolidBrush", reinterpret_cast<void *>(realCreateSolidBrush));
        if (realDeleteObject)
            replaceImport("DeleteObject", reinterpret_cast<void *>(realDeleteObject));
    }
    bool active() const { return realCreatePen && realCreateSolidBrush && realDeleteObject; }
};

TEST_F(UiTest, EveryPaintDeletesThePenAndBrushesItCreated)
{
    struct Case {
        ReaderType page;
        const COLORREF (&colors)[LampCount];
    };
    const Case cases[] = {{ReaderType::Lnx, LnxStartLamps}, {ReaderType::Usb, UsbStartLamps}};
    constexpr int Paints = 50;
    for (const Case &item : cases) {
        openMainWindow(UiLanguage::English, item.page);
        DWORD objectsBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        {
            GdiWatch watch;
            ASSERT_TRUE(watch.active());
            for (int paint = 0; paint < Paints; paint++) {
                InvalidateRect(mainWindow, nullptr, TRUE);
                UpdateWindow(mainWindow);
            }
            EXPECT_TRUE(gdiLive.empty()) << gdiLive.size() << " objects left undeleted";
            // Per paint: the button-face pen of the erase, then the black
            // pen and the five lamp brushes. (The display may ask for a
            // paint of its own now and then.)
            ASSERT_EQ(gdiCreated.size() % 7, 0u);
            int painted = static_cast<int>(gdiCreated.size() / 7);
            ASSERT_GE(painted, Paints);
            for (int paint = 0; paint < painted; paint++) {
                const GdiCall *calls = &gdiCreated[paint * 7];
                EXPECT_EQ(calls[0].kind, 'P');
                EXPECT_EQ(calls[0].width, 2);
                EXPECT_EQ(calls[0].color, GetSysColor(COLOR_BTNFACE));
                EXPECT_EQ(calls[1].kind, 'P');
                EXPECT_EQ(calls[1].width, 2);
                EXPECT_EQ(calls[1].color, 0u);
                for (int lamp = 0; lamp < LampCount; lamp++) {
                    EXPECT_EQ(calls[2 + lamp].kind, 'B');
                    EXPECT_EQ(calls[2 + lamp].color, item.colors[lamp]);
                }
                if (HasFailure())
                    break;
            }
            EXPECT_EQ(systemBrushDeletes, painted * LampCount);
        }
        DWORD objectsAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        if (objectsBefore != 0) {  // Windows counts; Wine answers 0
            EXPECT_LE(objectsAfter, objectsBefore + 2);
        }
        // The system brush survived being "deleted" on every paint.
        LOGBRUSH face = {};
        EXPECT_EQ(GetObjectW(GetSysColorBrush(COLOR_BTNFACE), sizeof face, &face), static_cast<int>(sizeof face));
        EXPECT_EQ(face.lbColor, GetSysColor(COLOR_BTNFACE));
        expectLamps(item.page, item.colors);
        closeMainWindow();
    }
}

// ---------------------------------------------------------------------------
// Message boxes

// The push buttons of each box as it is activated. A box's buttons are not
// yet visible on screen then (the box is still being shown), so they are
// counted by their own WS_VISIBLE style.
std::vector<std::vector<int>> boxButtons;
HHOOK boxButtonHook;

BOOL CALLBACK noteButton(HWND child, LPARAM buttons)
{
    wchar_t className[16];
    GetClassNameW(child, className, 16);
    if (lstrcmpiW(className, L"Button") == 0 && (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE))
        reinterpret_cast<std::vector<int> *>(buttons)->push_back(GetDlgCtrlID(child));
    return TRUE;
}

LRESULT CALLBACK recordBoxButtons(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        wchar_t className[16];
        GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16);
        if (lstrcmpW(className, L"#32770") == 0) {
            boxButtons.emplace_back();
            EnumChildWindows(reinterpret_cast<HWND>(wParam), noteButton,
                             reinterpret_cast<LPARAM>(&boxButtons.back()));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(UiTest, MessageBoxesShowTheirPictureCaptionAndOneOkButton)
{
    struct Case {
        MsgIcon icon;
        int picture;
        UiLanguage language;
        TextId text;
    };
    const Case cases[] = {
        {MsgIcon::Success, 3, UiLanguage::English, TxtSettingsRead},
        {MsgIcon::Warning, 4, UiLanguage::Russian, TxtNoPorts},
        {MsgIcon::Error, 5, UiLanguage::English, TxtHelpFileNotFound},
        {MsgIcon::Hint, 6, UiLanguage::Russian, TxtHelpFolderHint},
        {MsgIcon::Retry, 7, UiLanguage::English, TxtNoReply},
        {MsgIcon::Error, 5, UiLanguage::Russian, TxtUsbDisconnected},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE("picture " + std::to_string(item.picture));
        openMainWindow(item.language, ReaderType::Lnx);
        BoxRecorder recorder;
        boxButtons.clear();
        boxButtonHook = SetWindowsHookExW(WH_CBT, recordBoxButtons, nullptr, GetCurrentThreadId());
        int result = showMessage(mainWindow, TextTable[item.text], TextTable[TxtMessageCaption], 0, item.icon);
        UnhookWindowsHookEx(boxButtonHook);
        EXPECT_EQ(result, IDOK);
        ASSERT_EQ(boxButtons.size(), 1u);
        EXPECT_EQ(boxButtons[0], std::vector<int>{IDOK}) << "one OK button";
        ASSERT_EQ(recorder.boxes().size(), 1u);
        const RecordedBox &box = recorder.boxes()[0];
        EXPECT_EQ(box.caption, textOf(item.language, TxtMessageCaption));
        EXPECT_EQ(box.text, textOf(item.language, item.text));
        EXPECT_EQ(box.picture, item.picture);
        EXPECT_EQ(box.owner, mainWindow);
        closeMainWindow();
    }
}

TEST_F(UiTest, OnlyTheLowWordOfThePictureIdCounts)
{
    openMainWindow(UiLanguage::English, ReaderType::Lnx);
    BoxRecorder recorder;
    showMessage(mainWindow, L"text", L"caption", 0, static_cast<MsgIcon>(0x00050000 | IDI_MSG_HINT));
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].picture, IDI_MSG_HINT);
}

// ---------------------------------------------------------------------------
// Progress popup

BOOL CALLBACK collectProgressWindow(HWND window, LPARAM list)
{
    wchar_t className[64];
    GetClassNameW(window, className, 64);
    if (lstrcmpiW(className, L"msctls_progress32") == 0)
        reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> progressWindowsOfThisThread()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), collectProgressWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK countWindow(HWND, LPARAM counter)
{
    ++*reinterpret_cast<int *>(counter);
    return TRUE;
}

int topLevelWindowsOfThisThread()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Waits for the first WM_TIMER of `timer`; returns the milliseconds since
// `since` when it came, or -1 when none came before `limit` milliseconds.
long waitForTick(UINT_PTR timer, DWORD since, DWORD limit)
{
    timerTicks.clear();
    while (GetTickCount() - since < limit) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        for (UINT_PTR tick : timerTicks)
            if (tick == timer)
                return static_cast<long>(GetTickCount() - since);
        Sleep(1);
    }
    return -1;
}

TEST_F(UiTest, ProgressPopupTitleRangeAndPlaceFollowTheWait)
{
    struct Case {
        TimerId timer;
        UINT period;
        ReaderType page;
        UiLanguage language;
        const wchar_t *title;
        int maximum;
    };
    const Case cases[] = {
        {TimerId::Search, 10, ReaderType::Lnx, UiLanguage::English, L"Search for Tarvik-LNA_LNB reader", 100},
        {TimerId::Search, 10, ReaderType::Usb, UiLanguage::English, L"Search for Tarvik-USB reader", 100},
        {TimerId::Read, 500, ReaderType::Lnx, UiLanguage::English, L"Reading Tarvik-LNA_LNB settings", 2},
        {TimerId::Read, 500, ReaderType::Usb, UiLanguage::English, L"Reading Tarvik-USB settings", 2},
        {TimerId::Write, 500, ReaderType::Lnx, UiLanguage::English, L"Writing Tarvik-LNA_LNB settings", 2},
        {TimerId::Write, 500, ReaderType::Usb, UiLanguage::English, L"Writing Tarvik-USB settings", 2},
        {TimerId::Search, 10, ReaderType::Lnx, UiLanguage::Russian, L"Поиск считывателя Tarvik-LNA_LNB", 100},
        {TimerId::Search, 10, ReaderType::Usb, UiLanguage::Russian, L"Поиск считывателя Tarvik-USB", 100},
        {TimerId::Read, 500, ReaderType::Lnx, UiLanguage::Russian, L"Считывание настроек Tarvik-LNA_LNB", 2},
        {TimerId::Read, 500, ReaderType::Usb, UiLanguage::Russian, L"Считывание настроек Tarvik-USB", 2},
        {TimerId::Write, 500, ReaderType::Lnx, UiLanguage::Russian, L"Запись настроек Tarvik-LNA_LNB", 2},
        {TimerId::Write, 500, ReaderType::Usb, UiLanguage::Russian, L"Запись настроек Tarvik-USB", 2},
    };
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    for (const Case &item : cases) {
        SCOPED_TRACE(std::string(item.title, item.title + lstrlenW(item.title)).c_str());
        openMainWindow(UiLanguage::English, ReaderType::Lnx);
        // Title by the language and reader kind at the moment of the call.
        selectSession(item.language, item.page);
        ASSERT_TRUE(IsWindowEnabled(mainWindow));

        std::vector<Creation> popups;
        DWORD started = GetTickCount();
        {
            CreationRecorder recorder;
            startProgress(item.timer, item.period);
            popups = recorder.childrenOf(mainWindow);
        }
        ASSERT_EQ(popups.size(), 1u);
        const Creation &made = popups[0];
        EXPECT_EQ(made.className, L"msctls_progress32");
        EXPECT_EQ(made.name, item.title);
        EXPECT_EQ(made.style, 0x10000001u);
        EXPECT_EQ(made.exStyle, 0u);
        EXPECT_EQ(made.menu, 0);
        EXPECT_EQ(made.instance, GetModuleHandleW(nullptr));

        ASSERT_EQ(progressPopup, made.window);
        EXPECT_TRUE(IsWindowVisible(progressPopup));
        EXPECT_EQ(windowText(progressPopup), item.title);
        EXPECT_EQ(GetWindow(progressPopup, GW_OWNER), mainWindow);
        DWORD style = static_cast<DWORD>(GetWindowLongW(progressPopup, GWL_STYLE));
        EXPECT_EQ(style & (WS_CHILD | WS_POPUP | WS_SYSMENU), 0u) << "a top-level bar with no close box";
        EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
        RECT outer;
        GetWindowRect(progressPopup, &outer);
        EXPECT_EQ(outer.left, screenWidth / 2 - 148);
        EXPECT_EQ(outer.top, screenHeight / 2 - 25);
        EXPECT_EQ(outer.right - outer.left, 291);
        EXPECT_EQ(outer.bottom - outer.top, 50);

        PBRANGE range = {-1, -1};
        SendMessageW(progressPopup, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(range.iLow, 0);
        EXPECT_EQ(range.iHigh, item.maximum);
        EXPECT_EQ(SendMessageW(progressPopup, PBM_GETPOS, 0, 0), 0);
        SendMessageW(progressPopup, PBM_STEPIT, 0, 0);
        EXPECT_EQ(SendMessageW(progressPopup, PBM_GETPOS, 0, 0), 1);

        EXPECT_FALSE(IsWindowEnabled(mainWindow));
        long waited = waitForTick(static_cast<UINT_PTR>(item.timer), started, item.period + 1500);
        EXPECT_GE(waited, static_cast<long>(item.period) / 2);
        closeMainWindow();
    }
}

TEST_F(UiTest, OtherTimerIdsDoNothingAtAll)
{
    struct Case {
        UINT_PTR id;
        BOOL enabledBefore;
    };
    const Case cases[] = {{0, TRUE}, {4, TRUE}, {5, TRUE}, {4, FALSE}, {0, FALSE}};
    for (const Case &item : cases) {
        SCOPED_TRACE("timer id " + std::to_string(item.id));
        openMainWindow(UiLanguage::English, ReaderType::Usb);
        EnableWindow(mainWindow, item.enabledBefore);
        progressPopup = nullptr;
        int windowsBefore = topLevelWindowsOfThisThread();

        startProgress(static_cast<TimerId>(item.id), 10);

        EXPECT_EQ(progressPopup, nullptr);
        EXPECT_EQ(topLevelWindowsOfThisThread(), windowsBefore);
        EXPECT_EQ(IsWindowEnabled(mainWindow), item.enabledBefore);
        EXPECT_EQ(waitForTick(item.id, GetTickCount(), 100), -1);
        EXPECT_FALSE(KillTimer(mainWindow, item.id)) << "no timer was set";
        closeMainWindow();
    }
}

TEST_F(UiTest, ANewWaitLeavesOnlyOnePopupOnTheScreen)
{
    struct Case {
        const char *name;
        bool firstDestroyedAlready;  // the tick handling ended the first wait
        TimerId second;
    };
    const Case cases[] = {
        {"search over search", false, TimerId::Search},
        {"read over search", false, TimerId::Read},
        {"read after the search ended", true, TimerId::Read},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        openMainWindow(UiLanguage::English, ReaderType::Usb);
        startProgress(TimerId::Search, 10);
        HWND first = progressPopup;
        ASSERT_TRUE(IsWindow(first));
        if (item.firstDestroyedAlready) {
            KillTimer(mainWindow, static_cast<UINT_PTR>(TimerId::Search));
            DestroyWindow(first);
        }
        startProgress(item.second, 500);
        EXPECT_FALSE(IsWindow(first));
        std::vector<HWND> shown = progressWindowsOfThisThread();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], progressPopup);
        EXPECT_NE(progressPopup, first);
        EXPECT_TRUE(IsWindowVisible(progressPopup));
        EXPECT_FALSE(IsWindowEnabled(mainWindow));
        EXPECT_TRUE(IsWindow(mainWindow)) << "the main window is never taken for a popup";
        closeMainWindow();
    }
}

TEST_F(UiTest, AStaleHandleThatIsNoPopupIsLeftAlone)
{
    openMainWindow(UiLanguage::English, ReaderType::Lnx);
    // Whatever the handle names now, only a progress bar is destroyed.
    progressPopup = searchButton;
    startProgress(TimerId::Search, 10);
    EXPECT_TRUE(IsWindow(searchButton));
    EXPECT_NE(progressPopup, searchButton);
}

// ---------------------------------------------------------------------------
// Bounded formatting

TEST(FormatText, IsBoundedAndAlwaysTerminated)
{
    struct Case {
        size_t capacity;
        const wchar_t *expected;
    };
    // "Error opening [COM12]!" is 22 characters.
    const Case cases[] = {
        {64, L"Error opening [COM12]!"},
        {23, L"Error opening [COM12]!"},
        {22, L"Error opening [COM12]"},
        {10, L"Error ope"},
        {2, L"E"},
        {1, L""},
    };
    std::wstring port = widen("COM12");
    for (const Case &item : cases) {
        SCOPED_TRACE("capacity " + std::to_string(item.capacity));
        wchar_t buffer[80];
        for (wchar_t &c : buffer)
            c = L'#';
        formatText(buffer, item.capacity, L"%ls [%ls]!", EnglishTexts[TxtErrorOpening], port.c_str());
        EXPECT_STREQ(buffer, item.expected);
        for (size_t i = item.capacity; i < 80; i++)
            ASSERT_EQ(buffer[i], L'#') << "written beyond the capacity at " << i;
    }
}

TEST(FormatText, ComposesTheProgramsMessages)
{
    wchar_t buffer[128];
    std::wstring port = widen("COM7");
    formatText(buffer, 128, L"%ls\n\r->[%ls]", EnglishTexts[TxtUsbFound], port.c_str());
    EXPECT_STREQ(buffer, L"Tarvik-USB reader found!\n\r->[COM7]");
    formatText(buffer, 128, L"%ls\n\r[%ls: %d]", RussianTexts[TxtHelpOpenFailed], RussianTexts[TxtErrorCode], 31);
    EXPECT_STREQ(buffer, L"Открытие файла справки завершилось неудачей!\n\r[Код ошибки: 31]");
    // A port name is data, never a format: its % signs come out as they are.
    std::wstring odd = widen("COM%s%n");
    formatText(buffer, 128, L"%ls\n\r(%ls %ls)", EnglishTexts[TxtConnectionBroken], odd.c_str(),
               EnglishTexts[TxtDisabled]);
    EXPECT_STREQ(buffer, L"The connection is broken.\n\r(COM%s%n disabled!)");
}

TEST(FormatText, ZeroCapacityWritesNothing)
{
    wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
    formatText(buffer, 0, L"%ls", L"text");
    EXPECT_EQ(buffer[0], L'#');
}

}  // namespace
