#pragma once
// Drawing helpers shared by the controls and by windows that paint by hand (the slide show
// draws registered pictures straight onto the window).

#include <string_view>

#include "ui/CImageCache.h"
#include "ui/CTextLayout.h"
#include "ui/IPainter.h"

namespace SkinUI {

class CRenderer {
public:
    // Draws an image reference (entry name or key='value' list) into `rect`: `dest` is taken
    // relative to the rectangle and clipped to it. False when the image is found nowhere.
    static bool DrawImage(IPainter& painter, CImageCache& images, const TRect& rect, std::string_view reference);
    // Paints the fragments of a text layout; a non-zero `color` replaces their colours
    // (plain texts, whose colour follows the control's state).
    static void DrawText(IPainter& painter, const CTextLayout& layout, const std::vector<TFontInfo>& fonts,
                         TColor color = 0);
};

}  // namespace SkinUI
