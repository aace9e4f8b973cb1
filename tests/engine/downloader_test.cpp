// Whole downloads end to end against a real HTTP server: byte-identical results, the
// task ranges on the wire, misbehaving servers, stop and resume, progress figures.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "src/engine/CDownloader.h"
#include "EngineTestSupport.h"
#include "tests/support/TestHttpServer.h"

using enginetest::LogCapture;
using enginetest::RandomBytes;
using enginetest::ReadFile;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using qvtest::TestHttpServer;

namespace {

using enginetest::MiB;
const std::string kStopped = " Download Stopped\xEF\xBC\x81";

class DownloaderTest : public ::testing::Test {
protected:
    std::unique_ptr<CDownloader> downloader(const std::string& path, int threads = 10) {
        return std::make_unique<CDownloader>(server.url(path), local, local + ".xml", threads, reporter, timeouts);
    }
    // Runs until the driver stops by itself or `limitMs` passes, then stops and waits.
    static errorcode run(CDownloader& d, int limitMs = 60000) {
        const errorcode result = d.downloadInit(false, "Download");
        if (result == ERRORCODE_OK) d.startDownload();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (result == ERRORCODE_OK && !d.driverFinished() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        d.stopDownload();
        d.waitForDriver();
        return result;
    }
    std::set<std::string> rangesRequested() const {
        std::set<std::string> ranges;
        for (const auto& r : server.requests()) {
            if (!r.range.empty()) ranges.insert(r.path + " " + r.range);
        }
        return ranges;
    }

    TestHttpServer server;
    TempDir dir;
    std::string local = dir.file("setup.bin");
    RecordingReporter reporter;
    RangeTimeouts timeouts;  // the product's; tests of time-outs shorten them
};

// Byte ranges of the requests in the order the server got them.
std::vector<std::pair<std::int64_t, std::int64_t>> RangesOf(const std::vector<TestHttpServer::Request>& requests) {
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (const auto& r : requests) {
        long long first = 0, last = 0;
        if (std::sscanf(r.range.c_str(), "bytes=%lld-%lld", &first, &last) == 2) ranges.emplace_back(first, last);
    }
    return ranges;
}

TEST_F(DownloaderTest, DownloadsByteIdenticalFilesInRunsOfWholeTasks) {
    for (const std::int64_t size : {64 * MiB, 5 * MiB + MiB / 2, std::int64_t{100}, MiB + 1}) {
        SCOPED_TRACE(size);
        std::filesystem::remove(local);
        std::filesystem::remove(local + ".xml");
        server.resetCounters();
        const std::string content = RandomBytes(static_cast<std::size_t>(size), static_cast<unsigned>(size));
        server.serveFile("/setup.bin", content);
        LogCapture log;
        auto d = downloader("/setup.bin");
        ASSERT_EQ(run(*d), ERRORCODE_OK);
        ASSERT_TRUE(ReadFile(local) == content);
        EXPECT_TRUE(d->dispatched());
        EXPECT_TRUE(log.has(" Download will stop"));
        EXPECT_FALSE(log.has(" Stopping Download,Mission Failed"));
        EXPECT_TRUE(log.has(kStopped));
        EXPECT_TRUE(d->taskManager().allTasksFinished());
        const auto count = std::max<std::int64_t>(1, size / MiB);
        // On the loopback no request is slow enough to be shared out; should one be (a
        // machine stalled for seconds), its tasks are split and asked for again.
        if (d->splits() != 0) {
            EXPECT_EQ(static_cast<std::size_t>(d->tasksCount()), d->taskManager().allTasks().size());
            continue;
        }
        // Every request asks for whole tasks from where they start, the requests never
        // overlap, and every byte is sent once.
        auto ranges = RangesOf(server.requests());
        std::sort(ranges.begin(), ranges.end());
        std::int64_t expected = 0;
        for (const auto& [first, last] : ranges) {
            EXPECT_EQ(first, expected);
            EXPECT_EQ(first % MiB, 0);
            EXPECT_TRUE(last == size || (last + 1) % MiB == 0) << last;
            expected = last + 1;
        }
        EXPECT_EQ(expected, size + 1);
        EXPECT_LE(static_cast<std::int64_t>(ranges.size()), count);
        EXPECT_EQ(server.requestCount(), ranges.size() + 1);  // plus the size probe
        EXPECT_EQ(server.bytesSent(), size);
        // Each task counts the one request that fetched it.
        EXPECT_EQ(d->downloadInfo().requestCount, count);
        EXPECT_GE(d->downloadInfo().percent, 100.0);
        EXPECT_EQ(d->tasksCount(), count);
        // The task file ends up describing the finished download.
        EXPECT_NE(ReadFile(local + ".xml").find("<ContentLength>" + std::to_string(size) + "</ContentLength>"),
                  std::string::npos);
    }
}

// One worker: its first request fetches the last two tasks at once, and once its rate is
// known the next one fetches the other four; each task records its own progress.
TEST_F(DownloaderTest, AWorkerFetchesAdjacentTasksInOneRequest) {
    const std::int64_t size = 6 * MiB;
    server.serveGenerated("/setup.bin", size);
    auto d = downloader("/setup.bin", 1);
    ASSERT_EQ(run(*d), ERRORCODE_OK);
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    const auto ranges = RangesOf(server.requests());
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], std::make_pair(4 * MiB, size));
    EXPECT_EQ(ranges[1], std::make_pair(std::int64_t{0}, 4 * MiB - 1));
    EXPECT_EQ(d->downloadInfo().requestCount, 6);
    EXPECT_EQ(server.bytesSent(), size);
    for (const auto& task : d->taskManager().allTasks()) {
        EXPECT_EQ(task->TaskStatus, TASK_FINISHED);
        EXPECT_EQ(task->DownloadedPos, task->EndPos);
        EXPECT_EQ(task->RequestTimes, 1);
    }
}

// A worker's share of what is left is rounded up to whole tasks: rounded to the nearest,
// 44 tasks over 10 workers gave 4 each and left 4 tasks for a last round of requests
// that cost a whole round trip on a far server while six workers idled.
TEST(DownloaderShare, AWorkersShareIsRoundedUpToWholeTasks) {
    struct Case {
        std::int64_t left;
        std::size_t workers;
        std::size_t tasks;
    };
    const Case cases[] = {
        {44 * MiB, 10, 5},      {7 * MiB, 3, 3},  {40 * MiB, 10, 4}, {64 * MiB, 10, 7},
        {10 * MiB + 10, 10, 2}, {MiB, 10, 1},     {100, 10, 1},      {0, 10, 1},
        {-5, 10, 1},            {3 * MiB, 0, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CDownloader::shareTasks(c.left, c.workers), c.tasks) << c.left << " bytes over " << c.workers;
    }
}

TEST_F(DownloaderTest, FinishedTaskFileStopsAtOnceWithoutDispatching) {
    server.serveGenerated("/setup.bin", 3 * MiB);
    {
        auto first = downloader("/setup.bin");
        ASSERT_EQ(run(*first), ERRORCODE_OK);
    }
    server.resetCounters();
    LogCapture log;
    auto again = downloader("/setup.bin");
    ASSERT_EQ(run(*again), ERRORCODE_OK);
    EXPECT_TRUE(log.has(" Load tasks from file success!"));
    EXPECT_TRUE(log.has(" Download will stop"));
    EXPECT_FALSE(again->dispatched());
    EXPECT_TRUE(rangesRequested().empty());
}

// A caller polling for the end wakes up when the driver ends, not at its next poll; and
// a poll before that says the driver still runs.
TEST_F(DownloaderTest, WaitForDriverForSaysWhetherTheDriverEnded) {
    server.serveGenerated("/setup.bin", 3 * MiB);
    auto d = downloader("/setup.bin");
    ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
    EXPECT_FALSE(d->waitForDriverFor(0));
    EXPECT_FALSE(d->waitForDriverFor(20)) << "the driver waits for a start or a stop";
    d->startDownload();
    // One long wait ends when the driver does, not when the wait does.
    EXPECT_TRUE(d->waitForDriverFor(120000));
    EXPECT_TRUE(d->driverFinished());
    EXPECT_TRUE(d->taskManager().allTasksFinished());
    EXPECT_TRUE(d->waitForDriverFor(0));
    d->waitForDriver();
}

// The task file says "finished", but the data file is gone or was cut: the download
// starts over instead of calling an empty or short file complete.
TEST_F(DownloaderTest, FinishedTaskFileWithoutItsDataStartsOver) {
    server.serveGenerated("/setup.bin", 3 * MiB);
    {
        auto first = downloader("/setup.bin");
        ASSERT_EQ(run(*first), ERRORCODE_OK);
    }
    for (const bool gone : {true, false}) {
        SCOPED_TRACE(gone ? "data file removed" : "data file cut");
        if (gone) std::filesystem::remove(local);
        else std::filesystem::resize_file(local, 2 * MiB);
        server.resetCounters();
        LogCapture log;
        auto again = downloader("/setup.bin");
        ASSERT_EQ(run(*again), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" taskinfo file error"));
        EXPECT_TRUE(again->taskManager().allTasksFinished());
        if (again->splits() == 0) {
            EXPECT_EQ(rangesRequested().size(), 3u);
        }
        EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, 3 * MiB));
    }
}

// Servers that answer in ways HTTP allows: lower-case header names, a Content-Location
// beside the answer. The file comes out whole, fetched from the URL asked for.
TEST_F(DownloaderTest, LowerCaseHeadersAndContentLocationDownloadWhole) {
    const std::int64_t size = 3 * MiB + 4321;
    TestHttpServer::FileOptions located;
    located.contentLocation = "/somewhere-else.bin";
    server.serveGenerated("/setup.bin", size, located);
    server.setLowerCaseHeaders(true);
    auto d = downloader("/setup.bin");
    ASSERT_EQ(run(*d, 30000), ERRORCODE_OK);
    EXPECT_TRUE(d->taskManager().allTasksFinished());
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size)));
    for (const auto& range : rangesRequested()) EXPECT_EQ(range.rfind("/setup.bin ", 0), 0u) << range;
}

// Answers that are not the bytes asked for never make a download complete, and a body
// longer than asked never grows the file past its size: with ten workers a request is
// one task, with one worker it is a run of several, and an answer that goes wrong in the
// middle of a run finishes the tasks before the fault and none after it.
TEST_F(DownloaderTest, WrongOrShortAnswersNeverPassForComplete) {
    const std::int64_t size = 3 * MiB;
    struct Case {
        const char* name;
        TestHttpServer::FileOptions options;
        bool completes;
    };
    TestHttpServer::FileOptions shortOne;
    shortOne.shortBy = 1;
    TestHttpServer::FileOptions shifted;
    shifted.rangeShift = 7;
    TestHttpServer::FileOptions longer;
    longer.overlongBy = 1;
    for (const int threads : {10, 1}) {
        for (const Case& c : {Case{"206 one byte short", shortOne, false}, Case{"206 of other bytes", shifted, false},
                              Case{"body one byte long", longer, true}}) {
            SCOPED_TRACE(std::string(c.name) + ", workers: " + std::to_string(threads));
            std::filesystem::remove(local);
            std::filesystem::remove(local + ".xml");
            server.serveGenerated("/setup.bin", size, c.options);
            auto d = downloader("/setup.bin", threads);
            ASSERT_EQ(run(*d, c.completes ? 30000 : 2000), ERRORCODE_OK);
            EXPECT_EQ(d->taskManager().allTasksFinished(), c.completes);
            const std::string out = ReadFile(local);
            EXPECT_LE(static_cast<std::int64_t>(out.size()), size);
            const std::string expected = TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size));
            if (c.completes) {
                EXPECT_TRUE(out == expected);
            }
            // Whatever a task counts as written is the server's file.
            for (const auto& task : d->taskManager().allTasks()) {
                const std::int64_t end = task->DownloadedPos == task->EndPos ? std::min<std::int64_t>(task->EndPos + 1, size)
                                                                             : task->DownloadedPos.load();
                if (end <= task->StartPos) continue;
                ASSERT_LE(end, static_cast<std::int64_t>(out.size()));
                EXPECT_TRUE(out.compare(static_cast<std::size_t>(task->StartPos), static_cast<std::size_t>(end - task->StartPos),
                                        expected, static_cast<std::size_t>(task->StartPos),
                                        static_cast<std::size_t>(end - task->StartPos)) == 0)
                    << "task " << task->TaskId;
            }
        }
    }
}

// A connection dropped in the middle of a run: the tasks before the drop are done, the
// one it cut stands where its bytes stopped, the next request goes on from exactly there,
// and the tasks after it were never counted as asked for.
TEST_F(DownloaderTest, DroppedRunKeepsEveryTaskWhereItsBytesStopped) {
    const std::int64_t size = 6 * MiB;
    TestHttpServer::FileOptions drop;
    drop.fault = TestHttpServer::FaultKind::Drop;
    drop.faultAt = 2 * MiB + 12345;  // in the third task of the run 0-4194303
    server.serveGenerated("/setup.bin", size, drop);
    LogCapture log;
    auto d = downloader("/setup.bin", 1);
    ASSERT_EQ(run(*d), ERRORCODE_OK);
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    const auto ranges = RangesOf(server.requests());
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], std::make_pair(4 * MiB, size));
    EXPECT_EQ(ranges[1], std::make_pair(std::int64_t{0}, 4 * MiB - 1));
    EXPECT_EQ(ranges[2], std::make_pair(2 * MiB + 12345, 4 * MiB - 1));
    EXPECT_EQ(server.bytesSent(), size);
    const auto& tasks = d->taskManager().allTasks();
    // Tasks 1 and 2 were done by the dropped request, 3 and 4 by the next one.
    EXPECT_EQ(tasks[0]->RequestTimes, 1);
    EXPECT_EQ(tasks[1]->RequestTimes, 1);
    EXPECT_EQ(tasks[2]->RequestTimes, 2);
    EXPECT_EQ(tasks[3]->RequestTimes, 1);
}

TEST_F(DownloaderTest, RedirectedDownloadFetchesEveryRangeFromTheFinalUrl) {
    const std::string content = RandomBytes(static_cast<std::size_t>(4 * MiB + 3), 7);
    server.serveFile("/files/setup.bin", content);
    server.redirect("/download", "/mirror");
    server.redirect("/mirror", "/files/setup.bin", 301);
    auto d = downloader("/download");
    ASSERT_EQ(run(*d), ERRORCODE_OK);
    EXPECT_TRUE(ReadFile(local) == content);
    for (const auto& range : rangesRequested()) EXPECT_EQ(range.rfind("/files/setup.bin ", 0), 0u) << range;
    for (const auto& task : d->taskManager().allTasks()) EXPECT_EQ(task->RemotePath, server.url("/files/setup.bin"));
    EXPECT_EQ(rangesRequested().size(), 4u);
}

// Log lines that are no error: what a download says when nothing went wrong.
std::vector<std::string> ErrorLines(const LogCapture& log) {
    std::vector<std::string> errors;
    for (const std::string& line : log.lines()) {
        bool normal = false;
        for (const char* prefix : {" Request Range: (", " Get Contentlength = ", " GetSize: ", " Download will stop",
                                   " Stopping Download,", " Download Stopped", " Share out: ",
                                   " Load tasks from file success!"}) {
            normal = normal || line.rfind(prefix, 0) == 0;
        }
        if (!normal) errors.push_back(line);
    }
    return errors;
}

// A download that starts afresh asks for its first ranges along with the size probe, so
// that a far server sends the first bytes one round trip after the start instead of two.
// This server answers the probe only once all ten have arrived (503 otherwise); each
// takes the two tasks of its range once they exist, and no byte is fetched twice.
TEST_F(DownloaderTest, EarlyRequestsGoOutWithTheSizeProbeAndKeepTheirBytes) {
    const std::int64_t size = 40 * MiB + 5;
    TestHttpServer::FileOptions options;
    options.headAfterRanges = 10;
    server.serveGenerated("/setup.bin", size, options);
    LogCapture log;
    auto d = downloader("/setup.bin");
    d->setEarlyRequests(true);
    ASSERT_EQ(run(*d), ERRORCODE_OK);
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    EXPECT_TRUE(log.has(" GetSize: Download, Success/Null/Null/Null/Null"));
    EXPECT_EQ(ErrorLines(log), std::vector<std::string>{});
    auto ranges = RangesOf(server.requests());
    ASSERT_GE(ranges.size(), 10u);
    std::vector<std::pair<std::int64_t, std::int64_t>> first(ranges.begin(), ranges.begin() + 10);
    std::sort(first.begin(), first.end());
    for (std::int64_t i = 0; i < 10; ++i) EXPECT_EQ(first[i], std::make_pair(2 * i * MiB, 2 * (i + 1) * MiB - 1));
    if (d->splits() == 0) {
        EXPECT_EQ(server.bytesSent(), size);
        EXPECT_EQ(d->downloadInfo().requestCount, 40);
    }
    for (const auto& task : d->taskManager().allTasks()) EXPECT_EQ(task->TaskStatus, TASK_FINISHED);
}

// Early requests whose ranges the file does not have (a small file: past its end, or not
// ending where its last task does), that a redirect answers (the ranges come from where
// the probe led), or that a stop before the start overtakes: they write nothing, log no
// error, and the download (or the next run) still comes out whole.
TEST_F(DownloaderTest, EarlyRequestsWithoutTasksEndQuietly) {
    struct Case {
        const char* name;
        std::int64_t size;
        bool redirected;
        bool stopFirst;
    };
    for (const Case& c : {Case{"small", 3 * MiB + 7, false, false}, Case{"tiny", 100, false, false},
                          Case{"redirected", 24 * MiB + 1, true, false}, Case{"stopped", 24 * MiB + 1, false, true}}) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(local);
        std::filesystem::remove(local + ".xml");
        server.resetCounters();
        // Unredirected, the probe is answered once every early request is out.
        TestHttpServer::FileOptions options;
        options.headAfterRanges = c.redirected || c.stopFirst ? 0 : 10;
        server.serveGenerated("/files/setup.bin", c.size, options);
        if (c.redirected) server.redirect("/download", "/files/setup.bin");
        const std::string path = c.redirected ? "/download" : "/files/setup.bin";
        LogCapture log;
        if (c.stopFirst) {
            auto d = downloader(path);
            d->setEarlyRequests(true);
            ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
            // The early answers are in (or on their way) while nothing may be written yet.
            EXPECT_TRUE(server.waitForRanges(path, 10, 5000));
            d->stopDownload();
            d->waitForDriver();
            EXPECT_EQ(d->taskManager().downloadedBytes(), d->tasksCount());  // no byte counted
            EXPECT_FALSE(std::filesystem::exists(local) && std::filesystem::file_size(local) != 0);
            server.resetCounters();
        }
        auto d = downloader(path);
        d->setEarlyRequests(true);
        ASSERT_EQ(run(*d), ERRORCODE_OK);
        EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, c.size));
        EXPECT_EQ(ErrorLines(log), std::vector<std::string>{});
        // The early requests did go out.
        if (options.headAfterRanges != 0) {
            auto early = RangesOf(server.requests());
            ASSERT_GE(early.size(), 10u);
            early.resize(10);
            std::sort(early.begin(), early.end());
            for (std::int64_t i = 0; i < 10; ++i) EXPECT_EQ(early[i].first, 2 * i * MiB);
        }
        for (const auto& task : d->taskManager().allTasks()) {
            EXPECT_EQ(task->TaskStatus, TASK_FINISHED);
            EXPECT_EQ(task->RemotePath, server.url("/files/setup.bin"));
        }
        // A redirect's answers carry no bytes of the file: every byte came from where
        // the probe led, once.
        if (d->splits() == 0 && c.redirected) {
            EXPECT_EQ(server.bytesSent(), c.size);
        }
    }
}

// A stalled range times out (28) with DownloadedPos where its bytes stopped, and a
// dropped connection leaves the task where the bytes stopped; the next request of the
// task starts exactly there, and the file comes out whole. (When idle workers took over
// part of a slow task meanwhile, its other pieces are asked for too.)
TEST_F(DownloaderTest, StalledAndDroppedRangesResumeWhereTheBytesStopped) {
    struct Case {
        const char* name;
        TestHttpServer::FaultKind fault;
        std::int64_t at;
        const char* retry;
        const char* log;
    };
    const Case cases[] = {
        {"stall", TestHttpServer::FaultKind::Stall, 2 * MiB + 300000, "bytes=2397152-3145727", " Curl Time out"},
        {"drop", TestHttpServer::FaultKind::Drop, 5 * MiB + 4321, "bytes=5247201-6291455", nullptr},
        {"drop one byte short", TestHttpServer::FaultKind::Drop, 2 * MiB - 1, "bytes=2097150-2097151", nullptr},
    };
    timeouts = RangeTimeouts{1500, 1000};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(local);
        std::filesystem::remove(local + ".xml");
        server.resetCounters();
        TestHttpServer::FileOptions options;
        options.fault = c.fault;
        options.faultAt = c.at;
        server.serveGenerated("/setup.bin", 8 * MiB + 5, options);
        LogCapture log;
        auto d = downloader("/setup.bin");
        ASSERT_EQ(run(*d), ERRORCODE_OK);
        EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, 8 * MiB + 5));
        const std::string retry = std::string("/setup.bin ") + c.retry;
        const std::string retryStart = retry.substr(0, retry.find('-') + 1);
        const auto ranges = rangesRequested();
        EXPECT_EQ(std::count_if(ranges.begin(), ranges.end(),
                                [&](const std::string& r) { return r.rfind(retryStart, 0) == 0; }),
                  1);
        if (d->splits() == 0) {
            EXPECT_EQ(ranges.count(retry), 1u);
            EXPECT_EQ(ranges.size(), 9u);
            if (c.log != nullptr) {
                EXPECT_TRUE(log.has(c.log));
            }
        }
    }
}

// A server that ignores Range: the first task gets its bytes from the whole body, the
// others never take a byte of it, and the file is never corrupted.
// The end game: one response stalls for good early on while the others are served. Once
// nothing waits, idle workers take over the rest of the stalled task from where its
// bytes stopped: the download ends without waiting for the stalled request's time-out,
// and the task file gains the piece as a task of its own.
TEST_F(DownloaderTest, IdleWorkersTakeOverAStalledRequest) {
    const std::int64_t size = 6 * MiB + 5;
    const std::int64_t stallAt = 65536 + 777;  // in task 1, which the third worker fetches
    TestHttpServer::FileOptions stall;
    stall.fault = TestHttpServer::FaultKind::Stall;
    stall.faultAt = stallAt;
    stall.stallMs = 60000;
    server.serveGenerated("/setup.bin", size, stall);
    LogCapture log;
    auto d = downloader("/setup.bin", 3);
    const errorcode result = run(*d, 9000);  // under the request time-out of 10 s
    server.releaseStalls();
    ASSERT_EQ(result, ERRORCODE_OK);
    EXPECT_TRUE(d->taskManager().allTasksFinished());
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    EXPECT_FALSE(log.has(" Curl Time out"));
    EXPECT_FALSE(log.has(" Stopping Download,Mission Failed"));
    EXPECT_GE(d->splits(), 1u);
    // The stalled task ends where its bytes stopped; a new task took the rest of it (in
    // one piece or more, as the stalled request looked slow before it looked stalled),
    // and another request fetched from exactly there.
    const auto& tasks = d->taskManager().allTasks();
    ASSERT_GE(tasks.size(), 7u);
    EXPECT_EQ(static_cast<std::size_t>(d->tasksCount()), tasks.size());
    EXPECT_EQ(tasks[0]->EndPos, stallAt - 1);
    EXPECT_EQ(tasks[1]->StartPos, stallAt);
    EXPECT_GE(tasks[1]->TaskId, 7);
    const auto ranges = RangesOf(server.requests());
    EXPECT_EQ(std::count_if(ranges.begin(), ranges.end(), [&](const auto& r) { return r.first == stallAt; }), 1);
    // The task file says the same, and reads back as a download to resume.
    CDownloadTaskManager saved(server.url("/setup.bin"), local, local + ".xml", reporter);
    saved.readTaskInfo();
    EXPECT_TRUE(saved.readError().empty()) << saved.readError();
    EXPECT_EQ(static_cast<std::size_t>(saved.tasksCount()), tasks.size());
    EXPECT_EQ(saved.checkTaskInfo(), 1);
}

// The last running request goes silent after the other worker has ended: no one else is
// served, so it is not a stall by that rule, but it is shared out as its rate falls,
// long before its own time-out ends it.
TEST_F(DownloaderTest, ALoneRequestThatFallsSilentIsSharedOut) {
    const std::int64_t size = 3 * MiB + 5;
    TestHttpServer::FileOptions stall;
    stall.bytesPerSecond = 4'000'000;
    stall.fault = TestHttpServer::FaultKind::Stall;
    stall.faultAt = size - 500 * 1024;  // in the run of tasks 2-3, after task 1's request ended
    stall.stallMs = 120000;
    server.serveGenerated("/setup.bin", size, stall);
    timeouts.requestMs = 60000;
    LogCapture log;
    auto d = downloader("/setup.bin", 2);
    const errorcode result = run(*d, 30000);  // half the request time-out
    server.releaseStalls();
    ASSERT_EQ(result, ERRORCODE_OK);
    EXPECT_TRUE(d->taskManager().allTasksFinished());
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    EXPECT_FALSE(log.has(" Curl Time out"));
    EXPECT_GE(d->splits(), 1u);
}

TEST_F(DownloaderTest, ServerIgnoringRangeNeverCorruptsTheFile) {
    TestHttpServer::FileOptions ignore;
    ignore.ignoreRange = true;
    server.serveGenerated("/setup.bin", 4 * MiB, ignore);
    LogCapture log;
    auto d = downloader("/setup.bin");
    ASSERT_EQ(run(*d, 1500), ERRORCODE_OK);
    const auto& tasks = d->taskManager().allTasks();
    EXPECT_EQ(tasks[0]->TaskStatus, TASK_FINISHED);
    for (std::size_t i = 1; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i]->DownloadedPos, tasks[i]->StartPos);
        EXPECT_NE(tasks[i]->TaskStatus, TASK_FINISHED);
    }
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, MiB));
    EXPECT_GT(d->downloadInfo().requestCount, 4);
    EXPECT_TRUE(log.has(" Stopping Download,Mission Failed"));
}

TEST_F(DownloaderTest, StopWaitsForWorkersSavesAndTheNextRunResumes) {
    const std::int64_t size = 12 * MiB + 777;
    TestHttpServer::FileOptions slow;
    slow.bytesPerSecond = MiB / 2;  // each response; ten at once
    server.serveGenerated("/setup.bin", size, slow);
    {
        LogCapture log;
        auto d = downloader("/setup.bin");
        ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
        d->startDownload();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        EXPECT_EQ(d->state(), CDownloader::STATE_RUNNING);
        d->stopDownload();
        d->waitForDriver();
        // Every worker had returned before the task file was written.
        EXPECT_FALSE(d->threadManager().hasBusyThread());
        const long failed = log.indexOf(" Stopping Download,Mission Failed");
        const long updated = log.indexOf(" Stopping Download,Update DownloadInfo");
        const long stopped = log.indexOf(kStopped);
        ASSERT_GE(failed, 0);
        EXPECT_GT(updated, failed);
        EXPECT_GT(stopped, updated);
        EXPECT_FALSE(d->taskManager().allTasksFinished());
    }
    // What the task file records is what the next run does not fetch again.
    std::int64_t missing = 0;
    {
        CDownloadTaskManager saved(server.url("/setup.bin"), local, local + ".xml", reporter);
        saved.readTaskInfo();
        for (const auto& t : saved.allTasks()) {
            const bool last = t->EndPos == size;
            if (t->DownloadedPos != t->EndPos) missing += t->EndPos - t->DownloadedPos + (last ? 0 : 1);
        }
    }
    ASSERT_GT(missing, 0);
    ASSERT_LT(missing, size);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.resetCounters();
    server.setOptions("/setup.bin", {});
    LogCapture log;
    auto resumed = downloader("/setup.bin");
    ASSERT_EQ(run(*resumed), ERRORCODE_OK);
    EXPECT_TRUE(log.has(" Load tasks from file success!"));
    EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
    EXPECT_EQ(server.bytesSent(), missing);
}

TEST_F(DownloaderTest, StalledDownloadDoesNotSpin) {
    TestHttpServer::FileOptions stall;
    stall.fault = TestHttpServer::FaultKind::Stall;
    stall.faultAt = 0;
    stall.faultTimes = -1;
    stall.faultPerResponse = true;
    server.serveGenerated("/setup.bin", 20 * MiB, stall);
    timeouts = RangeTimeouts{3000, 1000};
    auto d = downloader("/setup.bin");
    ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
    const std::uint64_t passesBefore = d->driverPasses();
    const auto started = std::chrono::steady_clock::now();
    d->startDownload();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const std::uint64_t passes = d->driverPasses() - passesBefore;
    const auto wallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    d->stopDownload();
    server.releaseStalls();
    d->waitForDriver();
    // The driver sleeps at least a millisecond per pass: at most one pass per millisecond
    // of wall time, however loaded the machine (a load only makes the sleeps longer). A
    // driver without its pause would make millions. Processor time is a figure of bench/.
    EXPECT_LE(passes, static_cast<std::uint64_t>(wallMs) + 100) << "driver passes in " << wallMs << " ms";
    // Workers wait for their requests: three rounds of ten stalled requests, not more.
    EXPECT_GE(d->downloadInfo().requestCount, 20);
    EXPECT_LE(d->downloadInfo().requestCount, 50);
    EXPECT_EQ(d->downloadInfo().downloaded, 20);    // nothing but the +1 of each task
}

// Requests that fail at once (a server answering only errors, a refused connection)
// must not turn the workers into a busy loop against the server.
TEST_F(DownloaderTest, FailingServerIsNotHammered) {
    server.serveGenerated("/setup.bin", 30 * MiB);
    auto d = downloader("/setup.bin");
    ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
    TestHttpServer::FileOptions down;
    down.status = 503;
    server.setOptions("/setup.bin", down);
    server.resetCounters();
    d->startDownload();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    d->stopDownload();
    d->waitForDriver();
    // Ten workers, each pausing after a request that got nowhere: about 40 requests.
    EXPECT_LE(server.requestCount(), 60u);
    EXPECT_GE(server.requestCount(), 10u);
    EXPECT_EQ(d->downloadInfo().downloaded, 30);
}

// 64-bit positions end to end: the tail of a file larger than 2 GiB lands at its
// offsets (a sparse file; the earlier tasks are marked done in the task file).
TEST_F(DownloaderTest, DownloadsBeyondTwoGiB) {
    const std::int64_t size = (std::int64_t{2} << 30) + 3 * MiB / 2 + 7;
    server.serveGenerated("/big.bin", size);
    {
        CDownloadTaskManager tasks(server.url("/big.bin"), local, local + ".xml", reporter);
        ASSERT_EQ(tasks.generateDownloadTask(false, ""), ERRORCODE_OK);
        for (const auto& t : tasks.allTasks()) {
            if (t->StartPos < (std::int64_t{2} << 30) - 2 * MiB) {
                t->DownloadedPos = t->EndPos.load();
                t->TaskStatus = TASK_FINISHED;
            }
        }
        tasks.saveTaskInfo();
    }
    // The data file holds what the task file counts as written (sparse here).
    std::ofstream(local, std::ios::binary).close();
    std::filesystem::resize_file(local, (std::int64_t{2} << 30) - 2 * MiB);
    auto d = downloader("/big.bin");
    ASSERT_EQ(run(*d), ERRORCODE_OK);
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(local)), size);
    std::ifstream in(local, std::ios::binary);
    const std::int64_t tail = (std::int64_t{2} << 30) - 2 * MiB;
    in.seekg(tail);
    std::string got(static_cast<std::size_t>(size - tail), '\0');
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    EXPECT_TRUE(got == TestHttpServer::GeneratedContent(tail, got.size()));
    EXPECT_EQ(rangesRequested().size(), 3u);
    EXPECT_EQ(rangesRequested().count("/big.bin bytes=2147483648-" + std::to_string(size)), 1u);
}

TEST_F(DownloaderTest, FailedInitialisationKeepsTheTaskFile) {
    auto noFolder = std::make_unique<CDownloader>(server.url("/x"), dir.file("missing/setup.bin"),
                                                  dir.file("missing/setup.bin.xml"), 10, reporter, timeouts);
    EXPECT_EQ(run(*noFolder), ERRORCODE_LOCAL_FILE);

    // A resumable download whose server cannot be reached right now: the probe fails,
    // and the task file it could resume from later must survive.
    server.serveGenerated("/setup.bin", 6 * MiB);
    {
        auto d = downloader("/setup.bin");
        d->downloadInit(false, "Download");
        d->startDownload();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        d->stopDownload();
        d->waitForDriver();
    }
    const std::string saved = ReadFile(local + ".xml");
    ASSERT_NE(saved.find("<Task>"), std::string::npos);
    TestHttpServer::FileOptions down;
    down.status = 503;
    server.setOptions("/setup.bin", down);
    LogCapture log;
    auto d = downloader("/setup.bin");
    EXPECT_EQ(run(*d), ERRORCODE_CONTENT_LENGTH);
    EXPECT_TRUE(log.has(" [Error]: error to loadDownloadTask"));
    EXPECT_TRUE(log.has(kStopped));
    EXPECT_EQ(ReadFile(local + ".xml"), saved);
}

TEST_F(DownloaderTest, PercentIsCutToTwoDecimals) {
    server.serveGenerated("/setup.bin", 5 * MiB);
    {
        CDownloadTaskManager tasks(server.url("/setup.bin"), local, local + ".xml", reporter);
        ASSERT_EQ(tasks.generateDownloadTask(false, ""), ERRORCODE_OK);
        auto& all = tasks.allTasks();
        all[0]->DownloadedPos = all[0]->EndPos.load();  // MiB
        all[1]->DownloadedPos = all[1]->EndPos.load();  // MiB
        all[2]->DownloadedPos = all[2]->StartPos + MiB / 2 + 2;  // with the +1 of five tasks: 2.5 MiB + 5
        tasks.saveTaskInfo();
    }
    std::ofstream(local, std::ios::binary).close();
    std::filesystem::resize_file(local, 2 * MiB + MiB / 2 + 2);
    auto d = downloader("/setup.bin");
    ASSERT_EQ(d->downloadInit(false, "Download"), ERRORCODE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    d->updateDownloadInfo();
    DownloadInfo info = d->downloadInfo();
    EXPECT_EQ(info.downloaded, 5 * MiB / 2 + 5);
    EXPECT_EQ(info.percent, 50.0);
    EXPECT_GT(info.elapsed, 0);
    EXPECT_EQ(info.averageSpeed(), info.downloaded / info.elapsed * 1000);
    // A second update within the same tick changes nothing.
    for (int i = 0; i < 1000; ++i) {
        const DownloadInfo before = d->downloadInfo();
        d->updateDownloadInfo();
        const DownloadInfo after = d->downloadInfo();
        if (after.tick == before.tick) {
            EXPECT_EQ(after.elapsed, before.elapsed);
            EXPECT_EQ(d->taskManager().downloadTime(), before.elapsed);
            break;
        }
    }
    d->stopDownload();
    d->waitForDriver();
}

}  // namespace
