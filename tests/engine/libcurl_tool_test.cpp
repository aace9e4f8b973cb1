// Range transfer, header probe, body fetch, form post and the error texts, against a real
// HTTP(S) server on 127.0.0.1.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "src/engine/CDownloadThread.h"
#include "src/engine/CLibcurlTool.h"
#include "src/engine/DownloadTask.h"
#include "EngineTestSupport.h"
#include "tests/support/FakeMakerService.h"
#include "tests/support/TestHttpServer.h"

using enginetest::LogCapture;
using enginetest::ReadFile;
using enginetest::TempDir;
using qvtest::TestHttpServer;

namespace {

using enginetest::MiB;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// A worker that is never started: the tool only needs its task, file and write mutex.
class RangeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        file.reset(std::fopen(dir.file("out.bin").c_str(), "wb+"));
        ASSERT_TRUE(file);
        std::setvbuf(file.get(), nullptr, _IONBF, 0);
        worker = std::make_unique<CDownloadThread>(writeMutex, file.get(), timeouts);
    }
    // Runs one range request the way a worker does.
    CURLcode fetch(DownloadTask& task) {
        worker->assign(&task);
        worker->rangeRequest() = RangeRequest{};
        CLibcurlTool tool;
        EXPECT_TRUE(tool.init());
        tool.setRangeTimeouts(timeouts);
        return tool.httpDownloadContent(task.RemotePath, task.DownloadedPos, task.EndPos, worker.get());
    }
    static void setTask(DownloadTask& task, int id, std::int64_t start, std::int64_t end, const std::string& url) {
        task.TaskId = id;
        task.StartPos = start;
        task.EndPos = end;
        task.DownloadedPos = start;
        task.RemotePath = url;
    }
    std::string written() {
        std::fflush(file.get());
        return ReadFile(dir.file("out.bin"));
    }

    TempDir dir;
    TestHttpServer server;
    std::mutex writeMutex;
    RangeTimeouts timeouts;
    std::unique_ptr<std::FILE, FileCloser> file;
    std::unique_ptr<CDownloadThread> worker;
};

TEST_F(RangeFixture, CompleteRangeLandsAtItsOffsetAndEndsAtEndPos) {
    const std::int64_t size = 3 * MiB + 12345;
    server.serveGenerated("/f.bin", size);
    LogCapture log;

    DownloadTask second;
    setTask(second, 2, MiB, 2 * MiB - 1, server.url("/f.bin"));
    EXPECT_EQ(fetch(second), CURLE_OK);
    EXPECT_EQ(second.DownloadedPos, 2 * MiB - 1);
    EXPECT_TRUE(log.has(" Request Range: (2, 1048575) 1048576-2097151"));

    // The last task ends at the size itself: its request names one byte past the end.
    DownloadTask last;
    setTask(last, 3, 2 * MiB, size, server.url("/f.bin"));
    EXPECT_EQ(fetch(last), CURLE_OK);
    EXPECT_EQ(last.DownloadedPos, size);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=1048576-2097151");
    EXPECT_EQ(requests[1].range, "bytes=2097152-" + std::to_string(size));
    EXPECT_EQ(server.bytesSent(), size - MiB);

    const std::string out = written();
    ASSERT_EQ(static_cast<std::int64_t>(out.size()), size);
    EXPECT_EQ(out.substr(0, MiB), std::string(MiB, '\0'));
    EXPECT_TRUE(out.substr(MiB) == TestHttpServer::GeneratedContent(MiB, size - MiB));
}

TEST_F(RangeFixture, TimeOutLeavesDownloadedPosWhereTheBytesStopped) {
    TestHttpServer::FileOptions stall;
    stall.fault = TestHttpServer::FaultKind::Stall;
    stall.faultAt = 300000;
    server.serveGenerated("/f.bin", 2 * MiB, stall);
    timeouts.requestMs = 1000;
    LogCapture log;

    DownloadTask task;
    setTask(task, 1, 0, MiB - 1, server.url("/f.bin"));
    EXPECT_EQ(fetch(task), CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(task.DownloadedPos, 300000);
    EXPECT_TRUE(log.has(" Curl Time out"));
    EXPECT_TRUE(written() == TestHttpServer::GeneratedContent(0, 300000));
}

TEST_F(RangeFixture, WholeBodyIsCutAtEndPosForARangeFromZero) {
    TestHttpServer::FileOptions ignore;
    ignore.ignoreRange = true;
    server.serveGenerated("/f.bin", 3 * MiB, ignore);
    LogCapture log;

    DownloadTask first;
    setTask(first, 1, 0, MiB - 1, server.url("/f.bin"));
    EXPECT_EQ(fetch(first), CURLE_WRITE_ERROR);
    EXPECT_EQ(first.DownloadedPos, MiB - 1);
    EXPECT_TRUE(log.hasPrefix(" Thread: 1 Write Error. Task id\xEF\xBC\x9A" "1 Download to:1048575 Receive:"));
    EXPECT_TRUE(log.has(" 接收数据错误"));
    const std::string out = written();
    EXPECT_EQ(out.size(), static_cast<std::size_t>(MiB));
    EXPECT_TRUE(out == TestHttpServer::GeneratedContent(0, MiB));
}

// A server that ignores Range, or answers with an error page, must never have its body
// written at the task's offset.
TEST_F(RangeFixture, WrongResponsesWriteNothing) {
    struct Case {
        const char* name;
        TestHttpServer::FileOptions options;
    };
    TestHttpServer::FileOptions ignore;
    ignore.ignoreRange = true;
    TestHttpServer::FileOptions notFound;
    notFound.status = 404;
    TestHttpServer::FileOptions serverError;
    serverError.status = 500;
    TestHttpServer::FileOptions shifted;  // a 206 for bytes after the ones asked for
    shifted.rangeShift = 1000;
    TestHttpServer::FileOptions otherSize;  // a 206 of a file of another size
    otherSize.advertisedSize = 3 * MiB + 1;
    worker->setFileSize(3 * MiB);
    for (const Case& c : {Case{"ignored range", ignore}, Case{"404", notFound}, Case{"500", serverError},
                          Case{"shifted Content-Range", shifted}, Case{"another file's Content-Range", otherSize}}) {
        SCOPED_TRACE(c.name);
        server.serveGenerated("/f.bin", 3 * MiB, c.options);
        DownloadTask second;
        setTask(second, 2, MiB, 2 * MiB - 1, server.url("/f.bin"));
        const CURLcode result = fetch(second);
        EXPECT_TRUE(result == CURLE_WRITE_ERROR || result == CURLE_OK) << result;
        EXPECT_EQ(second.DownloadedPos, MiB);
        EXPECT_EQ(written().size(), 0u);
    }
}

// libcurl calls a 206 whose Content-Length is one short of its Content-Range a success;
// the byte at EndPos is then still missing and the task must not pass for complete.
TEST_F(RangeFixture, ShortPartialAnswerLeavesTheTaskUnfinished) {
    TestHttpServer::FileOptions shortOne;
    shortOne.shortBy = 1;
    server.serveGenerated("/f.bin", 3 * MiB, shortOne);
    worker->setFileSize(3 * MiB);
    DownloadTask second;
    setTask(second, 2, MiB, 2 * MiB - 1, server.url("/f.bin"));
    EXPECT_EQ(fetch(second), CURLE_OK);
    EXPECT_NE(second.DownloadedPos, second.EndPos);

    server.setOptions("/f.bin", {});
    EXPECT_EQ(fetch(second), CURLE_OK);
    EXPECT_EQ(second.DownloadedPos, second.EndPos);
    EXPECT_EQ(server.requests().back().range, "bytes=2097150-2097151");
    EXPECT_TRUE(written().substr(MiB) == TestHttpServer::GeneratedContent(MiB, MiB));
}

// A body longer than its range (here the last task's, which asks for one byte past the
// end) must not write past the file's size, known or learnt from the Content-Range.
TEST_F(RangeFixture, LongerBodyNeverWritesPastTheFile) {
    const std::int64_t size = MiB + 1000;
    TestHttpServer::FileOptions longer;
    longer.overlongBy = 1;
    server.serveGenerated("/f.bin", size, longer);
    for (const std::int64_t known : {size, std::int64_t{0}}) {
        SCOPED_TRACE(known);
        worker->setFileSize(known);
        DownloadTask last;
        setTask(last, 1, 0, size, server.url("/f.bin"));
        fetch(last);
        EXPECT_EQ(last.DownloadedPos, size);
        const std::string out = written();
        EXPECT_EQ(static_cast<std::int64_t>(out.size()), size);
        EXPECT_TRUE(out == TestHttpServer::GeneratedContent(0, static_cast<std::size_t>(size)));
    }
}

// A write the disk refuses is told to the pool with its errno, so the download can say
// "disk full" rather than wait for a network that is fine.
TEST_F(RangeFixture, FailedWriteIsReportedWithItsErrno) {
    server.serveGenerated("/f.bin", 2 * MiB);
    std::unique_ptr<std::FILE, FileCloser> full(std::fopen("/dev/full", "rb+"));
    ASSERT_TRUE(full);
    std::setvbuf(full.get(), nullptr, _IONBF, 0);
    CDownloadThread fullWorker(writeMutex, full.get(), timeouts);
    int reported = 0;
    fullWorker.setWriteErrorListener([&reported](int code) { reported = code; });
    DownloadTask task;
    setTask(task, 1, 0, MiB - 1, server.url("/f.bin"));
    fullWorker.assign(&task);
    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    EXPECT_EQ(tool.httpDownloadContent(task.RemotePath, 0, MiB - 1, &fullWorker), CURLE_WRITE_ERROR);
    EXPECT_EQ(reported, ENOSPC);
    EXPECT_EQ(task.DownloadedPos, 0);
    fullWorker.stop();
}

// Only HTTP and HTTPS are fetched: a range, a probe or a page at another scheme, or a
// redirect to one, reads nothing.
TEST_F(RangeFixture, OtherProtocolsAreRefused) {
    DownloadTask task;
    setTask(task, 1, 0, 99, "file:///etc/passwd");
    EXPECT_EQ(fetch(task), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(written().size(), 0u);

    server.redirect("/away", "file:///etc/passwd", 302, true);
    setTask(task, 1, 0, 99, server.url("/away"));
    EXPECT_EQ(fetch(task), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(written().size(), 0u);

    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    std::string text;
    EXPECT_EQ(tool.getHeader("file:///etc/passwd", text), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(tool.getContent("file:///etc/passwd", text, 100), CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_TRUE(text.empty());
    std::string reply;
    EXPECT_EQ(CLibcurlTool::postData("file:///tmp/x", "a=b", reply), CURLE_UNSUPPORTED_PROTOCOL);
}

TEST(LibcurlTool, HeaderProbeHoldsEveryResponseOfARedirectChain) {
    TestHttpServer server;
    server.serveGenerated("/final.bin", 5000);
    server.redirect("/a", "/b");
    server.redirect("/b", "/final.bin", 301);
    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    std::string header;
    EXPECT_EQ(tool.getHeader(server.url("/a"), header), CURLE_OK);
    ASSERT_NE(header.find("HTTP/1.1 302"), std::string::npos);
    const auto second = header.find("HTTP/1.1 301");
    const auto third = header.find("HTTP/1.1 200");
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(third, std::string::npos);
    EXPECT_LT(header.find("Location: " + server.url("/b")), second);
    EXPECT_LT(header.find("Location: " + server.url("/final.bin")), third);
    EXPECT_NE(header.find("Content-Length: 5000", third), std::string::npos);
    // Only HEAD requests: the probe never pulls the body.
    for (const auto& r : server.requests()) EXPECT_EQ(r.method, "HEAD");
    EXPECT_EQ(server.bytesSent(), 0);
}

TEST(LibcurlTool, BodyFetchKeepsExactlyTheLimit) {
    TestHttpServer server;
    server.serveFile("/page.html", std::string(300000, 'x') + "tail");
    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    std::string body;
    EXPECT_EQ(tool.getContent(server.url("/page.html"), body, 200000), CURLE_OK);
    EXPECT_EQ(body, std::string(200000, 'x'));
    EXPECT_EQ(tool.getContent(server.url("/page.html"), body, 400000), CURLE_OK);
    EXPECT_EQ(body.size(), 300004u);
}

TEST(LibcurlTool, ProbeAndPageFetchGiveUpOnAServerThatSaysNothing) {
    qvtest::FakeMakerService silent;
    using Endpoint = qvtest::FakeMakerService::Endpoint;
    silent.SetBehaviour(Endpoint::Location, qvtest::FakeMakerService::Behaviour::Hang);
    silent.SetHangLimit(std::chrono::milliseconds(20000));
    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    tool.setFetchStallSeconds(1);
    std::string text;
    for (bool probe : {true, false}) {
        const auto start = std::chrono::steady_clock::now();
        const CURLcode result = probe ? tool.getHeader(silent.UrlOf(Endpoint::Location), text)
                                      : tool.getContent(silent.UrlOf(Endpoint::Location), text, 1000);
        EXPECT_EQ(result, CURLE_OPERATION_TIMEDOUT) << (probe ? "probe" : "page fetch");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    }
    silent.Stop();
}

TEST(LibcurlTool, PostDataReturnsTheReply) {
    TestHttpServer server;
    std::string reply;
    EXPECT_EQ(CLibcurlTool::postData(server.url("/report"), "a=1&b=two", reply), CURLE_OK);
    EXPECT_EQ(reply, "a=1&b=two");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "POST");

    std::string none;
    EXPECT_EQ(CLibcurlTool::postData("http://127.0.0.1:1/", "x", none), CURLE_COULDNT_CONNECT);
}

TEST(LibcurlTool, HttpsVerifiesTheServerCertificate) {
    TempDir dir;
    const std::string cert = dir.file("cert.pem");
    const std::string key = dir.file("key.pem");
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                                "-addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    TestHttpServer server(cert, key);
    server.serveGenerated("/f.bin", 1000);

    const char* previous = std::getenv("CURL_CA_BUNDLE");
    const std::string saved = previous != nullptr ? previous : "";
    unsetenv("CURL_CA_BUNDLE");
    CLibcurlTool tool;
    ASSERT_TRUE(tool.init());
    std::string header;
    EXPECT_EQ(tool.getHeader(server.url("/f.bin"), header), CURLE_PEER_FAILED_VERIFICATION);
    std::string reply;
    EXPECT_EQ(CLibcurlTool::postData(server.url("/f.bin"), "x", reply), CURLE_PEER_FAILED_VERIFICATION);

    // The bundle named by CURL_CA_BUNDLE is trusted, as is one given to postData.
    setenv("CURL_CA_BUNDLE", cert.c_str(), 1);
    EXPECT_EQ(tool.getHeader(server.url("/f.bin"), header), CURLE_OK);
    EXPECT_NE(header.find("Content-Length: 1000"), std::string::npos);
    unsetenv("CURL_CA_BUNDLE");
    EXPECT_EQ(CLibcurlTool::postData(server.url("/f.bin"), "x", reply, cert.c_str()), CURLE_OK);
    if (previous != nullptr) setenv("CURL_CA_BUNDLE", saved.c_str(), 1);
}

TEST(LibcurlTool, ErrorTexts) {
    const std::pair<int, std::string> cases[] = {
        {1, " ProtoControl Unsupport!"},
        {4, " libcurl InitFailed\xEF\xBC\x8CPlease Try again!"},
        {7, " Curl Connect Server Error"},
        {13, " Curl unknow error!"},
        {18, " 服务器返回文件大小非法"},
        {19, " Curl Else Error: 19"},
        {23, " 接收数据错误"},
        {28, " Curl Time out"},
        {33, " 请求的数据范围错误"},
        {60, " Curl Else Error: 60"},
    };
    for (const auto& [code, text] : cases) {
        LogCapture log;
        EXPECT_EQ(CLibcurlTool::figureError(code), 1);
        EXPECT_EQ(log.lines(), std::vector<std::string>{text}) << code;
    }
}

TEST(LibcurlTool, ResolvesRelativeLocations) {
    EXPECT_EQ(CLibcurlTool::resolveUrl("http://h:81/a/b?x=1", "/c/d"), "http://h:81/c/d");
    EXPECT_EQ(CLibcurlTool::resolveUrl("http://h/a/b", "c"), "http://h/a/c");
    EXPECT_EQ(CLibcurlTool::resolveUrl("http://h/a", "https://o/z"), "https://o/z");
}

}  // namespace
