// The install pipeline from the download to the installed product, against the range
// server serving the signed sample installer and the fake maker service: the happy path
// with its funnel, the reuse of a vouched-for download, the verification verdicts, the
// installer that keeps running or cannot start, and configurations whose names would
// leave their folders.

#include <signal.h>

#include <chrono>
#include <cstdlib>

#include "Common/InstalledLanguage.h"
#include "PipelineTestSupport.h"
#include "platform/Process.h"

namespace pipelinetest {
namespace {

std::string ExpectedCommandLine(const fs::path& installDirectory, const fs::path& temporary) {
    return " /VERYSILENT /SP- /NORESTART /DIR=\"" + installDirectory.string() + "/\" /LANG=zhcn /LOG=\"" +
           temporary.string() + "/MorvikBackup_Setup_20261209080705.log\"";
}

TEST_F(PipelineTest, HappyPathDownloadsVerifiesInstallsAndReportsTheFunnel) {
    // Speed test over two locations; the second does not answer, so the first is used.
    config_.Downloader_type = 3;
    config_.remotePaths.push_back(server_.url("/files/missing.exe"));
    view_.SetText("product_url_chinesesimp", "http://127.0.0.1:9/product-page");
    ASSERT_EQ(hklm_->CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);

    EXPECT_EQ(Run(), 0);

    // The product is installed where the path box says, in the window's language.
    ASSERT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_EQ(ReadFile(InstallDirectory() / "LANGUAGE"), "zhcn\n");
    const std::string commandLine = ExpectedCommandLine(InstallDirectory(), root_ / "tmp");
    EXPECT_TRUE(LogHas(" [Download File Path]: " + InstallerPath().string() + "\n")) << Log();
    EXPECT_TRUE(LogHas(" [Start Install CmdLine]: " + commandLine + "\n")) << Log();
    // The installer wrote its own log where /LOG= told it to.
    EXPECT_NE(ReadFile(root_ / "tmp" / "MorvikBackup_Setup_20261209080705.log").find("installed into"),
              std::string::npos);
    EXPECT_TRUE(LogHas(" Speed-Test Totally Take "));
    EXPECT_TRUE(LogHas(" Download Totally Takes about 0s And Send To Server"));
    EXPECT_TRUE(LogHas(" Install Totally Take 0.0 minutes And Send To Server"));
    EXPECT_TRUE(LogHas(" Open Url: http://127.0.0.1:9/product-page"));
    EXPECT_EQ(state_.DownloadUrl(), config_.Download_url);

    // Progress: the speed test fills 10 %, the download follows from there, the install
    // ends at 100; the bar never goes back.
    const std::vector<int> progress = view_.ProgressHistory("install_progress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_NE(std::find(progress.begin(), progress.end(), 10), progress.end());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << ::testing::PrintToString(progress);
    EXPECT_EQ(view_.Text("install_label"), "100%");

    // Finished state: first page, no failure form, close without asking, done posted once.
    EXPECT_EQ(view_.Page("main_tablayout"), 0);
    EXPECT_FALSE(view_.Visible("text_fail_retry"));
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.DoneCount(), 1);
    EXPECT_TRUE(view_.SlideTimerStopped());
    EXPECT_EQ(state_.closeConfirmKind.load(), static_cast<int>(MessageKind::CloseWithoutAsking));
    EXPECT_EQ(view_.OpenedUrls(), std::vector<std::string>{"http://127.0.0.1:9/product-page"});
    EXPECT_EQ(hklm_->GetString(std::string(kUninstallKeyNative) + "\\{MorvikBackup}_is1", "Inno Setup: Language"),
              "zhcn");
    EXPECT_TRUE(fs::exists(InstallerPath().string() + ".db")) << "the digest check leaves its record";

    const std::vector<Hit> hits = Hits();
    EXPECT_EQ(Funnel(hits), (std::vector<Hit>{{"DownloaderInfo", "BeginDownload001", ""},
                                              {"DownloaderInfo", "UrlUsed", "1"},
                                              {"Download", "3.Downloading...", "First"},
                                              {"DownloadTime", "Server", "0s"},
                                              {"DownloaderInfo00", "DownloadSuccess001", ""},
                                              {"DownloaderInfo", "BeginInstall001", ""},
                                              {"Download", "4.DownFinsh", "First"},
                                              {"Download", "5.ProgramInstall", "First"},
                                              {"DownloaderInfo00", "InstallFinish001", ""},
                                              {"Download", "6.ProgramFinsh", "First"},
                                              {"DownloaderInfo00", "InstalllProgramTime", "0.0"}}));
    EXPECT_TRUE(Has(hits, {"DownloaderInfo", "TotalRequestTimes", "1"})) << "the download layer's figures arrive too";
    EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), 0u);
    EXPECT_FALSE(Has(hits, {"Download", "8.DownFail", "First"}));
}

}  // namespace
}  // namespace pipelinetest
