// `Setup /S` run by root where other users can reach: a download folder another user made
// in the temporary folder, links planted under every name Setup writes there and a cookie
// jar link in the working directory; and two runs for one product started together.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "src/wizard/CUnattendedInstall.h"
#include "tests/support/DemoEnvironment.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr const char* kStem = "MorvikBackupSetup";
constexpr const char* kInstallerName = "MorvikBackupSetup1.0.0.0.exe";

using qvtest::ReadFile;

class UnattendedTrust : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"home", "tmp", "registry", "opt", "cache", "work"}) fs::create_directories(root_ / sub);
    }

    // The environment of one Setup run: a clean one pointed at the sandbox and `demo`.
    std::string Environment(qvtest::DemoEnvironment& demo, const std::string& extra = "") const {
        std::string env = "env -i PATH=/usr/bin:/bin LANG=en_US.UTF-8 HOME='" + (root_ / "home").string() +
                          "' TMPDIR='" + (root_ / "tmp").string() + "' XDG_CACHE_HOME='" + (root_ / "cache").string() +
                          "' QV_REGISTRY_DIR='" + (root_ / "registry").string() + "'" + extra;
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) env += std::string(" LSAN_OPTIONS='") + lsan + "'";
        for (const auto& line : demo.EnvironmentLines()) env += " '" + line + "'";
        return env;
    }

    static qvtest::DemoEnvironment::Options DemoOptions() {
        qvtest::DemoEnvironment::Options options;
        options.installerPath = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";
        return options;
    }

    fs::path PrivateFolder() const { return root_ / "cache" / "quorvane-setup" / kStem; }

    qvtest::TempFolder folder_{"qv-silent-trust-"};
    const fs::path& root_ = folder_.path();
};

TEST_F(UnattendedTrust, AForeignFolderFullOfLinksIsLeftAloneAndTheInstallRunsFromAPrivateOne) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    const fs::path foreign = root_ / "tmp" / kStem;
    fs::create_directories(foreign);
    ASSERT_EQ(::chown(foreign.c_str(), kNobody, kNobody), 0);
    ::chmod(foreign.c_str(), 0777);
    const fs::path victims = root_ / "victims";
    fs::create_directories(victims);
    const std::string installer = kInstallerName;
    std::vector<fs::path> links;
    for (const std::string& name : {installer, installer + ".xml", installer + ".db", installer + ".log",
                                    std::string("temp"), std::string("temp.xml")}) {
        links.push_back(foreign / name);
    }
    links.push_back(root_ / "work" / "cloud");  // the cookie jar's old place: the working directory
    for (const fs::path& link : links) {
        const fs::path victim = victims / link.filename();
        std::ofstream(victim) << "untouched";
        fs::create_symlink(victim, link);
        ASSERT_EQ(::lchown(link.c_str(), kNobody, kNobody), 0);
    }

    qvtest::DemoEnvironment demo(DemoOptions());
    const fs::path target = root_ / "opt" / "Morvik";
    const qvtest::ShellResult run = qvtest::RunShellCommand(
        "cd '" + (root_ / "work").string() + "' && " + Environment(demo) + " " QV_SETUP_EXE " /S '/DIR=" +
            target.string() + "'",
        root_);

    ASSERT_EQ(run.exitCode, UNATTENDED_INSTALLED) << run.out << run.err;
    EXPECT_TRUE(fs::exists(target / "Morvik Backup" / "MorvikBackup.exe"));
    for (const fs::path& link : links) {
        EXPECT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_EQ(ReadFile(victims / link.filename()), "untouched") << link;
    }
    const std::string log = ReadFile(PrivateFolder() / (installer + ".log"));
    EXPECT_NE(log.find(" Download folder refused: " + foreign.string() + " belongs to another user"),
              std::string::npos) << log;
    EXPECT_NE(log.find(" [Download File Path]: " + (PrivateFolder() / installer).string()), std::string::npos) << log;
}

TEST_F(UnattendedTrust, TwoRunsStartedTogetherBothInstallOneAfterTheOther) {
    qvtest::DemoEnvironment demo(DemoOptions());
    const fs::path target = root_ / "opt" / "Morvik";
    // A slow installer keeps the first run busy while the second starts.
    const std::string env = Environment(demo, " QV_SAMPLE_INSTALL_DELAY=2");
    const std::string setup = env + " " QV_SETUP_EXE " /S '/DIR=" + target.string() + "'";
    const std::string first = (root_ / "first").string(), second = (root_ / "second").string();
    const qvtest::ShellResult run = qvtest::RunShellCommand(
        setup + " >'" + first + ".out' 2>'" + first + ".err' & pid=$!; sleep 0.5; " + setup + " >'" + second +
        ".out' 2>'" + second + ".err'; echo \"second=$?\"; wait $pid; echo \"first=$?\"");

    const std::string firstErr = ReadFile(first + ".err"), secondErr = ReadFile(second + ".err");
    EXPECT_NE(run.out.find("first=0"), std::string::npos) << run.out << firstErr;
    EXPECT_NE(run.out.find("second=0"), std::string::npos) << run.out << secondErr;
    EXPECT_NE(secondErr.find("Setup: another install of Morvik Backup is running"), std::string::npos) << secondErr;
    EXPECT_EQ(firstErr.find("another install"), std::string::npos) << firstErr;
    EXPECT_TRUE(fs::exists(target / "Morvik Backup" / "MorvikBackup.exe"));
}

}  // namespace
