#pragma once
// The pixels of one skinned window: a cairo ARGB32 image the control tree is painted into,
// kept between frames so only dirty areas are repainted and exposures just copy it again.
// The same surface renders layouts headlessly into PNG files, so what a designer sees in
// a render is what the window shows.
// Thread ownership: the window's thread.

#include <cstdint>
#include <functional>
#include <string>

#include "ui/UiTypes.h"

typedef struct _cairo_surface cairo_surface_t;

namespace SkinUI {

class CControlHost;
class CPangoTextMeasurer;
class IPainter;

class CWindowSurface {
public:
    CWindowSurface() = default;
    ~CWindowSurface();
    CWindowSurface(const CWindowSurface&) = delete;
    CWindowSurface& operator=(const CWindowSurface&) = delete;

    // (Re)allocates for a client size; the next Render repaints everything. False when the
    // size is empty or too large (limits as for images).
    bool Resize(TSize size);
    TSize Size() const { return size_; }

    // How the window's background and outline look: `transparent` leaves unpainted pixels
    // see-through (per-pixel transparent windows), else they are white; `roundCorner`
    // cuts the corners with elliptic arcs of that size.
    void SetLook(bool transparent, TSize roundCorner);

    // Repaints `area` (clipped to the surface) from the host's tree. Returns the area painted.
    TRect Render(CControlHost& host, CPangoTextMeasurer& measurer, const TRect& area);
    // Runs `paint` with a painter on the surface, clipped to `area` (direct drawing, e.g. the
    // slide transition's frames).
    void PaintDirect(CPangoTextMeasurer& measurer, const TRect& area, const std::function<void(IPainter&)>& paint);

    // Premultiplied ARGB32 rows, as X11Window::Present takes them.
    const std::uint8_t* Data() const;
    int Stride() const;
    // Premultiplied pixel at (x, y), 0 outside.
    std::uint32_t Pixel(int x, int y) const;
    bool WritePng(const std::string& path, std::string* error = nullptr) const;

private:
    void CutCorners(const TRect& area);

    cairo_surface_t* surface_ = nullptr;
    TSize size_;
    bool transparent_ = false;
    TSize roundCorner_;
};

}  // namespace SkinUI
