// A small stand-in for the product the installer delivers: it opens a window that says
// which product and version is installed, so tests and the demo can see that the
// installed program really runs.
//
//   MorvikBackup [--version] [--exit-after SECONDS]

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11Window.h"

#ifndef SAMPLE_PRODUCT_NAME
#define SAMPLE_PRODUCT_NAME "Morvik Backup"
#endif
#ifndef SAMPLE_PRODUCT_VERSION
#define SAMPLE_PRODUCT_VERSION "1.0.0.0"
#endif

namespace {

using namespace SkinUI::x11;

constexpr std::uint32_t kExitTimer = 1;

class ProductWindow final : public X11Window {
protected:
    void OnPaint() override {
        int x, y, width, height;
        Bounds(x, y, width, height);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 0.13, 0.45, 0.42);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        DrawLine(cr, SAMPLE_PRODUCT_NAME " " SAMPLE_PRODUCT_VERSION, "Sans Bold 16", 28, width);
        DrawLine(cr, "is installed and running.", "Sans 11", 70, width);
        cairo_surface_flush(surface);
        Present(cairo_image_surface_get_data(surface), width, height, cairo_image_surface_get_stride(surface));
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void OnTimer(std::uint32_t id) override {
        if (id == kExitTimer) loop()->PostQuit(0);
    }
    void OnCloseRequest() override { loop()->PostQuit(0); }

private:
    static void DrawLine(cairo_t* cr, const char* text, const char* font, int top, int width) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* description = pango_font_description_from_string(font);
        pango_layout_set_font_description(layout, description);
        pango_font_description_free(description);
        pango_layout_set_text(layout, text, -1);
        int textWidth = 0, textHeight = 0;
        pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
        cairo_move_to(cr, (width - textWidth) / 2.0, top);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int exitAfter = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", SAMPLE_PRODUCT_NAME, SAMPLE_PRODUCT_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--exit-after") == 0 && i + 1 < argc) {
            exitAfter = std::atoi(argv[++i]);
            continue;
        }
        std::fprintf(stderr, "usage: %s [--version] [--exit-after SECONDS]\n", argv[0]);
        return 2;
    }
    std::printf("%s %s started\n", SAMPLE_PRODUCT_NAME, SAMPLE_PRODUCT_VERSION);
    std::fflush(stdout);

    std::string error;
    ProductWindow window;
    X11Window::CreateParams params;
    params.className = "MORVIK_BACKUP_Frame";
    params.title = SAMPLE_PRODUCT_NAME;
    params.width = 420;
    params.height = 130;
    if (!window.Create(params, &error)) {
        std::fprintf(stderr, "%s: %s\n", SAMPLE_PRODUCT_NAME, error.c_str());
        return 1;
    }
    window.Centre();
    window.Show(true, true);
    if (exitAfter > 0) window.SetTimer(kExitTimer, static_cast<std::uint32_t>(exitAfter) * 1000u);
    return window.loop()->Run();
}
