// The web-service client against the fake maker service on 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/RegistryStore.h"
#include "platform/SystemFacts.h"
#include "tests/support/FakeMakerService.h"
#include "src/telemetry/ExportObj.h"
#include "src/telemetry/WebLog.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
using Behaviour = FakeMakerService::Behaviour;
namespace fs = std::filesystem;

fs::path FreshFolder(const std::string& tag) {
    static int counter = 0;
    fs::path folder = fs::temp_directory_path() /
                      ("qv-weblog-" + tag + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                       "-" + std::to_string(++counter) + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

class WebLogTest : public ::testing::Test {
protected:
    void SetUp() override { registry_ = FreshFolder("registry"); }
    void TearDown() override { fs::remove_all(registry_); }

    WebLogOptions Options() const {
        WebLogOptions options;
        options.endpoints = service_.Endpoints();
        options.registryFolder = registry_;
        return options;
    }
    // Endpoints where nothing listens: the service's port once it is stopped.
    WebLogOptions OfflineOptions() {
        WebLogOptions options = Options();
        service_.Stop();
        return options;
    }
    platform::RegistryStore Registry() const { return {platform::RegistryHive::LocalMachine, registry_}; }

    FakeMakerService service_;
    fs::path registry_;
};

TEST(UrlEncodeTest, KeepsUnreservedTurnsBlankIntoPlusAndEscapesTheRest) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"AZaz09-_.~", "AZaz09-_.~"},
        {"a b&c", "a+b%26c"},
        {"\xE4", "%E4"},
        {"k=v/?#%", "k%3Dv%2F%3F%23%25"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << c.in;
}

TEST_F(WebLogTest, QueryDownloaderFormatsIdsWithEightDigitsAndHandsOutTheReply) {
    WebLog client(Options());
    const char* reply = nullptr;
    ASSERT_EQ(client.QueryDownloader(&reply, 5, 1033, -5), 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(reply), FakeMakerService::DefaultDownloaderReply());
    auto requests = service_.Requests(Endpoint::QueryDownloader);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/default/QueryDownloader");
    EXPECT_EQ(requests[0].query, "LanguageId=00001033&SoftWareID=00000005&SiteID=-0000005");
    EXPECT_EQ(requests[0].headers.find("User-Agent")->second,
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)");
    EXPECT_EQ(requests[0].headers.find("Accept-Language")->second, "zh-cn");
}

TEST_F(WebLogTest, QueryDownloaderRefusesAZeroIdWithoutAnyRequest) {
    WebLog client(Options());
    const int ids[][3] = {{0, 1033, 127}, {224, 0, 127}, {224, 1033, 0}};
    for (const auto& id : ids) {
        const char* untouched = "untouched";
        const char* reply = untouched;
        EXPECT_EQ(client.QueryDownloader(&reply, id[0], id[1], id[2]), -1);
        EXPECT_EQ(reply, untouched);
    }
    EXPECT_EQ(client.QueryTools(nullptr, 0, 1033), -1);
    EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(WebLogTest, FailedAnswersAreRetriedThreeTimesAndA404BodyIsNoReply) {
    for (Behaviour behaviour : {Behaviour::NotFound, Behaviour::Fail}) {
        service_.ClearRequests();
        service_.SetBehaviour(Endpoint::QueryDownloader, behaviour);
        WebLog client(Options());
        const char* untouched = "untouched";
        const char* reply = untouched;
        EXPECT_EQ(client.QueryDownloader(&reply, 224, 1033, 127), -1);
        EXPECT_EQ(reply, untouched);
        EXPECT_EQ(service_.Count(Endpoint::QueryDownloader), 3u);
    }
    // An empty 200 answer is a successful query with an empty reply.
    service_.SetBehaviour(Endpoint::QueryDownloader, Behaviour::Empty);
    WebLog client(Options());
    const char* reply = nullptr;
    EXPECT_EQ(client.QueryDownloader(&reply, 224, 1033, 127), 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "");
}

TEST_F(WebLogTest, ServiceLocatorDecidesTheBaseUrl) {
    WebLog client(Options());
    // A body naming a service is taken whole, without the line break a hand-edited file ends in.
    const std::string named = service_.BaseUrl() + "/elsewhere";
    service_.SetReply(Endpoint::ServiceLocator, named + "\r\n");
    EXPECT_EQ(client.RefreshServiceUrl(), 0);
    EXPECT_EQ(client.ServiceBaseUrl(), named);
    // A body without "http" selects the default base.
    service_.SetReply(Endpoint::ServiceLocator, "maintenance");
    EXPECT_EQ(client.RefreshServiceUrl(), 0);
    EXPECT_EQ(client.ServiceBaseUrl(), service_.BaseUrl() + "/default");
    // An unreachable locator keeps the current base.
    service_.SetReply(Endpoint::ServiceLocator, service_.BaseUrl());
    EXPECT_EQ(client.RefreshServiceUrl(), 0);
    service_.SetBehaviour(Endpoint::ServiceLocator, Behaviour::NotFound);
    service_.ClearRequests();
    EXPECT_EQ(client.RefreshServiceUrl(), -1);
    EXPECT_EQ(client.ServiceBaseUrl(), service_.BaseUrl());
    EXPECT_EQ(service_.Count(Endpoint::ServiceLocator), 3u);
}

TEST_F(WebLogTest, IdentityFlowWithoutNetworkThenConfirmedThenAnsweredEmpty) {
    const std::regex guidForm("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    std::string firstGuid;
    {
        // First run without network: a new identity is created and stored.
        WebLog client(OfflineOptions());
        const char* guid = nullptr;
        const char* userId = nullptr;
        EXPECT_EQ(client.GetUserId(&guid, &userId), 0);
        ASSERT_TRUE(guid && userId);
        firstGuid = guid;
        EXPECT_TRUE(std::regex_match(firstGuid, guidForm)) << firstGuid;
        EXPECT_STREQ(userId, "1001");
        EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "guid"), firstGuid);
        EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "user_id"), "1001");
        EXPECT_EQ(client.Country(), "");
        EXPECT_EQ(client.PublicIp(), "");
    }
    {
        // A later run without network finds the identity but cannot confirm it: empty outputs.
        WebLog client(OfflineOptions());
        const char* guid = nullptr;
        const char* userId = nullptr;
        EXPECT_EQ(client.GetUserId(&guid, &userId), 0);
        ASSERT_TRUE(guid && userId);
        EXPECT_STREQ(guid, "");
        EXPECT_STREQ(userId, "");
        EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "guid"), firstGuid);
    }
}

TEST_F(WebLogTest, StoredIdentityConfirmedByTheService) {
    ASSERT_EQ(Registry().SetString("SOFTWARE\\RodiZavi13", "guid", "11111111-2222-4333-8444-555555555555"),
              platform::RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(Registry().SetString("SOFTWARE\\RodiZavi13", "user_id", "1001"), platform::RegistryResult::REG_RESULT_OK);
    service_.SetReply(Endpoint::QueryUser, "20240001");
    WebLog client(Options());
    const char* guid = nullptr;
    const char* userId = nullptr;
    EXPECT_EQ(client.GetUserId(&guid, &userId), 0);
    EXPECT_STREQ(guid, "11111111-2222-4333-8444-555555555555");
    EXPECT_STREQ(userId, "20240001");
    auto queries = service_.Requests(Endpoint::QueryUser);
    ASSERT_EQ(queries.size(), 1u);
    // The locator named the service's root, so the query goes there.
    EXPECT_EQ(queries[0].path, "/QueryUser");
    EXPECT_EQ(queries[0].query, "guid=11111111-2222-4333-8444-555555555555");
    // The issued id lives only in memory.
    EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "user_id"), "1001");
    EXPECT_EQ(service_.Count(Endpoint::Location), 0u);
}

TEST_F(WebLogTest, StoredIdentityAnsweredEmptyIsWrittenAgainWithUserId1001) {
    Registry().SetString("SOFTWARE\\RodiZavi13", "guid", "11111111-2222-4333-8444-555555555555");
    Registry().SetString("SOFTWARE\\RodiZavi13", "user_id", "777");
    service_.SetBehaviour(Endpoint::QueryUser, Behaviour::Empty);
    WebLog client(Options());
    const char* guid = nullptr;
    const char* userId = nullptr;
    EXPECT_EQ(client.GetUserId(&guid, &userId), 0);
    EXPECT_STREQ(guid, "11111111-2222-4333-8444-555555555555");
    EXPECT_STREQ(userId, "1001");
    EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "guid"), "11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(Registry().GetString("SOFTWARE\\RodiZavi13", "user_id"), "1001");
    // Creating the identity looks up the location once.
    EXPECT_EQ(client.Country(), "Germany");
}

TEST_F(WebLogTest, LocationReplyIsCutIntoCountryCityAndAddress) {
    WebLog client(Options());
    EXPECT_EQ(client.QueryLocation(), 0);
    EXPECT_EQ(client.Country(), "Germany");
    EXPECT_EQ(client.City(), "Berlin-Mitte");
    EXPECT_EQ(client.PublicIp(), "203.0.113.7");

    // Five answers without "success": the fields stay empty.
    service_.SetReply(Endpoint::Location, "fail,private range,,,,,,,,,,,,10.0.0.1");
    service_.ClearRequests();
    WebLog other(Options());
    EXPECT_EQ(other.QueryLocation(), -1);
    EXPECT_EQ(service_.Count(Endpoint::Location), 5u);
    EXPECT_EQ(other.Country(), "");
    // Too few fields to hold a city: refused rather than guessed.
    service_.SetReply(Endpoint::Location, "success,Germany,DE");
    EXPECT_EQ(other.QueryLocation(), -1);
    EXPECT_EQ(other.Country(), "");
}

TEST_F(WebLogTest, AddUserLogSendsEveryFieldInOrder) {
    Registry().SetString("SOFTWARE\\RodiZavi13", "guid", "11111111-2222-4333-8444-555555555555");
    Registry().SetString("SOFTWARE\\RodiZavi13", "user_id", "1001");
    WebLog client(Options());
    EXPECT_EQ(client.AddUserLog(5, 1, "", 31, 1033, 127, "", "", 0, 0), -1);  // no identity yet
    const char* guid = nullptr;
    const char* userId = nullptr;
    client.GetUserId(&guid, &userId);
    EXPECT_EQ(client.AddUserLog(0, 1, "", 31, 1033, 127, "", "", 0, 0), -1);
    EXPECT_EQ(client.AddUserLog(5, 1, "", 0, 1033, 127, "", "", 0, 0), -1);
    EXPECT_EQ(service_.Count(Endpoint::AddUserLog), 0u);

    EXPECT_EQ(client.AddUserLog(10202, 1, "ok", 31, 1033, -5, "2.4", "a@b.example", 7, 9), 0);
    auto logs = service_.Requests(Endpoint::AddUserLog);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].path, "/AddUserLog");
    std::vector<std::string> names;
    for (const auto& field : logs[0].fields) names.push_back(field.first);
    EXPECT_EQ(names, (std::vector<std::string>{"USER_ID", "OP_ID", "SoftWareID", "RegEmail", "UseTime", "Location",
                                               "City", "OutIP", "LanguageId", "Result", "ResultData", "SiteID",
                                               "CurVersion", "ActivityID", "VersionID"}));
    // Use time counts whole seconds since construction and is sent empty while it is 0.
    std::smatch useTime;
    ASSERT_TRUE(std::regex_search(logs[0].query, useTime, std::regex("&UseTime=([1-9][0-9]*)?&")));
    EXPECT_EQ(logs[0].query.substr(0, logs[0].query.find("&UseTime")),
              "USER_ID=20240001&OP_ID=00010202&SoftWareID=00000031&RegEmail=a@b.example");
    EXPECT_EQ(logs[0].query.substr(logs[0].query.find("&Location")),
              "&Location=Germany&City=Berlin-Mitte&OutIP=203.0.113.7&LanguageId=00001033&Result=00000001"
              "&ResultData=ok&SiteID=-0000005&CurVersion=2.4&ActivityID=00000007&VersionID=00000009");

    service_.SetBehaviour(Endpoint::AddUserLog, Behaviour::Empty);
    EXPECT_EQ(client.AddUserLog(5, 1, "", 31, 1033, 127, "", "", 0, 0), -1);
}

TEST_F(WebLogTest, ReportLogEncodesOnlyTheContent) {
    WebLog client(Options());
    EXPECT_EQ(client.ReportLog(0, "", "x", ""), -1);
    EXPECT_EQ(client.ReportLog(31, "a@b.example", "disk full & retry", "u1"), 0);
    auto reports = service_.Requests(Endpoint::ReportLog);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].query,
              "USER_ID=&SoftWareID=00000031&Email=a@b.example&OutIP=203.0.113.7&Content=disk+full+%26+retry&UploadID=u1");
}

TEST_F(WebLogTest, QueryToolsHandsOutTheToolsReply) {
    WebLog client(Options());
    const char* reply = nullptr;
    EXPECT_EQ(client.QueryTools(&reply, 31, 1033), 0);
    EXPECT_STREQ(reply, "<Tools><Tool>QuorvaneTool</Tool></Tools>");
    EXPECT_EQ(service_.Requests(Endpoint::QueryTools)[0].query, "LanguageId=00001033&SoftWareID=00000031");
}

TEST_F(WebLogTest, FailedPostsGoToTheDiagnosticLogBesideTheExecutable) {
    const fs::path logs = fs::path(platform::CurrentExecutablePath()).parent_path() / "Logs";
    fs::create_directories(logs);
    WebLog client(OfflineOptions());
    EXPECT_EQ(client.SendAnalyticsEvent("UA-1-1", "Downloader", "1.0.0.0", "c", "a", "", "&cd1=x"), 255);
    std::ifstream file(logs / ".log");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(std::regex_search(text.str(), std::regex(R"(\[\d+/\d+/\d+-\d+:\d+:\d+\] Failed to perform request \[7\])")))
        << text.str();
}

TEST(ExportObjTest, EntryPointsCreateAndDestroyAClient) {
    IWebLog* client = CreateExportObj();
    ASSERT_NE(client, nullptr);
    DestroyExportObj(client);
    DestroyExportObj(nullptr);
}

TEST(ExportObjTest, SetupExportsTheEntryPointsDynamically) {
    const std::string command = std::string("nm -D --defined-only '") + QV_SETUP_EXE + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string symbols;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) symbols.append(buffer, n);
    pclose(pipe);
    for (const char* name : {" CreateExportObj\n", " DestroyExportObj\n", " NSISLog\n"}) {
        EXPECT_NE(symbols.find(name), std::string::npos) << name;
    }
}

TEST(ExportObjTest, NsisLogSendsOneUsageEntryFromItsOwnThread) {
    FakeMakerService service;
    service.ExportEnvironment();
    const fs::path registry = FreshFolder("nsis");
    setenv("QV_REGISTRY_DIR", registry.c_str(), 1);
    EXPECT_EQ(NSISLog(10100, 31, 1033, 127), 0);
    ASSERT_TRUE(service.WaitForCount(Endpoint::AddUserLog, 1, std::chrono::seconds(20)));
    auto logs = service.Requests(Endpoint::AddUserLog);
    EXPECT_EQ(logs[0].Field("OP_ID"), "00010100");
    EXPECT_EQ(logs[0].Field("SoftWareID"), "00000031");
    EXPECT_EQ(logs[0].Field("Result"), "00000001");
    EXPECT_EQ(logs[0].Field("USER_ID"), "1001");  // a first run: the identity was just created
    unsetenv("QV_REGISTRY_DIR");
    for (const char* v : {"QV_SERVICE_BASE_URL", "QV_SERVICE_LOCATOR_URL", "QV_LOCATION_URL", "QV_ANALYTICS_URL",
                          "QV_EXCEPTION_URL"}) {
        unsetenv(v);
    }
}

}  // namespace
