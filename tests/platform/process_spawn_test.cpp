#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Folders.h"
#include "platform/Process.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::ChildProcess;

// A scratch folder with a blank in its name, removed afterwards.
class SpawnDir : public qvtest::TempFolder {
public:
    SpawnDir() : TempFolder("qv proc ") {}
};

bool WaitUntil(const std::function<bool()>& condition, int ms = 3000) {
    for (int i = 0; i < ms / 10; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(SplitCommandLine, BlanksSeparateQuotesGroupBackslashesStay) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  lead  and  trail  ", {"lead", "and", "trail"}},
        {"\"/opt/P Q/R/app\"", {"/opt/P Q/R/app"}},
        {" /VERYSILENT /DIR=\"/opt/My Prod/\" /LANG=en", {"/VERYSILENT", "/DIR=/opt/My Prod/", "/LANG=en"}},
        {"a\\b \"c\\\" d", {"a\\b", "c\\", "d"}},  // no escapes: a backslash before a quote does not protect it
        {"\"\"", {""}},
        {"x \"\" y", {"x", "", "y"}},
        {"\"unterminated quote", {"unterminated quote"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.args) << "line: [" << c.line << "]";
    }
    EXPECT_TRUE(platform::SplitCommandLine(std::string(70 * 1024, 'x')).empty());
}

TEST(ChildProcess, RunsInTheGivenWorkingDirectoryAndReportsItsExitCode) {
    SpawnDir dir;
    platform::SpawnOptions options;
    options.workingDirectory = dir.path().string();
    options.captureStdout = true;
    platform::SpawnError error;
    auto child = ChildProcess::Start({"/bin/sh", "-c", "pwd; exit 3"}, options, error);
    ASSERT_TRUE(child) << error.message;
    EXPECT_EQ(child->ReadAllStdout(), dir.path().string() + "\n");
    ASSERT_EQ(child->Wait(5000), ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(child->ExitCode(), 3);
}

TEST(ChildProcess, CannotStartIsAClearError) {
    SpawnDir dir;
    platform::SpawnError error;
    auto missing = ChildProcess::Start({(dir.path() / "no-such-program").string()}, {}, error);
    EXPECT_FALSE(missing);
    EXPECT_NE(error.code, 0);
    EXPECT_NE(error.message.find("no-such-program"), std::string::npos) << error.message;

    platform::SpawnOptions badDir;
    badDir.workingDirectory = (dir.path() / "missing").string();
    EXPECT_FALSE(ChildProcess::Start({"/bin/true"}, badDir, error));
    EXPECT_NE(error.message.find("missing"), std::string::npos) << error.message;

    // A file without the execute bit.
    auto script = dir.path() / "plain.sh";
    std::ofstream(script) << "#!/bin/sh\nexit 0\n";
    EXPECT_FALSE(ChildProcess::Start({script.string()}, {}, error));
    EXPECT_NE(error.code, 0);

    EXPECT_FALSE(ChildProcess::Start({}, {}, error));
    EXPECT_FALSE(ChildProcess::Start({std::string("/bin/true\0x", 11)}, {}, error));
}

TEST(ChildProcess, WaitTimesOutWhileTheChildKeepsRunning) {
    platform::SpawnError error;
    int pid = -1;
    {
        auto child = ChildProcess::Start({"sleep", "30"}, {}, error);
        ASSERT_TRUE(child) << error.message;
        pid = child->Pid();
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(child->Wait(300), ChildProcess::WaitResult::WAIT_TIMED_OUT);
        auto waited = std::chrono::steady_clock::now() - before;
        EXPECT_GE(waited, std::chrono::milliseconds(290));
        EXPECT_LT(waited, std::chrono::seconds(15));  // far below the child's 30 s, whatever the load
        EXPECT_EQ(child->Wait(0), ChildProcess::WaitResult::WAIT_TIMED_OUT);
    }
    // Letting go of the object neither kills the child nor leaves a zombie once it ends.
    EXPECT_TRUE(platform::ProcessIsAlive(pid));
    ASSERT_TRUE(platform::KillProcess(pid));
    EXPECT_TRUE(WaitUntil([&] { return !platform::ProcessIsAlive(pid); }));
}

TEST(ChildProcess, WaitSeesAQuickExitAndKillEndsTheChild) {
    platform::SpawnError error;
    auto quick = ChildProcess::Start({"/bin/true"}, {}, error);
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->Wait(5000), ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(quick->ExitCode(), 0);
    EXPECT_EQ(quick->Wait(0), ChildProcess::WaitResult::WAIT_EXITED);

    auto slow = ChildProcess::Start({"sleep", "30"}, {}, error);
    ASSERT_TRUE(slow);
    ASSERT_TRUE(slow->Kill());
    EXPECT_EQ(slow->Wait(5000), ChildProcess::WaitResult::WAIT_EXITED);
    EXPECT_EQ(slow->ExitCode(), 128 + 9);
}

TEST(ChildProcess, StdinFromNullNeverWaitsForInput) {
    platform::SpawnOptions options;
    options.stdinFromNull = true;
    options.captureStdout = true;
    platform::SpawnError error;
    auto child = ChildProcess::Start({"/bin/sh", "-c", "read line; echo \"got:$line:$?\""}, options, error);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->ReadAllStdout(), "got::1\n");
    EXPECT_EQ(child->Wait(5000), ChildProcess::WaitResult::WAIT_EXITED);
}

TEST(StartDetached, RunsInItsFolderAndLeavesNoZombie) {
    SpawnDir dir;
    platform::SpawnError error;
    auto pid = platform::StartDetached({"/bin/sh", "-c", "pwd > where.txt"}, dir.path().string(), error);
    ASSERT_TRUE(pid) << error.message;
    EXPECT_TRUE(WaitUntil([&] { return !platform::ProcessIsAlive(*pid); }));
    std::ifstream in(dir.path() / "where.txt");
    std::string where;
    std::getline(in, where);
    EXPECT_EQ(where, dir.path().string());

    EXPECT_FALSE(platform::StartDetached({(dir.path() / "absent").string()}, "", error));
    EXPECT_NE(error.code, 0);
}

TEST(SnapshotProcesses, FindsARunningProgramByItsFileName) {
    SpawnDir dir;
    // Longer than the 15 characters the kernel keeps as a process's short name.
    const std::string name = "qv-snapshot-probe-" + std::to_string(platform::CurrentProcessId());
    auto copy = dir.path() / name;
    fs::copy_file("/bin/sleep", copy);
    fs::permissions(copy, fs::perms::owner_all);
    platform::SpawnError error;
    auto child = ChildProcess::Start({copy.string(), "30"}, {}, error);
    ASSERT_TRUE(child) << error.message;

    auto snapshot = platform::SnapshotProcesses();
    ASSERT_TRUE(snapshot);
    auto found = std::find_if(snapshot->begin(), snapshot->end(),
                              [&](const platform::ProcessEntry& e) { return e.pid == child->Pid(); });
    ASSERT_NE(found, snapshot->end());
    EXPECT_EQ(found->name, name);
    auto self = std::find_if(snapshot->begin(), snapshot->end(), [](const platform::ProcessEntry& e) {
        return e.pid == platform::CurrentProcessId();
    });
    ASSERT_NE(self, snapshot->end());
    EXPECT_EQ(self->name, "platform_tests");

    child->Kill();
    EXPECT_EQ(child->Wait(5000), ChildProcess::WaitResult::WAIT_EXITED);
}

}  // namespace
