// `setup-tool event` sends one hit at once and reports the collector's verdict.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/FakeMakerService.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
using Behaviour = FakeMakerService::Behaviour;
namespace fs = std::filesystem;

using ToolRun = qvtest::ShellResult;

ToolRun RunEvent(const fs::path& folder, const std::string& args) {
    return qvtest::RunShellCommand("cd '" + folder.string() + "' && '" + QV_SETUP_TOOL + "' event " + args + " 2>&1");
}

TEST(SetupToolEventTest, SendsOneHitAndPrintsTheResult) {
    const qvtest::TempFolder folder("qv-toolevent-");
    FakeMakerService service;
    service.ExportEnvironment();

    ToolRun run = RunEvent(folder.path(), "Download '7.ProgramLaunch' 'a b&c'");
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
        run = RunEvent(folder.path(), "CrashRate Close");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, c.out);
    }
    run = RunEvent(folder.path(), "CrashRate");
    EXPECT_EQ(run.exitCode, 2);
}

}  // namespace
