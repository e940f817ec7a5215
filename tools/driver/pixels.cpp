#include "pixels.h"

#include <cstdlib>

namespace pixels {

// A 32-bit top-down DIB section selected into a memory DC.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    DWORD *bits;
    int width;
    int height;
};

static bool openCanvas(Canvas &canvas, int width, int height)
{
    canvas = Canvas{};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    canvas.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!canvas.bitmap)
        return false;
    canvas.dc = CreateCompatibleDC(nullptr);
    if (!canvas.dc) {
        DeleteObject(canvas.bitmap);
        return false;
    }
    canvas.previous = SelectObject(canvas.dc, canvas.bitmap);
    canvas.bits = (DWORD *)bits;
    canvas.width = width;
    canvas.height = height;
    return true;
}

static void closeCanvas(Canvas &canvas)
{
    if (canvas.dc) {
        SelectObject(canvas.dc, canvas.previous);
        DeleteDC(canvas.dc);
    }
    if (canvas.bitmap)
        DeleteObject(canvas.bitmap);
    canvas = Canvas{};
}

// DIB pixels are 0x00RRGGBB; COLORREF is 0x00BBGGRR.
static COLORREF toColorref(DWORD pixel)
{
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

static void readCanvas(const Canvas &canvas, std::vector<COLORREF> &out)
{
    GdiFlush();
    out.resize((size_t)canvas.width * canvas.height);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = toColorref(canvas.bits[i]);
}

bool grab(const RECT &screenRect, std::vector<COLORREF> &out)
{
    int width = screenRect.right - screenRect.left;
    int height = screenRect.bottom - screenRect.top;
    out.clear();
    if (width <= 0 || height <= 0)
        return false;
    Canvas canvas;
    if (!openCanvas(canvas, width, height))
        return false;
    HDC screen = GetDC(nullptr);
    bool copied = screen && BitBlt(canvas.dc, 0, 0, width, height, screen, screenRect.left, screenRect.top,
                                   SRCCOPY);
    if (screen)
        ReleaseDC(nullptr, screen);
    if (copied)
        readCanvas(canvas, out);
    closeCanvas(canvas);
    return copied;
}

// An icon drawn the way a static control draws it, over a plain colour.
static bool drawIcon(HICON icon, int width, int height, COLORREF background, std::vector<COLORREF> &out)
{
    Canvas canvas;
    if (!openCanvas(canvas, width, height))
        return false;
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, width, height};
    FillRect(canvas.dc, &all, brush);
    DeleteObject(brush);
    bool drawn = DrawIconEx(canvas.dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    if (drawn)
        readCanvas(canvas, out);
    closeCanvas(canvas);
    return drawn;
}

static int channelDiff(COLORREF a, COLORREF b)
{
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int d = std::abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF));
        if (d > worst)
            worst = d;
    }
    return worst;
}

static int imageDiff(const std::vector<COLORREF> &a, const std::vector<COLORREF> &b)
{
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int d = channelDiff(a[i], b[i]);
        if (d > worst)
            worst = d;
    }
    return worst;
}

// The first pixel where the icon leaves the background untouched, found by
// drawing it over black and over white; -1 when the icon covers every pixel.
static int transparentPixel(HICON icon, int width, int height)
{
    std::vector<COLORREF> overBlack, overWhite;
    if (!drawIcon(icon, width, height, RGB(0, 0, 0), overBlack) ||
        !drawIcon(icon, width, height, RGB(255, 255, 255), overWhite))
        return -1;
    for (size_t i = 0; i < overBlack.size(); ++i)
        if (overBlack[i] == RGB(0, 0, 0) && overWhite[i] == RGB(255, 255, 255))
            return (int)i;
    return -1;
}

struct Candidate {
    const char *name;
    HICON icon;
};

// The program's pictures, loaded once per .exe.
static std::wstring loadedFrom;
static HMODULE programModule;
static HICON programIcons[5];

static void loadProgramIcons(const std::wstring &exePath)
{
    if (exePath == loadedFrom && programModule)
        return;
    for (HICON &icon : programIcons) {
        if (icon)
            DestroyIcon(icon);
        icon = nullptr;
    }
    if (programModule)
        FreeLibrary(programModule);
    programModule = LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    loadedFrom = exePath;
    if (!programModule)
        return;
    for (int id = 3; id <= 7; ++id)
        programIcons[id - 3] = (HICON)LoadImageW(programModule, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0,
                                                 LR_DEFAULTSIZE);
}

bool identifyPicture(HWND iconStatic, const std::wstring &exePath, PictureMatch &match)
{
    match = PictureMatch{"none", 0, 256, ""};
    if (!iconStatic || !IsWindowVisible(iconStatic))
        return true;
    RECT r;
    GetClientRect(iconStatic, &r);
    MapWindowPoints(iconStatic, HWND_DESKTOP, (POINT *)&r, 2);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    std::vector<COLORREF> screen;
    if (!grab(r, screen))
        return false;

    loadProgramIcons(exePath);
    static const char *programNames[5] = {"3", "4", "5", "6", "7"};
    std::vector<Candidate> candidates;
    for (int i = 0; i < 5; ++i)
        if (programIcons[i])
            candidates.push_back({programNames[i], programIcons[i]});
    // The system pictures: IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION.
    candidates.push_back({"stock-error", LoadIconW(nullptr, MAKEINTRESOURCEW(32513))});
    candidates.push_back({"stock-warning", LoadIconW(nullptr, MAKEINTRESOURCEW(32515))});
    candidates.push_back({"stock-info", LoadIconW(nullptr, MAKEINTRESOURCEW(32516))});
    candidates.push_back({"stock-question", LoadIconW(nullptr, MAKEINTRESOURCEW(32514))});

    // An empty static: every pixel its background.
    match.diff = 0;
    for (COLORREF pixel : screen) {
        int d = channelDiff(pixel, screen.front());
        if (d > match.diff)
            match.diff = d;
    }

    for (const Candidate &candidate : candidates) {
        if (!candidate.icon)
            continue;
        // The background the box paints shows wherever this icon is
        // transparent; if it is the right icon, that is exact.
        int spot = transparentPixel(candidate.icon, width, height);
        COLORREF background = spot >= 0 ? screen[spot] : GetSysColor(COLOR_BTNFACE);
        std::vector<COLORREF> drawn;
        if (!drawIcon(candidate.icon, width, height, background, drawn))
            continue;
        int diff = imageDiff(screen, drawn);
        if (diff < match.diff) {
            match.runnerUp = match.diff;
            match.runnerUpName = match.name;
            match.diff = diff;
            match.name = candidate.name;
        } else if (diff < match.runnerUp) {
            match.runnerUp = diff;
            match.runnerUpName = candidate.name;
        }
    }
    return true;
}

}
