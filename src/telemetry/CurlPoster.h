#pragma once
// The web-service client's POST facility: one libcurl easy handle per client, reused for
// every post so its connection cache and cookies carry over. Cookies are kept in "cloud"
// in the user's private cache folder (platform::PrivateFolder::UserCacheFolder). Failures
// are written to the client's diagnostic log with the libcurl code.
//
// Not thread-safe: one post at a time per object. The write callback runs on the posting thread.

#include <curl/curl.h>

#include <memory>
#include <string>

class CurlPoster {
public:
    CurlPoster();
    ~CurlPoster();
    CurlPoster(const CurlPoster&) = delete;
    CurlPoster& operator=(const CurlPoster&) = delete;

    // POSTs `body` (exact length, libcurl's default form content type) to `url` with the one
    // header line given (an empty line adds nothing). Returns the libcurl result (0 = the
    // transfer worked; look at Status() and ReplyBody() for the answer).
    int Post(const std::string& url, const std::string& headerLine, const std::string& body);

    long Status() const { return status_; }
    const std::string& ReplyBody() const { return reply_; }

    // libcurl's process-wide set-up, once, before the first handle of any thread.
    static void GlobalInit();

    // Replies beyond this size abort the transfer: an answer to a hit is a tiny image.
    static constexpr std::size_t kMaxReplyBytes = 1 << 20;

private:
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);

    struct HandleCleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    std::unique_ptr<CURL, HandleCleanup> handle_;
    std::string reply_;
    long status_ = 200;
};
