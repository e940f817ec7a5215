// The interface texts: one table of 72 entries pointing at the texts of the
// current language. Texts are wide strings so Russian reads correctly
// whatever the system's ANSI code page.
#ifndef VELMORA_PREFS_TEXTS_H
#define VELMORA_PREFS_TEXTS_H

#include <cstddef>

enum class UiLanguage : int { Russian = 0, English = 1 };

enum TextId : int {
    TxtWindowTitle,
    TxtMenuFile,
    TxtMenuTools,
    TxtMenuHelp,
    TxtMenuQuit,
    TxtMenuLanguage,
    TxtMenuHelpItem,
    TxtMenuAbout,
    TxtSearchButton,
    TxtVersionLabel,
    TxtGroupInterfaces,
    TxtGroupOperatingMode,
    TxtGroupIndicationControl,
    TxtIndicationDirect,
    TxtIndicationInverse,
    TxtGroupOutputFormat,
    TxtHexOrDec,
    TxtGroupStandbyIndication,
    TxtStandbyDynamic,
    TxtStandbyStatic,
    TxtStandbyOff,
    TxtGroupOutputType,
    TxtGroupTouchButtonPoll,
    TxtPollOn,
    TxtPollOff,
    TxtGroupIdByteCount,
    TxtGroupCardsToRead,
    TxtReadButton,
    TxtWriteButton,
    TxtGroupIndicator,
    TxtProgressSearchLnx,
    TxtProgressSearchUsb,
    TxtProgressReadLnx,
    TxtProgressReadUsb,
    TxtProgressWriteLnx,
    TxtProgressWriteUsb,
    TxtLnxNotFound,
    TxtLnxFound,
    TxtUsbNotFound,
    TxtUsbFound,
    TxtReplyUnrecognized,
    TxtNoReply,
    TxtInvalidCommand,
    TxtSettingsWritten,
    TxtSettingsRead,
    TxtFirmwareUnsupported,
    TxtBadInterface,
    TxtBadIndicationControl,
    TxtBadStandbyIndication,
    TxtBadTouchButtonPoll,
    TxtBadOperatingMode,
    TxtBadOutputType,
    TxtBadOutputFormat,
    TxtBadIdByteCount,
    TxtBadCardsToRead,
    TxtHelpFileNotFound,
    TxtMessageCaption,
    TxtSaveFailed,
    TxtNoPorts,
    TxtHelpNoViewer,
    TxtErrorOpening,
    TxtHelpOpenFailed,
    TxtErrorCode,
    TxtConnectionBroken,
    TxtDisabled,
    TxtUsbDisconnected,
    TxtError,
    TxtWhenReading,
    TxtWhenWriting,
    TxtSelectPortHint,
    TxtHelpFolderHint,
    TxtInstallPdfViewer,
    TextCount
};

// The current language's entries; filled by selectTextTable at start-up and
// on every language change. Pointers stay valid for the whole run.
extern const wchar_t *TextTable[TextCount];

// The two complete sets of constant texts.
extern const wchar_t *const RussianTexts[TextCount];
extern const wchar_t *const EnglishTexts[TextCount];

// Points every entry at the texts of uiLanguage.
void selectTextTable();

// Selects the table again and puts the texts into the window title and the
// 22 captioned controls, hidden ones included.
void applyInterfaceTexts();

// Bounded formatting for every composed message; the result is always
// terminated, and cut short rather than overflowing. Wide texts go in with
// %ls (never %s, whose meaning differs between runtimes); a narrow port
// name is converted to wide first and also passed with %ls, never used as
// the format itself.
void formatText(wchar_t *buffer, size_t capacity, const wchar_t *format, ...);

#endif
