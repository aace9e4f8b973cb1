#include "src/engine/CLibcurlTool.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <limits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "src/engine/CDownloadThread.h"
#include "src/engine/DownloadTask.h"
#include "platform/ProcessLogger.h"
#include "platform/FileStreams.h"

namespace {

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

// Certificates are always verified: against the system store, or the bundle named by
// CURL_CA_BUNDLE (enterprise proxies, tests), or the caller's bundle. Returns the result
// of the first setting, which decides whether the transfer may go ahead.
CURLcode ApplyTlsVerification(CURL* curl, const char* caBundle) {
    const CURLcode result = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (caBundle == nullptr) caBundle = std::getenv("CURL_CA_BUNDLE");
    if (caBundle != nullptr && *caBundle != '\0') curl_easy_setopt(curl, CURLOPT_CAINFO, caBundle);
    return result;
}

// One connection per handle, HTTP/1.1: parallel ranges never share one multiplexed
// connection that the server would throttle as one.
void ApplyConnectionPolicy(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_PIPEWAIT, 0L);
}

struct CollectedText {
    std::string text;
    std::size_t limit;
};

// Keeps at most `limit` characters; the rest of the transfer is consumed and dropped so
// that a huge body cannot exhaust memory, and the result stays that of the transfer.
std::size_t CollectText(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* out = static_cast<CollectedText*>(userdata);
    const std::size_t bytes = size * count;
    if (out->text.size() < out->limit) {
        out->text.append(data, std::min(bytes, out->limit - out->text.size()));
    }
    return bytes;
}

// A post's reply is a short acknowledgement; a server sending more than this is cut off
// (the transfer ends with a write error) instead of filling memory.
constexpr std::size_t kMaxPostReply = 1u << 20;

std::size_t CollectReply(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* reply = static_cast<std::string*>(userdata);
    if (data == nullptr || reply == nullptr) return static_cast<std::size_t>(-1);
    if (reply->size() + size * count > kMaxPostReply) return 0;
    reply->append(data, size * count);
    return size * count;
}

}  // namespace

CLibcurlTool::CLibcurlTool() = default;

CLibcurlTool::~CLibcurlTool() {
    if (m_curl != nullptr) curl_easy_cleanup(m_curl);
}

bool CLibcurlTool::init() {
    if (m_curl == nullptr) {
        GlobalInitOnce();
        m_curl = curl_easy_init();
    }
    return m_curl != nullptr;
}

CURLcode CLibcurlTool::httpDownloadContent(const std::string& url, std::int64_t start, std::int64_t end,
                                           CDownloadThread* thread) {
    const std::string range = std::to_string(start) + "-" + std::to_string(end);
    // An early request has no task yet: it names the one its range will start.
    const bool early = thread != nullptr && thread->rangeRequest().early;
    DownloadTask* task = thread != nullptr && !early ? thread->task() : nullptr;
    const std::int32_t taskId =
        early ? static_cast<std::int32_t>(start / DownloadTask::kSize + 1) : (task != nullptr ? task->TaskId : 0);
    LOG(INFO) << " Request Range: (" << taskId << ", " << static_cast<std::int32_t>(end - start) << ") " << range;
    if (m_curl == nullptr || thread == nullptr || (task == nullptr && !early)) {
        figureError(CURLE_FAILED_INIT);
        return CURLE_FAILED_INIT;
    }
    if (!early && (thread->runTasks().empty() || thread->runTasks().front() != task)) thread->setRun({task});
    SlistPtr headers(curl_slist_append(nullptr, kUserAgent));
    RangeRequest& request = thread->rangeRequest();
    request.start = start;
    request.end = end;
    request.fileSize = thread->fileSize();
    request.lastByte = request.fileSize > 0 && end > request.fileSize - 1 ? request.fileSize - 1 : end;
    request.handle = m_curl;
    request.headers.clear();
    request.nextByte = start;
    request.cut = false;
    // A start outside the first task (a damaged task file) writes nothing anywhere. The
    // tasks an early request is given start exactly at its start.
    request.taskIndex =
        early || (start >= task->StartPos && start <= task->EndPos.load()) ? 0 : thread->runTasks().size();

    curl_easy_setopt(m_curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_RANGE, range.c_str());
    // The ranges come from where the size probe led; an early request, sent before the
    // probe's answer, is kept only when the probe was not redirected, so it follows nothing.
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, early ? 0L : 1L);
    curl_easy_setopt(m_curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &CLibcurlTool::rangeHeaderFunc);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &request);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &CLibcurlTool::downloadFunc);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, thread);
    // Larger chunks per callback: fewer seeks, writes and lock rounds per MiB on a fast line.
    curl_easy_setopt(m_curl, CURLOPT_BUFFERSIZE, kRangeBufferBytes);
    // Lets a request whose rest was given to other workers end while no byte arrives.
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &CLibcurlTool::rangeProgressFunc);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, thread);
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, m_timeouts.requestMs);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, m_timeouts.connectMs);
    ApplyConnectionPolicy(m_curl);
    CURLcode setResult = limitToHttp(m_curl);
    if (setResult == CURLE_OK) setResult = ApplyTlsVerification(m_curl, nullptr);
    const auto release = [this] {
        // The list and the request die after this call; the handle must not keep
        // pointing at them for a later call.
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, nullptr);
    };
    if (setResult != CURLE_OK) {
        figureError(setResult);
        release();
        return setResult;
    }
    thread->beginTransfer(request.lastByte);
    {
        std::lock_guard<std::mutex> lock(thread->writeMutex());
        request.open = true;
    }
    const CURLcode result = curl_easy_perform(m_curl);
    {
        std::lock_guard<std::mutex> lock(thread->writeMutex());
        request.open = false;
    }
    release();
    // A request stopped because other workers took its rest is no fault.
    if (result != CURLE_OK && !request.cut) figureError(result);
    if (request.writeErrno != 0) thread->reportWriteError(request.writeErrno);
    return result;
}

int CLibcurlTool::rangeProgressFunc(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* thread = static_cast<CDownloadThread*>(userdata);
    RangeRequest& request = thread->rangeRequest();
    if (request.early && thread->earlyCancelled()) {
        request.cut = true;
        return 1;
    }
    if (thread->wasCut() && request.nextByte > thread->stop()) {
        request.cut = true;
        return 1;
    }
    return 0;
}

std::size_t CLibcurlTool::rangeHeaderFunc(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* request = static_cast<RangeRequest*>(userdata);
    const std::size_t bytes = size * count;
    // Each response of a redirect chain starts its own block; only the last one counts.
    if (bytes >= 5 && std::string_view(data, 5) == "HTTP/") request->headers.clear();
    if (request->headers.size() + bytes <= kHeaderLimit * 8) request->headers.append(data, bytes);
    return bytes;
}

bool CLibcurlTool::acceptRange(RangeRequest& request, const DownloadTask& task) {
    long status = 0;
    curl_easy_getinfo(request.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status == 206) {
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int64_t total = -1;
        const auto field = headerField(request.headers, "Content-Range");
        const bool parsed = field && parseContentRange(*field, first, last, total);
        // The range asked for, or its part that exists when it reaches past the end; of
        // the file this download is for, when its size is known.
        const bool sameRange = parsed && first == request.start &&
                               (last == request.end || (total > 0 && last == total - 1 && request.end >= last));
        const bool sameFile = parsed && (request.fileSize <= 0 || total == request.fileSize);
        if (sameRange && sameFile) {
            if (total > 0 && request.lastByte > total - 1) request.lastByte = total - 1;
            return true;
        }
        LOG(INFO) << " Thread: " << task.TaskId << " Response refused, [Content-Range]: "
                  << (field ? *field : std::string("none")) << ", [Request range]: " << request.start << "-"
                  << request.end;
        return false;
    }
    if (status == 200 && request.start == 0) {
        // The whole file for a range that starts at 0 puts the right bytes at the right
        // offsets, provided it is the file this download is for.
        curl_off_t length = -1;
        curl_easy_getinfo(request.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (request.fileSize <= 0 || length < 0 || length == request.fileSize) {
            if (length > 0 && request.lastByte > length - 1) request.lastByte = length - 1;
            return true;
        }
    }
    // A server that ignored the range, an error page, another file: writing it would
    // corrupt the download.
    LOG(INFO) << " Thread: " << task.TaskId << " Response refused, [status]: " << status
              << ", [Request start]: " << request.start;
    return false;
}

namespace {

// Records that the bytes [from, to) of the request reached the file: every task of the
// run they cover moves on, and those they finish get DownloadedPos = EndPos. A task
// written up to just before its EndPos records one byte less, so that EndPos never
// claims its last byte before that byte is in the file. Under the write mutex.
void AdvanceTasks(const std::vector<DownloadTask*>& run, RangeRequest& request, std::int64_t to) {
    while (request.taskIndex < run.size()) {
        DownloadTask* task = run[request.taskIndex];
        const std::int64_t end = task->EndPos.load();
        const std::int64_t last = std::min(end, request.lastByte);
        if (to - 1 >= last) {
            task->DownloadedPos.store(end);
            ++request.taskIndex;
            if (to - 1 == last) return;
            continue;
        }
        task->DownloadedPos.store(to == end ? to - 1 : to);
        return;
    }
}

}  // namespace

std::size_t CLibcurlTool::downloadFunc(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* thread = static_cast<CDownloadThread*>(userdata);
    RangeRequest& request = thread->rangeRequest();
    const std::vector<DownloadTask*>& run = thread->runTasks();
    const std::size_t received = size * count;

    if (request.early && !request.checked) {
        // Nothing is written before the driver knows the size and hands over the tasks.
        if (!thread->awaitEarly()) {
            request.cut = true;
            return 0;
        }
        std::lock_guard<std::mutex> lock(thread->writeMutex());
        request.fileSize = thread->fileSize();
        if (request.fileSize > 0 && request.lastByte > request.fileSize - 1) request.lastByte = request.fileSize - 1;
    }
    if (!request.checked) {
        request.checked = true;
        request.refused = !acceptRange(request, *thread->task());
    }
    if (request.refused) return 0;

    std::size_t written = 0;
    std::size_t wanted = 0;
    int writeErrno = 0;
    std::int32_t taskId = thread->task()->TaskId;
    std::int64_t downloadedPos = 0;
    std::int64_t endPos = 0;
    {
        std::lock_guard<std::mutex> lock(thread->writeMutex());
        const std::int64_t pos = request.nextByte;
        // Bytes past the range's last byte (a longer body, a whole file for a range), past
        // where other workers took over, and a position outside the run (a damaged task
        // file) never reach the file: they would overwrite other ranges or grow the file
        // past its size.
        const std::int64_t limit = std::min(request.lastByte, thread->stop());
        if (!request.complete && request.taskIndex < run.size() && pos <= limit) {
            wanted = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(received), limit - pos + 1));
            errno = 0;
            if (platform::SeekStream(thread->file(), pos)) written = std::fwrite(data, 1, wanted, thread->file());
            if (written != wanted) writeErrno = errno != 0 ? errno : EIO;
            // Only bytes that reached the file count as downloaded.
            request.nextByte = pos + static_cast<std::int64_t>(written);
            AdvanceTasks(run, request, request.nextByte);
            request.complete = written == wanted && request.nextByte - 1 == request.lastByte;
            if (written > 0) thread->noteWritten(static_cast<std::int64_t>(written));
        }
        if (writeErrno == 0 && written < received && thread->wasCut() && request.nextByte > thread->stop()) {
            request.cut = true;
        }
        if (!run.empty()) {
            const DownloadTask* at = run[std::min(request.taskIndex, run.size() - 1)];
            taskId = at->TaskId;
            downloadedPos = at->DownloadedPos.load();
            endPos = at->EndPos.load();
        }
    }
    if (writeErrno != 0) request.writeErrno = writeErrno;
    if (written != received && !request.cut) {
        LOG(INFO) << " Thread: " << taskId << " Write Error. Task id\xEF\xBC\x9A" << taskId
                  << " Download to:" << downloadedPos << " Receive:" << received << " Write:" << written
                  << " Task EndPos:" << endPos;
    }
    return written;
}

CURLcode CLibcurlTool::fetch(const std::string& url, bool headerOnly, std::string& out, std::size_t limit) {
    out.clear();
    if (m_curl == nullptr) {
        figureError(CURLE_FAILED_INIT);
        return CURLE_FAILED_INIT;
    }
    CollectedText collected{{}, limit};
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_NOBODY, headerOnly ? 1L : 0L);
    curl_easy_setopt(m_curl, CURLOPT_HEADER, headerOnly ? 1L : 0L);
    if (!headerOnly) curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &CollectText);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &collected);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, m_fetchStallSeconds);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, kFetchFloorBytesPerSecond);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, m_fetchStallSeconds);
    ApplyConnectionPolicy(m_curl);
    CURLcode setResult = limitToHttp(m_curl);
    if (setResult == CURLE_OK) setResult = ApplyTlsVerification(m_curl, nullptr);
    if (setResult != CURLE_OK) {
        figureError(setResult);
        return setResult;
    }
    const CURLcode result = curl_easy_perform(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, nullptr);
    out = std::move(collected.text);
    if (result != CURLE_OK) figureError(result);
    return result;
}

CURLcode CLibcurlTool::getHeader(const std::string& url, std::string& header) {
    return fetch(url, true, header, kHeaderLimit);
}

CURLcode CLibcurlTool::getContent(const std::string& url, std::string& body, std::size_t limit) {
    return fetch(url, false, body, limit);
}

CURLcode CLibcurlTool::postData(const std::string& url, const std::string& body, std::string& reply,
                                const char* caBundle) {
    GlobalInitOnce();
    EasyPtr curl(curl_easy_init());
    if (!curl) return CURLE_FAILED_INIT;
    if (const CURLcode limited = limitToHttp(curl.get()); limited != CURLE_OK) return limited;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &CollectReply);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    ApplyConnectionPolicy(curl.get());
    ApplyTlsVerification(curl.get(), caBundle);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 8L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 10L);
    return curl_easy_perform(curl.get());
}

CURLcode CLibcurlTool::limitToHttp(CURL* curl) {
    const CURLcode result = curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    if (result != CURLE_OK) return result;
    return curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
}

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Decimal digits only; false when empty or out of range.
bool ParseDecimal(std::string_view text, std::int64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

std::optional<std::string> CLibcurlTool::headerField(std::string_view block, std::string_view name) {
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t end = block.find('\n', pos);
        if (end == std::string_view::npos) end = block.size();
        const std::string_view line = block.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.rfind("HTTP/", 0) == 0) continue;
        if (EqualNoCase(line.substr(0, colon), name)) return std::string(Trim(line.substr(colon + 1)));
    }
    return std::nullopt;
}

long CLibcurlTool::headerStatus(std::string_view block) {
    if (block.rfind("HTTP/", 0) != 0) return 0;
    const std::size_t blank = block.find(' ');
    if (blank == std::string_view::npos || blank + 4 > block.size()) return 0;
    std::int64_t status = 0;
    if (!ParseDecimal(block.substr(blank + 1, 3), status)) return 0;
    return static_cast<long>(status);
}

std::vector<std::string_view> CLibcurlTool::responseBlocks(std::string_view text) {
    std::vector<std::string_view> blocks;
    std::size_t start = text.rfind("HTTP/", 0) == 0 ? 0 : text.find("\nHTTP/");
    while (start != std::string_view::npos) {
        if (text[start] == '\n') ++start;
        const std::size_t next = text.find("\nHTTP/", start);
        blocks.push_back(text.substr(start, next == std::string_view::npos ? std::string_view::npos : next + 1 - start));
        start = next;
    }
    return blocks;
}

bool CLibcurlTool::parseContentRange(std::string_view value, std::int64_t& first, std::int64_t& last,
                                     std::int64_t& total) {
    value = Trim(value);
    if (value.size() < 6 || !EqualNoCase(value.substr(0, 6), "bytes ")) return false;
    value = Trim(value.substr(6));
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return false;
    if (!ParseDecimal(value.substr(0, dash), first) || !ParseDecimal(value.substr(dash + 1, slash - dash - 1), last)) {
        return false;
    }
    const std::string_view totalText = value.substr(slash + 1);
    if (totalText == "*") {
        total = -1;
    } else if (!ParseDecimal(totalText, total) || last >= total) {
        return false;
    }
    return first <= last;
}

long CLibcurlTool::responseCode() const {
    long status = 0;
    if (m_curl != nullptr) curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::string CLibcurlTool::resolveUrl(const std::string& base, const std::string& reference) {
    GlobalInitOnce();
    CURLU* url = curl_url();
    if (url == nullptr) return reference;
    std::string resolved = reference;
    char* text = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, reference.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        resolved = text;
    }
    curl_free(text);
    curl_url_cleanup(url);
    return resolved;
}

std::string CLibcurlTool::errorText(int code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL: return " ProtoControl Unsupport!";
        case CURLE_FAILED_INIT: return " Init Failed!";
        case CURLE_URL_MALFORMAT: return " Curl RemotePath Error";
        case CURLE_NOT_BUILT_IN: return " libcurl InitFailed\xEF\xBC\x8CPlease Try again!";
        case CURLE_COULDNT_RESOLVE_PROXY: return " Cannt resovlve proxy!";
        case CURLE_COULDNT_RESOLVE_HOST: return " cannt resovlve server!";
        case CURLE_COULDNT_CONNECT: return " Curl Connect Server Error";
        case CURLE_WEIRD_SERVER_REPLY: return " FTP服务器非法回复";
        case CURLE_REMOTE_ACCESS_DENIED: return " Acess Denied!";
        case CURLE_FTP_ACCEPT_FAILED: return " FTP连接失败";
        case CURLE_FTP_WEIRD_PASS_REPLY: return " FTP服务器未知回复";
        case CURLE_FTP_ACCEPT_TIMEOUT: return " FTP连接超时";
        case CURLE_FTP_WEIRD_PASV_REPLY: return " Curl unknow error!";
        case CURLE_FTP_WEIRD_227_FORMAT: return " Curl unknow error!";
        case CURLE_FTP_CANT_GET_HOST: return " 内部故障";
        case CURLE_HTTP2: return " HTTP2错误";
        case CURLE_FTP_COULDNT_SET_TYPE: return " FTP获取传输类型失败";
        case CURLE_PARTIAL_FILE: return " 服务器返回文件大小非法";
        case CURLE_HTTP_RETURNED_ERROR: return " HTTP请求错误";
        case CURLE_WRITE_ERROR: return " 接收数据错误";
        case CURLE_UPLOAD_FAILED: return " 上传数据错误";
        case CURLE_READ_ERROR: return " 本地文件读取错误";
        case CURLE_OUT_OF_MEMORY: return " 内存不足";
        case CURLE_OPERATION_TIMEDOUT: return " Curl Time out";
        case CURLE_FTP_PORT_FAILED: return " FTP端口失败";
        case CURLE_RANGE_ERROR: return " 请求的数据范围错误";
        default: return " Curl Else Error: " + std::to_string(code);
    }
}

int CLibcurlTool::figureError(int code) {
    LOG(INFO) << errorText(code);
    return 1;
}
