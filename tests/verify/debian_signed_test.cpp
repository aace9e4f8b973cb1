// Signatures nobody here made: shim (Microsoft's UEFI CA), GRUB and the kernel image
// (Debian's Secure Boot signer) and a kernel module, as Debian ships them. The set-up
// fetches them once into the build tree (tests/fixtures/signing/fetch_debian_signed.sh);
// without the package archive every test here is skipped and says why.

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/TrustVerifier.h"
#include "tests/support/Digests.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

using qvtest::ReadFile;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b.at(at + i));
    return v;
}
std::uint16_t Le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) | (static_cast<unsigned char>(b.at(at + 1)) << 8));
}

// Where a PE image's entry point lies in the file, and its Authenticode certificate table.
struct PeFacts {
    std::size_t entryOffset = 0;
    std::size_t tableOffset = 0;
    std::size_t tableSize = 0;
};

PeFacts ReadPe(const std::string& image) {
    PeFacts facts;
    const std::size_t pe = Le32(image, 0x3C);
    const std::uint16_t sections = Le16(image, pe + 6);
    const std::size_t optional = pe + 24;
    const std::size_t sectionTable = optional + Le16(image, pe + 20);
    const std::uint32_t entry = Le32(image, optional + 16);
    const std::size_t directories = optional + (Le16(image, optional) == 0x20B ? 112 : 96);
    facts.tableOffset = Le32(image, directories + 4 * 8);
    facts.tableSize = Le32(image, directories + 4 * 8 + 4);
    for (std::uint16_t i = 0; i < sections; ++i) {
        const std::size_t header = sectionTable + 40u * i;
        const std::uint32_t address = Le32(image, header + 12), rawSize = Le32(image, header + 16);
        if (entry >= address && entry < address + rawSize) facts.entryOffset = Le32(image, header + 20) + (entry - address);
    }
    return facts;
}

struct CertInfo {
    std::string subject;
    std::string fingerprint;
};

std::string FingerprintOf(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) return {};
    return qvtest::HexOf(digest, length);
}

// Read straight from the certificate table with OpenSSL's own parser: the certificate the
// first signer info names by issuer and serial number, and where its signature value sits.
struct Pkcs7Facts {
    CertInfo signer;
    std::string signatureValue;
};

Pkcs7Facts ReadSigner(const std::string& image, const PeFacts& pe) {
    Pkcs7Facts facts;
    const auto* p = reinterpret_cast<const unsigned char*>(image.data() + pe.tableOffset + 8);
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(pe.tableSize - 8)),
                                                      PKCS7_free);
    if (!p7) return facts;
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    X509* cert = X509_find_by_issuer_and_serial(p7->d.sign->cert, info->issuer_and_serial->issuer,
                                                info->issuer_and_serial->serial);
    if (cert == nullptr) return facts;
    char subject[512];
    X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
    facts.signer = {subject, FingerprintOf(cert)};
    facts.signatureValue.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(info->enc_digest)),
                                static_cast<std::size_t>(ASN1_STRING_length(info->enc_digest)));
    return facts;
}

std::string PemFingerprint(const fs::path& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(pem.c_str(), "r"), BIO_free);
    if (!bio) return {};
    std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    return cert ? FingerprintOf(cert.get()) : std::string();
}

class DebianSignedTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        files_ = new fs::path(fs::path(QV_BUILD_DIR) / "test-cache" / "debian-signed" / "files");
        const std::string script = std::string(QV_SOURCE_DIR) + "/tests/fixtures/signing/fetch_debian_signed.sh";
        const auto run = qvtest::RunShellCommand("'" + script + "' '" + files_->parent_path().string() + "' 2>&1");
        why_ = new std::string(run.exitCode == 0 ? "" : run.out);
    }
    static void TearDownTestSuite() {
        delete files_;
        delete why_;
    }
    void SetUp() override {
        if (!why_->empty()) {
            GTEST_SKIP() << "genuine Debian-signed files could not be fetched with apt-get download (no package "
                            "archive here?): "
                         << *why_;
        }
    }
    // A private copy: setup-tool verify leaves FILE.db beside the file.
    fs::path Copy(const std::string& name) {
        fs::copy_file(*files_ / name, folder_.path() / name);
        return folder_.path() / name;
    }
    qvtest::ShellResult Tool(const std::string& args) {
        return qvtest::RunShellCommand(std::string(QV_SETUP_TOOL) + " verify " + args + " 2>&1");
    }

    static fs::path* files_;
    static std::string* why_;
    qvtest::TempFolder folder_{"qv-debian-signed-"};
};
fs::path* DebianSignedTest::files_ = nullptr;
std::string* DebianSignedTest::why_ = nullptr;

struct Genuine {
    const char* file;
    const char* signerSubject;  // part of the subject of the certificate that signed it
};
const Genuine kGenuine[] = {
    {"shimx64.efi.signed", "Microsoft"},
    {"grubx64.efi.signed", "Debian Secure Boot Signer"},
    {"vmlinuz", "Debian Secure Boot Signer"},
};

TEST_F(DebianSignedTest, GenuineImagesVerifyAndNameTheirSigner) {
    for (const Genuine& g : kGenuine) {
        SCOPED_TRACE(g.file);
        const fs::path file = Copy(g.file);
        const std::string image = ReadFile(file);
        const Pkcs7Facts facts = ReadSigner(image, ReadPe(image));
        ASSERT_FALSE(facts.signer.fingerprint.empty()) << "OpenSSL finds no signer certificate in the image";
        EXPECT_NE(facts.signer.subject.find(g.signerSubject), std::string::npos) << facts.signer.subject;

        qvtest::ShellResult run = Tool("--print-signer '" + file.string() + "'");
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(run.out, facts.signer.fingerprint + "\n");

        run = Tool("'" + file.string() + "' --signer-sha256 " + facts.signer.fingerprint);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_NE(run.out.find("is signed and the signature was verified.\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("signer_sha256: " + facts.signer.fingerprint + "\n"), std::string::npos) << run.out;

        // Pinned to somebody else: refused, and the verdict still says who signed.
        run = Tool("'" + file.string() + "' --signer-sha256 " + QV_SAMPLE_SIGNER_SHA256);
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_NE(run.out.find("signature_status: -2146762487 (0x800b0109)\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("is signed by an untrusted signer.\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("signer_sha256: " + facts.signer.fingerprint + "\n"), std::string::npos) << run.out;
    }
}

TEST_F(DebianSignedTest, EveryDamagedCopyIsRefused) {
    const platform::TrustVerifier verifier;
    for (const Genuine& g : kGenuine) {
        SCOPED_TRACE(g.file);
        const std::string image = ReadFile(*files_ / g.file);
        const PeFacts pe = ReadPe(image);
        ASSERT_GT(pe.entryOffset, 0u);
        ASSERT_EQ(pe.tableOffset + pe.tableSize, image.size());
        const Pkcs7Facts facts = ReadSigner(image, pe);
        const std::size_t signatureAt = image.find(facts.signatureValue, pe.tableOffset);
        ASSERT_NE(signatureAt, std::string::npos);

        struct Damage {
            const char* what;
            std::string bytes;
            std::uint32_t status;  // 0: any refusal
        };
        std::string code = image, signature = image;
        code[pe.entryOffset + 16] ^= 0x01;
        signature[signatureAt + facts.signatureValue.size() / 2] ^= 0x01;
        const Damage damages[] = {
            {"a byte of code", code, platform::TRUST_E_BAD_DIGEST},
            {"a byte of the signature value", signature, platform::NTE_BAD_SIGNATURE},
            {"the last byte cut", image.substr(0, image.size() - 1), 0},
            {"cut inside the signature", image.substr(0, signatureAt + 10), 0},
            {"cut in half", image.substr(0, image.size() / 2), 0},
        };
        for (const Damage& d : damages) {
            SCOPED_TRACE(d.what);
            const fs::path copy = folder_.path() / "damaged";
            WriteBytes(copy, d.bytes);
            const platform::TrustResult result = verifier.VerifyFile(copy.string());
            EXPECT_NE(result.status, platform::TRUST_STATUS_OK);
            if (d.status != 0) {
                EXPECT_EQ(result.status, d.status);
            }
            EXPECT_TRUE(result.signers.empty());
        }
        EXPECT_EQ(verifier.VerifyFile((*files_ / g.file).string()).status, platform::TRUST_STATUS_OK);
    }
}

TEST_F(DebianSignedTest, KernelModuleSaysItsCertificateIsMissingAndVerifiesWithIt) {
    const fs::path module = Copy("module.ko");
    qvtest::ShellResult run = Tool("'" + module.string() + "'");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("signature_status: -2146869246 (0x80096002)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("signature_message: The file \"" + module.string() +
                           "\" is signed, signer certificate not included.\n"),
              std::string::npos) << run.out;
    EXPECT_NE(run.out.find("signer_sha256: none\n"), std::string::npos) << run.out;

    // The certificate of another signer does not stand in for the missing one.
    run = Tool("'" + module.string() + "' --signer-cert '" + QV_SAMPLE_SIGNING_DIR + "/cert.pem'");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("signer certificate not included."), std::string::npos) << run.out;

    if (!fs::exists(*files_ / "module-signer.pem")) {
        GTEST_SKIP() << "the module's signer certificate was not found in the kernel image";
    }
    const std::string signerPem = (*files_ / "module-signer.pem").string();
    const std::string fingerprint = PemFingerprint(signerPem);
    ASSERT_EQ(fingerprint.size(), 64u);
    run = Tool("'" + module.string() + "' --signer-cert '" + signerPem + "' --signer-sha256 " + fingerprint);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("is signed and the signature was verified.\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("signer_sha256: " + fingerprint + "\n"), std::string::npos) << run.out;

    // One flipped byte of the module's code, or of its signature, or a cut: refused.
    const std::string bytes = ReadFile(module);
    std::string code = bytes, signature = bytes;
    code[bytes.size() / 4] ^= 0x01;
    signature[bytes.size() - 28 - 12 - 10] ^= 0x01;  // inside the signature value, which ends the CMS block
    std::string cut = bytes.substr(0, bytes.size() - 100);
    platform::TrustVerifier verifier;
    std::string error;
    ASSERT_TRUE(verifier.AddSignerCertificates(signerPem, error)) << error;
    EXPECT_EQ(verifier.VerifyFile(module.string()).status, platform::TRUST_STATUS_OK);
    for (const std::string& damaged : {code, signature, cut}) {
        WriteBytes(folder_.path() / "damaged.ko", damaged);
        EXPECT_NE(verifier.VerifyFile((folder_.path() / "damaged.ko").string()).status, platform::TRUST_STATUS_OK);
    }
}

}  // namespace
