// Size probe, task generation, the task file and resuming, against a real HTTP server.

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <algorithm>
#include <filesystem>

#include "src/engine/CDownloadTaskManager.h"
#include "src/engine/CLibcurlTool.h"
#include "EngineTestSupport.h"
#include "tests/support/TestHttpServer.h"

using enginetest::LogCapture;
using enginetest::ReadFile;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using enginetest::WriteFile;
using qvtest::TestHttpServer;

namespace {

using enginetest::MiB;

// `text` with the first `from` made `to`; a `from` it lacks fails the test that asked.
std::string ReplacedOnce(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at == std::string::npos) return text;
    return text.replace(at, from.size(), to);
}

class TaskManagerTest : public ::testing::Test {
protected:
    std::unique_ptr<CDownloadTaskManager> manager(const std::string& path) {
        return std::make_unique<CDownloadTaskManager>(server.url(path), dir.file("file.bin"), taskFile, reporter);
    }
    TestHttpServer server;
    TempDir dir;
    std::string taskFile = dir.file("file.bin.xml");
    RecordingReporter reporter;
};

TEST(TaskManager, WaitingListIsAStackAndRequeueKeepsDispatchedOrder) {
    CTaskManager tasks;
    EXPECT_EQ(tasks.addTask(nullptr), 0);
    for (int id = 1; id <= 4; ++id) {
        auto task = std::make_unique<DownloadTask>();
        task->TaskId = id;
        task->StartPos = (id - 1) * MiB;
        task->EndPos = id * MiB - 1;
        task->DownloadedPos = task->StartPos + (id == 4 ? task->EndPos - task->StartPos : 0);
        if (id == 4) task->TaskStatus = TASK_FINISHED;
        EXPECT_EQ(tasks.addTask(std::move(task)), 1);
    }
    ASSERT_EQ(tasks.dispatchedTasks().size(), 1u);
    DownloadTask* third = tasks.getTask();
    DownloadTask* second = tasks.getTask();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->TaskId, 3);
    EXPECT_EQ(second->TaskId, 2);
    EXPECT_EQ(third->TaskStatus, TASK_RUNNING);

    third->TaskStatus = TASK_REQUESTED;  // returned unfinished; the second still runs
    tasks.requeueTasks();
    ASSERT_EQ(tasks.waitingTasks().size(), 2u);
    EXPECT_EQ(tasks.waitingTasks().back()->TaskId, 3);
    EXPECT_EQ(tasks.dispatchedTasks().size(), 2u);  // the finished one and the running one
    EXPECT_TRUE(tasks.hasUnfinishedTask());
    EXPECT_FALSE(tasks.allTasksFinished());
    // Each task adds DownloadedPos - StartPos + 1.
    EXPECT_EQ(tasks.downloadedBytes(), 3 + (MiB - 1 + 1));

    tasks.clearTasks();
    EXPECT_FALSE(tasks.hasUnfinishedTask());
    EXPECT_EQ(tasks.allTasks().size(), 0u);
}

// A run is the task the stack hands out and the waiting tasks adjacent to it: towards
// the start of the file first, never through a task with bytes (but for the first one),
// a finished one or a running one.
TEST(TaskManager, RunsJoinAdjacentWaitingTasksAndSplitsAddNumberedPieces) {
    CTaskManager tasks;
    const std::int64_t size = 6 * MiB + 10;
    for (int id = 1; id <= 6; ++id) {
        auto task = std::make_unique<DownloadTask>();
        task->TaskId = id;
        task->StartPos = (id - 1) * MiB;
        task->EndPos = id == 6 ? size : id * MiB - 1;
        task->DownloadedPos = task->StartPos;
        if (id == 3) task->DownloadedPos = task->StartPos + 10;
        if (id == 5) {
            task->DownloadedPos = task->EndPos.load();
            task->TaskStatus = TASK_FINISHED;
        }
        tasks.addTask(std::move(task));
    }
    const auto ids = [](const std::vector<DownloadTask*>& run) {
        std::vector<int> out;
        for (const DownloadTask* t : run) out.push_back(t->TaskId);
        return out;
    };
    EXPECT_EQ(ids(tasks.getRun(8)), std::vector<int>({6}));      // 5 is finished
    EXPECT_EQ(ids(tasks.getRun(8)), std::vector<int>({3, 4}));   // 3 has bytes: it can only lead
    EXPECT_EQ(ids(tasks.getRun(1)), std::vector<int>({2}));
    EXPECT_EQ(ids(tasks.getRun(8)), std::vector<int>({1}));      // 2 runs
    EXPECT_TRUE(tasks.getRun(8).empty());
    for (const auto& t : tasks.allTasks()) {
        if (t->TaskId != 5) {
            EXPECT_EQ(t->TaskStatus, TASK_RUNNING);
        }
    }

    // Returned complete, a task is finished by the requeue: it never waits for a worker,
    // and no run goes through it.
    DownloadTask* third = tasks.allTasks()[2].get();
    third->DownloadedPos = third->EndPos.load();
    for (const auto& t : tasks.allTasks()) {
        if (t->TaskId != 5) t->TaskStatus = TASK_REQUESTED;
    }
    tasks.requeueTasks();
    EXPECT_EQ(third->TaskStatus, TASK_FINISHED);
    std::vector<std::vector<int>> runs;
    while (tasks.hasWaitingTask()) runs.push_back(ids(tasks.getRun(8)));
    EXPECT_EQ(runs, (std::vector<std::vector<int>>{{1, 2}, {4}, {6}}));
    EXPECT_EQ(std::count(tasks.dispatchedTasks().begin(), tasks.dispatchedTasks().end(), third), 1);

    // Splitting: the task keeps the bytes before the cut, a new last-numbered task waits
    // with the rest, right after it in the file; the file's last task keeps its end at the size.
    DownloadTask* fourth = tasks.allTasks()[3].get();
    EXPECT_EQ(tasks.splitTask(fourth, fourth->StartPos), nullptr);
    EXPECT_EQ(tasks.splitTask(fourth, fourth->EndPos.load()), nullptr);
    DownloadTask* piece = tasks.splitTask(fourth, 3 * MiB + 1000);
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(piece->TaskId, 7);
    EXPECT_EQ(tasks.tasksCount(), 7);
    EXPECT_EQ(fourth->EndPos, 3 * MiB + 999);
    EXPECT_EQ(piece->StartPos, 3 * MiB + 1000);
    EXPECT_EQ(piece->EndPos, 4 * MiB - 1);
    EXPECT_EQ(piece->DownloadedPos, piece->StartPos);
    EXPECT_EQ(piece->TaskStatus, TASK_WAITING);
    EXPECT_EQ(tasks.allTasks()[4].get(), piece);
    EXPECT_EQ(tasks.waitingTasks().back(), piece);
    DownloadTask* last = tasks.allTasks().back().get();
    DownloadTask* tail = tasks.splitTask(last, size - 100);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(tail->TaskId, 8);
    EXPECT_EQ(tail->EndPos, size);
    EXPECT_EQ(last->EndPos, size - 101);
}

TEST(TaskManager, ParsesTheSizeFromHeaderText) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5767168\r\n\r\n", 5767168},
        {"HTTP/1.1 200 OK\r\nContent-Length:   42abc\r\n", 42},
        {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-0/3000000000\r\nServer: x/1\r\nContent-Length: 1\r\n", 3000000000},
        {"HTTP/1.1 206 Partial\r\nServer: x\r\nContent-Range: bytes 0-0/77\r\n", 77},
        {"HTTP/1.1 206 Partial\r\nContent-Range: bytes */*\r\n", 0},
        {"HTTP/1.1 200 OK\r\ncontent-length: 10\r\n", 10},
        {"HTTP/1.1 206 Partial\r\nCONTENT-RANGE: bytes 0-0/123\r\n", 123},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n", 0},
        // The last response of a redirect chain decides.
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 5\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 77\r\n", 77},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n", 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n", 0},
        {"", 0},
    };
    for (const auto& [text, size] : cases) EXPECT_EQ(CDownloadTaskManager::parseContentLength(text), size) << text;
}

TEST_F(TaskManagerTest, GeneratesOneMiBTasksWithTheLastEndingAtTheSize) {
    struct Case {
        std::int64_t size;
        int tasks;
        std::int64_t lastStart;
    };
    const Case cases[] = {
        {5 * MiB + MiB / 2, 5, 4 * MiB}, {MiB, 1, 0}, {100, 1, 0}, {MiB + 1, 1, 0}, {64 * MiB, 64, 63 * MiB},
        // Positions beyond 2 GiB stay exact.
        {(std::int64_t{2} << 30) + 3 * MiB + 7, 2051, std::int64_t{2} << 30 | 2 * MiB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        server.serveGenerated("/f.bin", c.size);
        auto tasks = manager("/f.bin");
        LogCapture log;
        ASSERT_EQ(tasks->generateDownloadTask(false, "Download"), ERRORCODE_OK);
        EXPECT_EQ(tasks->contentLength(), c.size);
        EXPECT_EQ(tasks->tasksCount(), c.tasks);
        ASSERT_EQ(tasks->allTasks().size(), static_cast<std::size_t>(c.tasks));
        for (int k = 1; k <= c.tasks; ++k) {
            const DownloadTask& t = *tasks->allTasks()[static_cast<std::size_t>(k - 1)];
            ASSERT_EQ(t.TaskId, k);
            ASSERT_EQ(t.StartPos, (k - 1) * MiB);
            ASSERT_EQ(t.DownloadedPos, t.StartPos);
            ASSERT_EQ(t.EndPos, k == c.tasks ? c.size : k * MiB - 1);
            ASSERT_EQ(t.TaskStatus, TASK_WAITING);
            ASSERT_EQ(t.RemotePath, server.url("/f.bin"));
        }
        EXPECT_EQ(tasks->allTasks().back()->StartPos, c.lastStart);
        // The stack hands out the last task first.
        EXPECT_EQ(tasks->getTask()->TaskId, c.tasks);
        EXPECT_TRUE(log.has(" Get Contentlength = " + std::to_string(c.size)));
        EXPECT_TRUE(log.has(" GetSize: Download, Success/Null/Null/Null/Null"));
    }
    const auto events = reporter.events();
    ASSERT_EQ(events.size(), std::size(cases));
    EXPECT_EQ(events[0].category, "GetSize");
    EXPECT_EQ(events[0].action, "Download");
    EXPECT_EQ(events[0].label, "Success/Null/Null/Null/Null");
    EXPECT_FALSE(events[0].immediate);
}

TEST_F(TaskManagerTest, ProbeResultsAreReportedForEveryAttempt) {
    TestHttpServer::FileOptions firstFails;
    firstFails.status = 500;
    firstFails.statusTimes = 1;
    server.serveGenerated("/flaky.bin", 3 * MiB, firstFails);
    {
        LogCapture log;
        EXPECT_EQ(manager("/flaky.bin")->generateDownloadTask(false, "TestSpeedCdn"), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" GetSize: TestSpeedCdn, error:0/Success/Null/Null/Null"));
    }
    {
        // An error page's length is not a size; a refused connection gives libcurl's code.
        LogCapture log;
        auto tasks = manager("/missing.bin");
        EXPECT_EQ(tasks->generateDownloadTask(false, "Download"), ERRORCODE_CONTENT_LENGTH);
        EXPECT_TRUE(log.has(" GetSize: Download, error:0/error:0/error:0/error:0/error:0"));
        EXPECT_TRUE(log.has(" [Error]: Get ContentLength Fail, tried 5 times"));
        EXPECT_TRUE(tasks->allTasks().empty());
    }
    {
        LogCapture log;
        CDownloadTaskManager refused("http://127.0.0.1:1/x", dir.file("x"), dir.file("x.xml"), reporter);
        EXPECT_EQ(refused.generateDownloadTask(false, "TestSpeedService"), ERRORCODE_CONTENT_LENGTH);
        EXPECT_TRUE(log.has(" GetSize: TestSpeedService, error:7/error:7/error:7/error:7/error:7"));
    }
    {
        // Without a label nothing is reported.
        LogCapture log;
        const auto before = reporter.events().size();
        EXPECT_EQ(manager("/missing.bin")->generateDownloadTask(false, ""), ERRORCODE_CONTENT_LENGTH);
        EXPECT_EQ(reporter.events().size(), before);
        EXPECT_FALSE(log.hasPrefix(" GetSize:"));
    }
    EXPECT_EQ(server.requestCount(), 2u + 5u + 5u);
}

TEST_F(TaskManagerTest, RedirectsAreFollowedAndTheFinalUrlIsUsedByEveryTask) {
    server.serveGenerated("/final.bin", 3 * MiB);
    server.redirect("/start", "/middle");
    server.redirect("/middle", "/final.bin", 302, true);  // relative Location
    auto tasks = manager("/start");
    ASSERT_EQ(tasks->generateDownloadTask(false, "Download"), ERRORCODE_OK);
    EXPECT_EQ(tasks->remoteUrl(), server.url("/final.bin"));
    for (const auto& t : tasks->allTasks()) EXPECT_EQ(t->RemotePath, server.url("/final.bin"));

    // Ten redirects are followed; an eleventh makes the probe fail like one without size.
    for (int i = 0; i < 10; ++i) server.redirect("/hop" + std::to_string(i), "/hop" + std::to_string(i + 1));
    server.serveGenerated("/hop10", 5000);
    server.serveGenerated("/hop11", 5000);
    int code = -1;
    EXPECT_EQ(manager("/hop0")->getContentLength(code), 5000);  // ten hops to /hop10
    server.redirect("/hop10", "/hop11");
    LogCapture log;
    EXPECT_EQ(manager("/hop0")->getContentLength(code), 0);
    EXPECT_TRUE(log.hasPrefix(" [Error]: more than 10 redirects"));
}

// Header names in any case, a Content-Location beside the answer, and a Location on a
// status that is not a redirect: the size is found with one probe and the URL stays.
TEST_F(TaskManagerTest, ProbeReadsHeadersInAnyCaseAndFollowsOnlyRedirects) {
    TestHttpServer::FileOptions located;
    located.contentLocation = "/elsewhere.bin";
    server.serveGenerated("/f.bin", 3 * MiB + 7, located);
    for (const bool lower : {false, true}) {
        SCOPED_TRACE(lower ? "lower-case names" : "usual names");
        server.setLowerCaseHeaders(lower);
        server.resetCounters();
        auto tasks = manager("/f.bin");
        int code = -1;
        EXPECT_EQ(tasks->getContentLength(code), 3 * MiB + 7);
        EXPECT_EQ(tasks->remoteUrl(), server.url("/f.bin"));
        EXPECT_EQ(server.requestCount(), 1u);
        if (lower) {
            // The server really sends them so.
            CLibcurlTool tool;
            ASSERT_TRUE(tool.init());
            std::string header;
            ASSERT_EQ(tool.getHeader(server.url("/f.bin"), header), CURLE_OK);
            EXPECT_NE(header.find("content-length: "), std::string::npos) << header;
            EXPECT_NE(header.find("content-location: "), std::string::npos) << header;
            EXPECT_EQ(header.find("Content-"), std::string::npos) << header;
        }
    }
    // A lower-case location of a real redirect is still followed.
    server.redirect("/start", "/f.bin");
    auto tasks = manager("/start");
    int code = -1;
    EXPECT_EQ(tasks->getContentLength(code), 3 * MiB + 7);
    EXPECT_EQ(tasks->remoteUrl(), server.url("/f.bin"));
}

// A redirect may name any URL; only HTTP(S) is ever fetched, so a Location pointing at a
// local file gives no size (before, the file's own size and then its bytes).
TEST_F(TaskManagerTest, RedirectToAnotherProtocolGivesNoSize) {
    server.redirect("/start", "file:///etc/passwd", 302, true);
    auto tasks = manager("/start");
    int code = -1;
    EXPECT_EQ(tasks->getContentLength(code), 0);
    EXPECT_EQ(code, CURLE_UNSUPPORTED_PROTOCOL);
}

TEST_F(TaskManagerTest, TaskFileHasTheExactLayout) {
    server.serveGenerated("/f.bin", 2 * MiB + MiB / 2);
    auto tasks = manager("/f.bin");
    ASSERT_EQ(tasks->generateDownloadTask(false, "Download"), ERRORCODE_OK);
    tasks->allTasks()[0]->DownloadedPos = MiB - 1;
    tasks->allTasks()[0]->TaskStatus = TASK_FINISHED;
    tasks->allTasks()[0]->RequestTimes = 2;
    tasks->addDownloadTime(1234);
    EXPECT_EQ(tasks->saveTaskInfo(), 1);
    const std::string url = server.url("/f.bin");
    const std::string local = dir.file("file.bin");
    const std::string expected =
        "<TaskInfo>\n"
        "    <TasksCount>2</TasksCount>\n"
        "    <ContentLength>2621440</ContentLength>\n"
        "    <DownloadTime>1234</DownloadTime>\n"
        "    <Task>\n"
        "        <StartPos>0</StartPos>\n"
        "        <EndPos>1048575</EndPos>\n"
        "        <DownloadedPos>1048575</DownloadedPos>\n"
        "        <RemotePath>" + url + "</RemotePath>\n"
        "        <LocalPath>" + local + "</LocalPath>\n"
        "        <TaskStatus>1</TaskStatus>\n"
        "        <TaskId>1</TaskId>\n"
        "        <RequestTimes>2</RequestTimes>\n"
        "    </Task>\n"
        "    <Task>\n"
        "        <StartPos>1048576</StartPos>\n"
        "        <EndPos>2621440</EndPos>\n"
        "        <DownloadedPos>1048576</DownloadedPos>\n"
        "        <RemotePath>" + url + "</RemotePath>\n"
        "        <LocalPath>" + local + "</LocalPath>\n"
        "        <TaskStatus>0</TaskStatus>\n"
        "        <TaskId>2</TaskId>\n"
        "        <RequestTimes>0</RequestTimes>\n"
        "    </Task>\n"
        "</TaskInfo>\n";
    EXPECT_EQ(ReadFile(taskFile), expected);
    // Saved by replacing the file: no temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST_F(TaskManagerTest, ResumesFinishedTasksAsDoneAndOthersAsWaiting) {
    const std::int64_t size = (std::int64_t{2} << 30) + 5 * MiB / 2;  // 64-bit positions survive the file
    server.serveGenerated("/f.bin", size);
    {
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->generateDownloadTask(false, "Download"), ERRORCODE_OK);
        auto& all = tasks->allTasks();
        all[0]->DownloadedPos = all[0]->EndPos.load();
        all[0]->TaskStatus = TASK_FINISHED;
        all[1]->DownloadedPos = all[1]->StartPos + 300000;
        all[1]->TaskStatus = TASK_REQUESTED;
        all[2]->TaskStatus = TASK_RUNNING;
        all.back()->DownloadedPos = all.back()->StartPos + 77;
        all.back()->TaskStatus = TASK_REQUESTED;
        for (auto& t : all) t->RequestTimes = 3;
        tasks->addDownloadTime(5000);
        tasks->saveTaskInfo();
    }
    // The data file holds what the tasks count as written (sparse).
    WriteFile(dir.file("file.bin"), "");
    std::filesystem::resize_file(dir.file("file.bin"), std::int64_t{2049} * MiB + 77);
    LogCapture log;
    auto resumed = manager("/f.bin");
    ASSERT_EQ(resumed->loadDownloadTask(false, "Download"), ERRORCODE_OK);
    EXPECT_TRUE(log.has(" Load tasks from file success!"));
    EXPECT_EQ(resumed->contentLength(), size);
    EXPECT_EQ(resumed->downloadTime(), 5000);
    const auto& all = resumed->allTasks();
    ASSERT_EQ(all.size(), 2050u);
    ASSERT_EQ(resumed->dispatchedTasks().size(), 1u);
    EXPECT_EQ(resumed->dispatchedTasks()[0]->TaskId, 1);
    EXPECT_EQ(resumed->waitingTasks().size(), 2049u);
    EXPECT_EQ(all[1]->DownloadedPos, MiB + 300000);
    EXPECT_EQ(all.back()->StartPos, std::int64_t{2049} * MiB);
    EXPECT_EQ(all.back()->EndPos, size);
    EXPECT_EQ(all.back()->DownloadedPos, std::int64_t{2049} * MiB + 77);
    EXPECT_EQ(resumed->totalRequestTimes(), 0);
    // The size probe runs once for the check; nothing is downloaded.
    EXPECT_EQ(reporter.events().size(), 1u);
}

// A task file with pieces split off running tasks resumes as it is; one whose numbers or
// ranges do not add up is dropped.
TEST_F(TaskManagerTest, ResumesTaskFilesWithSplitPieces) {
    const std::int64_t size = 3 * MiB + 10;
    server.serveGenerated("/f.bin", size);
    std::string good;
    {
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->generateDownloadTask(false, ""), ERRORCODE_OK);
        DownloadTask* first = tasks->allTasks()[0].get();
        first->DownloadedPos = 4096;
        DownloadTask* piece = tasks->splitTask(first, 500000);
        ASSERT_NE(piece, nullptr);
        piece->DownloadedPos = 600000;
        ASSERT_NE(tasks->splitTask(tasks->allTasks().back().get(), 3 * MiB), nullptr);
        tasks->saveTaskInfo();
        good = ReadFile(taskFile);
    }
    const std::string data = dir.file("file.bin");
    WriteFile(data, std::string(600000, 'x'));
    {
        LogCapture log;
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->loadDownloadTask(false, ""), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" Load tasks from file success!"));
        EXPECT_EQ(tasks->tasksCount(), 5);
        const auto& all = tasks->allTasks();
        ASSERT_EQ(all.size(), 5u);
        const std::vector<std::int32_t> ids = {all[0]->TaskId, all[1]->TaskId, all[2]->TaskId, all[3]->TaskId, all[4]->TaskId};
        EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 4, 2, 3, 5}));
        EXPECT_EQ(all[1]->DownloadedPos, 600000);
        EXPECT_EQ(all[4]->EndPos, size);
    }
    auto replace = [&](const std::string& from, const std::string& to) { return ReplacedOnce(good, from, to); };
    const std::pair<const char*, std::string> cases[] = {
        {"a piece with a generated task's number", replace("<TaskId>4<", "<TaskId>2<")},
        {"a number past the count", replace("<TaskId>5<", "<TaskId>6<")},
        {"a generated task off its MiB", replace("<StartPos>1048576<", "<StartPos>1048577<")},
        {"a piece that overlaps", replace("<StartPos>500000<", "<StartPos>499999<")},
        {"a count of the generated tasks only", replace("<TasksCount>5<", "<TasksCount>3<")},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        WriteFile(taskFile, text);
        WriteFile(data, std::string(600000, 'x'));
        LogCapture log;
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->loadDownloadTask(false, ""), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" taskinfo file error"));
        EXPECT_EQ(tasks->tasksCount(), 3);
        EXPECT_EQ(tasks->allTasks()[0]->DownloadedPos, 0);
    }
}

// A server busy at the resumed run's size check costs a moment, not the saved bytes.
TEST_F(TaskManagerTest, ResumeSurvivesABusyServerAtTheSizeCheck) {
    const std::int64_t size = 3 * MiB + 10;
    server.serveGenerated("/f.bin", size);
    {
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->generateDownloadTask(false, ""), ERRORCODE_OK);
        tasks->allTasks()[0]->DownloadedPos = tasks->allTasks()[0]->EndPos.load();
        tasks->allTasks()[0]->TaskStatus = TASK_FINISHED;
        tasks->saveTaskInfo();
    }
    WriteFile(dir.file("file.bin"), std::string(static_cast<std::size_t>(MiB), 'x'));
    qvtest::FileOptions busy;
    busy.status = 503;
    busy.statusTimes = 2;
    server.serveGenerated("/f.bin", size, busy);
    LogCapture log;
    auto resumed = manager("/f.bin");
    ASSERT_EQ(resumed->loadDownloadTask(false, ""), ERRORCODE_OK);
    EXPECT_TRUE(log.has(" Load tasks from file success!"));
    EXPECT_FALSE(log.has(" taskinfo file error"));
    EXPECT_EQ(resumed->allTasks()[0]->TaskStatus, TASK_FINISHED);
    EXPECT_EQ(resumed->waitingTasks().size(), 2u);
}

// Any task file that does not describe the server's file is dropped and the download
// starts again from byte 0, without a crash.
// A cut one byte into a task nobody has written to would leave a one-byte task whose
// DownloadedPos (its StartPos) already equals its EndPos: complete, with its byte never
// written. The split is refused; one byte further on it is made.
TEST(TaskManager, NoSplitLeavesAnUnwrittenOneByteTask) {
    CTaskManager tasks;
    for (int id = 1; id <= 2; ++id) {
        auto task = std::make_unique<DownloadTask>();
        task->TaskId = id;
        task->StartPos = (id - 1) * MiB;
        task->EndPos = id == 2 ? 2 * MiB : id * MiB - 1;
        task->DownloadedPos = task->StartPos;
        tasks.addTask(std::move(task));
    }
    const std::vector<DownloadTask*> run = tasks.getRun(2);  // one request for both tasks
    ASSERT_EQ(run.size(), 2u);
    DownloadTask* second = run[1];
    EXPECT_EQ(tasks.splitTask(second, second->StartPos + 1), nullptr);
    EXPECT_EQ(second->EndPos, 2 * MiB);
    EXPECT_EQ(tasks.allTasks().size(), 2u);
    // The request ends (a drop, a time-out) before it reached the second task.
    for (DownloadTask* t : run) t->TaskStatus = TASK_REQUESTED;
    tasks.requeueTasks();
    EXPECT_NE(second->TaskStatus, TASK_FINISHED);
    // Two bytes are a task that can say it has none yet.
    DownloadTask* piece = tasks.splitTask(second, second->StartPos + 2);
    ASSERT_NE(piece, nullptr);
    EXPECT_NE(second->DownloadedPos.load(), second->EndPos.load());
}

TEST_F(TaskManagerTest, RejectsTaskFilesThatDoNotMatch) {
    const std::int64_t size = 3 * MiB + 10;
    server.serveGenerated("/f.bin", size);
    std::string good;
    {
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->generateDownloadTask(false, ""), ERRORCODE_OK);
        tasks->allTasks()[0]->DownloadedPos = 4096;
        tasks->addDownloadTime(999);
        tasks->saveTaskInfo();
        good = ReadFile(taskFile);
    }
    const std::string data = dir.file("file.bin");
    WriteFile(data, std::string(4096, 'x'));
    {
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->loadDownloadTask(false, ""), ERRORCODE_OK);
        ASSERT_EQ(tasks->allTasks()[0]->DownloadedPos, 4096);  // the unchanged file is taken
    }
    auto replace = [&](const std::string& from, const std::string& to) { return ReplacedOnce(good, from, to); };
    const std::pair<const char*, std::string> cases[] = {
        {"size one byte larger", replace("<ContentLength>3145738<", "<ContentLength>3145739<")},
        {"size one byte smaller", replace("<ContentLength>3145738<", "<ContentLength>3145737<")},
        {"truncated", good.substr(0, good.size() / 2)},
        {"garbage", "\x01\x02not xml at all <<<"},
        {"empty", ""},
        {"gap between ranges", replace("<EndPos>1048575<", "<EndPos>1048574<")},
        {"wrong task id", replace("<TaskId>2<", "<TaskId>3<")},
        {"position past the range", replace("<DownloadedPos>4096<", "<DownloadedPos>1048577<")},
        {"position before the range", replace("<DownloadedPos>1048576<", "<DownloadedPos>5<")},
        {"finished short of its end", replace("<TaskStatus>0</TaskStatus>", "<TaskStatus>1</TaskStatus>")},
        {"a task from another URL", replace("<RemotePath>" + server.url("/f.bin"), "<RemotePath>file:///etc/passwd")},
        {"a task from another server path", replace("<RemotePath>" + server.url("/f.bin"), "<RemotePath>" + server.url("/g.bin"))},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        WriteFile(taskFile, text);
        WriteFile(data, std::string(4096, 'x'));
        LogCapture log;
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->loadDownloadTask(false, "Download"), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" taskinfo file error"));
        EXPECT_FALSE(log.has(" Load tasks from file success!"));
        ASSERT_EQ(tasks->allTasks().size(), 3u);
        EXPECT_EQ(tasks->downloadTime(), 0);
        EXPECT_EQ(tasks->contentLength(), size);
        for (const auto& t : tasks->allTasks()) {
            EXPECT_EQ(t->DownloadedPos, t->StartPos);
            EXPECT_EQ(t->TaskStatus, TASK_WAITING);
        }
    }
    // A data file that is gone, or shorter than the task file counts, is no base to resume on.
    for (const bool gone : {true, false}) {
        SCOPED_TRACE(gone ? "data file gone" : "data file cut short");
        WriteFile(taskFile, good);
        std::filesystem::remove(data);
        if (!gone) WriteFile(data, std::string(4095, 'x'));
        LogCapture log;
        auto tasks = manager("/f.bin");
        ASSERT_EQ(tasks->loadDownloadTask(false, "Download"), ERRORCODE_OK);
        EXPECT_TRUE(log.has(" taskinfo file error"));
        EXPECT_EQ(tasks->allTasks()[0]->DownloadedPos, 0);
    }
    // A missing task file is no error: the tasks are generated without a word about it.
    std::filesystem::remove(taskFile);
    LogCapture log;
    EXPECT_EQ(manager("/f.bin")->loadDownloadTask(false, "Download"), ERRORCODE_OK);
    EXPECT_FALSE(log.has(" taskinfo file error"));
}

}  // namespace
