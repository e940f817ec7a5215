// The main window's controls: one fixed panel whose two tab pages are sets of
// sibling controls shown and hidden together, not child dialogs.
#include "ui/panel.h"

#include <commctrl.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/panel_settings.h"
#include "res/resource_ids.h"
#include "ui/lamps.h"

HWND portList, searchButton, versionLabel, versionValue, readerTabs;
HWND interfacesGroup, ifTouchMemoryRadio, ifWiegand26Radio, ifWiegand44Radio;
HWND operatingModeGroup, modeWindowsRadio, modeAllOsRadio;
HWND indicationControlGroup, indDirectRadio, indInverseRadio;
HWND outputFormatGroup, outHexDecRadio, outTouchMemoryRadio;
HWND standbyIndicationGroup, standbyDynamicRadio, standbyStaticRadio, standbyOffRadio;
HWND outputTypeGroup, fmtHexRadio, fmtDecRadio;
HWND touchButtonPollGroup, touchPollOnRadio, touchPollOffRadio;
HWND idByteCountGroup, bytes5Radio, bytes4Radio, bytes3Radio, bytes2Radio;
HWND cardsToReadGroup, cardsAllRadio, cardsHidEmRadio, cardsMifarePayRadio;
HWND readButton, writeButton, lampFrameGroup;

namespace {

// Styles of the panel. Page controls are created hidden; the page
// operations show them. Every group box starts a radio group, and so does
// the READ button, which closes the last one.
constexpr DWORD PortListStyle = WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST;            // 0x50000003
constexpr DWORD PushButtonStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;             // 0x50000000
constexpr DWORD LabelStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;                        // 0x50000000
constexpr DWORD TabsStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;                 // 0x54000000
constexpr DWORD PageGroupStyle = WS_CHILD | WS_GROUP | BS_GROUPBOX;                  // 0x40020007
constexpr DWORD PageRadioStyle = WS_CHILD | BS_AUTORADIOBUTTON;                      // 0x40000009
constexpr DWORD SharedGroupStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX;   // 0x50020007
constexpr DWORD SharedRadioStyle = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;       // 0x50000009
constexpr DWORD ReadButtonStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_PUSHBUTTON;  // 0x50020000

// A caption is either an entry of TextTable or a literal the same in both
// languages.
constexpr int LiteralCaption = -1;

struct ControlRow {
    HWND *handle;
    const wchar_t *className;
    int text;  // a TextId, or LiteralCaption
    const wchar_t *literal;
    DWORD style;
    int x, y, width, height;
    int id;
};

// No. 1 to 4: above the tabs.
const ControlRow TopControls[] = {
    {&portList, L"Combobox", LiteralCaption, L"", PortListStyle, 10, 10, 150, 200, ID_PORT_LIST},
    {&searchButton, L"Button", TxtSearchButton, nullptr, PushButtonStyle, 180, 10, 140, 40, ID_SEARCH},
    {&versionLabel, L"Static", TxtVersionLabel, nullptr, LabelStyle, 10, 39, 60, 20, ID_VERSION_LABEL},
    {&versionValue, L"Static", LiteralCaption, L"x.xx", LabelStyle, 70, 39, 40, 20, ID_VERSION_VALUE},
};

// No. 6 to 37: the two pages interleaved, then the cards group of both.
const ControlRow PageControls[] = {
    {&interfacesGroup, L"Button", TxtGroupInterfaces, nullptr, PageGroupStyle, 20, 100, 290, 90, 0},
    {&ifTouchMemoryRadio, L"Button", LiteralCaption, L"Touch Memory", PageRadioStyle, 30, 120, 120, 20,
     ID_IF_TOUCH_MEMORY},
    {&ifWiegand26Radio, L"Button", LiteralCaption, L"Wiegand 26", PageRadioStyle, 30, 141, 120, 20,
     ID_IF_WIEGAND26},
    {&ifWiegand44Radio, L"Button", LiteralCaption, L"Wiegand 44", PageRadioStyle, 30, 162, 120, 20,
     ID_IF_WIEGAND44},
    {&operatingModeGroup, L"Button", TxtGroupOperatingMode, nullptr, PageGroupStyle, 20, 100, 290, 70, 0},
    {&modeWindowsRadio, L"Button", LiteralCaption, L"WINDOWS", PageRadioStyle, 30, 120, 95, 20,
     ID_MODE_WINDOWS},
    {&modeAllOsRadio, L"Button", LiteralCaption, L"Windows, Linux, MacOS", PageRadioStyle, 30, 141, 180, 20,
     ID_MODE_ALL_OS},
    {&indicationControlGroup, L"Button", TxtGroupIndicationControl, nullptr, PageGroupStyle, 20, 200, 290, 70,
     0},
    {&indDirectRadio, L"Button", TxtIndicationDirect, nullptr, PageRadioStyle, 30, 220, 190, 20, ID_IND_DIRECT},
    {&indInverseRadio, L"Button", TxtIndicationInverse, nullptr, PageRadioStyle, 30, 241, 190, 20,
     ID_IND_INVERSE},
    {&outputFormatGroup, L"Button", TxtGroupOutputFormat, nullptr, PageGroupStyle, 20, 180, 290, 70, 0},
    {&outHexDecRadio, L"Button", TxtHexOrDec, nullptr, PageRadioStyle, 30, 200, 120, 20, ID_OUT_HEX_DEC},
    {&outTouchMemoryRadio, L"Button", LiteralCaption, L"Touch Memory", PageRadioStyle, 30, 221, 120, 20,
     ID_OUT_TOUCH_MEMORY},
    {&standbyIndicationGroup, L"Button", TxtGroupStandbyIndication, nullptr, PageGroupStyle, 20, 280, 290, 90,
     0},
    {&standbyDynamicRadio, L"Button", TxtStandbyDynamic, nullptr, PageRadioStyle, 30, 300, 120, 20,
     ID_STANDBY_DYNAMIC},
    {&standbyStaticRadio, L"Button", TxtStandbyStatic, nullptr, PageRadioStyle, 30, 321, 120, 20,
     ID_STANDBY_STATIC},
    {&standbyOffRadio, L"Button", TxtStandbyOff, nullptr, PageRadioStyle, 30, 342, 60, 20, ID_STANDBY_OFF},
    {&outputTypeGroup, L"Button", TxtGroupOutputType, nullptr, PageGroupStyle, 20, 260, 290, 70, 0},
    {&fmtHexRadio, L"Button", LiteralCaption, L"HEX", PageRadioStyle, 30, 280, 70, 20, ID_FMT_HEX},
    {&fmtDecRadio, L"Button", LiteralCaption, L"DEC", PageRadioStyle, 30, 301, 70, 20, ID_FMT_DEC},
    {&touchButtonPollGroup, L"Button", TxtGroupTouchButtonPoll, nullptr, PageGroupStyle, 20, 380, 290, 70, 0},
    {&touchPollOnRadio, L"Button", TxtPollOn, nullptr, PageRadioStyle, 30, 400, 60, 20, ID_TOUCH_POLL_ON},
    {&touchPollOffRadio, L"Button", TxtPollOff, nullptr, PageRadioStyle, 30, 421, 60, 20, ID_TOUCH_POLL_OFF},
    {&idByteCountGroup, L"Button", TxtGroupIdByteCount, nullptr, PageGroupStyle, 20, 340, 290, 110, 0},
    {&bytes5Radio, L"Button", LiteralCaption, L"5", PageRadioStyle, 30, 360, 60, 20, ID_BYTES_5},
    {&bytes4Radio, L"Button", LiteralCaption, L"4", PageRadioStyle, 30, 381, 60, 20, ID_BYTES_4},
    {&bytes3Radio, L"Button", LiteralCaption, L"3", PageRadioStyle, 30, 402, 60, 20, ID_BYTES_3},
    {&bytes2Radio, L"Button", LiteralCaption, L"2", PageRadioStyle, 30, 423, 60, 20, ID_BYTES_2},
    {&cardsToReadGroup, L"Button", TxtGroupCardsToRead, nullptr, SharedGroupStyle, 20, 460, 290, 90, 0},
    {&cardsAllRadio, L"Button", LiteralCaption, L"HID, EM-Marine + MIFARE, Pay", SharedRadioStyle, 30, 480,
     240, 20, ID_CARDS_ALL},
    {&cardsHidEmRadio, L"Button", LiteralCaption, L"HID, EM-Marine", SharedRadioStyle, 30, 501, 120, 20,
     ID_CARDS_HID_EM},
    {&cardsMifarePayRadio, L"Button", LiteralCaption, L"MIFARE, Pay", SharedRadioStyle, 30, 522, 120, 20,
     ID_CARDS_MIFARE_PAY},
};

// No. 38 to 40: created after the page defaults.
const ControlRow BottomControls[] = {
    {&readButton, L"Button", TxtReadButton, nullptr, ReadButtonStyle, 10, 570, 140, 40, ID_READ},
    {&writeButton, L"Button", TxtWriteButton, nullptr, PushButtonStyle, 180, 570, 140, 40, ID_WRITE},
    {&lampFrameGroup, L"Button", TxtGroupIndicator, nullptr, SharedGroupStyle, 330, 60, 50, 500, 0},
};

// The 14 controls of each page, in the order they are shown and hidden.
HWND *const LnxPage[] = {
    &interfacesGroup, &ifTouchMemoryRadio, &ifWiegand26Radio, &ifWiegand44Radio,
    &indicationControlGroup, &indDirectRadio, &indInverseRadio,
    &standbyIndicationGroup, &standbyDynamicRadio, &standbyStaticRadio, &standbyOffRadio,
    &touchButtonPollGroup, &touchPollOnRadio, &touchPollOffRadio,
};
HWND *const UsbPage[] = {
    &operatingModeGroup, &modeWindowsRadio, &modeAllOsRadio,
    &outputFormatGroup, &outHexDecRadio, &outTouchMemoryRadio,
    &outputTypeGroup, &fmtHexRadio, &fmtDecRadio,
    &idByteCountGroup, &bytes5Radio, &bytes4Radio, &bytes3Radio, &bytes2Radio,
};

void createControl(const ControlRow &row)
{
    const wchar_t *caption = row.text == LiteralCaption ? row.literal : TextTable[row.text];
    *row.handle = CreateWindowExW(0, row.className, caption, row.style, row.x, row.y, row.width,
                                  row.height, mainWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)),
                                  GetModuleHandleW(nullptr), nullptr);
}

template <size_t Count>
void createEach(const ControlRow (&rows)[Count])
{
    for (const ControlRow &row : rows)
        createControl(row);
}

template <size_t Count>
void showPage(HWND *const (&page)[Count], int showCommand)
{
    for (HWND *control : page)
        ShowWindow(*control, showCommand);
}

// The cards-to-read group is shown on both pages but only the Usb reader
// has the setting.
void enableCardsGroup(BOOL enable)
{
    EnableWindow(cardsToReadGroup, enable);
    EnableWindow(cardsAllRadio, enable);
    EnableWindow(cardsHidEmRadio, enable);
    EnableWindow(cardsMifarePayRadio, enable);
}

}  // namespace

void createControls()
{
    buildMenuBar();
    createEach(TopControls);
    createReaderTabs();
    createEach(PageControls);
    if (readerType == ReaderType::Usb)
        applyUsbPageDefaults();
    else
        applyLnxPageDefaults();
    createEach(BottomControls);
}

void createReaderTabs()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);

    readerTabs = CreateWindowExW(0, L"SysTabControl32", nullptr, TabsStyle, 10, 60, 310, 500, mainWindow, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);

    // The labels are the readers' names and stay the same in both languages.
    static const wchar_t *const labels[] = {L"Tarvik-LNA_B", L"  Tarvik-USB   "};
    for (int tab = 0; tab < 2; tab++) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.iImage = -1;
        item.pszText = const_cast<wchar_t *>(labels[tab]);
        SendMessageW(readerTabs, TCM_INSERTITEMW, tab, reinterpret_cast<LPARAM>(&item));
    }
    // Raises no TCN_SELCHANGE: start-up prepares the page itself.
    SendMessageW(readerTabs, TCM_SETCURSEL, static_cast<WPARAM>(readerType), 0);
}

void showLnxPage(int showCommand)
{
    showPage(LnxPage, showCommand);
}

void showUsbPage(int showCommand)
{
    showPage(UsbPage, showCommand);
}

void applyLnxPageDefaults()
{
    showUsbPage(SW_HIDE);
    showLnxPage(SW_SHOW);
    // HEX and DEC keep their state: they are hidden on this page.
    showDefaultSettings(ReaderType::Lnx);
    enableCardsGroup(FALSE);
}

void applyUsbPageDefaults()
{
    showLnxPage(SW_HIDE);
    showUsbPage(SW_SHOW);
    // HEX and DEC are enabled with the HEX/DEC format.
    showDefaultSettings(ReaderType::Usb);
    enableCardsGroup(TRUE);
}
