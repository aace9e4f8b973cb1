// setup-tool verify on signed and damaged fixtures: its report, exit codes and the
// verification record it leaves.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace {

class VerifyDir : public qvtest::TempFolder {
public:
    VerifyDir() : TempFolder("qv-verify-") {}
};

using qvtest::ReadFile;

struct Outcome {
    int exit;
    std::string out;
};

Outcome Tool(const VerifyDir& dir, const std::string& args) {
    const std::string out = dir.file("tool-out.txt");
    const int status = std::system((std::string(QV_SETUP_TOOL) + " verify " + args + " >'" + out + "' 2>&1").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
}

std::string Md5Of(const VerifyDir& dir, const std::string& path) {
    const std::string sums = dir.file("sums.txt");
    EXPECT_EQ(std::system(("md5sum '" + path + "' > '" + sums + "'").c_str()), 0);
    return ReadFile(sums).substr(0, 32);
}

class VerifyCliTest : public ::testing::Test {
protected:
    // A private copy of the fixtures the build signed: setup-tool verify leaves FILE.db
    // beside each file it verifies.
    void SetUp() override {
        std::filesystem::copy(QV_SIGNING_FIXTURES_DIR, dir_.path(), std::filesystem::copy_options::recursive);
        ASSERT_TRUE(std::filesystem::exists(dir_.file("signed-sha256.exe"))) << "no fixtures in " QV_SIGNING_FIXTURES_DIR;
    }
    VerifyDir dir_;
};

TEST_F(VerifyCliTest, SignedInstallerWithMatchingDigestPasses) {
    const std::string file = dir_.file("signed-sha256.exe");
    const std::string md5 = Md5Of(dir_, file);
    const Outcome r = Tool(dir_, "'" + file + "' --md5 0123 --md5-extra " + md5 + " --version 2.5.1");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NE(r.out.find("md5: " + md5 + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: match\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_status: 0 (0x00000000)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_message: The file \"" + file + "\" is signed and the signature was verified.\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(file + ".db"), "2.5.1###" + md5);
}

TEST_F(VerifyCliTest, FailuresExitWithOne) {
    const std::string signedFile = dir_.file("signed64.exe");
    // Upper-case digest: never a match, though the signature holds.
    std::string upper = Md5Of(dir_, signedFile);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Outcome r = Tool(dir_, "'" + signedFile + "' --md5 " + upper);
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: no match\n"), std::string::npos) << r.out;

    r = Tool(dir_, "'" + dir_.file("tampered-code.exe") + "'");
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("md5_verdict: not compared\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signature_message: Error is: 0x80096010.\n"), std::string::npos) << r.out;

    r = Tool(dir_, "'" + dir_.file("unsigned.exe") + "'");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find("is not signed.\n"), std::string::npos) << r.out;

    r = Tool(dir_, "'" + dir_.file("missing.exe") + "' --md5 00");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.out.find("md5_verdict: error 2 "), std::string::npos) << r.out;

    // Without a digest to compare, a verified signature is enough.
    r = Tool(dir_, "'" + dir_.file("installer-signed.sh") + "'");
    EXPECT_EQ(r.exit, 0) << r.out;
}

std::string FingerprintOf(const VerifyDir& dir, const std::string& cert) {
    const std::string out = dir.file("fingerprint.txt");
    EXPECT_EQ(std::system(("openssl x509 -noout -fingerprint -sha256 -in '" + cert + "' > '" + out + "'").c_str()), 0);
    std::string hex;
    const std::string text = ReadFile(out);
    for (std::size_t i = text.find('=') + 1; i < text.size(); ++i) {
        if (std::isxdigit(static_cast<unsigned char>(text[i]))) hex += static_cast<char>(std::tolower(text[i]));
    }
    return hex;
}

TEST_F(VerifyCliTest, EveryVerdictNamesTheSignerAndPinsDecide) {
    const std::string signer = FingerprintOf(dir_, dir_.file("cert.pem"));
    const std::string other = FingerprintOf(dir_, dir_.file("other-cert.pem"));
    const std::string file = dir_.file("installer-signed.sh");

    Outcome r = Tool(dir_, "--print-signer '" + file + "'");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.out, signer + "\n");

    // Pins as openssl prints fingerprints (colons, upper case) work as well as plain hex.
    std::string printed;
    for (std::size_t i = 0; i < signer.size(); i += 2) {
        printed += (i ? ":" : "") + signer.substr(i, 2);
    }
    for (char& c : printed) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    r = Tool(dir_, "'" + file + "' --signer-sha256 " + other + " --signer-sha256 " + printed);
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_NE(r.out.find("signer_sha256: " + signer + "\n"), std::string::npos) << r.out;

    r = Tool(dir_, "'" + file + "' --signer-sha256 " + other);
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("signature_message: The file \"" + file + "\" is signed by an untrusted signer.\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signer_sha256: " + signer + "\n"), std::string::npos) << r.out;

    // No verified signature, no signer: said so, and --print-signer prints nothing, writes nothing.
    r = Tool(dir_, "'" + dir_.file("tampered-code.exe") + "'");
    EXPECT_NE(r.out.find("signer_sha256: none\n"), std::string::npos) << r.out;
    const std::string unsignedFile = dir_.file("unsigned64.exe");
    r = Tool(dir_, "--print-signer '" + unsignedFile + "'");
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_EQ(r.out, "setup-tool verify: The file \"" + unsignedFile + "\" is not signed.\n");
    EXPECT_FALSE(std::filesystem::exists(unsignedFile + ".db"));

    // A signature without its certificate verifies with the certificate given.
    r = Tool(dir_, "'" + dir_.file("module-nocert.ko") + "'");
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("is signed, signer certificate not included.\n"), std::string::npos) << r.out;
    r = Tool(dir_, "--print-signer '" + dir_.file("module-nocert.ko") + "' --signer-cert '" + dir_.file("cert.pem") + "'");
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.out, signer + "\n");
}

TEST_F(VerifyCliTest, UsageErrorsExitWithTwo) {
    const std::string file = dir_.file("signed-sha1.exe");
    for (const std::string& args : {std::string(""), "'" + file + "' --md5", "'" + file + "' --bogus",
                                   "'" + file + "' '" + file + "'", std::string("--version 1"),
                                   "'" + file + "' --signer-sha256 abc", "'" + file + "' --signer-sha256",
                                   "'" + file + "' --signer-cert '" + dir_.file("plain.txt") + "'",
                                   "--print-signer '" + file + "' --md5 00", std::string("--print-signer")}) {
        SCOPED_TRACE(args);
        const Outcome r = Tool(dir_, args);
        EXPECT_EQ(r.exit, 2) << r.out;
        EXPECT_NE(r.out.find("usage: setup-tool verify FILE"), std::string::npos) << r.out;
    }
}

}  // namespace
