// The install pipeline from the download to the installed product, against the range
// server serving the signed sample installer and the fake maker service: the happy path
// with its funnel, the reuse of a vouched-for download, the verification verdicts, the
// installer that keeps running or cannot start, and configurations whose names would
// leave their folders.

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "src/language/InstalledLanguage.h"
#include "PipelineTestSupport.h"
#include "platform/Process.h"

namespace pipelinetest {
namespace {

// SIGKILL to a process and to its children (the installer script's sleep), by id.
void KillWithChildren(int pid) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        if (parent == pid) platform::KillProcess(std::stoi(name));
    }
    platform::KillProcess(pid);
}

// `content` with an appended CMS signature made with a throw-away key, in the layout the
// signature check reads (content, DER signature, 12-byte trailer, magic).
std::string SignedWithThrowAwayKey(const fs::path& work, const std::string& content) {
    WriteFile(work / "content", content);
    const std::string w = "'" + work.string() + "'";
    const std::string script =
        "cd " + w + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
        "-subj /CN=throwaway >/dev/null 2>&1 && openssl cms -sign -binary -noattr -md sha256 -in content "
        "-signer cert.pem -inkey key.pem -outform DER -out sig.der";
    if (std::system(script.c_str()) != 0) return {};
    const std::string signature = ReadFile(work / "sig.der");
    std::string trailer(12, '\0');
    trailer[2] = 2;  // PKCS#7
    const std::uint32_t length = static_cast<std::uint32_t>(signature.size());
    trailer[8] = static_cast<char>(length >> 24);
    trailer[9] = static_cast<char>(length >> 16);
    trailer[10] = static_cast<char>(length >> 8);
    trailer[11] = static_cast<char>(length);
    return content + signature + trailer + "~Module signature appended~\n";
}

std::string ExpectedCommandLine(const fs::path& installDirectory, const fs::path& logDirectory) {
    return " /VERYSILENT /SP- /NORESTART /DIR=\"" + installDirectory.string() + "/\" /LANG=zhcn /LOG=\"" +
           logDirectory.string() + "/MorvikBackup_Setup_20261209080705.log\"";
}

TEST_F(PipelineTest, HappyPathDownloadsVerifiesInstallsAndReportsTheFunnel) {
    // Speed test over two locations; the second does not answer, so the first is used.
    config_.Downloader_type = 3;
    config_.remotePaths.push_back(server_.url("/files/missing.exe"));
    view_.SetText("product_url_chinesesimp", "http://127.0.0.1:9/product-page");
    ASSERT_EQ(hklm_->CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);

    EXPECT_EQ(Run(), 0);

    // The product is installed where the path box says, in the window's language.
    ASSERT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_EQ(ReadFile(InstallDirectory() / "LANGUAGE"), "zhcn\n");
    const std::string commandLine = ExpectedCommandLine(InstallDirectory(), InstallerPath().parent_path());
    EXPECT_TRUE(LogHas(" [Download File Path]: " + InstallerPath().string() + "\n")) << Log();
    EXPECT_TRUE(LogHas(" [Start Install CmdLine]: " + commandLine + "\n")) << Log();
    // The installer wrote its own log where /LOG= told it to: in the private download
    // folder, never in the shared temporary one.
    EXPECT_FALSE(fs::exists(root_ / "tmp" / "MorvikBackup_Setup_20261209080705.log"));
    EXPECT_NE(ReadFile(InstallerPath().parent_path() / "MorvikBackup_Setup_20261209080705.log").find("installed into"),
              std::string::npos);
    EXPECT_TRUE(LogHas(" Speed-Test Totally Take "));
    EXPECT_TRUE(LogHas(" Download Totally Takes about 0s And Send To Server"));
    EXPECT_TRUE(LogHas(" Install Totally Take 0.0 minutes And Send To Server"));
    EXPECT_TRUE(LogHas(" Open Url: http://127.0.0.1:9/product-page"));
    EXPECT_EQ(state_.DownloadUrl(), config_.Download_url);

    // Progress: the speed test fills 10 %, the download follows from there, the install
    // ends at 100; the bar never goes back.
    const std::vector<int> progress = view_.ProgressHistory("install_progress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_NE(std::find(progress.begin(), progress.end(), 10), progress.end());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << ::testing::PrintToString(progress);
    EXPECT_EQ(view_.Text("install_label"), "100%");

    // Finished state: first page, no failure form, close without asking, done posted once.
    EXPECT_EQ(view_.Page("main_tablayout"), 0);
    EXPECT_FALSE(view_.Visible("text_fail_retry"));
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.DoneCount(), 1);
    EXPECT_TRUE(view_.SlideTimerStopped());
    EXPECT_EQ(state_.closeConfirmKind.load(), static_cast<int>(MessageKind::CloseWithoutAsking));
    EXPECT_EQ(view_.OpenedUrls(), std::vector<std::string>{"http://127.0.0.1:9/product-page"});
    EXPECT_EQ(hklm_->GetString(std::string(kUninstallKeyNative) + "\\{MorvikBackup}_is1", "Inno Setup: Language"),
              "zhcn");
    EXPECT_TRUE(fs::exists(InstallerPath().string() + ".db")) << "the digest check leaves its record";

    const std::vector<Hit> hits = Hits();
    EXPECT_EQ(Funnel(hits), (std::vector<Hit>{{"DownloaderInfo", "BeginDownload001", ""},
                                              {"DownloaderInfo", "UrlUsed", "1"},
                                              {"Download", "3.Downloading...", "First"},
                                              {"DownloadTime", "Server", "<bucket>"},
                                              {"DownloaderInfo00", "DownloadSuccess001", ""},
                                              {"DownloaderInfo", "BeginInstall001", ""},
                                              {"Download", "4.DownFinsh", "First"},
                                              {"Download", "5.ProgramInstall", "First"},
                                              {"DownloaderInfo00", "InstallFinish001", ""},
                                              {"Download", "6.ProgramFinsh", "First"},
                                              {"DownloaderInfo00", "InstalllProgramTime", "<minutes>"}}));
    EXPECT_TRUE(Has(hits, {"GetSize", "TestSpeedService", "Success/Null/Null/Null/Null"}))
        << "the download layer's figures arrive too";
    // The speed test fetched the whole installer: the download asked for nothing more (and
    // has no speed of its own to report).
    const std::string size = std::to_string(installer_.size());
    EXPECT_TRUE(LogHas(" Speed test bytes kept for the download: " + size + " of " + size + "\n")) << Log();
    EXPECT_FALSE(Has(hits, {"DownloaderInfo", "TotalRequestTimes", "0"}));
    EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), 0u);
    EXPECT_FALSE(Has(hits, {"Download", "8.DownFail", "First"}));
}

TEST_F(PipelineTest, ReusesAVouchedForDownloadWithoutAnyRangeRequest) {
    ASSERT_EQ(Run(), 0);
    const auto firstRanges = server_.requests();
    ASSERT_TRUE(std::any_of(firstRanges.begin(), firstRanges.end(), [](const auto& r) { return !r.range.empty(); }));
    server_.resetCounters();
    fs::remove_all(InstallDirectory());

    ASSERT_EQ(Run(), 0);
    for (const auto& request : server_.requests()) EXPECT_EQ(request.range, "") << request.method << " " << request.path;
    EXPECT_EQ(server_.bytesSent(), 0);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_EQ(ReadFile(InstallerPath().string() + ".db"), "1.0.0.0###" + config_.Md5);
}

TEST_F(PipelineTest, PartialFileWithoutRecordIsDownloadedAfresh) {
    // An interrupted earlier run: half a file of wrong bytes and a task file, no record.
    WriteFile(InstallerPath(), std::string(installer_.size() / 2, 'x'));
    WriteFile(InstallerPath().string() + ".xml", "<DownloadTasks/>");

    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(server_.bytesSent(), static_cast<std::int64_t>(installer_.size()));
    EXPECT_EQ(ReadFile(InstallerPath()), installer_);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), 0u);
}

TEST_F(PipelineTest, DigestMismatchWithValidSignatureSendsTheReportAndInstalls) {
    config_.Md5 = std::string(32, '0');
    ASSERT_EQ(Run(), 0);
    const auto reports = service_.Requests(Endpoint::ExceptionSend);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "pid=81&type=2&exception_code=MD5_Check_Fail_Cfg1");
    EXPECT_TRUE(LogHas(" Send error report: pid=81&type=2&exception_code=MD5_Check_Fail_Cfg1, response is "));
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_TRUE(Has(Hits(), {"Download", "6.ProgramFinsh", "First"}));
}

TEST_F(PipelineTest, TamperedSignatureEndsWithMd5FailAndRunsNothing) {
    std::string tampered = installer_;
    tampered[tampered.size() / 2] ^= 0x01;
    server_.serveFile("/files/MorvikBackupSetup.exe", tampered);
    config_.Md5 = Md5Hex(tampered);  // the digest matches: only the signature fails

    EXPECT_EQ(Run(), -1);
    const auto reports = service_.Requests(Endpoint::ExceptionSend);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "pid=81&type=2&exception_code=Hash_Check_Fail_Cfg1");
    ExpectFailureEnding(MessageKind::MD5Fail);
    // The box comes first; the failure form appears once it is closed.
    EXPECT_LT(view_.IndexOf("message"), view_.IndexOf("visible", "text_fail_retry"));
    EXPECT_FALSE(fs::exists(InstallDirectory()));
    EXPECT_FALSE(LogHas("[Start Install CmdLine]"));
    const auto hits = Hits();
    EXPECT_TRUE(Has(hits, {"DownloaderInfo00", "DownloaderFailed", "-5"}));
    EXPECT_TRUE(Has(hits, {"Download", "8.DownFail", "First"}));
    EXPECT_FALSE(Has(hits, {"Download", "4.DownFinsh", "First"}));
}

TEST_F(PipelineTest, InstallerStillRunningTimesOutAndIsLeftRunning) {
    ::setenv("QV_SAMPLE_INSTALL_DELAY", "60", 1);
    InstallPipelineOptions options = Options();
    options.installerWait.waitMs = 20;
    options.installerWait.pauseMs = 0;
    const int result = Run(options);
    ::unsetenv("QV_SAMPLE_INSTALL_DELAY");

    EXPECT_EQ(result, -1);
    ASSERT_GT(installerPid_, 0);
    EXPECT_TRUE(platform::ProcessIsAlive(installerPid_));
    KillWithChildren(installerPid_);

    ExpectFailureEnding(MessageKind::InstallRunTimeOut);
    // Here the failure form is shown before the box.
    EXPECT_LT(view_.IndexOf("visible", "text_fail_retry"), view_.IndexOf("message"));
    EXPECT_TRUE(LogHas(" Cmd nWaitSeconds timed out: 241"));
    const std::vector<int> progress = view_.ProgressHistory("install_progress");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 99);
    EXPECT_EQ(view_.Text("install_label"), "99%");
    const auto hits = Hits();
    EXPECT_TRUE(Has(hits, {"DownloaderInfo", "InstallFailed", ""}));
    EXPECT_FALSE(Has(hits, {"DownloaderInfo00", "InstallFinish001", ""}));
}

TEST_F(PipelineTest, InstallerThatCannotStartEndsAsTimedOutAtOnce) {
    const std::string signedFile =
        SignedWithThrowAwayKey(root_ / "signing", "#!/nonexistent/interpreter\necho never\n");
    ASSERT_FALSE(signedFile.empty());
    server_.serveFile("/files/MorvikBackupSetup.exe", signedFile);
    config_.Md5 = Md5Hex(signedFile);
    InstallPipelineOptions options = Options();
    options.installerWait = {};  // the product's one-second waits: a hang would show

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(options), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_EQ(installerPid_, -1);
    ExpectFailureEnding(MessageKind::InstallRunTimeOut);
    EXPECT_TRUE(LogHas(" Cmd start failed ("));
    EXPECT_TRUE(Has(Hits(), {"DownloaderInfo", "InstallFailed", ""}));
}

TEST_F(PipelineTest, CommandLineLongerThan1023CharactersIsNotCut) {
    fs::path deep = root_ / "install";
    for (int i = 0; i < 11; ++i) deep /= std::string(100, static_cast<char>('a' + i));
    view_.SetText("install_file_path_edit", deep.string());
    const fs::path installDirectory = deep / "MorvikBackup";

    ASSERT_EQ(Run(), 0);
    const std::string commandLine = ExpectedCommandLine(installDirectory, InstallerPath().parent_path());
    EXPECT_GT(commandLine.size(), 1023u);
    EXPECT_TRUE(LogHas(" [Start Install CmdLine]: " + commandLine + "\n"));
    EXPECT_TRUE(fs::exists(installDirectory / "MorvikBackup.exe"));
}

TEST_F(PipelineTest, SkinConfigurationClearsEarlierFilesAndSkipsTheDigest) {
    config_.loadSource = CONFIG_SOURCE_SKIN;
    config_.Md5 = std::string(32, '0');  // would fail, but the skin's checksum is not checked
    // A complete earlier download with a record that vouches for it is still cleared.
    WriteFile(InstallerPath(), installer_);
    WriteFile(InstallerPath().string() + ".db", "1.0.0.0###" + config_.Md5);

    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(LogHas(" Configure Load From File, clearAppData Before Download! "));
    EXPECT_EQ(server_.bytesSent(), static_cast<std::int64_t>(installer_.size()));
    EXPECT_FALSE(fs::exists(InstallerPath().string() + ".db")) << "no digest check, no record";
    EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), 0u);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
}

TEST_F(PipelineTest, ProductThatIsNotInstalledIsOnlyDownloadedToItsFolder) {
    config_.Extra_download_url = server_.url("/files/readme.apk");
    fs::create_directories(state_.downloadDir);  // the window makes it at start
    ASSERT_EQ(hklm_->CreateKey(kUninstallKeyNative), platform::RegistryResult::REG_RESULT_OK);

    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadFile(fs::path(state_.downloadDir) / "MorvikBackupSetup1.0.0.0.apk"), installer_);
    EXPECT_EQ(view_.Text("install_label"), "100%");
    EXPECT_EQ(view_.Progress("install_progress"), 100);
    EXPECT_EQ(view_.Page("main_tablayout"), 0);
    EXPECT_EQ(view_.DoneCount(), 1);
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_TRUE(LogHas("APP DownloaderSucceed"));
    EXPECT_FALSE(LogHas("[Start Install CmdLine]"));
    EXPECT_FALSE(fs::exists(InstallDirectory()));
    EXPECT_EQ(hklm_->GetString(std::string(kUninstallKeyNative) + "\\{MorvikBackup}_is1", "Inno Setup: Language"),
              "zhcn");
    const std::vector<Hit> funnel = Funnel(Hits());
    ASSERT_FALSE(funnel.empty());
    EXPECT_EQ(funnel.back().category, "DownloadTime") << "nothing is reported after the download";
}

// Configurations whose names would climb out of their folders.
struct BadConfigCase {
    const char* what;
    void (*apply)(ProductConfig& config);
    const char* label;
};

class PipelineBadConfigTest : public PipelineTest, public ::testing::WithParamInterface<BadConfigCase> {};

TEST_P(PipelineBadConfigTest, IsRefusedWithPathErrorBeforeAnyFolderOrRequest) {
    GetParam().apply(config_);
    EXPECT_EQ(Run(), -1);
    ExpectFailureEnding(MessageKind::PathError);
    EXPECT_TRUE(fs::is_empty(root_ / "tmp"));
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_TRUE(LogHas(" [Error]: refused configuration, "));
    const auto hits = Hits();
    EXPECT_TRUE(Has(hits, {"Other", "BadConfig", GetParam().label}));
    EXPECT_FALSE(Has(hits, {"Download", "3.Downloading...", "First"}));
}

INSTANTIATE_TEST_SUITE_P(
    Names, PipelineBadConfigTest,
    ::testing::Values(
        BadConfigCase{"name climbing up", [](ProductConfig& c) { c.Software_name = "../../evil"; }, "Software_name"},
        BadConfigCase{"name with a slash", [](ProductConfig& c) { c.Software_name = "Morvik/Backup"; }, "Software_name"},
        // Without a dot after the last '/', the stem is the product name.
        BadConfigCase{"stem from the name",
                      [](ProductConfig& c) {
                          c.Download_url = "http://127.0.0.1:9/get";
                          c.Software_name = "..";
                      },
                      "Software_name"},
        BadConfigCase{"version climbing up", [](ProductConfig& c) { c.Software_version = "1/../../../x"; },
                      "installer file name"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            if (c == ' ') c = '_';
        }
        return name;
    });

}  // namespace
}  // namespace pipelinetest
