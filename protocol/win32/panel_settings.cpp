// Settings records on the panel: a decoded record is shown as radio choices
// and lamp colours, and the radio choices are collected back for a write.
#include "protocol/win32/panel_settings.h"

#include <windows.h>

#include <cstring>

#include "app/app.h"
#include "prefs/texts.h"
#include "protocol/settings_table.h"
#include "res/resource_ids.h"
#include "ui/lamps.h"
#include "ui/messages.h"
#include "ui/panel.h"

namespace {

// One radio of a settings group: the settings table's value it stands for
// and, where the group has a lamp, the colour a click on it gives the lamp.
struct RadioBinding {
    int radio;
    const char *value;  // the value's name in the settings table
    COLORREF lamp;
};

// A settings group on the panel, bound to one setting of the table. Radios
// are listed in the group's order on the page, which is also the order in
// which a write asks them; the first one checked decides.
struct GroupBinding {
    ReaderType kind;
    const char *key;       // the setting's key in the table
    int firstRadio;        // the group's bounds for CheckRadioButton
    int lastRadio;
    int lamp;              // 0 is lamp 1; -1 for a group without a lamp
    TextId unrecognised;   // the message for a value the panel cannot show
    const char *fallback;  // what a write sends when no radio is checked
    RadioBinding radios[4];
    int radioCount;
};

constexpr int NoLamp = -1;
constexpr COLORREF Unlit = 0;

const GroupBinding Groups[] = {
    {ReaderType::Lnx, "interface", ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44, 0, TxtBadInterface, "wiegand44",
     {{ID_IF_TOUCH_MEMORY, "touch_memory", LampRed}, {ID_IF_WIEGAND26, "wiegand26", LampGreen},
      {ID_IF_WIEGAND44, "wiegand44", LampCyan}}, 3},
    {ReaderType::Lnx, "indication", ID_IND_DIRECT, ID_IND_INVERSE, 1, TxtBadIndicationControl, "inverse",
     {{ID_IND_DIRECT, "direct", LampRed}, {ID_IND_INVERSE, "inverse", LampBlue}}, 2},
    {ReaderType::Lnx, "standby", ID_STANDBY_DYNAMIC, ID_STANDBY_OFF, 2, TxtBadStandbyIndication, "off",
     {{ID_STANDBY_DYNAMIC, "dynamic", LampRed}, {ID_STANDBY_STATIC, "static", LampGreen},
      {ID_STANDBY_OFF, "off", LampMagenta}}, 3},
    {ReaderType::Lnx, "touch_poll", ID_TOUCH_POLL_ON, ID_TOUCH_POLL_OFF, 3, TxtBadTouchButtonPoll, "off",
     {{ID_TOUCH_POLL_ON, "on", LampRed}, {ID_TOUCH_POLL_OFF, "off", LampYellow}}, 2},
    {ReaderType::Usb, "mode", ID_MODE_WINDOWS, ID_MODE_ALL_OS, 0, TxtBadOperatingMode, "all_os",
     {{ID_MODE_WINDOWS, "windows", LampCyan}, {ID_MODE_ALL_OS, "all_os", LampMagenta}}, 2},
    // The radios run from 5 bytes down to 2.
    {ReaderType::Usb, "id_bytes", ID_BYTES_5, ID_BYTES_2, NoLamp, TxtBadIdByteCount, "2",
     {{ID_BYTES_5, "5", Unlit}, {ID_BYTES_4, "4", Unlit}, {ID_BYTES_3, "3", Unlit}, {ID_BYTES_2, "2", Unlit}}, 4},
    // The page always has one cards radio checked. Should none be, the
    // group's default (all cards) is sent rather than no value at all.
    {ReaderType::Usb, "cards", ID_CARDS_ALL, ID_CARDS_MIFARE_PAY, NoLamp, TxtBadCardsToRead, "all",
     {{ID_CARDS_ALL, "all", Unlit}, {ID_CARDS_HID_EM, "hid_em", Unlit}, {ID_CARDS_MIFARE_PAY, "mifare_pay", Unlit}},
     3},
};

const GroupBinding &groupOf(ReaderType kind, const char *key)
{
    for (const GroupBinding &group : Groups)
        if (group.kind == kind && std::strcmp(group.key, key) == 0)
            return group;
    return Groups[0];  // every key asked for is in the list above
}

void reportUnrecognised(TextId text)
{
    showMessage(mainWindow, TextTable[text], TextTable[TxtMessageCaption], 0, MsgIcon::Error);
}

// Checks the radio of the group's value among `settings` and sets the
// group's lamp. False, with nothing changed, when no radio stands for it.
bool checkGroup(const GroupBinding &group, const SettingsValues &settings)
{
    int field = findSettingField(settings.kind, group.key);
    int value = settings.value[field];
    for (int i = 0; value >= 0 && i < group.radioCount; ++i) {
        const RadioBinding &radio = group.radios[i];
        if (std::strcmp(radio.value, settingField(settings.kind, field).values[value].name) != 0)
            continue;
        CheckRadioButton(mainWindow, group.firstRadio, group.lastRadio, radio.radio);
        if (group.lamp != NoLamp)
            lampColor[group.lamp] = radio.lamp;
        return true;
    }
    return false;
}

// As checkGroup, reporting the setting instead when its value was not
// recognised. True when shown.
bool showGroup(const SettingsValues &settings, const char *key)
{
    const GroupBinding &group = groupOf(settings.kind, key);
    if (checkGroup(group, settings))
        return true;
    reportUnrecognised(group.unrecognised);
    return false;
}

bool isChecked(HWND radio)
{
    return SendMessageW(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The value of the group's first checked radio, or its fallback.
void collectGroup(SettingsValues &settings, const char *key)
{
    const GroupBinding &group = groupOf(settings.kind, key);
    const char *name = group.fallback;
    for (int i = 0; i < group.radioCount; ++i) {
        if (isChecked(GetDlgItem(mainWindow, group.radios[i].radio))) {
            name = group.radios[i].value;
            break;
        }
    }
    int field = findSettingField(settings.kind, key);
    settings.value[field] = findSettingValue(settingField(settings.kind, field), name);
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

}  // namespace

void showFirmwareVersion(const char (&version)[FirmwareVersionLength])
{
    wchar_t text[FirmwareVersionLength + 1];
    for (int i = 0; i < FirmwareVersionLength; i++)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(version[i]));
    text[FirmwareVersionLength] = L'\0';
    SetWindowTextW(versionValue, text);
}

bool lampForRadio(int radio, int &lamp, COLORREF &color)
{
    for (const GroupBinding &group : Groups) {
        if (group.lamp == NoLamp)
            continue;
        for (int i = 0; i < group.radioCount; ++i) {
            if (group.radios[i].radio == radio) {
                lamp = group.lamp;
                color = group.radios[i].lamp;
                return true;
            }
        }
    }
    return false;
}

void showDefaultSettings(ReaderType page)
{
    // A lamp without a group on the page stays white.
    for (int lamp = 0; lamp < LampCount; lamp++)
        lampColor[lamp] = LampWhite;
    for (const GroupBinding &group : Groups) {
        // The cards group is on both pages: on the Lnx page it shows the
        // Usb reader's default, greyed.
        if (group.kind == page || group.firstRadio == ID_CARDS_ALL)
            checkGroup(group, defaultSettings(group.kind));
    }
    if (page == ReaderType::Usb) {
        UsbSettings defaults = usbRecordFrom(defaultSettings(ReaderType::Usb));
        showOutputGroup(defaults.outputFormat, defaults.outputType);
    }
}

void showLnxSettings(const LnxSettings &settings)
{
    showFirmwareVersion(settings.firmwareVersion);
    SettingsValues values = settingsFromRecord(settings);
    for (const char *key : {"interface", "indication", "standby", "touch_poll"})
        showGroup(values, key);
    invalidateLamps();
}

void showUsbSettings(const UsbSettings &settings)
{
    showFirmwareVersion(settings.firmwareVersion);
    SettingsValues values = settingsFromRecord(settings);
    // Only the mode has a lamp on this page, so only a shown mode asks for
    // a repaint.
    if (showGroup(values, "mode"))
        invalidateLamps();
    // Format and type are two groups on the page but one setting on the
    // wire: a format with an unknown type is shown as far as it is known.
    showOutputGroup(settings.outputFormat, settings.outputType);
    showGroup(values, "id_bytes");
    showGroup(values, "cards");
}

LnxSettings collectLnxSettings()
{
    SettingsValues values;
    values.kind = ReaderType::Lnx;
    for (const char *key : {"interface", "indication", "standby", "touch_poll"})
        collectGroup(values, key);
    return lnxRecordFrom(values);
}

UsbSettings collectUsbSettings()
{
    SettingsValues values;
    values.kind = ReaderType::Usb;
    collectGroup(values, "mode");
    collectGroup(values, "id_bytes");
    collectGroup(values, "cards");
    UsbSettings settings = usbRecordFrom(values);
    // Only the marks count: HEX and DEC are read even while greyed, and
    // ignored with Touch Memory.
    if (isChecked(outHexDecRadio)) {
        settings.outputFormat = OutputFormat::HexOrDec;
        settings.outputType = isChecked(fmtHexRadio) ? OutputType::Hex : OutputType::Dec;
    } else {
        settings.outputFormat = OutputFormat::TouchMemory;
        settings.outputType = OutputType::Absent;
    }
    return settings;
}
