#include "ui/x11/CPangoTextMeasurer.h"

#include <pango/pangocairo.h>

#include <array>

namespace SkinUI {
namespace {

constexpr std::size_t kMaxCachedWidths = 16384;
// Longer texts are measured but not remembered: they rarely repeat.
constexpr std::size_t kMaxCachedTextBytes = 256;
// Bounds what one call hands to pango (a pasted novel in an edit field).
constexpr std::size_t kMaxTextBytes = 64 * 1024;

std::string_view Bounded(std::string_view text) {
    if (text.size() <= kMaxTextBytes) return text;
    std::size_t cut = kMaxTextBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

}  // namespace

const char* LanguageTagForIndex(int languageIndex) {
    static constexpr std::array<const char*, 20> kTags = {
        "en", "ja", "zh-cn", "es", "de", "fr", "ru", "pt", "ar", "it",
        "zh-tw", "ko", "nl", "id", "tr", "hi", "th", "ms", "sv", "cs"};
    if (languageIndex < 0 || languageIndex >= static_cast<int>(kTags.size())) return "en";
    return kTags[static_cast<std::size_t>(languageIndex)];
}

CPangoTextMeasurer::CPangoTextMeasurer() {
    PangoFontMap* fontMap = pango_cairo_font_map_get_default();  // per thread, shared by its windows
    context_ = pango_font_map_create_context(fontMap);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    // Whole-pixel advances: widths measured for layout add up exactly when drawn.
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
    SetLanguage("");
}

CPangoTextMeasurer::~CPangoTextMeasurer() {
    for (auto& [key, description] : descriptions_) pango_font_description_free(description);
    if (context_) g_object_unref(context_);
}

void CPangoTextMeasurer::SetLanguage(std::string_view tag) {
    std::string wanted(tag);
    PangoLanguage* language =
        wanted.empty() ? pango_language_get_default() : pango_language_from_string(wanted.c_str());
    language_ = pango_language_to_string(language);
    pango_context_set_language(context_, language);
    metrics_.clear();
    widths_.clear();
}

std::string CPangoTextMeasurer::FontKey(const TFontInfo& font) {
    std::string key = font.name;
    key += '\x1f';
    key += std::to_string(font.size);
    key += font.bold ? 'b' : '-';
    key += font.italic ? 'i' : '-';
    key += '\x1f';
    return key;
}

const PangoFontDescription* CPangoTextMeasurer::Description(const TFontInfo& font) {
    std::string key = FontKey(font);
    auto it = descriptions_.find(key);
    if (it != descriptions_.end()) return it->second;
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.name.empty() ? "Sans" : font.name.c_str());
    int pixels = font.size > 0 ? std::min(font.size, 500) : 12;
    pango_font_description_set_absolute_size(description, pixels * PANGO_SCALE);
    pango_font_description_set_weight(description, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(description, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    descriptions_.emplace(key, description);
    return description;
}

const CPangoTextMeasurer::TMetrics& CPangoTextMeasurer::Metrics(const TFontInfo& font) {
    std::string key = FontKey(font);
    auto it = metrics_.find(key);
    if (it != metrics_.end()) return it->second;
    // A sample line with a Latin accent, a descender and a Han character: fallback fonts
    // (CJK) often stand taller than the primary face, and lines must hold both.
    PangoLayout* sample = CreateLayout(font, "\xC3\x81g\xE6\xBC\xA2");
    TMetrics result;
    int width = 0;
    pango_layout_get_pixel_size(sample, &width, &result.height);
    result.ascent = PANGO_PIXELS(pango_layout_get_baseline(sample));
    g_object_unref(sample);
    return metrics_.emplace(key, result).first->second;
}

PangoLayout* CPangoTextMeasurer::CreateLayout(const TFontInfo& font, std::string_view text) {
    text = Bounded(text);
    PangoLayout* layout = pango_layout_new(context_);
    pango_layout_set_font_description(layout, Description(font));
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    return layout;
}

int CPangoTextMeasurer::TextWidth(const TFontInfo& font, std::string_view text) {
    if (text.empty()) return 0;
    std::string key;
    bool cacheable = text.size() <= kMaxCachedTextBytes;
    if (cacheable) {
        key = FontKey(font);
        key.append(text);
        auto it = widths_.find(key);
        if (it != widths_.end()) return it->second;
    }
    PangoLayout* layout = CreateLayout(font, text);
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    int width = std::max(0, logical.width);
    if (cacheable) {
        if (widths_.size() >= kMaxCachedWidths) widths_.clear();
        widths_.emplace(std::move(key), width);
    }
    return width;
}

int CPangoTextMeasurer::LineHeight(const TFontInfo& font) { return Metrics(font).height; }

int CPangoTextMeasurer::Ascent(const TFontInfo& font) { return Metrics(font).ascent; }

int CPangoTextMeasurer::UnknownGlyphs(const TFontInfo& font, std::string_view text) {
    PangoLayout* layout = CreateLayout(font, text);
    int unknown = pango_layout_get_unknown_glyphs_count(layout);
    g_object_unref(layout);
    return unknown;
}

}  // namespace SkinUI
