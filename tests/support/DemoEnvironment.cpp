#include "tests/support/DemoEnvironment.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

#include "tests/support/Digests.h"
#include "tests/support/TestFiles.h"

namespace qvtest {
namespace {

constexpr const char* kInstallerPath = "/downloads/extra/MorvikBackupSetup.exe";

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string DemoEnvironment::Md5Hex(const std::string& bytes) { return qvtest::Md5Hex(bytes); }

DemoEnvironment::DemoEnvironment(Options options) : options_(std::move(options)) {
    installer_ = qvtest::ReadFile(options_.installerPath);
    if (installer_.empty()) throw std::runtime_error("cannot read the sample installer " + options_.installerPath);
    md5_ = options_.md5.empty() ? Md5Hex(installer_) : options_.md5;
    service_ = std::make_unique<FakeMakerService>();
    downloads_ = std::make_unique<TestHttpServer>();
    downloads_->serveFile(kInstallerPath, installer_);
    service_->SetReply(FakeMakerService::Endpoint::QueryDownloader, ConfigurationReply(), "application/xml");
}

DemoEnvironment::~DemoEnvironment() {
    if (service_) service_->Stop();
}

std::string DemoEnvironment::primaryUrl() const { return downloads_->url(kInstallerPath); }

std::string DemoEnvironment::cdnUrl() const {
    return "http://cdn.localhost:" + std::to_string(downloads_->port()) + kInstallerPath;
}

std::string DemoEnvironment::ConfigurationReply() const {
    const std::string extra = options_.withCdnLocation ? cdnUrl() : primaryUrl();
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<Downloader>\n"
           "  <Downloader_id>224</Downloader_id>\n"
           "  <Software_id>0</Software_id>\n"
           "  <Site_id>127</Site_id>\n"
           "  <Software_name>" + XmlEscape(options_.softwareName) + "</Software_name>\n"
           "  <Software_version>" + XmlEscape(options_.softwareVersion) + "</Software_version>\n"
           "  <Process_name>" + XmlEscape(options_.processName) + "</Process_name>\n"
           "  <Install_url></Install_url>\n"
           "  <Download_url>" + XmlEscape(primaryUrl()) + "</Download_url>\n"
           "  <Extra_download_url>" + XmlEscape(extra) + "</Extra_download_url>\n"
           "  <Banner_url></Banner_url>\n"
           "  <Licensefile_url></Licensefile_url>\n"
           "  <Md5>" + md5_ + "</Md5>\n"
           "  <Filesize>" + std::to_string(installer_.size()) + "</Filesize>\n"
           "  <Cnet_download_url></Cnet_download_url>\n"
           "  <Md5_extra></Md5_extra>\n"
           "  <Downloader_type>" + std::to_string(options_.downloaderType) + "</Downloader_type>\n"
           "</Downloader>\n";
}

void DemoEnvironment::ServeInstaller(std::string bytes) {
    installer_ = std::move(bytes);
    downloads_->serveFile(kInstallerPath, installer_);
}

std::vector<std::string> DemoEnvironment::EnvironmentLines() const {
    const ServiceEndpoints endpoints = service_->Endpoints();
    return {
        "QV_SERVICE_BASE_URL=" + endpoints.serviceBaseUrl,
        "QV_SERVICE_LOCATOR_URL=" + endpoints.serviceLocatorUrl,
        "QV_LOCATION_URL=" + endpoints.locationUrl,
        "QV_ANALYTICS_URL=" + endpoints.analyticsUrl,
        "QV_EXCEPTION_URL=" + endpoints.exceptionUrl,
        // The speed test measures each location for a quarter of its usual time, and the
        // wait for the installer looks four times a second: the same stages in seconds less.
        "QV_TEST_SPEED_STEP_MS=250",
        "QV_TEST_INSTALLER_WAIT_MS=250",
    };
}

std::vector<std::string> DemoEnvironment::Funnel() const {
    std::vector<std::string> lines;
    for (const auto& hit : service_->Requests(FakeMakerService::Endpoint::Collect)) {
        lines.push_back(hit.Field("ec") + " / " + hit.Field("ea") + " / " + hit.Field("el"));
    }
    return lines;
}

}  // namespace qvtest
