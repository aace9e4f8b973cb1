// setup-tool download as a user runs it: killed or interrupted in the middle, then run
// again on the same file.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "src/engine/CDownloadTaskManager.h"
#include "src/engine/CDownloader.h"
#include "EngineTestSupport.h"
#include "tests/support/TestHttpServer.h"

using enginetest::ReadFile;
using enginetest::RecordingReporter;
using enginetest::TempDir;
using qvtest::TestHttpServer;

namespace {

using enginetest::MiB;

class SetupToolDownload : public ::testing::Test {
protected:
    void SetUp() override {
        TestHttpServer::FileOptions slow;
        slow.bytesPerSecond = MiB;  // per response: about 10 MiB/s with ten workers
        server.serveGenerated("/setup.bin", size, slow);
    }
    std::string command(const std::string& options = "") const {
        return std::string(QV_SETUP_TOOL) + " " + options + "download " + server.url("/setup.bin") + " " + local;
    }
    // Starts the tool in the background; returns its process id.
    std::string startInBackground() const {
        const std::string pidFile = dir.file("pid");
        const std::string line = "(" + command() + " > " + dir.file("out1.txt") + " 2>&1 & echo $! > " + pidFile + ")";
        EXPECT_EQ(std::system(line.c_str()), 0);
        std::string pid = ReadFile(pidFile);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
        return pid;
    }
    static bool alive(const std::string& pid) {
        return std::system(("kill -0 " + pid + " 2>/dev/null").c_str()) == 0;
    }
    // Bytes the task file records as downloaded, once it records at least `atLeast`.
    std::int64_t waitForRecordedProgress(std::int64_t atLeast) {
        for (int i = 0; i < 400; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            const std::int64_t recorded = recordedBytes();
            if (recorded >= atLeast) return recorded;
        }
        ADD_FAILURE() << "no progress recorded in the task file";
        return 0;
    }
    std::int64_t recordedBytes() {
        CDownloadTaskManager saved(server.url("/setup.bin"), local, local + ".xml", reporter);
        saved.readTaskInfo();
        std::int64_t bytes = 0;
        for (const auto& t : saved.allTasks()) {
            bytes += t->DownloadedPos - t->StartPos + (t->DownloadedPos == t->EndPos && t->EndPos != size ? 1 : 0);
        }
        return bytes;
    }
    // Runs the tool to the end on the file the task file describes. The server must send
    // what the task file lacked: exactly that, unless the resumed run shared out a slow
    // request in its end game. A shared-out request is cut, and each cut may have cost what
    // that request was still to fetch (bytes already on their way are thrown away).
    void resumeAndCheck(std::int64_t recorded) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the old connections wind down
        server.resetCounters();
        server.setOptions("/setup.bin", {});
        const std::string out = dir.file("out2.txt");
        ASSERT_EQ(std::system((command("--log ") + " > " + out + " 2>&1").c_str()), 0) << ReadFile(out);
        const std::string printed = ReadFile(out);
        EXPECT_NE(printed.find("resuming " + local), std::string::npos) << printed;
        const std::int64_t missing = size - recorded;
        EXPECT_NE(printed.find("resuming " + local + ": " + std::to_string(recorded) + " of " + std::to_string(size)),
                  std::string::npos)
            << printed;
        EXPECT_NE(printed.find("complete, size " + std::to_string(size) + " bytes, " + std::to_string(missing) +
                               " bytes in "),
                  std::string::npos)
            << printed;
        EXPECT_TRUE(ReadFile(local) == TestHttpServer::GeneratedContent(0, size));
        std::int64_t cuts = 0;
        for (std::size_t at = printed.find(" Share out: "); at != std::string::npos;
             at = printed.find(" Share out: ", at + 1)) {
            ++cuts;
        }
        if (cuts == 0) {
            EXPECT_EQ(server.bytesSent(), missing);
        } else {
            EXPECT_GE(server.bytesSent(), missing);
            EXPECT_LE(server.bytesSent(), missing + cuts * static_cast<std::int64_t>(CDownloader::kMaxRunTasks) * MiB);
        }
    }
    // Whether a request of the killed run asked for more than one task.
    bool askedForARun() const {
        for (const auto& request : server.requests()) {
            long long first = 0, last = 0;
            if (std::sscanf(request.range.c_str(), "bytes=%lld-%lld", &first, &last) == 2 && last - first + 1 > MiB + 1) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    TestHttpServer server;
    RecordingReporter reporter;
    std::string local = dir.file("setup.bin");
    const std::int64_t size = 40 * MiB + 12345;
};

TEST_F(SetupToolDownload, KilledRunResumesAndFetchesOnlyWhatWasMissing) {
    const std::string pid = startInBackground();
    ASSERT_FALSE(pid.empty());
    waitForRecordedProgress(size / 4);
    ASSERT_EQ(std::system(("kill -KILL " + pid).c_str()), 0);
    while (alive(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::int64_t recorded = recordedBytes();
    ASSERT_GT(recorded, 0);
    ASSERT_LT(recorded, size);
    // The first requests of a worker fetch two tasks at once; they were still running.
    EXPECT_TRUE(askedForARun());
    resumeAndCheck(recorded);
}

// Killed in the end game: a response stalled for good, the idle workers took over the
// rest of its task, and the task file already holds the new task when the kill comes.
TEST_F(SetupToolDownload, KilledInTheEndGameResumesByteIdentical) {
    TestHttpServer::FileOptions options;
    options.bytesPerSecond = MiB;
    options.fault = TestHttpServer::FaultKind::Stall;
    options.faultAt = 5 * MiB + 1000;
    options.stallMs = 60000;
    server.setOptions("/setup.bin", options);
    const std::string pid = startInBackground();
    ASSERT_FALSE(pid.empty());
    bool split = false;
    for (int i = 0; i < 1200 && !split && alive(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        CDownloadTaskManager saved(server.url("/setup.bin"), local, local + ".xml", reporter);
        saved.readTaskInfo();
        split = saved.tasksCount() > size / MiB;
    }
    ASSERT_TRUE(split) << "no task was split before the download ended";
    ASSERT_EQ(std::system(("kill -KILL " + pid).c_str()), 0);
    while (alive(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.releaseStalls();
    const std::int64_t recorded = recordedBytes();
    ASSERT_GT(recorded, 0);
    ASSERT_LT(recorded, size);
    resumeAndCheck(recorded);
}

TEST_F(SetupToolDownload, CtrlCStopsCleanlyAndSavesTheTaskFile) {
    const std::string pid = startInBackground();
    ASSERT_FALSE(pid.empty());
    waitForRecordedProgress(1);
    ASSERT_EQ(std::system(("kill -INT " + pid).c_str()), 0);
    for (int i = 0; i < 1000 && alive(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(alive(pid));
    const std::string out = ReadFile(dir.file("out1.txt"));
    EXPECT_NE(out.find("interrupted: waiting for the running requests"), std::string::npos) << out;
    EXPECT_NE(out.find("incomplete"), std::string::npos) << out;
    EXPECT_NE(out.find("run the same command again to resume"), std::string::npos) << out;
    const std::int64_t recorded = recordedBytes();
    ASSERT_LT(recorded, size);
    resumeAndCheck(recorded);
}

// Like Setup, the tool gives up on a server that never delivers at a usable rate (it ran
// for ever before), and blames a folder that cannot take the file, not the network,
// before it writes anything.
TEST_F(SetupToolDownload, GivesUpOnATrickleAndOnAFolderWithoutRoom) {
    TestHttpServer::FileOptions trickle;
    trickle.bytesPerSecond = 50;  // per response: 500 bytes a second with ten workers
    server.setOptions("/setup.bin", trickle);
    const std::string out = dir.file("trickle.txt");
    const std::string limited = "QV_TEST_STALL_LIMIT_MS=1500 timeout 60 " + command() + " > " + out + " 2>&1";
    EXPECT_EQ(std::system(limited.c_str()), 1 << 8) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("setup-tool download: no progress: less than 1024 bytes per second for 1500 ms"),
              std::string::npos) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("incomplete"), std::string::npos) << ReadFile(out);

    server.setOptions("/setup.bin", {});
    std::filesystem::remove(local);
    std::filesystem::remove(local + ".xml");
    server.resetCounters();
    const std::string noRoom = "prlimit --fsize=1048576 -- " + command() + " > " + out + " 2>&1";
    EXPECT_EQ(std::system(noRoom.c_str()), 1 << 8) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("setup-tool download: not enough room for " + std::to_string(size) + " bytes"),
              std::string::npos) << ReadFile(out);
    // Nothing was written, and no range was asked for once the size was known: the only
    // ones are those that went out with the size probe, 2 MiB from each 2 MiB boundary.
    EXPECT_FALSE(std::filesystem::exists(local) && std::filesystem::file_size(local) != 0);
    for (const auto& request : server.requests()) {
        if (request.range.empty()) continue;
        long long first = -1, last = -1;
        ASSERT_EQ(std::sscanf(request.range.c_str(), "bytes=%lld-%lld", &first, &last), 2) << request.range;
        EXPECT_EQ(first % (2 * MiB), 0) << request.range;
        EXPECT_EQ(last, first + 2 * MiB - 1) << request.range;
    }
}

TEST_F(SetupToolDownload, LinksNamedLikeTheFileAndItsTaskFileAreNeverWrittenThrough) {
    const std::string victim = dir.file("victim"), victimXml = dir.file("victim.xml");
    std::system(("printf untouched > " + victim + " && printf untouched > " + victimXml + " && ln -s " + victim +
                 " " + local + " && ln -s " + victimXml + " " + local + ".xml")
                    .c_str());
    const std::string out = dir.file("out.txt");
    EXPECT_EQ(std::system((command() + " > " + out + " 2>&1").c_str()), 1 << 8) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("cannot open " + local + " for writing (it must be a regular file, not a link)"),
              std::string::npos)
        << ReadFile(out);
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_EQ(ReadFile(victimXml), "untouched");
}

TEST(SetupToolDownloadUsage, BadArgumentsAreUsageErrors) {
    const std::string tool = QV_SETUP_TOOL;
    for (const char* args : {"download", "download http://127.0.0.1:1/x", "download a b --threads 0",
                             "download a b --threads 65", "download a b --bogus"}) {
        EXPECT_EQ(std::system((tool + " " + args + " >/dev/null 2>&1").c_str()), 2 << 8) << args;
    }
    TempDir dir;
    EXPECT_EQ(std::system((tool + " download http://127.0.0.1:1/x " + dir.file("x") + " >/dev/null 2>&1").c_str()),
              1 << 8);
}

}  // namespace
