// Single stages of the install pipeline, run alone on files put in place by the test:
// the verdicts of the verify stage as a table, the reuse check of a configuration from the
// skin, the download folder's lock held for as long as the attempt lives, and the install
// stage refusing a file the verify stage never checked. A stage shows nothing itself: the
// ending (message box, failure form) is the pipeline's choice.

#include <sys/stat.h>

#include "PipelineTestSupport.h"
#include "tests/support/RecordingReporter.h"

namespace pipelinetest {
namespace {

using qvtest::RecordedEvent;

class PipelineStageTest : public PipelineTest {
protected:
    // An attempt as the stages before the one under test leave it.
    InstallAttempt Attempt() {
        InstallAttempt attempt;
        attempt.config = &config_;
        attempt.retryLabel = "First";
        attempt.downloadDirectory = TemporaryDownloadDirectory().string() + "/";
        attempt.location = config_.Download_url;
        attempt.remotePaths = config_.remotePaths;
        attempt.installerPath = InstallerPath().string();
        attempt.taskPath = attempt.installerPath + ".xml";
        return attempt;
    }

    std::string LastFailureReport() {
        const auto reports = service_.Requests(Endpoint::ExceptionSend);
        return reports.empty() ? std::string() : reports.back().body;
    }

    qvtest::RecordingReporter events_;
};

TEST_F(PipelineStageTest, VerifyTellsEachVerdictAndReportsEveryFailedCheck) {
    std::string tampered = installer_;
    tampered[tampered.size() / 2] ^= 0x01;

    struct Case {
        const char* what;
        bool tamper;       // one bit of the signed installer flipped
        bool rightDigest;  // the configured checksum is the file's
        int loadSource;
        bool present;
        VerifyResult result;
        const char* reportCode;  // the failure report's exception code; nullptr: none sent
    };
    const Case cases[] = {
        {"signed, right checksum", false, true, CONFIG_SOURCE_SERVICE, true, VerifyResult::Passed, nullptr},
        {"signed, wrong checksum", false, false, CONFIG_SOURCE_SERVICE, true, VerifyResult::DigestMismatch,
         "MD5_Check_Fail_Cfg1"},
        {"tampered, its own checksum", true, true, CONFIG_SOURCE_SERVICE, true, VerifyResult::SignatureRefused,
         "Hash_Check_Fail_Cfg1"},
        {"tampered, wrong checksum", true, false, CONFIG_SOURCE_SERVICE, true, VerifyResult::SignatureRefused,
         "MD5_Hash_Check_Fail_Cfg1"},
        // The skin's configuration has no checksum worth checking; the signature still counts.
        {"skin configuration, wrong checksum", false, false, CONFIG_SOURCE_SKIN, true, VerifyResult::Passed, nullptr},
        {"skin configuration, tampered", true, false, CONFIG_SOURCE_SKIN, true, VerifyResult::SignatureRefused,
         "Hash_Check_Fail_Cfg2"},
        // A file that cannot be read has no digest to match: both checks fail, and the
        // report says so.
        {"no file", false, true, CONFIG_SOURCE_SERVICE, false, VerifyResult::SignatureRefused,
         "MD5_Hash_Check_Fail_Cfg1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(TemporaryDownloadDirectory());
        fs::create_directories(TemporaryDownloadDirectory());
        const std::string& bytes = c.tamper ? tampered : installer_;
        if (c.present) WriteFile(InstallerPath(), bytes);
        config_.Md5 = c.rightDigest ? Md5Hex(bytes) : std::string(32, '0');
        config_.loadSource = c.loadSource;
        const std::size_t reportsBefore = service_.Count(Endpoint::ExceptionSend);
        events_.Take();

        CInstallPipeline pipeline(view_, state_, events_, Options());
        InstallAttempt attempt = Attempt();
        const VerifyResult result = pipeline.Verify(attempt);

        EXPECT_EQ(result, c.result) << to_string(result);
        if (c.reportCode == nullptr) {
            EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), reportsBefore);
        } else {
            EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), reportsBefore + 1);
            EXPECT_EQ(LastFailureReport(), std::string("pid=81&type=2&exception_code=") + c.reportCode);
        }
        const std::vector<RecordedEvent> refused = {{"DownloaderInfo00", "DownloaderFailed", "-5", false}};
        EXPECT_EQ(events_.events(), c.result == VerifyResult::SignatureRefused ? refused : std::vector<RecordedEvent>{});
        // What was checked is pinned for the install: read-only, its identity taken.
        EXPECT_EQ(attempt.checkedIdentity.has_value(), c.present);
        struct stat info {};
        if (c.present && ::stat(InstallerPath().c_str(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 0222, 0u);
        }
    }
    EXPECT_TRUE(view_.Calls().empty()) << "the stage leaves the ending to the pipeline";
}

TEST_F(PipelineStageTest, ReuseCheckKeepsAVouchedFileUnlessTheConfigurationCameFromTheSkin) {
    const std::pair<int, ReuseResult> cases[] = {
        {CONFIG_SOURCE_SERVICE, ReuseResult::Kept},
        {CONFIG_SOURCE_SKIN, ReuseResult::SkinConfiguration},
    };
    for (const auto& [source, expected] : cases) {
        SCOPED_TRACE(source);
        config_.loadSource = source;
        WriteFile(InstallerPath(), installer_);
        WriteFile(InstallerPath().string() + ".xml", "<TaskInfo/>");
        WriteFile(InstallerPath().string() + ".db", "1.0.0.0###" + config_.Md5);

        CInstallPipeline pipeline(view_, state_, events_, Options());
        InstallAttempt attempt = Attempt();
        attempt.installerPath.clear();  // the stage names the files itself
        attempt.taskPath.clear();
        const ReuseResult result = pipeline.CheckReuse(attempt);

        EXPECT_EQ(result, expected) << to_string(result);
        EXPECT_EQ(attempt.installerPath, InstallerPath().string());
        EXPECT_EQ(attempt.taskPath, InstallerPath().string() + ".xml");
        const bool kept = expected == ReuseResult::Kept;
        EXPECT_EQ(fs::exists(InstallerPath()), kept);
        EXPECT_EQ(fs::exists(InstallerPath().string() + ".xml"), kept);
        EXPECT_FALSE(fs::exists(InstallerPath().string() + ".db"));
    }
    EXPECT_TRUE(LogHas(" Configure Load From File, clearAppData Before Download! "));
    EXPECT_TRUE(events_.events().empty());
}

TEST_F(PipelineStageTest, PrepareHoldsTheDownloadFolderForAsLongAsTheAttemptLives) {
    InstallPipelineOptions options = Options();
    options.folderLockWaitMs = 0;
    CInstallPipeline first(view_, state_, events_, options);
    CInstallPipeline second(view_, state_, events_, options);

    auto held = std::make_unique<InstallAttempt>();
    ASSERT_EQ(first.Prepare(*held), PrepareResult::Ready);
    EXPECT_EQ(held->downloadDirectory, TemporaryDownloadDirectory().string() + "/");
    EXPECT_EQ(held->config, &config_);

    InstallAttempt waiting;
    EXPECT_EQ(second.Prepare(waiting), PrepareResult::FolderBusy);
    held.reset();
    InstallAttempt after;
    EXPECT_EQ(second.Prepare(after), PrepareResult::Ready);

    // Without a configuration nothing is made, and the failure is only reported.
    state_.configure = nullptr;
    events_.Take();
    InstallAttempt none;
    EXPECT_EQ(first.Prepare(none), PrepareResult::NoConfiguration);
    EXPECT_EQ(events_.events(), (std::vector<RecordedEvent>{{"DownloaderInfo", "BeginDownload001", "", false},
                                                           {"DownloaderInfo00", "DownloaderFailed", "Unknown", false}}));
    EXPECT_TRUE(view_.Calls().empty());
}

TEST_F(PipelineStageTest, InstallStartsNoFileTheVerifyStageDidNotCheck) {
    WriteFile(InstallerPath(), installer_);  // the signed sample, but never verified
    WriteFile(InstallerPath().string() + ".xml", "<TaskInfo/>");
    CInstallPipeline pipeline(view_, state_, events_, Options());
    InstallAttempt attempt = Attempt();

    EXPECT_EQ(pipeline.Install(attempt), InstallResult::ChangedAfterCheck);
    EXPECT_EQ(pipeline.InstallerPid(), -1);
    EXPECT_FALSE(fs::exists(InstallDirectory()));
    EXPECT_FALSE(fs::exists(InstallerPath()));
    EXPECT_FALSE(fs::exists(InstallerPath().string() + ".xml"));
    const std::vector<RecordedEvent> events = events_.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (RecordedEvent{"DownloaderInfo00", "DownloaderFailed", "-5", false}));
    EXPECT_TRUE(view_.Messages().empty());
}

}  // namespace
}  // namespace pipelinetest
