#include "FuntionImpl/VerifySignature.h"

#include <cstdio>

#include "log/ProcessLogger.h"
#include "platform/TrustVerifier.h"

namespace FuntionImpl {
namespace {

constexpr std::size_t kMaxMessageChars = 255;

// Cuts UTF-8 text to `limit` code points without splitting one.
std::string CutToCodePoints(const std::string& text, std::size_t limit) {
    std::size_t points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (points == limit) return text.substr(0, i);
            ++points;
        }
    }
    return text;
}

}  // namespace

std::string TrustStatusMessage(const std::string& path, std::uint32_t status, std::uint32_t lastError) {
    std::string message;
    switch (status) {
        case platform::TRUST_STATUS_OK:
            message = "The file \"" + path + "\" is signed and the signature was verified.";
            break;
        case platform::TRUST_E_NOSIGNATURE:
            if (lastError == platform::TRUST_E_NOSIGNATURE || lastError == platform::TRUST_E_SUBJECT_FORM_UNKNOWN ||
                lastError == platform::TRUST_E_PROVIDER_UNKNOWN) {
                message = "The file \"" + path + "\" is not signed.";
            } else {
                message = "An unknown error occurred trying to verify the signature of the \"" + path + "\" file.";
            }
            break;
        case platform::TRUST_E_EXPLICIT_DISTRUST:
            message = "The signature is present, but specifically disallowed.";
            break;
        case platform::TRUST_E_SUBJECT_NOT_TRUSTED:
            message = "The signature is present, but not trusted.";
            break;
        case platform::CRYPT_E_SECURITY_SETTINGS:
            message = "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
                      "explicitly trusted by the admin and admin policy has disabled user trust. No signature, "
                      "publisher or timestamp errors.";
            break;
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "Error is: 0x%x.", status);
            message = text;
            break;
        }
    }
    return CutToCodePoints(message, kMaxMessageChars);
}

bool VerifyEmbeddedSignature(const std::string& path, std::int32_t& status, std::string& message) {
    const platform::TrustResult result = platform::TrustVerifier().VerifyFile(path);
    status = static_cast<std::int32_t>(result.status);
    message = TrustStatusMessage(path, result.status, result.lastError);
    LOG(INFO) << " VerifyEmbeddedSignature result is " << status << ", " << message;
    return result.status == platform::TRUST_STATUS_OK;
}

bool VerifyEmbeddedSignature(const std::string& path) {
    std::int32_t status = 0;
    std::string message;
    return VerifyEmbeddedSignature(path, status, message);
}

}  // namespace FuntionImpl
