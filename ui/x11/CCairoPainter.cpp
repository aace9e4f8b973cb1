#include "ui/x11/CCairoPainter.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>

#include "ui/CImage.h"
#include "ui/x11/CPangoTextMeasurer.h"

namespace SkinUI {

CCairoPainter::CCairoPainter(cairo_t* cr, CPangoTextMeasurer& measurer) : cr_(cr), measurer_(measurer) {}

CCairoPainter::~CCairoPainter() {
    // Unbalanced pushes must not leak a clip into whoever draws on the context next.
    while (!clips_.empty()) PopClip();
}

TRect CCairoPainter::CurrentClip() const {
    if (clips_.empty()) return {-(1 << 20), -(1 << 20), 1 << 20, 1 << 20};
    return clips_.back();
}

void CCairoPainter::PushClip(const TRect& rect) {
    TRect clip = CurrentClip().Intersect(rect);
    if (clip.IsEmpty()) clip = {};
    clips_.push_back(clip);
    cairo_save(cr_);
    cairo_rectangle(cr_, clip.left, clip.top, std::max(0, clip.Width()), std::max(0, clip.Height()));
    cairo_clip(cr_);
}

void CCairoPainter::PopClip() {
    if (clips_.empty()) return;
    clips_.pop_back();
    cairo_restore(cr_);
}

void CCairoPainter::SetColor(TColor color) {
    cairo_set_source_rgba(cr_, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0, (color & 0xFF) / 255.0,
                          ((color >> 24) & 0xFF) / 255.0);
}

void CCairoPainter::FillRect(const TRect& rect, TColor color) {
    if (rect.IsEmpty() || (color >> 24) == 0) return;
    SetColor(color);
    cairo_rectangle(cr_, rect.left, rect.top, rect.Width(), rect.Height());
    cairo_fill(cr_);
}

void CCairoPainter::DrawBorder(const TRect& rect, const TRect& widths, TColor color) {
    if (rect.IsEmpty() || (color >> 24) == 0) return;
    SetColor(color);
    auto band = [&](int x, int y, int w, int h) {
        if (w > 0 && h > 0) cairo_rectangle(cr_, x, y, w, h);
    };
    band(rect.left, rect.top, rect.Width(), widths.top);
    band(rect.left, rect.bottom - widths.bottom, rect.Width(), widths.bottom);
    band(rect.left, rect.top + widths.top, widths.left, rect.Height() - widths.top - widths.bottom);
    band(rect.right - widths.right, rect.top + widths.top, widths.right, rect.Height() - widths.top - widths.bottom);
    cairo_fill(cr_);
}

void CCairoPainter::DrawCell(const CImage& image, const TRect& source, const TRect& dest) {
    if (source.IsEmpty() || dest.IsEmpty()) return;
    // The pixels are already cairo's premultiplied ARGB32; the surface only borrows them.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.Data())), CAIRO_FORMAT_ARGB32,
        image.Width(), image.Height(), image.Stride());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
    double sx = static_cast<double>(source.Width()) / dest.Width();
    double sy = static_cast<double>(source.Height()) / dest.Height();
    cairo_matrix_t matrix;
    cairo_matrix_init_translate(&matrix, source.left, source.top);
    cairo_matrix_scale(&matrix, sx, sy);
    cairo_matrix_translate(&matrix, -dest.left, -dest.top);
    cairo_pattern_set_matrix(pattern, &matrix);
    // Unscaled cells stay pixel-exact; stretched ones are smoothed.
    cairo_pattern_set_filter(pattern, (sx == 1.0 && sy == 1.0) ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_save(cr_);
    cairo_rectangle(cr_, dest.left, dest.top, dest.Width(), dest.Height());
    cairo_clip(cr_);
    // Keep the smoothing filter from sampling pixels outside the source rectangle.
    cairo_surface_t* sub = nullptr;
    if (sx != 1.0 || sy != 1.0) {
        sub = cairo_surface_create_for_rectangle(surface, source.left, source.top, source.Width(), source.Height());
        cairo_pattern_t* subPattern = cairo_pattern_create_for_surface(sub);
        cairo_matrix_init_scale(&matrix, sx, sy);
        cairo_matrix_translate(&matrix, -dest.left, -dest.top);
        cairo_pattern_set_matrix(subPattern, &matrix);
        cairo_pattern_set_filter(subPattern, CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(subPattern, CAIRO_EXTEND_PAD);
        cairo_set_source(cr_, subPattern);
        cairo_pattern_destroy(subPattern);
    } else {
        cairo_set_source(cr_, pattern);
    }
    cairo_paint(cr_);
    cairo_restore(cr_);
    if (sub) cairo_surface_destroy(sub);
    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(surface);
}

void CCairoPainter::DrawImage(const CImage& image, const TRect& source, const TRect& dest, const TRect& corner) {
    if (source.IsEmpty() || dest.IsEmpty()) return;
    TRect c = corner;
    bool nine = (c.left | c.top | c.right | c.bottom) != 0;
    // Corners larger than the source or the destination cannot be kept; stretch the whole.
    if (!nine || c.left + c.right >= source.Width() || c.top + c.bottom >= source.Height() ||
        c.left + c.right > dest.Width() || c.top + c.bottom > dest.Height() || c.left < 0 || c.top < 0 ||
        c.right < 0 || c.bottom < 0) {
        DrawCell(image, source, dest);
        return;
    }
    const int sx[4] = {source.left, source.left + c.left, source.right - c.right, source.right};
    const int sy[4] = {source.top, source.top + c.top, source.bottom - c.bottom, source.bottom};
    const int dx[4] = {dest.left, dest.left + c.left, dest.right - c.right, dest.right};
    const int dy[4] = {dest.top, dest.top + c.top, dest.bottom - c.bottom, dest.bottom};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            DrawCell(image, {sx[col], sy[row], sx[col + 1], sy[row + 1]}, {dx[col], dy[row], dx[col + 1], dy[row + 1]});
        }
    }
}

void CCairoPainter::DrawText(const TRect& box, std::string_view text, const TFontInfo& font, TColor color,
                             bool underline) {
    if (text.empty() || (color >> 24) == 0) return;
    PangoLayout* layout = measurer_.CreateLayout(font, text);
    if (underline || font.underline) {
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    TRect clip = CurrentClip();
    if (box.right > clip.right && box.left < clip.right) {
        pango_layout_set_width(layout, (clip.right - box.left) * PANGO_SCALE);
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
    // Baselines of the runs of one line meet, whatever fonts the runs use.
    int lineHeight = measurer_.LineHeight(font);
    int baseline = box.top + (box.Height() - lineHeight) / 2 + measurer_.Ascent(font);
    int layoutBaseline = PANGO_PIXELS(pango_layout_get_baseline(layout));
    SetColor(color);
    cairo_move_to(cr_, box.left, baseline - layoutBaseline);
    pango_cairo_show_layout(cr_, layout);
    g_object_unref(layout);
}

}  // namespace SkinUI
