#pragma once
// The downloaded installer's embedded signature, checked hash-only (see
// platform/TrustVerifier.h): intact and covering the file, no chain, no revocation.

#include <cstdint>
#include <string>

namespace FuntionImpl {

// The message for a trust status and its detail (at most 255 characters).
std::string TrustStatusMessage(const std::string& path, std::uint32_t status, std::uint32_t lastError);

// True only when the signature verified. Logs " VerifyEmbeddedSignature result is <status>, <message>".
bool VerifyEmbeddedSignature(const std::string& path);

// The same, also handing back the status and the message (for tools).
bool VerifyEmbeddedSignature(const std::string& path, std::int32_t& status, std::string& message);

}  // namespace FuntionImpl
