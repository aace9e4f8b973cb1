// setup-tool config: the product configuration the installer would use, as the lines it
// writes to its log. Asks the maker's service (QV_SERVICE_BASE_URL overrides its address)
// up to three times and falls back to the Product_config labels of the skin package, as
// the installer does.

#include <charconv>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "src/config/CConfigure.h"
#include "Subcommand.h"
#include "ui/CMarkup.h"
#include "ui/CSkinPackage.h"

namespace setuptool {
namespace {

constexpr const char* kConfigureFile = "configure/configure.xml";

std::optional<int> ParseId(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The Product_config labels of the skin package by name; nullopt (with the reason on
// stderr) when the package or the file cannot be read.
std::optional<std::map<std::string, std::string>> ReadSkinLabels() {
    const SkinUI::CSkinPackage* package = SkinUI::CSkinPackage::Current();
    if (package == nullptr) {
        std::fprintf(stderr, "setup-tool config: the skin package cannot be opened\n");
        return std::nullopt;
    }
    std::string text;
    if (const SkinUI::PackageResult result = package->ReadText(kConfigureFile, text);
        result != SkinUI::PackageResult::PACKAGE_OK) {
        std::fprintf(stderr, "setup-tool config: %s: %s\n", kConfigureFile, SkinUI::to_string(result));
        return std::nullopt;
    }
    SkinUI::CMarkup markup;
    if (!markup.Load(text)) {
        std::fprintf(stderr, "setup-tool config: %s: %s\n", kConfigureFile, markup.ErrorMessage().c_str());
        return std::nullopt;
    }
    std::map<std::string, std::string> labels;
    for (const SkinUI::TMarkupElement& element : markup.Elements()) {
        const std::string* name = element.Attribute("name");
        if (name == nullptr || *name != "Product_config") continue;
        for (std::size_t child : element.children) {
            const SkinUI::TMarkupElement& label = markup.Element(child);
            const std::string* labelName = label.Attribute("name");
            const std::string* labelText = label.Attribute("text");
            if (labelName != nullptr && labels.find(*labelName) == labels.end()) {
                labels[*labelName] = labelText != nullptr ? *labelText : "";
            }
        }
        break;
    }
    if (labels.empty()) {
        std::fprintf(stderr, "setup-tool config: %s has no Product_config labels\n", kConfigureFile);
        return std::nullopt;
    }
    return labels;
}

int RunConfig(const std::vector<std::string>& args) {
    std::optional<int> downloaderId, siteId, languageId;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::optional<int>* target = nullptr;
        if (args[i] == "--downloader-id") target = &downloaderId;
        if (args[i] == "--site-id") target = &siteId;
        if (args[i] == "--language-id") target = &languageId;
        if (target == nullptr) return UsageError("config", "unexpected argument '" + args[i] + "'");
        if (i + 1 >= args.size()) return UsageError("config", args[i] + " needs a number");
        if (target->has_value()) return UsageError("config", args[i] + " given twice");
        *target = ParseId(args[++i]);
        if (!target->has_value()) return UsageError("config", args[i - 1] + " needs a number, not '" + args[i] + "'");
    }

    const std::optional<std::map<std::string, std::string>> labels = ReadSkinLabels();
    const auto labelId = [&](const char* name) -> int {
        if (!labels) return 0;
        auto it = labels->find(name);
        return it == labels->end() ? 0 : ParseId(it->second).value_or(0);
    };
    // Identifiers not given come from the skin, as the installer takes them.
    CConfigure configure(downloaderId.value_or(labelId("Downloader_id")), languageId.value_or(labelId("Language_id")),
                         siteId.value_or(labelId("Site_id")));
    if (labels) {
        configure.loadConfiguration([&labels](const std::string& name) -> std::optional<std::string> {
            auto it = labels->find(name);
            if (it == labels->end()) return std::nullopt;
            return it->second;
        });
    } else {
        for (int attempt = 0; attempt < CConfigure::kServiceAttempts && configure.loadState != CONFIG_LOADED;
             ++attempt) {
            configure.getDownloaderInfo();
            configure.parseDownloaderInfo();
        }
    }
    for (const std::string& line : configure.ContentLines()) std::printf("%s\n", line.c_str());
    if (configure.loadState != CONFIG_LOADED) {
        std::fprintf(stderr,
                     "setup-tool config: the service gave no configuration and the skin's %s is not available\n",
                     kConfigureFile);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

const SubcommandRegistration kRegistration{
    "config", "config [--downloader-id N] [--site-id N] [--language-id N]",
    "print the product configuration the service (or else the skin) gives", &RunConfig};

}  // namespace
}  // namespace setuptool
