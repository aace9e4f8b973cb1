// The sample product's installer is what the demo and the end-to-end tests install: it
// must take the silent-install switches, install a runnable product, fail on request,
// and carry an appended signature over everything before it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

const std::string kInstaller = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";

using qvtest::ReadFile;

class SampleInstaller : public ::testing::Test {
protected:
    int Run(const std::string& env, const fs::path& target) {
        const std::string cmd = env + " '" + kInstaller + "' /VERYSILENT /SP- /NORESTART '/DIR=" + target.string() +
                                "/' /LANG=german '/LOG=" + (dir_ / "setup.log").string() + "' >/dev/null 2>&1";
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    qvtest::TempFolder folder_{"qv-sample-"};
    const fs::path& dir_ = folder_.path();
};

TEST_F(SampleInstaller, InstallsARunnableProductIntoTheGivenFolderAndLogs) {
    const fs::path target = dir_ / "Morvik Backup";  // a blank in the path, as users choose
    ASSERT_EQ(Run("", target), 0);
    ASSERT_TRUE(fs::exists(target / "MorvikBackup.exe"));
    EXPECT_EQ(ReadFile(target / "LANGUAGE"), "german\n");
    const std::string version = "'" + (target / "MorvikBackup.exe").string() + "' --version > '" +
                                (dir_ / "version.txt").string() + "'";
    ASSERT_EQ(std::system(version.c_str()), 0);
    EXPECT_EQ(ReadFile(dir_ / "version.txt"), "Morvik Backup 1.0.0.0\n");
    const std::string log = ReadFile(dir_ / "setup.log");
    EXPECT_NE(log.find("/VERYSILENT /SP- /NORESTART /DIR=" + target.string() + "/ /LANG=german"), std::string::npos) << log;
    EXPECT_NE(log.find("installed into " + target.string()), std::string::npos) << log;
}

TEST_F(SampleInstaller, FailsOnRequestWithoutInstalling) {
    const fs::path target = dir_ / "product";
    EXPECT_EQ(Run("QV_SAMPLE_INSTALL_FAIL=1", target), 1);
    EXPECT_FALSE(fs::exists(target / "MorvikBackup.exe"));
    EXPECT_NE(ReadFile(dir_ / "setup.log").find("failing on request"), std::string::npos);
}

TEST_F(SampleInstaller, CarriesAnIntactAppendedSignature) {
    const std::string bytes = ReadFile(kInstaller);
    const std::string magic = "~Module signature appended~\n";
    ASSERT_GT(bytes.size(), magic.size() + 12);
    ASSERT_EQ(bytes.substr(bytes.size() - magic.size()), magic);
    const std::string trailer = bytes.substr(bytes.size() - magic.size() - 12, 12);
    EXPECT_EQ(trailer[2], 2) << "signature kind PKCS#7";
    const std::size_t sigLength = (static_cast<unsigned char>(trailer[8]) << 24) |
                                  (static_cast<unsigned char>(trailer[9]) << 16) |
                                  (static_cast<unsigned char>(trailer[10]) << 8) | static_cast<unsigned char>(trailer[11]);
    ASSERT_LT(sigLength, bytes.size());
    const std::size_t contentLength = bytes.size() - magic.size() - 12 - sigLength;
    std::ofstream(dir_ / "content", std::ios::binary) << bytes.substr(0, contentLength);
    std::ofstream(dir_ / "sig.der", std::ios::binary) << bytes.substr(contentLength, sigLength);
    const std::string verify = "openssl cms -verify -binary -noverify -inform DER -in '" + (dir_ / "sig.der").string() +
                               "' -content '" + (dir_ / "content").string() + "' -out /dev/null 2>/dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0);
    // One changed byte of the payload breaks it.
    std::string tampered = bytes.substr(0, contentLength);
    tampered[contentLength / 2] ^= 0x01;
    std::ofstream(dir_ / "content", std::ios::binary | std::ios::trunc) << tampered;
    EXPECT_NE(std::system(verify.c_str()), 0);
}

}  // namespace
