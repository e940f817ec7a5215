// The controls of the main window and the two tab pages.
#ifndef VELMORA_UI_PANEL_H
#define VELMORA_UI_PANEL_H

#include <windows.h>

// One handle per control, in creation order; created once by createControls.
extern HWND portList, searchButton, versionLabel, versionValue, readerTabs;
extern HWND interfacesGroup, ifTouchMemoryRadio, ifWiegand26Radio, ifWiegand44Radio;
extern HWND operatingModeGroup, modeWindowsRadio, modeAllOsRadio;
extern HWND indicationControlGroup, indDirectRadio, indInverseRadio;
extern HWND outputFormatGroup, outHexDecRadio, outTouchMemoryRadio;
extern HWND standbyIndicationGroup, standbyDynamicRadio, standbyStaticRadio, standbyOffRadio;
extern HWND outputTypeGroup, fmtHexRadio, fmtDecRadio;
extern HWND touchButtonPollGroup, touchPollOnRadio, touchPollOffRadio;
extern HWND idByteCountGroup, bytes5Radio, bytes4Radio, bytes3Radio, bytes2Radio;
extern HWND cardsToReadGroup, cardsAllRadio, cardsHidEmRadio, cardsMifarePayRadio;
extern HWND readButton, writeButton, lampFrameGroup;

// Builds the menu bar, every control and the page of the remembered tab.
void createControls();
void createReaderTabs();

// SW_HIDE or SW_SHOW on the 14 controls of one page.
void showLnxPage(int showCommand);
void showUsbPage(int showCommand);

// Switch to a page and load its default choices and lamp colours; the
// caller asks for the lamp repaint.
void applyLnxPageDefaults();
void applyUsbPageDefaults();

#endif
