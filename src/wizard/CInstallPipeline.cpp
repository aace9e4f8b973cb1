#include "src/wizard/CInstallPipeline.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "src/config/CConfigure.h"
#include "src/language/CLanguageTexts.h"
#include "src/config/InstallPaths.h"
#include "src/language/InstalledLanguage.h"
#include "src/language/LanguageFormat.h"
#include "src/language/LanguageTable.h"
#include "src/verify/FailureReport.h"
#include "src/verify/VerifySignature.h"
#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/FileStreams.h"
#include "platform/FolderLock.h"
#include "platform/Folders.h"
#include "platform/PrivateFolder.h"
#include "src/telemetry/ServiceEndpoints.h"

namespace {

constexpr std::size_t kRecordLineChars = 259;

// The product page controls, by language index.
constexpr std::array<const char*, kLanguageCount> kProductUrlControls = {
    "product_url_english",   "product_url_japanese",   "product_url_chinesesimp", "product_url_spanish",
    "product_url_german",    "product_url_french",     "product_url_russian",     "product_url_portuguese",
    "product_url_arabic",    "product_url_italiano",   "product_url_chinesetrad", "product_url_korean",
    "product_url_nederlands", "product_url_indonesian", "product_url_turkish",     "product_url_hindi",
    "product_url_thai",      "product_url_malay",      "product_url_swedish",     "product_url_czech",
};

// Deletions never stop the pipeline: a file that is not there or cannot go is left alone.
void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string FirstEnvironmentValue(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}

// Download folders a pipeline of this process holds locked. The window thread clears a
// failed download while the pipeline that failed still shows its message box; it may,
// since the folder's holder is this very process (flock would refuse it a second lock).
std::mutex g_heldFoldersLock;
std::set<std::string> g_heldFolders;

class HeldFolder {
public:
    HeldFolder(std::string folder, platform::FolderLock lock) : folder_(std::move(folder)), lock_(std::move(lock)) {
        std::lock_guard<std::mutex> guard(g_heldFoldersLock);
        g_heldFolders.insert(folder_);
    }
    ~HeldFolder() {
        std::lock_guard<std::mutex> guard(g_heldFoldersLock);
        g_heldFolders.erase(folder_);
    }
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

private:
    std::string folder_;
    platform::FolderLock lock_;
};

bool HeldByThisProcess(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_heldFoldersLock);
    return g_heldFolders.count(folder) != 0;
}

constexpr int kFolderLockPollMs = 200;

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// The box that tells the user why the download failed; nothing for a complete one.
std::optional<MessageKind> FailureMessage(DownloadResult result) {
    switch (result) {
        case DownloadResult::Complete: return std::nullopt;
        case DownloadResult::Incomplete: return MessageKind::UrlFail;
        case DownloadResult::NoNetwork: return MessageKind::InternetFail;
        case DownloadResult::TooSlow: return MessageKind::InternetTimeout;
        case DownloadResult::CdnTooManyRequests: return MessageKind::InternetTimeout;
        case DownloadResult::NoRoom: return MessageKind::NoEnoughSpace;
    }
    return MessageKind::UrlFail;  // a value no download returns
}

}  // namespace

CInstallPipeline::CInstallPipeline(IInstallView& view, WizardState& state, IEventReporter& reporter,
                                   InstallPipelineOptions options)
    : m_view(view), m_state(state), m_reporter(reporter), m_options(std::move(options)) {
    if (m_options.localMachine == nullptr) {
        m_ownLocalMachine = std::make_unique<platform::RegistryStore>(platform::RegistryHive::LocalMachine);
    }
    if (m_options.currentUser == nullptr) {
        m_ownCurrentUser = std::make_unique<platform::RegistryStore>(platform::RegistryHive::CurrentUser);
    }
    m_localMachine = m_options.localMachine != nullptr ? m_options.localMachine : m_ownLocalMachine.get();
    m_currentUser = m_options.currentUser != nullptr ? m_options.currentUser : m_ownCurrentUser.get();
}

CInstallPipeline::~CInstallPipeline() = default;

void CInstallPipeline::StartThread(std::shared_ptr<CInstallPipeline> pipeline) {
    std::thread([pipeline = std::move(pipeline)] { pipeline->InstallThreadFunc(); }).detach();
}

void CInstallPipeline::Report(const std::string& category, const std::string& action, const std::string& label) {
    m_reporter.ReportEvent(category, action, label, false);
}

std::string CInstallPipeline::TemporaryDirectory() const {
    return m_options.temporaryDirectory ? m_options.temporaryDirectory() : platform::TempDirectory();
}

int CInstallPipeline::InstallThreadFunc() {
    // 1. Start.
    const std::uint64_t t0 = platform::TickCount64();
    Report("DownloaderInfo", "BeginDownload001", "");
    if (m_state.configure == nullptr) {
        LOG(INFO) << " [Error]: install started without a product configuration";
        Report("DownloaderInfo00", "DownloaderFailed", "Unknown");
        return -1;
    }
    ProductConfig& config = *m_state.configure;
    const std::string retryLabel = m_state.RetryLabel();

    // Configuration values become folder and file names below; one that climbs out of its
    // parent would create and delete files elsewhere, so the attempt ends here.
    if (const std::string error = ConfigPathError(config); !error.empty()) {
        LOG(INFO) << " [Error]: refused configuration, " << error;
        Report("Other", "BadConfig", error.substr(0, error.find(':')));
        m_view.ShowMessage(MessageKind::PathError);
        return FailureEnding();
    }

    // 2. The download directory: private to this user, and used by one run at a time.
    const std::string temporary = TemporaryDirectory();
    const std::string downloadDirectory =
        PrivateDownloadDirectory(config, temporary, m_options.cacheDirectory, true);
    if (downloadDirectory.empty()) {
        LOG(INFO) << " [Error]: cannot create the download directory below " << temporary;
        Report("DownloaderInfo00", "DownloaderFailed", "Unknown");
        return -1;
    }
    std::optional<HeldFolder> held;
    {
        const std::uint64_t deadline = platform::TickCount64() + static_cast<std::uint64_t>(m_options.folderLockWaitMs);
        bool told = false;
        for (;;) {
            platform::FolderLock::Outcome outcome = platform::FolderLock::Outcome::FOLDER_LOCK_FAILED;
            std::string lockError;
            if (auto lock = platform::FolderLock::TryAcquire(downloadDirectory, outcome, lockError)) {
                held.emplace(downloadDirectory, std::move(*lock));
                break;
            }
            if (outcome == platform::FolderLock::Outcome::FOLDER_LOCK_FAILED) {
                LOG(INFO) << " [Error]: " << lockError;
                Report("DownloaderInfo00", "DownloaderFailed", "Unknown");
                return -1;
            }
            if (!told) {
                told = true;
                LOG(INFO) << " Another install is running in " << downloadDirectory << ", waiting for it";
                if (m_options.onFolderBusy) m_options.onFolderBusy(downloadDirectory);
            }
            if (platform::TickCount64() >= deadline) {
                LOG(INFO) << " [Error]: another install still runs in " << downloadDirectory << ", giving up";
                Report("DownloaderInfo00", "DownloaderFailed", "Unknown");
                return -1;
            }
            platform::SleepMs(kFolderLockPollMs);
        }
    }

    // 3. The download location.
    CRemotePathSelector selector(config.Software_name, *m_localMachine, this, m_reporter,
                                 [downloadDirectory] { return downloadDirectory; }, m_options.speedTest);
    if (std::string page = selector.resolvePageDownloadUrl(config.Cnet_download_url); !page.empty()) {
        m_state.AppendRemotePath(std::move(page));
    }
    const std::vector<std::string> remotePaths = m_state.RemotePaths();
    std::string location = selector.checkRemotePath(remotePaths, config.Downloader_type);
    m_state.SetDownloadUrl(location);
    const std::uint64_t t1 = platform::TickCount64();
    {
        std::ostringstream took;
        took << std::floor(static_cast<double>(t1 - t0) * 100.0) / 100.0;
        LOG(INFO) << " Speed-Test Totally Take " << took.str() << " ms";
    }
    GetIEProxyConfig();

    // 4. Paths of this download.
    const std::string installerPath = InstallerPath(config, downloadDirectory, m_state.downloadDir);
    const std::string taskPath = installerPath + ".xml";

    // 5. Only a file its verification record vouches for is kept.
    CheckEarlierDownload(installerPath, config);

    // 6. A configuration from the skin carries no checksum to vouch for an earlier file.
    if (config.loadSource == CONFIG_SOURCE_SKIN) {
        LOG(INFO) << " Configure Load From File, clearAppData Before Download! ";
        RemoveQuietly(downloadDirectory + InstallerFileName(config));
        RemoveQuietly(downloadDirectory + InstallerFileName(config) + ".xml");
    }

    // 7. Download, starting from what the chosen location's speed test fetched.
    selector.adoptSpeedTestBytes(location, installerPath, taskPath);
    bool cdn = CDownLoadImpl::IsCdnUrl(location);
    Report("Download", "3.Downloading...", retryLabel);
    CDownLoadImpl downloader(this, m_reporter, m_options.networkAlive, m_options.download);
    DownloadResult result = downloader.SuperDownloadFile(location, installerPath, config.Md5);

    // 8. One more try on another location when a content-delivery location gave up.
    if (result == DownloadResult::CdnTooManyRequests) {
        for (const std::string& other : remotePaths) {
            if (other == location) continue;
            RemoveQuietly(taskPath);
            LOG(INFO) << " Use New Url: " << other;
            location = other;
            cdn = CDownLoadImpl::IsCdnUrl(location);
            Report("Download", "3.Downloading...", retryLabel);
            m_state.SetDownloadUrl(location);
            result = downloader.SuperDownloadFile(location, installerPath, config.Md5);
            break;
        }
    }

    // 9. Download time.
    const std::uint64_t t2 = platform::TickCount64();
    const std::string bucket = DownloadTimeBucket(static_cast<std::int64_t>(t2 - t1));
    LOG(INFO) << " Download Totally Takes about " << bucket << " And Send To Server";
    Report("DownloadTime", cdn ? "CDN" : "Server", bucket);

    // 10. Download failures.
    if (const std::optional<MessageKind> kind = FailureMessage(result)) {
        const std::string code = std::to_string(ResultCode(result));
        Report("Other", "DownErrorCode", "error" + code);
        Report("DownloaderInfo00", "DownloaderFailed", code);
        if (result == DownloadResult::CdnTooManyRequests) selector.increaseRequestTooMuchTimes();
        m_view.ShowMessage(*kind);
        return FailureEnding();
    }

    // 11. A product that is not installed: the downloaded file is the result.
    if (!IsInstallableProduct(config)) {
        ShowPercent(100.0);
        RecordLanguage();
        FinishEnding();
        LOG(INFO) << "APP DownloaderSucceed";
        return 1;
    }

    // 12. Verification. The file checked is the file started: it is made read-only and
    // its identity taken now, and the start below refuses a file that is not the same.
    platform::MakeReadOnly(installerPath);
    const std::optional<platform::FileIdentity> checkedIdentity = platform::IdentityOf(installerPath);
    const bool md5Passed = config.loadSource == CONFIG_SOURCE_SKIN ||
                           CDownLoadImpl::checkMD5(installerPath, config.Md5, config.Md5_extra,
                                                   config.Software_version) != 0;
    const bool signaturePassed = checkedIdentity.has_value() && FuntionImpl::VerifyEmbeddedSignature(installerPath);
    if (!md5Passed || !signaturePassed) {
        SendFailureReport(md5Passed, signaturePassed, m_state.downloaderId, config.loadSource,
                          m_options.exceptionUrl.empty() ? ServiceEndpoints::FromEnvironment().exceptionUrl
                                                         : m_options.exceptionUrl);
    }
    if (!signaturePassed) {
        Report("DownloaderInfo00", "DownloaderFailed", "-5");
        m_view.ShowMessage(MessageKind::MD5Fail);
        return FailureEnding();
    }

    // 13. Install.
    Report("DownloaderInfo00", "DownloadSuccess001", "");
    Report("DownloaderInfo", "BeginInstall001", "");
    Report("Download", "4.DownFinsh", retryLabel);
    const std::string installDirectory =
        InstallDirectoryFromPathText(m_view.GetControlText("install_file_path_edit"), m_state.productFolderName);
    // The installer runs as Setup's user (root, to install into /opt) and writes its log
    // where it is told, at a name known to the second: in a shared temporary folder another
    // user could plant a link there. The private download folder beside it is safe.
    const std::string logDirectory = downloadDirectory;
    const std::string logName =
        InstallerLogFileName(config.Software_name, m_options.localTime ? m_options.localTime() : LocalTimeNow());
    const std::string commandLine = InstallerCommandLine(
        m_state.innoInstaller, installDirectory, InstallerLanguageValue(m_state.languageIndex.load(), config.Downloader_id),
        logDirectory, logName);
    m_installDirectory = installDirectory;
    if (m_state.innoInstaller && !logDirectory.empty()) m_installerLogPath = logDirectory + logName;
    LOG(INFO) << " [Download File Path]: " << installerPath;
    LOG(INFO) << " [Start Install CmdLine]: " << commandLine;
    Report("Download", "5.ProgramInstall", retryLabel);

    if (m_options.beforeInstallerStart) m_options.beforeInstallerStart(installerPath);
    if (platform::IdentityOf(installerPath) != checkedIdentity) {
        LOG(INFO) << " [Error]: the installer changed after its check and is not started: " << installerPath;
        RemoveQuietly(installerPath);
        RemoveQuietly(taskPath);
        Report("DownloaderInfo00", "DownloaderFailed", "-5");
        m_view.ShowMessage(MessageKind::MD5Fail);
        return FailureEnding();
    }
    const FuntionImpl::InstallerWaitResult waited = FuntionImpl::RunInstallerProcessAndWait(
        installerPath, commandLine, [this](int shown) { ShowPercent(shown); }, m_options.installerWait);
    m_installerPid = waited.pid;
    m_installerExitCode = waited.exitCode;
    if (waited.outcome == FuntionImpl::InstallerOutcome::INSTALLER_TIMED_OUT) {
        Report("DownloaderInfo", "InstallFailed", "");
        ShowFailurePage();
        m_view.ShowMessage(MessageKind::InstallRunTimeOut);
        FinishEnding();
        return -1;
    }
    Report("DownloaderInfo00", "InstallFinish001", "");
    Report("Download", "6.ProgramFinsh", retryLabel);
    OpenProductPage();
    RecordLanguage();
    FinishEnding();

    const std::string minutes = InstallMinutesText(static_cast<std::int64_t>(platform::TickCount64() - t2));
    LOG(INFO) << " Install Totally Take " << minutes << " minutes And Send To Server";
    Report("DownloaderInfo00", "InstalllProgramTime", minutes);
    return 0;
}

int CInstallPipeline::FailureEnding() {
    ShowFailurePage();
    FinishEnding();
    return -1;
}

void CInstallPipeline::FinishEnding() {
    m_view.StopSlideTimer();
    m_view.SelectTabPage("main_tablayout", 0);
    m_state.closeConfirmKind = static_cast<int>(MessageKind::CloseWithoutAsking);
    m_view.PostPipelineDone();
}

void CInstallPipeline::ShowPercent(double percent) {
    m_view.SetControlText("install_label", FormatProgressText(m_state.ProgressFormat(), percent));
    m_view.SetProgressValue("install_progress", static_cast<int>(percent));
}

void CInstallPipeline::ShowDownloadProgress(std::int64_t done, std::int64_t total) {
    const bool shareWithSpeedTest = m_state.configure != nullptr && m_state.configure->Downloader_type == 3;
    const float quotient = static_cast<float>(done) / static_cast<float>(total);
    float percent = shareWithSpeedTest ? quotient * 80.0f + 10.0f : quotient * 90.0f;
    // 0/0 and x/0 have no finite value; they show as the empty bar, as a negative one does.
    if (!std::isfinite(percent) || static_cast<long long>(percent) < 0) percent = 0.0f;
    ShowPercent(static_cast<double>(percent));
}

void CInstallPipeline::ShowSelectionProgress(double percent) { ShowPercent(percent); }

void CInstallPipeline::ShowFailurePage() {
    Report("Download", "8.DownFail", m_state.RetryLabel());
    if (m_view.HasControl("finish_label")) m_view.SetControlText("finish_label", "Install failed, please install again!");
    m_view.SetControlVisible("text_fail_retry", true);
    m_view.SetControlVisible("text_fail_advice", true);
    m_view.SetControlVisible("img_warning", true);
    const int language = m_state.languageIndex.load();
    const std::string retry = m_options.languageText ? m_options.languageText(language, "install_page", "retry_btn")
                                                     : GetLanguageText(language, "install_page", "retry_btn");
    m_view.SetControlText("start_app", retry);
}

void CInstallPipeline::ClearDownload() {
    if (m_state.configure != nullptr) ClearDownloadFiles(*m_state.configure, TemporaryDirectory(), m_options.cacheDirectory);
}

void CInstallPipeline::ClearDownloadFiles(const ProductConfig& config, const std::string& temporaryDirectory,
                                          const std::string& cacheDirectory) {
    if (temporaryDirectory.empty() || !ConfigPathError(config).empty()) return;
    const std::string directory = PrivateDownloadDirectory(config, temporaryDirectory, cacheDirectory, false);
    if (directory.empty()) return;
    platform::FolderLock::Outcome outcome = platform::FolderLock::Outcome::FOLDER_LOCK_FAILED;
    std::string error;
    const std::optional<platform::FolderLock> lock = platform::FolderLock::TryAcquire(directory, outcome, error);
    if (!lock && !HeldByThisProcess(directory)) {
        LOG(INFO) << " Download not cleared, another install runs in " << directory;
        return;
    }
    const std::string installerPath = directory + InstallerFileName(config);
    RemoveQuietly(installerPath);
    RemoveQuietly(installerPath + ".xml");
}

std::string CInstallPipeline::PrivateDownloadDirectory(const ProductConfig& config, const std::string& temporaryDirectory,
                                                       const std::string& cacheDirectory, bool allowFresh) {
    if (!ConfigPathError(config).empty()) return {};
    std::vector<std::string> refused;
    const std::optional<std::string> folder =
        platform::PrivateFolder::ForDownloads(temporaryDirectory, DownloadStem(config), cacheDirectory, allowFresh, refused);
    for (const std::string& why : refused) LOG(INFO) << " Download folder refused: " << why;
    return folder.value_or(std::string());
}

int CInstallPipeline::GetIEProxyConfig() {
    const std::string autoConfig = FirstEnvironmentValue("auto_proxy", "AUTO_PROXY");
    // The proxies every transfer will really use, by libcurl's reading of the environment:
    // it ignores an upper-case HTTP_PROXY (a CGI request can set it) and falls back to
    // all_proxy for either scheme. Logging HTTP_PROXY would name a proxy nothing goes through.
    const std::string any = FirstEnvironmentValue("all_proxy", "ALL_PROXY");
    const char* httpOnly = std::getenv("http_proxy");
    std::string http = httpOnly != nullptr ? httpOnly : "";
    if (http.empty()) http = any;
    std::string https = FirstEnvironmentValue("https_proxy", "HTTPS_PROXY");
    if (https.empty()) https = any;
    const std::string bypass = FirstEnvironmentValue("no_proxy", "NO_PROXY");
    // Reading the environment cannot fail: result 1, no error.
    LOG(INFO) << " Get proxy: " << 1 << ", " << 0;
    int last = 0;
    if (!autoConfig.empty()) {
        LOG(INFO) << " Proxy info1: " << autoConfig;
        last = 1;
    }
    if (!http.empty() || !https.empty()) {
        // Per-scheme proxies in the "scheme=host:port;..." form of the system proxy string.
        std::string proxy;
        if (!http.empty()) proxy += "http=" + http;
        if (!https.empty()) proxy += (proxy.empty() ? "" : ";") + std::string("https=") + https;
        LOG(INFO) << " Proxy info2: " << proxy;
        last = 2;
    }
    if (!bypass.empty()) {
        LOG(INFO) << " Proxy info3: " << bypass;
        last = 3;
    }
    return last;
}

bool CInstallPipeline::CheckEarlierDownload(const std::string& installerPath, const ProductConfig& config) {
    const std::string recordPath = installerPath + ".db";
    const std::string taskPath = installerPath + ".xml";
    bool keep = false;
    // At most the first line's first 259 characters; UTF-8 takes up to four bytes each.
    // A link under the record's name is no record.
    if (std::optional<std::string> read = platform::ReadFilePrefix(recordPath, kRecordLineChars * 4)) {
        std::string line = std::move(*read);
        if (const std::size_t end = line.find_first_of("\r\n"); end != std::string::npos) line.resize(end);
        line = Utf8Prefix(line, kRecordLineChars);
        std::string version;
        std::string checksum;
        if (const std::size_t mark = line.find("###"); mark != std::string::npos) {
            version = line.substr(0, mark);
            checksum = Lower(line.substr(mark + 3));
        }
        // An empty checksum vouches for nothing, even when a configured one is empty too.
        keep = version == config.Software_version && !checksum.empty() &&
               (checksum == config.Md5 || checksum == config.Md5_extra);
        if (!keep) {
            RemoveQuietly(installerPath);
            RemoveQuietly(taskPath);
        }
        RemoveQuietly(recordPath);
    } else {
        RemoveQuietly(installerPath);
        RemoveQuietly(taskPath);
    }
    if (!platform::RegularFileExists(installerPath)) {
        RemoveQuietly(installerPath);  // a link or anything else in its place
        RemoveQuietly(taskPath);
        keep = false;
    }
    return keep;
}

std::string CInstallPipeline::DownloadTimeBucket(std::int64_t elapsedMs) {
    const std::int64_t seconds = elapsedMs < 0 ? 0 : elapsedMs / 1000;
    const long long tens = seconds / 10;
    const long long units = seconds % 10;
    char text[64];
    if (tens == 0 && units == 0) std::snprintf(text, sizeof text, "%llds", tens);
    else if (units == 0) std::snprintf(text, sizeof text, "[%lld~%llds]", (tens - 1) * 10 + 1, tens * 10);
    else std::snprintf(text, sizeof text, "[%lld~%llds]", tens * 10 + 1, (tens + 1) * 10);
    return text;
}

std::string CInstallPipeline::InstallMinutesText(std::int64_t elapsedMs) {
    const double minutes = std::floor(static_cast<double>(elapsedMs) / 60000.0 * 100.0) / 100.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", minutes);
    return text;
}

int CInstallPipeline::RecordLanguage() {
    const ProductConfig& config = *m_state.configure;
    const TInstalledProduct product{config.Downloader_id, config.Software_name, m_state.innoInstaller};
    return RecordInstalledLanguage(m_state.languageIndex.load(), product, *m_localMachine, *m_currentUser);
}

void CInstallPipeline::OpenProductPage() {
    const int language = m_state.languageIndex.load();
    if (language < 0 || language >= kLanguageCount) return;
    const char* control = kProductUrlControls[static_cast<std::size_t>(language)];
    if (!m_view.HasControl(control)) return;
    const std::string url = m_view.GetControlText(control);
    if (url.empty()) return;
    LOG(INFO) << " Open Url: " << url;
    m_view.OpenUrl(url);
}
