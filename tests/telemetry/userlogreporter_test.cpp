// The analytics reporter, seen from the collector: the hits it receives, their order and
// the reporter's behaviour under load and when the collector hangs.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/TempFolder.h"
#include "src/telemetry/ChannelTag.h"
#include "src/telemetry/UserLogReporter.h"
#include "src/telemetry/WebLog.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
using Behaviour = FakeMakerService::Behaviour;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class ReporterTest : public ::testing::Test {
protected:
    UserLogReporterOptions Options(bool startSender = false) {
        UserLogReporterOptions options;
        WebLogOptions client;
        client.endpoints = service_.Endpoints();
        client.registryFolder = registry_.path();
        options.createClient = [client] { return new WebLog(client); };
        options.propertyId = "UA-555-1";
        options.version = "1.0.0.0";
        options.osDescription = "Debian GNU/Linux 12 (bookworm) 64bit";
        options.localeName = "English_United States";
        options.idleSleep = 10ms;
        options.startSender = startSender;
        return options;
    }

    std::vector<FakeMakerService::Request> Hits() const { return service_.Requests(Endpoint::Collect); }

    FakeMakerService service_;
    qvtest::TempFolder registry_{"qv-reporter-"};
};

std::vector<std::string> FieldNames(const FakeMakerService::Request& hit) {
    std::vector<std::string> names;
    for (const auto& field : hit.fields) names.push_back(field.first);
    return names;
}

TEST_F(ReporterTest, HitCarriesParametersInOrderWithAnEmptyLabel) {
    UserLogReporter reporter(Options());
    EXPECT_EQ(reporter.ReportEvent("CrashRate", "Close", "", true), 0);
    auto hits = Hits();
    ASSERT_EQ(hits.size(), 1u);
    const auto& hit = hits[0];
    EXPECT_EQ(FieldNames(hit), (std::vector<std::string>{"v", "tid", "cid", "t", "ec", "ea", "el", "an", "av", "cd1",
                                                         "cd2", "cd3", "cd4", "cd5", "cd6", "cd7"}));
    EXPECT_EQ(hit.Field("v"), "1");
    EXPECT_EQ(hit.Field("tid"), "UA-555-1");
    EXPECT_EQ(hit.Field("t"), "event");
    EXPECT_EQ(hit.Field("an"), "Downloader");
    EXPECT_EQ(hit.Field("av"), "1.0.0.0");
    // CPUID signature (16 hex digits), volume serial and adapter address, all uppercase hex.
    EXPECT_TRUE(std::all_of(hit.Field("cid").begin(), hit.Field("cid").end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); }));
    EXPECT_GE(hit.Field("cid").size(), 16u);
    EXPECT_NE(hit.body.find("&ec=CrashRate&ea=Close&el=&an=Downloader&av=1.0.0.0&cd1="), std::string::npos)
        << hit.body;
    // Before SetChannelInfo: site 0.
    EXPECT_EQ(hit.Field("cd2"), "SEO");
    EXPECT_EQ(hit.Field("cd3"), "0");
    EXPECT_EQ(hit.Field("cd4"), "");
    EXPECT_EQ(hit.Field("cd5"), "United States");
    EXPECT_EQ(hit.Field("cd6"), "English");
    EXPECT_EQ(hit.Field("cd7"), "Debian GNU/Linux 12 (bookworm) 64bit");
    EXPECT_EQ(hit.headers.find("Content-Type")->second, "application/x-www-form-urlencoded");
}

TEST_F(ReporterTest, ChannelInfoFillsTheDimensions) {
    UserLogReporter reporter(Options());
    reporter.SetChannelInfo(125, "Morvik Backup \xE2\x84\xA2", "https://dl.example/Setup_BING_x.exe");
    reporter.ReportEvent("Download", "1.Launch", "", true);
    reporter.SetChannelInfo(127, "Morvik", "https://download.example/setup.exe");
    reporter.ReportEvent("Download", "1.Launch", "", true);
    auto hits = Hits();
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].Field("cd2"), "PPC");
    EXPECT_EQ(hits[0].Field("cd3"), "ppc-brand-bingyahoo");  // the marker is found case-blind
    EXPECT_EQ(hits[0].Field("cd4"), "Morvik Backup \xE2\x84\xA2");
    EXPECT_NE(hits[0].body.find("&cd4=Morvik+Backup+%E2%84%A2&"), std::string::npos);
    EXPECT_EQ(hits[1].Field("cd2"), "SEO");
    EXPECT_EQ(hits[1].Field("cd3"), "seo-organic");
}

TEST(ChannelTagTest, TrafficTypeAndChannelTags) {
    for (int site : {106, 116, 125, 126}) EXPECT_EQ(TrafficType(site), "PPC") << site;
    for (int site : {0, 101, 127, 999}) EXPECT_EQ(TrafficType(site), "SEO") << site;
    const struct {
        int site;
        std::string url, tag;
    } cases[] = {
        {0, "", "0"},
        {999, "", "999"},
        {-3, "", "-3"},
        {101, "", "home"},
        {106, "https://x/setup_yahoo.exe", "ppc-search-bingyahoo"},
        {106, "https://x/setup.exe", "ppc-search"},
        {125, "https://x/setup_promo_.exe", "ppc-brand-promo"},
        {125, "https://x/setup.exe", "ppc-brand"},
    };
    for (const auto& c : cases) EXPECT_EQ(ChannelTag(c.site, c.url), c.tag) << c.site << " " << c.url;
}

TEST_F(ReporterTest, ValuesArePercentEncodedSoALabelCannotForgeParameters) {
    UserLogReporter reporter(Options());
    EXPECT_EQ(reporter.ReportEvent("Other", "SetLanguage", "a&ea=forged=1", true), 0);
    auto hits = Hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Field("ea"), "SetLanguage");
    EXPECT_EQ(hits[0].Field("el"), "a&ea=forged=1");
    EXPECT_EQ(FieldNames(hits[0]).size(), 16u);
}

TEST_F(ReporterTest, ResultCodesFollowTheCollectorsAnswer) {
    const struct {
        Behaviour behaviour;
        std::string body;
        int result;
    } cases[] = {
        {Behaviour::Answer, "GIF89a...", 0},
        {Behaviour::Answer, "<html><body>collector moved</body></html>", 253},
        {Behaviour::NotFound, "", 255},
        {Behaviour::Empty, "", 255},
        {Behaviour::Fail, "", 255},
    };
    UserLogReporter reporter(Options());
    for (const auto& c : cases) {
        service_.SetReply(Endpoint::Collect, c.body);
        service_.SetBehaviour(Endpoint::Collect, c.behaviour);
        EXPECT_EQ(reporter.ReportEvent("CrashRate", "Close", "", true), c.result) << c.body;
    }
    // Refused before sending: no request at all.
    service_.ClearRequests();
    EXPECT_EQ(reporter.ReportEvent("CrashRate", "", "", true), 254);
    EXPECT_EQ(reporter.ReportEvent("", "Close", "", true), 254);
    EXPECT_TRUE(Hits().empty());
}

TEST_F(ReporterTest, MissingVersionOrClientMeansNoHit) {
    UserLogReporterOptions noVersion = Options();
    noVersion.version = "";
    UserLogReporter unversioned(noVersion);
    EXPECT_EQ(unversioned.ReportEvent("CrashRate", "Close", "", true), 254);

    UserLogReporterOptions noClient = Options();
    noClient.createClient = [] { return nullptr; };
    UserLogReporter clientless(noClient);
    EXPECT_EQ(clientless.ReportEvent("CrashRate", "Close", "", true), -1);
    EXPECT_EQ(clientless.ReportEvent("CrashRate", "Start", "", false), 0);
    EXPECT_TRUE(Hits().empty());
}

TEST_F(ReporterTest, LocaleWithoutSeparatorIsUnknown) {
    UserLogReporterOptions options = Options();
    options.localeName = "0x0c0c";
    UserLogReporter reporter(options);
    EXPECT_EQ(reporter.LanguagePart(), "Unknown");
    EXPECT_EQ(reporter.CountryPart(), "Unknown");
    EXPECT_NE(reporter.BuildCustomDimensions().find("&cd5=Unknown&cd6=Unknown&cd7="), std::string::npos);
}

TEST_F(ReporterTest, SenderResolvesIdentityFirstThenDrainsTheQueueInOrder) {
    UserLogReporter reporter(Options(true));
    reporter.ReportEvent("CrashRate", "Start", "", false);
    reporter.ReportEvent("Download", "1.Launch", "", false);
    ASSERT_TRUE(service_.WaitForCount(Endpoint::Collect, 3, 10s));
    auto all = service_.Requests();
    // The identity step (locator file first) comes before any hit; the sender queues its
    // launch event only after it, behind what callers queued meanwhile.
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].endpoint, Endpoint::ServiceLocator);
    auto hits = Hits();
    EXPECT_EQ(hits[0].Field("ea"), "Start");
    EXPECT_EQ(hits[1].Field("ea"), "1.Launch");
    EXPECT_EQ(hits[2].Field("ec"), "DownloaderInfo00");
    EXPECT_EQ(hits[2].Field("ea"), "launchDownloader001");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Hits().size(), 3u);
}

TEST_F(ReporterTest, HeldSenderStartsWithTheRunsFirstEventAndTheChannelOnEveryHit) {
    UserLogReporterOptions options = Options(true);
    options.holdUntilChannel = true;
    UserLogReporter reporter(options);
    // The identity step runs at once; nothing is sent while the channel is unknown.
    ASSERT_TRUE(service_.WaitForCount(Endpoint::ServiceLocator, 1, 10s));
    reporter.ReportEvent("CrashRate", "Start", "", false);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(service_.Count(Endpoint::Collect), 0u);
    reporter.SetChannelInfo(127, "Morvik Backup", "https://download.example/setup.exe");
    reporter.ReportEvent("Download", "1.Launch", "", false);
    ASSERT_TRUE(service_.WaitForCount(Endpoint::Collect, 3, 10s));
    std::this_thread::sleep_for(50ms);
    auto hits = Hits();
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].Field("ec") + "/" + hits[0].Field("ea"), "CrashRate/Start");
    bool sawLaunch = false;
    for (const auto& hit : hits) {
        sawLaunch = sawLaunch || hit.Field("ea") == "launchDownloader001";
        EXPECT_EQ(hit.Field("cd3"), ChannelTag(127, "https://download.example/setup.exe")) << hit.Field("ea");
        EXPECT_EQ(hit.Field("cd4"), "Morvik Backup") << hit.Field("ea");
    }
    EXPECT_TRUE(sawLaunch);
}

TEST_F(ReporterTest, HeldSenderWithoutAChannelEndsWithTheReporter) {
    UserLogReporterOptions options = Options(true);
    options.holdUntilChannel = true;
    {
        UserLogReporter reporter(options);
        reporter.ReportEvent("CrashRate", "Start", "", false);
        ASSERT_TRUE(service_.WaitForCount(Endpoint::ServiceLocator, 1, 10s));
        EXPECT_FALSE(reporter.WaitUntilSent(100ms));
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(service_.Count(Endpoint::Collect), 0u);
}

TEST_F(ReporterTest, WaitUntilSentReturnsOnceEveryQueuedEventReachedTheCollector) {
    UserLogReporter reporter(Options(true));
    for (int i = 0; i < 20; ++i) reporter.ReportEvent("Wait", "Event" + std::to_string(i), "", false);
    ASSERT_TRUE(reporter.WaitUntilSent(10s));
    // Nothing is still on its way: the 20 events and the sender's launch event are there.
    EXPECT_EQ(Hits().size(), 21u);
    // A collector that hangs keeps an event in flight: the wait gives up at its limit.
    service_.SetBehaviour(Endpoint::Collect, Behaviour::Hang);
    // (The hang outlasts the bound by far, so a loaded machine cannot blur the two.)
    service_.SetHangLimit(30s);
    reporter.ReportEvent("Wait", "Stuck", "", false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reporter.WaitUntilSent(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    service_.ReleaseHangs();
}

TEST_F(ReporterTest, ThousandEventsFromEightThreadsArriveOnceAndInPerThreadOrder) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 125;
    UserLogReporter reporter(Options(true));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&reporter, t] {
            for (int i = 0; i < kPerThread; ++i) {
                reporter.ReportEvent("Load", "t" + std::to_string(t), std::to_string(i), false);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(service_.WaitForCount(Endpoint::Collect, 1 + kThreads * kPerThread, 60s))
        << service_.Count(Endpoint::Collect);
    std::this_thread::sleep_for(50ms);
    std::map<std::string, std::vector<int>> seen;
    for (const auto& hit : Hits()) {
        if (hit.Field("ec") == "Load") seen[hit.Field("ea")].push_back(std::stoi(hit.Field("el")));
    }
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kThreads));
    std::vector<int> expected(kPerThread);
    for (int i = 0; i < kPerThread; ++i) expected[i] = i;
    for (const auto& [thread, labels] : seen) EXPECT_EQ(labels, expected) << thread;
}

TEST_F(ReporterTest, QueuedReportsStayWithinTheLockLimitWhileTheCollectorHangs) {
    service_.SetHangLimit(20s);
    service_.SetBehaviour(Endpoint::Collect, Behaviour::Hang);
    UserLogReporter reporter(Options(true));
    ASSERT_TRUE(service_.WaitForCount(Endpoint::Collect, 1, 10s));  // the sender is now stuck in a post
    std::atomic<long long> slowest{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                const auto start = std::chrono::steady_clock::now();
                reporter.ReportEvent("Download", "3.Downloading...", "First", false);
                const long long took =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
                long long seen = slowest.load();
                while (took > seen && !slowest.compare_exchange_weak(seen, took)) {
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_LE(slowest.load(), UserLogReporter::kQueueLockWait.count() + 100);
    EXPECT_EQ(service_.Count(Endpoint::Collect), 1u);
    // Nothing was dropped meanwhile: the queue was never held across the hanging post.
    service_.SetBehaviour(Endpoint::Collect, Behaviour::Answer);
    service_.ReleaseHangs();
    EXPECT_TRUE(service_.WaitForCount(Endpoint::Collect, 1 + 8 * 50, 30s)) << service_.Count(Endpoint::Collect);
}

TEST_F(ReporterTest, DestroyingTheReporterDuringSendsLeavesTheClientToItsUsers) {
    service_.SetHangLimit(20s);
    service_.SetBehaviour(Endpoint::Collect, Behaviour::Hang);
    std::atomic<int> immediateResult{-100};
    std::thread immediate;
    {
        UserLogReporter reporter(Options(true));
        reporter.ReportEvent("Download", "2.DownStart", "", false);
        // One post hangs on the sender thread; an immediate send waits behind it.
        ASSERT_TRUE(service_.WaitForCount(Endpoint::Collect, 1, 10s));
        immediate = std::thread([&] { immediateResult = reporter.ReportEvent("CrashRate", "Close", "", true); });
        std::this_thread::sleep_for(100ms);
        // The reporter goes away while both sends still use its client (the immediate
        // sender holds the reporter's state, not the object).
        immediate.detach();
    }
    // Releasing the hang lets both sends finish with the client after the reporter is gone.
    service_.SetBehaviour(Endpoint::Collect, Behaviour::Answer);
    service_.Stop();
    for (int i = 0; i < 200 && immediateResult == -100; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_NE(immediateResult.load(), -100);
    // The queued "2.DownStart" was discarded: the client had been let go of.
}

}  // namespace
