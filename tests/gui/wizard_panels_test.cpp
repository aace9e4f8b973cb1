// The first page of the real Setup, driven with the pointer: the settings and licence
// panel opening and closing (window height 560 / 360), switching between them, and the
// licence consent gating the install button. Screenshots of each state in Simplified
// Chinese (the shipped skin), and in English, Arabic and Hindi (a skin offering every
// language, chosen by the system locale).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/WizardTestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qvtest::FakeMakerService;

namespace {

using qvtest::kWindowClass;
using qvtest::kChinese;
using qvtest::kEnglish;
constexpr int kArabic = 8;
constexpr int kHindi = 15;

// The locale that makes Setup choose a language of the skin offering every language.
const char* LocaleOf(int languageIndex) {
    switch (languageIndex) {
        case kArabic: return "ar_SA.UTF-8";
        case kHindi: return "hi_IN.UTF-8";
        default: return "en_US.UTF-8";
    }
}

class WizardPanels : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        // The test lays the window out itself to find where to click; its skin must offer
        // the languages the runs show. Control places do not depend on the combo's items.
        skinRoot_ = new qvtest::WizardSandbox();
        allLanguages_ = qvtest::SkinWithAllLanguages(skinRoot_->Root());
        setenv("SETUP_SKIN_DIR", allLanguages_.c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete skinRoot_;
        skinRoot_ = nullptr;
    }

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
    }

    // Chinese: the shipped skin (only Simplified Chinese offered); the others: every language
    // offered.
    void Start(int languageIndex) {
        language_ = languageIndex;
        auto lines = qvtest::ServiceEnvironment(service);
        if (languageIndex != kChinese) {
            lines.push_back("SETUP_SKIN_DIR=" + allLanguages_.string());
            lines.push_back(std::string("LANG=") + LocaleOf(languageIndex));
        } else {
            // The shipped skin's own files (the package is built from them).
            lines.push_back("SETUP_SKIN_DIR=" + (fs::path(QV_SOURCE_DIR) / "skin").string());
            lines.push_back("LANG=ja_JP.UTF-8");
        }
        lines.push_back("LC_ALL=");
        lines.push_back("LC_MESSAGES=");
        run_ = std::make_unique<qvtest::SetupRun>(sandbox, qvtest::SetupRun::Options{lines, {}});
        window_ = qvtest::WaitForWindow(kWindowClass, 20s);
        ASSERT_FALSE(window_.empty()) << run_->Output();
        ASSERT_TRUE(qvtest::WaitForSize(window_, 650, 360, 10s));
        ASSERT_TRUE(qvtest::WaitForHit(service, "Download / 1.Launch / ", 15s));
    }

    void TearDown() override {
        if (run_) {
            qvtest::SendKeys(window_, "alt+F4");
            EXPECT_TRUE(run_->WaitExit(10s).has_value());
        }
    }

    int Height() {
        auto geometry = qvtest::GetGeometry(window_);
        return geometry ? geometry->height : 0;
    }

    void ClickControl(const std::string& name) {
        auto rect = qvtest::ControlRect(name, language_, Height());
        ASSERT_TRUE(rect.has_value()) << name;
        ASSERT_TRUE(qvtest::ClickAt(window_, qvtest::Centre(*rect)));
    }

    void ClickLicenceLink() {
        auto rect = qvtest::LinkRect("license_link", 0, language_, Height());
        ASSERT_TRUE(rect.has_value());
        ASSERT_TRUE(qvtest::ClickAt(window_, qvtest::Centre(*rect)));
    }

    void ExpectHeight(int height) { EXPECT_TRUE(qvtest::WaitForSize(window_, 650, height, 5s)) << "height " << Height(); }

    void Shoot(const std::string& name) {
        // The toolkit paints on its own thread after a resize; give it a moment to settle.
        qvtest::WaitUntil([] { return false; }, 300ms);
        EXPECT_TRUE(qvtest::ScreenshotPainted(qvtest::ScreenshotPath(name, sandbox.Root()), window_, 10s)) << name;
    }

    std::size_t CountHits(const std::string& hit) {
        auto hits = qvtest::Hits(service);
        return static_cast<std::size_t>(std::count(hits.begin(), hits.end(), hit));
    }

    // Settings open and close, the licence link switches the open panel to the licence
    // without closing it, and closes it when the licence already shows.
    void Walk(int languageIndex, const std::string& suffix) {
        Start(languageIndex);
        if (HasFatalFailure()) return;
        Shoot("wizard_first_page_" + suffix + ".png");

        ClickControl("install_setting");
        ExpectHeight(560);
        EXPECT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / DownloadSetting / ", 10s));
        Shoot("wizard_settings_" + suffix + ".png");
        ClickControl("install_setting");
        ExpectHeight(360);

        ClickLicenceLink();
        ExpectHeight(560);
        Shoot("wizard_license_" + suffix + ".png");
        ClickLicenceLink();
        ExpectHeight(360);

        // Settings open, then the licence link: the panel stays open and shows the licence;
        // the link again folds it.
        ClickControl("install_setting");
        ExpectHeight(560);
        ClickLicenceLink();
        qvtest::WaitUntil([] { return false; }, 300ms);
        EXPECT_EQ(Height(), 560);
        ClickLicenceLink();
        ExpectHeight(360);
    }

    static qvtest::WizardSandbox* skinRoot_;
    static fs::path allLanguages_;

    qvtest::WizardSandbox sandbox;
    FakeMakerService service;
    std::unique_ptr<qvtest::SetupRun> run_;
    std::string window_;
    int language_ = kChinese;
};

qvtest::WizardSandbox* WizardPanels::skinRoot_ = nullptr;
fs::path WizardPanels::allLanguages_;

TEST_F(WizardPanels, SettingsAndLicenceInSimplifiedChinese) { Walk(kChinese, "zh"); }

TEST_F(WizardPanels, SettingsAndLicenceInEnglish) { Walk(kEnglish, "en"); }

TEST_F(WizardPanels, SettingsAndLicenceInArabic) { Walk(kArabic, "ar"); }

TEST_F(WizardPanels, SettingsAndLicenceInHindi) { Walk(kHindi, "hi"); }

TEST_F(WizardPanels, LicenceConsentGatesTheInstallButton) {
    Start(kEnglish);
    ClickControl("license_checkbox");
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / DisagreeTermsService / ", 10s));
    // A disabled button sends no click: nothing starts.
    ClickControl("install_btn");
    qvtest::WaitUntil([] { return false; }, 500ms);
    EXPECT_EQ(CountHits("DownloaderInfo00 / ClickInstall001 / "), 0u);
    EXPECT_EQ(Height(), 360);

    ClickControl("license_checkbox");
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo / AgreeProxy / ", 10s));
    EXPECT_EQ(CountHits("DownloaderInfo00 / DisagreeTermsService / "), 1u);
}

}  // namespace
