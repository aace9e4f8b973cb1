#include "ui/x11/CWindowSurface.h"

#include <cairo.h>

#include <cmath>
#include <memory>

#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/x11/CCairoPainter.h"
#include "ui/x11/CPangoTextMeasurer.h"

namespace SkinUI {
namespace {

struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

CWindowSurface::~CWindowSurface() {
    if (surface_) cairo_surface_destroy(surface_);
}

bool CWindowSurface::Resize(TSize size) {
    if (size.cx <= 0 || size.cy <= 0 || size.cx > CImage::kMaxDimension || size.cy > CImage::kMaxDimension) {
        return false;
    }
    if (surface_ && size == size_) return true;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size.cx, size.cy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = surface;
    size_ = size;
    return true;
}

void CWindowSurface::SetLook(bool transparent, TSize roundCorner) {
    transparent_ = transparent;
    roundCorner_ = roundCorner;
}

TRect CWindowSurface::Render(CControlHost& host, CPangoTextMeasurer& measurer, const TRect& area) {
    if (!surface_) return {};
    TRect clip = area.Intersect({0, 0, size_.cx, size_.cy});
    if (clip.IsEmpty()) return {};
    std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface_));
    cairo_rectangle(cr.get(), clip.left, clip.top, clip.Width(), clip.Height());
    cairo_clip(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    if (transparent_) {
        cairo_set_source_rgba(cr.get(), 0, 0, 0, 0);
    } else {
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
    }
    cairo_paint(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    {
        CCairoPainter painter(cr.get(), measurer);
        painter.PushClip(clip);
        host.Paint(painter);
        painter.PopClip();
    }
    cr.reset();
    CutCorners(clip);
    cairo_surface_flush(surface_);
    return clip;
}

void CWindowSurface::PaintDirect(CPangoTextMeasurer& measurer, const TRect& area,
                                 const std::function<void(IPainter&)>& paint) {
    if (!surface_) return;
    TRect clip = area.Intersect({0, 0, size_.cx, size_.cy});
    if (clip.IsEmpty()) return;
    std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface_));
    {
        CCairoPainter painter(cr.get(), measurer);
        painter.PushClip(clip);
        paint(painter);
        painter.PopClip();
    }
    cr.reset();
    CutCorners(clip);
    cairo_surface_flush(surface_);
}

void CWindowSurface::CutCorners(const TRect& area) {
    int rx = std::min(roundCorner_.cx, size_.cx / 2);
    int ry = std::min(roundCorner_.cy, size_.cy / 2);
    if (rx <= 0 || ry <= 0) return;
    cairo_surface_flush(surface_);
    auto* data = cairo_image_surface_get_data(surface_);
    int stride = cairo_image_surface_get_stride(surface_);
    // Coverage of each corner pixel by the ellipse quarter, sampled 4x4, scales its alpha.
    for (int y = 0; y < ry; ++y) {
        for (int x = 0; x < rx; ++x) {
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    double px = (rx - (x + (sx + 0.5) / 4.0)) / rx;
                    double py = (ry - (y + (sy + 0.5) / 4.0)) / ry;
                    if (px * px + py * py <= 1.0) ++inside;
                }
            }
            if (inside == 16) continue;
            const int xs[2] = {x, size_.cx - 1 - x};
            const int ys[2] = {y, size_.cy - 1 - y};
            for (int cy : ys) {
                for (int cx : xs) {
                    if (!area.Contains({cx, cy})) continue;
                    auto* pixel = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(cy) * stride) + cx;
                    std::uint32_t p = *pixel;
                    std::uint32_t out = 0;
                    for (int shift = 0; shift < 32; shift += 8) {
                        std::uint32_t channel = (p >> shift) & 0xFF;
                        out |= ((channel * inside / 16) & 0xFF) << shift;
                    }
                    *pixel = out;
                }
            }
        }
    }
    cairo_surface_mark_dirty(surface_);
}

const std::uint8_t* CWindowSurface::Data() const {
    return surface_ ? cairo_image_surface_get_data(surface_) : nullptr;
}

int CWindowSurface::Stride() const { return surface_ ? cairo_image_surface_get_stride(surface_) : 0; }

std::uint32_t CWindowSurface::Pixel(int x, int y) const {
    if (!surface_ || x < 0 || y < 0 || x >= size_.cx || y >= size_.cy) return 0;
    const auto* row = cairo_image_surface_get_data(surface_) + static_cast<std::size_t>(y) * Stride();
    return reinterpret_cast<const std::uint32_t*>(row)[x];
}

bool CWindowSurface::WritePng(const std::string& path, std::string* error) const {
    if (!surface_) {
        if (error) *error = "nothing rendered";
        return false;
    }
    cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        if (error) *error = cairo_status_to_string(status);
        return false;
    }
    return true;
}

}  // namespace SkinUI
