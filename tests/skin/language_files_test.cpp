// The twenty language files of the skin: complete, well formed, safe to hand to printf, written
// with each language's own punctuation, and short enough for the controls that show them.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/CMarkup.h"

// Fontconfig and pango keep their caches for the life of the process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libglib\nleak:libharfbuzz\n";
}

namespace {

namespace fs = std::filesystem;

const fs::path kSkinDir = fs::path(QV_SOURCE_DIR) / "skin";

// File stem, and the face the wizard draws slide captions in for that language.
struct Language {
    const char* stem;
    const char* captionFace;
};

const Language kLanguages[] = {
    {"english", "Microsoft YaHei"},   {"japanese", "Meiryo UI"},         {"chinese", "Microsoft YaHei"},
    {"spanish", "Times New Roman"},   {"german", "Times New Roman"},     {"french", "Times New Roman"},
    {"russian", "Times New Roman"},   {"portuguese", "Times New Roman"}, {"arabic", "Times New Roman"},
    {"italiano", "Times New Roman"},  {"chinesetrad", "Microsoft YaHei"}, {"korean", "batang"},
    {"nederland", "Microsoft YaHei"}, {"indonesian", "Microsoft YaHei"}, {"turkish", "Microsoft YaHei"},
    {"hindi", "Microsoft YaHei"},     {"thai", "Microsoft YaHei"},       {"malay", "Microsoft YaHei"},
    {"swedish", "Microsoft YaHei"},   {"czech", "Microsoft YaHei"},
};

const std::vector<std::string> kInstallKeys = {
    "select_language_text", "install_btn", "install_setting", "license_link", "browser_btn",
    "space_need", "space_free", "install_label", "install_path_text", "install_minbtn",
    "install_closebtn", "finish_label", "text_install_done", "start_app", "agree_improvement", "extra_text", "text_connecting",
    "text_fail_retry", "retry_btn", "text_fail_advice", "anima_text_1", "anima_text_2", "anima_text_3"};

const std::vector<std::string> kMessageKeys = {
    "ClickShortcutToLaunchText", "FinshDesText", "FinshQueText", "ReplaceDesText", "ReplaceQueText",
    "CancelDesText", "CancelQueText", "AppExistDesText", "AppExistQueText", "PathErrorDesText",
    "PathErrorQueText", "YesText", "NoText", "ReplaceText", "CancelText", "InstallRunTimeOutDesText",
    "InstallRunTimeOutQueText", "MD5FailDesText", "MD5FailQueText", "UrlFailDexText", "UrlFailQueText",
    "InternetFailDesText", "InternetFailQueText", "InternetTimeoutDesText", "InternetTimeoutQueText",
    "ConfirmText", "NoEnoughSpaceDesText", "OkButtonText"};

using Labels = std::vector<std::pair<std::string, std::string>>;

struct LanguageFile {
    std::string stem;
    bool hasBom = false;
    std::string error;  // empty when the structure is sound
    Labels install;
    Labels message;

    const std::string& Text(const std::string& key) const {
        static const std::string empty;
        for (const auto* labels : {&install, &message})
            for (const auto& [name, text] : *labels)
                if (name == key) return text;
        return empty;
    }
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string AttributeOf(const SkinUI::TMarkupElement& e, std::string_view name) {
    const std::string* v = e.Attribute(name);
    return v ? *v : "";
}

// The labels of a container, read with the toolkit's own reader so that the files are checked
// exactly as the wizard will see them.
std::optional<Labels> ReadContainer(const SkinUI::CMarkup& markup, const SkinUI::TMarkupElement& container,
                                    std::string& error) {
    Labels labels;
    for (size_t index : container.children) {
        const auto& child = markup.Element(index);
        if (child.name != "Label" || !child.Attribute("name") || !child.Attribute("text")) {
            error = "a child of " + AttributeOf(container, "name") + " is not a Label with name and text";
            return std::nullopt;
        }
        labels.emplace_back(AttributeOf(child, "name"), AttributeOf(child, "text"));
    }
    return labels;
}

LanguageFile Load(const std::string& stem) {
    LanguageFile file;
    file.stem = stem;
    const std::string bytes = ReadBytes(kSkinDir / "language" / ("language_" + stem + ".xml"));
    if (bytes.empty()) {
        file.error = "missing or empty";
        return file;
    }
    file.hasBom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    SkinUI::CMarkup markup;
    if (!markup.Load(bytes)) {
        file.error = "not readable: " + markup.ErrorMessage();
        return file;
    }
    const auto* root = markup.Root();
    if (!root || root->name != "VerticalLayout" || root->children.size() != 1) {
        file.error = "the root must be a VerticalLayout holding one language container";
        return file;
    }
    const auto& language = markup.Element(root->children[0]);
    if (language.name != "VerticalLayout" || AttributeOf(language, "name").rfind("language_", 0) != 0) {
        file.error = "the language container must be a VerticalLayout named language_...";
        return file;
    }
    std::map<std::string, const SkinUI::TMarkupElement*> containers;
    for (size_t index : language.children) {
        const auto& c = markup.Element(index);
        if (c.name != "VerticalLayout" || !containers.emplace(AttributeOf(c, "name"), &c).second) {
            file.error = "unexpected or repeated container " + AttributeOf(c, "name");
            return file;
        }
    }
    if (containers.size() != 2 || !containers.count("install_page") || !containers.count("message_page")) {
        file.error = "the language container must hold exactly install_page and message_page";
        return file;
    }
    auto install = ReadContainer(markup, *containers["install_page"], file.error);
    auto message = install ? ReadContainer(markup, *containers["message_page"], file.error) : std::nullopt;
    if (install && message) {
        file.install = std::move(*install);
        file.message = std::move(*message);
    }
    return file;
}

const std::vector<LanguageFile>& AllFiles() {
    static const std::vector<LanguageFile> files = [] {
        std::vector<LanguageFile> loaded;
        for (const auto& language : kLanguages) loaded.push_back(Load(language.stem));
        return loaded;
    }();
    return files;
}

// --- printf directives ---------------------------------------------------------------------

struct Directive {
    char conversion;
};

// Every '%' directive of a text; nullopt when one is malformed or uses a '*' width, a length
// modifier or %n, none of which a single double or string argument could satisfy safely.
std::optional<std::vector<Directive>> Directives(std::string_view text) {
    std::vector<Directive> found;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (++i < text.size() && text[i] == '%') continue;
        while (i < text.size() && std::string_view("-+ #0").find(text[i]) != std::string_view::npos) ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i < text.size() && text[i] == '.') {
            ++i;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        }
        if (i >= text.size() || std::string_view("diouxXeEfFgGaAcs").find(text[i]) == std::string_view::npos)
            return std::nullopt;
        found.push_back({text[i]});
    }
    return found;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename Arg>
std::string Format(const std::string& format, Arg arg) {
    char out[512];
    std::snprintf(out, sizeof out, format.c_str(), arg);
    return out;
}
#pragma GCC diagnostic pop

// --- rich-text markup ----------------------------------------------------------------------

// Tags of a text in order, without braces; nullopt when a brace is unbalanced.
std::optional<std::vector<std::string>> Tags(std::string_view text) {
    std::vector<std::string> tags;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '}') return std::nullopt;
        if (text[i] != '{') continue;
        const size_t close = text.find('}', i);
        if (close == std::string_view::npos || text.substr(i + 1, close - i - 1).find('{') != std::string_view::npos)
            return std::nullopt;
        tags.emplace_back(text.substr(i + 1, close - i - 1));
        i = close;
    }
    return tags;
}

// What the user reads: the text without markup tags and printf directives.
std::string Visible(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            const size_t close = text.find('}', i);
            if (close != std::string_view::npos) {
                if (text.substr(i, close - i + 1) == "{n}") out += '\n';
                i = close;
                continue;
            }
        }
        if (text[i] == '%') {
            if (i + 1 < text.size() && text[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            size_t j = i + 1;
            while (j < text.size() && std::string_view("-+ #0123456789.").find(text[j]) != std::string_view::npos) ++j;
            out += text[j < text.size() ? j : i] == 's' ? "1234.5 MB" : "1234.5";  // a long value filled in
            i = j;
            continue;
        }
        out += text[i];
    }
    return out;
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
        i += len;
    }
    return true;
}

// --- tests ---------------------------------------------------------------------------------

std::vector<std::string> Names(const Labels& labels) {
    std::vector<std::string> names;
    for (const auto& label : labels) names.push_back(label.first);
    return names;
}

TEST(LanguageFiles, EachHasTheBomTheContainersAndEveryKeyOnceWithText) {
    for (const auto& file : AllFiles()) {
        SCOPED_TRACE(file.stem);
        ASSERT_TRUE(file.error.empty()) << file.error;
        EXPECT_TRUE(file.hasBom);
        for (const auto& [labels, keys] : {std::pair{&file.install, &kInstallKeys}, {&file.message, &kMessageKeys}}) {
            // The same names in any order: a repeated or misspelt name is a text nobody sees.
            auto names = Names(*labels);
            auto expected = *keys;
            std::sort(names.begin(), names.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(names, expected);
            for (const auto& [name, text] : *labels) {
                EXPECT_TRUE(IsValidUtf8(text)) << name;
                EXPECT_NE(Visible(text).find_first_not_of(" \t\r\n"), std::string::npos) << name << " is blank";
                EXPECT_EQ(text.find_first_of("\t\r\n"), std::string::npos) << name << " holds a raw line break";
                EXPECT_EQ(text.find("#@!"), std::string::npos) << name << " holds an unreplaced token";
            }
        }
    }
}

TEST(LanguageFiles, FormatTextsTakeExactlyTheirOneArgument) {
    struct FormatKey {
        const char* key;
        std::string_view conversions;
    };
    const FormatKey formats[] = {{"install_label", "fF"}, {"space_free", "fFgG"}, {"space_need", "s"}};
    for (const auto& file : AllFiles()) {
        SCOPED_TRACE(file.stem);
        for (const auto& [key, conversions] : formats) {
            const std::string& text = file.Text(key);
            const auto directives = Directives(text);
            ASSERT_TRUE(directives) << key << ": malformed directive in \"" << text << "\"";
            ASSERT_EQ(directives->size(), 1u) << key << ": \"" << text << "\"";
            EXPECT_NE(conversions.find(directives->front().conversion), std::string_view::npos)
                << key << ": \"" << text << "\"";
        }
        // The filled texts show the value the window passes.
        const std::string progress = Format(file.Text("install_label"), 42.0);
        EXPECT_NE(progress.find("42"), std::string::npos) << progress;
        EXPECT_EQ(progress.find("42.0"), std::string::npos) << "a whole percentage expected: " << progress;
        EXPECT_NE(progress.find('%'), std::string::npos) << progress;
        EXPECT_NE(Format(file.Text("space_free"), 12.0).find("12"), std::string::npos);
        EXPECT_NE(Format(file.Text("space_need"), "85 MB").find("85 MB"), std::string::npos);
        // Every other text is shown as it stands, so a '%' there is a format put in the wrong place.
        for (const auto* labels : {&file.install, &file.message})
            for (const auto& [name, text] : *labels)
                if (name != "install_label" && name != "space_free" && name != "space_need") {
                    EXPECT_EQ(text.find('%'), std::string::npos) << name;
                }
    }
}

TEST(LanguageFiles, MarkupOnlyWhereTheLayoutRendersItAndBalanced) {
    for (const auto& file : AllFiles()) {
        SCOPED_TRACE(file.stem);
        for (const auto* labels : {&file.install, &file.message}) {
            for (const auto& [name, text] : *labels) {
                const auto tags = Tags(text);
                ASSERT_TRUE(tags) << name << ": unbalanced brace in \"" << text << "\"";
                if (name == "license_link" || name == "text_fail_advice") {
                    // One underlined link, which the window answers by its control, not by index.
                    std::vector<std::string> stack;
                    int links = 0;
                    for (const auto& tag : *tags) {
                        if (tag == "a" || tag == "u") {
                            stack.push_back(tag);
                            links += tag == "a";
                        } else if (tag == "/a" || tag == "/u") {
                            ASSERT_FALSE(stack.empty()) << name;
                            EXPECT_EQ("/" + stack.back(), tag) << name;
                            stack.pop_back();
                        } else {
                            ADD_FAILURE() << name << ": unexpected tag {" << tag << "}";
                        }
                    }
                    EXPECT_TRUE(stack.empty()) << name;
                    EXPECT_EQ(links, 1) << name;
                } else if (name.rfind("anima_text_", 0) == 0) {
                    // Captions are drawn as plain text; only the first {n} becomes a line break.
                    EXPECT_LE(tags->size(), 1u) << name;
                    for (const auto& tag : *tags) EXPECT_EQ(tag, "n") << name;
                } else {
                    EXPECT_TRUE(tags->empty()) << name << " carries markup that a plain control would show";
                }
            }
        }
    }
}

TEST(LanguageFiles, EveryLanguageIsTranslated) {
    const auto& files = AllFiles();
    const auto english = std::find_if(files.begin(), files.end(), [](auto& f) { return f.stem == "english"; });
    ASSERT_NE(english, files.end());
    for (const auto& file : files) {
        if (&file == &*english) continue;
        SCOPED_TRACE(file.stem);
        for (const auto* labels : {&file.install, &file.message})
            for (const auto& [name, text] : *labels)
                if (Visible(english->Text(name)).size() > 12) {
                    EXPECT_NE(text, english->Text(name)) << name << " is still the English text";
                }
    }
}

// Punctuation each language's readers expect, checked on what they see.
TEST(LanguageFiles, PunctuationFollowsEachLanguage) {
    struct Rule {
        std::vector<const char*> stems;
        const char* why;
        bool (*violates)(const std::string& visible);
    };
    const Rule rules[] = {
        {{"chinese", "chinesetrad", "japanese"},
         "full-width punctuation, no ASCII , : ; ? ! ( )",
         [](const std::string& v) { return v.find_first_of(",:;?!()") != std::string::npos; }},
        {{"chinese", "chinesetrad", "japanese"},
         "no ASCII full stop ending a sentence",
         [](const std::string& v) { return !v.empty() && v.back() == '.'; }},
        {{"arabic"},
         "Arabic comma and question mark",
         [](const std::string& v) { return v.find_first_of(",?;") != std::string::npos; }},
        {{"german", "english", "spanish", "italiano", "portuguese", "nederland", "swedish", "czech", "russian",
          "turkish", "indonesian", "malay", "hindi", "thai"},
         "no space before ? ! : ;",
         [](const std::string& v) {
             for (const char* bad : {" ?", " !", " :", " ;", "\xC2\xA0?", "\xC2\xA0!", "\xC2\xA0:"})
                 if (v.find(bad) != std::string::npos) return true;
             return false;
         }},
        {{"french"},
         "a no-break space before : ? ! ;",
         [](const std::string& v) {
             for (size_t i = 0; i < v.size(); ++i)
                 if (std::string_view(":?!;").find(v[i]) != std::string_view::npos &&
                     (i < 2 || v.compare(i - 2, 2, "\xC2\xA0") != 0))
                     return true;
             return false;
         }},
        {{"spanish"},
         "an opening ¿ before every question",
         [](const std::string& v) { return v.find('?') != std::string::npos && v.find("\xC2\xBF") == std::string::npos; }},
    };
    for (const auto& file : AllFiles()) {
        for (const auto& rule : rules) {
            if (std::find(rule.stems.begin(), rule.stems.end(), file.stem) == rule.stems.end()) continue;
            for (const auto* labels : {&file.install, &file.message})
                for (const auto& [name, text] : *labels)
                    EXPECT_FALSE(rule.violates(Visible(text)))
                        << file.stem << " " << name << ": " << rule.why << ": \"" << text << "\"";
        }
    }
}

// --- fitting the controls ------------------------------------------------------------------

struct PangoLayoutDeleter {
    void operator()(PangoLayout* p) const { g_object_unref(p); }
};
struct CairoDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

// Pixel size of a text laid out the way the toolkit draws it: the face resolved by
// fontconfig (with fallback for scripts the face lacks), wrapped at wrapWidth when positive.
std::pair<int, int> Measure(const std::string& text, const char* face, double pixelSize, bool bold, int wrapWidth) {
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8));
    std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
    std::unique_ptr<PangoLayout, PangoLayoutDeleter> layout(pango_cairo_create_layout(cr.get()));
    std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), face);
    pango_font_description_set_absolute_size(font.get(), pixelSize * PANGO_SCALE);
    pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), font.get());
    if (wrapWidth > 0) {
        pango_layout_set_width(layout.get(), wrapWidth * PANGO_SCALE);
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_text(layout.get(), text.c_str(), -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout.get(), &width, &height);
    return {width, height};
}

TEST(LanguageFiles, TextsFitTheControlsThatShowThem) {
    // The controls of the shipped layouts that show these texts: their width (less a margin
    // for buttons), the height a wrapping control offers (0: one line), face and pixel size.
    struct Box {
        const char* key;
        int width;
        int wrapHeight;
        const char* face;
        double pixels;
    };
    const Box boxes[] = {
        {"install_btn", 200 - 16, 0, "Tahoma", 14},
        {"start_app", 200 - 16, 0, "Tahoma", 14},
        {"retry_btn", 200 - 16, 0, "Tahoma", 14},
        {"browser_btn", 110 - 10, 0, "Tahoma", 13},
        {"install_minbtn", 110 - 10, 0, "Tahoma", 13},
        {"install_setting", 160, 0, "Tahoma", 13},
        {"license_link", 384, 0, "Tahoma", 13},
        {"text_fail_advice", 538, 40, "Tahoma", 13},
        {"text_fail_retry", 590, 0, "Microsoft YaHei", 16},
        {"agree_improvement", 562, 0, "Tahoma", 13},
        {"install_label", 480, 0, "Tahoma", 13},
        {"select_language_text", 590, 0, "Tahoma", 13},
        {"install_path_text", 590, 0, "Tahoma", 13},
        {"space_need", 295, 0, "Tahoma", 12},
        {"space_free", 295, 0, "Tahoma", 12},
        // The message box: 110-pixel buttons, and the description in 360 x 90.
        {"YesText", 110 - 10, 0, "Tahoma", 14},
        {"NoText", 110 - 10, 0, "Tahoma", 14},
        {"ReplaceText", 110 - 10, 0, "Tahoma", 14},
        {"CancelText", 110 - 10, 0, "Tahoma", 14},
        {"ConfirmText", 110 - 10, 0, "Tahoma", 14},
        {"OkButtonText", 110 - 10, 0, "Tahoma", 14},
        {"CancelDesText", 360, 90, "Tahoma", 12},
        {"AppExistDesText", 360, 90, "Tahoma", 12},
        {"PathErrorDesText", 360, 90, "Tahoma", 12},
        {"InstallRunTimeOutDesText", 360, 90, "Tahoma", 12},
        {"MD5FailDesText", 360, 90, "Tahoma", 12},
        {"UrlFailDexText", 360, 90, "Tahoma", 12},
        {"InternetFailDesText", 360, 90, "Tahoma", 12},
        {"InternetTimeoutDesText", 360, 90, "Tahoma", 12},
        {"NoEnoughSpaceDesText", 360, 90, "Tahoma", 12},
        {"ReplaceDesText", 360, 90, "Tahoma", 12},
    };
    for (const auto& language : kLanguages) {
        const auto& file = *std::find_if(AllFiles().begin(), AllFiles().end(),
                                         [&](auto& f) { return f.stem == language.stem; });
        SCOPED_TRACE(file.stem);
        for (const auto& box : boxes) {
            // Filled formats are measured with a long value in place of the directive.
            const std::string visible = Visible(file.Text(box.key));
            if (box.wrapHeight > 0) {
                const auto [w, h] = Measure(visible, box.face, box.pixels, false, box.width);
                EXPECT_LE(h, box.wrapHeight) << box.key << " \"" << visible << "\" needs " << h << " px";
            } else {
                const auto [w, h] = Measure(visible, box.face, box.pixels, false, 0);
                EXPECT_LE(w, box.width) << box.key << " \"" << visible << "\" is " << w << " px wide";
            }
        }
        // Slide captions: bold 11 points in the language's face, 590 x 100, one {n} breaks the line.
        for (const char* key : {"anima_text_1", "anima_text_2", "anima_text_3"}) {
            const std::string visible = Visible(file.Text(key));
            const auto [w, h] = Measure(visible, language.captionFace, 11 * 96.0 / 72.0, true, 0);
            EXPECT_LE(w, 590) << key << " \"" << visible << "\" is " << w << " px wide";
            EXPECT_LE(h, 100) << key;
        }
    }
}

TEST(LicenceTexts, ThreeReadOnlyAgreementsThatFitTheirPanel) {
    const std::string bytes = ReadBytes(kSkinDir / "License.xml");
    ASSERT_FALSE(bytes.empty());
    // The English heading keeps its bare ampersand: the toolkit's reader takes it as written.
    EXPECT_NE(bytes.find("5.TERM & TERMINATION"), std::string::npos);
    SkinUI::CMarkup markup;
    ASSERT_TRUE(markup.Load(bytes)) << markup.ErrorMessage();
    // Control, and the height the panel gives its text when that language is chosen, less the
    // 170 pixels the window adds (the Simplified Chinese one is the taller height the shipped
    // site id selects).
    const std::pair<const char*, int> expected[] = {
        {"license_english", 1370}, {"license_chinese", 2000}, {"license_chinesetrad", 1095}};
    const auto& children = markup.Root()->children;
    ASSERT_EQ(children.size(), std::size(expected));
    for (size_t i = 0; i < children.size(); ++i) {
        const auto& control = markup.Element(children[i]);
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(control.name, "RichEdit");
        EXPECT_EQ(AttributeOf(control, "name"), expected[i].first);
        EXPECT_EQ(AttributeOf(control, "readonly"), "true");
        const std::string text = AttributeOf(control, "text");
        EXPECT_TRUE(IsValidUtf8(text));
        EXPECT_GT(text.size(), 2000u);
        EXPECT_EQ(text.find('{'), std::string::npos) << "the panel would read braces as markup";
        EXPECT_EQ(text.find("&amp;"), std::string::npos) << "an entity left undecoded";
        // license_text is 650 less the panel's insets, its own inset and the scroll bar wide.
        const auto [w, h] = Measure(text, "Times New Roman", 14, false, 570);
        EXPECT_LE(h, expected[i].second + 170) << "the agreement needs " << h << " px";
        EXPECT_GE(h, expected[i].second / 2) << "the panel would show a long empty tail";
    }
    EXPECT_NE(AttributeOf(markup.Element(children[0]), "text").find("\n5.TERM & TERMINATION\n"), std::string::npos);
}

// --- agreement with the main window's layout -------------------------------------------------

// Finds a package file the way the toolkit does: either separator, any letter case.
std::optional<fs::path> FindInSkin(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const auto& entry : fs::recursive_directory_iterator(kSkinDir)) {
        std::string rel = fs::relative(entry.path(), kSkinDir).generic_string();
        std::transform(rel.begin(), rel.end(), rel.begin(), [](unsigned char c) { return std::tolower(c); });
        if (rel == name) return entry.path();
    }
    return std::nullopt;
}

// Names of every control built from a layout file, following its includes.
void CollectControlNames(const fs::path& file, std::set<std::string>& names, int depth = 0) {
    ASSERT_LT(depth, 8) << "include cycle at " << file;
    const std::string bytes = ReadBytes(file);
    SkinUI::CMarkup markup;
    ASSERT_TRUE(markup.Load(bytes)) << file << ": " << markup.ErrorMessage();
    for (const auto& e : markup.Elements()) {
        if (e.name == "Include") {
            const auto included = FindInSkin(AttributeOf(e, "source"));
            ASSERT_TRUE(included) << file << " includes a missing " << AttributeOf(e, "source");
            CollectControlNames(*included, names, depth + 1);
        } else if (e.Attribute("name")) {
            names.insert(AttributeOf(e, "name"));
        }
    }
}

TEST(LanguageFiles, NoFileLacksAKeyTheMainWindowSets) {
    const auto layout = FindInSkin("InstallMainWnd.xml");
    if (!layout) GTEST_SKIP() << "the main window layout is not in the skin yet";
    std::set<std::string> controls;
    CollectControlNames(*layout, controls);
    // Applying a language sets every control named like an install_page label; the failure and
    // finished forms read these two by name as well.
    std::set<std::string> keys = {"start_app", "retry_btn"};
    for (const auto& file : AllFiles())
        for (const auto& [name, text] : file.install)
            if (controls.count(name)) keys.insert(name);
    // The controls that show language texts must exist, or their texts never arrive.
    for (const char* shown : {"select_language_text", "install_btn", "install_setting", "license_link",
                              "browser_btn", "space_need", "space_free", "install_label", "install_path_text",
                              "install_minbtn", "start_app", "agree_improvement", "text_fail_retry",
                              "text_fail_advice", "anima_text_1", "anima_text_2", "anima_text_3"})
        EXPECT_TRUE(controls.count(shown)) << "the main window has no control " << shown;
    for (const auto& file : AllFiles()) {
        const auto names = Names(file.install);
        for (const auto& key : keys)
            EXPECT_NE(std::find(names.begin(), names.end(), key), names.end()) << file.stem << " lacks " << key;
    }
}

}  // namespace
