// Selecting the language's texts and putting them on the window.
#include "prefs/texts.h"

#include <windows.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "ui/panel.h"

const wchar_t *TextTable[TextCount];

void selectTextTable()
{
    const wchar_t *const *texts = uiLanguage == UiLanguage::English ? EnglishTexts : RussianTexts;
    for (int id = 0; id < TextCount; id++)
        TextTable[id] = texts[id];
}

void applyInterfaceTexts()
{
    struct Caption {
        HWND *window;
        TextId text;
    };
    // The window title and every control created with a caption from the
    // table, hidden page included, in this order.
    static const Caption captions[] = {
        {&mainWindow, TxtWindowTitle},
        {&searchButton, TxtSearchButton},
        {&versionLabel, TxtVersionLabel},
        {&interfacesGroup, TxtGroupInterfaces},
        {&operatingModeGroup, TxtGroupOperatingMode},
        {&indicationControlGroup, TxtGroupIndicationControl},
        {&indDirectRadio, TxtIndicationDirect},
        {&indInverseRadio, TxtIndicationInverse},
        {&outputFormatGroup, TxtGroupOutputFormat},
        {&outHexDecRadio, TxtHexOrDec},
        {&standbyIndicationGroup, TxtGroupStandbyIndication},
        {&standbyDynamicRadio, TxtStandbyDynamic},
        {&standbyStaticRadio, TxtStandbyStatic},
        {&standbyOffRadio, TxtStandbyOff},
        {&outputTypeGroup, TxtGroupOutputType},
        {&touchButtonPollGroup, TxtGroupTouchButtonPoll},
        {&touchPollOnRadio, TxtPollOn},
        {&touchPollOffRadio, TxtPollOff},
        {&idByteCountGroup, TxtGroupIdByteCount},
        {&cardsToReadGroup, TxtGroupCardsToRead},
        {&readButton, TxtReadButton},
        {&writeButton, TxtWriteButton},
        {&lampFrameGroup, TxtGroupIndicator},
    };

    selectTextTable();
    for (const Caption &caption : captions)
        SendMessageW(*caption.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(TextTable[caption.text]));
}
