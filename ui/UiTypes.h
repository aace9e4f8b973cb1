#pragma once
// Small value types and attribute parsers shared by the whole toolkit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace SkinUI {

struct TPoint {
    int x = 0;
    int y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TSize {
    int cx = 0;
    int cy = 0;
    bool operator==(const TSize&) const = default;
};

// Edges left, top, right, bottom. Used both for rectangles and for four widths
// (padding, inset, border, corner), as the layout attributes write them.
struct TRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(TPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    TRect Deflated(const TRect& by) const {
        return {left + by.left, top + by.top, right - by.right, bottom - by.bottom};
    }
    TRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    TRect Intersect(const TRect& o) const;
    TRect Union(const TRect& o) const;
    bool operator==(const TRect&) const = default;
};

// 0xAARRGGBB, not premultiplied. 0 means "not set" wherever a colour is optional.
using TColor = std::uint32_t;

// "#AARRGGBB" or "#RRGGBB" (opaque). Anything else is no colour.
std::optional<TColor> ParseColor(std::string_view text);
// "l,t,r,b"; missing numbers count as 0, so "4" alone is {4,0,0,0}.
TRect ParseRect(std::string_view text);
// "a,b"
TSize ParseSize(std::string_view text);
// A leading decimal integer, clamped to +-1e6; anything unreadable is `fallback`.
int ParseInt(std::string_view text, int fallback = 0);
bool ParseBool(std::string_view text);

// Space, tab, carriage return or line feed: what markup values may be padded with.
bool IsBlank(char c);
char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view text);
bool AsciiEqualNoCase(std::string_view a, std::string_view b);
// Number of Unicode code points of UTF-8 text (continuation bytes are not counted).
std::size_t CodePointCount(std::string_view text);
// Byte length of the UTF-8 sequence starting with lead byte `c` (1 for invalid bytes).
std::size_t Utf8SequenceLength(unsigned char c);

}  // namespace SkinUI
