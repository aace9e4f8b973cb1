#include "ui/x11/X11SystemMessageBox.h"

#include <X11/keysym.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <memory>

#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11Window.h"

namespace SkinUI::x11 {
namespace {

constexpr int kWidth = 420;
constexpr int kPadding = 20;
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 30;

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};

class PlainBox final : public X11Window {
public:
    PlainBox(std::string text) : text_(std::move(text)) {}

    bool done() const { return done_; }

    // Height the text needs at the box's width.
    int MeasureHeight() {
        std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter> surface(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
        std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
        std::unique_ptr<PangoLayout, GObjectDeleter> layout(MakeLayout(cr.get()));
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout.get(), &width, &height);
        return kPadding + std::max(height, 20) + kPadding + kButtonHeight + kPadding;
    }

protected:
    void OnPaint() override {
        int x, y, width, height;
        Bounds(x, y, width, height);
        std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter> surface(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
        std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
        cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.96);
        cairo_paint(cr.get());
        cairo_set_source_rgb(cr.get(), 0.6, 0.6, 0.6);
        cairo_set_line_width(cr.get(), 1);
        cairo_rectangle(cr.get(), 0.5, 0.5, width - 1, height - 1);
        cairo_stroke(cr.get());

        std::unique_ptr<PangoLayout, GObjectDeleter> layout(MakeLayout(cr.get()));
        cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
        cairo_move_to(cr.get(), kPadding, kPadding);
        pango_cairo_show_layout(cr.get(), layout.get());

        ButtonRect(width, height, buttonX_, buttonY_);
        cairo_set_source_rgb(cr.get(), hot_ ? 0.80 : 0.88, hot_ ? 0.86 : 0.88, hot_ ? 0.95 : 0.88);
        cairo_rectangle(cr.get(), buttonX_ + 0.5, buttonY_ + 0.5, kButtonWidth - 1, kButtonHeight - 1);
        cairo_fill_preserve(cr.get());
        cairo_set_source_rgb(cr.get(), 0.45, 0.45, 0.45);
        cairo_stroke(cr.get());
        std::unique_ptr<PangoLayout, GObjectDeleter> ok(pango_cairo_create_layout(cr.get()));
        SetFont(ok.get());
        pango_layout_set_text(ok.get(), "OK", -1);
        int okWidth = 0, okHeight = 0;
        pango_layout_get_pixel_size(ok.get(), &okWidth, &okHeight);
        cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
        cairo_move_to(cr.get(), buttonX_ + (kButtonWidth - okWidth) / 2.0, buttonY_ + (kButtonHeight - okHeight) / 2.0);
        pango_cairo_show_layout(cr.get(), ok.get());

        cairo_surface_flush(surface.get());
        Present(cairo_image_surface_get_data(surface.get()), width, height,
                cairo_image_surface_get_stride(surface.get()));
    }

    void OnMouseMove(const MouseEvent& mouse) override {
        bool hot = InButton(mouse.x, mouse.y);
        if (hot != hot_) {
            hot_ = hot;
            Invalidate();
        }
    }
    void OnMouseUp(const MouseEvent& mouse) override {
        if (mouse.button == 1 && InButton(mouse.x, mouse.y)) Dismiss();
    }
    void OnKeyDown(const KeyEvent& key) override {
        if (key.keysym == XK_Return || key.keysym == XK_KP_Enter || key.keysym == XK_Escape ||
            key.keysym == XK_space) {
            Dismiss();
        }
    }
    void OnCloseRequest() override { Dismiss(); }
    void OnDestroyed() override { done_ = true; }

private:
    static void SetFont(PangoLayout* layout) {
        PangoFontDescription* font = pango_font_description_from_string("Sans 10");
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
    }
    PangoLayout* MakeLayout(cairo_t* cr) const {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        SetFont(layout);
        pango_layout_set_width(layout, (kWidth - 2 * kPadding) * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_text(layout, text_.c_str(), -1);
        return layout;
    }
    static void ButtonRect(int width, int height, int& x, int& y) {
        x = (width - kButtonWidth) / 2;
        y = height - kPadding - kButtonHeight;
    }
    bool InButton(int x, int y) const {
        return x >= buttonX_ && x < buttonX_ + kButtonWidth && y >= buttonY_ && y < buttonY_ + kButtonHeight;
    }
    void Dismiss() { DestroyWindow(); }

    std::string text_;
    bool done_ = false;
    bool hot_ = false;
    int buttonX_ = 0, buttonY_ = 0;
};

}  // namespace

bool X11SystemMessageBox::Show(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    std::string error;
    X11EventLoop* loop = X11EventLoop::ForCurrentThread(&error);
    if (!loop) return false;
    PlainBox box(text);
    X11Window::CreateParams params;
    params.className = "QV_SYSTEM_MESSAGE_BOX";
    params.title = caption;
    params.width = kWidth;
    params.height = box.MeasureHeight();
    if (!box.Create(params, &error)) return false;
    box.Centre();
    box.Show(true, true);
    loop->RunUntil([&] { return box.done(); });
    box.DestroyWindow();
    return true;
}

}  // namespace SkinUI::x11
