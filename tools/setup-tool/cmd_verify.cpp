// setup-tool verify: checks a downloaded installer the way the install pipeline does: its
// MD5 digest against the configured ones (writing the verification record FILE.db) and
// its embedded signature, hash-only.
//
// Exit 0 when the signature verified and the digest matched (or no digest was given),
// 1 otherwise, 2 on a usage error.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "DownLoadImpl.h"
#include "FuntionImpl/VerifySignature.h"
#include "Subcommand.h"

namespace setuptool {
namespace {

constexpr std::size_t kMaxArgumentChars = 259;

int RunVerify(const std::vector<std::string>& args) {
    std::string file, md5, md5Extra, version;
    bool haveFile = false, haveDigest = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--md5" || arg == "--md5-extra" || arg == "--version") {
            if (i + 1 >= args.size()) return UsageError("verify", arg + " needs a value");
            const std::string& value = args[++i];
            if (value.size() > kMaxArgumentChars) return UsageError("verify", arg + " value too long");
            (arg == "--md5" ? md5 : arg == "--md5-extra" ? md5Extra : version) = value;
            haveDigest |= arg != "--version";
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

    std::int32_t status = 0;
    std::string message;
    const bool signed_ = FuntionImpl::VerifyEmbeddedSignature(file, status, message);
    std::printf("signature_status: %d (0x%08x)\n", status, static_cast<unsigned>(status));
    std::printf("signature_message: %s\n", message.c_str());

    const bool digestOk = digestResult == 1 || (!haveDigest && digestResult == 0);
    return signed_ && digestOk ? EXIT_OK : EXIT_FAILED;
}

const SubcommandRegistration reg{"verify", "verify FILE [--md5 HEX] [--md5-extra HEX] [--version V]",
                                 "check an installer's MD5 digest and embedded signature; writes FILE.db",
                                 &RunVerify};

}  // namespace
}  // namespace setuptool
