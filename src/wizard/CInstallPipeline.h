#pragma once
// The install pipeline: one attempt at getting the product onto the machine once the user
// has pressed install (or retry). It picks the download location, decides whether a file
// left by an earlier run may be reused, downloads the product's full installer, verifies
// it, runs it silently into the chosen directory and language, waits for it, leaves the
// window in its finished or failure form, and reports every stage to analytics.
//
// Stages, in order, each a function of its own that a test may run alone: Prepare (the
// configuration and the download folder) -> ChooseLocation -> CheckReuse -> Download ->
// Verify -> Install (and wait) -> Finish. Each says how it went in a result enum; the
// stages carry what they found to the next ones in an InstallAttempt. InstallThreadFunc
// runs them and picks the ending: every ending that leaves the window in a final state
// sets closeConfirmKind to CloseWithoutAsking and posts the pipeline-done message; the
// silent failures of preparing (no configuration, no download folder or its lock) leave
// the running page as it is.
//
// Threads: InstallThreadFunc runs on its own thread (StartThread), one object per attempt.
// It reaches the window only through IInstallView, from that thread; the view must outlive
// the thread, and so must the WizardState (both belong to the main window, which lives
// until the process ends). Download progress arrives through IDownloadProgress on the same
// thread. ClearDownloadFiles is a pure file operation and may be called from the window
// thread at any time.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/engine/CRemotePathSelector.h"
#include "src/wizard/IInstallView.h"
#include "src/wizard/PipelineStageResults.h"
#include "src/wizard/WizardState.h"
#include "src/engine/DownLoadImpl.h"
#include "src/system/ProcessLaunch.h"
#include "src/engine/IDownloadProgress.h"
#include "platform/FileStreams.h"
#include "platform/RegistryStore.h"
#include "src/telemetry/IEventReporter.h"

// What the pipeline takes from its surroundings. Every field has the product's default;
// tests shorten the time limits and point the folders and stores at their own places.
struct InstallPipelineOptions {
    DownloadWatchSettings download;
    SpeedTestSettings speedTest;
    FuntionImpl::InstallerWaitTiming installerWait;
    // Whether the machine has a network connection; empty: the machine's state.
    std::function<bool()> networkAlive;
    // The user's temporary folder in its canonical form (where the private download folder
    // is looked for first), ending in '/'; empty: the platform's.
    std::function<std::string()> temporaryDirectory;
    // The local time stamped into the installer's log file name; empty: now.
    std::function<std::tm()> localTime;
    // Failure reports go here; empty: the exception endpoint of the environment.
    std::string exceptionUrl;
    // One text of a language file (container, label); empty: the skin package's texts.
    std::function<std::string(int languageIndex, std::string_view container, std::string_view key)> languageText;
    // The CDN failure counter and the installed language live here; null: the process's hives.
    platform::RegistryStore* localMachine = nullptr;
    platform::RegistryStore* currentUser = nullptr;
    // Where the download folder goes when the one in the temporary folder is not private
    // to this user (ending in '/'); empty: the user's cache folder.
    std::string cacheDirectory;
    // How long to wait for another run of Setup working in the same download folder.
    int folderLockWaitMs = 30 * 60 * 1000;
    // Called once (on the pipeline thread) when another run holds the download folder and
    // this one starts waiting for it.
    std::function<void(const std::string& folder)> onFolderBusy;
    // Tests only: called with the installer's path after its checks, right before it starts.
    std::function<void(const std::string& installerPath)> beforeInstallerStart;
};

// What one attempt carries from stage to stage, each field filled by the stage named.
// InstallThreadFunc makes one per attempt; a test that runs a single stage fills what that
// stage reads.
struct InstallAttempt {
    ProductConfig* config = nullptr;        // Prepare: the state's configuration
    std::string retryLabel;                 // Prepare: "Retry" or "First"
    std::uint64_t startedMs = 0;            // Prepare: tick count at the start
    std::string downloadDirectory;          // Prepare: private to this user, ending in '/'
    std::shared_ptr<const void> folderHold; // Prepare: the download folder's lock, freed with the attempt
    std::vector<std::string> remotePaths;   // ChooseLocation: the locations there are
    std::string location;                   // ChooseLocation; Download moves it on a retry elsewhere
    std::uint64_t locationChosenMs = 0;     // ChooseLocation: tick count once chosen
    std::unique_ptr<CRemotePathSelector> selector;  // ChooseLocation: holds its speed test's bytes until Download
    std::string installerPath;              // CheckReuse
    std::string taskPath;                   // CheckReuse: installer path + ".xml"
    std::uint64_t downloadedMs = 0;         // Download: tick count once it ended
    std::optional<platform::FileIdentity> checkedIdentity;  // Verify: the file that was checked
};

class CInstallPipeline : public IDownloadProgress {
public:
    CInstallPipeline(IInstallView& view, WizardState& state, IEventReporter& reporter = DefaultEventReporter(),
                     InstallPipelineOptions options = {});
    ~CInstallPipeline() override;
    CInstallPipeline(const CInstallPipeline&) = delete;
    CInstallPipeline& operator=(const CInstallPipeline&) = delete;

    // Runs InstallThreadFunc on a new, detached thread that keeps the pipeline alive.
    static void StartThread(std::shared_ptr<CInstallPipeline> pipeline);

    // The whole attempt. -1 on every failure, 1 when a non-installable product was
    // downloaded, 0 after an install. Nobody needs the value; tests read it.
    int InstallThreadFunc();

    // --- the stages, in the order InstallThreadFunc runs them ------------------------------
    // The start event; the configuration checked for names that would leave their folders;
    // the private download folder made and locked (waiting folderLockWaitMs for another run
    // in it). Every outcome but Ready has reported its failure event.
    PrepareResult Prepare(InstallAttempt& attempt);
    // A location a download page advertises joins the list; the rule or the speed test of
    // the downloader type picks one, which becomes the state's download address.
    LocationResult ChooseLocation(InstallAttempt& attempt);
    // The installer's paths; what an earlier run left there is kept only as CheckEarlierDownload
    // decides, and never for a configuration from the skin.
    ReuseResult CheckReuse(InstallAttempt& attempt);
    // The download, with one more try on another location when a content-delivery location
    // gave up; the time it took and, when it failed, its error events (and the content-
    // delivery failure count) are reported.
    DownloadResult Download(InstallAttempt& attempt);
    // Makes the file read-only, takes its identity, checks its checksum and signature and
    // sends the failure report when either fails.
    VerifyResult Verify(InstallAttempt& attempt);
    // Starts the installer on the checked file into the view's install directory and waits
    // for it, showing its progress.
    InstallResult Install(InstallAttempt& attempt);
    // The finished window (with the product page after an install) and the language record.
    FinishResult Finish(InstallAttempt& attempt);

    // Download progress: done / total fills 10-90 % of the bar with Downloader_type 3,
    // 0-90 % otherwise; a value without a finite whole part, or a negative one, shows 0.
    void ShowDownloadProgress(std::int64_t done, std::int64_t total) override;
    // The speed test's share of the bar (0-10 %).
    void ShowSelectionProgress(double percent) override;

    // Reports "8.DownFail" and turns the view's finished row into its failure form, the
    // start button carrying the language's retry text.
    void ShowFailurePage();

    // Deletes the installer and its task file in the download folder.
    void ClearDownload();
    // The same for a configuration and temporary folder (ending in '/'); what the window
    // does on the clear-download message. Only a private download folder is touched, and
    // not while another run of Setup works in it; does nothing for a configuration whose
    // names would leave it.
    static void ClearDownloadFiles(const ProductConfig& config, const std::string& temporaryDirectory,
                                   const std::string& cacheDirectory = std::string());

    // The private download folder for `config` (ending in '/'): <temporary>/<stem>/ when
    // it is this user's alone, else one in `cacheDirectory` (empty: the user's cache
    // folder), else a fresh one when `allowFresh`. Folders refused are logged with the
    // reason. Empty when none can be had.
    static std::string PrivateDownloadDirectory(const ProductConfig& config, const std::string& temporaryDirectory,
                                                const std::string& cacheDirectory, bool allowFresh);

    // Logs the proxy settings of the environment as every transfer applies them (http_proxy,
    // https_proxy or HTTPS_PROXY, all_proxy for either, no_proxy) and returns 0, or 1, 2, 3
    // for the last of automatic configuration (auto_proxy), proxy and bypass list that is
    // set. Nothing here changes them: libcurl reads the same variables itself.
    static int GetIEProxyConfig();

    // Keeps the installer of an earlier run only when its verification record (installer
    // path + ".db") names the configured version and a configured checksum; otherwise
    // deletes it and its task file. The record is deleted in any case, and a task file
    // without its installer too. Kept, NoRecord, NotVouchedFor or NoInstaller.
    static ReuseResult CheckEarlierDownload(const std::string& installerPath, const ProductConfig& config);

    // "0s" below ten whole seconds of nothing ... : the download-time label, e.g. 7 s and
    // 10 s give "[1~10s]", 11 s "[11~20s]", under 1 s "0s".
    static std::string DownloadTimeBucket(std::int64_t elapsedMs);
    // Minutes cut to two decimals, written with one ("%.1f"): 75.6 s gives "1.3".
    static std::string InstallMinutesText(std::int64_t elapsedMs);

    // The process id of the installer this pipeline started; -1 when none was started.
    int InstallerPid() const { return m_installerPid.load(); }
    // What the finished installer left: its exit status (-1 when it did not finish or
    // none ran), the log it was asked to write (empty when none), and the install folder.
    // The wizard does not act on them; the unattended install does. After InstallThreadFunc.
    int InstallerExitCode() const { return m_installerExitCode; }
    const std::string& InstallerLogPath() const { return m_installerLogPath; }
    const std::string& InstallDirectory() const { return m_installDirectory; }

private:
    // The box of `kind`, then the failure form, slide timer stopped, first page, close
    // without asking, done posted. -1.
    int FailureEnding(MessageKind kind);
    // The installer may still be working: the failure form goes up before the box. -1.
    int TimeoutEnding();
    // Timer stopped, first page, close without asking, done posted.
    void FinishEnding();
    std::unique_ptr<CRemotePathSelector> LocationSelector(const InstallAttempt& attempt);
    void ShowPercent(double percent);
    void Report(const std::string& category, const std::string& action, const std::string& label);
    std::string TemporaryDirectory() const;
    int RecordLanguage();
    void OpenProductPage();

    IInstallView& m_view;
    WizardState& m_state;
    IEventReporter& m_reporter;
    InstallPipelineOptions m_options;
    std::unique_ptr<platform::RegistryStore> m_ownLocalMachine;
    std::unique_ptr<platform::RegistryStore> m_ownCurrentUser;
    platform::RegistryStore* m_localMachine;
    platform::RegistryStore* m_currentUser;
    std::atomic<int> m_installerPid{-1};
    int m_installerExitCode = -1;
    std::string m_installerLogPath;
    std::string m_installDirectory;
};
