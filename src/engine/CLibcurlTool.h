#pragma once
// The engine's only wrapper around a libcurl easy handle. Every call is one blocking
// transfer on the calling thread. A tool is never shared between threads; options set by
// one call stay on the handle for the next call on the same tool, and a worker may keep
// its tool across range requests so that its connection is reused.

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CDownloadThread;
struct DownloadTask;
struct RangeRequest;

// Limits of one range request. The defaults are the product's; tests shorten them.
struct RangeTimeouts {
    long requestMs = 10000;  // whole request
    long connectMs = 3000;
};

class CLibcurlTool {
public:
    static constexpr std::size_t kHeaderLimit = 2000;  // characters of header text a probe keeps
    static constexpr long kRangeBufferBytes = 512 * 1024;  // receive buffer of a range request
    static constexpr const char* kUserAgent =
        "User-Agent:Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/62.0.3202.75 Safari/537.36";

    CLibcurlTool();
    ~CLibcurlTool();
    CLibcurlTool(const CLibcurlTool&) = delete;
    CLibcurlTool& operator=(const CLibcurlTool&) = delete;

    // Creates the easy handle; false when libcurl could not make one.
    bool init();

    // Fetches the inclusive byte range start-end of `url` into the worker's file through
    // downloadFunc, for the tasks of the worker's run (its assigned task alone when it has
    // none): each task's DownloadedPos moves as its bytes arrive, and reaches EndPos only
    // once the task's last byte is in the file. Returns the libcurl result (0 = success).
    // Only an answer whose Content-Range is the range asked for (or, for a range starting
    // at 0, the whole file) is written; nothing lands at or beyond the worker's file size,
    // past the range, or past where the driver cut the request (CDownloadThread::cutRun),
    // and a request ended by such a cut logs no error. An early request (the worker's
    // RangeRequest::early, set before the call) has no tasks yet: it follows no redirect,
    // writes nothing until the driver hands it the tasks of its range, and ends without
    // an error when the driver does not.
    CURLcode httpDownloadContent(const std::string& url, std::int64_t start, std::int64_t end,
                                 CDownloadThread* thread);
    void setRangeTimeouts(const RangeTimeouts& timeouts) { m_timeouts = timeouts; }

    // libcurl write callback of the range download; userdata is the calling worker.
    // Holds the download write mutex only around the seek, the write and the position update.
    static std::size_t downloadFunc(char* data, std::size_t size, std::size_t count, void* userdata);
    // libcurl progress callback of the range download; userdata is the calling worker.
    // Ends a transfer whose rest the driver gave to other workers while no byte arrives.
    static int rangeProgressFunc(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    // libcurl header callback of the range download; userdata is the worker's RangeRequest.
    static std::size_t rangeHeaderFunc(char* data, std::size_t size, std::size_t count, void* userdata);

    // A server that accepts the connection and then says nothing, or trickles, would hold
    // the probe and the page fetch for ever (and the install with them): both give up
    // once fewer than kFetchFloorBytesPerSecond arrived on average for this long, the same
    // limit after which a download counts as stalled.
    static constexpr long kFetchStallSeconds = 30;
    static constexpr long kFetchFloorBytesPerSecond = 1024;
    void setFetchStallSeconds(long seconds) { m_fetchStallSeconds = seconds; }

    // Header probe: the response headers of every response in the redirect chain, in
    // order, cut at kHeaderLimit characters.
    CURLcode getHeader(const std::string& url, std::string& header);
    // Body fetch: the first `limit` characters of the body.
    CURLcode getContent(const std::string& url, std::string& body, std::size_t limit);
    // Form post on a fresh handle of its own. Returns CURLE_FAILED_INIT (2) when no
    // handle could be created. caBundle, when given, replaces the trusted roots.
    static CURLcode postData(const std::string& url, const std::string& body, std::string& reply,
                             const char* caBundle = nullptr);

    // Every transfer of the installer speaks HTTP or HTTPS only, redirects included: a URL
    // from a task file, a page or a Location header must never read local files or reach
    // other protocols. CURLE_OK, or the result of the setting that failed.
    static CURLcode limitToHttp(CURL* curl);

    // Header fields of one response block ("HTTP/... status" line, then "Name: value"
    // lines); names compare case-insensitively, as HTTP defines them.
    static std::optional<std::string> headerField(std::string_view block, std::string_view name);
    // The status code of a block's status line; 0 when there is none.
    static long headerStatus(std::string_view block);
    // The response blocks of a header text that holds several (a redirect chain).
    static std::vector<std::string_view> responseBlocks(std::string_view text);
    // "bytes first-last/total"; total is -1 for "*". False for anything else.
    static bool parseContentRange(std::string_view value, std::int64_t& first, std::int64_t& last,
                                  std::int64_t& total);

    // Writes the log line of a libcurl result code; returns 1.
    static int figureError(int code);
    static std::string errorText(int code);

    // HTTP status of the last response of the last transfer (0 when none).
    long responseCode() const;
    // `reference` (absolute or relative, as in a Location header) resolved against `base`.
    static std::string resolveUrl(const std::string& base, const std::string& reference);

    CURL* handle() const { return m_curl; }

private:
    // Whether the response being received is the range asked for (first chunk only).
    static bool acceptRange(RangeRequest& request, const DownloadTask& task);
    CURLcode fetch(const std::string& url, bool headerOnly, std::string& out, std::size_t limit);

    CURL* m_curl = nullptr;
    RangeTimeouts m_timeouts;
    long m_fetchStallSeconds = kFetchStallSeconds;
};
