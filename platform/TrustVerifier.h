#pragma once
// Checks that a file's embedded signature is intact, the way a hash-only trust check does:
// the signature must verify against the certificate it carries, and the digest it signs
// must be the digest of the file. No certificate chain is built and no revocation is
// looked up, so by default a throw-away certificate is as good as any; what this proves is
// that the file was not changed after signing.
//
// A maker closes that gap by pinning its signing certificates (SHA-256 of the DER
// certificate): a pinned verifier refuses an intact signature by any other certificate.
// Signatures that carry no certificate (kernel modules: the kernel holds it) are reported
// as such, and verify when the signer's certificate is handed in.
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
// Threads: Verify* only read the object; any number of calls may run at once. Configure
// (PinSigners, AddSignerCertificates) before sharing it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
    TRUST_E_NO_SIGNER_CERT = 0x80096002,   // signed, but the signer's certificate is neither carried nor given
    CERT_E_UNTRUSTEDROOT = 0x800B0109,     // intact, but signed by a certificate outside the pinned ones
};

struct TrustResult {
    std::uint32_t status = TRUST_E_NOSIGNATURE;
    // The detail a caller reads when status is TRUST_E_NOSIGNATURE: TRUST_E_NOSIGNATURE
    // (no signature in a known layout), TRUST_E_SUBJECT_FORM_UNKNOWN (a file of a layout
    // that carries none) or CRYPT_E_FILE_ERROR (the file could not be read).
    std::uint32_t lastError = 0;
    // SHA-256 fingerprints (64 lowercase hex digits) of the certificates whose signatures
    // verified; filled when status is TRUST_STATUS_OK or CERT_E_UNTRUSTEDROOT, so a refused
    // signer can be named.
    std::vector<std::string> signers;
};

class TrustVerifier {
public:
    // Largest signature block accepted; real ones are a few KiB.
    static constexpr std::size_t kMaxSignatureBytes = 4u << 20;
    // Most certificates read from one file for AddSignerCertificates.
    static constexpr std::size_t kMaxExtraCertificates = 64;

    // "AB:CD:..." or "abcd..." (64 hex digits, colons and case as openssl prints them) in
    // the 64 lowercase digits signers are compared by; nullopt for anything else.
    static std::optional<std::string> NormaliseFingerprint(std::string_view text);

    // Only signatures by one of these certificates pass (normalised fingerprints; see
    // NormaliseFingerprint). An empty list accepts any intact signature.
    void PinSigners(std::vector<std::string> fingerprints) { pins_ = std::move(fingerprints); }
    const std::vector<std::string>& PinnedSigners() const { return pins_; }
    // Certificates (PEM, one or more, or one DER) in which a signer is also looked for: the
    // certificate a signature without its own is checked with. False, with the reason in
    // `error`, when the file holds none or cannot be read.
    bool AddSignerCertificates(const std::string& path, std::string& error);

    TrustResult VerifyFile(const std::string& path) const;
    // The same over bytes in memory.
    TrustResult VerifyBytes(std::span<const std::uint8_t> data) const;

private:
    std::vector<std::string> pins_;
    std::vector<std::string> extraCertificates_;  // DER, parsed per call so calls share nothing
};

}  // namespace platform
