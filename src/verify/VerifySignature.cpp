#include "src/verify/VerifySignature.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/ProcessLogger.h"
#include "platform/TrustVerifier.h"

namespace FuntionImpl {
namespace {

constexpr std::size_t kMaxMessageChars = 255;

std::mutex g_signersMutex;
std::vector<std::string> g_trustedSigners;
std::atomic<bool> g_unpinnedLogged{false};

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
        case platform::CERT_E_UNTRUSTEDROOT:
            message = "The file \"" + path + "\" is signed by an untrusted signer.";
            break;
        case platform::TRUST_E_NO_SIGNER_CERT:
            message = "The file \"" + path + "\" is signed, signer certificate not included.";
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

void SetTrustedSigners(const std::vector<std::string>& fingerprints) {
    std::vector<std::string> normalised;
    for (const std::string& text : fingerprints) {
        if (auto fingerprint = platform::TrustVerifier::NormaliseFingerprint(text)) normalised.push_back(*fingerprint);
    }
    std::lock_guard<std::mutex> lock(g_signersMutex);
    g_trustedSigners = std::move(normalised);
}

std::vector<std::string> TrustedSigners() {
    std::lock_guard<std::mutex> lock(g_signersMutex);
    return g_trustedSigners;
}

bool ParseSignerList(const std::string& text, std::vector<std::string>& fingerprints) {
    fingerprints.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(";,", start);
        if (end == std::string::npos) end = text.size();
        std::string entry = text.substr(start, end - start);
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (!entry.empty()) {
            const auto fingerprint = platform::TrustVerifier::NormaliseFingerprint(entry);
            if (!fingerprint) return false;
            fingerprints.push_back(*fingerprint);
        }
        start = end + 1;
    }
    return true;
}

SignatureVerdict CheckEmbeddedSignature(const std::string& path, const platform::TrustVerifier& verifier) {
    const platform::TrustResult result = verifier.VerifyFile(path);
    SignatureVerdict verdict;
    verdict.verified = result.status == platform::TRUST_STATUS_OK;
    verdict.status = static_cast<std::int32_t>(result.status);
    verdict.message = TrustStatusMessage(path, result.status, result.lastError);
    verdict.signers = result.signers;
    LOG(INFO) << " VerifyEmbeddedSignature result is " << verdict.status << ", " << verdict.message;
    for (const std::string& signer : verdict.signers) LOG(INFO) << " [Signer SHA-256]: " << signer;
    return verdict;
}

bool VerifyEmbeddedSignature(const std::string& path, std::int32_t& status, std::string& message) {
    platform::TrustVerifier verifier;
    verifier.PinSigners(TrustedSigners());
    if (verifier.PinnedSigners().empty() && !g_unpinnedLogged.exchange(true)) {
        LOG(INFO) << " No signer is pinned: any intact signature is accepted";
    }
    const SignatureVerdict verdict = CheckEmbeddedSignature(path, verifier);
    status = verdict.status;
    message = verdict.message;
    return verdict.verified;
}

bool VerifyEmbeddedSignature(const std::string& path) {
    std::int32_t status = 0;
    std::string message;
    return VerifyEmbeddedSignature(path, status, message);
}

}  // namespace FuntionImpl
