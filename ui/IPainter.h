#pragma once

#include <string_view>

#include "ui/UiEvents.h"
#include "ui/UiTypes.h"

namespace SkinUI {

class CImage;

// The drawing surface the backend supplies (cairo there, a recorder in tests). Controls
// paint through it from rectangles the layout pass has already computed.
class IPainter {
public:
    virtual ~IPainter() = default;
    // Narrows drawing to `rect` (intersected with the current clip) until the matching PopClip.
    virtual void PushClip(const TRect& rect) = 0;
    virtual void PopClip() = 0;
    virtual void FillRect(const TRect& rect, TColor color) = 0;
    // Border of the given widths (left, top, right, bottom) inside `rect`.
    virtual void DrawBorder(const TRect& rect, const TRect& widths, TColor color) = 0;
    // `source` of the image drawn into `dest`; the `corner` widths of the source keep their
    // size and only the middle stretches.
    virtual void DrawImage(const CImage& image, const TRect& source, const TRect& dest, const TRect& corner) = 0;
    // One run of text whose line box is `box` (its height is the line height).
    virtual void DrawText(const TRect& box, std::string_view text, const TFontInfo& font, TColor color,
                          bool underline) = 0;
};

}  // namespace SkinUI
