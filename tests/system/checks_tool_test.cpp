#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

struct ChecksRun {
    int exitCode = -1;
    std::string out;
};

ChecksRun RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QV_SETUP_TOOL, "checks"};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::SpawnOptions options;
    options.captureStdout = true;
    options.stdinFromNull = true;
    platform::SpawnError error;
    auto child = platform::ChildProcess::Start(argv, options, error);
    if (!child) return {};
    ChecksRun run;
    run.out = child->ReadAllStdout();
    if (child->Wait(30000) == platform::ChildProcess::WaitResult::WAIT_EXITED) run.exitCode = child->ExitCode();
    return run;
}

class ChecksTool : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "registry");
        if (const char* old = std::getenv("QV_REGISTRY_DIR")) oldRegistry_ = old;
        setenv("QV_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    }
    void TearDown() override {
        if (oldRegistry_.empty()) unsetenv("QV_REGISTRY_DIR");
        else setenv("QV_REGISTRY_DIR", oldRegistry_.c_str(), 1);
    }
    qvtest::TempFolder folder_{"qv_checks_tool_"};
    const fs::path& dir_ = folder_.path();
    std::string oldRegistry_;
};

TEST_F(ChecksTool, ReportsEachCheckAndFailsWhenOneFails) {
    const std::string prod = (dir_ / "Prod").string();
    auto clean = RunTool({"--dir", prod});
    EXPECT_NE(clean.out.find("pending renames: " + prod + ": none"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("free space: " + prod + ": "), std::string::npos) << clean.out;

    platform::RegistryStore hklm(platform::RegistryHive::LocalMachine, dir_ / "registry");
    ASSERT_EQ(hklm.SetMultiString("SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                  "PendingFileRenameOperations", {prod + "/old.so", ""}),
              platform::RegistryResult::REG_RESULT_OK);
    auto pending = RunTool({"--dir", prod});
    EXPECT_EQ(pending.exitCode, 1);
    EXPECT_NE(pending.out.find("the installer would use \"" + prod + " 1\""), std::string::npos) << pending.out;

    auto relative = RunTool({"--dir", "relative/Prod"});
    EXPECT_EQ(relative.exitCode, 1);
    EXPECT_NE(relative.out.find("not an absolute path: fail"), std::string::npos) << relative.out;
}

TEST_F(ChecksTool, ProcessAndNetFrameChecks) {
    auto self = RunTool({"--process", "setup-tool"});  // the tool sees itself running
    EXPECT_EQ(self.exitCode, 1);
    EXPECT_NE(self.out.find("process setup-tool: running (pid "), std::string::npos) << self.out;
    auto absent = RunTool({"--process", "no-such-process-qv"});
    EXPECT_EQ(absent.exitCode, 0);
    EXPECT_NE(absent.out.find("not running"), std::string::npos);

    fs::create_directories(dir_ / "Prod");
    std::ofstream(dir_ / "Prod" / "NetFrameCheck.db") << "[Settings]\nNetFrameworkVersion=4.8.4000\n";
    platform::RegistryStore hklm(platform::RegistryHive::LocalMachine, dir_ / "registry");
    hklm.SetString("SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client", "Version", "4.8.03761");
    auto net = RunTool({"--netframe", (dir_ / "Prod").string()});
    EXPECT_EQ(net.exitCode, 1);
    EXPECT_NE(net.out.find("required 4.8.4000, installed 4.8.03761"), std::string::npos) << net.out;
}

TEST_F(ChecksTool, UsageErrors) {
    EXPECT_EQ(RunTool({}).exitCode, 2);
    EXPECT_EQ(RunTool({"--dir"}).exitCode, 2);
    EXPECT_EQ(RunTool({"--dir", "/a", "--dir", "/b"}).exitCode, 2);
    EXPECT_EQ(RunTool({"--bogus"}).exitCode, 2);
}

}  // namespace
