// Interface texts in English.
#include "prefs/texts.h"

#include "velmora_version.h"

static const wchar_t Off[] = L"Off";
static const wchar_t Help[] = L"Help";

const wchar_t *const EnglishTexts[TextCount] = {
    L"Velmora ver." VELMORA_VERSION_LABEL, // TxtWindowTitle
    L"File", // TxtMenuFile
    L"Tools", // TxtMenuTools
    Help, // TxtMenuHelp
    L"Quit", // TxtMenuQuit
    L"Language", // TxtMenuLanguage
    Help, // TxtMenuHelpItem
    L"About...", // TxtMenuAbout
    L"SEARCH", // TxtSearchButton
    L"Version: ", // TxtVersionLabel
    L" 1) INTERFACES: ", // TxtGroupInterfaces
    L" 1) READER OPERATING MODE: ", // TxtGroupOperatingMode
    L" 2) INDICATION CONTROL: ", // TxtGroupIndicationControl
    L"Direct (active '1')", // TxtIndicationDirect
    L"Inverse (active '0')", // TxtIndicationInverse
    L" 2) ID CARD OUTPUT FORMAT: ", // TxtGroupOutputFormat
    L"HEX or DEC", // TxtHexOrDec
    L" 3) INDICATION IN STANDBY MODE: ", // TxtGroupStandbyIndication
    L"Dynamic", // TxtStandbyDynamic
    L"Static", // TxtStandbyStatic
    Off, // TxtStandbyOff
    L" 3) ID CARD OUTPUT TYPE: ", // TxtGroupOutputType
    L" 4) TOUCH BUTTON POLL: ", // TxtGroupTouchButtonPoll
    L"On", // TxtPollOn
    Off, // TxtPollOff
    L" 4) NUMBER OF BYTE ID CARD: ", // TxtGroupIdByteCount
    L" 5) CARD FOR READ: ", // TxtGroupCardsToRead
    L"READ", // TxtReadButton
    L"WRITE", // TxtWriteButton
    L"Indic.", // TxtGroupIndicator
    L"Search for Tarvik-LNA_LNB reader", // TxtProgressSearchLnx
    L"Search for Tarvik-USB reader", // TxtProgressSearchUsb
    L"Reading Tarvik-LNA_LNB settings", // TxtProgressReadLnx
    L"Reading Tarvik-USB settings", // TxtProgressReadUsb
    L"Writing Tarvik-LNA_LNB settings", // TxtProgressWriteLnx
    L"Writing Tarvik-USB settings", // TxtProgressWriteUsb
    L"Tarvik-LNA_LNB not found!", // TxtLnxNotFound
    L"Tarvik-LNA_LNB reader found!", // TxtLnxFound
    L"Tarvik-USB not found!", // TxtUsbNotFound
    L"Tarvik-USB reader found!", // TxtUsbFound
    L"The answer could not be recognized!", // TxtReplyUnrecognized
    L"The reader did not respond!\n(Try again or a different COM port).", // TxtNoReply
    L"Invalid command!", // TxtInvalidCommand
    L"Settings recorded!", // TxtSettingsWritten
    L"Settings read!", // TxtSettingsRead
    L"Firmware version not supported!", // TxtFirmwareUnsupported
    L"READER INTERFACE - NOT RECOGNIZED!", // TxtBadInterface
    L"INDICATION CONTROL - NOT RECOGNIZED!", // TxtBadIndicationControl
    L"INDICATION IN STANDBY MODE - NOT RECOGNIZED!", // TxtBadStandbyIndication
    L"TOUCH BUTTON POLL - NOT RECOGNIZED!", // TxtBadTouchButtonPoll
    L"READER OPERATING MODE - NOT RECOGNIZED!", // TxtBadOperatingMode
    L"ID CARD OUTPUT TYPE - NOT RECOGNIZED!", // TxtBadOutputType
    L"ID CARD OUTPUT FORMAT - NOT RECOGNIZED!", // TxtBadOutputFormat
    L"NUMBER OF BYTE ID CARD - NOT RECOGNIZED!", // TxtBadIdByteCount
    L"CARD FOR READ - NOT RECOGNIZED!", // TxtBadCardsToRead
    L"File not found!\n\rCheck for the presence of the help file (" VELMORA_HELP_FILE_NAME ").", // TxtHelpFileNotFound
    L"Message", // TxtMessageCaption
    L"Failed to save settings!\nRestart the program.", // TxtSaveFailed
    L"No COM ports found in the system!", // TxtNoPorts
    L"Help file cannot be opened!", // TxtHelpNoViewer
    L"Error opening", // TxtErrorOpening
    L"Opening the help file failed!", // TxtHelpOpenFailed
    L"Error code", // TxtErrorCode
    L"The connection is broken.", // TxtConnectionBroken
    L"disabled!", // TxtDisabled
    L"Connection broken.\n\r(Tarvik-USB disabled!)", // TxtUsbDisconnected
    L"Error", // TxtError
    L"when reading from a COM port!", // TxtWhenReading
    L"when writing to the COM port!", // TxtWhenWriting
    L"If you are sure that the reader is connected to the PC,\nselect a COM port from the list!", // TxtSelectPortHint
    L"Open the help folder where the application is installed.\n\rDefault: C:\\Velmora v.x.x\\help", // TxtHelpFolderHint
    L"Install a PDF viewer on your PC.", // TxtInstallPdfViewer
};
