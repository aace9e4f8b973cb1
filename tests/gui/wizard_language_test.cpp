// Switching the interface language in the real Setup through the settings panel's combo,
// on a skin offering English, Japanese and Simplified Chinese: the first page's texts
// change, and "LanguageSetting" is reported only for a language whose licence the layout
// carries (the layout has no Japanese licence).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/WizardTestSupport.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using qvtest::kWindowClass;
using qvtest::kEnglish;
constexpr int kJapanese = 1;
using qvtest::kChinese;

using qvtest::ReadFile;

class WizardLanguage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        skinRoot_ = new qvtest::WizardSandbox();
        skin_ = qvtest::SkinOffering(skinRoot_->Root(), {kEnglish, kJapanese, kChinese});
        // The test lays the window out itself to find the combo's items.
        setenv("SETUP_SKIN_DIR", skin_.c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete skinRoot_;
        skinRoot_ = nullptr;
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
    }

    static qvtest::WizardSandbox* skinRoot_;
    static fs::path skin_;
    qvtest::WizardSandbox sandbox;
    qvtest::FakeMakerService service;
};

qvtest::WizardSandbox* WizardLanguage::skinRoot_ = nullptr;
fs::path WizardLanguage::skin_;

TEST_F(WizardLanguage, SwitchingChangesTheTextsAndReportsOnlyLanguagesWithALicence) {
    auto lines = qvtest::ServiceEnvironment(service);
    lines.insert(lines.end(), {"SETUP_SKIN_DIR=" + skin_.string(), "LANG=en_US.UTF-8", "LC_ALL=", "LC_MESSAGES="});
    qvtest::SetupRun run(sandbox, {lines, {}});
    const std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
    ASSERT_FALSE(window.empty()) << run.Output();
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToEnglish", 15s));

    auto settings = qvtest::ControlRect("install_setting", kEnglish, 360);
    ASSERT_TRUE(settings.has_value());
    ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*settings)));
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 560, 5s));

    // The install button's face, as it shows now.
    auto button = qvtest::ControlRect("install_btn", kEnglish, 560);
    ASSERT_TRUE(button.has_value());
    auto face = [&](const std::string& name) {
        auto geometry = qvtest::GetGeometry(window);
        const fs::path file = sandbox.Root() / name;
        std::ostringstream crop;
        crop << button->Width() << "x" << button->Height() << "+" << geometry->x + button->left << "+"
             << geometry->y + button->top;
        qvtest::WaitUntil([] { return false; }, 300ms);  // the repaint after the change
        EXPECT_EQ(qvtest::Shell("import -window root -crop " + crop.str() + " +repage -strip " + file.string()), 0);
        return ReadFile(file);
    };
    const std::string english = face("english.png");

    auto choose = [&](int item, int shownLanguage) {
        const qvtest::TabPages panel{{"set_layout", 1}};
        auto combo = qvtest::ControlRect("language_combox", shownLanguage, 560, panel);
        ASSERT_TRUE(combo.has_value());
        ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*combo)));
        auto entry = qvtest::ComboItemRect("language_combox", item, shownLanguage, 560, panel);
        ASSERT_TRUE(entry.has_value());
        qvtest::WaitUntil([] { return false; }, 200ms);  // the list opens on the window's thread
        ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*entry)));
    };

    service.ClearRequests();
    choose(kJapanese, kEnglish);
    const std::string japanese = face("japanese.png");
    EXPECT_NE(japanese, english) << "the install button kept its English text";
    choose(kChinese, kJapanese);
    ASSERT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToChinese", 10s));
    const std::string chinese = face("chinese.png");
    EXPECT_NE(chinese, japanese);
    for (const std::string& hit : qvtest::Hits(service))
        EXPECT_NE(hit, "DownloaderInfo00 / LanguageSetting / ChangeLanguageToJapanese");

    ASSERT_TRUE(qvtest::SendKeys(window, "alt+F4"));
    EXPECT_TRUE(run.WaitExit(10s).has_value());
}

}  // namespace
