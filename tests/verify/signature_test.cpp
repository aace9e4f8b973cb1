// Embedded signatures, checked hash-only, on fixtures the build signs with a throw-away
// certificate (tests/fixtures/signing/make_fixtures.sh): Authenticode PE images (signed
// by osslsigncode, whose own verdict every PE result must agree with) and shell
// installers with an appended CMS signature; pinned signers, and a module-layout
// signature that carries no certificate.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "src/verify/VerifySignature.h"
#include "tests/engine/EngineTestSupport.h"
#include "platform/TrustVerifier.h"
#include "tests/support/ShellCommand.h"

namespace {

using enginetest::LogCapture;
using enginetest::ReadFile;
using enginetest::TempDir;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SignatureTest : public ::testing::Test {
protected:
    // A private copy of the fixtures the build signed: some tests add files beside them.
    void SetUp() override {
        std::filesystem::copy(QV_SIGNING_FIXTURES_DIR, dir_.path(), std::filesystem::copy_options::recursive);
        ASSERT_TRUE(std::filesystem::exists(Fixture("signed-sha256.exe"))) << "no fixtures in " QV_SIGNING_FIXTURES_DIR;
    }
    std::string Fixture(const std::string& name) const { return dir_.file(name); }

    TempDir dir_;
};

enum class Verdict { Verified, NotSigned, Refused };

struct Case {
    const char* file;
    Verdict verdict;
    std::uint32_t status;  // 0 = any refusal status
};

const Case kCases[] = {
    {"signed-sha256.exe", Verdict::Verified, platform::TRUST_STATUS_OK},
    {"signed-sha1.exe", Verdict::Verified, platform::TRUST_STATUS_OK},
    {"signed64.exe", Verdict::Verified, platform::TRUST_STATUS_OK},
    {"unsigned.exe", Verdict::NotSigned, platform::TRUST_E_NOSIGNATURE},
    {"unsigned64.exe", Verdict::NotSigned, platform::TRUST_E_NOSIGNATURE},
    {"tampered-code.exe", Verdict::Refused, platform::TRUST_E_BAD_DIGEST},
    {"tampered-signature.exe", Verdict::Refused, 0},
    {"trailing-bytes.exe", Verdict::Refused, platform::TRUST_E_BAD_DIGEST},
    {"garbage-table.exe", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"truncated-table.exe", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"oversized-table.exe", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"installer-signed.sh", Verdict::Verified, platform::TRUST_STATUS_OK},
    {"installer-tampered.sh", Verdict::Refused, 0},
    {"installer-garbage.sh", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"installer-truncated.sh", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"installer-hugelength.sh", Verdict::Refused, platform::CRYPT_E_ASN1_BADTAG},
    {"magic-only.sh", Verdict::NotSigned, platform::TRUST_E_NOSIGNATURE},
    {"installer-content.sh", Verdict::NotSigned, platform::TRUST_E_NOSIGNATURE},
    {"plain.txt", Verdict::NotSigned, platform::TRUST_E_NOSIGNATURE},
};

TEST_F(SignatureTest, VerdictsStatusesAndMessagesForEveryFixture) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.file);
        const std::string path = Fixture(c.file);
        std::int32_t status = 1;
        std::string message;
        const bool ok = FuntionImpl::VerifyEmbeddedSignature(path, status, message);
        EXPECT_EQ(ok, c.verdict == Verdict::Verified);
        if (c.status != 0) {
            EXPECT_EQ(static_cast<std::uint32_t>(status), c.status);
        }
        switch (c.verdict) {
            case Verdict::Verified:
                EXPECT_EQ(message, "The file \"" + path + "\" is signed and the signature was verified.");
                break;
            case Verdict::NotSigned:
                EXPECT_EQ(message, "The file \"" + path + "\" is not signed.");
                break;
            case Verdict::Refused: {
                EXPECT_NE(status, 0);
                char expected[32];
                std::snprintf(expected, sizeof expected, "Error is: 0x%x.", static_cast<unsigned>(status));
                EXPECT_EQ(message, expected);
                break;
            }
        }
        // The in-memory reader (used by the fuzzer) reaches the same result.
        const std::string bytes = ReadFile(path);
        const auto fromBytes = platform::TrustVerifier().VerifyBytes(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        EXPECT_EQ(static_cast<std::int32_t>(fromBytes.status), status);
    }
}

TEST_F(SignatureTest, EveryPeVerdictAgreesWithOsslsigncode) {
    int checked = 0;
    for (const Case& c : kCases) {
        const std::string name = c.file;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".exe") continue;
        SCOPED_TRACE(name);
        // The fixture certificate is its own root for osslsigncode, which builds chains;
        // our check builds none, so both judge only the signature and the image hash.
        const int theirs = RunShell("osslsigncode verify -in " + Quote(Fixture(name)) + " -CAfile " +
                               Quote(Fixture("cert.pem")) + " >/dev/null 2>&1");
        EXPECT_EQ(FuntionImpl::VerifyEmbeddedSignature(Fixture(name)), theirs == 0);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(SignatureTest, SignedShellInstallerStillRunsUnderSh) {
    ASSERT_TRUE(FuntionImpl::VerifyEmbeddedSignature(Fixture("installer-signed.sh")));
    const std::string output = Fixture("sh-output.txt");
    EXPECT_EQ(RunShell("sh " + Quote(Fixture("installer-signed.sh")) + " /SILENT > " + Quote(output) + " 2>&1"), 0);
    EXPECT_EQ(ReadFile(output), "fixture installer ran with: /SILENT\n");
}

// A link could be turned to another file between the check and the start: the check
// reads only the file itself.
TEST_F(SignatureTest, ALinkToASignedFileIsNotVerified) {
    const std::string link = Fixture("link-to-signed.exe");
    std::filesystem::remove(link);
    std::filesystem::create_symlink(Fixture("signed-sha256.exe"), link);
    std::int32_t status = 0;
    std::string message;
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(link, status, message));
    EXPECT_NE(status, 0);
    EXPECT_TRUE(FuntionImpl::VerifyEmbeddedSignature(Fixture("signed-sha256.exe")));
}

TEST_F(SignatureTest, LogLineCarriesSignedStatusAndMessage) {
    LogCapture log;
    const std::string unsignedPe = Fixture("unsigned.exe");
    const std::string missing = Fixture("no-such-file.exe");
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(unsignedPe));
    EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(missing));
    EXPECT_TRUE(log.has(" VerifyEmbeddedSignature result is -2146762496, The file \"" + unsignedPe + "\" is not signed."));
    EXPECT_TRUE(log.has(" VerifyEmbeddedSignature result is -2146762496, An unknown error occurred trying to verify "
                        "the signature of the \"" + missing + "\" file."));
}

// The certificate's fingerprint as openssl prints it, in the form signers are named by.
std::string OpensslFingerprint(const std::string& certPath) {
    const auto run = qvtest::RunShellCommand("openssl x509 -noout -fingerprint -sha256 -in " + Quote(certPath));
    std::string text = run.out.substr(run.out.find('=') + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const auto fingerprint = platform::TrustVerifier::NormaliseFingerprint(text);
    EXPECT_TRUE(fingerprint.has_value()) << run.out;
    return fingerprint.value_or("");
}

TEST_F(SignatureTest, PinnedVerifierAcceptsOnlyItsSignersAndNamesTheOthers) {
    const std::string signer = OpensslFingerprint(Fixture("cert.pem"));
    const std::string other = OpensslFingerprint(Fixture("other-cert.pem"));
    ASSERT_NE(signer, other);
    struct Pinning {
        std::vector<std::string> pins;
        std::uint32_t status;
    } const pinnings[] = {
        {{}, platform::TRUST_STATUS_OK},
        {{signer}, platform::TRUST_STATUS_OK},
        {{other, signer}, platform::TRUST_STATUS_OK},
        {{other}, platform::CERT_E_UNTRUSTEDROOT},
    };
    for (const char* file : {"signed-sha256.exe", "signed64.exe", "installer-signed.sh"}) {
        for (const Pinning& pinning : pinnings) {
            SCOPED_TRACE(std::string(file) + " pinned to " + ::testing::PrintToString(pinning.pins));
            platform::TrustVerifier verifier;
            verifier.PinSigners(pinning.pins);
            const platform::TrustResult result = verifier.VerifyFile(Fixture(file));
            EXPECT_EQ(result.status, pinning.status);
            EXPECT_EQ(result.signers, std::vector<std::string>{signer}) << "the signer is named, refused or not";
        }
    }
    // A pin never makes a damaged file look better, nor hides what is wrong with it.
    platform::TrustVerifier pinned;
    pinned.PinSigners({signer});
    EXPECT_EQ(pinned.VerifyFile(Fixture("tampered-code.exe")).status, platform::TRUST_E_BAD_DIGEST);
    EXPECT_TRUE(pinned.VerifyFile(Fixture("tampered-code.exe")).signers.empty());
    EXPECT_EQ(pinned.VerifyFile(Fixture("unsigned.exe")).status, platform::TRUST_E_NOSIGNATURE);
    EXPECT_EQ(FuntionImpl::TrustStatusMessage("f", platform::CERT_E_UNTRUSTEDROOT, 0),
              "The file \"f\" is signed by an untrusted signer.");
}

TEST_F(SignatureTest, SignatureWithoutItsCertificateVerifiesOnlyWithTheRightOneGiven) {
    const std::string module = Fixture("module-nocert.ko");
    std::string error;
    {
        platform::TrustVerifier verifier;
        EXPECT_EQ(verifier.VerifyFile(module).status, platform::TRUST_E_NO_SIGNER_CERT);
        std::int32_t status = 0;
        std::string message;
        EXPECT_FALSE(FuntionImpl::VerifyEmbeddedSignature(module, status, message));
        EXPECT_EQ(message, "The file \"" + module + "\" is signed, signer certificate not included.");
    }
    {
        platform::TrustVerifier wrong;
        ASSERT_TRUE(wrong.AddSignerCertificates(Fixture("other-cert.pem"), error)) << error;
        EXPECT_EQ(wrong.VerifyFile(module).status, platform::TRUST_E_NO_SIGNER_CERT);
    }
    platform::TrustVerifier given;
    ASSERT_TRUE(given.AddSignerCertificates(Fixture("cert.pem"), error)) << error;
    const platform::TrustResult result = given.VerifyFile(module);
    EXPECT_EQ(result.status, platform::TRUST_STATUS_OK);
    EXPECT_EQ(result.signers, std::vector<std::string>{OpensslFingerprint(Fixture("cert.pem"))});
    EXPECT_EQ(given.VerifyFile(Fixture("module-nocert-tampered.ko")).status, platform::TRUST_E_BAD_DIGEST);
    given.PinSigners({OpensslFingerprint(Fixture("other-cert.pem"))});
    EXPECT_EQ(given.VerifyFile(module).status, platform::CERT_E_UNTRUSTEDROOT);
}

TEST_F(SignatureTest, FingerprintTextsAndCertificateFiles) {
    const std::string hex(64, 'a');
    std::string colons;
    for (int i = 0; i < 32; ++i) colons += std::string(i ? ":" : "") + "AB";
    struct Text {
        std::string text;
        std::optional<std::string> normalised;
    } const texts[] = {
        {hex, hex},
        {colons, [] { std::string s; for (int i = 0; i < 32; ++i) s += "ab"; return s; }()},
        {hex.substr(1), std::nullopt},
        {hex + "a", std::nullopt},
        {hex.substr(1) + "g", std::nullopt},
        {"", std::nullopt},
    };
    for (const Text& t : texts) EXPECT_EQ(platform::TrustVerifier::NormaliseFingerprint(t.text), t.normalised) << t.text;

    std::vector<std::string> list;
    EXPECT_TRUE(FuntionImpl::ParseSignerList(" " + colons + " ;" + hex + ";", list));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(FuntionImpl::ParseSignerList("", list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(FuntionImpl::ParseSignerList(hex + ";not-a-fingerprint", list));

    platform::TrustVerifier verifier;
    std::string error;
    EXPECT_FALSE(verifier.AddSignerCertificates(Fixture("no-such.pem"), error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    EXPECT_FALSE(verifier.AddSignerCertificates(Fixture("plain.txt"), error));
    EXPECT_NE(error.find("holds no certificate"), std::string::npos) << error;
    // A DER certificate is read as well as a PEM one.
    ASSERT_EQ(RunShell("openssl x509 -in " + Quote(Fixture("cert.pem")) + " -outform DER -out " +
                       Quote(Fixture("cert.der"))), 0);
    EXPECT_TRUE(verifier.AddSignerCertificates(Fixture("cert.der"), error)) << error;
    EXPECT_EQ(verifier.VerifyFile(Fixture("module-nocert.ko")).status, platform::TRUST_STATUS_OK);
}

TEST(SignatureMessageTest, TableOfStatusesAndLongPaths) {
    using FuntionImpl::TrustStatusMessage;
    EXPECT_EQ(TrustStatusMessage("x", platform::TRUST_E_NOSIGNATURE, platform::TRUST_E_PROVIDER_UNKNOWN),
              "The file \"x\" is not signed.");
    EXPECT_EQ(TrustStatusMessage("x", platform::TRUST_E_EXPLICIT_DISTRUST, 0),
              "The signature is present, but specifically disallowed.");
    EXPECT_EQ(TrustStatusMessage("x", platform::TRUST_E_SUBJECT_NOT_TRUSTED, 0), "The signature is present, but not trusted.");
    EXPECT_EQ(TrustStatusMessage("x", platform::CRYPT_E_SECURITY_SETTINGS, 0).substr(0, 28), "CRYPT_E_SECURITY_SETTINGS - ");
    EXPECT_EQ(TrustStatusMessage("x", 0x80096010u, 0), "Error is: 0x80096010.");
    // A message never exceeds 255 characters and never splits a character.
    std::string longPath;
    for (int i = 0; i < 300; ++i) longPath += "\xC3\xA9";  // é
    const std::string message = TrustStatusMessage(longPath, 0, 0);
    std::size_t points = 0;
    for (unsigned char ch : message) points += (ch & 0xC0) != 0x80;
    EXPECT_EQ(points, 255u);
    EXPECT_EQ(message.substr(0, 10), "The file \"");
    EXPECT_NE(static_cast<unsigned char>(message.back()) & 0xC0, 0xC0);
}

}  // namespace
