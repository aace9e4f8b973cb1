// A Setup built with a pinned signer (build/demo/Setup, pinned to the sample product's
// key) against the tests' unpinned build/Setup: the same installer re-signed with another
// self-signed key, its MD5 digest matching the configuration, is refused by the first and
// accepted by the second; a digest mismatch is forgiven only for the pinned signer.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "src/wizard/CUnattendedInstall.h"
#include "tests/support/DemoEnvironment.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[] = "~Module signature appended~\n";
constexpr std::size_t kMagicBytes = sizeof(kMagic) - 1;

using qvtest::ReadFile;
using qvtest::WriteFile;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class PinnedSigner : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"home", "tmp", "registry", "opt", "signing"}) fs::create_directories(root_ / sub);
    }

    qvtest::ShellResult Run(const char* setup, qvtest::DemoEnvironment& demo) {
        std::string env = "env -i PATH=/usr/bin:/bin LANG=en_US.UTF-8 HOME='" + (root_ / "home").string() +
                          "' XDG_CACHE_HOME='" + (root_ / "home" / ".cache").string() + "' TMPDIR='" +
                          (root_ / "tmp").string() + "' QV_REGISTRY_DIR='" + (root_ / "registry").string() + "'";
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) env += std::string(" LSAN_OPTIONS='") + lsan + "'";
        for (const auto& line : demo.EnvironmentLines()) env += " '" + line + "'";
        return qvtest::RunShellCommand(env + " " + setup + " /S '/DIR=" + (root_ / "opt").string() + "'", root_);
    }

    // The sample installer with its signature replaced by one made with a fresh self-signed
    // key: the same script and payload, intact, signed by somebody else.
    fs::path ResignedSample() {
        const std::string sample = ReadFile(QV_BUILD_DIR "/sample/MorvikBackupSetup.exe");
        EXPECT_GT(sample.size(), kMagicBytes + 12);
        const std::size_t trailer = sample.size() - kMagicBytes - 12;
        std::uint32_t length = 0;
        for (int i = 8; i < 12; ++i) length = (length << 8) | static_cast<unsigned char>(sample[trailer + i]);
        const std::string content = sample.substr(0, trailer - length);
        const fs::path work = root_ / "signing";
        WriteFile(work / "content", content);
        const std::string w = "'" + work.string() + "'";
        const int made = std::system(
            ("cd " + w + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
             "-subj '/CN=Morvik sample product signing' >/dev/null 2>&1 && openssl cms -sign -binary -noattr "
             "-md sha256 -in content -signer cert.pem -inkey key.pem -outform DER -out sig.der")
                .c_str());
        EXPECT_EQ(made, 0);
        const std::string signature = ReadFile(work / "sig.der");
        std::string tail(12, '\0');
        tail[2] = 2;  // PKCS#7
        for (int i = 0; i < 4; ++i) tail[8 + i] = static_cast<char>(signature.size() >> (24 - 8 * i));
        WriteFile(work / "resigned.exe", content + signature + tail + kMagic);
        return work / "resigned.exe";
    }

    bool Installed() const { return fs::exists(root_ / "opt" / "Morvik Backup" / "MorvikBackup.exe"); }

    // Setup /S logs to a file in its download folder only, somewhere below the test's
    // folders (each run of a test starts from no log).
    std::string SetupLogs() const {
        std::string logs;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_regular_file() && entry.path().extension() == ".log") logs += ReadFile(entry.path());
        }
        EXPECT_NE(logs.find("VerifyEmbeddedSignature result is"), std::string::npos)
            << "no log of Setup's verification below " << root_;
        return logs;
    }
    void ClearSetupLogs() const {
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_regular_file() && entry.path().extension() == ".log") fs::remove(entry.path());
        }
    }

    // The first location, without a speed test: which location served the installer plays
    // no part in whose signature is accepted, and the speed test would add its fixed four
    // seconds per location to every run.
    static qvtest::DemoEnvironment::Options DemoOptions() {
        qvtest::DemoEnvironment::Options options;
        options.downloaderType = 1;
        return options;
    }

    qvtest::TempFolder folder_{"qv-pinned-"};
    const fs::path& root_ = folder_.path();
};

TEST_F(PinnedSigner, TheSampleInstallsUnderItsPinEvenWithADigestMismatch) {
    qvtest::DemoEnvironment::Options options = DemoOptions();
    options.installerPath = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";
    options.md5 = std::string(32, '0');
    qvtest::DemoEnvironment demo(options);
    const qvtest::ShellResult run = Run(QV_DEMO_SETUP_EXE, demo);
    EXPECT_EQ(run.exitCode, UNATTENDED_INSTALLED) << run.out << run.err;
    EXPECT_TRUE(Installed()) << run.out;
    const std::string logs = SetupLogs();
    EXPECT_NE(logs.find(" [Signer SHA-256]: " QV_SAMPLE_SIGNER_SHA256), std::string::npos) << logs;
    EXPECT_EQ(logs.find("No signer is pinned"), std::string::npos) << logs;
}

TEST_F(PinnedSigner, AnotherKeysSignatureIsRefusedByThePinnedSetupOnly) {
    const fs::path resigned = ResignedSample();
    qvtest::DemoEnvironment::Options options = DemoOptions();
    options.installerPath = resigned.string();  // the configuration's MD5 is this file's
    {
        qvtest::DemoEnvironment demo(options);
        const qvtest::ShellResult run = Run(QV_DEMO_SETUP_EXE, demo);
        EXPECT_EQ(run.exitCode, UNATTENDED_BAD_SIGNATURE) << run.out << run.err;
        EXPECT_NE(run.err.find("Setup: MD5Fail:"), std::string::npos) << run.err;
        EXPECT_FALSE(Installed()) << "the installer signed by another key ran";
        const std::string logs = SetupLogs();
        EXPECT_NE(logs.find("is signed by an untrusted signer."), std::string::npos) << logs;
        EXPECT_EQ(logs.find("[Start Install CmdLine]"), std::string::npos) << logs;
        ClearSetupLogs();
    }
    // The unpinned build accepts any intact signature, and says once that it does.
    qvtest::DemoEnvironment demo(options);
    const qvtest::ShellResult run = Run(QV_SETUP_EXE, demo);
    EXPECT_EQ(run.exitCode, UNATTENDED_INSTALLED) << run.out << run.err;
    EXPECT_TRUE(Installed());
    EXPECT_EQ(Count(SetupLogs(), "No signer is pinned: any intact signature is accepted"), 1u);
}

}  // namespace
