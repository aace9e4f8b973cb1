// The web-service client verifies the certificates of HTTPS services: a server whose
// certificate the client cannot trust gets no request; naming its certificate in
// CURL_CA_BUNDLE makes it trusted.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/TempFolder.h"
#include "src/telemetry/WebLog.h"

namespace {

namespace fs = std::filesystem;

class TlsServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        cert_ = folder_.file("cert.pem");
        key_ = folder_.file("key.pem");
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key_ + "' -out '" + cert_ +
                                    "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a test certificate";
        server_ = std::make_unique<httplib::SSLServer>(cert_.c_str(), key_.c_str());
        ASSERT_TRUE(server_->is_valid());
        server_->Get(".*/QueryTools", [this](const httplib::Request&, httplib::Response& res) {
            ++requests_;
            res.set_content("<Tools/>", "text/plain");
        });
        server_->Post(".*/collect", [this](const httplib::Request&, httplib::Response& res) {
            ++requests_;
            res.set_content("GIF89a", "image/gif");
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        unsetenv("CURL_CA_BUNDLE");
    }
    void TearDown() override {
        unsetenv("CURL_CA_BUNDLE");
        if (server_) server_->stop();
        if (thread_.joinable()) thread_.join();
    }

    WebLogOptions Options() const {
        const std::string base = "https://127.0.0.1:" + std::to_string(port_);
        WebLogOptions options;
        options.endpoints.serviceBaseUrl = base;
        options.endpoints.serviceLocatorUrl = base + "/locator";
        options.endpoints.locationUrl = base + "/csv";
        options.endpoints.analyticsUrl = base + "/collect";
        options.endpoints.exceptionUrl = base + "/api/exception/send";
        options.registryFolder = folder_.path();
        return options;
    }

    qvtest::TempFolder folder_{"qv-tls-"};
    std::string cert_, key_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<int> requests_{0};
};

TEST_F(TlsServiceTest, UntrustedCertificateGetsNoRequest) {
    WebLog client(Options());
    const char* reply = nullptr;
    EXPECT_EQ(client.QueryTools(&reply, 31, 1033), -1);
    EXPECT_EQ(client.SendAnalyticsEvent("UA-1-1", "Downloader", "1.0.0.0", "c", "a", "", "&cd1=x"), 255);
    EXPECT_EQ(requests_.load(), 0);
}

TEST_F(TlsServiceTest, CertificateNamedInCurlCaBundleIsTrusted) {
    setenv("CURL_CA_BUNDLE", cert_.c_str(), 1);
    WebLog client(Options());
    const char* reply = nullptr;
    EXPECT_EQ(client.QueryTools(&reply, 31, 1033), 0);
    EXPECT_STREQ(reply, "<Tools/>");
    EXPECT_EQ(client.SendAnalyticsEvent("UA-1-1", "Downloader", "1.0.0.0", "c", "a", "", "&cd1=x"), 0);
    EXPECT_EQ(requests_.load(), 2);
}

}  // namespace
