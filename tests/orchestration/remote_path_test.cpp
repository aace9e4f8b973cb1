// Choosing the download location: the content-delivery failure counter in the registry
// store, the rule modes, the speed test against local servers, and the location a
// download page advertises.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "src/engine/CDownloadTaskManager.h"
#include "src/engine/CRemotePathSelector.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/orchestration/OrchestrationSupport.h"
#include "tests/support/TestHttpServer.h"

namespace {

using enginetest::LogCapture;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using orchestrationtest::RecordingProgress;
using qvtest::TestHttpServer;

constexpr const char* kKey = "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvik Backup";

class RemotePathTest : public ::testing::Test {
protected:
    RemotePathTest() : registry_(platform::RegistryHive::LocalMachine, dir_.path() / "registry") {
        std::filesystem::create_directories(dir_.path() / "registry");
        std::filesystem::create_directories(dir_.path() / "work");
    }

    CRemotePathSelector Selector(std::string name = "Morvik Backup") {
        SpeedTestSettings settings;
        settings.stepMs = 150;
        settings.rangeTimeouts.requestMs = 2000;
        settings.rangeTimeouts.connectMs = 1000;
        return CRemotePathSelector(std::move(name), registry_, &progress_, reporter_,
                                   [this] { return workingDirectory_; }, settings);
    }
    std::vector<std::string> WorkFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / "work")) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    std::vector<enginetest::RecordedEvent> UrlUsedEvents() const {
        std::vector<enginetest::RecordedEvent> found;
        for (const auto& e : reporter_.events()) {
            if (e.action == "UrlUsed") found.push_back(e);
        }
        return found;
    }

    TempDir dir_;
    platform::RegistryStore registry_;
    RecordingProgress progress_;
    RecordingReporter reporter_;
    std::string workingDirectory_ = (dir_.path() / "work").string() + "/";
};

TEST_F(RemotePathTest, CounterReadsRaisesAndWrapsAtTen) {
    CRemotePathSelector selector = Selector();
    EXPECT_FALSE(selector.isForbidCDN());  // absent
    struct Step {
        const char* before;  // nullptr: leave as it is
        const char* after;
        bool forbidAfter;
    };
    const Step steps[] = {
        {nullptr, "1", false}, {nullptr, "2", false}, {nullptr, "3", false}, {nullptr, "4", true},
        {"9", ":", false},  // ten is stored as ':' and reads back as 0 ...
        {nullptr, "1", false},  // ... so the next raise starts again
        {"x", "1", false},  {"0", "1", false}, {"5", "6", true},
    };
    for (const Step& s : steps) {
        if (s.before != nullptr) registry_.SetString(kKey, CRemotePathSelector::kCounterValue, s.before);
        SCOPED_TRACE(std::string(s.before ? s.before : "-") + " -> " + s.after);
        EXPECT_TRUE(selector.increaseRequestTooMuchTimes());
        EXPECT_EQ(registry_.GetString(kKey, CRemotePathSelector::kCounterValue).value_or("<absent>"), s.after);
        EXPECT_EQ(selector.isForbidCDN(), s.forbidAfter);
    }
    // A product name that would leave the uninstall key reads as absent and writes nothing.
    CRemotePathSelector stray = Selector("..\\Other");
    EXPECT_FALSE(stray.isForbidCDN());
    EXPECT_FALSE(stray.increaseRequestTooMuchTimes());
    EXPECT_EQ(CRemotePathSelector::CounterFromText(":"), 0);
    EXPECT_EQ(CRemotePathSelector::CounterFromText("4"), 4);
}

TEST_F(RemotePathTest, RuleModesPickWithoutAnyTraffic) {
    TestHttpServer server;
    server.serveGenerated("/setup.exe", 1 << 20);
    const std::string cdn = server.url("/cdn.setup.exe"), plain = server.url("/setup.exe");
    workingDirectory_.clear();  // the rule modes never need the working directory
    CRemotePathSelector selector = Selector();
    LogCapture log;
    EXPECT_EQ(selector.checkRemotePath({cdn, plain}, 1), plain);
    EXPECT_TRUE(log.has(" UrlUsed: " + plain));
    EXPECT_EQ(selector.checkRemotePath({plain, cdn}, 2), cdn);
    EXPECT_EQ(selector.checkRemotePath({plain, plain}, 2), "");
    EXPECT_TRUE(log.has(" checkRemotePath fail: -1"));
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(UrlUsedEvents().empty());
    EXPECT_TRUE(progress_.selection().empty());
}

TEST_F(RemotePathTest, SpeedTestOfTwoEqualLocationsChoosesTheFirst) {
    TestHttpServer server;
    server.serveGenerated("/one.exe", 3 << 20);
    server.serveGenerated("/two.exe", 3 << 20);
    const std::string one = server.url("/one.exe"), two = server.url("/two.exe");
    CRemotePathSelector selector = Selector();
    LogCapture log;
    EXPECT_EQ(selector.checkRemotePath({one, two}, 3), one);
    const auto events = UrlUsedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].category, "DownloaderInfo");
    EXPECT_EQ(events[0].label, "1");
    // Both downloaded the whole file, so their counts tie.
    std::vector<long long> counts;
    for (const auto& line : log.lines()) {
        if (line.rfind(" UrlDownloaded ", 0) == 0) counts.push_back(std::stoll(line.substr(line.rfind(' ') + 1)));
    }
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_GE(counts[0], 3 << 20);
    EXPECT_TRUE(log.has(" isForbidCDN: 0"));
    // Each location fills its share of the first tenth of the bar.
    const std::vector<double> expected = {1.25, 2.5, 3.75, 5.0, 5.0, 6.25, 7.5, 8.75, 10.0, 10.0};
    EXPECT_EQ(progress_.selection(), expected);
    // Of the working files only the winner's bytes stay, for the download, and the size
    // probes carried the speed-test label.
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"temp.kept"});
    bool probeLabelled = false;
    for (const auto& e : reporter_.events()) probeLabelled |= e.action == "TestSpeedService";
    EXPECT_TRUE(probeLabelled);
}

TEST_F(RemotePathTest, SpeedTestPrefersTheLocationThatDownloadedMore) {
    TestHttpServer server;
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 100 * 1024;
    server.serveGenerated("/slow.exe", 3 << 20, slow);
    server.serveGenerated("/fast.exe", 3 << 20);
    CRemotePathSelector selector = Selector();
    EXPECT_EQ(selector.checkRemotePath({server.url("/slow.exe"), server.url("/fast.exe")}, 3), server.url("/fast.exe"));
    ASSERT_EQ(UrlUsedEvents().size(), 1u);
    EXPECT_EQ(UrlUsedEvents()[0].label, "2");
}

// A run killed during its speed test left most of the slow location's file behind. The
// slow location's test resumes from those bytes, and they say nothing of its speed: the
// test ranks what each location fetched while it was tried.
TEST_F(RemotePathTest, BytesLeftByAnEarlierRunDoNotWinTheSpeedTest) {
    TestHttpServer server;
    const std::int64_t size = 16 << 20;
    qvtest::FileOptions slow;
    slow.bytesPerSecond = 10 * 1024;
    qvtest::FileOptions fast;
    fast.bytesPerSecond = 1 << 20;
    server.serveGenerated("/slow.exe", size, slow);
    server.serveGenerated("/fast.exe", size, fast);
    const std::string slowUrl = server.url("/slow.exe");
    // Leaves the first `bytes` of the slow location's file, as its task file records.
    const auto leave = [&](std::int64_t bytes) {
        const std::string data = workingDirectory_ + "temp";
        CDownloadTaskManager left(slowUrl, data, data + ".xml", reporter_);
        ASSERT_EQ(left.loadDownloadTask(false, "TestSpeedService"), ERRORCODE_OK);
        for (const auto& task : left.allTasks()) {
            if (task->StartPos >= bytes) continue;
            task->DownloadedPos = task->EndPos.load();
            task->TaskStatus = TASK_FINISHED;
        }
        left.saveTaskInfo();
        enginetest::WriteFile(data, TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(std::min(bytes, size))));
    };
    leave(8 << 20);
    CRemotePathSelector selector = Selector();
    LogCapture log;
    EXPECT_EQ(selector.checkRemotePath({slowUrl, server.url("/fast.exe")}, 3), server.url("/fast.exe"));
    EXPECT_TRUE(log.has(" Load tasks from file success!")) << "the slow location resumed";
    ASSERT_EQ(UrlUsedEvents().size(), 1u);
    EXPECT_EQ(UrlUsedEvents()[0].label, "2");
    // The whole file left behind, at the only location: nothing to fetch, and it is chosen.
    leave(size + 1);
    EXPECT_EQ(selector.checkRemotePath({slowUrl}, 3), slowUrl);
}

TEST_F(RemotePathTest, LocationFailingItsSizeProbeIsSkipped) {
    TestHttpServer server;
    server.serveGenerated("/good.exe", 2 << 20);
    const std::string missing = server.url("/missing.exe"), good = server.url("/good.exe");
    CRemotePathSelector selector = Selector();
    LogCapture log;
    EXPECT_EQ(selector.checkRemotePath({missing, good}, 3), good);
    ASSERT_EQ(UrlUsedEvents().size(), 1u);
    EXPECT_EQ(UrlUsedEvents()[0].label, "2");
    EXPECT_FALSE(log.hasPrefix(" UrlDownloaded 0 "));
    EXPECT_TRUE(log.hasPrefix(" UrlDownloaded 1 "));
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"temp.kept"});
}

TEST_F(RemotePathTest, ForbiddenCdnLocationsAreSkippedButCounted) {
    TestHttpServer server;
    server.serveGenerated("/cdn.setup.exe", 1 << 20);
    server.serveGenerated("/setup.exe", 1 << 20);
    const std::string cdn = server.url("/cdn.setup.exe"), plain = server.url("/setup.exe");
    registry_.SetString(kKey, CRemotePathSelector::kCounterValue, "4");
    CRemotePathSelector selector = Selector();
    LogCapture log;
    EXPECT_EQ(selector.checkRemotePath({cdn, plain}, 3), plain);
    EXPECT_TRUE(log.has(" isForbidCDN: 1"));
    ASSERT_EQ(UrlUsedEvents().size(), 1u);
    EXPECT_EQ(UrlUsedEvents()[0].label, "2");
    for (const auto& request : server.requests()) EXPECT_NE(request.path, "/cdn.setup.exe");
    // The skipped location still holds its share of the bar: the test runs in the second half.
    const std::vector<double> expected = {6.25, 7.5, 8.75, 10.0, 10.0};
    EXPECT_EQ(progress_.selection(), expected);
}

TEST_F(RemotePathTest, NothingChosenWhenNoLocationCanBeTested) {
    TestHttpServer server;
    CRemotePathSelector selector = Selector();
    {
        LogCapture log;
        EXPECT_EQ(selector.checkRemotePath({server.url("/a.exe"), server.url("/b.exe")}, 3), "");
        EXPECT_TRUE(log.has(" checkRemotePath fail: -1"));
    }
    workingDirectory_.clear();
    server.serveGenerated("/c.exe", 1 << 20);
    server.resetCounters();
    EXPECT_EQ(selector.checkRemotePath({server.url("/c.exe")}, 3), "");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(UrlUsedEvents().empty());
}

TEST_F(RemotePathTest, DownloadPageAdvertisedLocation) {
    TestHttpServer server;
    server.serveGenerated("/real.exe", 4096);
    const std::string real = server.url("/real.exe");
    server.serveFile("/page.html", "<html><a class='b' data-dl-url='" + real + "'>Download</a></html>");
    server.serveFile("/plain.html", "<html><a href='" + real + "'>Download</a></html>");
    server.serveFile("/local.html", "<a data-dl-url='file:///etc/passwd'>x</a>");
    server.serveFile("/empty.html", "<a data-dl-url=''>x</a>");
    std::string deadUrl;
    {
        TestHttpServer gone;
        deadUrl = gone.url("/real.exe");
    }
    server.serveFile("/dead.html", "<a data-dl-url='" + deadUrl + "'>x</a>");

    CRemotePathSelector selector = Selector();
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/page.html")), real);
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/plain.html")), "");
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/local.html")), "");
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/empty.html")), "");
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/dead.html")), "");
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/missing.html")), "");
    EXPECT_EQ(selector.resolvePageDownloadUrl(""), "");
}

TEST_F(RemotePathTest, DownloadPageOverHttpsNeedsATrustedCertificate) {
    const std::string cert = dir_.file("cert.pem"), key = dir_.file("key.pem");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert +
                           "' >/dev/null 2>&1").c_str()), 0);
    TestHttpServer server(cert, key);
    server.serveGenerated("/real.exe", 4096);
    const std::string real = server.url("/real.exe");
    server.serveFile("/page.html", "<a data-dl-url='" + real + "'>x</a>");
    CRemotePathSelector selector = Selector();
    unsetenv("CURL_CA_BUNDLE");
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/page.html")), "");
    EXPECT_EQ(server.requestCount(), 0u);
    setenv("CURL_CA_BUNDLE", cert.c_str(), 1);
    EXPECT_EQ(selector.resolvePageDownloadUrl(server.url("/page.html")), real);
    unsetenv("CURL_CA_BUNDLE");
}

}  // namespace
