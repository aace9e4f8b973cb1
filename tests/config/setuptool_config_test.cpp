// `setup-tool config` against the fake maker service, and its fallback to the skin.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/FakeMakerService.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out;
};

class SetupToolConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("qv-toolconfig-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder_);
        service_.ExportEnvironment();
    }
    void TearDown() override { fs::remove_all(folder_); }

    ToolRun Run(const std::string& args) {
        const std::string command = "cd '" + folder_.string() + "' && TMPDIR='" + folder_.string() + "' '" +
                                    QV_SETUP_TOOL + "' config " + args + " 2>&1";
        ToolRun run;
        std::FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, n);
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    FakeMakerService service_;
    fs::path folder_;
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
