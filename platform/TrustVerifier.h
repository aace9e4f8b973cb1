#pragma once
// Checks that a file's embedded signature is intact, the way a hash-only trust check does:
// the signature must verify against the certificate it carries, and the digest it signs
// must be the digest of the file. No certificate chain is built and no revocation is
// looked up, so a throw-away certificate is as good as any; what this proves is that the
// file was not changed after signing.
//
// Two layouts are understood:
//  - PE images carry Authenticode: a PKCS#7 SignedData in the certificate table (data
//    directory 4) whose SpcIndirectDataContent holds the image hash;
//  - any other file may end with an appended CMS signature: the content, a DER CMS
//    detached signature over it, a 12-byte trailer whose last four bytes are the
//    signature's length (big-endian), and the magic "~Module signature appended~\n".
//
// Results use the Windows trust-provider status codes, so callers can keep their messages.
// The file is streamed in fixed-size chunks; nothing read from it (offsets, sizes, lengths)
// is trusted before it is checked against the file's size and the bounds below.
//
// Threads: stateless; any number of calls may run at once.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

// Trust-provider status codes (HRESULT values as unsigned 32-bit numbers).
enum TrustStatus : std::uint32_t {
    TRUST_STATUS_OK = 0,
    TRUST_E_PROVIDER_UNKNOWN = 0x800B0001,
    TRUST_E_SUBJECT_FORM_UNKNOWN = 0x800B0003,
    TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004,
    TRUST_E_NOSIGNATURE = 0x800B0100,
    TRUST_E_EXPLICIT_DISTRUST = 0x800B0111,
    TRUST_E_BAD_DIGEST = 0x80096010,       // the signed digest is not the file's digest
    NTE_BAD_SIGNATURE = 0x80090006,        // the signature itself does not verify
    CRYPT_E_FILE_ERROR = 0x80092003,       // the file could not be read
    CRYPT_E_SECURITY_SETTINGS = 0x80092026,
    CRYPT_E_ASN1_BADTAG = 0x8009310B,      // the signature block is not well-formed
};

struct TrustResult {
    std::uint32_t status = TRUST_E_NOSIGNATURE;
    // The detail a caller reads when status is TRUST_E_NOSIGNATURE: TRUST_E_NOSIGNATURE
    // (no signature in a known layout), TRUST_E_SUBJECT_FORM_UNKNOWN (a file of a layout
    // that carries none) or CRYPT_E_FILE_ERROR (the file could not be read).
    std::uint32_t lastError = 0;
};

class TrustVerifier {
public:
    // Largest signature block accepted; real ones are a few KiB.
    static constexpr std::size_t kMaxSignatureBytes = 4u << 20;

    TrustResult VerifyFile(const std::string& path) const;
    // The same over bytes in memory.
    TrustResult VerifyBytes(std::span<const std::uint8_t> data) const;
};

}  // namespace platform
