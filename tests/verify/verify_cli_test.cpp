// setup-tool verify on signed and damaged fixtures: its report, exit codes and the
// verification record it leaves.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TempFolder.h"

namespace {

class TempDir : public qvtest::TempFolder {
public:
    TempDir() : TempFolder("qv-verify-") {}
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Outcome {
    int exit;
    std::string out;
};

Outcome Tool(const TempDir& dir, const std::string& args) {
    const std::string out = dir.file("tool-out.txt");
    const int status = std::system((std::string(QV_SETUP_TOOL) + " verify " + args + " >'" + out + "' 2>&1").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
}

std::string Md5Of(const TempDir& dir, const std::string& path) {
    const std::string sums = dir.file("sums.txt");
    EXPECT_EQ(std::system(("md5sum '" + path + "' > '" + sums + "'").c_str()), 0);
    return ReadFile(sums).substr(0, 32);
}

class VerifyCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        const std::string script = std::string(QV_SOURCE_DIR) + "/tests/fixtures/signing/make_fixtures.sh";
        ASSERT_EQ(std::system(("'" + script + "' '" + dir_->path().string() + "'").c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
};
TempDir* VerifyCliTest::dir_ = nullptr;

TEST_F(VerifyCliTest, SignedInstallerWithMatchingDigestPasses) {
    const std::string file = dir_->file("signed-sha256.exe");
    const std::string md5 = Md5Of(*dir_, file);
    const Outcome r = Tool(*dir_, "'" + file + "' --md5 0123 --md5-extra " + md5 + " --version 2.5.1");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NE(r.out.find("md5: " + md5 + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: match\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_status: 0 (0x00000000)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_message: The file \"" + file + "\" is signed and the signature was verified.\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(file + ".db"), "2.5.1###" + md5);
}

TEST_F(VerifyCliTest, FailuresExitWithOne) {
    const std::string signedFile = dir_->file("signed64.exe");
    // Upper-case digest: never a match, though the signature holds.
    std::string upper = Md5Of(*dir_, signedFile);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Outcome r = Tool(*dir_, "'" + signedFile + "' --md5 " + upper);
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: no match\n"), std::string::npos) << r.out;

    r = Tool(*dir_, "'" + dir_->file("tampered-code.exe") + "'");
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: not compared\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_message: Error is: 0x80096010.\n"), std::string::npos) << r.out;

    r = Tool(*dir_, "'" + dir_->file("unsigned.exe") + "'");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find("is not signed.\n"), std::string::npos) << r.out;

    r = Tool(*dir_, "'" + dir_->file("missing.exe") + "' --md5 00");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find("md5_verdict: error 2 "), std::string::npos) << r.out;

    // Without a digest to compare, a verified signature is enough.
    r = Tool(*dir_, "'" + dir_->file("installer-signed.sh") + "'");
    EXPECT_EQ(r.exit, 0) << r.out;
}

TEST_F(VerifyCliTest, UsageErrorsExitWithTwo) {
    const std::string file = dir_->file("signed-sha1.exe");
    for (const std::string& args : {std::string(""), "'" + file + "' --md5", "'" + file + "' --bogus",
                                   "'" + file + "' '" + file + "'", std::string("--version 1")}) {
        SCOPED_TRACE(args);
        const Outcome r = Tool(*dir_, args);
        EXPECT_EQ(r.exit, 2) << r.out;
        EXPECT_NE(r.out.find("usage: setup-tool verify FILE"), std::string::npos) << r.out;
    }
}

}  // namespace
