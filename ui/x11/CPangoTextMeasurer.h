#pragma once
// Text metrics with pango, in the window's language. The painter lays text out with the
// same context, so what layout measured is what gets drawn.
//
// Fonts are pixel sized. A face the machine lacks falls back through fontconfig, which
// picks, per script, a font that has the glyphs; the context language decides the forms
// of shared Han characters (Simplified and Traditional Chinese, Japanese).
// Thread ownership: one thread (the window's); pango font maps are per thread.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "ui/ITextMeasurer.h"

typedef struct _PangoContext PangoContext;
typedef struct _PangoLayout PangoLayout;
typedef struct _PangoFontDescription PangoFontDescription;

namespace SkinUI {

// The pango language tag of an interface language index (0 to 19, the wizard's language
// table); "en" for indices outside it.
const char* LanguageTagForIndex(int languageIndex);

class CPangoTextMeasurer final : public ITextMeasurer {
public:
    CPangoTextMeasurer();
    ~CPangoTextMeasurer() override;
    CPangoTextMeasurer(const CPangoTextMeasurer&) = delete;
    CPangoTextMeasurer& operator=(const CPangoTextMeasurer&) = delete;

    // "zh-cn", "zh-tw", "ja", "ar", ...; empty means the process locale's language.
    void SetLanguage(std::string_view tag);
    const std::string& Language() const { return language_; }

    int TextWidth(const TFontInfo& font, std::string_view text) override;
    int LineHeight(const TFontInfo& font) override;
    // Pixels from the top of a line box of LineHeight(font) to the baseline.
    int Ascent(const TFontInfo& font);
    // Glyphs of `text` that no installed font has (drawn as boxes).
    int UnknownGlyphs(const TFontInfo& font, std::string_view text);

    // A new layout of `text` in `font` (caller unrefs it with g_object_unref).
    PangoLayout* CreateLayout(const TFontInfo& font, std::string_view text);
    PangoContext* Context() const { return context_; }

private:
    struct TMetrics {
        int ascent = 0;
        int height = 0;
    };
    const PangoFontDescription* Description(const TFontInfo& font);
    const TMetrics& Metrics(const TFontInfo& font);
    static std::string FontKey(const TFontInfo& font);

    PangoContext* context_ = nullptr;
    std::string language_;
    std::map<std::string, PangoFontDescription*> descriptions_;
    std::map<std::string, TMetrics> metrics_;
    std::unordered_map<std::string, int> widths_;  // font key + text -> width, bounded
};

}  // namespace SkinUI
