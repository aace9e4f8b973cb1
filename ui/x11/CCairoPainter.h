#pragma once
// IPainter on a cairo context: images (source rectangle, nine-patch corners, alpha),
// fills, borders, and text runs laid out by pango through the window's text measurer.
// A run that would spill past the right edge of the current clip is cut with an end
// ellipsis instead of a half glyph.
// Thread ownership: the thread that paints (the window's).

#include <vector>

#include "ui/IPainter.h"

typedef struct _cairo cairo_t;

namespace SkinUI {

class CPangoTextMeasurer;

class CCairoPainter final : public IPainter {
public:
    // Draws on `cr` (not owned) with text from `measurer` (not owned).
    CCairoPainter(cairo_t* cr, CPangoTextMeasurer& measurer);
    ~CCairoPainter() override;
    CCairoPainter(const CCairoPainter&) = delete;
    CCairoPainter& operator=(const CCairoPainter&) = delete;

    void PushClip(const TRect& rect) override;
    void PopClip() override;
    void FillRect(const TRect& rect, TColor color) override;
    void DrawBorder(const TRect& rect, const TRect& widths, TColor color) override;
    void DrawImage(const CImage& image, const TRect& source, const TRect& dest, const TRect& corner) override;
    void DrawText(const TRect& box, std::string_view text, const TFontInfo& font, TColor color,
                  bool underline) override;

private:
    void SetColor(TColor color);
    // One cell of an image: `source` of the picture scaled into `dest`.
    void DrawCell(const CImage& image, const TRect& source, const TRect& dest);
    TRect CurrentClip() const;

    cairo_t* cr_;
    CPangoTextMeasurer& measurer_;
    std::vector<TRect> clips_;
};

}  // namespace SkinUI
