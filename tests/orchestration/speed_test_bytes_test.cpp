// The speed test's bytes start the download: the winning location's ranges go into the
// download file and its task file, the download asks only for the rest, and nothing of a
// loser, of another URL, or past the last byte written is ever used.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "src/engine/CDownloadTaskManager.h"
#include "src/engine/CRemotePathSelector.h"
#include "src/engine/DownLoadImpl.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/orchestration/OrchestrationSupport.h"
#include "tests/support/TestHttpServer.h"

namespace {

namespace fs = std::filesystem;
using enginetest::LogCapture;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using orchestrationtest::RecordingProgress;
using qvtest::TestHttpServer;
using Spans = std::vector<std::pair<std::int64_t, std::int64_t>>;

constexpr std::int64_t kMiB = 1 << 20;

Spans Merged(Spans spans) {
    std::sort(spans.begin(), spans.end());
    Spans out;
    for (const auto& span : spans) {
        if (!out.empty() && span.first <= out.back().second) {
            out.back().second = std::max(out.back().second, span.second);
        } else {
            out.push_back(span);
        }
    }
    return out;
}

std::int64_t Length(const Spans& spans) {
    std::int64_t total = 0;
    for (const auto& [a, b] : spans) total += b - a;
    return total;
}

Spans Complement(const Spans& spans, std::int64_t size) {
    Spans out;
    std::int64_t at = 0;
    for (const auto& [a, b] : Merged(spans)) {
        if (a > at) out.emplace_back(at, a);
        at = std::max(at, b);
    }
    if (at < size) out.emplace_back(at, size);
    return out;
}

// The byte spans the range requests for `path` asked for (a range naming bytes past the
// end of the file ends at the end of the file).
Spans AskedFor(const TestHttpServer& server, const std::string& path, std::int64_t size) {
    Spans spans;
    const std::regex pattern(R"(bytes=([0-9]+)-([0-9]*))");
    for (const auto& request : server.requests()) {
        std::smatch match;
        if (request.method != "GET" || request.path != path || !std::regex_match(request.range, match, pattern)) continue;
        const std::int64_t first = std::stoll(match[1].str());
        const std::int64_t end = match[2].str().empty() ? size : std::min<std::int64_t>(std::stoll(match[2].str()) + 1, size);
        spans.emplace_back(first, end);
    }
    return spans;
}

std::size_t RangeRequests(const TestHttpServer& server, const std::string& path) {
    std::size_t n = 0;
    for (const auto& request : server.requests()) n += request.path == path && !request.range.empty();
    return n;
}

// The bytes a task file counts as downloaded, read back as a resuming download reads it,
// and the number of its tasks not finished.
// The end-game cuts of the download logged since `log` began.
std::size_t Cuts(const LogCapture& log) {
    std::size_t count = 0;
    for (const std::string& line : log.lines()) count += line.rfind(" Share out: ", 0) == 0 ? 1 : 0;
    return count;
}

Spans CountedAsWritten(const std::string& url, const std::string& local, std::size_t* openTasks = nullptr) {
    CDownloadTaskManager tasks(url, local, local + ".xml");
    tasks.readTaskInfo();
    Spans spans;
    std::size_t open = 0;
    for (const auto& task : tasks.allTasks()) {
        const std::int64_t pos = task->DownloadedPos.load();
        open += pos != task->EndPos;
        const std::int64_t end = pos == task->EndPos ? std::min(task->EndPos + 1, tasks.contentLength()) : pos;
        if (end > task->StartPos) spans.emplace_back(task->StartPos, end);
    }
    if (openTasks != nullptr) *openTasks = open;
    return Merged(spans);
}

std::string Flipped(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(c ^ 0x5A);
    return bytes;
}

class SpeedTestBytesTest : public ::testing::Test {
protected:
    SpeedTestBytesTest() : registry_(platform::RegistryHive::LocalMachine, dir_.path() / "registry") {
        fs::create_directories(dir_.path() / "registry");
        fs::create_directories(dir_.path() / "work");
    }

    std::unique_ptr<CRemotePathSelector> Selector() {
        SpeedTestSettings settings;
        settings.stepMs = 150;
        settings.rangeTimeouts.requestMs = 2000;
        settings.rangeTimeouts.connectMs = 1000;
        return std::make_unique<CRemotePathSelector>("Morvik Backup", registry_, &progress_, reporter_,
                                                     [this] { return work_; }, settings);
    }
    DownloadResult Download(const std::string& url) {
        DownloadWatchSettings settings;
        settings.passPauseMs = 5;
        settings.rangeTimeouts.requestMs = 10000;  // no request of a working server times out
        settings.rangeTimeouts.connectMs = 2000;
        CDownLoadImpl impl(&progress_, reporter_, [] { return true; }, settings);
        return impl.SuperDownloadFile(url, local_, "");
    }
    std::vector<std::string> WorkFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path() / "work")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    platform::RegistryStore registry_;
    RecordingProgress progress_;
    RecordingReporter reporter_;
    std::string work_ = (dir_.path() / "work").string() + "/";
    std::string local_ = dir_.file("setup.exe");
};

TEST_F(SpeedTestBytesTest, DownloadAsksOnlyForWhatTheWinnersSpeedTestDidNotFetch) {
    // Two locations of the same size with different bytes: the slower one must lose and
    // none of its bytes may reach the file. Each range takes about half a second from the
    // winner, so its speed test fetches a few tasks and leaves the rest.
    const std::int64_t size = 16 * kMiB + 12345;
    const std::string winnerBytes = TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size));
    TestHttpServer server;
    qvtest::FileOptions fast, slow;
    fast.bytesPerSecond = 2 * kMiB;
    slow.bytesPerSecond = kMiB / 2;
    server.serveFile("/one.exe", winnerBytes, fast);
    server.serveFile("/two.exe", Flipped(winnerBytes), slow);
    const std::string one = server.url("/one.exe"), two = server.url("/two.exe");

    auto selector = Selector();
    ASSERT_EQ(selector->checkRemotePath({one, two}, 3), one);
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"temp.kept"});
    const Spans speedTest = Merged(AskedFor(server, "/one.exe", size));
    ASSERT_GT(RangeRequests(server, "/two.exe"), 0u) << "the loser was tested too";

    const std::int64_t adopted = selector->adoptSpeedTestBytes(one, local_, local_ + ".xml");
    ASSERT_GT(adopted, 0);
    ASSERT_LT(adopted, size) << "the test needs a speed test that leaves work for the download";
    EXPECT_TRUE(WorkFiles().empty());
    // What the task file counts came from the winner's speed-test requests.
    std::size_t openTasks = 0;
    const Spans counted = CountedAsWritten(one, local_, &openTasks);
    EXPECT_EQ(Length(counted), adopted);
    EXPECT_EQ(Length(Merged([&] {
                  Spans both = speedTest;
                  both.insert(both.end(), counted.begin(), counted.end());
                  return both;
              }())),
              Length(speedTest))
        << "bytes counted that the speed test never asked for";

    server.resetCounters();
    LogCapture log;
    ASSERT_EQ(Download(one), DownloadResult::Complete);
    EXPECT_TRUE(log.has(" Load tasks from file success!"));
    EXPECT_TRUE(enginetest::ReadFile(local_) == winnerBytes) << "the file is the winner's, byte for byte";
    // The download asked for exactly what the speed test had not fetched, each byte once.
    const Spans asked = AskedFor(server, "/one.exe", size);
    EXPECT_EQ(Merged(asked), Complement(counted, size));
    EXPECT_EQ(RangeRequests(server, "/two.exe"), 0u);
    EXPECT_LE(RangeRequests(server, "/one.exe"), openTasks + Cuts(log));
    // Unless idle workers took over the rest of slow runs at the end: each such cut asks
    // again for the rest of a run, and the cut request may have had bytes past the cut on
    // their way (sent, never written).
    const std::int64_t slack = static_cast<std::int64_t>(Cuts(log)) * 2 * kMiB;
    EXPECT_LE(Length(asked), size - adopted + slack);
    EXPECT_GE(server.bytesSent(), size - adopted);
    EXPECT_LE(server.bytesSent(), size - adopted + slack);
}

TEST_F(SpeedTestBytesTest, BytesGoOnlyToTheSameFileAtTheSameUrl) {
    // The location redirects to the file, as mirrors often do; the speed test fetches it all.
    const std::int64_t size = 2 * kMiB + 77;
    const std::string content = TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size));
    {
        // Bytes a run that died left behind go at the next speed test, whatever it finds,
        // and bytes no download took go with the selector.
        enginetest::WriteFile(work_ + "temp.kept", "left by a run that died");
        TestHttpServer server;
        server.serveGenerated("/v1.exe", size);
        auto selector = Selector();
        EXPECT_EQ(selector->checkRemotePath({server.url("/missing.exe")}, 3), "");
        EXPECT_TRUE(WorkFiles().empty());
        ASSERT_EQ(selector->checkRemotePath({server.url("/v1.exe")}, 3), server.url("/v1.exe"));
        EXPECT_EQ(WorkFiles(), std::vector<std::string>{"temp.kept"});
        EXPECT_TRUE(enginetest::ReadFile(work_ + "temp.kept") == content);
        selector.reset();
        EXPECT_TRUE(WorkFiles().empty());
    }
    struct Case {
        const char* name;
        // What changes between the speed test and the download; returns the location adopted.
        std::function<std::string(TestHttpServer&, const std::string& location, const std::string& local)> change;
        bool used;
        bool fileThere = false;  // a file at the download's path before the hand-over
    };
    const Case cases[] = {
        {"the winner, unchanged", [](TestHttpServer&, const std::string& location, const std::string&) { return location; },
         true},
        {"another location (a retry elsewhere)",
         [](TestHttpServer& server, const std::string&, const std::string&) { return server.url("/other.exe"); }, false},
        {"the location now leads to another file",
         [size](TestHttpServer& server, const std::string& location, const std::string&) {
             server.serveFile("/v2.exe", Flipped(TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size))));
             server.redirect("/setup.exe", "/v2.exe");
             return location;
         },
         false},
        {"the file changed size",
         [size](TestHttpServer& server, const std::string& location, const std::string&) {
             server.serveGenerated("/v1.exe", size + 1);
             return location;
         },
         false},
        {"a download is already there",
         [](TestHttpServer&, const std::string& location, const std::string& local) {
             enginetest::WriteFile(local, "vouched for");
             return location;
         },
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(local_);
        fs::remove(local_ + ".xml");
        TestHttpServer server;
        server.serveGenerated("/v1.exe", size);
        server.serveGenerated("/other.exe", size);
        server.redirect("/setup.exe", "/v1.exe");
        const std::string location = server.url("/setup.exe");
        auto selector = Selector();
        ASSERT_EQ(selector->checkRemotePath({location}, 3), location);
        const std::string adoptedFor = c.change(server, location, local_);

        const std::int64_t adopted = selector->adoptSpeedTestBytes(adoptedFor, local_, local_ + ".xml");
        EXPECT_TRUE(WorkFiles().empty()) << "the kept bytes are handed over or deleted";
        if (c.used) {
            EXPECT_EQ(adopted, size);
            EXPECT_TRUE(enginetest::ReadFile(local_) == content);
            EXPECT_EQ(Length(CountedAsWritten(location, local_)), size);
        } else {
            EXPECT_EQ(adopted, 0);
            EXPECT_FALSE(fs::exists(local_ + ".xml"));
            if (c.fileThere) {
                EXPECT_EQ(enginetest::ReadFile(local_), "vouched for");
            } else {
                EXPECT_FALSE(fs::exists(local_));
            }
        }
    }
}

TEST_F(SpeedTestBytesTest, SpeedTestStoppedMidRangeCountsOnlyTheBytesWritten) {
    // One response stalls half a MiB into the third task and outlasts the speed test: the
    // worker's request ends on its time-out with that task part-way.
    const std::int64_t size = 5 * kMiB;
    const std::int64_t stallAt = 2 * kMiB + kMiB / 2;
    TestHttpServer server;
    qvtest::FileOptions options;
    options.fault = qvtest::FaultKind::Stall;
    options.faultAt = stallAt;
    options.stallMs = 4000;
    server.serveGenerated("/setup.exe", size, options);
    const std::string location = server.url("/setup.exe");

    auto selector = Selector();
    ASSERT_EQ(selector->checkRemotePath({location}, 3), location);
    const std::int64_t adopted = selector->adoptSpeedTestBytes(location, local_, local_ + ".xml");
    server.releaseStalls();
    EXPECT_EQ(adopted, size - (3 * kMiB - stallAt));
    const Spans counted = CountedAsWritten(location, local_);
    EXPECT_EQ(counted, (Spans{{0, stallAt}, {3 * kMiB, size}}));
    {
        // The state handed over is one a resuming download accepts as it is.
        CDownloadTaskManager tasks(location, local_, local_ + ".xml");
        tasks.readTaskInfo();
        EXPECT_EQ(tasks.checkTaskInfo(), 1);
    }

    server.resetCounters();
    ASSERT_EQ(Download(location), DownloadResult::Complete);
    EXPECT_TRUE(enginetest::ReadFile(local_) == TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size)));
    ASSERT_EQ(RangeRequests(server, "/setup.exe"), 1u);
    EXPECT_EQ(AskedFor(server, "/setup.exe", size), (Spans{{stallAt, 3 * kMiB}}));
}

}  // namespace
