#include "src/language/CLanguageSelector.h"

#include <algorithm>

#include "src/language/CLanguageTexts.h"
#include "src/language/LanguageFormat.h"
#include "src/telemetry/SystemInfo.h"
#include "platform/ProcessLogger.h"
#include "src/telemetry/IEventReporter.h"
#include "ui/CCombo.h"
#include "ui/CControl.h"
#include "ui/CListLabelElement.h"
#include "ui/TNotify.h"
#include "ui/UiTypes.h"

namespace {

constexpr const char* kCategory = "DownloaderInfo00";
constexpr const char* kComboName = "language_combox";

void SetTextOf(SkinUI::CControl& root, const char* name, const std::string& text) {
    if (SkinUI::CControl* control = root.FindSubControl(name)) control->SetText(text);
}

void HideControl(SkinUI::CControl& root, const char* name) {
    if (SkinUI::CControl* control = root.FindSubControl(name)) control->SetVisible(false);
}

}  // namespace

TStartupLanguage CLanguageSelector::StartupLanguageFor(std::uint16_t uiLangId) {
    FuntionImpl::CountryInfo country = FuntionImpl::LookupCountry(uiLangId);
    TStartupLanguage startup;
    startup.wantedIndex = FindLanguage(country.languageIndex) ? country.languageIndex : kLanguageEnglish;
    startup.countryName = std::move(country.countryName);
    return startup;
}

TComboChoice CLanguageSelector::ChooseComboItem(int wantedIndex, const std::vector<bool>& visible) {
    const int count = static_cast<int>(std::min<std::size_t>(visible.size(), kLanguageCount));
    int firstVisible = -1;
    for (int i = 0; i < count; ++i) {
        if (visible[static_cast<std::size_t>(i)]) {
            firstVisible = i;
            break;
        }
    }
    TComboChoice choice;  // no visible item: item 0, English
    if (wantedIndex >= 0 && wantedIndex < count && visible[static_cast<std::size_t>(wantedIndex)]) {
        choice.item = wantedIndex;
    } else if (count > 0 && visible[0]) {
        choice.item = 0;
    } else if (firstVisible >= 0) {
        choice.item = firstVisible;
    } else {
        return choice;
    }
    choice.languageIndex = choice.item;
    return choice;
}

std::vector<bool> CLanguageSelector::VisibleItems(const SkinUI::CCombo& combo) {
    std::vector<bool> visible;
    for (int i = 0; i < combo.GetCount(); ++i) {
        const SkinUI::CListLabelElement* item = combo.GetListItem(i);
        visible.push_back(item != nullptr && item->IsVisible());
    }
    return visible;
}

TApplyResult CLanguageSelector::DetectLanguage(SkinUI::CControl& root, std::uint16_t uiLangId,
                                               const TApplyContext& context) {
    TStartupLanguage startup = StartupLanguageFor(uiLangId);
    reporter_.ReportEvent(kCategory, "Country", startup.countryName, false);
    SelectLanguageItem(root, startup.wantedIndex);
    return ApplyLanguage(root, context);
}

void CLanguageSelector::SelectLanguageItem(SkinUI::CControl& root, int wantedIndex) {
    auto* combo = dynamic_cast<SkinUI::CCombo*>(root.FindSubControl(kComboName));
    const TComboChoice choice = ChooseComboItem(wantedIndex, combo ? VisibleItems(*combo) : std::vector<bool>());
    // Set before selecting: the selection's "itemselect" handler applies this language.
    languageIndex_.store(choice.languageIndex);
    if (combo) combo->SelectItem(choice.item);
}

std::optional<TApplyResult> CLanguageSelector::OnLanguageSelected(const SkinUI::TNotify& msg, SkinUI::CControl& root,
                                                                  const TApplyContext& context) {
    if (msg.type != "itemselect") return std::nullopt;
    auto* combo = dynamic_cast<SkinUI::CCombo*>(msg.sender);
    if (combo == nullptr || !SkinUI::AsciiEqualNoCase(combo->GetName(), kComboName)) return std::nullopt;
    const int item = combo->GetCurSel();
    if (FindLanguage(item) == nullptr) {
        LOG(INFO) << " Language item without a language: " << item;
        return std::nullopt;
    }
    languageIndex_.store(item);
    return ApplyLanguage(root, context);
}

TApplyResult CLanguageSelector::ApplyLanguage(SkinUI::CControl& root, const TApplyContext& context) {
    TApplyResult result;
    const int index = languageIndex_.load();
    const TLanguageInfo& info = LanguageOrEnglish(index);

    // 1. Licence text and the height of its scrolled page, when the layout carries this
    //    language's licence; otherwise the previous licence stays.
    if (SkinUI::CControl* license = root.FindSubControl(info.licenseControl)) {
        result.licenseApplied = true;
        SetTextOf(root, "license_text", license->GetText());
        reporter_.ReportEvent(kCategory, "LanguageSetting", std::string("ChangeLanguageTo") + info.name, false);
        if (SkinUI::CControl* layout = root.FindSubControl("license_text_layout"))
            layout->SetFixedHeight(LicenseLayoutHeight(index, context.siteId));
    }

    // 2. The first page's texts. Last to first, so that of two labels with one name the
    //    first in the file is the one left standing.
    std::string error;
    auto file = texts_.File(index, &error);
    const std::vector<TLanguageLabel>* labels = file ? file->Container("install_page") : nullptr;
    if (labels == nullptr) {
        LOG(INFO) << " Language " << info.name << " not applied: " << (file ? "no install_page" : error);
        return result;
    }
    {
        std::lock_guard<std::mutex> guard(formatsLock_);
        for (auto it = labels->rbegin(); it != labels->rend(); ++it) {
            if (SkinUI::AsciiEqualNoCase(it->name, "install_label")) progressFormat_ = it->text;
            else if (SkinUI::AsciiEqualNoCase(it->name, "space_need")) spaceNeedFormat_ = it->text;
            else if (SkinUI::AsciiEqualNoCase(it->name, "space_free")) spaceFreeFormat_ = it->text;
        }
    }
    for (auto it = labels->rbegin(); it != labels->rend(); ++it) {
        if (SkinUI::CControl* control = root.FindSubControl(it->name)) control->SetText(it->text);
    }
    result.textsApplied = true;

    // 3. Hidden until the window handles UM_SHOW_LINKS, so both are laid out anew.
    HideControl(root, "license_link");
    HideControl(root, "install_setting");

    // 4. The space figures in the new formats.
    SkinUI::CControl* productSize = root.FindSubControl("ProductSize");
    SetTextOf(root, "space_free", FormatSpaceFreeText(SpaceFreeFormat(), context.freeSpaceGB));
    SetTextOf(root, "space_need", FormatSpaceNeedText(SpaceNeedFormat(), productSize ? productSize->GetText() : ""));

    // 5. The window posts UM_SHOW_LINKS.
    result.postShowLinks = true;
    return result;
}

std::string CLanguageSelector::ProgressFormat() const {
    std::lock_guard<std::mutex> guard(formatsLock_);
    return progressFormat_;
}

std::string CLanguageSelector::SpaceNeedFormat() const {
    std::lock_guard<std::mutex> guard(formatsLock_);
    return spaceNeedFormat_;
}

std::string CLanguageSelector::SpaceFreeFormat() const {
    std::lock_guard<std::mutex> guard(formatsLock_);
    return spaceFreeFormat_;
}

std::string CLanguageSelector::ProgressText(double percent) const {
    return FormatProgressText(ProgressFormat(), percent);
}

std::string CLanguageSelector::SpaceFreeText(double gigabytes) const {
    return FormatSpaceFreeText(SpaceFreeFormat(), gigabytes);
}
