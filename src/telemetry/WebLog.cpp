#include "src/telemetry/WebLog.h"

#include <curl/curl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/RegistryStore.h"
#include "platform/SystemFacts.h"

namespace {

const char* Text(const char* s) { return s != nullptr ? s : ""; }

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct GetSink {
    std::string body;
    bool tooLarge = false;
};

std::size_t OnGetData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<GetSink*>(user);
    const std::size_t bytes = size * count;
    if (sink->body.size() + bytes > WebLog::kMaxReplyBytes) {
        sink->tooLarge = true;
        return 0;
    }
    sink->body.append(data, bytes);
    return bytes;
}

constexpr const char* kIdentityKeyName = WebLog::kIdentityKey;
// Registry values were read into a 260-byte buffer; anything longer never was an identity.
constexpr std::size_t kMaxRegistryValue = 259;

std::optional<std::string> ReadIdentityValue(const platform::RegistryStore& store, const char* name) {
    std::optional<std::string> value = store.GetString(kIdentityKeyName, name);
    if (value && value->size() > kMaxRegistryValue) return std::nullopt;
    return value;
}

platform::RegistryStore IdentityStore(const WebLogOptions& options) {
    if (options.registryFolder) return platform::RegistryStore(platform::RegistryHive::LocalMachine, *options.registryFolder);
    return platform::RegistryStore(platform::RegistryHive::LocalMachine);
}

std::string NewGuid() {
    std::random_device device;
    std::uint32_t words[4];
    for (auto& w : words) w = device();
    std::uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4, like the system's GUIDs
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    const unsigned data1 = (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
    const unsigned data2 = (unsigned(b[4]) << 8) | b[5];
    const unsigned data3 = (unsigned(b[6]) << 8) | b[7];
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, data2, data3, b[8],
                  b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

}  // namespace

std::string UrlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string FormatId08(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08d", value);
    return text;
}

std::string MachineId() {
    const platform::CpuSignature cpu = platform::CpuIdLeaf1();
    char text[40];
    std::snprintf(text, sizeof text, "%08X%08X", cpu.edx, cpu.eax);
    std::string id = text;
    if (std::optional<std::uint32_t> serial = platform::SystemVolumeSerial()) {
        std::snprintf(text, sizeof text, "%X", *serial);
        id += text;
    }
    return id;
}

std::string AdapterMac() {
    std::optional<std::array<std::uint8_t, 6>> mac = platform::PrimaryAdapterMac();
    if (!mac) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", (*mac)[0], (*mac)[1], (*mac)[2], (*mac)[3],
                  (*mac)[4], (*mac)[5]);
    return text;
}

WebLog::WebLog() : WebLog(WebLogOptions{}) {}

WebLog::WebLog(WebLogOptions options)
    : options_(std::move(options)), createdTick_(platform::TickCount32()), baseUrl_(options_.endpoints.serviceBaseUrl) {
    CurlPoster::GlobalInit();
}

WebLog::~WebLog() { qvlog::ConsoleLine("00000000000000000000000000000000000"); }

int WebLog::HttpGet(const std::string& url, std::string& reply) {
    std::unique_ptr<CURL, EasyCleanup> handle(curl_easy_init());
    if (!handle) {
        qvlog::ConsoleLine("Internet Open Fail!\n\r");
        return -1;
    }
    CURL* data = handle.get();
    std::unique_ptr<curl_slist, SlistCleanup> headers(curl_slist_append(nullptr, "Accept: */*"));
    headers.reset(curl_slist_append(headers.release(), "Accept-Language: zh-cn"));
    headers.reset(curl_slist_append(
        headers.release(), "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)"));
    GetSink sink;
    curl_easy_setopt(data, CURLOPT_URL, url.c_str());
    curl_easy_setopt(data, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(data, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(data, CURLOPT_CONNECTTIMEOUT_MS, 6000L);
    // A read that sees no data for 6 s ends the request, as a receive limit would.
    curl_easy_setopt(data, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(data, CURLOPT_LOW_SPEED_TIME, 6L);
    curl_easy_setopt(data, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(data, CURLOPT_MAXREDIRS, 5L);
    // The service is reached over HTTP(S) only, also where a redirect leads.
    curl_easy_setopt(data, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(data, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(data, CURLOPT_FRESH_CONNECT, 1L);
    if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0') {
        curl_easy_setopt(data, CURLOPT_CAINFO, bundle);
    }
    curl_easy_setopt(data, CURLOPT_WRITEFUNCTION, &OnGetData);
    curl_easy_setopt(data, CURLOPT_WRITEDATA, &sink);

    const CURLcode result = curl_easy_perform(data);
    long status = 0;
    curl_easy_getinfo(data, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) {
        qvlog::ConsoleLine("can not open the URL!");
        return -1;
    }
    // Anything but 200 is a failed try, whatever body came with it.
    if (status != 200) return -1;
    reply += sink.body;
    return result == CURLE_OK ? 0 : -1;
}

int WebLog::HttpGetWithRetries(const std::string& url, std::string& reply) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (HttpGet(url, reply) == 0) return 0;
    }
    return -1;
}

int WebLog::RefreshServiceUrl() {
    std::string body;
    if (HttpGetWithRetries(options_.endpoints.serviceLocatorUrl, body) != 0) return -1;
    if (!body.empty() && body.find("http") != std::string::npos) {
        // Locator files are edited by hand and usually end in a line break, which would
        // make every later request URL invalid: keep the address without surrounding blanks.
        const auto first = body.find_first_not_of(" \t\r\n");
        const auto last = body.find_last_not_of(" \t\r\n");
        baseUrl_ = body.substr(first, last - first + 1);
    } else {
        baseUrl_ = options_.endpoints.serviceBaseUrl;
    }
    return 0;
}

int WebLog::QueryUser() {
    const platform::RegistryStore store = IdentityStore(options_);
    std::optional<std::string> storedGuid = ReadIdentityValue(store, "guid");
    if (storedGuid) qvlog::ConsoleLine("/n CPU INFO:%s/n", storedGuid->c_str());
    std::optional<std::string> storedUser = ReadIdentityValue(store, "user_id");
    if (storedUser) qvlog::ConsoleLine("/n CPU INFO:%s/n", storedUser->c_str());
    if (!storedGuid || !storedUser) {
        guid_ = storedGuid.value_or("");
        userId_ = storedUser.value_or("");
        return -1;
    }
    std::string reply;
    if (HttpGetWithRetries(baseUrl_ + "/QueryUser?guid=" + *storedGuid, reply) != 0) return -2;
    guid_ = *storedGuid;
    if (!reply.empty()) {
        userId_ = reply;
        return 0;
    }
    userId_ = *storedUser;
    return -1;
}

bool WebLog::WriteIdentity() {
    platform::RegistryStore store = IdentityStore(options_);
    if (store.CreateKey(kIdentityKey) != platform::RegistryResult::REG_RESULT_OK) return false;
    if (store.SetString(kIdentityKey, "guid", guid_) == platform::RegistryResult::REG_RESULT_OK) {
        qvlog::ConsoleLine(" self run success/n");
    }
    if (store.SetString(kIdentityKey, "user_id", userId_) == platform::RegistryResult::REG_RESULT_OK) {
        qvlog::ConsoleLine(" self run success/n");
    }
    return true;
}

int WebLog::CreateUserId() {
    if (guid_.empty()) guid_ = NewGuid();
    if (publicIp_.empty() || country_.empty()) QueryLocation();
    userId_ = "1001";
    WriteIdentity();  // an identity that cannot be stored is simply not stored
    return 0;
}

int WebLog::GetUserId(const char** guid, const char** userId) {
    RefreshServiceUrl();
    if (QueryUser() == -1) CreateUserId();
    if (guid != nullptr) *guid = guid_.c_str();
    if (userId != nullptr) *userId = userId_.c_str();
    return 0;
}

int WebLog::QueryLocation() {
    const std::string& url = options_.endpoints.locationUrl;
    std::string reply;
    HttpGet(url, reply);
    if (reply.empty()) return 0;
    for (int requests = 1; reply.find("success") == std::string::npos; ++requests) {
        if (requests == 5) return -1;
        HttpGet(url, reply);
    }
    // Fields: 2nd = country, 6th = city, last = the caller's public address.
    std::vector<std::string::size_type> commas;
    for (std::string::size_type i = 0; i < reply.size(); ++i) {
        if (reply[i] == ',') commas.push_back(i);
    }
    if (commas.size() < 6) return -1;
    country_ = reply.substr(commas[0] + 1, commas[1] - commas[0] - 1);
    city_ = reply.substr(commas[4] + 1, commas[5] - commas[4] - 1);
    std::string ip = reply.substr(commas.back() + 1);
    // The line's own end is not part of the address (it goes into request URLs).
    while (!ip.empty() && (ip.back() == '\n' || ip.back() == '\r' || ip.back() == ' ')) ip.pop_back();
    publicIp_ = ip;
    return 0;
}

int WebLog::AddUserLog(int operationId, int result, const char* resultData, int softwareId, int languageId,
                       int siteId, const char* currentVersion, const char* email, int activityId, int versionId) {
    if (operationId == 10202) {
        exitTick_ = platform::TickCount32();
        useTime_ = (exitTick_ - createdTick_) / 1000u;
    } else if (operationId == 0) {
        return -1;
    }
    if (softwareId == 0 || guid_.empty()) return -1;
    if (publicIp_.empty() || country_.empty()) QueryLocation();
    std::string useTime;
    if (useTime_ != 0) useTime = std::to_string(useTime_);
    const std::string url = baseUrl_ + "/AddUserLog?USER_ID=" + userId_ + "&OP_ID=" + FormatId08(operationId) +
                            "&SoftWareID=" + FormatId08(softwareId) + "&RegEmail=" + Text(email) +
                            "&UseTime=" + useTime + "&Location=" + country_ + "&City=" + city_ +
                            "&OutIP=" + publicIp_ + "&LanguageId=" + FormatId08(languageId) +
                            "&Result=" + FormatId08(result) + "&ResultData=" + Text(resultData) +
                            "&SiteID=" + FormatId08(siteId) + "&CurVersion=" + Text(currentVersion) +
                            "&ActivityID=" + FormatId08(activityId) + "&VersionID=" + FormatId08(versionId);
    std::string reply;
    HttpGet(url, reply);
    return reply.empty() ? -1 : 0;
}

int WebLog::QueryTools(const char** reply, int softwareId, int languageId) {
    toolsReply_.clear();
    if (softwareId == 0 || languageId == 0) return -1;
    const std::string url =
        baseUrl_ + "/QueryTools?LanguageId=" + FormatId08(languageId) + "&SoftWareID=" + FormatId08(softwareId);
    if (HttpGetWithRetries(url, toolsReply_) != 0) return -1;
    if (reply != nullptr) *reply = toolsReply_.c_str();
    return 0;
}

int WebLog::QueryDownloader(const char** reply, int softwareId, int languageId, int siteId) {
    downloaderReply_.clear();
    if (softwareId == 0 || languageId == 0 || siteId == 0) return -1;
    const std::string url = baseUrl_ + "/QueryDownloader?LanguageId=" + FormatId08(languageId) +
                            "&SoftWareID=" + FormatId08(softwareId) + "&SiteID=" + FormatId08(siteId);
    if (HttpGetWithRetries(url, downloaderReply_) != 0) return -1;
    if (reply != nullptr) *reply = downloaderReply_.c_str();
    return 0;
}

int WebLog::ReportLog(int softwareId, const char* email, const char* content, const char* uploadId) {
    if (softwareId == 0) return -1;
    if (publicIp_.empty() || country_.empty()) QueryLocation();
    const std::string url = baseUrl_ + "/ReportLog?USER_ID=" + userId_ + "&SoftWareID=" + FormatId08(softwareId) +
                            "&Email=" + Text(email) + "&OutIP=" + publicIp_ + "&Content=" + UrlEncode(Text(content)) +
                            "&UploadID=" + Text(uploadId);
    std::string reply;
    HttpGet(url, reply);
    return reply.empty() ? -1 : 0;
}

int WebLog::SendAnalyticsEvent(const char* propertyId, const char* appName, const char* appVersion,
                               const char* category, const char* action, const char* label,
                               const char* customDimensions) {
    const std::string tid = Text(propertyId), an = Text(appName), av = Text(appVersion), ec = Text(category),
                      ea = Text(action), el = Text(label), cd = Text(customDimensions);
    if (tid.empty() || an.empty() || av.empty() || ec.empty() || ea.empty() || cd.empty()) return 254;
    // Values are percent-encoded so that a "&" or "=" in a label cannot forge parameters.
    const std::string body = "v=1&tid=" + UrlEncode(tid) + "&cid=" + UrlEncode(MachineId() + AdapterMac()) +
                             "&t=event&ec=" + UrlEncode(ec) + "&ea=" + UrlEncode(ea) + "&el=" + UrlEncode(el) +
                             "&an=" + UrlEncode(an) + "&av=" + UrlEncode(av) + cd;
    if (poster_.Post(options_.endpoints.analyticsUrl, "", body) != CURLE_OK) return 255;
    if (poster_.Status() != 200 || poster_.ReplyBody().empty()) return 255;
    return poster_.ReplyBody().compare(0, 3, "GIF") == 0 ? 0 : 253;
}
