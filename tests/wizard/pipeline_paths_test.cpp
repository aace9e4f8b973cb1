// The pipeline's rules that need no server: names and paths from the configuration, the
// installer command line, the time labels, the progress formula, the proxy log, and the
// reuse check on real files.

#include <cstdlib>

#include "src/config/InstallPaths.h"
#include "PipelineTestSupport.h"

namespace pipelinetest {
namespace {

ProductConfig Loaded(const std::string& downloadUrl, const std::string& extraUrl = "http://h/x.exe") {
    ProductConfig config;
    config.loadState = CONFIG_LOADED;
    config.Software_name = "MorvikBackup";
    config.Software_version = "1.0.0.0";
    config.Download_url = downloadUrl;
    config.Extra_download_url = extraUrl;
    return config;
}

TEST(InstallPathsTest, FileNameAndStemCutAtTheirOwnDots) {
    struct Case {
        std::string url, extra, fileName, stem;
    };
    const Case cases[] = {
        {"http://h/d/MorvikBackupSetup.exe", "http://h/x.exe", "MorvikBackupSetup1.0.0.0.exe", "MorvikBackupSetup"},
        // Several dots: the file name cuts at the last, the stem at the first.
        {"http://h/d/Morvik.Backup.Setup.exe", "http://h/x.exe", "Morvik.Backup.Setup1.0.0.0.exe", "Morvik"},
        // Not installable: ".apk", letter case of ".exe" counts.
        {"http://h/d/app.bin", "http://h/x.EXE", "app1.0.0.0.apk", "app"},
        // No dot after the last '/': the stem is the product name.
        {"http://h/d.d/get", "http://h/x.exe", "get1.0.0.0.exe", "MorvikBackup"},
        // No '/' at all.
        {"setup.exe", "http://h/x.exe", "setup1.0.0.0.exe", "MorvikBackup"},
    };
    for (const Case& c : cases) {
        const ProductConfig config = Loaded(c.url, c.extra);
        EXPECT_EQ(InstallerFileName(config), c.fileName) << c.url;
        EXPECT_EQ(DownloadStem(config), c.stem) << c.url;
        EXPECT_TRUE(ConfigPathError(config).empty()) << c.url;
    }
    ProductConfig notLoaded = Loaded("http://h/d/s.exe");
    notLoaded.loadState = CONFIG_NOT_LOADED;
    EXPECT_EQ(InstallerFileName(notLoaded), "");
}

TEST(InstallPathsTest, NamesThatWouldLeaveTheirFolderAreRefused) {
    EXPECT_EQ(PathComponentError("MorvikBackup"), "");
    EXPECT_NE(PathComponentError("a/b"), "");
    EXPECT_NE(PathComponentError(".."), "");
    EXPECT_NE(PathComponentError("x..y"), "");
    EXPECT_NE(PathComponentError(std::string("a\0b", 3)), "");

    ProductConfig config = Loaded("http://h/d/s.exe");
    config.Software_version = "/../../etc/x";
    EXPECT_EQ(ConfigPathError(config).rfind("installer file name: ", 0), 0u) << ConfigPathError(config);
    config = Loaded("http://h/get");
    config.Software_name = "../up";
    EXPECT_EQ(ConfigPathError(config).rfind("Software_name: ", 0), 0u);
}

TEST(InstallPathsTest, DirectoriesAndInstallerPaths) {
    const ProductConfig installable = Loaded("http://h/d/Setup.exe");
    EXPECT_EQ(TemporaryDownloadDirectory("/tmp/", installable), "/tmp/Setup/");
    EXPECT_EQ(InstallerPath(installable, "/tmp/Setup/", "/home/u/Desktop/Setup"), "/tmp/Setup/Setup1.0.0.0.exe");
    const ProductConfig shownOnly = Loaded("http://h/d/Setup.exe", "http://h/x.apk");
    EXPECT_EQ(InstallerPath(shownOnly, "/tmp/Setup/", "/home/u/Desktop/Setup"),
              "/home/u/Desktop/Setup/Setup1.0.0.0.apk");

    EXPECT_EQ(InstallDirectoryFromPathText("/opt/Morvik", "MorvikBackup"), "/opt/Morvik/MorvikBackup");
    EXPECT_EQ(InstallDirectoryFromPathText("/opt/Morvik/MorvikBackup", "MorvikBackup"), "/opt/Morvik/MorvikBackup");
    EXPECT_EQ(InstallDirectoryFromPathText("\\opt\\Morvik", "MorvikBackup"), "/opt/Morvik/MorvikBackup");
}

TEST(InstallPathsTest, CommandLinesInBothInstallerForms) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 2;
    when.tm_hour = 3;
    when.tm_min = 4;
    when.tm_sec = 5;
    const std::string log = InstallerLogFileName("MorvikBackup", when);
    EXPECT_EQ(log, "MorvikBackup_Setup_20260102030405.log");
    EXPECT_EQ(InstallerCommandLine(true, "/opt/Morvik Backup", "zhcn", "/tmp/", log),
              " /VERYSILENT /SP- /NORESTART /DIR=\"/opt/Morvik Backup/\" /LANG=zhcn "
              "/LOG=\"/tmp/MorvikBackup_Setup_20260102030405.log\"");
    EXPECT_EQ(InstallerCommandLine(true, "/opt/M", "en", "", log), " /VERYSILENT /SP- /NORESTART /DIR=\"/opt/M/\" /LANG=en");
    EXPECT_EQ(InstallerCommandLine(false, "/opt/M", "en", "/tmp/", log), " /S /NORESTART /D=/opt/M/");
    const std::string deep(2000, 'd');
    const std::string line = InstallerCommandLine(true, "/" + deep, "en", "/tmp/", log);
    EXPECT_NE(line.find("/" + deep + "/\" /LANG=en /LOG="), std::string::npos);
    EXPECT_GT(line.size(), 2000u);
}

TEST(PipelineLabelsTest, DownloadTimeBucketsAndInstallMinutes) {
    const std::pair<std::int64_t, const char*> buckets[] = {
        {0, "0s"},        {999, "0s"},         {1000, "[1~10s]"},   {7000, "[1~10s]"},  {9900, "[1~10s]"},
        {10000, "[1~10s]"}, {11000, "[11~20s]"}, {20000, "[11~20s]"}, {60000, "[51~60s]"}, {61500, "[61~70s]"},
    };
    for (const auto& [ms, bucket] : buckets) EXPECT_EQ(CInstallPipeline::DownloadTimeBucket(ms), bucket) << ms;
    EXPECT_EQ(CInstallPipeline::InstallMinutesText(75600), "1.3");  // 1.26 minutes
    EXPECT_EQ(CInstallPipeline::InstallMinutesText(0), "0.0");
    EXPECT_EQ(CInstallPipeline::InstallMinutesText(600000), "10.0");
}

TEST(PipelineProgressTest, DownloadFillsItsShareOfTheBar) {
    ProductConfig config = Loaded("http://h/d/s.exe");
    WizardState state;
    state.configure = &config;
    state.SetProgressFormat("%0.f%%");
    qvtest::RecordingInstallView view;
    CInstallPipeline pipeline(view, state);

    struct Case {
        int type;
        std::int64_t done, total;
        int bar;
        const char* label;
    };
    const Case cases[] = {
        {3, 0, 100, 10, "10%"},  {3, 50, 100, 50, "50%"}, {3, 100, 100, 90, "90%"},
        {1, 50, 100, 45, "45%"}, {2, 100, 100, 90, "90%"},
        {3, 0, 0, 0, "0%"},      // no finite quotient
        {3, 5, 0, 0, "0%"},      // infinite
        {1, -50, 100, 0, "0%"},  // negative
    };
    for (const Case& c : cases) {
        config.Downloader_type = c.type;
        pipeline.ShowDownloadProgress(c.done, c.total);
        EXPECT_EQ(view.Progress(), c.bar) << c.type << " " << c.done << "/" << c.total;
        EXPECT_EQ(view.ProgressText(), c.label) << c.type << " " << c.done << "/" << c.total;
    }
    pipeline.ShowSelectionProgress(7.5);
    EXPECT_EQ(view.Progress(), 7);
    EXPECT_EQ(view.ProgressText(), "8%");
}

TEST(PipelineProxyTest, EnvironmentProxiesAreLoggedOnly) {
    const fs::path log = fs::temp_directory_path() / ("qv-proxy-" + std::to_string(std::random_device{}()) + ".log");
    ASSERT_TRUE(qvlog::ConfigureLogFile(log.string()));
    for (const char* name : {"auto_proxy", "AUTO_PROXY", "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                             "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        ::unsetenv(name);
    }
    EXPECT_EQ(CInstallPipeline::GetIEProxyConfig(), 0);
    // libcurl never uses an upper-case HTTP_PROXY, so neither does the log.
    ::setenv("HTTP_PROXY", "ignored.example:3128", 1);
    EXPECT_EQ(CInstallPipeline::GetIEProxyConfig(), 0);
    ::setenv("http_proxy", "proxy.example:3128", 1);
    EXPECT_EQ(CInstallPipeline::GetIEProxyConfig(), 2);
    ::setenv("https_proxy", "secure.example:3129", 1);
    ::setenv("no_proxy", "localhost,127.0.0.1", 1);
    EXPECT_EQ(CInstallPipeline::GetIEProxyConfig(), 3);
    for (const char* name : {"HTTP_PROXY", "http_proxy", "https_proxy", "no_proxy"}) ::unsetenv(name);
    ::setenv("ALL_PROXY", "every.example:8080", 1);
    EXPECT_EQ(CInstallPipeline::GetIEProxyConfig(), 2);
    ::unsetenv("ALL_PROXY");

    const std::string text = ReadFile(log);
    EXPECT_NE(text.find(" Get proxy: 1, 0"), std::string::npos);
    EXPECT_EQ(text.find("ignored.example"), std::string::npos);
    EXPECT_NE(text.find(" Proxy info2: http=proxy.example:3128\n"), std::string::npos);
    EXPECT_NE(text.find(" Proxy info2: http=proxy.example:3128;https=secure.example:3129"), std::string::npos);
    EXPECT_NE(text.find(" Proxy info2: http=every.example:8080;https=every.example:8080"), std::string::npos);
    EXPECT_NE(text.find(" Proxy info3: localhost,127.0.0.1"), std::string::npos);
    EXPECT_EQ(text.find(" Proxy info1: "), std::string::npos);
    std::error_code ignored;
    fs::remove(log, ignored);
}

TEST(PipelineReuseTest, OnlyARecordOfTheVersionAndAConfiguredChecksumKeepsTheFile) {
    const fs::path dir = fs::temp_directory_path() / ("qv-reuse-" + std::to_string(std::random_device{}()));
    const std::string installer = (dir / "Setup1.0.0.0.exe").string();
    ProductConfig config = Loaded("http://h/d/Setup.exe");
    config.Md5 = "0123456789abcdef0123456789abcdef";
    config.Md5_extra = "fedcba9876543210fedcba9876543210";

    struct Case {
        const char* what;
        const char* record;  // nullptr: no record
        bool installer;
        ReuseResult outcome;
    };
    const Case cases[] = {
        {"matching record", "1.0.0.0###0123456789abcdef0123456789abcdef", true, ReuseResult::Kept},
        {"upper-case record checksum", "1.0.0.0###0123456789ABCDEF0123456789ABCDEF", true, ReuseResult::Kept},
        {"second checksum", "1.0.0.0###fedcba9876543210fedcba9876543210", true, ReuseResult::Kept},
        {"only the first line counts", "1.0.0.0###0123456789abcdef0123456789abcdef\nextra", true, ReuseResult::Kept},
        {"other version", "0.9.0.0###0123456789abcdef0123456789abcdef", true, ReuseResult::NotVouchedFor},
        {"other checksum", "1.0.0.0###ffffffffffffffffffffffffffffffff", true, ReuseResult::NotVouchedFor},
        {"no separator", "1.0.0.0 0123456789abcdef0123456789abcdef", true, ReuseResult::NotVouchedFor},
        {"empty checksum", "1.0.0.0###", true, ReuseResult::NotVouchedFor},
        {"no record", nullptr, true, ReuseResult::NoRecord},
        {"record without its installer", "1.0.0.0###0123456789abcdef0123456789abcdef", false, ReuseResult::NoInstaller},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        if (c.installer) WriteFile(installer, "bytes");
        WriteFile(installer + ".xml", "<tasks/>");
        if (c.record != nullptr) WriteFile(installer + ".db", c.record);

        const ReuseResult outcome = CInstallPipeline::CheckEarlierDownload(installer, config);
        EXPECT_EQ(outcome, c.outcome) << c.what << ": " << to_string(outcome);
        const bool kept = c.outcome == ReuseResult::Kept;
        EXPECT_EQ(fs::exists(installer), kept) << c.what;
        EXPECT_EQ(fs::exists(installer + ".xml"), kept) << c.what;
        EXPECT_FALSE(fs::exists(installer + ".db")) << c.what;
    }
    // With an empty second checksum, an empty record checksum still vouches for nothing.
    config.Md5_extra.clear();
    fs::remove_all(dir);
    WriteFile(installer, "bytes");
    WriteFile(installer + ".db", "1.0.0.0###");
    EXPECT_EQ(CInstallPipeline::CheckEarlierDownload(installer, config), ReuseResult::NotVouchedFor);
    fs::remove_all(dir);
}

TEST(PipelineClearTest, ClearDownloadDeletesTheInstallerAndItsTaskFileOnly) {
    const fs::path temporary = fs::temp_directory_path() / ("qv-clear-" + std::to_string(std::random_device{}()));
    const ProductConfig config = Loaded("http://h/d/Setup.exe");
    const fs::path installer = temporary / "Setup" / "Setup1.0.0.0.exe";
    WriteFile(installer, "bytes");
    WriteFile(installer.string() + ".xml", "<tasks/>");
    WriteFile(installer.string() + ".log", "log");
    CInstallPipeline::ClearDownloadFiles(config, temporary.string() + "/");
    EXPECT_FALSE(fs::exists(installer));
    EXPECT_FALSE(fs::exists(installer.string() + ".xml"));
    EXPECT_TRUE(fs::exists(installer.string() + ".log"));

    // A name that would climb out of the folder touches nothing.
    ProductConfig bad = Loaded("http://h/get");
    bad.Software_name = "..";
    WriteFile(temporary / "get1.0.0.0.exe", "bytes");
    CInstallPipeline::ClearDownloadFiles(bad, (temporary / "Setup").string() + "/");
    EXPECT_TRUE(fs::exists(temporary / "get1.0.0.0.exe"));
    fs::remove_all(temporary);
}

}  // namespace
}  // namespace pipelinetest
