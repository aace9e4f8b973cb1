// How the real Setup starts and is closed: the console diagnostics only for the exact
// argument "debug", and the close button asking before anything has ended.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/WizardTestSupport.h"

using namespace std::chrono_literals;
using qvtest::FakeMakerService;

namespace {

using qvtest::kWindowClass;

class WizardClose : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test command runs one)";
        ASSERT_TRUE(qvtest::WindowsOfClass(kWindowClass).empty()) << "a wizard of another test is still open";
    }

    std::unique_ptr<qvtest::SetupRun> Start(std::vector<std::string> arguments = {}) {
        auto lines = qvtest::ServiceEnvironment(service);
        return std::make_unique<qvtest::SetupRun>(sandbox, qvtest::SetupRun::Options{lines, arguments});
    }

    qvtest::WizardSandbox sandbox;
    FakeMakerService service;
};

TEST_F(WizardClose, ConsoleDiagnosticsOnlyForTheExactWordDebug) {
    // The web-service client prints diagnostic lines (" self run success") as it starts.
    service.SetBehaviour(FakeMakerService::Endpoint::QueryDownloader, FakeMakerService::Behaviour::NotFound);
    struct Case {
        std::vector<std::string> arguments;
        bool diagnostics;
    };
    const Case cases[] = {
        {{"debug"}, true}, {{"Debug"}, false}, {{"debug "}, false}, {{"-debug"}, false}, {{"debug", "x"}, false}, {{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        auto run = Start(c.arguments);
        std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
        ASSERT_FALSE(window.empty()) << run->Output();
        ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));
        ASSERT_TRUE(run->WaitForOutput(" Configure Load From File! ", 10s)) << run->Output();
        EXPECT_EQ(run->Output().find("self run success") != std::string::npos, c.diagnostics) << run->Output();
        ASSERT_TRUE(qvtest::SendKeys(window, "alt+F4"));
        ASSERT_TRUE(run->WaitExit(10s).has_value());
    }
}

TEST_F(WizardClose, CloseButtonAsksBeforeTheInstallHasEnded) {
    auto run = Start();
    std::string window = qvtest::WaitForWindow(kWindowClass, 20s);
    ASSERT_FALSE(window.empty()) << run->Output();
    ASSERT_TRUE(qvtest::WaitForSize(window, 650, 360, 10s));

    auto close = qvtest::ControlRect("closebtn", 2);
    ASSERT_TRUE(close.has_value());
    ASSERT_TRUE(qvtest::ClickAt(window, qvtest::Centre(*close)));
    EXPECT_FALSE(qvtest::WaitForWindow("MESSAGEBOX_UI_Frame", 10s).empty()) << "no question was asked";
    EXPECT_TRUE(qvtest::WaitForHit(service, "DownloaderInfo / CloseDownloadWindow / ", 10s));
    EXPECT_TRUE(run->Running());
    for (const std::string& hit : qvtest::Hits(service)) EXPECT_NE(hit, "CrashRate / Close / ");
}

}  // namespace
