// The worker pool: idle and busy lists, the shared download file, one request per
// assignment.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>
#include <thread>

#include "src/engine/CDownloadThread.h"
#include "src/engine/CDownloadThreadManager.h"
#include "src/engine/CThreadManager.h"
#include "src/engine/DownloadTask.h"
#include "EngineTestSupport.h"
#include "tests/support/TestHttpServer.h"

using enginetest::ReadFile;
using enginetest::TempDir;
using enginetest::WriteFile;
using qvtest::TestHttpServer;

namespace {

using enginetest::MiB;

// Waits (bounded) until every busy worker is idle again and recycles them.
void Drain(CThreadManager& pool) {
    for (int i = 0; i < 2000 && pool.hasBusyThread(); ++i) {
        pool.waitForReturn(10);
        pool.recycle();
    }
    ASSERT_FALSE(pool.hasBusyThread());
}

TEST(ThreadManager, BusyThreadsReturnToTheIdleListAfterTheirRun) {
    CThreadManager pool;
    ASSERT_EQ(pool.createThreads(10), 10);
    DownloadTask tasks[3];
    for (auto& task : tasks) EXPECT_EQ(pool.dispatch(&task), 1);
    EXPECT_EQ(pool.busyCount(), 3u);
    EXPECT_EQ(pool.idleCount(), 7u);
    Drain(pool);
    EXPECT_EQ(pool.idleCount(), 10u);

    for (int i = 0; i < 10; ++i) pool.dispatch(&tasks[0]);
    EXPECT_EQ(pool.dispatch(&tasks[0]), 0);  // nobody idle
    Drain(pool);
    pool.stopThreads();  // the destructor then joins threads that have already left their loop
}

TEST(DownloadThreadManager, OpensAnExistingFileForUpdateAndCreatesAMissingOne) {
    TempDir dir;
    const std::string partial = dir.file("partial.bin");
    WriteFile(partial, "keep these bytes");
    {
        CDownloadThreadManager pool(partial);
        ASSERT_EQ(pool.createThreads(3), 3);
        EXPECT_EQ(pool.idleCount(), 3u);
    }
    EXPECT_EQ(ReadFile(partial), "keep these bytes");

    const std::string fresh = dir.file("fresh.bin");
    {
        CDownloadThreadManager pool(fresh);
        ASSERT_EQ(pool.createThreads(10), 10);
    }
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_EQ(std::filesystem::file_size(fresh), 0u);

    CDownloadThreadManager inFolder(dir.path().string());
    EXPECT_EQ(inFolder.createThreads(10), 0);
    EXPECT_FALSE(inFolder.hasIdleThread());
    CDownloadThreadManager missingFolder(dir.file("no/such/folder/f.bin"));
    EXPECT_EQ(missingFolder.createThreads(10), 0);
    CDownloadThreadManager tooMany(dir.file("many.bin"));
    EXPECT_EQ(tooMany.createThreads(CDownloadThreadManager::kMaxThreads + 1), 0);
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pool.createThreads(2), 2); }
    void runOnce(DownloadTask& task) {
        ASSERT_EQ(pool.dispatch(&task), 1);
        Drain(pool);
    }
    std::unique_ptr<DownloadTask> task(int id, std::int64_t start, std::int64_t end) {
        auto t = std::make_unique<DownloadTask>();
        t->TaskId = id;
        t->StartPos = start;
        t->EndPos = end;
        t->DownloadedPos = start;
        t->RemotePath = server.url("/f.bin");
        return t;
    }
    TestHttpServer server;
    TempDir dir;
    std::string path = dir.file("out.bin");
    CDownloadThreadManager pool{path, RangeTimeouts{2000, 1000}};
};

TEST_F(WorkerTest, OneAssignmentMakesOneRequestAndACompleteTaskNeedsNone) {
    server.serveGenerated("/f.bin", 2 * MiB + 100);
    auto first = task(1, 0, MiB - 1);
    runOnce(*first);
    EXPECT_EQ(first->DownloadedPos, MiB - 1);
    EXPECT_EQ(first->TaskStatus, TASK_REQUESTED);  // finished only by the next assignment
    EXPECT_EQ(first->RequestTimes, 1);
    EXPECT_EQ(server.requestCount(), 1u);

    runOnce(*first);
    EXPECT_EQ(first->TaskStatus, TASK_FINISHED);
    EXPECT_EQ(first->RequestTimes, 1);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(ReadFile(path) == TestHttpServer::GeneratedContent(0, MiB));
}

// A connection that breaks exactly one byte before the end of a range delivers every
// byte but the one at EndPos; the task must not pass for complete.
TEST_F(WorkerTest, RangeCutOneByteShortIsFetchedAgain) {
    TestHttpServer::FileOptions drop;
    drop.fault = TestHttpServer::FaultKind::Drop;
    drop.faultAt = 2 * MiB - 1;
    server.serveGenerated("/f.bin", 3 * MiB, drop);
    auto second = task(2, MiB, 2 * MiB - 1);
    runOnce(*second);
    EXPECT_EQ(second->DownloadedPos, 2 * MiB - 2);
    runOnce(*second);
    EXPECT_EQ(second->DownloadedPos, 2 * MiB - 1);
    runOnce(*second);
    EXPECT_EQ(second->TaskStatus, TASK_FINISHED);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=2097150-2097151");
    EXPECT_TRUE(ReadFile(path).substr(MiB) == TestHttpServer::GeneratedContent(MiB, MiB));
}

// While a response stands one byte short of its task's end, the task must not read as
// complete: a task file saved then (and the process killed) would resume with that byte
// missing from a "finished" task.
TEST_F(WorkerTest, ARangeOneByteShortNeverReadsAsComplete) {
    TestHttpServer::FileOptions stall;
    stall.fault = TestHttpServer::FaultKind::Stall;
    stall.faultAt = 2 * MiB - 1;  // the task's last byte
    stall.stallMs = 60000;
    server.serveGenerated("/f.bin", 3 * MiB, stall);
    auto second = task(2, MiB, 2 * MiB - 1);
    ASSERT_EQ(pool.dispatch(second.get()), 1);
    std::int64_t seen = 0;
    for (int i = 0; i < 500 && seen < 2 * MiB - 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        seen = second->DownloadedPos;
        ASSERT_NE(seen, second->EndPos.load());
    }
    EXPECT_EQ(seen, 2 * MiB - 2);
    server.releaseStalls();
    Drain(pool);
    EXPECT_EQ(second->DownloadedPos, 2 * MiB - 2);
    EXPECT_NE(second->TaskStatus, TASK_FINISHED);
}

// One request for three adjacent tasks, cut by the driver's hand in the second one: the
// request stops exactly there, without an error, the first task is done, the second ends
// at the cut, and the third was never this worker's to mark.
TEST_F(WorkerTest, ARunCutInTheMiddleStopsExactlyThere) {
    TestHttpServer::FileOptions slow;
    slow.bytesPerSecond = MiB;
    server.serveGenerated("/f.bin", 3 * MiB, slow);
    pool.setFileSize(3 * MiB);
    auto first = task(1, 0, MiB - 1);
    auto second = task(2, MiB, 2 * MiB - 1);
    auto third = task(3, 2 * MiB, 3 * MiB);
    CDownloadThread* worker = pool.nextIdleWorker();
    ASSERT_NE(worker, nullptr);
    enginetest::LogCapture log;
    ASSERT_EQ(pool.dispatchRun({first.get(), second.get(), third.get()}), 1);
    const std::int64_t at = MiB + 4096;
    std::vector<DownloadTask*> taken;
    for (int i = 0; i < 500 && taken.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard<std::mutex> lock(worker->writeMutex());
        if (!worker->transferringLocked() || worker->nextByteLocked() == 0) continue;
        ASSERT_LT(worker->nextByteLocked(), at);
        second->EndPos = at - 1;  // as splitting the task does
        taken = worker->cutRun(at);
    }
    ASSERT_EQ(taken, std::vector<DownloadTask*>{third.get()});
    Drain(pool);
    EXPECT_EQ(first->DownloadedPos, first->EndPos);
    EXPECT_EQ(second->DownloadedPos, at - 1);
    EXPECT_EQ(third->DownloadedPos, third->StartPos);
    EXPECT_EQ(first->RequestTimes, 1);
    EXPECT_EQ(second->RequestTimes, 1);
    EXPECT_EQ(third->RequestTimes, 0);
    EXPECT_EQ(second->TaskStatus, TASK_REQUESTED);
    EXPECT_EQ(third->TaskStatus, TASK_WAITING);
    EXPECT_TRUE(ReadFile(path) == TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(at)));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(log.hasPrefix(" Thread: 2 Write Error"));
    EXPECT_FALSE(log.has(" 接收数据错误"));
}

}  // namespace
