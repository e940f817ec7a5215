// The five indicator lamps painted beside the settings groups.
#ifndef VELMORA_UI_LAMPS_H
#define VELMORA_UI_LAMPS_H

#include <windows.h>

constexpr int LampCount = 5;

// Lamps 1 to 5 from top to bottom (index 0 is lamp 1). Written by the page
// defaults, the radio commands and the settings display; read by paintLamps.
extern COLORREF lampColor[LampCount];

// The lamp frame's rectangle, repainted by invalidateLamps.
extern const RECT lampArea;

// Bounding rectangles of the lamps, by page (ReaderType) and lamp.
extern const RECT lampRect[2][LampCount];

constexpr COLORREF LampRed = 0x0000FF;
constexpr COLORREF LampGreen = 0x00FF00;
constexpr COLORREF LampBlue = 0xFF0000;
constexpr COLORREF LampCyan = 0xFFFF00;
constexpr COLORREF LampMagenta = 0xFF00FF;
constexpr COLORREF LampYellow = 0x00FFFF;
constexpr COLORREF LampWhite = 0xFFFFFF;

void paintLamps();
void eraseOtherPageLamps();
void invalidateLamps();

#endif
