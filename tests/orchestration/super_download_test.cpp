// The watched download against a local server that misbehaves on purpose: each result,
// the progress it shows, and the speed figures it reports.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "src/engine/CStallWatch.h"
#include "src/engine/DownLoadImpl.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/orchestration/OrchestrationSupport.h"
#include "tests/support/TestHttpServer.h"

// Failures name the result as well as its number.
void PrintTo(DownloadResult result, std::ostream* out) {
    *out << to_string(result) << " (" << ResultCode(result) << ")";
}

namespace {

using enginetest::LogCapture;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using orchestrationtest::RecordingProgress;
using qvtest::TestHttpServer;

DownloadWatchSettings ShortSettings() {
    DownloadWatchSettings settings;
    settings.noSpeedEventMs = 300;
    settings.stallLimitMs = 1500;
    settings.passPauseMs = 5;
    settings.rangeTimeouts.requestMs = 1500;
    settings.rangeTimeouts.connectMs = 1000;
    return settings;
}

std::size_t CountEvents(const RecordingReporter& reporter, const std::string& action) {
    std::size_t n = 0;
    for (const auto& e : reporter.events()) n += e.action == action;
    return n;
}

const enginetest::RecordedEvent* FindEvent(const std::vector<enginetest::RecordedEvent>& events,
                                           const std::string& action) {
    for (const auto& e : events) {
        if (e.action == action) return &e;
    }
    return nullptr;
}

class SuperDownloadTest : public ::testing::Test {
protected:
    DownloadResult Download(const std::string& url, CDownLoadImpl::NetworkAliveFn alive = [] { return true; }) {
        CDownLoadImpl impl(&progress_, reporter_, std::move(alive), ShortSettings());
        return impl.SuperDownloadFile(url, local_, "");
    }

    TempDir dir_;
    std::string local_ = dir_.file("setup.exe");
    RecordingProgress progress_;
    RecordingReporter reporter_;
};

TEST_F(SuperDownloadTest, FreshDownloadCompletesAndReportsItsSpeed) {
    TestHttpServer server;
    const std::int64_t size = (5 << 20) + 123;
    server.serveGenerated("/setup.exe", size);
    LogCapture log;
    EXPECT_EQ(Download(server.url("/setup.exe")), DownloadResult::Complete);
    EXPECT_EQ(enginetest::ReadFile(local_), TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size)));

    const auto shown = progress_.download();
    ASSERT_FALSE(shown.empty());
    for (const auto& [done, total] : shown) EXPECT_EQ(total, size);

    const auto events = reporter_.events();
    const auto* speed = FindEvent(events, "Server");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->category, "DownloadSpeed");
    EXPECT_TRUE(std::regex_match(speed->label, std::regex(R"(\d+\.\dMB/s)"))) << speed->label;
    EXPECT_TRUE(log.has(" Average speed: " + speed->label));
    const auto* requests = FindEvent(events, "TotalRequestTimes");
    ASSERT_NE(requests, nullptr);
    EXPECT_EQ(requests->category, "DownloaderInfo");
    EXPECT_GE(std::stoi(requests->label), 5);  // at least one request per task
    const auto* low = FindEvent(events, "DownloadRateMin");
    const auto* high = FindEvent(events, "DownloadRateMax");
    ASSERT_NE(low, nullptr);
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(low->category, "DownloaderInfo00");
    EXPECT_TRUE(std::regex_match(low->label, std::regex(R"(\d+\.\d MB/s)"))) << low->label;
    EXPECT_TRUE(std::regex_match(high->label, std::regex(R"(\d+\.\d MB/s)"))) << high->label;
    EXPECT_TRUE(log.has(" Download speed range " + low->label + " - " + high->label));
    EXPECT_EQ(CountEvents(reporter_, "NoDownloadSpeed"), 0u);

    // Again, with every task of the task file finished: full progress at once, no
    // statistics, and no range request.
    RecordingProgress again;
    RecordingReporter quiet;
    server.resetCounters();
    CDownLoadImpl impl(&again, quiet, [] { return true; }, ShortSettings());
    EXPECT_EQ(impl.SuperDownloadFile(server.url("/setup.exe"), local_, ""), DownloadResult::Complete);
    ASSERT_FALSE(again.download().empty());
    EXPECT_EQ(again.download().back(), std::make_pair(size, size));
    EXPECT_EQ(CountEvents(quiet, "Server"), 0u);
    EXPECT_EQ(CountEvents(quiet, "TotalRequestTimes"), 0u);
    for (const auto& request : server.requests()) EXPECT_TRUE(request.range.empty()) << request.range;
}

TEST_F(SuperDownloadTest, NoSizeOrNoLocalFileFailsWithMinusOne) {
    TestHttpServer server;
    LogCapture log;
    EXPECT_EQ(Download(server.url("/missing.exe")), DownloadResult::Incomplete);
    EXPECT_TRUE(log.has(" [Error]: Get ContentLength Fail, tried 5 times"));

    server.serveGenerated("/setup.exe", 1 << 20);
    local_ = dir_.file("no-such-folder/setup.exe");
    EXPECT_EQ(Download(server.url("/setup.exe")), DownloadResult::Incomplete);
    EXPECT_TRUE(progress_.download().empty());
}

TEST_F(SuperDownloadTest, NetworkGoneStopsWithMinusTwoAndKeepsTheTaskFile) {
    TestHttpServer server;
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 200 * 1024;
    server.serveGenerated("/setup.exe", 8 << 20, slow);
    std::atomic<int> asked{0};
    EXPECT_EQ(Download(server.url("/setup.exe"), [&asked] { return ++asked < 40; }), DownloadResult::NoNetwork);
    EXPECT_EQ(asked.load(), 40);
    EXPECT_TRUE(std::filesystem::exists(local_ + ".xml"));
    EXPECT_FALSE(progress_.download().empty());
}

TEST_F(SuperDownloadTest, StalledServerGivesOneNoSpeedEventThenMinusThree) {
    TestHttpServer server;
    qvtest::FileOptions stall;
    stall.fault = qvtest::FaultKind::Stall;
    stall.faultAt = (1 << 20) + 4096;  // inside the second task
    stall.faultTimes = -1;
    stall.stallMs = 5000;
    server.serveGenerated("/setup.exe", 3 << 20, stall);
    EXPECT_EQ(Download(server.url("/setup.exe")), DownloadResult::TooSlow);
    server.releaseStalls();
    EXPECT_EQ(CountEvents(reporter_, "NoDownloadSpeed"), 1u);
    for (const auto& e : reporter_.events()) {
        if (e.action == "NoDownloadSpeed") {
            EXPECT_EQ(e.category, "DownloaderInfo00");
            EXPECT_EQ(e.label, "");
            EXPECT_FALSE(e.immediate);
        }
    }
    EXPECT_EQ(CountEvents(reporter_, "Server"), 0u);
}

// A few bytes a second keep the count growing, but that is no download: under the floor
// rate for the stall limit it gives up like a silent server (before, this file took
// minutes and counted as a success).
TEST_F(SuperDownloadTest, TrickleBelowTheFloorRateGivesMinusThree) {
    TestHttpServer server;
    qvtest::FileOptions trickle;
    trickle.bytesPerSecond = 300;
    server.serveGenerated("/setup.exe", 24 * 1024, trickle);
    LogCapture log;
    EXPECT_EQ(Download(server.url("/setup.exe")), DownloadResult::TooSlow);
    EXPECT_TRUE(log.hasPrefix(" [Error]: less than 1024 bytes per second for 1500 ms"));
}

// A folder that cannot hold the file is refused before the first range, as "no room"
// (-6), not as a network failure.
TEST_F(SuperDownloadTest, FileLargerThanTheFolderTakesGivesMinusSixBeforeAnyRange) {
    TestHttpServer server;
    server.serveGenerated("/setup.exe", 3 << 20);
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    rlimit small = original;
    small.rlim_cur = 1 << 20;  // the largest file this process may write
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const DownloadResult result = Download(server.url("/setup.exe"));
    setrlimit(RLIMIT_FSIZE, &original);
    EXPECT_EQ(result, DownloadResult::NoRoom);
    for (const auto& request : server.requests()) EXPECT_TRUE(request.range.empty()) << request.range;
    EXPECT_LT(std::filesystem::file_size(local_), 1u << 20);
}

TEST_F(SuperDownloadTest, CdnUrlNeedingTooManyRequestsGivesMinusFour) {
    TestHttpServer server;
    qvtest::FileOptions drop;
    drop.fault = qvtest::FaultKind::Drop;
    drop.faultAt = 0;
    drop.faultPerResponse = true;
    drop.faultTimes = -1;
    server.serveGenerated("/dl.setup.exe", 5 << 20, drop);
    LogCapture log;
    EXPECT_EQ(Download(server.url("/dl.setup.exe")), DownloadResult::CdnTooManyRequests);
    bool logged = false;
    for (const auto& line : log.lines()) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex(R"( ---cdn fail:(\d+) > 3 \* 5)"))) {
            logged = true;
            EXPECT_GE(std::stoi(m[1]), 16);
        }
    }
    EXPECT_TRUE(logged);
    EXPECT_TRUE(std::filesystem::exists(local_ + ".xml"));
}

TEST_F(SuperDownloadTest, CdnRuleLeavesOrdinaryUrlsAlone) {
    TestHttpServer server;
    qvtest::FileOptions drop;
    drop.fault = qvtest::FaultKind::Drop;
    drop.faultAt = 0;
    drop.faultPerResponse = true;
    drop.faultTimes = -1;
    server.serveGenerated("/setup.exe", 5 << 20, drop);
    LogCapture log;
    // Nothing ever arrives, so the stall rule ends it instead.
    EXPECT_EQ(Download(server.url("/setup.exe")), DownloadResult::TooSlow);
    EXPECT_FALSE(log.hasPrefix(" ---cdn fail:"));
}

// The stall rule by itself: a period of the limit must bring the floor's worth of bytes;
// bytes given and taken back again (a range stepped back by one) do not count.
TEST(StallWatchTest, APeriodMustBringTheFloorsWorth) {
    struct Step {
        std::uint32_t tick;
        std::int64_t bytes;
        bool stalled;
    };
    struct Case {
        const char* name;
        std::uint32_t startTick;
        std::vector<Step> steps;
    };
    // Limit 1000 ms, floor 1000 bytes/s: each period needs 1000 bytes.
    const Case cases[] = {
        {"nothing at all", 0, {{500, 0, false}, {999, 0, false}, {1000, 0, true}}},
        {"a trickle", 0, {{400, 300, false}, {800, 600, false}, {1000, 900, true}}},
        {"enough, then nothing", 0, {{500, 1000, false}, {1400, 1000, false}, {1500, 1000, true}}},
        {"given and taken back", 0, {{300, 999, false}, {600, 998, false}, {900, 999, false}, {1000, 999, true}}},
        {"tick wrapping around", 0xFFFFFE00u, {{0xFFFFFF00u, 0, false}, {0x100u, 10, false}, {0x300u, 10, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CStallWatch watch(1000, 1000, c.startTick, 0);
        for (const Step& step : c.steps) EXPECT_EQ(watch.stalled(step.tick, step.bytes), step.stalled) << step.tick;
    }
}

TEST(CdnUrlTest, ContentDeliveryMarkersAnywhereCaseSensitive) {
    EXPECT_TRUE(CDownLoadImpl::IsCdnUrl("https://cdn.example.com/a.exe"));
    EXPECT_TRUE(CDownLoadImpl::IsCdnUrl("https://files.example.com/dl.a.exe"));
    EXPECT_FALSE(CDownLoadImpl::IsCdnUrl("https://download.example.com/a.exe"));
    EXPECT_FALSE(CDownLoadImpl::IsCdnUrl("https://CDN.example.com/a.exe"));
    EXPECT_FALSE(CDownLoadImpl::IsCdnUrl("https://example.com/a.exe"));
}

TEST(SuperDownloadLimitsTest, OverlongPathIsRefusedWhole) {
    RecordingReporter reporter;
    CDownLoadImpl impl(nullptr, reporter, [] { return true; }, ShortSettings());
    EXPECT_EQ(impl.SuperDownloadFile("http://127.0.0.1:1/a.exe", "/tmp/" + std::string(300, 'a'), ""),
              DownloadResult::Incomplete);
    EXPECT_TRUE(reporter.events().empty());  // not even a size probe
}

}  // namespace
