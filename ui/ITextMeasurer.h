#pragma once

#include <string_view>

#include "ui/UiEvents.h"

namespace SkinUI {

// Text metrics, supplied by the backend (pango there, a fixed-width stand-in in tests).
// Called on the window thread during layout.
class ITextMeasurer {
public:
    virtual ~ITextMeasurer() = default;
    // Advance width in pixels of `text` (UTF-8, no line breaks).
    virtual int TextWidth(const TFontInfo& font, std::string_view text) = 0;
    virtual int LineHeight(const TFontInfo& font) = 0;
};

}  // namespace SkinUI
