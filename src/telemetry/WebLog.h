#pragma once
// Client of the maker's web service: usage log, machine identity, configuration queries,
// free-text reports and analytics hits.
//
// GETs use a fresh libcurl handle each (6 s connect limit, 6 s without data ends a read);
// the analytics POST reuses the object's CurlPoster. The base URL starts as the configured
// default and is replaced from the service-locator file by GetUserId. The identity lives in
// the machine's registry store under HKLM "SOFTWARE\RodiZavi13" ("guid", "user_id").
//
// Threads: the object has no locks. Use it from one thread at a time, with one exception
// the analytics reporter relies on: SendAnalyticsEvent touches only the poster and fixed
// settings, so it may run while another thread is inside GetUserId (never two
// SendAnalyticsEvent calls at once).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "src/telemetry/CurlPoster.h"
#include "src/telemetry/IWebLog.h"
#include "src/telemetry/ServiceEndpoints.h"

struct WebLogOptions {
    ServiceEndpoints endpoints = ServiceEndpoints::FromEnvironment();
    // Folder of the registry store; unset = the store's own choice (QV_REGISTRY_DIR, ...).
    std::optional<std::filesystem::path> registryFolder;
};

class WebLog final : public IWebLog {
public:
    WebLog();
    explicit WebLog(WebLogOptions options);
    ~WebLog() override;

    int AddUserLog(int operationId, int result, const char* resultData, int softwareId, int languageId, int siteId,
                   const char* currentVersion, const char* email, int activityId, int versionId) override;
    int GetUserId(const char** guid, const char** userId) override;
    int QueryTools(const char** reply, int softwareId, int languageId) override;
    int QueryDownloader(const char** reply, int softwareId, int languageId, int siteId) override;
    int ReportLog(int softwareId, const char* email, const char* content, const char* uploadId) override;
    int SendAnalyticsEvent(const char* propertyId, const char* appName, const char* appVersion, const char* category,
                           const char* action, const char* label, const char* customDimensions) override;

    // The steps of GetUserId and the location lookup, in the order GetUserId runs them.
    // RefreshServiceUrl: 0, or -1 when the locator file could not be read (base URL kept).
    int RefreshServiceUrl();
    // 0 identity confirmed; -1 none stored or the service answered empty; -2 network failure.
    int QueryUser();
    int CreateUserId();
    // 0 (also when the lookup answered nothing), -1 when it never reported "success" or the
    // line is too short to hold country, city and address.
    int QueryLocation();

    const std::string& ServiceBaseUrl() const { return baseUrl_; }
    const std::string& Country() const { return country_; }
    const std::string& City() const { return city_; }
    const std::string& PublicIp() const { return publicIp_; }

    // The identity's registry key.
    static constexpr const char* kIdentityKey = "SOFTWARE\\RodiZavi13";
    // Bodies of service replies are held in memory; larger ones count as a failed request.
    static constexpr std::size_t kMaxReplyBytes = 16u << 20;

private:
    int HttpGet(const std::string& url, std::string& reply);
    // HttpGet up to three times while it fails, appending to the same reply.
    int HttpGetWithRetries(const std::string& url, std::string& reply);
    bool WriteIdentity();

    WebLogOptions options_;
    std::string guid_;
    std::string userId_;
    std::string publicIp_;
    std::string country_;
    std::string city_;
    std::uint32_t useTime_ = 0;
    std::uint32_t createdTick_ = 0;
    std::uint32_t exitTick_ = 0;
    std::string baseUrl_;
    std::string toolsReply_;
    std::string downloaderReply_;
    CurlPoster poster_;
};

// "a b&c" -> "a+b%26c": letters, digits, "-", "_", "." and "~" stay, a blank becomes "+",
// every other byte "%XX" (uppercase hex).
std::string UrlEncode(const std::string& text);

// printf "%08d": 5 -> "00000005", -5 -> "-0000005".
std::string FormatId08(int value);

// The hardware part of the analytics client id: CPUID leaf 1 ("%08X%08X", EDX then EAX),
// then the system volume serial ("%X", left out when unreadable).
std::string MachineId();
// The primary adapter's address as 12 uppercase hex digits; empty when none qualifies.
std::string AdapterMac();
