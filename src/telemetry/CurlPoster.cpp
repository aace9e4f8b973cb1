#include "src/telemetry/CurlPoster.h"

#include <cstdlib>
#include <mutex>

#include "platform/PrivateFolder.h"
#include "src/telemetry/WriteErrorLog.h"

namespace {

constexpr const char* kCookieJarName = "cloud";

struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

void CurlPoster::GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlPoster::CurlPoster() : handle_((GlobalInit(), curl_easy_init())) {
    CURL* data = handle_.get();
    if (data == nullptr) {
        WriteErrorLog("Failed to create CURL connection\n");
        return;
    }
    // The jar lives in the user's own cache folder: in the working directory (often one
    // anybody can write) a link named "cloud" would have root create a file elsewhere.
    // Without a private folder cookies stay in memory for this handle.
    std::string why;
    if (const auto folder = platform::PrivateFolder::UserCacheFolder(why)) {
        const std::string jar = *folder + kCookieJarName;
        curl_easy_setopt(data, CURLOPT_COOKIEJAR, jar.c_str());
        curl_easy_setopt(data, CURLOPT_COOKIEFILE, jar.c_str());
    } else {
        WriteErrorLog("No private folder for the cookie jar: %s\n", why.c_str());
        curl_easy_setopt(data, CURLOPT_COOKIEFILE, "");
    }
    // Certificates are verified (libcurl's default, against the system store); an
    // enterprise proxy or a test names another bundle in CURL_CA_BUNDLE.
    if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0') {
        curl_easy_setopt(data, CURLOPT_CAINFO, bundle);
    }
    curl_easy_setopt(data, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(data, CURLOPT_NOSIGNAL, 1L);
    // Analytics go out over HTTP(S) only, also where a redirect leads.
    curl_easy_setopt(data, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(data, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    CURLcode result = curl_easy_setopt(data, CURLOPT_CONNECTTIMEOUT, 15L);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set connection time out [%d]\n", result);
        return;
    }
    result = curl_easy_setopt(data, CURLOPT_TIMEOUT, 20L);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set time out [%d]\n", result);
        return;
    }
    result = curl_easy_setopt(data, CURLOPT_WRITEFUNCTION, &CurlPoster::OnWrite);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set CURLOPT_WRITEFUNCTION [%d]\n", result);
        return;
    }
    result = curl_easy_setopt(data, CURLOPT_WRITEDATA, this);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set CURLOPT_WRITEDATA [%d]\n", result);
        return;
    }
    result = curl_easy_setopt(data, CURLOPT_FOLLOWLOCATION, 1L);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to CURLOPT_FOLLOWLOCATION [%d]\n", result);
        return;
    }
    curl_easy_setopt(data, CURLOPT_MAXREDIRS, 5L);
}

CurlPoster::~CurlPoster() = default;

std::size_t CurlPoster::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* poster = static_cast<CurlPoster*>(self);
    const std::size_t bytes = size * count;
    if (poster->reply_.size() + bytes > kMaxReplyBytes) return 0;  // aborts the transfer
    poster->reply_.append(data, bytes);
    return bytes;
}

int CurlPoster::Post(const std::string& url, const std::string& headerLine, const std::string& body) {
    status_ = 200;
    reply_.clear();
    CURL* data = handle_.get();

    CURLcode result = data ? curl_easy_setopt(data, CURLOPT_URL, url.c_str()) : CURLE_BAD_FUNCTION_ARGUMENT;
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set error buffer [%d]\n", result);
        return result;
    }
    std::unique_ptr<curl_slist, SlistCleanup> headers(curl_slist_append(nullptr, headerLine.c_str()));
    result = curl_easy_setopt(data, CURLOPT_HTTPHEADER, headers.get());
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set CURLOPT_HTTPHEADER [%d]\n", result);
        return result;
    }
    result = curl_easy_setopt(data, CURLOPT_POST, 1L);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set CURLOPT_POST [%d]\n", result);
        return result;
    }
    curl_easy_setopt(data, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    result = curl_easy_setopt(data, CURLOPT_POSTFIELDS, body.c_str());
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to set CURLOPT_POSTFIELDS [%d]\n", result);
        curl_easy_setopt(data, CURLOPT_HTTPHEADER, nullptr);
        return result;
    }
    result = curl_easy_perform(data);
    if (result == CURLE_OK) result = curl_easy_getinfo(data, CURLINFO_RESPONSE_CODE, &status_);
    // The header list dies with this call; the handle must not keep pointing at it.
    curl_easy_setopt(data, CURLOPT_HTTPHEADER, nullptr);
    if (result != CURLE_OK) {
        WriteErrorLog("Failed to perform request [%d]\n", result);
        return result;
    }
    return CURLE_OK;
}
