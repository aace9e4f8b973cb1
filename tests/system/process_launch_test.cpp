#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "src/system/ProcessLaunch.h"
#include "platform/ProcessLogger.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "src/telemetry/IEventReporter.h"

namespace {

namespace fs = std::filesystem;

class ScratchDir : public qvtest::TempFolder {
public:
    ScratchDir() : TempFolder("qv launch ") {}
};

struct RecordedEvent {
    std::string category, action, label;
    bool immediate;
};

class RecordingReporter : public IEventReporter {
public:
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override {
        events.push_back({category, action, label, immediate});
        return 0;
    }
    std::vector<RecordedEvent> events;
};

void WriteScript(const fs::path& path, const std::string& body, bool executable = true) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

std::string WaitForFile(const fs::path& path) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(path);
        std::string line;
        if (in && std::getline(in, line)) return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

using qvtest::ReadFile;

TEST(StartTargetMainExe, StartsTheQuotedPathInItsOwnFolder) {
    ScratchDir dir;
    const fs::path folder = dir.path() / "P Q" / "R";
    WriteScript(folder / "app", "pwd > cwd.txt");
    RecordingReporter reporter;
    ASSERT_EQ(FuntionImpl::StartTargetMainExe("\"" + (folder / "app").string() + "\"", reporter), 0);
    EXPECT_EQ(WaitForFile(folder / "cwd.txt"), folder.string());
    EXPECT_TRUE(reporter.events.empty());
}

TEST(StartTargetMainExe, AFailedStartIsLoggedAndReportedWithTheErrorCode) {
    ScratchDir dir;
    struct Case {
        std::string quotedPath;
        std::string label;
    } cases[] = {
        {"\"" + dir.str() + "/missing/app\"", "2"},  // ENOENT
        {"\"\"", "2"},                               // product not found: two quote characters
        {"\"" + dir.str() + "/plain\"", "13"},       // EACCES: not executable
    };
    WriteScript(dir.path() / "plain", "exit 0", false);
    for (const auto& c : cases) {
        RecordingReporter reporter;
        EXPECT_EQ(FuntionImpl::StartTargetMainExe(c.quotedPath, reporter), -1) << c.quotedPath;
        ASSERT_EQ(reporter.events.size(), 1u) << c.quotedPath;
        EXPECT_EQ(reporter.events[0].category, "Other");
        EXPECT_EQ(reporter.events[0].action, "StartWindowError");
        EXPECT_EQ(reporter.events[0].label, c.label) << c.quotedPath;
        EXPECT_FALSE(reporter.events[0].immediate);
    }
}

TEST(FindFileInSubdirectories, SearchesDepthFirstInListingOrderAndSkipsTheTopLevel) {
    ScratchDir dir;
    const std::string root = dir.str() + "/";
    fs::create_directories(dir.path() / "a" / "deep" / "x");
    fs::create_directories(dir.path() / "b");
    std::ofstream(dir.path() / "target") << "top";  // the caller's business, never returned
    std::ofstream(dir.path() / "a" / "deep" / "x" / "target") << "deep";
    std::ofstream(dir.path() / "b" / "target") << "shallow";
    fs::create_directory_symlink(dir.path(), dir.path() / "a" / "loop");  // must not trap the search

    // Whichever of a and b the file system lists first is searched to the bottom first,
    // even though b holds a shallower match.
    std::string first;
    const auto listing = platform::ListDirectory(root);
    ASSERT_TRUE(listing);
    for (const auto& e : *listing)
        if (e.name == "a" || e.name == "b") {
            first = e.name;
            break;
        }
    const std::string expected = first == "a" ? root + "a/deep/x/target" : root + "b/target";
    EXPECT_EQ(FuntionImpl::FindFileInSubdirectories(root, "target"), expected);

    // Within one folder, the candidate next to it comes before anything deeper.
    fs::create_directories(dir.path() / "c" / "d");
    std::ofstream(dir.path() / "c" / "d" / "app") << "";
    std::ofstream(dir.path() / "c" / "app") << "";
    EXPECT_EQ(FuntionImpl::FindFileInSubdirectories(root, "app"), root + "c/app");

    // A folder of that name is not a file.
    fs::create_directories(dir.path() / "b" / "folder-only");
    EXPECT_EQ(FuntionImpl::FindFileInSubdirectories(root, "folder-only"), "");
    EXPECT_EQ(FuntionImpl::FindFileInSubdirectories(root, "nowhere"), "");
    EXPECT_EQ(FuntionImpl::FindFileInSubdirectories(root + "missing/", "target"), "");
}

TEST(FindProductExecutable, TrimsBlanksTriesTheTopLevelThenSearches) {
    ScratchDir dir;
    fs::create_directories(dir.path() / "Prod" / "bin");
    std::ofstream(dir.path() / "Prod" / "bin" / "prod") << "";
    const std::string installDir = "  " + dir.str() + "/Prod ";
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "prod", true), dir.str() + "/Prod/bin/prod");

    std::ofstream(dir.path() / "Prod" / "prod") << "";
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "prod", true), dir.str() + "/Prod/prod");
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "prod", false), "");
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "missing", true), "");
    // A name from the web service cannot point outside the install directory.
    std::ofstream(dir.path() / "outside") << "";
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "../outside", true), "");
    EXPECT_EQ(FuntionImpl::FindProductExecutable(installDir, "..", true), "");
}

class InstallerWait : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(qvlog::ConfigureLogFile((dir.path() / "setup.log").string())); }
    void TearDown() override { qvlog::InitDefaultLogger(); }
    std::string Log() const { return ReadFile(dir.path() / "setup.log"); }

    ScratchDir dir;
    std::vector<int> shown;
    FuntionImpl::InstallerProgressFn record = [this](int value) { shown.push_back(value); };
};

TEST_F(InstallerWait, AQuickInstallerGetsItsSwitchesAndShowsOnly100) {
    // Freshly downloaded: no execute bit yet.
    const fs::path installer = dir.path() / "setup.run";
    WriteScript(installer, "for a in \"$@\"; do echo \"[$a]\"; done > \"" + (dir.path() / "args").string() + "\"",
                false);
    auto result = FuntionImpl::RunInstallerProcessAndWait(
        installer.string(), " /VERYSILENT /SP- /NORESTART /DIR=\"/opt/My Prod/\" /LANG=english", record);
    EXPECT_EQ(result.outcome, FuntionImpl::InstallerOutcome::INSTALLER_FINISHED);
    EXPECT_EQ(result.waitCount, 0);
    EXPECT_EQ(shown, std::vector<int>{100});
    EXPECT_EQ(ReadFile(dir.path() / "args"), "[/VERYSILENT]\n[/SP-]\n[/NORESTART]\n[/DIR=/opt/My Prod/]\n[/LANG=english]\n");
    EXPECT_NE(Log().find(" Cmd Finished, nWaitSeconds: 0"), std::string::npos) << Log();
}

TEST_F(InstallerWait, ProgressClimbsTo99ThenHoldsAndEndsAt100) {
    const fs::path installer = dir.path() / "setup.run";
    WriteScript(installer, "sleep 1");
    auto result = FuntionImpl::RunInstallerProcessAndWait(installer.string(), "", record, {20, 0});
    EXPECT_EQ(result.outcome, FuntionImpl::InstallerOutcome::INSTALLER_FINISHED);
    ASSERT_GT(shown.size(), 12u);
    EXPECT_EQ(static_cast<int>(shown.size()), result.waitCount + 1);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(shown[i], 91 + i);
    for (std::size_t i = 9; i + 1 < shown.size(); ++i) EXPECT_EQ(shown[i], 99) << i;
    EXPECT_EQ(shown.back(), 100);
    EXPECT_NE(Log().find(" Cmd Finished, nWaitSeconds: " + std::to_string(result.waitCount)), std::string::npos);
}

TEST_F(InstallerWait, TimesOutAfter242WaitsAndLeavesTheInstallerRunning) {
    const fs::path installer = dir.path() / "setup.run";
    WriteScript(installer, "exec sleep 120");
    auto result = FuntionImpl::RunInstallerProcessAndWait(installer.string(), "", record, {1, 0});
    EXPECT_EQ(result.outcome, FuntionImpl::InstallerOutcome::INSTALLER_TIMED_OUT);
    EXPECT_EQ(result.waitCount, 241);
    ASSERT_EQ(shown.size(), 241u);  // the 242nd wait decides; no progress after it
    EXPECT_EQ(shown[8], 99);
    EXPECT_EQ(shown.back(), 99);
    EXPECT_NE(Log().find(" Cmd nWaitSeconds timed out: 241"), std::string::npos) << Log();

    ASSERT_GT(result.pid, 0);
    EXPECT_TRUE(platform::ProcessIsAlive(result.pid));
    ASSERT_TRUE(platform::KillProcess(result.pid));
    for (int i = 0; i < 300 && platform::ProcessIsAlive(result.pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(platform::ProcessIsAlive(result.pid));
}

TEST_F(InstallerWait, AnInstallerThatCannotStartTimesOutAtOnce) {
    auto result = FuntionImpl::RunInstallerProcessAndWait((dir.path() / "missing.run").string(), " /S", record);
    EXPECT_EQ(result.outcome, FuntionImpl::InstallerOutcome::INSTALLER_TIMED_OUT);
    EXPECT_EQ(result.waitCount, 0);
    EXPECT_EQ(result.pid, -1);
    EXPECT_TRUE(shown.empty());
    EXPECT_NE(Log().find("missing.run"), std::string::npos) << Log();
}

}  // namespace
