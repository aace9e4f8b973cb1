#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "src/system/PreInstallChecks.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "src/telemetry/IEventReporter.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

class ChecksDir : public qvtest::TempFolder {
public:
    ChecksDir() : TempFolder("qv_checks_") {}
};

class EventLines : public IEventReporter {
public:
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override {
        events.push_back(category + "/" + action + "/" + label + (immediate ? "!" : ""));
        return 0;
    }
    std::vector<std::string> events;
};

// One wizard's worth of checks over a registry in a scratch folder.
struct ChecksFixture : ::testing::Test {
    ChecksDir dir;
    platform::RegistryStore hklm{platform::RegistryHive::LocalMachine, dir.path() / "registry"};
    EventLines reporter;
    std::vector<MessageKind> shown;
    PreInstallProduct product{"Prod.exe", "Morvik Backup", 7};
    PreInstallSources sources;

    CPreInstallChecks Make(const std::string& installDirectory) {
        return CPreInstallChecks(product, installDirectory, hklm, reporter,
                                 [this](MessageKind kind) { shown.push_back(kind); }, sources);
    }
};

using DiskSpace = ChecksFixture;

TEST_F(DiskSpace, NeedsMoreThan300MiBOnTheInstallFileSystem) {
    struct Case {
        std::string directory;
        std::optional<std::uint64_t> freeBytes;
        bool passes;
    } cases[] = {
        {"/opt/Prod", 314572800, false},
        {"/opt/Prod", 314572801, true},
        {"/opt/Prod", 0, false},
        {"/opt/Prod", std::nullopt, false},          // the query failed
        {"opt/Prod", 1ull << 40, false},             // not absolute: no file system for certain
        {"", 1ull << 40, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        sources.freeSpace = [&](const std::string& d) {
            asked.push_back(d);
            return c.freeBytes;
        };
        shown.clear();
        EXPECT_EQ(Make(c.directory).CheckDiskSpace(), c.passes) << c.directory << " " << c.freeBytes.value_or(0);
        EXPECT_EQ(shown, c.passes ? std::vector<MessageKind>{} : std::vector<MessageKind>{MessageKind::NoEnoughSpace});
        if (!asked.empty()) {
            EXPECT_EQ(asked.front(), c.directory);
        }
    }
}

TEST_F(DiskSpace, RealQueryForAFolderNotYetCreated) {
    auto checks = Make(dir.str() + "/not/yet");
    auto free = platform::FreeBytesForUser(dir.str());
    ASSERT_TRUE(free);
    EXPECT_EQ(checks.CheckDiskSpace(), *free > CPreInstallChecks::kMinimumFreeBytes);
}

using AppRunning = ChecksFixture;

TEST_F(AppRunning, OnlyAnExactNameCountsAndAnUnreadableListStopsQuietly) {
    std::optional<std::vector<platform::ProcessEntry>> snapshot;
    sources.snapshot = [&] { return snapshot; };
    auto checks = Make("/opt/Prod");

    snapshot = std::vector<platform::ProcessEntry>{{1, "init"}, {42, "prod.exe"}, {43, "Prod.exe.bak"}};
    EXPECT_TRUE(checks.AppIsRunning());
    EXPECT_TRUE(shown.empty());

    snapshot->push_back({44, "Prod.exe"});
    EXPECT_FALSE(checks.AppIsRunning());
    EXPECT_EQ(shown, std::vector<MessageKind>{MessageKind::AppExist});

    shown.clear();
    snapshot.reset();
    EXPECT_FALSE(checks.AppIsRunning());
    EXPECT_TRUE(shown.empty());
}

TEST_F(AppRunning, SeesARealRunningProduct) {
    product.Process_name = "qvprod" + std::to_string(platform::CurrentProcessId());
    fs::copy_file("/bin/sleep", dir.path() / product.Process_name);
    fs::permissions(dir.path() / product.Process_name, fs::perms::owner_all);
    auto checks = Make("/opt/Prod");
    EXPECT_TRUE(checks.AppIsRunning());

    platform::SpawnError error;
    auto running = platform::ChildProcess::Start({(dir.path() / product.Process_name).string(), "30"}, {}, error);
    ASSERT_TRUE(running) << error.message;
    EXPECT_FALSE(checks.AppIsRunning());
    EXPECT_EQ(shown, std::vector<MessageKind>{MessageKind::AppExist});
    running->Kill();
    running->Wait(5000);
}

using PrepareDirectory = ChecksFixture;

TEST_F(PrepareDirectory, CreatesTheDirectoryWithItsParents) {
    sources.freeSpace = [](const std::string&) { return std::optional<std::uint64_t>(1ull << 40); };
    const std::string target = dir.str() + "/Apps/Prod";
    auto checks = Make(target + "/");
    ASSERT_TRUE(checks.PrepareInstallDirectory());
    EXPECT_TRUE(platform::DirectoryExists(target));
    EXPECT_EQ(checks.InstallDirectory(), target);
    EXPECT_TRUE(reporter.events.empty());
    EXPECT_TRUE(shown.empty());
}

TEST_F(PrepareDirectory, MovesAwayFromPendingRenamesAndReportsOnce) {
    sources.freeSpace = [](const std::string&) { return std::optional<std::uint64_t>(1ull << 40); };
    const std::string target = dir.str() + "/Apps/Prod";
    struct Case {
        std::vector<std::string> pending;
        std::string expected;
    } cases[] = {
        {{"/var/tmp/x", target + "/old.dll", ""}, target + " 1"},
        {{target + "/a.so", "", target + " 1/b.so", target + " 2/c.so"}, target + " 1"},  // stops at the empty string
        {{target + "/a.so", target + " 1/b.so", "/elsewhere"}, target + " 2"},
        {{target + "2/a.so", target}, target},  // neither names something inside the directory
        {{target.substr(0, target.size() - 4) + "PROD/a.so"}, target},  // letter case matters
    };
    for (const auto& c : cases) {
        ASSERT_EQ(hklm.SetMultiString(kSessionManager, "PendingFileRenameOperations", c.pending),
                  platform::RegistryResult::REG_RESULT_OK);
        reporter.events.clear();
        auto checks = Make(target);
        ASSERT_TRUE(checks.PrepareInstallDirectory());
        EXPECT_EQ(checks.InstallDirectory(), c.expected);
        const bool moved = c.expected != target;
        EXPECT_EQ(reporter.events,
                  moved ? std::vector<std::string>{"Other/ProcessNeedRestartSign/"} : std::vector<std::string>{});
        // The numbered directory is chosen, not created.
        if (moved) {
            EXPECT_FALSE(platform::DirectoryExists(c.expected));
        }
    }
}

TEST_F(PrepareDirectory, FailsWithTheRightMessage) {
    std::optional<std::uint64_t> free = 100;
    sources.freeSpace = [&](const std::string&) { return free; };
    std::ofstream(dir.path() / "file") << "x";
    auto checks = Make(dir.str() + "/file/Prod");
    EXPECT_FALSE(checks.PrepareInstallDirectory());
    EXPECT_EQ(shown, std::vector<MessageKind>{MessageKind::NoEnoughSpace});

    shown.clear();
    free = 1ull << 40;
    EXPECT_FALSE(checks.PrepareInstallDirectory());
    EXPECT_EQ(shown, std::vector<MessageKind>{MessageKind::PathError});
}

TEST_F(PrepareDirectory, PendingRenameLookupIsCaseSensitiveAndNeedsTheKey) {
    auto checks = Make("/opt/Prod");
    EXPECT_FALSE(checks.IsPendingRenameTarget("/opt/Prod"));  // no key at all
    ASSERT_EQ(hklm.SetMultiString(kSessionManager, "PendingFileRenameOperations", {"/opt/Prod/x.so", ""}),
              platform::RegistryResult::REG_RESULT_OK);
    EXPECT_TRUE(checks.IsPendingRenameTarget("/opt/Prod"));
    EXPECT_TRUE(checks.IsPendingRenameTarget("/opt/Prod/"));
    EXPECT_TRUE(checks.IsPendingRenameTarget("/opt"));
    EXPECT_FALSE(checks.IsPendingRenameTarget("/opt/prod"));
    EXPECT_FALSE(checks.IsPendingRenameTarget("/opt/Pro"));
}

// A service manager with scripted answers.
class FakeServices : public IServiceControl {
public:
    bool manager = true, exists = true, refuse = false;
    std::vector<std::optional<ServiceStatus>> statuses;  // answers in order; the last repeats
    std::vector<std::string> calls;

    bool ManagerAvailable() override {
        calls.push_back("manager");
        return manager;
    }
    bool ServiceExists(const std::string& name) override {
        calls.push_back("exists " + name);
        return exists;
    }
    std::optional<ServiceStatus> QueryStatus(const std::string&) override {
        calls.push_back("query");
        if (statuses.empty()) return std::nullopt;
        auto s = statuses.front();
        if (statuses.size() > 1) statuses.erase(statuses.begin());
        return s;
    }
    bool RequestStop(const std::string&) override {
        calls.push_back("stop");
        return !refuse;
    }
};

using StopService = ChecksFixture;

TEST_F(StopService, ResultsFollowTheStepThatFailed) {
    const ServiceStatus running{ServiceState::SERVICE_RUNNING, 1};
    const ServiceStatus pending{ServiceState::SERVICE_PENDING, 1};
    const ServiceStatus stopped{ServiceState::SERVICE_STOPPED, 1};
    struct Case {
        int softwareId;
        bool manager, exists, refuse;
        std::vector<std::optional<ServiceStatus>> statuses;
        int result;
        std::vector<std::string> calls;
    } cases[] = {
        {7, true, true, false, {running}, 0, {}},  // no service for this product
        {6, false, true, false, {running}, 1, {"manager"}},
        {6, true, false, false, {running}, 2, {"manager", "exists QuorvaneWinAdService"}},
        {105, true, true, false, {std::nullopt}, 3, {"manager", "exists QuorvaneDataRecoveryService", "query"}},
        {6, true, true, true, {running}, 4, {"manager", "exists QuorvaneWinAdService", "query", "stop"}},
        {6, true, true, false, {stopped}, 0, {"manager", "exists QuorvaneWinAdService", "query"}},
        {6, true, true, false, {running, pending, pending, stopped}, 0,
         {"manager", "exists QuorvaneWinAdService", "query", "stop", "query", "query", "query"}},
    };
    for (const auto& c : cases) {
        FakeServices services;
        services.manager = c.manager;
        services.exists = c.exists;
        services.refuse = c.refuse;
        services.statuses = c.statuses;
        sources.services = &services;
        product.Software_id = c.softwareId;
        EXPECT_EQ(Make("/opt/Prod").StopProductService(), c.result) << c.softwareId;
        EXPECT_EQ(services.calls, c.calls);
    }
}

TEST_F(StopService, AServiceThatNeverStopsDoesNotHoldTheWizard) {
    FakeServices services;
    services.statuses = {ServiceStatus{ServiceState::SERVICE_RUNNING, 5}};
    sources.services = &services;
    sources.maxServiceStopWaitMs = 50;
    product.Software_id = 6;
    EXPECT_EQ(Make("/opt/Prod").StopProductService(), 0);
    EXPECT_LT(services.calls.size(), 30u);
}

TEST_F(StopService, ThroughSystemctl) {
    // A stand-in systemctl, alone on PATH, that knows one running unit.
    const fs::path bin = dir.path() / "bin";
    fs::create_directories(bin);
    const std::string d = dir.str();
    std::ofstream(bin / "systemctl")
        << "#!/bin/sh\n"
           "echo \"$*\" >> '" << d << "/calls'\n"
           "case \"$*\" in\n"
           "'show --property=Version') exit 0;;\n"
           "'show --property=LoadState,ActiveState -- QuorvaneWinAdService.service')\n"
           "  echo LoadState=loaded; if [ -e '" << d << "/stopped' ]; then echo ActiveState=inactive; "
           "else echo ActiveState=active; fi; exit 0;;\n"
           "'stop --no-block -- QuorvaneWinAdService.service') : > '" << d << "/stopped'; exit 0;;\n"
           "'show --property=LoadState,ActiveState -- QuorvaneDataRecoveryService.service')\n"
           "  echo LoadState=not-found; echo ActiveState=inactive; exit 0;;\n"
           "esac\nexit 1\n";
    fs::permissions(bin / "systemctl", fs::perms::owner_all);
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "/usr/bin:/bin";
    setenv("PATH", bin.c_str(), 1);

    product.Software_id = 6;
    EXPECT_EQ(Make("/opt/Prod").StopProductService(), 0);
    EXPECT_TRUE(fs::exists(dir.path() / "stopped"));
    product.Software_id = 105;
    EXPECT_EQ(Make("/opt/Prod").StopProductService(), 2);
    fs::remove(bin / "systemctl");
    product.Software_id = 6;
    EXPECT_EQ(Make("/opt/Prod").StopProductService(), 1);

    setenv("PATH", savedPath.c_str(), 1);
}

using UninstallValues = ChecksFixture;

TEST_F(UninstallValues, RoundTripUnderTheProductsKeyWithinTheReadLimit) {
    auto checks = Make("/opt/Prod");
    EXPECT_FALSE(checks.ReadUninstallValue("RequestTooMuchTimes"));
    ASSERT_TRUE(checks.WriteUninstallValue("RequestTooMuchTimes", "3"));
    EXPECT_EQ(checks.ReadUninstallValue("requesttoomuchtimes"), "3");
    EXPECT_EQ(hklm.GetString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Morvik Backup",
                             "RequestTooMuchTimes"),
              "3");

    // 129 characters fit the reader's buffer; 130 do not (counted in characters, not bytes).
    const std::string fits(129, 'x');
    std::string wide;
    for (int i = 0; i < 129; ++i) wide += "\xC3\xA9";  // é
    ASSERT_TRUE(checks.WriteUninstallValue("A", fits));
    ASSERT_TRUE(checks.WriteUninstallValue("B", fits + "x"));
    ASSERT_TRUE(checks.WriteUninstallValue("C", wide));
    EXPECT_EQ(checks.ReadUninstallValue("A"), fits);
    EXPECT_FALSE(checks.ReadUninstallValue("B"));
    EXPECT_EQ(checks.ReadUninstallValue("C"), wide);

    // A product name cannot reach another key.
    product.Software_name = "..\\..\\Run";
    EXPECT_FALSE(Make("/opt/Prod").WriteUninstallValue("X", "1"));
    EXPECT_FALSE(Make("/opt/Prod").ReadUninstallValue("RequestTooMuchTimes"));
}

struct NetFrameFile {
    const char* name;
    std::string content;  // nullptr-like: "<none>" means no file
    std::string requirement;
};

TEST(NetFrameRequirement, ReadsTheSettingsSectionOnly) {
    const NetFrameFile cases[] = {
        {"plain", "[Settings]\nNetFrameworkVersion=4.8\n[Text]\nTitle=x\n", "4.8"},
        {"crlf and bom", "\xEF\xBB\xBF[Settings]\r\nNetFrameworkVersion=4.7.2\r\n", "4.7.2"},
        {"under Text", "[Settings]\nOther=1\n[Text]\nNetFrameworkVersion=4.8\n", ""},
        {"before Settings", "NetFrameworkVersion=4.8\n[Settings]\nOther=1\n", ""},
        {"no section", "NetFrameworkVersion=4.8\n", ""},
        {"blank before =", "[Settings]\nNetFrameworkVersion =4.8\n", ""},
        {"indented", "[Settings]\n NetFrameworkVersion=4.8\n", ""},
        {"short lines skipped", "[Settings]\n\n;\nab\nNetFrameworkVersion=4.6.1", "4.6.1"},
        {"section marker inside a line", "x=[Settings]\nNetFrameworkVersion=4.8\n", "4.8"},
        {"empty file", "", ""},
        // Lines are read in pieces of 1023 characters; a piece that begins with the key counts.
        {"key cut by the piece", "[Settings]\n" + std::string(1022, 'a') + "NetFrameworkVersion=9.9\n", ""},
        {"key after a full piece", "[Settings]\n" + std::string(1023, 'a') + "NetFrameworkVersion=9.9\n", "9.9"},
    };
    for (const auto& c : cases) {
        ChecksDir dir;
        std::ofstream(dir.path() / "NetFrameCheck.db", std::ios::binary) << c.content;
        EXPECT_EQ(FuntionImpl::ReadNetFrameRequirement(dir.str()), c.requirement) << c.name;
    }
    ChecksDir empty;
    EXPECT_EQ(FuntionImpl::ReadNetFrameRequirement(empty.str()), "");
}

TEST(NetFrameRequirement, VersionsCompareAsFourIntegers) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"4.8.03761", "4.8", 1},      {"4.8.03761", "4.8.4000", -1}, {"4.8", "4.8.0.0", 0},
        {"4.8.0.0.9", "4.8", 0},      {"4.10", "4.9", 1},            {"", "4.8", -1},
        {"", "", 0},                  {"4.8\n", "4.8", 0},           {"4.8abc.1", "4.8.1", 0},
        {"x.y", "0.0", 0},            {"4..8", "4.0.8", 0},          {"99999999999", "2147483647", 0},
    };
    for (const auto& c : cases) {
        int r = FuntionImpl::CompareFourPartVersions(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    }
}

TEST(NetFrameRequirement, ComparesTheRequirementWithTheInstalledVersion) {
    ChecksDir dir;
    platform::RegistryStore hklm(platform::RegistryHive::LocalMachine, dir.path() / "registry");
    const fs::path product = dir.path() / "Prod";
    fs::create_directories(product);
    EXPECT_FALSE(FuntionImpl::WillShowNetFrameCheck(product.string(), hklm));  // no requirement file

    auto require = [&](const std::string& version) {
        std::ofstream(product / "NetFrameCheck.db") << "[Settings]\nNetFrameworkVersion=" << version << "\n[Text]\n";
    };
    require("4.8");
    EXPECT_TRUE(FuntionImpl::WillShowNetFrameCheck(product.string(), hklm));  // nothing installed

    ASSERT_EQ(hklm.SetString("SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client", "Version", "4.8.03761"),
              platform::RegistryResult::REG_RESULT_OK);
    EXPECT_FALSE(FuntionImpl::WillShowNetFrameCheck(product.string(), hklm));
    require("4.8.4000");
    EXPECT_TRUE(FuntionImpl::WillShowNetFrameCheck(product.string(), hklm));
    require("4.8.03761");
    EXPECT_FALSE(FuntionImpl::WillShowNetFrameCheck(product.string(), hklm));
}

}  // namespace
