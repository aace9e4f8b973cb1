#pragma once
// The maker's side of a whole install on this machine: the fake maker service answering
// with a configuration for the sample product, and a download server offering the signed
// sample installer at two locations, one of which looks like a content-delivery host
// ("cdn.localhost" resolves to 127.0.0.1). Used by the end-to-end tests and the demo.
//
// Threads: the servers run on their own threads; methods are thread-safe.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/FakeMakerService.h"
#include "tests/support/TestHttpServer.h"

namespace qvtest {

class DemoEnvironment {
public:
    struct Options {
        std::string installerPath;                      // the signed sample installer
        std::string softwareName = "Morvik Backup";
        std::string softwareVersion = "1.0.0.0";
        std::string processName = "MorvikBackup.exe";
        std::string md5;                                // empty: the installer's real digest
        int downloaderType = 3;
        bool withCdnLocation = true;
    };

    // Throws std::runtime_error when the installer cannot be read or a port cannot be had.
    explicit DemoEnvironment(Options options);
    ~DemoEnvironment();

    FakeMakerService& service() { return *service_; }
    TestHttpServer& downloads() { return *downloads_; }
    const std::string& installerMd5() const { return md5_; }
    const std::string& installerBytes() const { return installer_; }
    std::string primaryUrl() const;  // http://127.0.0.1:PORT/downloads/extra/MorvikBackupSetup.exe
    std::string cdnUrl() const;      // http://cdn.localhost:PORT/...
    // The configuration reply the service gives for the sample product.
    std::string ConfigurationReply() const;
    // Replaces the installer the download server offers (a tampered copy, say).
    void ServeInstaller(std::string bytes);

    // Environment for a Setup process pointed at this service: "NAME=value" lines.
    std::vector<std::string> EnvironmentLines() const;
    // The analytics hits received so far as "category / action / label" lines, in order.
    std::vector<std::string> Funnel() const;

    static std::string Md5Hex(const std::string& bytes);

private:
    Options options_;
    std::string installer_;
    std::string md5_;
    std::unique_ptr<FakeMakerService> service_;
    std::unique_ptr<TestHttpServer> downloads_;
};

}  // namespace qvtest
