// Download results -1 to -4 as the pipeline ends them (message box, failure form,
// events), and the one retry on another location after a content-delivery failure.

#include "PipelineTestSupport.h"

namespace pipelinetest {
namespace {

constexpr const char* kCounterKey = "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MorvikBackup";

struct FailureCase {
    const char* what;
    void (*arrange)(ProductConfig& config, qvtest::TestHttpServer& server,
                    InstallPipelineOptions& options, WizardState& state);
    int result;
    MessageKind kind;
    const char* retryLabel;
};

class PipelineDownloadFailureTest : public PipelineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PipelineDownloadFailureTest, ShowsItsMessageThenTheFailureForm) {
    const FailureCase& failure = GetParam();
    InstallPipelineOptions options = Options();
    failure.arrange(config_, server_, options, state_);

    EXPECT_EQ(Run(options), -1);
    server_.releaseStalls();

    ExpectFailureEnding(failure.kind);
    // The box is modal on the pipeline thread: the failure form follows it.
    EXPECT_LT(view_.IndexOf("message"), view_.IndexOf("failureForm"));
    EXPECT_FALSE(fs::exists(InstallDirectory()));
    const std::string code = std::to_string(failure.result);
    const std::vector<Hit> funnel = Funnel(Hits());
    ASSERT_GE(funnel.size(), 6u);
    const std::vector<Hit> tail(funnel.end() - 4, funnel.end());
    EXPECT_EQ(tail, (std::vector<Hit>{{"DownloadTime", failure.result == -4 ? "CDN" : "Server", tail[0].label},
                                      {"Other", "DownErrorCode", "error" + code},
                                      {"DownloaderInfo00", "DownloaderFailed", code},
                                      {"Download", "8.DownFail", failure.retryLabel}}));
    EXPECT_TRUE(Has(funnel, {"Download", "3.Downloading...", failure.retryLabel}));
    // Only a content-delivery failure counts against content delivery.
    EXPECT_EQ(hklm_->GetString(kCounterKey, "RequestTooMuchTimes").value_or(""), failure.result == -4 ? "1" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Results, PipelineDownloadFailureTest,
    ::testing::Values(
        FailureCase{"incomplete_or_not_started",
                    [](ProductConfig& config, qvtest::TestHttpServer& server, InstallPipelineOptions&,
                       WizardState&) {
                        config.Download_url = server.url("/files/none.exe");
                        config.remotePaths = {config.Download_url};
                    },
                    -1, MessageKind::UrlFail, "First"},
        FailureCase{"network_down_on_a_retry",
                    [](ProductConfig&, qvtest::TestHttpServer&, InstallPipelineOptions& options,
                       WizardState& state) {
                        options.networkAlive = [] { return false; };
                        state.isRetry = true;
                    },
                    -2, MessageKind::InternetFail, "Retry"},
        FailureCase{"no_data_for_the_stall_limit",
                    [](ProductConfig&, qvtest::TestHttpServer& server, InstallPipelineOptions&,
                       WizardState&) {
                        qvtest::FileOptions stall;
                        stall.fault = qvtest::FaultKind::Stall;
                        stall.faultAt = 100000;
                        stall.faultTimes = -1;
                        stall.stallMs = 20000;
                        server.setOptions("/files/MorvikBackupSetup.exe", stall);
                    },
                    -3, MessageKind::InternetTimeout, "First"},
        FailureCase{"content_delivery_gives_up_with_no_other_location",
                    [](ProductConfig& config, qvtest::TestHttpServer& server,
                       InstallPipelineOptions&, WizardState&) {
                        qvtest::FileOptions drop;
                        drop.fault = qvtest::FaultKind::Drop;
                        drop.faultAt = 0;
                        drop.faultPerResponse = true;
                        drop.faultTimes = -1;
                        server.serveFile("/dl.files/MorvikBackupSetup.exe", ReadFile(kSampleInstaller), drop);
                        config.Download_url = server.url("/dl.files/MorvikBackupSetup.exe");
                        config.Extra_download_url = config.Download_url;
                        config.remotePaths = {config.Download_url};
                        config.Downloader_type = 2;
                    },
                    -4, MessageKind::InternetTimeout, "First"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(PipelineTest, ContentDeliveryFailureIsRetriedOnceOnAnotherLocation) {
    qvtest::FileOptions drop;
    drop.fault = qvtest::FaultKind::Drop;
    drop.faultPerResponse = true;
    drop.faultTimes = -1;
    server_.serveFile("/dl.files/MorvikBackupSetup.exe", installer_, drop);
    const std::string cdn = server_.url("/dl.files/MorvikBackupSetup.exe");
    const std::string plain = server_.url("/files/MorvikBackupSetup.exe");
    config_.Download_url = cdn;
    config_.Extra_download_url = cdn;
    config_.remotePaths = {cdn, plain};
    config_.Downloader_type = 2;  // the first content-delivery location

    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(LogHas(" Use New Url: " + plain + "\n"));
    EXPECT_EQ(state_.DownloadUrl(), plain);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_FALSE(hklm_->GetString(kCounterKey, "RequestTooMuchTimes").has_value());
    const std::vector<Hit> funnel = Funnel(Hits());
    EXPECT_EQ(Only(funnel, "Download"), (std::vector<Hit>{{"Download", "3.Downloading...", "First"},
                                                          {"Download", "3.Downloading...", "First"},
                                                          {"Download", "4.DownFinsh", "First"},
                                                          {"Download", "5.ProgramInstall", "First"},
                                                          {"Download", "6.ProgramFinsh", "First"}}));
    // The time is filed under the location that was finally used.
    EXPECT_EQ(Only(funnel, "DownloadTime"), (std::vector<Hit>{{"DownloadTime", "Server", "<bucket>"}}));
}

TEST_F(PipelineTest, ContentDeliveryFailureWithOnlyEqualLocationsIsNotRetried) {
    qvtest::FileOptions drop;
    drop.fault = qvtest::FaultKind::Drop;
    drop.faultPerResponse = true;
    drop.faultTimes = -1;
    server_.serveFile("/dl.files/MorvikBackupSetup.exe", installer_, drop);
    const std::string cdn = server_.url("/dl.files/MorvikBackupSetup.exe");
    config_.Download_url = cdn;
    config_.Extra_download_url = cdn;
    config_.remotePaths = {cdn, cdn};
    config_.Downloader_type = 2;

    EXPECT_EQ(Run(), -1);
    EXPECT_FALSE(LogHas(" Use New Url: "));
    ExpectFailureEnding(MessageKind::InternetTimeout);
    EXPECT_EQ(Only(Funnel(Hits()), "Download").front(), (Hit{"Download", "3.Downloading...", "First"}));
    EXPECT_EQ(Only(Funnel(Hits()), "Download").size(), 2u) << "one download, then 8.DownFail";
}

}  // namespace
}  // namespace pipelinetest
