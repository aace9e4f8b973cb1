#include "CLibcurlTool.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "CDownloadThread.h"
#include "DownloadTask.h"
#include "log/ProcessLogger.h"
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

// One connection per handle, HTTP/1.1: header names keep their spelling (the size probe
// matches them case-sensitively) and parallel ranges never share one multiplexed
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
    const DownloadTask* task = thread != nullptr ? thread->task() : nullptr;
    LOG(INFO) << " Request Range: (" << (task != nullptr ? task->TaskId : 0) << ", "
              << static_cast<std::int32_t>(end - start) << ") " << range;
    if (m_curl == nullptr || thread == nullptr) {
        figureError(CURLE_FAILED_INIT);
        return CURLE_FAILED_INIT;
    }
    SlistPtr headers(curl_slist_append(nullptr, kUserAgent));
    thread->rangeRequest().start = start;
    thread->rangeRequest().handle = m_curl;

    curl_easy_setopt(m_curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &CLibcurlTool::downloadFunc);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, thread);
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, m_timeouts.requestMs);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT_MS, m_timeouts.connectMs);
    ApplyConnectionPolicy(m_curl);
    const CURLcode setResult = ApplyTlsVerification(m_curl, nullptr);
    if (setResult != CURLE_OK) {
        figureError(setResult);
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
        return setResult;
    }
    const CURLcode result = curl_easy_perform(m_curl);
    // The list dies here; the handle must not keep pointing at it for a later call.
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_RANGE, nullptr);
    if (result != CURLE_OK) figureError(result);
    return result;
}

std::size_t CLibcurlTool::downloadFunc(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* thread = static_cast<CDownloadThread*>(userdata);
    DownloadTask* task = thread->task();
    RangeRequest& request = thread->rangeRequest();
    const std::size_t received = size * count;

    if (!request.checked) {
        request.checked = true;
        long status = 0;
        curl_easy_getinfo(request.handle, CURLINFO_RESPONSE_CODE, &status);
        // Only a partial answer, or a whole body for a range that starts at 0, puts the
        // right bytes at this offset. Anything else (a server that ignored the range, an
        // error page) would corrupt the file: write nothing and leave the task unfinished.
        const bool acceptable = status == 0 || status == 206 || (status == 200 && request.start == 0);
        if (!acceptable) {
            request.refused = true;
            LOG(INFO) << " Thread: " << task->TaskId << " Response refused, [status]: " << status
                      << ", [Request start]: " << request.start;
        }
    }
    if (request.refused) return 0;

    std::size_t written = 0;
    std::int64_t downloadedPos = 0;
    {
        std::lock_guard<std::mutex> lock(thread->writeMutex());
        const std::int64_t pos = task->DownloadedPos.load();
        const std::int64_t newEnd = pos + static_cast<std::int64_t>(received);
        if (request.complete || pos < task->StartPos || pos > task->EndPos) {
            // Bytes past a completed range would land on its last byte (DownloadedPos
            // stays at EndPos); a position outside the range (a damaged task file) must
            // never reach the file at all.
            written = 0;
        } else if (newEnd > task->EndPos) {
            const auto wanted = static_cast<std::size_t>(task->EndPos - pos + 1);
            if (platform::SeekStream(thread->file(), pos)) written = std::fwrite(data, 1, wanted, thread->file());
            // Only bytes that reached the file count as downloaded.
            task->DownloadedPos.store(written == wanted ? task->EndPos : pos + static_cast<std::int64_t>(written));
            request.complete = written == wanted;
        } else {
            if (platform::SeekStream(thread->file(), pos)) written = std::fwrite(data, 1, received, thread->file());
            task->DownloadedPos.store(pos + static_cast<std::int64_t>(written));
            if (written == received && newEnd == task->EndPos) request.landedOnEnd = true;
        }
        downloadedPos = task->DownloadedPos.load();
    }
    if (written != received) {
        LOG(INFO) << " Thread: " << task->TaskId << " Write Error. Task id\xEF\xBC\x9A" << task->TaskId
                  << " Download to:" << downloadedPos << " Receive:" << received << " Write:" << written
                  << " Task EndPos:" << task->EndPos;
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
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, m_fetchStallSeconds);
    ApplyConnectionPolicy(m_curl);
    const CURLcode setResult = ApplyTlsVerification(m_curl, nullptr);
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
