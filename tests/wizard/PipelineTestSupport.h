#pragma once
// Shared by the install pipeline's tests: a fresh folder per test (temporary folder,
// registry hives, install target, process log), the fake maker service collecting the
// analytics hits and failure reports, a range server serving the signed sample product
// installer, a configuration pointing at it, and the recording view.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "src/wizard/CInstallPipeline.h"
#include "src/wizard/WizardState.h"
#include "platform/ProcessLogger.h"
#include "platform/RegistryStore.h"
#include "tests/support/Digests.h"
#include "tests/support/FakeMakerService.h"
#include "tests/support/RecordingInstallView.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"
#include "src/telemetry/UserLogReporter.h"
#include "src/telemetry/WebLog.h"

namespace pipelinetest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;

inline const std::string kSampleInstaller = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";
inline constexpr const char* kInstallerName = "MorvikBackupSetup1.0.0.0.exe";  // file name + version + ".exe"
inline constexpr const char* kStem = "MorvikBackupSetup";

using qvtest::ReadFile;
using qvtest::WriteFile;

using qvtest::Md5Hex;

// Passes every event on to the real reporter and counts them, so a test knows how many
// hits the collector must end up with.
class CountingReporter : public IEventReporter {
public:
    explicit CountingReporter(IEventReporter& next) : next_(next) {}
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override {
        ++count_;
        return next_.ReportEvent(category, action, label, immediate);
    }
    std::size_t Count() const { return count_.load(); }

private:
    IEventReporter& next_;
    std::atomic<std::size_t> count_{0};
};

struct Hit {
    std::string category, action, label;
    bool operator==(const Hit&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Hit& hit) {
    return out << hit.category << "/" << hit.action << "/" << hit.label;
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "tmp");
        fs::create_directories(root_ / "registry");
        fs::create_directories(root_ / "desktop");
        ASSERT_TRUE(qvlog::ConfigureLogFile((root_ / "setup.log").string()));

        WebLogOptions client;
        client.endpoints = service_.Endpoints();
        client.registryFolder = root_ / "registry";
        UserLogReporterOptions options;
        options.createClient = [client] { return new WebLog(client); };
        options.propertyId = "UA-555-1";
        options.version = "1.0.0.0";
        options.osDescription = "Debian GNU/Linux 12 (bookworm) 64bit";
        options.localeName = "Chinese_China";
        options.idleSleep = 10ms;
        analytics_ = std::make_unique<UserLogReporter>(options);
        reporter_ = std::make_unique<CountingReporter>(*analytics_);

        hklm_ = std::make_unique<platform::RegistryStore>(platform::RegistryHive::LocalMachine, root_ / "registry");
        hkcu_ = std::make_unique<platform::RegistryStore>(platform::RegistryHive::CurrentUser, root_ / "registry");

        installer_ = ReadFile(kSampleInstaller);
        ASSERT_GT(installer_.size(), 1000u);
        server_.serveFile("/files/MorvikBackupSetup.exe", installer_);

        config_.loadState = CONFIG_LOADED;
        config_.loadSource = CONFIG_SOURCE_SERVICE;
        config_.Downloader_id = 81;
        config_.Downloader_type = 1;
        config_.Software_name = "MorvikBackup";
        config_.Software_version = "1.0.0.0";
        config_.Process_name = "MorvikBackup.exe";
        config_.Download_url = server_.url("/files/MorvikBackupSetup.exe");
        config_.Extra_download_url = config_.Download_url;
        config_.remotePaths = {config_.Download_url};
        config_.Md5 = Md5Hex(installer_);

        state_.configure = &config_;
        state_.downloaderId = 81;
        state_.productFolderName = "MorvikBackup";
        state_.downloadDir = (root_ / "desktop" / kStem).string();
        state_.languageIndex = 2;
        state_.SetProgressFormat("%0.f%%");
        view_.SetInstallDirectory(InstallDirectory().string());
    }

    void TearDown() override {
        analytics_.reset();
    }

    InstallPipelineOptions Options() {
        InstallPipelineOptions options;
        options.download.noSpeedEventMs = 500;
        options.download.stallLimitMs = 2000;
        options.download.rangeTimeouts.requestMs = 2000;
        options.download.rangeTimeouts.connectMs = 1000;
        options.speedTest.steps = 1;
        options.speedTest.stepMs = 300;
        options.speedTest.rangeTimeouts = options.download.rangeTimeouts;
        options.installerWait.waitMs = 200;
        options.installerWait.pauseMs = 50;
        options.networkAlive = [] { return true; };
        const std::string temporary = (root_ / "tmp").string() + "/";
        options.temporaryDirectory = [temporary] { return temporary; };
        options.localTime = [] {
            std::tm when{};
            when.tm_year = 2026 - 1900;
            when.tm_mon = 11;
            when.tm_mday = 9;
            when.tm_hour = 8;
            when.tm_min = 7;
            when.tm_sec = 5;
            return when;
        };
        options.exceptionUrl = service_.UrlOf(Endpoint::ExceptionSend);
        options.localMachine = hklm_.get();
        options.currentUser = hkcu_.get();
        return options;
    }

    int Run(const InstallPipelineOptions& options) {
        CInstallPipeline pipeline(view_, state_, *reporter_, options);
        const int result = pipeline.InstallThreadFunc();
        installerPid_ = pipeline.InstallerPid();
        return result;
    }
    int Run() { return Run(Options()); }

    // Every hit the pipeline and the layers below it reported, as the collector got them.
    std::vector<Hit> Hits() {
        // The reporter sends its own launch hit besides the ones counted here.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        std::vector<Hit> hits;
        for (;;) {
            hits.clear();
            std::size_t counted = 0;
            for (const auto& hit : service_.Requests(Endpoint::Collect)) {
                hits.push_back({hit.Field("ec"), hit.Field("ea"), hit.Field("el")});
                if (hits.back().action != "launchDownloader001") ++counted;
            }
            if (counted >= reporter_->Count()) break;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the collector got " << counted << " of " << reporter_->Count() << " hits";
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        return hits;
    }
    // The pipeline's own hits, in order: from its first one on, without the download
    // layer's size probes and speed figures.
    static std::vector<Hit> Funnel(const std::vector<Hit>& hits) {
        std::vector<Hit> kept;
        bool started = false;
        for (const auto& hit : hits) {
            started = started || hit.action == "BeginDownload001";
            if (!started || hit.category == "GetSize" || hit.category == "DownloadSpeed" || hit.action == "TotalRequestTimes" ||
                hit.action == "DownloadRateMin" || hit.action == "DownloadRateMax" || hit.action == "NoDownloadSpeed") {
                continue;
            }
            kept.push_back(TimingAsPlaceholder(hit));
        }
        return kept;
    }
    // Durations depend on how busy the machine is, so the funnel keeps only their shape:
    // a download time bucket becomes "<bucket>", install minutes "<minutes>". The bucket and
    // minute rules themselves are checked with fixed inputs elsewhere.
    static Hit TimingAsPlaceholder(Hit hit) {
        static const std::regex bucket(R"(0s|\[\d+~\d+s\])");
        static const std::regex minutes(R"(\d+\.\d)");
        if (hit.category == "DownloadTime") {
            EXPECT_TRUE(std::regex_match(hit.label, bucket)) << hit.label;
            hit.label = "<bucket>";
        } else if (hit.action == "InstalllProgramTime") {
            EXPECT_TRUE(std::regex_match(hit.label, minutes)) << hit.label;
            hit.label = "<minutes>";
        }
        return hit;
    }
    // The hits of one category, in order.
    static std::vector<Hit> Only(const std::vector<Hit>& hits, const std::string& category) {
        std::vector<Hit> kept;
        for (const auto& hit : hits) {
            if (hit.category == category) kept.push_back(hit);
        }
        return kept;
    }
    static bool Has(const std::vector<Hit>& hits, const Hit& wanted) {
        for (const auto& hit : hits) {
            if (hit == wanted) return true;
        }
        return false;
    }

    std::string Log() const { return ReadFile(root_ / "setup.log"); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

    fs::path TemporaryDownloadDirectory() const { return root_ / "tmp" / kStem; }
    fs::path InstallerPath() const { return TemporaryDownloadDirectory() / kInstallerName; }
    fs::path InstallDirectory() const { return root_ / "install" / "Morvik" / "MorvikBackup"; }

    // The failure form after a failed attempt, with the message box of `kind` shown once.
    void ExpectFailureEnding(MessageKind kind) {
        EXPECT_EQ(view_.Messages(), std::vector<MessageKind>{kind});
        EXPECT_TRUE(view_.FailureFormShown());
        EXPECT_FALSE(view_.RetryText().empty()) << "the start button carries the retry text";
        EXPECT_EQ(view_.FinishedCount(), 1);
        EXPECT_LT(view_.IndexOf("failureForm"), view_.IndexOf("finished")) << "the page comes up in its failure form";
        EXPECT_TRUE(view_.SlideTimerStopped());
        EXPECT_EQ(view_.DoneCount(), 1);
        EXPECT_EQ(state_.closeConfirmKind.load(), static_cast<int>(MessageKind::CloseWithoutAsking));
    }

    qvtest::TempFolder folder_{"qv-pipeline-"};
    const fs::path& root_ = folder_.path();
    FakeMakerService service_;
    qvtest::TestHttpServer server_;
    std::unique_ptr<UserLogReporter> analytics_;
    std::unique_ptr<CountingReporter> reporter_;
    std::unique_ptr<platform::RegistryStore> hklm_;
    std::unique_ptr<platform::RegistryStore> hkcu_;
    std::string installer_;
    ProductConfig config_;
    WizardState state_;
    qvtest::RecordingInstallView view_;
    int installerPid_ = -1;
};

}  // namespace pipelinetest
