// Behind a proxy, as installers in companies are: every request of Setup and of its
// download engine goes through the proxy named by http_proxy / https_proxy (a real
// tinyproxy on 127.0.0.1), and a proxy that refuses ends the attempt with the usual
// network failure instead of a hang.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "src/wizard/CUnattendedInstall.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/DemoEnvironment.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace fs = std::filesystem;
using namespace nettest;

namespace {

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
    std::size_t count = 0;
    for (const std::string& line : lines) count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class Proxy : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qvtest::TinyProxy::Program()) GTEST_SKIP() << "tinyproxy is not installed (tools/setup.sh installs it)";
    }
    // libcurl reads the lower-case http_proxy only (the upper-case one is ignored, as any
    // CGI program could have it set by a request); no_proxy is cleared so that 127.0.0.1
    // is not exempted by the machine's settings.
    static std::vector<std::string> ProxyEnvironment(const std::string& proxy) {
        return {"http_proxy=" + proxy, "https_proxy=" + proxy};
    }

    static qvtest::DemoEnvironment::Options DemoOptions() {
        qvtest::DemoEnvironment::Options options;
        options.installerPath = QV_BUILD_DIR "/sample/MorvikBackupSetup.exe";
        // A name only libcurl itself resolves to this machine would not resolve at the proxy.
        options.withCdnLocation = false;
        return options;
    }

    // `Setup /S` as a user whose home, temporary folder and registry are in `root`,
    // installing into root/opt/Morvik, with a clean environment pointed at `demo` and `proxy`.
    static qvtest::ShellResult RunSetup(const qvtest::DemoEnvironment& demo, const std::string& proxy,
                                        const fs::path& root) {
        for (const char* sub : {"home", "tmp", "registry"}) fs::create_directories(root / sub);
        std::string env = "env -i PATH=/usr/bin:/bin LANG=en_US.UTF-8 HOME='" + (root / "home").string() +
                          "' TMPDIR='" + (root / "tmp").string() + "' QV_REGISTRY_DIR='" +
                          (root / "registry").string() + "'";
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) env += std::string(" LSAN_OPTIONS='") + lsan + "'";
        for (const auto& line : demo.EnvironmentLines()) env += " '" + line + "'";
        for (const auto& line : ProxyEnvironment(proxy)) env += " '" + line + "'";
        return qvtest::RunShellCommand(env + " " QV_SETUP_EXE " /S '/DIR=" + (root / "opt" / "Morvik").string() + "'",
                                       root);
    }

    qvtest::TempFolder folder_{"qv-proxy-"};
};

TEST_F(Proxy, EverySetupRequestGoesThroughTheProxy) {
    // A genuine installer: configuration, identity, location, speed test, download and
    // analytics. A tampered one adds the failure report. Each run has its own proxy,
    // servers and user, so the two run side by side (most of a run is its speed test's
    // fixed seconds).
    struct Case {
        bool tampered;
        std::unique_ptr<qvtest::TinyProxy> proxy;
        std::unique_ptr<qvtest::DemoEnvironment> demo;
        fs::path root;
        qvtest::ShellResult run;
    };
    Case cases[2];
    for (const bool tampered : {false, true}) {
        Case& c = cases[tampered ? 1 : 0];
        c.tampered = tampered;
        c.proxy = std::make_unique<qvtest::TinyProxy>(folder_.path() / (tampered ? "proxy-tampered" : "proxy"));
        std::string error;
        ASSERT_TRUE(c.proxy->Start(error)) << error;
        c.demo = std::make_unique<qvtest::DemoEnvironment>(DemoOptions());
        if (tampered) {
            std::string bytes = c.demo->installerBytes();
            bytes[bytes.size() / 2] ^= 0x01;
            c.demo->ServeInstaller(bytes);
        }
        c.root = folder_.path() / (tampered ? "tampered" : "genuine");
    }
    {
        std::thread tamperedRun([&c = cases[1]] { c.run = RunSetup(*c.demo, c.proxy->url(), c.root); });
        cases[0].run = RunSetup(*cases[0].demo, cases[0].proxy->url(), cases[0].root);
        tamperedRun.join();
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.tampered ? "tampered installer" : "genuine installer");
        const bool tampered = c.tampered;
        qvtest::DemoEnvironment& demo = *c.demo;
        const qvtest::ShellResult& run = c.run;
        const fs::path target = c.root / "opt" / "Morvik";
        demo.service().Stop();
        c.proxy->Stop();
        ASSERT_EQ(run.exitCode, tampered ? UNATTENDED_BAD_SIGNATURE : UNATTENDED_INSTALLED) << run.out << run.err;
        EXPECT_EQ(fs::exists(target / "Morvik Backup" / "MorvikBackup.exe"), !tampered);

        const std::vector<std::string> proxied = c.proxy->Requests();
        // As many requests passed the proxy as reached the service and the download server.
        const std::string service = "http://127.0.0.1:" + std::to_string(demo.service().Port()) + "/";
        EXPECT_EQ(demo.service().Count(qvtest::FakeMakerService::Endpoint::QueryDownloader), 1u);
        EXPECT_EQ(CountContaining(proxied, "GET " + service + "default/QueryDownloader?"), 1u) << Joined(proxied);
        EXPECT_EQ(CountContaining(proxied, " " + service), demo.service().Requests().size()) << Joined(proxied);
        EXPECT_GT(CountContaining(proxied, "POST " + service + "collect"), 0u) << Joined(proxied);
        EXPECT_EQ(CountContaining(proxied, "POST " + service + "api/exception/send"), tampered ? 1u : 0u)
            << Joined(proxied);
        bool speedTested = false;
        for (const auto& line : demo.Funnel()) speedTested |= line.rfind("DownloaderInfo / UrlUsed / ", 0) == 0;
        EXPECT_TRUE(speedTested) << "no speed test was reported";
        const std::string downloads = "http://127.0.0.1:" + std::to_string(demo.downloads().port()) + "/";
        EXPECT_GT(demo.downloads().requestCount(), 0u);
        EXPECT_EQ(CountContaining(proxied, " " + downloads), demo.downloads().requestCount()) << Joined(proxied);
    }
}

TEST_F(Proxy, AKilledDownloadResumesThroughTheProxy) {
    const std::int64_t size = 6 * MiB + 4321;
    // Through http_proxy as plain requests, and through https_proxy as a CONNECT tunnel
    // with the server's certificate still checked end to end.
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        const fs::path dir = folder_.path() / (tls ? "https" : "http");
        fs::create_directories(dir);
        std::vector<std::string> environment;
        std::unique_ptr<qvtest::TestHttpServer> server;
        if (tls) {
            const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                                        " -addext subjectAltName=IP:127.0.0.1 -keyout '" + (dir / "key.pem").string() +
                                        "' -out '" + (dir / "cert.pem").string() + "' >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a test certificate";
            server = std::make_unique<qvtest::TestHttpServer>((dir / "cert.pem").string(), (dir / "key.pem").string());
            environment.push_back("CURL_CA_BUNDLE=" + (dir / "cert.pem").string());
        } else {
            server = std::make_unique<qvtest::TestHttpServer>();
        }
        qvtest::FileOptions slow;
        slow.bytesPerSecond = 256 * 1024;
        server->serveGenerated("/setup.bin", size, slow);
        qvtest::TinyProxy proxy(dir / "proxy");
        std::string error;
        ASSERT_TRUE(proxy.Start(error)) << error;
        for (const auto& line : ProxyEnvironment(proxy.url())) environment.push_back(line);

        const std::string file = (dir / "setup.bin").string();
        auto first = StartDownload(server->url("/setup.bin"), file, environment);
        ASSERT_TRUE(first);
        const std::vector<TaskState> atKill = KillOnceRecorded(*first, file + ".xml", size / 5);
        ASSERT_LT(RecordedBytes(atKill), size);
        server->setOptions("/setup.bin", {});
        auto second = StartDownload(server->url("/setup.bin"), file, environment);
        ASSERT_TRUE(second);
        const DownloadRun resumed = FinishDownload(*second, 180000);
        proxy.Stop();
        EXPECT_EQ(resumed.exitCode, 0) << resumed.out;
        EXPECT_NE(resumed.out.find("resuming " + file), std::string::npos) << resumed.out;
        const std::string got = qvtest::ReadFile(file);
        EXPECT_TRUE(got == qvtest::TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size)))
            << "the resumed file differs from the one served";

        const std::vector<std::string> proxied = proxy.Requests();
        const std::string hostPort = "127.0.0.1:" + std::to_string(server->port());
        if (tls) {
            // One tunnel per connection; the requests inside are the server's to count.
            EXPECT_GT(CountContaining(proxied, "CONNECT " + hostPort), 0u) << Joined(proxied);
            EXPECT_EQ(CountContaining(proxied, "CONNECT "), proxied.size()) << Joined(proxied);
        } else {
            EXPECT_EQ(CountContaining(proxied, " http://" + hostPort + "/setup.bin "), server->requestCount())
                << Joined(proxied);
        }
    }
}

TEST_F(Proxy, SetupBehindARefusingProxyEndsWithTheNetworkFailure) {
    qvtest::TinyProxy proxy(folder_.path() / "proxy", true);
    std::string error;
    ASSERT_TRUE(proxy.Start(error)) << error;
    qvtest::DemoEnvironment demo(DemoOptions());
    const fs::path target = folder_.path() / "opt" / "Morvik";
    const qvtest::ShellResult run = RunSetup(demo, proxy.url(), folder_.path());
    proxy.Stop();
    // No configuration from the service (the skin's stands in), no download: the failure
    // a dead network gives, within seconds.
    EXPECT_EQ(run.exitCode, UNATTENDED_BAD_DOWNLOAD) << run.out << run.err;
    EXPECT_NE(run.err.find("Setup: UrlFail:"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(target / "Morvik Backup" / "MorvikBackup.exe"));
    EXPECT_EQ(demo.service().Requests().size(), 0u) << "a request went around the proxy";
    EXPECT_EQ(demo.downloads().requestCount(), 0u) << "a request went around the proxy";
    EXPECT_GT(proxy.Refusals(), 0u);
}

TEST_F(Proxy, ARefusingProxyEndsTheDownloadWithTheNetworkFailure) {
    struct Case {
        const char* name;
        bool listening;  // false: nothing listens on the proxy's port
    } cases[] = {{"closed port", false}, {"403 to every client", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qvtest::TestHttpServer server;
        server.serveGenerated("/setup.bin", 3 * MiB);
        const fs::path dir = folder_.path() / (c.listening ? "refusing" : "closed");
        qvtest::TinyProxy proxy(dir, true);
        std::string proxyUrl = "http://127.0.0.1:" + std::to_string(qvtest::ServerProcess::FreePort());
        if (c.listening) {
            std::string error;
            ASSERT_TRUE(proxy.Start(error)) << error;
            proxyUrl = proxy.url();
        }
        const std::string file = (dir / "setup.bin").string();
        auto run = StartDownload(server.url("/setup.bin"), file, ProxyEnvironment(proxyUrl));
        ASSERT_TRUE(run);
        // Refusals come at once; the bound only tells a hang from a failure.
        const DownloadRun result = FinishDownload(*run, 120000);
        proxy.Stop();
        EXPECT_EQ(result.exitCode, 1) << result.out;
        EXPECT_EQ(server.requestCount(), 0u) << "a request went around the proxy";
        if (c.listening) {
            EXPECT_GT(proxy.Refusals(), 0u);
        }
    }
}

}  // namespace
