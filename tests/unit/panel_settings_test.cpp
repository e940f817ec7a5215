// Settings records shown on the real panel and collected back from it: radio
// marks, lamp colours, the repaint request, the version text and the boxes
// for fields that were not recognised.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/panel_settings.h"
#include "protocol/wire.h"
#include "res/resource_ids.h"
#include "tests/support/box_recorder.h"
#include "tests/unit/link_window.h"
#include "ui/lamps.h"
#include "ui/panel.h"

namespace {

// Colours written out here rather than taken from the program's constants.
constexpr COLORREF Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000, Cyan = 0xFFFF00, Magenta = 0xFF00FF,
                   Yellow = 0x00FFFF, White = 0xFFFFFF;
// A colour no choice gives, to see which lamps a display leaves alone.
constexpr COLORREF Untouched = 0x123456;

const unsigned char *bytes(const char *text)
{
    return reinterpret_cast<const unsigned char *>(text);
}

std::wstring versionText()
{
    wchar_t text[32] = L"";
    GetWindowTextW(versionValue, text, 32);
    return text;
}

void setAllLamps(COLORREF colour)
{
    for (int i = 0; i < LampCount; i++)
        lampColor[i] = colour;
}

// The boxes' texts, after checking that each is an error box of the program.
std::vector<std::wstring> errorTexts(const BoxRecorder &recorder)
{
    std::vector<std::wstring> texts;
    for (const RecordedBox &box : recorder.boxes()) {
        EXPECT_EQ(box.caption, TextTable[TxtMessageCaption]);
        EXPECT_EQ(box.picture, IDI_MSG_ERROR);
        EXPECT_EQ(box.owner, mainWindow);
        texts.push_back(box.text);
    }
    return texts;
}

std::wstring text(TextId id)
{
    return TextTable[id];
}

class LnxPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        createTestMainWindow(ReaderType::Lnx);
        ASSERT_NE(mainWindow, nullptr);
    }
    void TearDown() override { destroyTestMainWindow(); }
};

class UsbPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        createTestMainWindow(ReaderType::Usb);
        ASSERT_NE(mainWindow, nullptr);
    }
    void TearDown() override { destroyTestMainWindow(); }
};

// The output group as it stands when a box comes up.
struct PanelAtBox {
    bool hexOrDec, hexEnabled, decEnabled;
};
PanelAtBox *panelAtBox;

LRESULT CALLBACK notePanelAtBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && panelAtBox != nullptr) {
        panelAtBox->hexOrDec = isRadioChecked(ID_OUT_HEX_DEC);
        panelAtBox->hexEnabled = isControlEnabled(ID_FMT_HEX);
        panelAtBox->decEnabled = isControlEnabled(ID_FMT_DEC);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct LnxValue {
    LnxInterface readerInterface;
    int radio;
    COLORREF lamp;
};

TEST_F(LnxPanel, EveryRecognisedRecordIsShownAndCollectedBack)
{
    const LnxValue interfaces[] = {{LnxInterface::TouchMemory, ID_IF_TOUCH_MEMORY, Red},
                                   {LnxInterface::Wiegand26, ID_IF_WIEGAND26, Green},
                                   {LnxInterface::Wiegand44, ID_IF_WIEGAND44, Cyan}};
    const struct {
        IndicationControl value;
        int radio;
        COLORREF lamp;
    } indications[] = {{IndicationControl::Direct, ID_IND_DIRECT, Red},
                       {IndicationControl::Inverse, ID_IND_INVERSE, Blue}};
    const struct {
        StandbyIndication value;
        int radio;
        COLORREF lamp;
    } standbys[] = {{StandbyIndication::Dynamic, ID_STANDBY_DYNAMIC, Red},
                    {StandbyIndication::Static, ID_STANDBY_STATIC, Green},
                    {StandbyIndication::Off, ID_STANDBY_OFF, Magenta}};
    const struct {
        TouchButtonPoll value;
        int radio;
        COLORREF lamp;
    } polls[] = {{TouchButtonPoll::On, ID_TOUCH_POLL_ON, Red}, {TouchButtonPoll::Off, ID_TOUCH_POLL_OFF, Yellow}};

    BoxRecorder recorder;
    int combinations = 0;
    for (const auto &i : interfaces)
        for (const auto &c : indications)
            for (const auto &s : standbys)
                for (const auto &p : polls) {
                    SCOPED_TRACE(::testing::Message() << "radios " << i.radio << " " << c.radio << " " << s.radio
                                                      << " " << p.radio);
                    LnxSettings shown = {{'1', '.', '0', '0'}, i.readerInterface, c.value, s.value, p.value};
                    lampColor[4] = Untouched;
                    forgetLampRepaints();
                    showLnxSettings(shown);

                    for (int id = ID_IF_TOUCH_MEMORY; id <= ID_TOUCH_POLL_OFF; id++)
                        EXPECT_EQ(isRadioChecked(id), id == i.radio || id == c.radio || id == s.radio || id == p.radio)
                            << "radio " << id;
                    EXPECT_EQ(lampColor[0], i.lamp);
                    EXPECT_EQ(lampColor[1], c.lamp);
                    EXPECT_EQ(lampColor[2], s.lamp);
                    EXPECT_EQ(lampColor[3], p.lamp);
                    EXPECT_EQ(lampColor[4], Untouched);
                    EXPECT_EQ(lampRepaint(), LampRepaint::Whole);

                    LnxSettings collected = collectLnxSettings();
                    EXPECT_EQ(collected.readerInterface, shown.readerInterface);
                    EXPECT_EQ(collected.indicationControl, shown.indicationControl);
                    EXPECT_EQ(collected.standbyIndication, shown.standbyIndication);
                    EXPECT_EQ(collected.touchButtonPoll, shown.touchButtonPoll);
                    combinations++;
                }
    EXPECT_EQ(combinations, 36);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST_F(UsbPanel, EveryRecognisedRecordIsShownAndCollectedBack)
{
    const struct {
        OperatingMode value;
        int radio;
        COLORREF lamp;
    } modes[] = {{OperatingMode::Windows, ID_MODE_WINDOWS, Cyan}, {OperatingMode::AllOs, ID_MODE_ALL_OS, Magenta}};
    const struct {
        OutputFormat format;
        OutputType type;
        int formatRadio;
        int typeRadio;  // 0: HEX and DEC keep their marks, greyed
    } outputs[] = {{OutputFormat::HexOrDec, OutputType::Hex, ID_OUT_HEX_DEC, ID_FMT_HEX},
                   {OutputFormat::HexOrDec, OutputType::Dec, ID_OUT_HEX_DEC, ID_FMT_DEC},
                   {OutputFormat::TouchMemory, OutputType::Absent, ID_OUT_TOUCH_MEMORY, 0}};
    const struct {
        int count;
        int radio;
    } counts[] = {{5, ID_BYTES_5}, {4, ID_BYTES_4}, {3, ID_BYTES_3}, {2, ID_BYTES_2}};
    const struct {
        CardsToRead value;
        int radio;
    } cards[] = {{CardsToRead::All, ID_CARDS_ALL},
                 {CardsToRead::HidEm, ID_CARDS_HID_EM},
                 {CardsToRead::MifarePay, ID_CARDS_MIFARE_PAY}};

    BoxRecorder recorder;
    int combinations = 0;
    for (const auto &m : modes)
        for (const auto &o : outputs)
            for (const auto &n : counts)
                for (const auto &c : cards) {
                    SCOPED_TRACE(::testing::Message() << "radios " << m.radio << " " << o.formatRadio << " "
                                                      << o.typeRadio << " " << n.radio << " " << c.radio);
                    UsbSettings shown = {{'1', '.', '0', '0'}, m.value, o.format, o.type, n.count, c.value};
                    bool hexBefore = isRadioChecked(ID_FMT_HEX), decBefore = isRadioChecked(ID_FMT_DEC);
                    setAllLamps(Untouched);
                    forgetLampRepaints();
                    showUsbSettings(shown);

                    EXPECT_EQ(isRadioChecked(ID_MODE_WINDOWS), m.radio == ID_MODE_WINDOWS);
                    EXPECT_EQ(isRadioChecked(ID_MODE_ALL_OS), m.radio == ID_MODE_ALL_OS);
                    EXPECT_EQ(isRadioChecked(ID_OUT_HEX_DEC), o.formatRadio == ID_OUT_HEX_DEC);
                    EXPECT_EQ(isRadioChecked(ID_OUT_TOUCH_MEMORY), o.formatRadio == ID_OUT_TOUCH_MEMORY);
                    if (o.typeRadio != 0) {
                        EXPECT_EQ(isRadioChecked(ID_FMT_HEX), o.typeRadio == ID_FMT_HEX);
                        EXPECT_EQ(isRadioChecked(ID_FMT_DEC), o.typeRadio == ID_FMT_DEC);
                    } else {
                        EXPECT_EQ(isRadioChecked(ID_FMT_HEX), hexBefore);
                        EXPECT_EQ(isRadioChecked(ID_FMT_DEC), decBefore);
                    }
                    EXPECT_EQ(isControlEnabled(ID_FMT_HEX), o.typeRadio != 0);
                    EXPECT_EQ(isControlEnabled(ID_FMT_DEC), o.typeRadio != 0);
                    for (int id = ID_BYTES_5; id <= ID_BYTES_2; id++)
                        EXPECT_EQ(isRadioChecked(id), id == n.radio) << "radio " << id;
                    for (int id = ID_CARDS_ALL; id <= ID_CARDS_MIFARE_PAY; id++)
                        EXPECT_EQ(isRadioChecked(id), id == c.radio) << "radio " << id;
                    EXPECT_EQ(lampColor[0], m.lamp);
                    for (int lamp = 1; lamp < LampCount; lamp++)
                        EXPECT_EQ(lampColor[lamp], Untouched) << "lamp " << lamp + 1;
                    EXPECT_EQ(lampRepaint(), LampRepaint::Whole);

                    UsbSettings collected = collectUsbSettings();
                    EXPECT_EQ(collected.operatingMode, shown.operatingMode);
                    EXPECT_EQ(collected.outputFormat, shown.outputFormat);
                    EXPECT_EQ(collected.outputType, shown.outputType);
                    EXPECT_EQ(collected.idByteCount, shown.idByteCount);
                    EXPECT_EQ(collected.cardsToRead, shown.cardsToRead);
                    combinations++;
                }
    EXPECT_EQ(combinations, 72);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST_F(LnxPanel, UnrecognisedIndicationControlReportsOnlyItselfAndKeepsItsLamp)
{
    CheckRadioButton(mainWindow, ID_IND_DIRECT, ID_IND_INVERSE, ID_IND_INVERSE);
    setAllLamps(Untouched);
    forgetLampRepaints();
    BoxRecorder recorder;
    showLnxSettings(decodeLnxSettings(bytes("1.00TMXxDO")));

    EXPECT_EQ(errorTexts(recorder), std::vector<std::wstring>{text(TxtBadIndicationControl)});
    EXPECT_EQ(lampColor[0], Red);
    EXPECT_EQ(lampColor[1], Untouched);
    EXPECT_EQ(lampColor[2], Red);
    EXPECT_EQ(lampColor[3], Red);
    EXPECT_EQ(lampColor[4], Untouched);
    EXPECT_TRUE(isRadioChecked(ID_IF_TOUCH_MEMORY));
    EXPECT_TRUE(isRadioChecked(ID_IND_INVERSE));  // the group stays as it was
    EXPECT_FALSE(isRadioChecked(ID_IND_DIRECT));
    EXPECT_TRUE(isRadioChecked(ID_STANDBY_DYNAMIC));
    EXPECT_TRUE(isRadioChecked(ID_TOUCH_POLL_ON));
    EXPECT_EQ(lampRepaint(), LampRepaint::Whole);
    EXPECT_EQ(versionText(), L"1.00");
}

TEST_F(LnxPanel, NothingRecognisedLeavesThePanelButStillAsksForARepaint)
{
    CheckRadioButton(mainWindow, ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44, ID_IF_WIEGAND26);
    CheckRadioButton(mainWindow, ID_STANDBY_DYNAMIC, ID_STANDBY_OFF, ID_STANDBY_STATIC);
    setAllLamps(Untouched);
    forgetLampRepaints();
    BoxRecorder recorder;
    showLnxSettings(decodeLnxSettings(bytes("1.00W2x9Zq")));

    EXPECT_EQ(errorTexts(recorder),
              (std::vector<std::wstring>{text(TxtBadInterface), text(TxtBadIndicationControl),
                                         text(TxtBadStandbyIndication), text(TxtBadTouchButtonPoll)}));
    for (int lamp = 0; lamp < LampCount; lamp++)
        EXPECT_EQ(lampColor[lamp], Untouched) << "lamp " << lamp + 1;
    EXPECT_TRUE(isRadioChecked(ID_IF_WIEGAND26));
    EXPECT_TRUE(isRadioChecked(ID_IND_DIRECT));  // the page default
    EXPECT_TRUE(isRadioChecked(ID_STANDBY_STATIC));
    EXPECT_TRUE(isRadioChecked(ID_TOUCH_POLL_ON));
    EXPECT_EQ(lampRepaint(), LampRepaint::Whole);
}

TEST_F(UsbPanel, EveryUnrecognisedFieldIsReportedInFieldOrder)
{
    const struct {
        const char *payload;
        std::vector<TextId> reported;
    } cases[] = {
        {"1.00?QQQ9QQ", {TxtBadOperatingMode, TxtBadOutputFormat, TxtBadIdByteCount, TxtBadCardsToRead}},
        {"1.00?HDX9QQ", {TxtBadOperatingMode, TxtBadOutputType, TxtBadIdByteCount, TxtBadCardsToRead}},
        {"1.00WHDH1EM", {TxtBadIdByteCount}},
        {"1.00AHDD6EM", {TxtBadIdByteCount}},
        {"1.00WHDH5EE", {TxtBadCardsToRead}},
        {"1.00WHDH5XX", {TxtBadCardsToRead}},
        {"1.00WTMQ5EM", {TxtBadOutputFormat}},
        {"1.00wHDH5EM", {TxtBadOperatingMode}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        BoxRecorder recorder;
        showUsbSettings(decodeUsbSettings(bytes(c.payload)));
        std::vector<std::wstring> expected;
        for (TextId id : c.reported)
            expected.push_back(text(id));
        EXPECT_EQ(errorTexts(recorder), expected);
    }
}

TEST_F(LnxPanel, AllNineMessagesReadAsTheirTexts)
{
    // The same texts in English, as the user reads them.
    BoxRecorder recorder;
    showLnxSettings(decodeLnxSettings(bytes("1.00XXX???")));
    applyUsbPageDefaults();
    readerType = ReaderType::Usb;
    showUsbSettings(decodeUsbSettings(bytes("1.00?HD?0??")));
    showUsbSettings(decodeUsbSettings(bytes("1.00WXXX5EM")));
    EXPECT_EQ(errorTexts(recorder), (std::vector<std::wstring>{
                                        L"READER INTERFACE - NOT RECOGNIZED!",
                                        L"INDICATION CONTROL - NOT RECOGNIZED!",
                                        L"INDICATION IN STANDBY MODE - NOT RECOGNIZED!",
                                        L"TOUCH BUTTON POLL - NOT RECOGNIZED!",
                                        L"READER OPERATING MODE - NOT RECOGNIZED!",
                                        L"ID CARD OUTPUT TYPE - NOT RECOGNIZED!",
                                        L"NUMBER OF BYTE ID CARD - NOT RECOGNIZED!",
                                        L"CARD FOR READ - NOT RECOGNIZED!",
                                        L"ID CARD OUTPUT FORMAT - NOT RECOGNIZED!",
                                    }));
}

TEST_F(UsbPanel, HexOrDecWithAnUnknownTypeEnablesHexAndDecThenReportsTheType)
{
    CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_TOUCH_MEMORY);
    CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, ID_FMT_DEC);
    EnableWindow(fmtHexRadio, FALSE);
    EnableWindow(fmtDecRadio, FALSE);

    PanelAtBox seen = {};
    panelAtBox = &seen;
    HHOOK hook = SetWindowsHookExW(WH_CBT, notePanelAtBox, nullptr, GetCurrentThreadId());
    BoxRecorder recorder;
    showUsbSettings(decodeUsbSettings(bytes("1.00WHDX4EX")));
    UnhookWindowsHookEx(hook);
    panelAtBox = nullptr;

    EXPECT_EQ(errorTexts(recorder), std::vector<std::wstring>{text(TxtBadOutputType)});
    EXPECT_TRUE(seen.hexOrDec);
    EXPECT_TRUE(seen.hexEnabled);
    EXPECT_TRUE(seen.decEnabled);
    EXPECT_TRUE(isRadioChecked(ID_OUT_HEX_DEC));
    EXPECT_FALSE(isRadioChecked(ID_OUT_TOUCH_MEMORY));
    EXPECT_TRUE(isRadioChecked(ID_FMT_DEC));  // the type's group is left alone
    EXPECT_FALSE(isRadioChecked(ID_FMT_HEX));
    EXPECT_TRUE(isRadioChecked(ID_BYTES_4));
    EXPECT_TRUE(isRadioChecked(ID_CARDS_HID_EM));
}

TEST_F(UsbPanel, UnrecognisedModeChangesNoLampAndAsksForNoRepaint)
{
    setAllLamps(Untouched);
    forgetLampRepaints();
    BoxRecorder recorder;
    showUsbSettings(decodeUsbSettings(bytes("1.00XTMX2XM")));
    pumpMessages();

    EXPECT_EQ(errorTexts(recorder), std::vector<std::wstring>{text(TxtBadOperatingMode)});
    for (int lamp = 0; lamp < LampCount; lamp++)
        EXPECT_EQ(lampColor[lamp], Untouched) << "lamp " << lamp + 1;
    EXPECT_EQ(lampRepaint(), LampRepaint::None);
    EXPECT_TRUE(isRadioChecked(ID_MODE_WINDOWS));  // the page default stays
    EXPECT_TRUE(isRadioChecked(ID_OUT_TOUCH_MEMORY));
    EXPECT_TRUE(isRadioChecked(ID_BYTES_2));
    EXPECT_TRUE(isRadioChecked(ID_CARDS_MIFARE_PAY));

    // The same record with a known mode does ask for it.
    forgetLampRepaints();
    showUsbSettings(decodeUsbSettings(bytes("1.00ATMX2XM")));
    EXPECT_EQ(lampColor[0], Magenta);
    EXPECT_EQ(lampRepaint(), LampRepaint::Whole);
}

TEST_F(UsbPanel, TouchMemoryGreysHexAndDecKeepingTheirMarks)
{
    for (int typeRadio : {ID_FMT_HEX, ID_FMT_DEC}) {
        SCOPED_TRACE(typeRadio);
        showUsbSettings(decodeUsbSettings(bytes("1.00WHDH5EM")));
        CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, typeRadio);
        showUsbSettings(decodeUsbSettings(bytes("1.00WTMX5EM")));
        EXPECT_TRUE(isRadioChecked(ID_OUT_TOUCH_MEMORY));
        EXPECT_FALSE(isControlEnabled(ID_FMT_HEX));
        EXPECT_FALSE(isControlEnabled(ID_FMT_DEC));
        EXPECT_EQ(isRadioChecked(ID_FMT_HEX), typeRadio == ID_FMT_HEX);
        EXPECT_EQ(isRadioChecked(ID_FMT_DEC), typeRadio == ID_FMT_DEC);
    }
}

TEST_F(UsbPanel, CollectingTouchMemoryIgnoresHexAndDec)
{
    for (int typeRadio : {ID_FMT_HEX, ID_FMT_DEC}) {
        SCOPED_TRACE(typeRadio);
        CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_TOUCH_MEMORY);
        CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, typeRadio);
        EnableWindow(fmtHexRadio, TRUE);  // enabled or not, only the marks count
        UsbSettings collected = collectUsbSettings();
        EXPECT_EQ(collected.outputFormat, OutputFormat::TouchMemory);
        EXPECT_EQ(collected.outputType, OutputType::Absent);
        WriteCommand command = encodeWriteCommand(collected);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(command.bytes), command.length), "AT+WTMX5EM");
    }
}

TEST_F(UsbPanel, CollectingReadsHexAndDecEvenWhenGreyed)
{
    CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_HEX_DEC);
    CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, ID_FMT_DEC);
    EnableWindow(fmtHexRadio, FALSE);
    EnableWindow(fmtDecRadio, FALSE);
    UsbSettings collected = collectUsbSettings();
    EXPECT_EQ(collected.outputFormat, OutputFormat::HexOrDec);
    EXPECT_EQ(collected.outputType, OutputType::Dec);
}

TEST_F(UsbPanel, NoCardsRadioCheckedSendsAllCards)
{
    CheckRadioButton(mainWindow, ID_CARDS_ALL, ID_CARDS_MIFARE_PAY, ID_CARDS_MIFARE_PAY);
    SendMessageW(cardsMifarePayRadio, BM_SETCHECK, BST_UNCHECKED, 0);
    ASSERT_FALSE(isRadioChecked(ID_CARDS_ALL));
    ASSERT_FALSE(isRadioChecked(ID_CARDS_HID_EM));
    ASSERT_FALSE(isRadioChecked(ID_CARDS_MIFARE_PAY));
    EXPECT_EQ(collectUsbSettings().cardsToRead, CardsToRead::All);
}

TEST_F(UsbPanel, TheCardsGroupIsAskedInOrder)
{
    // Marks set one by one, outside the group's own exclusivity: the first
    // checked radio in the group's order decides.
    const struct {
        bool all, hidEm, mifarePay;
        CardsToRead expected;
    } cases[] = {
        {true, true, true, CardsToRead::All},
        {false, true, true, CardsToRead::HidEm},
        {false, false, true, CardsToRead::MifarePay},
        {true, false, true, CardsToRead::All},
    };
    for (const auto &c : cases) {
        SendMessageW(cardsAllRadio, BM_SETCHECK, c.all ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageW(cardsHidEmRadio, BM_SETCHECK, c.hidEm ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageW(cardsMifarePayRadio, BM_SETCHECK, c.mifarePay ? BST_CHECKED : BST_UNCHECKED, 0);
        EXPECT_EQ(collectUsbSettings().cardsToRead, c.expected);
    }
}

TEST_F(LnxPanel, VersionTextShowsTheFourCharactersAsReceived)
{
    EXPECT_EQ(versionText(), L"x.xx");
    for (const char *payload : {"1.00TMX1DO", "9.7aW441SF", "1.0 W260AO"}) {
        SCOPED_TRACE(payload);
        showLnxSettings(decodeLnxSettings(bytes(payload)));
        EXPECT_EQ(versionText(), std::wstring(payload, payload + 4));
    }
}

TEST_F(UsbPanel, VersionTextShowsTheFourCharactersAsReceived)
{
    showUsbSettings(decodeUsbSettings(bytes("2.31WHDH5EM")));
    EXPECT_EQ(versionText(), L"2.31");
}

TEST_F(LnxPanel, ShownPayloadIsWrittenBackLetterForLetter)
{
    // What a reader reports and what the panel would write back agree.
    for (const char *payload : {"1.00TMX1DO", "1.00W260SF", "1.00W441AO", "1.00W440DF"}) {
        SCOPED_TRACE(payload);
        showLnxSettings(decodeLnxSettings(bytes(payload)));
        WriteCommand command = encodeWriteCommand(collectLnxSettings());
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(command.bytes), command.length),
                  std::string("AT+") + (payload + 4));
    }
}

}  // namespace
