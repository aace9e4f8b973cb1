// Choosing the interface language at start and from the combo, and applying it to the
// main window's tree, built headlessly from the shipped skin and from a fixture skin whose
// combo offers all twenty languages.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

#include "src/language/CLanguageSelector.h"
#include "src/language/CLanguageTexts.h"
#include "src/language/LanguageFormat.h"
#include "src/language/LanguageTable.h"
#include "LanguageTestSupport.h"
#include "platform/SystemFacts.h"
#include "ui/CCombo.h"
#include "ui/INotifyListener.h"

namespace {

using namespace langtest;

// What the window does with the combo's notifications: the language handler runs at once.
class ComboForwarder : public SkinUI::INotifyListener {
public:
    ComboForwarder(CLanguageSelector& selector, SkinUI::CControl& root, TApplyContext context)
        : selector_(selector), root_(root), context_(context) {}
    void Notify(SkinUI::TNotify& msg) override {
        if (auto result = selector_.OnLanguageSelected(msg, root_, context_)) results.push_back(*result);
    }
    std::vector<TApplyResult> results;

private:
    CLanguageSelector& selector_;
    SkinUI::CControl& root_;
    TApplyContext context_;
};

SkinUI::CCombo& ComboOf(SkinUI::CControl& root) {
    auto* combo = dynamic_cast<SkinUI::CCombo*>(root.FindSubControl("language_combox"));
    if (combo == nullptr) throw std::runtime_error("no language_combox");
    return *combo;
}

// Languages whose licence the layouts carry.
const std::set<int> kShippedLicences = {0, 2, 10};
const std::set<int> kFixtureLicences = {0, 1, 2, 10, 11};

Event Country(const std::string& name) { return {"DownloaderInfo00", "Country", name, false}; }
Event LanguageSetting(int index) {
    return {"DownloaderInfo00", "LanguageSetting", std::string("ChangeLanguageTo") + LanguageTable()[index].name, false};
}

TEST(LanguageChoice, ComboItemRules) {
    const std::vector<bool> all(20, true);
    std::vector<bool> shipped(20, false);
    shipped[2] = true;
    std::vector<bool> zeroAndSeven(20, false);
    zeroAndSeven[0] = zeroAndSeven[7] = true;
    std::vector<bool> beyondTable(25, false);
    beyondTable[22] = true;
    struct Case { const char* what; std::vector<bool> visible; int wanted; int item; int language; };
    const Case cases[] = {
        {"wanted and visible", all, 5, 5, 5},
        {"last item", all, 19, 19, 19},
        {"shipped: Japanese wanted", shipped, 1, 2, 2},
        {"shipped: English wanted", shipped, 0, 2, 2},
        {"shipped: Chinese wanted", shipped, 2, 2, 2},
        {"hidden wanted, item 0 shown", zeroAndSeven, 3, 0, 0},
        {"wanted 7 shown", zeroAndSeven, 7, 7, 7},
        {"nothing visible", std::vector<bool>(20, false), 4, 0, 0},
        {"no combo items", {}, 4, 0, 0},
        {"wanted beyond the items", {false, true}, 5, 1, 1},
        {"negative wanted", shipped, -3, 2, 2},
        {"only an item beyond the language table", beyondTable, 22, 0, 0},
    };
    for (const Case& c : cases) {
        TComboChoice choice = CLanguageSelector::ChooseComboItem(c.wanted, c.visible);
        EXPECT_EQ(choice.item, c.item) << c.what;
        EXPECT_EQ(choice.languageIndex, c.language) << c.what;
    }
}

class FixtureWindow : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = ComposePackage(dir_.path(), kFixtures / "all_languages");
        ASSERT_TRUE(package_);
        host_ = BuildWindow(package_.get());
        root_ = host_->GetRoot();
        ASSERT_NE(root_, nullptr);
        texts_ = std::make_unique<CLanguageTexts>(package_.get());
        selector_ = std::make_unique<CLanguageSelector>(*texts_, reporter_);
    }

    TempDir dir_;
    std::unique_ptr<SkinUI::CSkinPackage> package_;
    std::unique_ptr<SkinUI::CControlHost> host_;
    SkinUI::CControl* root_ = nullptr;
    std::unique_ptr<CLanguageTexts> texts_;
    RecordingReporter reporter_;
    std::unique_ptr<CLanguageSelector> selector_;
};

// Every identifier of the start-up table, with the country it names.
TEST_F(FixtureWindow, EveryStartupRowIsHonouredWhenAllLanguagesAreOffered) {
    struct Row { std::uint16_t langId; int index; const char* country; };
    const Row rows[] = {
        {1033, 0, "America"}, {2057, 0, "Britain"}, {3081, 0, "Australia"}, {4105, 0, "Canada"},
        {5129, 0, "New Zealand"}, {6153, 0, "Ireland"}, {7177, 0, "S. Africa"}, {8201, 0, "Jamaica"},
        {9225, 0, "Caribbean"}, {10249, 0, "Belize"}, {11273, 0, "Trinidad"}, {1041, 1, "Japan"},
        {2052, 2, "China"}, {1034, 3, "Spain"}, {2058, 3, "Mexico"}, {3082, 3, "Spain"},
        {4106, 3, "Guatemala"}, {5130, 3, "Costa Rica"}, {6154, 3, "Panama"}, {7178, 3, "Dominican Republic"},
        {8202, 3, "Venezuela"}, {9226, 3, "Columbia"}, {10250, 3, "Peru"}, {11274, 3, "Argentina"},
        {12298, 3, "Ecuador"}, {13322, 3, "Chile"}, {14346, 3, "Uruguay"}, {15370, 3, "Paraguay"},
        {16394, 3, "bolivia"}, {17418, 3, "Salvatore"}, {18442, 3, "Honduras"}, {19466, 3, "Nicaragua"},
        {20490, 3, "Puerto Rico"}, {1031, 4, "Germany"}, {2055, 4, "Switzerland"}, {3079, 4, "Austria"},
        {4103, 4, "Luxembourg"}, {5127, 4, "Liechtenstein"}, {1036, 5, "France"}, {2060, 5, "Belgium"},
        {3084, 5, "Canada"}, {4108, 5, "Switzerland"}, {5132, 5, "Luxembourg"}, {1049, 6, "Russia"},
        {1046, 7, "Brazil"}, {2070, 7, "Portugal"}, {1025, 8, "Arab"}, {1040, 9, "Italy"},
        {2064, 9, "Swiss"}, {1028, 10, "Taiwan"}, {3076, 10, "HongKong"}, {1042, 11, "Korea"},
        {2066, 11, "Korea (Johab)"}, {1043, 12, "Dutch (Standard)"}, {2067, 12, "Dutch (Belgian)"},
        {1057, 13, "Indonesia (Bahasa)"}, {1055, 14, "Turkey"}, {1081, 15, "India"}, {1054, 16, "Thailand"},
        {1086, 17, "Malaysia"}, {2110, 17, "Brunei Darussalam"}, {1053, 18, "Sweden"}, {2077, 18, "Finland"},
        {1029, 19, "Czech Republic"},
        // Outside the table: English, and the identifier in decimal.
        {2053, 0, "Unknown--2053"}, {1024, 0, "Unknown--1024"}, {0, 0, "Unknown--0"}, {65535, 0, "Unknown--65535"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.langId);
        TApplyResult result = selector_->DetectLanguage(*root_, row.langId, {127, 20.0});
        EXPECT_EQ(selector_->LanguageIndex(), row.index);
        EXPECT_EQ(ComboOf(*root_).GetCurSel(), row.index);
        std::vector<Event> expected = {Country(row.country)};
        if (kFixtureLicences.count(row.index)) expected.push_back(LanguageSetting(row.index));
        EXPECT_EQ(reporter_.Take(), expected);
        EXPECT_TRUE(result.textsApplied);
        EXPECT_TRUE(result.postShowLinks);
        EXPECT_EQ(result.licenseApplied, kFixtureLicences.count(row.index) == 1);
        EXPECT_EQ(TextOf(*root_, "install_btn"), texts_->GetLanguageText(row.index, "install_page", "install_btn"));
    }
}

TEST_F(FixtureWindow, LicenceFollowsOnlyLanguagesThatHaveOne) {
    ComboForwarder forwarder(*selector_, *root_, {1, 10.0});
    host_->AddNotifier(&forwarder);
    auto& combo = ComboOf(*root_);
    auto* layout = root_->FindSubControl("license_text_layout");

    combo.SelectItem(11);  // Korean: has a licence
    EXPECT_EQ(reporter_.Take(), std::vector<Event>{LanguageSetting(11)});
    EXPECT_EQ(TextOf(*root_, "license_text"), "Korean licence");
    EXPECT_EQ(layout->GetFixedHeight(), 1175 + 170);

    combo.SelectItem(4);  // German: no licence control; the Korean licence stays
    EXPECT_EQ(reporter_.Take(), std::vector<Event>{});
    EXPECT_EQ(TextOf(*root_, "license_text"), "Korean licence");
    EXPECT_EQ(layout->GetFixedHeight(), 1175 + 170);
    EXPECT_EQ(TextOf(*root_, "install_btn"), texts_->GetLanguageText(4, "install_page", "install_btn"));
    EXPECT_EQ(selector_->LanguageIndex(), 4);

    combo.SelectItem(2);  // Simplified Chinese outside the long-licence sites
    EXPECT_EQ(reporter_.Take(), std::vector<Event>{LanguageSetting(2)});
    EXPECT_EQ(layout->GetFixedHeight(), 1095 + 170);
    ASSERT_EQ(forwarder.results.size(), 3u);
    EXPECT_FALSE(forwarder.results[1].licenseApplied);
    EXPECT_TRUE(forwarder.results[1].postShowLinks);
    host_->RemoveNotifier(&forwarder);
}

TEST_F(FixtureWindow, OtherSendersAndNotificationsAreIgnored) {
    selector_->SelectLanguageItem(*root_, 5);
    reporter_.Take();
    const std::string before = TextOf(*root_, "install_btn");
    auto notify = [](const char* type, SkinUI::CControl* sender) {
        SkinUI::TNotify msg;
        msg.type = type;
        msg.sender = sender;
        return msg;
    };
    SkinUI::TNotify click = notify("click", root_->FindSubControl("install_btn"));
    SkinUI::TNotify notCombo = notify("itemselect", root_->FindSubControl("install_btn"));
    SkinUI::TNotify wrongType = notify("click", &ComboOf(*root_));
    SkinUI::TNotify nobody = notify("itemselect", nullptr);
    for (auto* msg : {&click, &notCombo, &wrongType, &nobody})
        EXPECT_FALSE(selector_->OnLanguageSelected(*msg, *root_, {})) << msg->type;
    EXPECT_EQ(selector_->LanguageIndex(), 5);
    EXPECT_EQ(TextOf(*root_, "install_btn"), before);
    EXPECT_EQ(reporter_.Take(), std::vector<Event>{});
}

TEST(ShippedWindow, JapaneseUserGetsSimplifiedChineseAndJapanIsReported) {
    auto package = SkinUI::CSkinPackage::OpenFolder(kShippedSkin.string());
    ASSERT_TRUE(package);
    auto host = BuildWindow(package.get());
    SkinUI::CControl& root = *host->GetRoot();
    CLanguageTexts texts(package.get());
    RecordingReporter reporter;
    CLanguageSelector selector(texts, reporter);
    ComboForwarder forwarder(selector, root, {127, 0});
    host->AddNotifier(&forwarder);

    const auto langId = platform::LangIdFromUiLanguageSetting(
        platform::UiLanguageSettingFrom([](const char* name) -> std::optional<std::string> {
            if (std::string(name) == "LANG") return "ja_JP.UTF-8";
            return std::nullopt;
        }));
    ASSERT_EQ(langId, 1041);
    TApplyResult result = selector.DetectLanguage(root, langId, {127, 0});

    EXPECT_EQ(selector.LanguageIndex(), kLanguageChinese);
    EXPECT_EQ(ComboOf(root).GetCurSel(), 2);
    EXPECT_TRUE(forwarder.results.empty()) << "item 2 was already selected: no itemselect";
    EXPECT_EQ(reporter.Take(), (std::vector<Event>{Country("Japan"), LanguageSetting(2)}));
    EXPECT_TRUE(result.licenseApplied);
    EXPECT_TRUE(result.postShowLinks);
    EXPECT_EQ(TextOf(root, "install_btn"), "立即安装");
    EXPECT_EQ(TextOf(root, "license_text"), TextOf(root, "license_chinese"));
    EXPECT_NE(TextOf(root, "license_text"), "");
    EXPECT_EQ(root.FindSubControl("license_text_layout")->GetFixedHeight(), 2170) << "site 127 has the long licence";
    EXPECT_FALSE(root.FindSubControl("license_link")->IsVisible()) << "until UM_SHOW_LINKS";
    EXPECT_FALSE(root.FindSubControl("install_setting")->IsVisible());
    host->RemoveNotifier(&forwarder);
}

// Switching through every language on the shipped window: each control of the first page
// named in the language file shows that language's text, the three formats follow, and
// only the languages whose licence the layout carries report "LanguageSetting".
TEST(ShippedWindow, SwitchingLanguageChangesEveryTextOfTheFirstPage) {
    auto package = SkinUI::CSkinPackage::OpenFolder(kShippedSkin.string());
    ASSERT_TRUE(package);
    auto host = BuildWindow(package.get());
    SkinUI::CControl& root = *host->GetRoot();
    root.FindSubControl("ProductSize")->SetText("350 MB");
    CLanguageTexts texts(package.get());
    RecordingReporter reporter;
    CLanguageSelector selector(texts, reporter);
    const TApplyContext context{127, 42.25};
    ComboForwarder forwarder(selector, root, context);
    host->AddNotifier(&forwarder);
    auto& combo = ComboOf(root);

    std::map<std::string, std::string> previous;
    const std::string englishLicence = TextOf(root, "license_english");
    std::string licence;
    for (int index : {0, 2, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}) {
        const TLanguageInfo& info = LanguageTable()[index];
        SCOPED_TRACE(info.name);
        ASSERT_TRUE(combo.SelectItem(index));
        ASSERT_FALSE(forwarder.results.empty());
        EXPECT_TRUE(forwarder.results.back().textsApplied);
        EXPECT_TRUE(forwarder.results.back().postShowLinks);
        EXPECT_EQ(selector.LanguageIndex(), index);

        const auto* labels = texts.File(index)->Container("install_page");
        ASSERT_NE(labels, nullptr);
        int shown = 0;
        for (const TLanguageLabel& label : *labels) {
            SkinUI::CControl* control = root.FindSubControl(label.name);
            if (control == nullptr) continue;
            ++shown;
            std::string expected = label.text;
            if (label.name == "space_free") expected = FormatSpaceFreeText(label.text, 42.25);
            if (label.name == "space_need") expected = FormatSpaceNeedText(label.text, "350 MB");
            EXPECT_EQ(control->GetText(), expected) << label.name;
            // English to Simplified Chinese: not one text of the first page stays.
            if (index == 2) {
                EXPECT_NE(control->GetText(), previous[label.name]) << label.name;
            }
            previous[label.name] = control->GetText();
        }
        EXPECT_GE(shown, 17) << "the first page's controls";
        EXPECT_EQ(selector.ProgressFormat(), texts.GetLanguageText(index, "install_page", "install_label"));
        EXPECT_EQ(selector.SpaceNeedFormat(), texts.GetLanguageText(index, "install_page", "space_need"));
        EXPECT_EQ(selector.SpaceFreeFormat(), texts.GetLanguageText(index, "install_page", "space_free"));
        EXPECT_NE(selector.ProgressText(57), selector.ProgressFormat()) << "the percentage is filled in";
        EXPECT_EQ(TextOf(root, "space_need").find("350 MB") != std::string::npos, true);

        const bool hasLicence = kShippedLicences.count(index) == 1;
        EXPECT_EQ(reporter.Take(), hasLicence ? std::vector<Event>{LanguageSetting(index)} : std::vector<Event>{});
        if (hasLicence) licence = TextOf(root, info.licenseControl);
        EXPECT_EQ(TextOf(root, "license_text"), licence) << "a language without licence keeps the last one";
    }
    EXPECT_NE(licence, englishLicence);
    host->RemoveNotifier(&forwarder);
}

// A language file is data: duplicates, hostile formats and a broken file leave the window usable.
TEST(LanguageApply, BrokenAndHostileFilesOnTheFixtureWindow) {
    TempDir dir;
    CopyPackageFiles(dir.path(), kFixtures / "all_languages");
    const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VerticalLayout><VerticalLayout name=\"language_x\"><VerticalLayout name=\"install_page\">";
    const std::string tail = "</VerticalLayout></VerticalLayout></VerticalLayout>";
    WriteFile(dir.path() / "language" / "language_spanish.xml",
              head +
                  "<Label name=\"install_btn\" text=\"Primero\" />"
                  "<Label name=\"install_label\" text=\"%n%s%d\" />"
                  "<Label name=\"space_free\" text=\"%s%s%s%s GB\" />"
                  "<Label name=\"space_need\" text=\"%n of %d\" />"
                  "<Label name=\"install_btn\" text=\"Segundo\" />"
                  "<Label name=\"install_label\" text=\"ignored: the first one wins\" />" +
                  tail);
    WriteFile(dir.path() / "language" / "language_german.xml", head + "<Label name=\"install_btn\" text=\"kaputt\"");
    auto package = SkinUI::CSkinPackage::OpenFolder(dir.path().string());
    ASSERT_TRUE(package);
    auto host = BuildWindow(package.get());
    SkinUI::CControl& root = *host->GetRoot();
    CLanguageTexts texts(package.get());
    RecordingReporter reporter;
    CLanguageSelector selector(texts, reporter);

    selector.SelectLanguageItem(root, 3);
    TApplyResult spanish = selector.ApplyLanguage(root, {0, 7.5});
    EXPECT_TRUE(spanish.textsApplied);
    EXPECT_EQ(TextOf(root, "install_btn"), "Primero");
    EXPECT_EQ(selector.ProgressFormat(), "%n%s%d");
    EXPECT_EQ(selector.ProgressText(50), "50%s%d");
    EXPECT_EQ(TextOf(root, "space_free"), "7.5%s%s%s GB");
    EXPECT_EQ(TextOf(root, "space_need"), "350 MB of %d");

    // A file that does not build changes no text and no format, and hides nothing.
    root.FindSubControl("license_link")->SetVisible(true);
    selector.SelectLanguageItem(root, 4);
    TApplyResult german = selector.ApplyLanguage(root, {0, 7.5});
    EXPECT_EQ(selector.LanguageIndex(), 4);
    EXPECT_FALSE(german.textsApplied);
    EXPECT_FALSE(german.postShowLinks);
    EXPECT_EQ(TextOf(root, "install_btn"), "Primero");
    EXPECT_EQ(selector.ProgressFormat(), "%n%s%d");
    EXPECT_TRUE(root.FindSubControl("license_link")->IsVisible());
    EXPECT_EQ(reporter.Take(), std::vector<Event>{});
}

}  // namespace
