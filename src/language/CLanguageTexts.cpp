#include "src/language/CLanguageTexts.h"

#include "ui/CContainer.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CSkinPackage.h"
#include "ui/UiTypes.h"

namespace {

// Copies every named container with its direct children out of the built tree, so the
// tree (whose controls belong to the building thread) can be dropped at once.
std::shared_ptr<TLanguageFile> CopyContainers(SkinUI::CControl& root) {
    auto file = std::make_shared<TLanguageFile>();
    root.ForEach([&](SkinUI::CControl& control) {
        auto* container = dynamic_cast<SkinUI::CContainer*>(&control);
        if (container == nullptr || container->GetName().empty()) return;
        TLanguageFile::TContainer copy;
        copy.name = container->GetName();
        for (int i = 0; i < container->GetCount(); ++i) {
            SkinUI::CControl* child = container->GetItemAt(i);
            if (child == nullptr || child->GetName().empty()) continue;
            copy.labels.push_back({child->GetName(), child->GetText()});
        }
        file->containers.push_back(std::move(copy));
    });
    return file;
}

}  // namespace

const std::vector<TLanguageLabel>* TLanguageFile::Container(std::string_view name) const {
    for (const auto& container : containers)
        if (SkinUI::AsciiEqualNoCase(container.name, name)) return &container.labels;
    return nullptr;
}

std::optional<std::string> TLanguageFile::Text(std::string_view container, std::string_view key) const {
    const auto* labels = Container(container);
    if (labels == nullptr) return std::nullopt;
    for (const auto& label : *labels)
        if (SkinUI::AsciiEqualNoCase(label.name, key)) return label.text;
    return std::nullopt;
}

CLanguageTexts& CLanguageTexts::Current() {
    static CLanguageTexts texts(SkinUI::CSkinPackage::Current());
    return texts;
}

std::shared_ptr<const TLanguageFile> CLanguageTexts::File(int languageIndex, std::string* error) const {
    const TLanguageInfo* info = FindLanguage(languageIndex);
    if (info == nullptr) {
        if (error) *error = "no language " + std::to_string(languageIndex);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(lock_);
    TEntry& entry = entries_[static_cast<std::size_t>(languageIndex)];
    if (!entry.loaded) {
        entry.loaded = true;
        if (package_ == nullptr) {
            entry.error = "no skin package";
        } else {
            SkinUI::CLayoutBuilder builder(package_);
            std::unique_ptr<SkinUI::CControl> root = builder.Build(LanguageFileEntry(languageIndex));
            if (root) {
                entry.file = CopyContainers(*root);
            } else {
                entry.error = builder.LastError();
            }
        }
    }
    if (error) *error = entry.error;
    return entry.file;
}

std::string CLanguageTexts::GetLanguageText(int languageIndex, std::string_view container,
                                            std::string_view key) const {
    auto file = File(languageIndex);
    if (!file) return {};
    return file->Text(container, key).value_or(std::string());
}

std::string GetLanguageText(int languageIndex, std::string_view container, std::string_view key) {
    return CLanguageTexts::Current().GetLanguageText(languageIndex, container, key);
}
