// setup-tool render: paints a layout of the skin package into a PNG, without a window and
// with the painter the windows use, so a layout can be looked at on any machine.
//
//   render LAYOUT.xml OUT.png [--lang N] [--size WxH] [--select TAB=INDEX]... [--set NAME=KEY]...
//          [--value BAR=N]... [--show NAME]... [--image NAME=ENTRY]...
//
// --lang N        interface language 0-19 (the wizard's table): texts are shaped for that
//                 language, and every label of the language file's "install_page" whose
//                 name matches a control of the layout gives that control its text
//                 (the way the wizard fills its main window)
// --set NAME=KEY  sets control NAME's text to the language file's label KEY (any page),
//                 e.g. --set msg_describe=CancelDesText for a message box; needs --lang
// --select TAB=I  shows page I of the tab layout TAB (e.g. main_tablayout=1)
// --value BAR=N   sets the progress bar BAR to N
// --show NAME     makes control NAME visible (a row the program reveals, e.g. text_fail_retry)
// --image NAME=E  gives control NAME the background image E (a picture the program swaps in,
//                 e.g. backgroudlayout=skin/backgroud_complete.png)
// Texts with printf placeholders ("%s", "%.1f GB", "%0.f%%") are filled in by the wizard
// at run time; the render leaves such controls as the layout has them.
// --size WxH      client size; default the layout's `size`

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Subcommand.h"
#include "ui/CContainer.h"
#include "ui/CControlHost.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CProgress.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/x11/CPangoTextMeasurer.h"
#include "ui/x11/CWindowSurface.h"

namespace setuptool {
namespace {

constexpr std::array<const char*, 20> kLanguageFiles = {
    "language_english.xml",    "language_japanese.xml", "language_chinese.xml",   "language_spanish.xml",
    "language_german.xml",     "language_french.xml",   "language_russian.xml",   "language_portuguese.xml",
    "language_arabic.xml",     "language_italiano.xml", "language_chinesetrad.xml", "language_korean.xml",
    "language_nederland.xml",  "language_indonesian.xml", "language_turkish.xml", "language_hindi.xml",
    "language_thai.xml",       "language_malay.xml",    "language_swedish.xml",   "language_czech.xml"};

bool SplitPair(const std::string& text, std::string& name, std::string& value) {
    auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}

bool ParseNumber(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    out = std::atoi(text.c_str());
    return out >= low && out <= high;
}

// "%s", "%d", "%.1f", "%0.f%%": a value the wizard formats in; "%%" alone is a percent sign.
bool HasPlaceholder(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (text[i + 1] == '%') {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

// Gives controls of `host` the texts of the language container's `install_page`, by name.
int ApplyInstallPage(SkinUI::CControlHost& host, SkinUI::CControl& language) {
    auto* page = dynamic_cast<SkinUI::CContainer*>(language.FindSubControl("install_page"));
    if (page == nullptr) return 0;
    int applied = 0;
    for (int i = 0; i < page->GetCount(); ++i) {
        SkinUI::CControl* label = page->GetItemAt(i);
        if (label == nullptr || label->GetName().empty()) continue;
        if (HasPlaceholder(label->GetText())) continue;
        if (SkinUI::CControl* target = host.FindControl(label->GetName())) {
            target->SetText(label->GetText());
            ++applied;
        }
    }
    return applied;
}

int RunRender(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int language = -1;
    SkinUI::TSize size;
    std::vector<std::pair<std::string, std::string>> sets;
    std::vector<std::pair<std::string, int>> selects;
    std::vector<std::pair<std::string, int>> values;
    std::vector<std::string> shows;
    std::vector<std::pair<std::string, std::string>> images;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        if (arg == "--lang") {
            if (!hasValue || !ParseNumber(args[++i], 0, 19, language)) return UsageError("render", "--lang takes 0 to 19");
        } else if (arg == "--size") {
            if (!hasValue) return UsageError("render", "--size takes WxH");
            const std::string& value = args[++i];
            auto x = value.find('x');
            if (x == std::string::npos || !ParseNumber(value.substr(0, x), 1, 8192, size.cx) ||
                !ParseNumber(value.substr(x + 1), 1, 8192, size.cy)) {
                return UsageError("render", "--size takes WxH, each 1 to 8192");
            }
        } else if (arg == "--set") {
            std::string name, key;
            if (!hasValue || !SplitPair(args[++i], name, key)) return UsageError("render", "--set takes NAME=KEY");
            sets.emplace_back(name, key);
        } else if (arg == "--select") {
            std::string name, index;
            int page = 0;
            if (!hasValue || !SplitPair(args[++i], name, index) || !ParseNumber(index, 0, 1000, page)) {
                return UsageError("render", "--select takes TAB=INDEX");
            }
            selects.emplace_back(name, page);
        } else if (arg == "--value") {
            std::string name, number;
            int value = 0;
            if (!hasValue || !SplitPair(args[++i], name, number) || !ParseNumber(number, 0, 1000000, value)) {
                return UsageError("render", "--value takes BAR=N");
            }
            values.emplace_back(name, value);
        } else if (arg == "--show") {
            if (!hasValue || args[i + 1].empty()) return UsageError("render", "--show takes NAME");
            shows.push_back(args[++i]);
        } else if (arg == "--image") {
            std::string name, entry;
            if (!hasValue || !SplitPair(args[++i], name, entry)) return UsageError("render", "--image takes NAME=ENTRY");
            images.emplace_back(name, entry);
        } else if (arg.starts_with("--")) {
            return UsageError("render", "unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return UsageError("render", "needs a layout and an output file");
    if (!sets.empty() && language < 0) return UsageError("render", "--set needs --lang");

    SkinUI::CSkinPackage* package = SkinUI::CSkinPackage::Current();
    if (package == nullptr) {
        std::fprintf(stderr, "setup-tool render: no skin package\n");
        return EXIT_FAILED;
    }
    SkinUI::CControlHost host(package);
    std::string error;
    if (!host.LoadLayout(positional[0], nullptr, &error)) {
        std::fprintf(stderr, "setup-tool render: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    SkinUI::CPangoTextMeasurer measurer;
    measurer.SetLanguage(SkinUI::LanguageTagForIndex(language < 0 ? 0 : language));
    host.SetTextMeasurer(&measurer);

    std::unique_ptr<SkinUI::CControl> languageTree;
    if (language >= 0) {
        SkinUI::CLayoutBuilder builder(package);
        languageTree = builder.Build(std::string("language\\") + kLanguageFiles[static_cast<std::size_t>(language)]);
        if (!languageTree) {
            std::fprintf(stderr, "setup-tool render: %s\n", builder.LastError().c_str());
            return EXIT_FAILED;
        }
        ApplyInstallPage(host, *languageTree);
        for (const auto& [name, key] : sets) {
            SkinUI::CControl* target = host.FindControl(name);
            SkinUI::CControl* label = languageTree->FindSubControl(key);
            if (target == nullptr || label == nullptr) {
                std::fprintf(stderr, "setup-tool render: --set %s=%s: no %s\n", name.c_str(), key.c_str(),
                             target == nullptr ? "such control in the layout" : "such label in the language file");
                return EXIT_FAILED;
            }
            target->SetText(label->GetText());
        }
    }
    for (const auto& [name, page] : selects) {
        auto* tab = dynamic_cast<SkinUI::CTabLayout*>(host.FindControl(name));
        if (tab == nullptr) {
            std::fprintf(stderr, "setup-tool render: --select %s: no tab layout of that name\n", name.c_str());
            return EXIT_FAILED;
        }
        if (page != tab->GetCurSel() && !tab->SelectItem(page)) {
            std::fprintf(stderr, "setup-tool render: --select %s=%d: no such page\n", name.c_str(), page);
            return EXIT_FAILED;
        }
    }

    for (const auto& [name, value] : values) {
        auto* bar = dynamic_cast<SkinUI::CProgress*>(host.FindControl(name));
        if (bar == nullptr) {
            std::fprintf(stderr, "setup-tool render: --value %s: no progress bar of that name\n", name.c_str());
            return EXIT_FAILED;
        }
        bar->SetValue(value);
    }

    for (const std::string& name : shows) {
        SkinUI::CControl* control = host.FindControl(name);
        if (control == nullptr) {
            std::fprintf(stderr, "setup-tool render: --show %s: no such control in the layout\n", name.c_str());
            return EXIT_FAILED;
        }
        control->SetVisible(true);
    }
    for (const auto& [name, entry] : images) {
        SkinUI::CControl* control = host.FindControl(name);
        if (control == nullptr) {
            std::fprintf(stderr, "setup-tool render: --image %s: no such control in the layout\n", name.c_str());
            return EXIT_FAILED;
        }
        if (!package->Contains(entry)) {
            std::fprintf(stderr, "setup-tool render: --image %s=%s: no such picture in the skin\n", name.c_str(),
                         entry.c_str());
            return EXIT_FAILED;
        }
        control->SetBkImage(entry);
    }

    if (size.cx == 0) size = host.GetClientSize();
    SkinUI::CWindowSurface surface;
    if (!surface.Resize(size)) {
        std::fprintf(stderr, "setup-tool render: the layout gives no size; use --size WxH\n");
        return EXIT_FAILED;
    }
    host.SetClientSize(size);
    const auto& attributes = host.WindowAttributes();
    surface.SetLook(attributes.bkTrans, attributes.roundCorner);
    surface.Render(host, measurer, {0, 0, size.cx, size.cy});
    if (!surface.WritePng(positional[1], &error)) {
        std::fprintf(stderr, "setup-tool render: cannot write %s: %s\n", positional[1].c_str(), error.c_str());
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

const SubcommandRegistration kRegistration{
    "render",
    "render LAYOUT.xml OUT.png [--lang N] [--size WxH] [--select TAB=INDEX]... [--set NAME=KEY]... [--value BAR=N]... "
    "[--show NAME]... [--image NAME=ENTRY]...",
    "paint a layout of the skin package into a PNG, as the window would show it", &RunRender};

}  // namespace
}  // namespace setuptool
