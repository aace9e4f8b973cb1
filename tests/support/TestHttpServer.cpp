#include "TestHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace qvtest {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// "bytes=a-b" or "bytes=a-"; false for anything else (suffix ranges, lists).
bool ParseRange(const std::string& header, std::int64_t& first, std::int64_t& last) {
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string spec = header.substr(prefix.size());
    const auto dash = spec.find('-');
    if (dash == std::string::npos || dash == 0 || spec.find(',') != std::string::npos) return false;
    try {
        first = std::stoll(spec.substr(0, dash));
        last = dash + 1 < spec.size() ? std::stoll(spec.substr(dash + 1)) : -1;
    } catch (...) {
        return false;
    }
    return first >= 0;
}

}  // namespace

TestHttpServer::TestHttpServer() : m_server(std::make_unique<httplib::Server>()) { start(); }

TestHttpServer::TestHttpServer(const std::string& certPath, const std::string& keyPath)
    : m_server(std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str())), m_tls(true) {
    if (!m_server->is_valid()) throw std::runtime_error("test server: unusable certificate or key");
    start();
}

void TestHttpServer::start() {
    // Ten workers keeping their connections alive need ten server threads at once.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(48); };
    m_server->set_keep_alive_max_count(100000);
    // Header names go out as they are stored, so the lower-case mode renames them last.
    m_server->set_post_routing_handler([this](const httplib::Request&, httplib::Response& res) {
        if (!m_lowerCase.load()) return;
        httplib::Headers lowered;
        for (const auto& [name, value] : res.headers) {
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            lowered.emplace(lower, value);
        }
        res.headers = std::move(lowered);
    });
    m_server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
    m_server->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(Request{req.method, req.path, req.get_header_value("Range")});
        }
        res.set_content(req.body, "text/plain");
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("test server: cannot bind 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TestHttpServer::~TestHttpServer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

std::string TestHttpServer::url(const std::string& path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

void TestHttpServer::serveFile(const std::string& path, std::string content, FileOptions options) {
    std::lock_guard<std::mutex> lock(m_mutex);
    File file;
    file.size = static_cast<std::int64_t>(content.size());
    file.content = std::make_shared<const std::string>(std::move(content));
    file.options = options;
    m_files[path] = std::move(file);
}

void TestHttpServer::serveGenerated(const std::string& path, std::int64_t size, FileOptions options) {
    std::lock_guard<std::mutex> lock(m_mutex);
    File file;
    file.size = size;
    file.options = options;
    m_files[path] = std::move(file);
}

void TestHttpServer::setOptions(const std::string& path, const FileOptions& options) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.at(path).options = options;
}

void TestHttpServer::redirect(const std::string& from, const std::string& to, int status, bool relativeLocation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_redirects[from] = Redirect{to, status, relativeLocation};
}

char TestHttpServer::GeneratedByte(std::int64_t offset) {
    // Differs between ranges as well as within them, so a range written at the wrong
    // offset never compares equal.
    std::uint64_t x = static_cast<std::uint64_t>(offset) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<char>(x >> 56);
}

std::string TestHttpServer::GeneratedContent(std::int64_t offset, std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i) out[i] = GeneratedByte(offset + static_cast<std::int64_t>(i));
    return out;
}

std::int64_t TestHttpServer::bytesSent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytesSent;
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::size_t TestHttpServer::requestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

void TestHttpServer::resetCounters() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytesSent = 0;
    m_requests.clear();
}

void TestHttpServer::releaseStalls() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_releaseGeneration;
    }
    m_wake.notify_all();
}

bool TestHttpServer::waitStall(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t generation = m_releaseGeneration;
    m_wake.wait_for(lock, std::chrono::milliseconds(ms),
                    [&] { return m_stopping || m_releaseGeneration != generation; });
    return !m_stopping;
}

bool TestHttpServer::throttleWait(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_stopping; });
    return !m_stopping;
}

bool TestHttpServer::waitForRanges(const std::string& path, int count, int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_wake.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        const auto ranges = std::count_if(m_requests.begin(), m_requests.end(),
                                          [&](const Request& r) { return r.path == path && !r.range.empty(); });
        return m_stopping || ranges >= count;
    }) && !m_stopping;
}

void TestHttpServer::handle(const httplib::Request& req, httplib::Response& res) {
    // Ranges are answered here, with every fault under the test's control; the library
    // must not apply them a second time. The request object itself is not const.
    const std::string rangeHeader = req.get_header_value("Range");
    const_cast<httplib::Request&>(req).ranges.clear();
    const bool head = req.method == "HEAD";

    File file;
    bool armed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(Request{req.method, req.path, rangeHeader});
        m_wake.notify_all();
        const auto redirect = m_redirects.find(req.path);
        if (redirect != m_redirects.end()) {
            res.status = redirect->second.status;
            res.set_header("Location", redirect->second.relative ? redirect->second.to : url(redirect->second.to));
            return;
        }
        const auto found = m_files.find(req.path);
        if (found == m_files.end()) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        file = found->second;
        auto& live = found->second.options;
        if (live.status != 0 && live.statusTimes > 0) --live.statusTimes;
        if (file.options.status != 0 && file.options.statusTimes == 0) file.options.status = 0;
    }
    const FileOptions& options = file.options;
    if (head && options.headAfterRanges > 0 && !waitForRanges(req.path, options.headAfterRanges, 2000)) {
        res.status = 503;
        res.set_content("no ranges before the size", "text/plain");
        return;
    }
    if (!options.contentLocation.empty()) res.set_header("Content-Location", url(options.contentLocation));
    if (options.status != 0) {
        res.status = options.status;
        res.set_content("error " + std::to_string(options.status), "text/plain");
        return;
    }

    const std::int64_t claimed = options.advertisedSize >= 0 ? options.advertisedSize : file.size;
    std::int64_t first = 0;
    std::int64_t last = file.size - 1;
    std::int64_t length = file.size;
    if (!options.ignoreRange && !rangeHeader.empty() && ParseRange(rangeHeader, first, last)) {
        if (first >= file.size || (last >= 0 && last < first)) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(claimed));
            return;
        }
        if (last < 0 || last >= file.size) last = file.size - 1;
        if (options.rangeShift != 0) {
            first = std::clamp<std::int64_t>(first + options.rangeShift, 0, file.size - 1);
            last = std::clamp<std::int64_t>(last + options.rangeShift, first, file.size - 1);
        }
        length = last - first + 1;
        res.status = 206;
        res.set_header("Content-Range",
                       "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(claimed));
        length -= std::min(options.shortBy, length - 1);
    } else {
        first = 0;
        res.status = 200;
        if (head) length = claimed;
    }
    if (head) {
        // The library sends no body for HEAD but takes Content-Length from the provider.
        if (length > 0) {
            res.set_content_provider(static_cast<std::size_t>(length), "application/octet-stream",
                                     [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        } else {
            res.set_header("Content-Length", "0");
        }
        return;
    }
    if (length == 0) {
        res.set_content("", "application/octet-stream");
        return;
    }
    length += options.overlongBy;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& live = m_files[req.path].options;
        if (options.fault != FaultKind::None && live.faultTimes != 0 &&
            (options.faultPerResponse || (options.faultAt >= first && options.faultAt < first + length))) {
            armed = true;
            if (live.faultTimes > 0) --live.faultTimes;
        }
    }

    auto content = file.content;
    const std::int64_t faultAt = options.faultPerResponse ? first + options.faultAt : options.faultAt;
    const auto started = std::chrono::steady_clock::now();
    res.set_content_provider(
        static_cast<std::size_t>(length), "application/octet-stream",
        [this, content, first, options, armed, faultAt, started](std::size_t offset, std::size_t left, httplib::DataSink& sink) {
            const std::int64_t pos = first + static_cast<std::int64_t>(offset);
            std::size_t chunk = std::min(left, kChunk);
            if (options.bytesPerSecond > 0) {
                chunk = std::min<std::size_t>(chunk, std::max<std::int64_t>(1, options.bytesPerSecond / 50));
            }
            if (armed) {
                if (pos >= faultAt) {
                    if (options.fault == FaultKind::Stall) waitStall(options.stallMs);
                    return false;  // the library closes the connection
                }
                chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(faultAt - pos));
            }
            std::string generated;
            const char* data = nullptr;
            if (content && pos + static_cast<std::int64_t>(chunk) > static_cast<std::int64_t>(content->size())) {
                // An over-long body runs on past the file's end.
                generated.assign(chunk, 'X');
                if (pos < static_cast<std::int64_t>(content->size())) {
                    generated.replace(0, content->size() - static_cast<std::size_t>(pos), *content, static_cast<std::size_t>(pos));
                }
                data = generated.data();
            } else if (content) {
                data = content->data() + pos;
            } else {
                generated = GeneratedContent(pos, chunk);
                data = generated.data();
            }
            {
                // Counted before the write: the client may see the bytes (and the test
                // read the count) before the write call returns here.
                std::lock_guard<std::mutex> lock(m_mutex);
                m_bytesSent += static_cast<std::int64_t>(chunk);
            }
            if (!sink.write(data, chunk)) return false;
            if (options.bytesPerSecond > 0) {
                const double due = static_cast<double>(offset + chunk) / static_cast<double>(options.bytesPerSecond);
                const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                if (due > spent && !throttleWait(static_cast<int>((due - spent) * 1000) + 1)) return false;
            }
            return true;
        });
}

}  // namespace qvtest
