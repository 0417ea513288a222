#include <windows.h>

#include "ui/action_icons.h"

#include "engine/hid_action.h"
#include "framework/kv_error.h"
#include "framework/kv_handle.h"

#include <initializer_list>
#include <utility>

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr COLORREF kInk = RGB(0, 0, 128);
constexpr COLORREF kAccent = RGB(0, 128, 0);

void Polygon(HDC dc, std::initializer_list<POINT> points) {
    ::Polygon(dc, points.begin(), static_cast<int>(points.size()));
}

void Bar(HDC dc, int left, int top, int right, int bottom) {
    Rectangle(dc, left, top, right, bottom);
}

// Triangles pointing right (or left) with their tip at x.
void Right(HDC dc, int x, int top, int bottom) {
    Polygon(
        dc,
        {{x - (bottom - top) / 2, top}, {x, (top + bottom) / 2}, {x - (bottom - top) / 2, bottom}});
}
void Left(HDC dc, int x, int top, int bottom) {
    Polygon(
        dc,
        {{x + (bottom - top) / 2, top}, {x, (top + bottom) / 2}, {x + (bottom - top) / 2, bottom}});
}

// Straight strokes two pixels wide, each from its first point to its second.
void Strokes(HDC dc, COLORREF colour, std::initializer_list<std::pair<POINT, POINT>> strokes) {
    const TkvGdiObject<HPEN> pen(CreatePen(PS_SOLID, 2, colour));
    const TkvSelection selected(dc, pen.Get());
    for (const auto& [from, to] : strokes) {
        MoveToEx(dc, from.x, from.y, nullptr);
        LineTo(dc, to.x, to.y);
    }
}

void Speaker(HDC dc) {
    Bar(dc, 1, 6, 4, 10);
    Polygon(dc, {{4, 6}, {8, 2}, {8, 14}, {4, 10}});
}

void DrawGlyph(HDC dc, std::uint8_t type) {
    switch (type) {
    case atPlayPause:
        Right(dc, 8, 3, 13);
        Bar(dc, 10, 3, 12, 13);
        Bar(dc, 13, 3, 15, 13);
        break;
    case atNext:
        Right(dc, 11, 3, 13);
        Bar(dc, 11, 3, 14, 13);
        break;
    case atPrevious:
        Bar(dc, 2, 3, 5, 13);
        Left(dc, 5, 3, 13);
        break;
    case atStop:
        Bar(dc, 3, 3, 13, 13);
        break;
    case atVolumeUp:
        Speaker(dc);
        Bar(dc, 10, 7, 16, 9);
        Bar(dc, 12, 5, 14, 11);
        break;
    case atVolumeDown:
        Speaker(dc);
        Bar(dc, 10, 7, 16, 9);
        break;
    case atForward:
        Right(dc, 9, 3, 13);
        Right(dc, 15, 3, 13);
        break;
    case atBackward:
        Left(dc, 1, 3, 13);
        Left(dc, 7, 3, 13);
        break;
    case atPlay:
        Right(dc, 13, 2, 14);
        break;
    case atPause:
        Bar(dc, 4, 3, 7, 13);
        Bar(dc, 9, 3, 12, 13);
        break;
    case atFullScreen: // a frame with corner marks
        Bar(dc, 1, 1, 6, 3);
        Bar(dc, 1, 1, 3, 6);
        Bar(dc, 10, 1, 15, 3);
        Bar(dc, 13, 1, 15, 6);
        Bar(dc, 1, 13, 6, 15);
        Bar(dc, 1, 10, 3, 15);
        Bar(dc, 10, 13, 15, 15);
        Bar(dc, 13, 10, 15, 15);
        break;
    case atEject:
        Polygon(dc, {{8, 2}, {14, 9}, {2, 9}});
        Bar(dc, 2, 11, 15, 14);
        break;
    case atMute: // the speaker crossed out
        Speaker(dc);
        Strokes(dc, RGB(200, 0, 0), {{{10, 5}, {15, 11}}, {{15, 5}, {10, 11}}});
        break;
    case atShuffle: // two crossing arrows
        Strokes(dc, kInk, {{{1, 4}, {11, 12}}, {{1, 12}, {11, 4}}});
        Right(dc, 15, 1, 8);
        Right(dc, 15, 8, 15);
        break;
    case atRepeat: // a loop with its arrow
        Strokes(dc, kInk,
                {{{2, 11}, {2, 4}}, {{2, 4}, {12, 4}}, {{14, 5}, {14, 12}}, {{14, 12}, {4, 12}}});
        Right(dc, 15, 1, 8);
        break;
    default: // a command beyond the types: a menu of three lines
        Bar(dc, 2, 3, 14, 5);
        Bar(dc, 2, 7, 14, 9);
        Bar(dc, 2, 11, 14, 13);
        break;
    }
}

} // namespace

HIMAGELIST CreateActionImageList(int size) {
    const HIMAGELIST list =
        ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, kActionImageCount, 0);
    if (list == nullptr)
        throw EkvError("Cannot create the action images");
    const HDC screen = GetDC(nullptr);
    const TkvMemoryDC dc(CreateCompatibleDC(screen));
    const TkvGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen, size, size));
    ReleaseDC(nullptr, screen);
    const TkvGdiObject<HBRUSH> background(CreateSolidBrush(kTransparent));
    const TkvSelection noPen(dc.Get(), GetStockObject(NULL_PEN));
    // The glyphs are drawn on a 16-pixel grid; a larger image scales the grid, not a bitmap, so
    // the edges stay sharp. At 16 the plain mode draws exactly what it always drew.
    if (size != 16) {
        SetGraphicsMode(dc.Get(), GM_ADVANCED);
        const float scale = static_cast<float>(size) / 16.0f;
        const XFORM grid{scale, 0, 0, scale, 0, 0};
        SetWorldTransform(dc.Get(), &grid);
    }
    for (int type = 1; type <= kActionImageCount; ++type) {
        {
            const TkvSelection canvas(dc.Get(), bitmap.Get());
            const RECT all{0, 0, 16, 16}; // on the grid
            FillRect(dc.Get(), &all, background.Get());
            const bool volume = type == atVolumeUp || type == atVolumeDown;
            const TkvGdiObject<HBRUSH> ink(CreateSolidBrush(volume ? kAccent : kInk));
            const TkvSelection inked(dc.Get(), ink.Get());
            // The last image, past Repeat, is the commands' glyph.
            DrawGlyph(dc.Get(), static_cast<std::uint8_t>(type));
        }
        // A bitmap still selected into a device context cannot be added.
        ImageList_AddMasked(list, bitmap.Get(), kTransparent);
    }
    return list;
}
