// The five indicator lamps, drawn straight on the main window's client area
// through the inside of the lamp frame.
#include "ui/lamps.h"

#include "app/app.h"
#include "prefs/preferences.h"

COLORREF lampColor[LampCount];

const RECT lampArea = {330, 60, 380, 560};

const RECT lampRect[2][LampCount] = {
    // Lnx page: beside the interface, indication, standby and poll groups.
    {{345, 140, 365, 160}, {345, 230, 365, 250}, {345, 320, 365, 340}, {345, 410, 365, 430}, {345, 500, 365, 520}},
    // Usb page: its groups sit higher; lamp 5 is the same on both pages.
    {{345, 130, 365, 150}, {345, 210, 365, 230}, {345, 290, 365, 310}, {345, 390, 365, 410}, {345, 500, 365, 520}},
};

namespace {

constexpr int LampPenWidth = 2;

// One paint of five lamps: a pen of penColor, and a brush per lamp from
// brushFor, all created inside the paint and deleted before it ends.
template <typename BrushFor>
void drawLamps(COLORREF penColor, BrushFor brushFor, const RECT (&rects)[LampCount])
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(mainWindow, &paint);
    HPEN pen = CreatePen(PS_SOLID, LampPenWidth, penColor);
    HGDIOBJ keptPen = SelectObject(dc, pen);
    HBRUSH brushes[LampCount];
    for (int lamp = 0; lamp < LampCount; lamp++)
        brushes[lamp] = brushFor(lamp);
    HGDIOBJ keptBrush = SelectObject(dc, brushes[0]);
    for (int lamp = 0; lamp < LampCount; lamp++) {
        if (lamp > 0)
            SelectObject(dc, brushes[lamp]);
        Ellipse(dc, rects[lamp].left, rects[lamp].top, rects[lamp].right, rects[lamp].bottom);
    }
    SelectObject(dc, keptPen);
    SelectObject(dc, keptBrush);
    DeleteObject(pen);
    for (HBRUSH brush : brushes)
        DeleteObject(brush);  // a system colour brush is left alone
    EndPaint(mainWindow, &paint);
}

int pageIndex(ReaderType page)
{
    return page == ReaderType::Usb ? 1 : 0;
}

}  // namespace

void paintLamps()
{
    drawLamps(RGB(0, 0, 0), [](int lamp) { return CreateSolidBrush(lampColor[lamp]); },
              lampRect[pageIndex(readerType)]);
}

void eraseOtherPageLamps()
{
    // invalidateLamps asks for no background erase, so the lamps of the page
    // shown before a tab switch are covered here, with the same geometry.
    drawLamps(GetSysColor(COLOR_BTNFACE), [](int) { return GetSysColorBrush(COLOR_BTNFACE); },
              lampRect[1 - pageIndex(readerType)]);
}

void invalidateLamps()
{
    InvalidateRect(mainWindow, &lampArea, FALSE);
}
