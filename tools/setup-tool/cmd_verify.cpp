// setup-tool verify: checks a downloaded installer the way the install pipeline does: its
// MD5 digest against the configured ones (writing the verification record FILE.db) and
// its embedded signature, hash-only unless signers are pinned with --signer-sha256. Every
// verdict names the certificate that signed (signer_sha256), so a maker can pin it;
// --print-signer prints just that and touches nothing.
//
// Exit 0 when the signature verified (by a listed signer, when some are listed) and the
// digest matched (or no digest was given), 1 otherwise, 2 on a usage error.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "src/engine/DownLoadImpl.h"
#include "src/verify/VerifySignature.h"
#include "Subcommand.h"
#include "platform/TrustVerifier.h"

namespace setuptool {
namespace {

constexpr std::size_t kMaxArgumentChars = 259;
constexpr std::size_t kMaxSigners = 64;

void PrintSigners(const std::vector<std::string>& signers) {
    if (signers.empty()) std::printf("signer_sha256: none\n");
    for (const std::string& signer : signers) std::printf("signer_sha256: %s\n", signer.c_str());
}

int RunVerify(const std::vector<std::string>& args) {
    std::string file, md5, md5Extra, version;
    bool haveFile = false, haveDigest = false, printSigner = false;
    std::vector<std::string> pins;
    platform::TrustVerifier verifier;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--md5" || arg == "--md5-extra" || arg == "--version" || arg == "--signer-sha256" ||
            arg == "--signer-cert") {
            if (i + 1 >= args.size()) return UsageError("verify", arg + " needs a value");
            const std::string& value = args[++i];
            if (value.size() > kMaxArgumentChars) return UsageError("verify", arg + " value too long");
            if (arg == "--signer-sha256") {
                const auto fingerprint = platform::TrustVerifier::NormaliseFingerprint(value);
                if (!fingerprint) return UsageError("verify", "'" + value + "' is not a SHA-256 fingerprint (64 hex digits)");
                if (pins.size() == kMaxSigners) return UsageError("verify", "too many --signer-sha256");
                pins.push_back(*fingerprint);
            } else if (arg == "--signer-cert") {
                std::string error;
                if (!verifier.AddSignerCertificates(value, error)) return UsageError("verify", "--signer-cert: " + error);
            } else {
                (arg == "--md5" ? md5 : arg == "--md5-extra" ? md5Extra : version) = value;
                haveDigest |= arg != "--version";
            }
        } else if (arg == "--print-signer") {
            printSigner = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("verify", "unknown option '" + arg + "'");
        } else if (haveFile) {
            return UsageError("verify", "only one FILE");
        } else {
            file = arg;
            haveFile = true;
        }
    }
    if (!haveFile) return UsageError("verify", "FILE is missing");
    if (file.size() > kMaxArgumentChars) return UsageError("verify", "FILE path too long");
    if (printSigner && (haveDigest || !version.empty())) {
        return UsageError("verify", "--print-signer checks only the signature");
    }
    verifier.PinSigners(pins);

    if (printSigner) {
        const FuntionImpl::SignatureVerdict verdict = FuntionImpl::CheckEmbeddedSignature(file, verifier);
        if (!verdict.verified) {
            std::fprintf(stderr, "setup-tool verify: %s\n", verdict.message.c_str());
            return EXIT_FAILED;
        }
        for (const std::string& signer : verdict.signers) std::printf("%s\n", signer.c_str());
        return EXIT_OK;
    }

    const int digestResult = CDownLoadImpl::checkMD5(file, md5, md5Extra, version);
    std::printf("file: %s\n", file.c_str());
    if (digestResult == 0 || digestResult == 1) {
        std::string record;
        std::ifstream in(file + ".db", std::ios::binary);
        std::getline(in, record);
        const std::size_t mark = record.find("###");
        std::printf("md5: %s\n", mark == std::string::npos ? "" : record.substr(mark + 3).c_str());
        std::printf("md5_verdict: %s\n", !haveDigest ? "not compared" : digestResult == 1 ? "match" : "no match");
        std::printf("record: %s.db\n", file.c_str());
    } else {
        std::printf("md5: \n");
        std::printf("md5_verdict: error %d (%s)\n", digestResult, std::strerror(digestResult));
    }

    const FuntionImpl::SignatureVerdict verdict = FuntionImpl::CheckEmbeddedSignature(file, verifier);
    std::printf("signature_status: %d (0x%08x)\n", verdict.status, static_cast<unsigned>(verdict.status));
    std::printf("signature_message: %s\n", verdict.message.c_str());
    PrintSigners(verdict.signers);

    const bool digestOk = digestResult == 1 || (!haveDigest && digestResult == 0);
    return verdict.verified && digestOk ? EXIT_OK : EXIT_FAILED;
}

const SubcommandRegistration reg{
    "verify",
    "verify FILE [--md5 HEX] [--md5-extra HEX] [--version V] [--signer-sha256 HEX]... [--signer-cert PEM]... "
    "[--print-signer]",
    "check an installer's MD5 digest and embedded signature (and who signed it); writes FILE.db",
    &RunVerify};

}  // namespace
}  // namespace setuptool
