// The download engine (as setup-tool download) against the HTTP servers people run and
// against our own test server misbehaving: each serves the same file, the download is
// killed with SIGKILL part-way and resumed, and the result must be byte-identical, with
// every Range request checked in the server's own access log.
//
// With QV_CONFORMANCE_TABLE set to a file, each case appends its row of the table
// (server|scheme|result|state at the kill|ranges first run|ranges resumed run), which
// bench/conformance.sh prints.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>

#include "tests/network/NetworkTestSupport.h"
#include "tests/support/RealWebServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

namespace fs = std::filesystem;
using namespace nettest;

namespace {

// Six tasks, the last one a little longer. The killed run has two workers on a throttled
// server, so that the kill finds tasks finished, tasks part-way and tasks not begun; the
// resumed run goes at full speed with the usual ten.
constexpr std::int64_t kSize = 6 * MiB + 12345;
constexpr std::int64_t kThrottle = 512 * 1024;
const std::string kPath = "/setup.bin";

std::string RandomContent(std::int64_t size) {
    std::mt19937_64 random(20261210);
    std::string content(static_cast<std::size_t>(size), '\0');
    for (char& c : content) c = static_cast<char>(random());
    return content;
}

const std::string& Content() {
    static const std::string content = RandomContent(kSize);
    return content;
}

// A server under test: started once per run (a real server is restarted between runs,
// as after a crash or an upgrade, which also keeps each run's access log apart).
class Server {
public:
    virtual ~Server() = default;
    // Empty when the server can run here; otherwise why it is skipped.
    virtual std::string unavailable() const { return {}; }
    virtual bool start(bool throttled, std::string& error) = 0;
    virtual void stop() = 0;
    virtual std::string url() const = 0;
    // Range headers of the GET requests for the file since the last start, in log order.
    virtual std::vector<std::string> ranges() = 0;
    // Environment setup-tool needs for it.
    virtual std::vector<std::string> environment() const { return {}; }
    // A server that answers every request well is asked for each task once per run.
    virtual bool wellBehaved() const { return true; }
};

class SystemServer : public Server {
public:
    SystemServer(qvtest::WebServerKind kind, const fs::path& folder, bool tls) : kind_(kind), folder_(folder) {
        fs::create_directories(folder / "www");
        std::ofstream(folder / "www" / "setup.bin", std::ios::binary) << Content();
        server_ = std::make_unique<qvtest::RealWebServer>(kind, folder / "server", folder / "www");
        if (tls) MakeCertificates();
    }
    std::string unavailable() const override {
        if (!qvtest::RealWebServer::Program(kind_)) {
            return std::string(qvtest::RealWebServer::Name(kind_)) + " is not installed (tools/setup.sh installs it)";
        }
        return certificateError_;
    }
    bool start(bool throttled, std::string& error) override {
        server_->ClearAccessLog();
        options_.bytesPerSecond = throttled ? kThrottle : 0;
        return server_->Start(options_, error);
    }
    void stop() override { server_->Stop(); }
    std::string url() const override { return server_->url(kPath); }
    std::vector<std::string> ranges() override {
        std::vector<std::string> out;
        for (const auto& request : server_->AccessLog()) {
            if (request.method == "GET" && request.path == kPath) out.push_back(request.range);
        }
        return out;
    }
    std::vector<std::string> environment() const override {
        if (options_.certPath.empty()) return {};
        return {"CURL_CA_BUNDLE=" + (folder_ / "ca.pem").string()};
    }

private:
    // A throw-away certificate authority and a server certificate it signed for 127.0.0.1:
    // the client trusts the server only through the bundle named in CURL_CA_BUNDLE.
    void MakeCertificates() {
        const std::string f = "'" + folder_.string() + "'";
        const std::string script =
            "cd " + f + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Conformance-Test-CA"
            " -keyout ca.key -out ca.pem && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1"
            " -keyout server.key -out server.csr && printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext"
            " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
            " -extfile san.ext -out server.pem && chmod 644 server.key";
        if (std::system((script + " >/dev/null 2>&1").c_str()) != 0) {
            certificateError_ = "openssl could not make the test certificates";
            return;
        }
        options_.certPath = (folder_ / "server.pem").string();
        options_.keyPath = (folder_ / "server.key").string();
    }

    qvtest::WebServerKind kind_;
    fs::path folder_;
    std::unique_ptr<qvtest::RealWebServer> server_;
    qvtest::WebServerOptions options_;
    std::string certificateError_;
};

// Our own test server in one of its misbehaving modes, in both runs unless
// `firstRunOnly`.
class OwnServer : public Server {
public:
    OwnServer(qvtest::FileOptions mode, bool redirected, bool firstRunOnly = false, bool lowerCaseHeaders = false)
        : mode_(mode), redirected_(redirected), firstRunOnly_(firstRunOnly) {
        server_.setLowerCaseHeaders(lowerCaseHeaders);
    }
    bool start(bool throttled, std::string& error) override {
        (void)error;
        qvtest::FileOptions options = starts_++ > 0 && firstRunOnly_ ? qvtest::FileOptions{} : mode_;
        if (throttled) options.bytesPerSecond = kThrottle;
        server_.serveFile(filePath(), Content(), options);
        if (redirected_) server_.redirect(kPath, filePath());
        server_.resetCounters();
        return true;
    }
    void stop() override { server_.releaseStalls(); }
    std::string url() const override { return server_.url(kPath); }
    std::vector<std::string> ranges() override {
        std::vector<std::string> out;
        for (const auto& request : server_.requests()) {
            if (request.method == "GET" && request.path == filePath()) out.push_back(request.range);
        }
        return out;
    }
    bool wellBehaved() const override { return mode_.fault == qvtest::FaultKind::None && mode_.status == 0; }

private:
    std::string filePath() const { return redirected_ ? "/files/setup.bin" : kPath; }

    qvtest::FileOptions mode_;
    bool redirected_;
    bool firstRunOnly_;
    int starts_ = 0;
    qvtest::TestHttpServer server_;
};

struct Row {
    const char* name;    // test name
    const char* server;  // as the table shows it
    const char* scheme;
    std::function<std::unique_ptr<Server>(const fs::path&)> make;
};

qvtest::FileOptions Mode(std::function<void(qvtest::FileOptions&)> change) {
    qvtest::FileOptions options;
    change(options);
    return options;
}

const Row kRows[] = {
    {"Nginx", "nginx", "HTTP",
     [](const fs::path& f) { return std::make_unique<SystemServer>(qvtest::WebServerKind::Nginx, f, false); }},
    {"NginxTls", "nginx (test CA in CURL_CA_BUNDLE)", "HTTPS",
     [](const fs::path& f) { return std::make_unique<SystemServer>(qvtest::WebServerKind::Nginx, f, true); }},
    {"Apache", "Apache httpd", "HTTP",
     [](const fs::path& f) { return std::make_unique<SystemServer>(qvtest::WebServerKind::Apache, f, false); }},
    {"Lighttpd", "lighttpd", "HTTP",
     [](const fs::path& f) { return std::make_unique<SystemServer>(qvtest::WebServerKind::Lighttpd, f, false); }},
    {"OwnServerRedirected", "test server: 302 to the file", "HTTP",
     [](const fs::path&) { return std::make_unique<OwnServer>(qvtest::FileOptions{}, true); }},
    {"OwnServerLowerCase", "test server: header names in lower case", "HTTP",
     [](const fs::path&) { return std::make_unique<OwnServer>(qvtest::FileOptions{}, false, false, true); }},
    {"OwnServerDropping", "test server: drops 3 responses after 300 KiB", "HTTP",
     [](const fs::path&) {
         return std::make_unique<OwnServer>(Mode([](qvtest::FileOptions& o) {
                                                o.fault = qvtest::FaultKind::Drop;
                                                o.faultPerResponse = true;
                                                o.faultAt = 300 * 1024;
                                                o.faultTimes = 3;
                                            }),
                                            false);
     }},
    {"OwnServerStalling", "test server: 2 responses stall 2 s, then close", "HTTP",
     [](const fs::path&) {
         return std::make_unique<OwnServer>(Mode([](qvtest::FileOptions& o) {
                                                o.fault = qvtest::FaultKind::Stall;
                                                o.faultPerResponse = true;
                                                o.faultAt = 200 * 1024;
                                                o.faultTimes = 2;
                                                o.stallMs = 2000;
                                            }),
                                            false);
     }},
    // Only in the first run: a resumed run whose one size check meets a 503 starts over.
    {"OwnServerBusy", "test server: 503 to the first 3 requests (first run)", "HTTP",
     [](const fs::path&) {
         return std::make_unique<OwnServer>(Mode([](qvtest::FileOptions& o) {
                                                o.status = 503;
                                                o.statusTimes = 3;
                                            }),
                                            false, true);
     }},
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.server << " over " << row.scheme; }

void AppendTableRow(const Row& row, const std::string& result, const std::vector<TaskState>& atKill,
                    std::size_t first, std::size_t resumed) {
    const char* table = std::getenv("QV_CONFORMANCE_TABLE");
    if (table == nullptr || *table == '\0') return;
    int finished = 0, partial = 0, untouched = 0;
    for (const TaskState& task : atKill) {
        (task.finished() ? finished : task.downloaded == task.start ? untouched : partial) += 1;
    }
    const std::string kill = atKill.empty() ? "-"
                                            : std::to_string(RecordedBytes(atKill) * 100 / kSize) + " % saved: " +
                                                  std::to_string(finished) + " tasks done, " + std::to_string(partial) +
                                                  " part-way, " + std::to_string(untouched) + " not begun";
    std::ofstream(table, std::ios::app) << row.server << "|" << row.scheme << "|" << result << "|" << kill << "|"
                                        << first << "|" << resumed << "\n";
}

class ServerConformance : public ::testing::TestWithParam<Row> {};

TEST_P(ServerConformance, KilledDownloadResumesByteIdenticalWithExactRanges) {
    const Row& row = GetParam();
    qvtest::TempFolder folder("qv-conformance-");
    std::unique_ptr<Server> server = row.make(folder.path());
    if (const std::string why = server->unavailable(); !why.empty()) {
        AppendTableRow(row, "skipped: " + why, {}, 0, 0);
        GTEST_SKIP() << why;
    }
    const std::string file = folder.file("download.bin"), taskFile = file + ".xml";

    std::string error;
    ASSERT_TRUE(server->start(true, error)) << error;
    auto first = StartDownload(server->url(), file, server->environment(), {"--threads", "2"});
    ASSERT_TRUE(first);
    const std::vector<TaskState> atKill = KillOnceRecorded(*first, taskFile, kSize * 45 / 100);
    server->stop();
    ASSERT_GT(atKill.size(), 1u);
    ASSERT_LT(RecordedBytes(atKill), kSize) << "the first run finished before the kill";
    std::vector<TaskState> fresh = atKill;
    for (TaskState& task : fresh) task.downloaded = task.start;
    const std::vector<std::string> firstRanges = server->ranges();
    ExpectRangesContinueTasks(fresh, firstRanges, server->wellBehaved(), false, "first run");

    ASSERT_TRUE(server->start(false, error)) << error;
    auto second = StartDownload(server->url(), file, server->environment());
    ASSERT_TRUE(second);
    const DownloadRun resumed = FinishDownload(*second, 180000);
    server->stop();
    EXPECT_EQ(resumed.exitCode, 0) << resumed.out;
    EXPECT_NE(resumed.out.find("resuming " + file), std::string::npos) << resumed.out;
    EXPECT_NE(resumed.out.find("complete, size " + std::to_string(kSize)), std::string::npos) << resumed.out;
    std::ifstream in(file, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got.size(), Content().size());
    EXPECT_TRUE(got == Content()) << "the resumed file differs from the one served";
    const std::vector<std::string> resumedRanges = server->ranges();
    // A stalled or slow request of the resumed run may have been cut and its rest given to
    // an idle worker: the task file then holds the new tasks, and the bytes between the cut
    // and the end of the cut request were asked for twice.
    const std::vector<TaskState> later = ReadTaskFile(taskFile);
    const bool cut = later.size() > atKill.size();
    ExpectRangesContinueTasks(cut ? CutAsLater(atKill, later) : atKill, resumedRanges, server->wellBehaved() && !cut,
                              true, "resumed run");

    AppendTableRow(row, HasFailure() ? "FAILED" : "byte-identical", atKill, firstRanges.size(), resumedRanges.size());
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerConformance, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
