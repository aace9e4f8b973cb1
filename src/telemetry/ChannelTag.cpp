#include "src/telemetry/ChannelTag.h"

#include <array>
#include <string_view>

namespace {

struct SiteTag {
    int siteId;
    const char* tag;
};

constexpr std::array<SiteTag, 27> kSiteTags{{
    {101, "home"},        {102, "portal"},      {103, "partner"},    {104, "newsletter"}, {105, "affiliate"},
    {106, "ppc-search"},  {107, "blog"},        {108, "forum"},      {109, "social"},     {110, "video"},
    {111, "review"},      {112, "mirror"},      {113, "bundle"},     {114, "upgrade"},    {115, "trial"},
    {116, "ppc-display"}, {117, "support"},     {118, "store"},      {119, "mailing"},    {120, "banner"},
    {121, "campaign"},    {122, "press"},       {123, "education"},  {124, "reseller"},   {125, "ppc-brand"},
    {126, "ppc-generic"}, {127, "seo-organic"},
}};

// Sites whose tag depends on the download URL.
constexpr int kSearchSite = 106;
constexpr int kBrandSite = 125;
constexpr std::array<std::string_view, 4> kSearchEngineMarkers{"_bing_", "_bing.", "_yahoo_", "_yahoo."};
constexpr std::string_view kBrandVariantMarker = "_promo_";

bool HasSearchEngineMarker(const std::string& url) {
    for (std::string_view marker : kSearchEngineMarkers) {
        if (url.find(marker) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

std::string TrafficType(int siteId) {
    return (siteId == 106 || siteId == 116 || siteId == 125 || siteId == 126) ? "PPC" : "SEO";
}

std::string ChannelTag(int siteId, const std::string& lowerCaseDownloadUrl) {
    if (siteId == kSearchSite && HasSearchEngineMarker(lowerCaseDownloadUrl)) return "ppc-search-bingyahoo";
    if (siteId == kBrandSite) {
        if (HasSearchEngineMarker(lowerCaseDownloadUrl)) return "ppc-brand-bingyahoo";
        if (lowerCaseDownloadUrl.find(kBrandVariantMarker) != std::string::npos) return "ppc-brand-promo";
    }
    for (const SiteTag& entry : kSiteTags) {
        if (entry.siteId == siteId) return entry.tag;
    }
    return std::to_string(siteId);
}
