#pragma once
// An HTTP/1.1 server on 127.0.0.1 (a free port) for the download engine's tests. It
// serves files from memory or generated on the fly (so multi-GiB files cost no memory),
// answers byte ranges itself (206, Content-Range, Content-Length), and misbehaves on
// request: stall or drop the connection at a file offset, ignore Range, claim a wrong
// size, redirect, answer an error status, serve slowly (down to a trickle), write header
// names in lower case, add a Content-Location, answer another range than asked, or send a
// body one way or the other of its range. It counts the body bytes it
// sent and records every request with its Range header, so a test can check exactly
// what was transferred.
//
// POST requests are recorded and answered with their own body.
//
// Threads: requests are served on the server's own pool; every method is thread-safe.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace qvtest {

enum class FaultKind { None, Stall, Drop };

struct FileOptions {
    bool ignoreRange = false;         // answer 200 with the whole file to every request
    int status = 0;                   // when not 0: answer this status with a short body
    int statusTimes = -1;             // ... to this many requests (-1 = all), then serve normally
    std::int64_t advertisedSize = -1; // size claimed in Content-Length/Content-Range totals
    std::int64_t bytesPerSecond = 0;  // throttle of each response (0 = as fast as possible)
    // A response reaching file offset faultAt stops there: Drop closes the connection at
    // once; Stall holds it silent for stallMs (or until releaseStalls) and then closes it.
    // faultTimes responses are affected; -1 means every one. With faultPerResponse,
    // faultAt counts bytes of each response's body instead of a file offset.
    FaultKind fault = FaultKind::None;
    std::int64_t faultAt = 0;
    bool faultPerResponse = false;
    int faultTimes = 1;
    int stallMs = 60000;
    // Ways of answering that HTTP allows or that broken servers and proxies produce:
    std::string contentLocation;     // when set: a Content-Location header naming this path
    std::int64_t rangeShift = 0;     // answer a range this many bytes later than asked, saying so
    std::int64_t shortBy = 0;        // a 206 whose body (and Content-Length) lacks this many bytes
                                     // at its end while its Content-Range names the range asked for
    std::int64_t overlongBy = 0;     // bodies (and Content-Length) this many bytes longer than
                                     // the range, the extra bytes continuing past it
    // When not 0: a HEAD is answered only once this many range requests for the file have
    // arrived, and with 503 when they do not within two seconds (a client that asks for
    // ranges before it knows the size gets its answer; one that waits for it does not).
    int headAfterRanges = 0;
};

class TestHttpServer {
public:
    using FaultKind = ::qvtest::FaultKind;
    using FileOptions = ::qvtest::FileOptions;

    struct Request {
        std::string method;
        std::string path;
        std::string range;  // the Range header as received, empty when absent
    };

    TestHttpServer();
    // HTTPS with the given PEM certificate and key.
    TestHttpServer(const std::string& certPath, const std::string& keyPath);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }
    std::string url(const std::string& path) const;

    void serveFile(const std::string& path, std::string content, FileOptions options = {});
    // A file of `size` bytes whose byte at offset o is GeneratedByte(o).
    void serveGenerated(const std::string& path, std::int64_t size, FileOptions options = {});
    void setOptions(const std::string& path, const FileOptions& options);
    // `to` is a path on this server (sent as an absolute URL) unless relativeLocation.
    void redirect(const std::string& from, const std::string& to, int status = 302, bool relativeLocation = false);
    // Every header name of every answer in lower case (content-length, content-range,
    // location ...), as HTTP/2 gateways and some proxies send them.
    void setLowerCaseHeaders(bool lower) { m_lowerCase.store(lower); }

    static char GeneratedByte(std::int64_t offset);
    static std::string GeneratedContent(std::int64_t offset, std::size_t length);

    std::int64_t bytesSent() const;
    std::vector<Request> requests() const;
    std::size_t requestCount() const;
    void resetCounters();
    // Lets every stalled response go on to close its connection now.
    void releaseStalls();
    // Waits up to `ms` until `count` requests with a Range header for `path` arrived; false
    // when they did not.
    bool waitForRanges(const std::string& path, int count, int ms);

private:
    struct File {
        std::shared_ptr<const std::string> content;  // null: generated
        std::int64_t size = 0;
        FileOptions options;
    };
    struct Redirect {
        std::string to;
        int status = 302;
        bool relative = false;
    };

    void start();
    void handle(const httplib::Request& request, httplib::Response& response);
    bool waitStall(int ms);             // false when the server is stopping
    bool throttleWait(int ms);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    bool m_tls = false;
    std::atomic<bool> m_lowerCase{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::uint64_t m_releaseGeneration = 0;
    std::map<std::string, File> m_files;
    std::map<std::string, Redirect> m_redirects;
    std::int64_t m_bytesSent = 0;
    std::vector<Request> m_requests;
};

}  // namespace qvtest
