// `Setup /S` against the local maker service and download server: the real executable,
// no display, the signed sample product, exit codes that name the failure.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "src/wizard/CUnattendedInstall.h"
#include "tests/support/DemoEnvironment.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

using RunResult = qvtest::ShellResult;

class Unattended : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"home", "tmp", "registry", "opt"}) fs::create_directories(root_ / sub);
    }

    // Runs build/Setup with a clean environment pointed at `demo`; no DISPLAY on purpose.
    // `prefix` goes before the command (a resource limit), `extraEnv` into its environment.
    RunResult Run(qvtest::DemoEnvironment* demo, const std::string& args, const std::string& prefix = "",
                  const std::string& extraEnv = "") {
        std::string env = prefix + "env -i " + extraEnv + " PATH=/usr/bin:/bin LANG=en_US.UTF-8 HOME='" + (root_ / "home").string() +
                          "' TMPDIR='" + (root_ / "tmp").string() + "' XDG_CACHE_HOME='" + (root_ / "home").string() +
                          "/.cache' QV_REGISTRY_DIR='" + (root_ / "registry").string() + "'";
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) env += std::string(" LSAN_OPTIONS='") + lsan + "'";
        if (demo != nullptr) {
            for (const auto& line : demo->EnvironmentLines()) env += " '" + line + "'";
        }
        return qvtest::RunShellCommand(env + " " QV_SETUP_EXE " " + args, root_);
    }

    static qvtest::DemoEnvironment::Options DemoOptions() {
        qvtest::DemoEnvironment::Options options;
        options.installerPath = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";
        return options;
    }

    qvtest::TempFolder folder_{"qv-silent-"};
    const fs::path& root_ = folder_.path();
};

TEST_F(Unattended, InstallsTheSampleProductWithoutAWindow) {
    qvtest::DemoEnvironment demo(DemoOptions());
    const fs::path target = root_ / "opt" / "Morvik";
    RunResult run = Run(&demo, "/S '/DIR=" + target.string() + "'");
    ASSERT_EQ(run.exitCode, UNATTENDED_INSTALLED) << run.out << run.err;
    EXPECT_TRUE(fs::exists(target / "Morvik Backup" / "MorvikBackup.exe")) << run.out;
    EXPECT_NE(run.out.find("Morvik Backup 1.0.0.0 is installed in " + (target / "Morvik Backup").string()),
              std::string::npos) << run.out;
    EXPECT_NE(run.out.find("progress: 100%"), std::string::npos) << run.out;
    // The same funnel as the wizard's, delivered before the process ended.
    bool finished = false;
    for (const auto& line : demo.Funnel()) finished |= line == "Download / 6.ProgramFinsh / First";
    EXPECT_TRUE(finished);
}

TEST_F(Unattended, ATamperedInstallerEndsWithTheSignatureCode) {
    qvtest::DemoEnvironment demo(DemoOptions());
    std::string bytes = demo.installerBytes();
    bytes[bytes.size() / 2] ^= 0x01;
    demo.ServeInstaller(bytes);
    RunResult run = Run(&demo, "--silent --dir=" + (root_ / "opt").string());
    EXPECT_EQ(run.exitCode, UNATTENDED_BAD_SIGNATURE) << run.out << run.err;
    EXPECT_NE(run.err.find("Setup: MD5Fail:"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(root_ / "opt" / "Morvik Backup" / "MorvikBackup.exe"));
}

TEST_F(Unattended, AStoppedDownloadServerEndsWithTheDownloadCodeAndAClearMessage) {
    qvtest::DemoEnvironment::Options options = DemoOptions();
    qvtest::DemoEnvironment demo(options);
    // Every location answers 404: the download cannot start.
    demo.downloads().setOptions("/downloads/extra/MorvikBackupSetup.exe", [] {
        qvtest::FileOptions o;
        o.status = 404;
        return o;
    }());
    RunResult run = Run(&demo, "/S /DIR=" + (root_ / "opt").string());
    EXPECT_EQ(run.exitCode, UNATTENDED_BAD_DOWNLOAD) << run.out << run.err;
    EXPECT_NE(run.err.find("Setup: UrlFail:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("install failed: bad download"), std::string::npos) << run.err;
}

// "Installed" only when the installer says so and the product is there; otherwise the
// failure code and where to look.
TEST_F(Unattended, AFailedInstallerOrAMissingProductIsNotInstalled) {
    {
        qvtest::DemoEnvironment demo(DemoOptions());
        RunResult run = Run(&demo, "/S /DIR=" + (root_ / "opt").string(), "", "QV_SAMPLE_INSTALL_FAIL=1");
        EXPECT_EQ(run.exitCode, UNATTENDED_INSTALLER_FAILED) << run.out << run.err;
        EXPECT_NE(run.err.find("the installer failed with exit code 1 (see the installer's log "), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("is installed in"), std::string::npos) << run.out;
    }
    {
        qvtest::DemoEnvironment::Options options = DemoOptions();
        options.processName = "NotTheProduct.exe";
        qvtest::DemoEnvironment demo(options);
        RunResult run = Run(&demo, "/S /DIR=" + (root_ / "opt2").string());
        EXPECT_EQ(run.exitCode, UNATTENDED_INSTALLER_FAILED) << run.out << run.err;
        EXPECT_NE(run.err.find("NotTheProduct.exe is not in " + (root_ / "opt2" / "Morvik Backup").string()),
                  std::string::npos) << run.err;
    }
}

// A download folder that cannot take the installer (here: a file-size limit below its
// size) is the pre-install code with the NoEnoughSpace message, not a network failure.
TEST_F(Unattended, ADownloadFolderWithoutRoomSaysSo) {
    qvtest::DemoEnvironment demo(DemoOptions());
    RunResult run = Run(&demo, "/S /DIR=" + (root_ / "opt").string(), "prlimit --fsize=524288 -- ");
    EXPECT_EQ(run.exitCode, UNATTENDED_CHECK_FAILED) << run.out << run.err;
    EXPECT_NE(run.err.find("Setup: NoEnoughSpace:"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("InternetTimeout"), std::string::npos) << run.err;
}

TEST_F(Unattended, CommandLineMistakesAreUsageErrors) {
    struct Case {
        const char* args;
        const char* why;
    } cases[] = {
        {"/DIR=/opt/x", "/DIR= needs /S"},
        {"/S /DIR=relative/path", "/DIR= needs an absolute folder"},
        {"/S --bogus", "unknown argument '--bogus'"},
    };
    for (const Case& c : cases) {
        RunResult run = Run(nullptr, c.args);
        EXPECT_EQ(run.exitCode, UNATTENDED_USAGE) << c.args;
        EXPECT_NE(run.err.find(c.why), std::string::npos) << c.args << ": " << run.err;
        EXPECT_NE(run.err.find("usage: Setup"), std::string::npos) << c.args;
    }
}

}  // namespace
