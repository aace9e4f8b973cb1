#pragma once
// Digests as the configuration and the logs write them: lower-case hex.

#include <openssl/evp.h>

#include <cstddef>
#include <string>

namespace qvtest {

inline std::string HexOf(const unsigned char* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

inline std::string Md5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
    return HexOf(digest, length);
}

}  // namespace qvtest
