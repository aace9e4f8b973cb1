// `setup-tool event` sends one hit at once and reports the collector's verdict.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/FakeMakerService.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
using Behaviour = FakeMakerService::Behaviour;
namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out;
};

ToolRun RunEvent(const fs::path& folder, const std::string& args) {
    const std::string command = "cd '" + folder.string() + "' && '" + QV_SETUP_TOOL + "' event " + args + " 2>&1";
    ToolRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(SetupToolEventTest, SendsOneHitAndPrintsTheResult) {
    const fs::path folder = fs::temp_directory_path() /
                            ("qv-toolevent-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    FakeMakerService service;
    service.ExportEnvironment();

    ToolRun run = RunEvent(folder, "Download '7.ProgramLaunch' 'a b&c'");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out, "result: 0\n");
    auto hits = service.Requests(Endpoint::Collect);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Field("ec"), "Download");
    EXPECT_EQ(hits[0].Field("ea"), "7.ProgramLaunch");
    EXPECT_EQ(hits[0].Field("el"), "a b&c");
    EXPECT_EQ(hits[0].Field("an"), "Downloader");
    EXPECT_FALSE(hits[0].Field("av").empty());  // the tool's own version note
    EXPECT_FALSE(hits[0].Field("tid").empty());
    // No identity lookup and no launch event: just the one hit.
    EXPECT_EQ(service.Requests().size(), 1u);

    const struct {
        Behaviour behaviour;
        const char* body;
        const char* out;
    } cases[] = {
        {Behaviour::Answer, "<html></html>", "result: 253\n"},
        {Behaviour::NotFound, "", "result: 255\n"},
    };
    for (const auto& c : cases) {
        service.SetReply(Endpoint::Collect, c.body);
        service.SetBehaviour(Endpoint::Collect, c.behaviour);
        run = RunEvent(folder, "CrashRate Close");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, c.out);
    }
    run = RunEvent(folder, "CrashRate");
    EXPECT_EQ(run.exitCode, 2);
    fs::remove_all(folder);
}

}  // namespace
