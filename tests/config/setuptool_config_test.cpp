// `setup-tool config` against the fake maker service, and its fallback to the skin.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/FakeMakerService.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;

using ToolRun = qvtest::ShellResult;

class SetupToolConfigTest : public ::testing::Test {
protected:
    void SetUp() override { service_.ExportEnvironment(); }

    ToolRun Run(const std::string& args) {
        return qvtest::RunShellCommand("cd '" + folder_.str() + "' && TMPDIR='" + folder_.str() + "' '" +
                                       QV_SETUP_TOOL + "' config " + args + " 2>&1");
    }

    FakeMakerService service_;
    qvtest::TempFolder folder_{"qv-toolconfig-"};
};

TEST_F(SetupToolConfigTest, PrintsTheServicesConfigurationForTheGivenIds) {
    ToolRun run = Run("--downloader-id 7 --site-id -5 --language-id 1041");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find(" Configure Load From XML! \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" [Software Name]: Quorvane Studio\n"), std::string::npos);
    EXPECT_NE(run.out.find(" [Language Id]: 1041\n"), std::string::npos);
    auto queries = service_.Requests(Endpoint::QueryDownloader);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].query, "LanguageId=00001041&SoftWareID=00000007&SiteID=-0000005");
}

TEST_F(SetupToolConfigTest, FallsBackToTheShippedSkinWhenTheServiceFails) {
    service_.SetBehaviour(Endpoint::QueryDownloader, FakeMakerService::Behaviour::NotFound);
    ToolRun run = Run("");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find(" Configure Load From File! \n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" [Downloader Id]: 224\n"), std::string::npos);
    EXPECT_NE(run.out.find(" [Site Id]: 127\n"), std::string::npos);
    EXPECT_NE(run.out.find(" [Language Id]: 1033\n"), std::string::npos);
    // Three attempts with the skin's identifiers, three tries each.
    auto queries = service_.Requests(Endpoint::QueryDownloader);
    EXPECT_EQ(queries.size(), 9u);
    ASSERT_FALSE(queries.empty());
    EXPECT_EQ(queries[0].query, "LanguageId=00001033&SoftWareID=00000224&SiteID=00000127");
}

TEST_F(SetupToolConfigTest, RejectsBadArguments) {
    for (const char* args : {"--site-id", "--site-id x", "--site-id 1 --site-id 2", "--colour blue",
                             "--language-id 99999999999"}) {
        ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, 2) << args << "\n" << run.out;
        EXPECT_NE(run.out.find("usage: setup-tool config"), std::string::npos) << args;
    }
    EXPECT_TRUE(service_.Requests().empty());
}

}  // namespace
