// Settings records on the panel: a decoded record is shown as radio choices
// and lamp colours, and the radio choices are collected back for a write.
#include "protocol/win32/panel_settings.h"

#include <windows.h>

#include "app/app.h"
#include "prefs/texts.h"
#include "res/resource_ids.h"
#include "ui/lamps.h"
#include "ui/messages.h"
#include "ui/panel.h"

namespace {

// One recognised value of a field: its radio button and, for the fields with
// a lamp, the colour that a click on that radio gives the lamp too.
struct Choice {
    int radio;
    COLORREF lamp;
};

// Indexed by the enumerator's value; NotRecognized lies past the end.
const Choice InterfaceChoices[] = {
    {ID_IF_TOUCH_MEMORY, LampRed},
    {ID_IF_WIEGAND26, LampGreen},
    {ID_IF_WIEGAND44, LampCyan},
};
const Choice IndicationControlChoices[] = {
    {ID_IND_DIRECT, LampRed},
    {ID_IND_INVERSE, LampBlue},
};
const Choice StandbyIndicationChoices[] = {
    {ID_STANDBY_DYNAMIC, LampRed},
    {ID_STANDBY_STATIC, LampGreen},
    {ID_STANDBY_OFF, LampMagenta},
};
const Choice TouchButtonPollChoices[] = {
    {ID_TOUCH_POLL_ON, LampRed},
    {ID_TOUCH_POLL_OFF, LampYellow},
};
const Choice OperatingModeChoices[] = {
    {ID_MODE_WINDOWS, LampCyan},
    {ID_MODE_ALL_OS, LampMagenta},
};

// Lamps by the group beside them, counted from 0 for lamp 1.
constexpr int InterfaceLamp = 0;
constexpr int OperatingModeLamp = 0;
constexpr int IndicationControlLamp = 1;
constexpr int StandbyIndicationLamp = 2;
constexpr int TouchButtonPollLamp = 3;

template <typename Field, size_t Count>
const Choice *choiceOf(const Choice (&choices)[Count], Field value)
{
    size_t index = static_cast<size_t>(value);
    return index < Count ? &choices[index] : nullptr;
}

void reportUnrecognised(TextId text)
{
    showMessage(mainWindow, TextTable[text], TextTable[TxtMessageCaption], 0, MsgIcon::Error);
}

// Checks the field's radio within its group and sets its lamp; reports the
// field instead when its value was not recognised. True when shown.
template <typename Field, size_t Count>
bool showLampField(const Choice (&choices)[Count], Field value, int firstRadio, int lastRadio, int lamp,
                   TextId unrecognised)
{
    const Choice *choice = choiceOf(choices, value);
    if (choice == nullptr) {
        reportUnrecognised(unrecognised);
        return false;
    }
    CheckRadioButton(mainWindow, firstRadio, lastRadio, choice->radio);
    lampColor[lamp] = choice->lamp;
    return true;
}

void showFirmwareVersion(const char (&version)[FirmwareVersionLength])
{
    wchar_t text[FirmwareVersionLength + 1];
    for (int i = 0; i < FirmwareVersionLength; i++)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(version[i]));
    text[FirmwareVersionLength] = L'\0';
    SetWindowTextW(versionValue, text);
}

void showOutputGroup(OutputFormat format, OutputType type)
{
    switch (format) {
    case OutputFormat::HexOrDec:
        CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_HEX_DEC);
        EnableWindow(fmtHexRadio, TRUE);
        EnableWindow(fmtDecRadio, TRUE);
        if (type == OutputType::Hex)
            CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, ID_FMT_HEX);
        else if (type == OutputType::Dec)
            CheckRadioButton(mainWindow, ID_FMT_HEX, ID_FMT_DEC, ID_FMT_DEC);
        else
            reportUnrecognised(TxtBadOutputType);
        break;
    case OutputFormat::TouchMemory:
        // Touch Memory carries no type: HEX and DEC keep their marks, greyed.
        CheckRadioButton(mainWindow, ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY, ID_OUT_TOUCH_MEMORY);
        EnableWindow(fmtHexRadio, FALSE);
        EnableWindow(fmtDecRadio, FALSE);
        break;
    default:
        reportUnrecognised(TxtBadOutputFormat);
        break;
    }
}

void showIdByteCount(int count)
{
    if (count < 2 || count > 5) {
        reportUnrecognised(TxtBadIdByteCount);
        return;
    }
    // The radios run from 5 bytes down to 2.
    CheckRadioButton(mainWindow, ID_BYTES_5, ID_BYTES_2, ID_BYTES_5 + (5 - count));
}

void showCardsToRead(CardsToRead cards)
{
    // Indexed by CardsToRead; NotRecognized lies past the end.
    static const int radios[] = {ID_CARDS_ALL, ID_CARDS_HID_EM, ID_CARDS_MIFARE_PAY};
    size_t index = static_cast<size_t>(cards);
    if (index >= sizeof radios / sizeof radios[0]) {
        reportUnrecognised(TxtBadCardsToRead);
        return;
    }
    CheckRadioButton(mainWindow, ID_CARDS_ALL, ID_CARDS_MIFARE_PAY, radios[index]);
}

bool isChecked(HWND radio)
{
    return SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace

void showLnxSettings(const LnxSettings &settings)
{
    showFirmwareVersion(settings.firmwareVersion);
    showLampField(InterfaceChoices, settings.readerInterface, ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44, InterfaceLamp,
                  TxtBadInterface);
    showLampField(IndicationControlChoices, settings.indicationControl, ID_IND_DIRECT, ID_IND_INVERSE,
                  IndicationControlLamp, TxtBadIndicationControl);
    showLampField(StandbyIndicationChoices, settings.standbyIndication, ID_STANDBY_DYNAMIC, ID_STANDBY_OFF,
                  StandbyIndicationLamp, TxtBadStandbyIndication);
    showLampField(TouchButtonPollChoices, settings.touchButtonPoll, ID_TOUCH_POLL_ON, ID_TOUCH_POLL_OFF,
                  TouchButtonPollLamp, TxtBadTouchButtonPoll);
    invalidateLamps();
}

void showUsbSettings(const UsbSettings &settings)
{
    showFirmwareVersion(settings.firmwareVersion);
    // Only the mode has a lamp on this page, so only a shown mode asks for
    // a repaint.
    if (showLampField(OperatingModeChoices, settings.operatingMode, ID_MODE_WINDOWS, ID_MODE_ALL_OS,
                      OperatingModeLamp, TxtBadOperatingMode))
        invalidateLamps();
    showOutputGroup(settings.outputFormat, settings.outputType);
    showIdByteCount(settings.idByteCount);
    showCardsToRead(settings.cardsToRead);
}

LnxSettings collectLnxSettings()
{
    LnxSettings settings = {};
    if (isChecked(ifTouchMemoryRadio))
        settings.readerInterface = LnxInterface::TouchMemory;
    else if (isChecked(ifWiegand26Radio))
        settings.readerInterface = LnxInterface::Wiegand26;
    else
        settings.readerInterface = LnxInterface::Wiegand44;

    settings.indicationControl = isChecked(indDirectRadio) ? IndicationControl::Direct : IndicationControl::Inverse;

    if (isChecked(standbyDynamicRadio))
        settings.standbyIndication = StandbyIndication::Dynamic;
    else if (isChecked(standbyStaticRadio))
        settings.standbyIndication = StandbyIndication::Static;
    else
        settings.standbyIndication = StandbyIndication::Off;

    settings.touchButtonPoll = isChecked(touchPollOnRadio) ? TouchButtonPoll::On : TouchButtonPoll::Off;
    return settings;
}

UsbSettings collectUsbSettings()
{
    UsbSettings settings = {};
    settings.operatingMode = isChecked(modeWindowsRadio) ? OperatingMode::Windows : OperatingMode::AllOs;

    // Only the marks count: HEX and DEC are read even while greyed, and
    // ignored with Touch Memory.
    if (isChecked(outHexDecRadio)) {
        settings.outputFormat = OutputFormat::HexOrDec;
        settings.outputType = isChecked(fmtHexRadio) ? OutputType::Hex : OutputType::Dec;
    } else {
        settings.outputFormat = OutputFormat::TouchMemory;
        settings.outputType = OutputType::Absent;
    }

    if (isChecked(bytes5Radio))
        settings.idByteCount = 5;
    else if (isChecked(bytes4Radio))
        settings.idByteCount = 4;
    else if (isChecked(bytes3Radio))
        settings.idByteCount = 3;
    else
        settings.idByteCount = 2;

    // The page always has one cards radio checked. Should none be, the
    // group's default (all cards) is sent rather than no value at all.
    if (isChecked(cardsAllRadio))
        settings.cardsToRead = CardsToRead::All;
    else if (isChecked(cardsHidEmRadio))
        settings.cardsToRead = CardsToRead::HidEm;
    else if (isChecked(cardsMifarePayRadio))
        settings.cardsToRead = CardsToRead::MifarePay;
    else
        settings.cardsToRead = CardsToRead::All;
    return settings;
}
