// Text and pictures without a display: every interface text of the twenty language files
// has glyphs in the installed fonts, right-to-left sentences keep their runs in reading
// order, overflowing text ends in an ellipsis, and `setup-tool render` paints a layout
// with the same painter the windows use.

#include <gtest/gtest.h>

#include <cairo.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/CLabel.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CRichText.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/CTextLayout.h"
#include "ui/x11/CCairoPainter.h"
#include "ui/x11/CPangoTextMeasurer.h"
#include "ui/x11/CWindowSurface.h"

using namespace SkinUI;
namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 20> kLanguageFiles = {
    "language_english.xml",   "language_japanese.xml",   "language_chinese.xml",    "language_spanish.xml",
    "language_german.xml",    "language_french.xml",     "language_russian.xml",    "language_portuguese.xml",
    "language_arabic.xml",    "language_italiano.xml",   "language_chinesetrad.xml", "language_korean.xml",
    "language_nederland.xml", "language_indonesian.xml", "language_turkish.xml",    "language_hindi.xml",
    "language_thai.xml",      "language_malay.xml",      "language_swedish.xml",    "language_czech.xml"};

std::unique_ptr<CSkinPackage> ShippedSkin() { return CSkinPackage::OpenFolder(QV_SOURCE_DIR "/skin"); }

TEST(TextRendering, EveryLanguageTextHasGlyphsInItsFonts) {
    auto package = ShippedSkin();
    ASSERT_NE(package, nullptr);
    CControlHost main(package.get());
    ASSERT_TRUE(main.LoadLayout("InstallMainWnd.xml"));
    const auto& fonts = main.Fonts();
    ASSERT_EQ(fonts.size(), 23u);
    int checked = 0;
    {
        CPangoTextMeasurer measurer;
        ASSERT_GT(measurer.UnknownGlyphs(fonts[0], "\xEE\x80\x80"), 0) << "a private-use character has no glyph";
    }
    for (int index = 0; index < 20; ++index) {
        CPangoTextMeasurer measurer;
        measurer.SetLanguage(LanguageTagForIndex(index));
        CLayoutBuilder builder(package.get());
        auto tree = builder.Build(std::string("language\\") + kLanguageFiles[static_cast<std::size_t>(index)]);
        ASSERT_NE(tree, nullptr) << builder.LastError();
        tree->ForEach([&](CControl& control) {
            std::string text = control.GetText();
            if (text.empty()) return;
            auto* label = dynamic_cast<CLabel*>(&control);
            int controlFont = label != nullptr ? label->GetFont() : -1;
            for (const TTextRun& run : CRichText::Parse(text)) {
                if (run.text.empty()) continue;
                const TFontInfo& font = CTextLayout::ResolveFont(fonts, run.font >= 0 ? run.font : controlFont);
                EXPECT_EQ(measurer.UnknownGlyphs(font, run.text), 0)
                    << kLanguageFiles[static_cast<std::size_t>(index)] << " " << control.GetName() << ": " << run.text;
                ++checked;
            }
        });
    }
    EXPECT_GT(checked, 20 * 40);
    // The language list names every language in its own script.
    CPangoTextMeasurer measurer;
    main.GetRoot()->ForEach([&](CControl& control) {
        if (control.GetClass() == "ListLabelElement") {
            EXPECT_EQ(measurer.UnknownGlyphs(fonts[0], control.GetText()), 0) << control.GetText();
        }
    });
}

TEST(TextRendering, RightToLeftSentenceKeepsItsRunsInReadingOrder) {
    CPangoTextMeasurer measurer;
    measurer.SetLanguage("ar");
    std::vector<TFontInfo> fonts{{"Tahoma", 13}};
    CTextLayout layout;
    CTextLayout::TOptions options;
    options.wrap = true;
    layout.Layout(CRichText::Parse("قرأتُ {a}اتفاقية الترخيص{/a} وأوافق عليها"), {0, 0, 600, 30}, options, measurer, fonts);
    const auto& f = layout.Fragments();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1].link, 0);
    // First words at the right, the link in the middle, the last words at the left.
    EXPECT_GT(f[0].box.left, f[1].box.left);
    EXPECT_GT(f[1].box.left, f[2].box.left);
    EXPECT_LE(f[2].box.right, f[1].box.left + 1);

    layout.Layout(CRichText::Parse("I agree to the {a}licence{/a} terms"), {0, 0, 600, 30}, options, measurer, fonts);
    ASSERT_EQ(layout.Fragments().size(), 3u);
    EXPECT_LT(layout.Fragments()[0].box.left, layout.Fragments()[1].box.left);
}

// Dark pixels in a column range of an ARGB32 surface.
int InkBetween(cairo_surface_t* surface, int from, int to) {
    cairo_surface_flush(surface);
    const auto* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    int ink = 0;
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = from; x < to; ++x) {
            if ((row[x] >> 24) > 0x80) ++ink;
        }
    }
    return ink;
}

TEST(TextRendering, TextSpillingPastItsClipEndsInAnEllipsis) {
    CPangoTextMeasurer measurer;
    TFontInfo font{"Tahoma", 14};
    const std::string text = "Installation folder of the product, much too long for its box";
    int width = measurer.TextWidth(font, text);
    int height = measurer.LineHeight(font);
    ASSERT_GT(width, 200);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width + 20, height);
    cairo_t* cr = cairo_create(surface);
    {
        CCairoPainter painter(cr, measurer);
        painter.PushClip({0, 0, 150, height});
        painter.DrawText({0, 0, width, height}, text, font, 0xFF000000, false);
        painter.PopClip();
    }
    // The ellipsis' three dots sit just inside the clip; nothing lies beyond it.
    EXPECT_GT(InkBetween(surface, 120, 150), 0);
    EXPECT_EQ(InkBetween(surface, 150, width + 20), 0);
    int ellipsized = InkBetween(surface, 0, 150);
    // Unclipped, the same text fills the whole width.
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    {
        CCairoPainter painter(cr, measurer);
        painter.DrawText({0, 0, width, height}, text, font, 0xFF000000, false);
    }
    EXPECT_GT(InkBetween(surface, 150, width + 20), 0);
    EXPECT_NE(InkBetween(surface, 0, 150), ellipsized);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

ToolRun RenderTool(const std::string& args) {
    fs::path log = fs::temp_directory_path() / ("qv_render_" + std::to_string(std::rand()) + ".log");
    std::string cmd = "SETUP_SKIN_DIR='" QV_SOURCE_DIR "/skin' ASAN_OPTIONS=detect_leaks=0 '" QV_SETUP_TOOL "' render " +
                      args + " >'" + log.string() + "' 2>&1";
    int status = std::system(cmd.c_str());
    ToolRun run;
    run.exitCode = WEXITSTATUS(status);
    std::ifstream in(log);
    run.output.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(log);
    return run;
}

std::shared_ptr<CImage> ReadPng(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return CImage::Decode(std::as_bytes(std::span(bytes.data(), bytes.size())));
}

TEST(TextRendering, RenderToolPaintsTheLayoutAsTheWindowWould) {
    fs::path dir = fs::temp_directory_path() / ("qv_render_" + std::to_string(std::rand()));
    fs::create_directories(dir);
    ToolRun run = RenderTool("InstallMainWnd.xml '" + (dir / "main.png").string() + "' --lang 2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto shot = ReadPng(dir / "main.png");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(shot->Width(), 650);
    EXPECT_EQ(shot->Height(), 560);
    // The install button (200 x 40, centred at the top of the install row) shows the
    // normal cell of its strip, away from its caption.
    auto package = ShippedSkin();
    std::vector<std::byte> bytes;
    ASSERT_EQ(package->ReadBinary("skin/btn_install.png", 1 << 20, bytes), PackageResult::PACKAGE_OK);
    auto strip = CImage::Decode(bytes);
    ASSERT_NE(strip, nullptr);
    CControlHost host(package.get());
    ASSERT_TRUE(host.LoadLayout("InstallMainWnd.xml"));
    CPangoTextMeasurer measurer;
    host.SetTextMeasurer(&measurer);
    host.SetClientSize({650, 560});
    host.UpdateLayout();
    TRect button = host.FindControl("install_btn")->GetPos();
    ASSERT_EQ(button.Width(), 200);
    EXPECT_EQ(shot->Pixel(button.left + 6, button.top + 20), strip->Pixel(6, 20));
    // The 2-pixel rounded corners are mostly see-through at the very corner.
    EXPECT_LT(shot->Pixel(0, 0) >> 24, 0x80u);
    EXPECT_EQ(shot->Pixel(2, 2) >> 24, 0xFFu);
    EXPECT_EQ(shot->Pixel(325, 100) >> 24, 0xFFu);

    ToolRun page = RenderTool("InstallMainWnd.xml '" + (dir / "running.png").string() +
                              "' --select main_tablayout=1 --value install_progress=50 --size 650x360");
    ASSERT_EQ(page.exitCode, 0) << page.output;
    auto running = ReadPng(dir / "running.png");
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(running->Height(), 360);

    // The failure form: the background the install switched to, and the warning the
    // pipeline reveals drawn where the layout puts it.
    ToolRun failed = RenderTool("InstallMainWnd.xml '" + (dir / "failed.png").string() +
                                "' --select page_layout=1 --size 650x360 --show img_warning"
                                " --image backgroudlayout=skin/backgroud_complete.png");
    ASSERT_EQ(failed.exitCode, 0) << failed.output;
    auto failedShot = ReadPng(dir / "failed.png");
    ASSERT_NE(failedShot, nullptr);
    ASSERT_EQ(package->ReadBinary("skin/warning.png", 1 << 20, bytes), PackageResult::PACKAGE_OK);
    auto warning = CImage::Decode(bytes);
    ASSERT_NE(warning, nullptr);
    ASSERT_TRUE(host.FindControl("page_layout") != nullptr);
    dynamic_cast<CTabLayout&>(*host.FindControl("page_layout")).SelectItem(1);
    host.FindControl("img_warning")->SetVisible(true);
    host.SetClientSize({650, 360});
    host.UpdateLayout();
    const TRect icon = host.FindControl("img_warning")->GetPos();
    ASSERT_EQ(icon.Width(), 24);
    EXPECT_EQ(failedShot->Pixel(icon.left + 6, icon.top + 18), warning->Pixel(6, 18));

    struct Case {
        const char* args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"InstallMainWnd.xml", 2, "usage"},
        {"InstallMainWnd.xml x.png --lang 20", 2, "--lang"},
        {"InstallMainWnd.xml x.png --size 0x10", 2, "--size"},
        {"InstallMainWnd.xml x.png --set a=b", 2, "--set needs --lang"},
        {"Missing.xml x.png", 1, "Missing.xml"},
        {"InstallMainWnd.xml x.png --select main_tablayout=5", 1, "no such page"},
        {"InstallMainWnd.xml x.png --lang 0 --set nothing=YesText", 1, "no such control"},
        {"InstallMainWnd.xml x.png --show", 2, "--show"},
        {"InstallMainWnd.xml x.png --show nothing", 1, "no such control"},
        {"InstallMainWnd.xml x.png --image backgroudlayout", 2, "--image"},
        {"InstallMainWnd.xml x.png --image backgroudlayout=skin/none.png", 1, "no such picture"},
        {"InstallMainWnd.xml /nonexistent-dir/x.png", 1, "cannot write"},
    };
    for (const Case& c : cases) {
        ToolRun bad = RenderTool(c.args);
        EXPECT_EQ(bad.exitCode, c.exitCode) << c.args << "\n" << bad.output;
        EXPECT_NE(bad.output.find(c.says), std::string::npos) << c.args << "\n" << bad.output;
    }
    fs::remove_all(dir);
}

}  // namespace
