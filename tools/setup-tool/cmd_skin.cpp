// setup-tool skin: look into the skin package the installer builds its windows from, the
// one embedded in this tool or the folder named by SETUP_SKIN_DIR.
//
//   skin list         every entry, one a line, directories ending in "/"
//   skin cat ENTRY    the entry's bytes on standard output (lookup as the toolkit does it)
//   skin check        builds every layout and language file and reports, each with its file
//                     and place: files that do not build, image references that resolve to
//                     nothing, font indices outside the window's fonts. Exit 1 if any.

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Subcommand.h"
#include "ui/CControlHost.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CSkinPackage.h"
#include "ui/TImageRef.h"

namespace setuptool {
namespace {

using SkinUI::CLayoutBuilder;
using SkinUI::CSkinPackage;

const char* const kMainWindowFile = "InstallMainWnd.xml";

CSkinPackage* OpenPackage() {
    CSkinPackage* package = CSkinPackage::Current();
    if (package == nullptr) {
        std::fprintf(stderr, "setup-tool skin: no skin package: %s\n",
                     std::getenv("SETUP_SKIN_DIR") ? "SETUP_SKIN_DIR is not a readable folder"
                                                   : "the embedded package is missing or unreadable");
    }
    return package;
}

bool EndsWithXml(const std::string& name) {
    return name.size() > 4 && SkinUI::AsciiEqualNoCase(std::string_view(name).substr(name.size() - 4), ".xml");
}

bool IsLanguageFile(const std::string& name) { return SkinUI::AsciiLowerCopy(name).starts_with("language/"); }

class Checker {
public:
    explicit Checker(const CSkinPackage& package) : package_(package) {}

    int Run() {
        std::vector<std::string> layouts;
        for (const auto& name : package_.List()) {
            if (EndsWithXml(name)) layouts.push_back(name);
        }
        // 1. Windows first: they own fonts, which the language files' texts select.
        int mainFonts = -1;
        int mostFonts = -1;
        std::vector<std::string> others;
        for (const auto& name : layouts) {
            SkinUI::CControlHost host(&package_);
            CLayoutBuilder builder(&package_);
            auto tree = builder.Build(name, &host);
            if (builder.RootName() != "Window") {
                others.push_back(name);
                continue;
            }
            ++built_;
            if (!tree && !builder.HeldNoControl()) Report(name + ": " + builder.LastError());
            int fonts = static_cast<int>(host.Fonts().size());
            CheckUses(builder, fonts, "window " + name);
            if (SkinUI::AsciiEqualNoCase(name, kMainWindowFile)) mainFonts = fonts;
            mostFonts = std::max(mostFonts, fonts);
        }
        int languageFonts = mainFonts >= 0 ? mainFonts : mostFonts;
        // 2. Every other file alone: language files against the main window's fonts.
        for (const auto& name : others) {
            CLayoutBuilder builder(&package_);
            auto tree = builder.Build(name);
            ++built_;
            if (!tree && !builder.HeldNoControl()) Report(name + ": " + builder.LastError());
            bool language = IsLanguageFile(name);
            CheckUses(builder, language ? languageFonts : -1, language ? "the main window" : "");
        }
        for (const auto& line : problems_) std::printf("%s\n", line.c_str());
        for (const auto& line : warnings_) std::printf("warning: %s\n", line.c_str());
        if (!problems_.empty()) {
            std::printf("skin check: %zu problem(s), %zu warning(s) in %d layout and language file(s)\n",
                        problems_.size(), warnings_.size(), built_);
            return EXIT_FAILED;
        }
        std::printf("skin check: OK, %d layout and language file(s), %zu warning(s)\n", built_, warnings_.size());
        return EXIT_OK;
    }

private:
    void Report(const std::string& line) {
        if (seen_.insert(line).second) problems_.push_back(line);
    }
    // A picture found nowhere only leaves its place empty when drawn: worth knowing, but
    // the skin still builds and shows (the shipped message boxes name three such pictures).
    void Warn(const std::string& line) {
        if (seen_.insert(line).second) warnings_.push_back(line);
    }

    // `fonts` < 0: the font count is not known for this file.
    void CheckUses(const CLayoutBuilder& builder, int fonts, const std::string& owner) {
        SkinUI::CImageCache images(&package_);
        for (const auto& use : builder.ImageUses()) {
            SkinUI::TImageRef ref = SkinUI::TImageRef::Parse(use.reference);
            if (ref.file.empty() || !images.Resolves(ref.file)) {
                Warn(use.file + ":" + std::to_string(use.line) + ": " + use.attribute + " names an image found nowhere: " +
                       (ref.file.empty() ? use.reference : ref.file));
            }
        }
        if (fonts < 0) return;
        for (const auto& use : builder.FontUses()) {
            if (use.index >= fonts) {
                Report(use.file + ":" + std::to_string(use.line) + ": font " + std::to_string(use.index) +
                       " is out of range (" + owner + " has " + std::to_string(fonts) + " fonts)");
            }
        }
    }

    const CSkinPackage& package_;
    std::vector<std::string> problems_;
    std::vector<std::string> warnings_;
    std::set<std::string> seen_;
    int built_ = 0;
};

int RunSkin(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("skin", "a subcommand is needed");
    const std::string& what = args[0];
    if (what == "list" || what == "check") {
        if (args.size() != 1) return UsageError("skin", "'" + what + "' takes no arguments");
    } else if (what == "cat") {
        if (args.size() != 2) return UsageError("skin", "'cat' takes one entry name");
    } else {
        return UsageError("skin", "unknown subcommand '" + what + "'");
    }

    CSkinPackage* package = OpenPackage();
    if (package == nullptr) return EXIT_FAILED;

    if (what == "list") {
        for (const auto& name : package->List()) std::printf("%s\n", name.c_str());
        return EXIT_OK;
    }
    if (what == "cat") {
        std::vector<std::byte> bytes;
        SkinUI::PackageResult result = package->ReadBinary(args[1], CSkinPackage::kMaxImageSize, bytes);
        if (result != SkinUI::PackageResult::PACKAGE_OK) {
            std::fprintf(stderr, "setup-tool skin: %s: %s\n", args[1].c_str(), SkinUI::to_string(result));
            return EXIT_FAILED;
        }
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        return EXIT_OK;
    }
    return Checker(*package).Run();
}

const SubcommandRegistration reg{"skin", "skin list|cat ENTRY|check",
                                 "look into the skin package (embedded, or the SETUP_SKIN_DIR folder)", &RunSkin};

}  // namespace
}  // namespace setuptool
