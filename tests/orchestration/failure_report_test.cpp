// The failure report as the exception endpoint receives it, its log line, and the
// certificate check of its HTTPS post.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "src/verify/FailureReport.h"
#include "tests/support/FakeMakerService.h"
#include "tests/support/TestHttpServer.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using enginetest::LogCapture;
using qvtest::FakeMakerService;
using Endpoint = qvtest::FakeMakerService::Endpoint;

TEST(FailureReportTest, BodiesAsTheExceptionEndpointReceivesThem) {
    FakeMakerService service;
    const std::string endpoint = service.UrlOf(Endpoint::ExceptionSend);
    struct Case {
        bool md5, signature;
        int pid, source;
        const char* body;
    };
    const Case cases[] = {
        {false, false, 12, 1, "pid=12&type=2&exception_code=MD5_Hash_Check_Fail_Cfg1"},
        {false, true, 12, 1, "pid=12&type=2&exception_code=MD5_Check_Fail_Cfg1"},
        {true, false, 12, 1, "pid=12&type=2&exception_code=Hash_Check_Fail_Cfg1"},
        {true, false, 81, 2, "pid=81&type=2&exception_code=Hash_Check_Fail_Cfg2"},
        // From the skin the digest is never checked, so only the signature can be reported.
        {false, false, 81, 2, "pid=81&type=2&exception_code=Hash_Check_Fail_Cfg2"},
        {false, true, 7, 0, "pid=7&type=2&exception_code=MD5_Check_Fail_Cfg0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        service.ClearRequests();
        LogCapture log;
        EXPECT_EQ(SendFailureReport(c.md5, c.signature, c.pid, c.source, endpoint), 0);
        const auto received = service.Requests(Endpoint::ExceptionSend);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].method, "POST");
        EXPECT_EQ(received[0].body, c.body);
        EXPECT_TRUE(log.has(std::string(" Send error report: ") + c.body + ", response is {\"result\":0}, return 0"));
    }
    // Without an explicit endpoint the configured one (here the environment's) is used.
    service.ClearRequests();
    service.ExportEnvironment();
    EXPECT_EQ(SendFailureReport(true, false, 3, 1), 0);
    EXPECT_EQ(service.Count(Endpoint::ExceptionSend), 1u);
}

TEST(FailureReportTest, NothingSentOrLoggedWhenBothChecksPass) {
    FakeMakerService service;
    LogCapture log;
    EXPECT_EQ(SendFailureReport(true, true, 81, 1, service.UrlOf(Endpoint::ExceptionSend)), -1);
    EXPECT_EQ(SendFailureReport(false, true, 81, 2, service.UrlOf(Endpoint::ExceptionSend)), -1);
    EXPECT_EQ(service.Count(Endpoint::ExceptionSend), 0u);
    EXPECT_FALSE(log.hasPrefix(" Send error report:"));
}

TEST(FailureReportTest, EndpointDownLogsTheLibcurlCode) {
    std::string endpoint;
    {
        FakeMakerService service;
        endpoint = service.UrlOf(Endpoint::ExceptionSend);
    }  // the port is closed now
    LogCapture log;
    EXPECT_EQ(SendFailureReport(true, false, 81, 2, endpoint), 7);  // CURLE_COULDNT_CONNECT
    EXPECT_TRUE(log.has(" Send error report: pid=81&type=2&exception_code=Hash_Check_Fail_Cfg2, response is , return 7"));
}

TEST(FailureReportTest, HttpsPostVerifiesTheServerCertificate) {
    enginetest::TempDir dir;
    const std::string cert = dir.file("cert.pem"), key = dir.file("key.pem");
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                                " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert +
                                "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    qvtest::TestHttpServer server(cert, key);
    const std::string endpoint = "https://127.0.0.1:" + std::to_string(server.port()) + "/api/exception/send";

    unsetenv("CURL_CA_BUNDLE");
    EXPECT_EQ(SendFailureReport(false, false, 5, 1, endpoint), 60);  // CURLE_PEER_FAILED_VERIFICATION
    EXPECT_EQ(server.requestCount(), 0u);

    setenv("CURL_CA_BUNDLE", cert.c_str(), 1);
    EXPECT_EQ(SendFailureReport(false, false, 5, 1, endpoint), 0);
    unsetenv("CURL_CA_BUNDLE");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "POST");
}

}  // namespace
