#pragma once
// The downloaded installer's embedded signature (see platform/TrustVerifier.h): intact and
// covering the file, no chain, no revocation; and, when the program was built with pinned
// signers, made by one of them.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class TrustVerifier;
}

namespace FuntionImpl {

// The message for a trust status and its detail (at most 255 characters).
std::string TrustStatusMessage(const std::string& path, std::uint32_t status, std::uint32_t lastError);

// The signer certificates the installer must be signed by, as the program's entry sets them
// once from what was compiled in (never from a reply or a file). Empty: any intact
// signature is accepted. Entries that are not fingerprints are dropped.
void SetTrustedSigners(const std::vector<std::string>& fingerprints);
std::vector<std::string> TrustedSigners();
// A compiled-in list ("a;b" or "a,b") as SetTrustedSigners takes it; false when an entry is
// not a fingerprint.
bool ParseSignerList(const std::string& text, std::vector<std::string>& fingerprints);

struct SignatureVerdict {
    bool verified = false;
    std::int32_t status = 0;
    std::string message;
    // The fingerprints of the certificates whose signatures verified (see TrustResult).
    std::vector<std::string> signers;
};

// Checks `path` with `verifier`. Logs " VerifyEmbeddedSignature result is <status>,
// <message>" and, when a signer is known, " [Signer SHA-256]: <fingerprint>".
SignatureVerdict CheckEmbeddedSignature(const std::string& path, const platform::TrustVerifier& verifier);

// True only when the signature verified and, with trusted signers set, was made by one of
// them. Logs as above, and once per process that no signer is pinned when none is.
bool VerifyEmbeddedSignature(const std::string& path);

// The same, also handing back the status and the message.
bool VerifyEmbeddedSignature(const std::string& path, std::int32_t& status, std::string& message);

}  // namespace FuntionImpl
