#pragma once
// The main window's interface language: which language is in force (languageIndex),
// the start-up choice from the user's interface language, the choice of a combo item the
// skin offers, and applying a language to the texts of the window's control tree.
// The window owns one and calls it from its handlers; everything that needs a native
// window (posting UM_SHOW_LINKS, resizing) is reported back in TApplyResult and done by
// the window.
//
// How the main window uses it:
//   InitWindow, last step:  r = languages.DetectLanguage(*root, platform::UserUiLanguage(), ctx);
//                           collapse to 360 high; if (r.postShowLinks) post UM_SHOW_LINKS.
//   "itemselect" handler:   if (auto r = languages.OnLanguageSelected(msg, *root, ctx)) { post as above }
//   UM_SHOW_LINKS handler:  show license_link and install_setting.
//   Progress (any thread):  install_label text = languages.ProgressText(percent).
//
// Thread ownership: DetectLanguage, SelectLanguageItem, OnLanguageSelected and
// ApplyLanguage run on the window thread. LanguageIndex and the format accessors may be
// called from any thread (the pipeline and message boxes read them).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "src/language/LanguageTable.h"

namespace SkinUI {
class CCombo;
class CControl;
class CControlHost;
struct TNotify;
}  // namespace SkinUI

class CLanguageTexts;
class IEventReporter;

// What ApplyLanguage needs from the window besides its control tree.
struct TApplyContext {
    int siteId = 0;            // configuration's Site_id: selects the longer Chinese licence
    double freeSpaceGB = 0.0;  // free space of the chosen drive, for space_free
};

struct TApplyResult {
    bool licenseApplied = false;  // the layout has the language's licence control
    bool textsApplied = false;    // the language file built and its install_page texts were set
    // The window must post UM_SHOW_LINKS: license_link and install_setting were hidden to be
    // laid out anew with their new texts and come back when the message is handled.
    bool postShowLinks = false;
};

// The language the user's interface language asks for, and the country it names.
struct TStartupLanguage {
    int wantedIndex = kLanguageEnglish;
    std::string countryName;  // "Japan"; "Unknown--2053" for a LANGID outside the table
};

// The combo item to select for a wanted language, and the language that item stands for.
struct TComboChoice {
    int item = 0;
    int languageIndex = kLanguageEnglish;
};

class CLanguageSelector {
public:
    // Both must outlive the selector.
    CLanguageSelector(const CLanguageTexts& texts, IEventReporter& reporter) : texts_(texts), reporter_(reporter) {}
    CLanguageSelector(const CLanguageSelector&) = delete;
    CLanguageSelector& operator=(const CLanguageSelector&) = delete;

    // --- decisions (pure) ----------------------------------------------------------------
    static TStartupLanguage StartupLanguageFor(std::uint16_t uiLangId);
    // `visible[i]`: item i of language_combox is shown. The wanted item when visible, else
    // item 0 when visible, else the first visible one; no visible item gives item 0 and
    // English. Only the first 20 items count: an item beyond the language table is no language.
    static TComboChoice ChooseComboItem(int wantedIndex, const std::vector<bool>& visible);
    // Visibility of the combo's items, in order.
    static std::vector<bool> VisibleItems(const SkinUI::CCombo& combo);

    // --- operations on the window's tree (window thread) ---------------------------------
    // Start-up: reports "DownloaderInfo00"/"Country"/country (queued), selects the combo
    // item for the user's language and applies the language. The window then collapses
    // to its 360-pixel height and posts UM_SHOW_LINKS when the result asks for it.
    TApplyResult DetectLanguage(SkinUI::CControl& root, std::uint16_t uiLangId, const TApplyContext& context);
    // Sets languageIndex by ChooseComboItem and selects that item without taking the focus.
    // When the combo's selection changes it reports "itemselect", and the window's
    // OnLanguageSelected runs before this returns. No combo counts as no visible item.
    void SelectLanguageItem(SkinUI::CControl& root, int wantedIndex);
    // "itemselect" from language_combox: languageIndex = the combo's item, then
    // ApplyLanguage. nullopt (nothing done) for any other sender or notification, and for an
    // item beyond the language table.
    std::optional<TApplyResult> OnLanguageSelected(const SkinUI::TNotify& msg, SkinUI::CControl& root,
                                                   const TApplyContext& context);
    // Applies languageIndex: the licence text and height when the layout has the language's
    // licence control (then also "DownloaderInfo00"/"LanguageSetting"/"ChangeLanguageTo" +
    // name, queued); the install_page texts onto the controls of the same names, from the
    // last label to the first, so the first of two equal names wins; the three formats; the
    // formatted space texts. A language file that does not build changes no text and no format.
    TApplyResult ApplyLanguage(SkinUI::CControl& root, const TApplyContext& context);

    // --- state (any thread) --------------------------------------------------------------
    int LanguageIndex() const { return languageIndex_.load(); }
    std::string ProgressFormat() const;
    std::string SpaceNeedFormat() const;
    std::string SpaceFreeFormat() const;
    // The install_label text for a percentage, from the current progress format.
    std::string ProgressText(double percent) const;
    // The space_free text for a number of gigabytes, from the current format.
    std::string SpaceFreeText(double gigabytes) const;

private:
    const CLanguageTexts& texts_;
    IEventReporter& reporter_;
    std::atomic<int> languageIndex_{kLanguageEnglish};
    mutable std::mutex formatsLock_;
    std::string progressFormat_;   // under formatsLock_
    std::string spaceNeedFormat_;  // under formatsLock_
    std::string spaceFreeFormat_;  // under formatsLock_
};
