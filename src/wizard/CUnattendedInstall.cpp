#include "src/wizard/CUnattendedInstall.h"

#include <chrono>
#include <memory>
#include <cstdio>
#include <optional>

#include "src/config/CConfigure.h"
#include "src/config/CConfigurationLoader.h"
#include "src/wizard/CConsoleInstallView.h"
#include "src/wizard/CInstallPipeline.h"
#include "src/language/CLanguageSelector.h"
#include "src/language/CLanguageTexts.h"
#include "src/language/LanguageTable.h"
#include "src/config/InstallPaths.h"
#include "src/wizard/LaunchEvents.h"
#include "src/wizard/PipelineTestHooks.h"
#include "src/wizard/WizardState.h"
#include "src/system/PreInstallChecks.h"
#include "src/system/ProcessLaunch.h"
#include "platform/ProcessLogger.h"
#include "platform/Folders.h"
#include "platform/RegistryStore.h"
#include "platform/SystemFacts.h"
#include "src/telemetry/UserLogReporter.h"
#include "ui/CCheckBox.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CSkinPackage.h"
#include "ui/x11/X11Connection.h"

namespace {

constexpr const char* kBrandFolder = "Morvik";

int LabelNumber(SkinUI::CControlHost& host, const char* name) {
    SkinUI::CControl* control = host.FindControl(name);
    return control == nullptr ? 0 : CConfigure::LabelNumber(control->GetText());
}

UnattendedExit ExitForMessage(MessageKind kind) {
    switch (kind) {
        case MessageKind::InternetFail: return UNATTENDED_NO_NETWORK;
        case MessageKind::InternetTimeout: return UNATTENDED_NO_PROGRESS;
        case MessageKind::UrlFail: return UNATTENDED_BAD_DOWNLOAD;
        case MessageKind::MD5Fail: return UNATTENDED_BAD_SIGNATURE;
        case MessageKind::InstallRunTimeOut: return UNATTENDED_INSTALL_TIMEOUT;
        case MessageKind::AppExist:
        case MessageKind::PathError:
        case MessageKind::NoEnoughSpace: return UNATTENDED_CHECK_FAILED;
        case MessageKind::Replace:
        case MessageKind::CloseWithoutAsking:
        case MessageKind::Cancel:
        case MessageKind::AlternativeLayout:
        case MessageKind::ClickShortcutToLaunch: return UNATTENDED_FAILED;
    }
    return UNATTENDED_FAILED;
}

int Fail(UnattendedExit code, const std::string& why) {
    std::fprintf(stderr, "Setup: %s\n", why.c_str());
    UserLogReporter::Instance().WaitUntilSent(std::chrono::seconds(5));
    return code;
}

// How far a run got, for the events that end it.
enum class RunStage { Launched, PipelineRan };

// The end of the run as the wizard reports a window closed at the same point: before an
// install attempt the close was a cancel, after one it closes the finished window. Queued
// events go out before the close event, which is sent at once.
void ReportClose(RunStage stage) {
    UserLogReporter& reporter = UserLogReporter::Instance();
    if (stage == RunStage::Launched) reporter.ReportEvent("DownloaderInfo", "CloseDownloadWindow", "", false);
    reporter.WaitUntilSent(std::chrono::seconds(5));
    reporter.ReportEvent("CrashRate", "Close", "", true);
    if (stage == RunStage::PipelineRan) {
        reporter.ReportEvent("DownloaderInfo", "CloseInstallCompleteWindow", "", false);
        reporter.WaitUntilSent(std::chrono::seconds(5));
    }
}

// The screen the first-run facts name; a machine without a display has none (0 x 0).
void ScreenSize(int& width, int& height) {
    width = 0;
    height = 0;
    std::string error;
    if (auto connection = SkinUI::x11::X11Connection::Open(&error)) connection->ScreenSize(width, height);
}

}  // namespace

const char* to_string(UnattendedExit code) {
    switch (code) {
        case UNATTENDED_INSTALLED: return "installed";
        case UNATTENDED_FAILED: return "failed";
        case UNATTENDED_USAGE: return "usage";
        case UNATTENDED_NO_NETWORK: return "no network";
        case UNATTENDED_NO_PROGRESS: return "no download progress";
        case UNATTENDED_BAD_DOWNLOAD: return "bad download";
        case UNATTENDED_BAD_SIGNATURE: return "bad signature";
        case UNATTENDED_INSTALL_TIMEOUT: return "installer timed out";
        case UNATTENDED_CHECK_FAILED: return "pre-install check failed";
        case UNATTENDED_INSTALLER_FAILED: return "installer failed";
    }
    return "unknown";
}

const char* UnattendedUsage() {
    return "usage: Setup [/S | --silent] [/DIR=FOLDER | --dir=FOLDER]\n"
           "  /S, --silent   install without a window, in the language of the locale\n"
           "  /DIR=FOLDER    install below FOLDER (default: the programs folder's Morvik folder);\n"
           "                 the product's own folder is added when FOLDER does not name it\n"
           "exit codes: 0 installed, 1 failed, 2 usage, 3 no network, 4 no download progress,\n"
           "            5 bad download, 6 bad signature, 7 installer timed out,\n"
           "            8 pre-install check failed (or no room in the download folder), 9 installer failed\n";
}

UnattendedRequest ParseUnattendedArguments(const std::vector<std::string>& args) {
    UnattendedRequest request;
    bool sawDir = false;
    for (const std::string& arg : args) {
        if (arg == "/S" || arg == "--silent") {
            request.requested = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            request.help = true;
        } else if (arg.rfind("/DIR=", 0) == 0 || arg.rfind("--dir=", 0) == 0) {
            request.installRoot = arg.substr(arg.find('=') + 1);
            sawDir = true;
        } else if (!arg.empty() && arg != "debug") {
            request.error = "unknown argument '" + arg + "'";
        }
    }
    // Without /S the wizard starts and ignores what it does not know, as it always has.
    if (!request.requested && !sawDir) request.error.clear();
    if (sawDir && !request.requested && request.error.empty()) request.error = "/DIR= needs /S";
    if (sawDir && request.installRoot.empty()) request.error = "/DIR= needs a folder";
    if (!request.installRoot.empty() && request.installRoot.front() != '/') {
        request.error = "/DIR= needs an absolute folder";
    }
    return request;
}

int RunUnattendedInstall(const UnattendedRequest& request) {
    qvlog::InitDefaultLogger(false);
    const SkinUI::CSkinPackage* package = SkinUI::CSkinPackage::Current();
    if (package == nullptr) return Fail(UNATTENDED_FAILED, "the skin package cannot be read");
    SkinUI::CControlHost host(package);
    std::string error;
    if (!host.LoadLayout("InstallMainWnd.xml", nullptr, &error)) {
        return Fail(UNATTENDED_FAILED, "the main window layout does not build: " + error);
    }

    // Configuration: the web service for as long as the wizard waits for it, else the skin's labels.
    const int downloaderId = LabelNumber(host, "Downloader_id");
    const int siteId = LabelNumber(host, "Site_id");
    const int languageId = LabelNumber(host, "Language_id");
    auto loader = CConfigurationLoader::Start(downloaderId, languageId, siteId);
    loader->WaitFor(CConfigurationLoader::kSettleLimit);
    std::unique_ptr<CConfigure> loaded = loader->Take();
    if (!loaded) {
        LOG(INFO) << " No product configuration from the service within "
                  << CConfigurationLoader::kSettleLimit.count() / 1000 << " s; using the skin's";
        loaded = std::make_unique<CConfigure>(downloaderId, languageId, siteId);
    }
    CConfigure& configure = *loaded;
    if (configure.loadState != CONFIG_LOADED) {
        configure.loadFromControls([&](const std::string& name) -> std::optional<std::string> {
            SkinUI::CControl* control = host.FindControl(name);
            if (control == nullptr) return std::nullopt;
            return control->GetText();
        });
    }
    if (configure.loadState != CONFIG_LOADED) return Fail(UNATTENDED_FAILED, "no product configuration");

    // The wizard's derived paths: the download folder and its log file.
    const bool pathsUsable = ConfigPathError(configure).empty();
    std::string downloadDir;
    if (pathsUsable) {
        if (IsInstallableProduct(configure)) {
            // The folder the pipeline downloads into: private to this user.
            downloadDir = CInstallPipeline::PrivateDownloadDirectory(configure, platform::TempDirectory(), std::string(), true);
            if (!downloadDir.empty()) downloadDir.pop_back();
        } else {
            downloadDir = platform::DesktopFolder() + "/" + DownloadStem(configure);
            platform::CreateDirectories(downloadDir);
        }
        if (!downloadDir.empty()) qvlog::ConfigureLogFile(downloadDir + "/" + InstallerFileName(configure) + ".log", false);
    }
    LOG(INFO) << " Unattended install of " << configure.Software_name << " " << configure.Software_version;
    configure.printContent();
    // The wizard's start-up events, so the maker sees this run launched like any other.
    int screenWidth = 0, screenHeight = 0;
    ScreenSize(screenWidth, screenHeight);
    ReportLaunchEvents(
        DefaultEventReporter(),
        [&] {
            UserLogReporter::Instance().SetChannelInfo(configure.Site_id, configure.Software_name,
                                                       configure.Download_url);
        },
        screenWidth, screenHeight);

    // Language from the locale, as the wizard detects it at start.
    CLanguageSelector languages(CLanguageTexts::Current(), DefaultEventReporter());
    languages.DetectLanguage(*host.GetRoot(), platform::UserUiLanguage(), TApplyContext{configure.Site_id, 0.0});
    const int languageIndex = languages.LanguageIndex();
    CConsoleInstallView view(languageIndex);
    if (const TLanguageInfo* language = FindLanguage(languageIndex)) {
        if (SkinUI::CControl* page = host.FindControl(language->productUrlControl)) {
            view.SetProductPageUrl(languageIndex, page->GetText());
        }
    }

    WizardState state;
    state.configure = &configure;
    state.downloaderId = downloaderId;
    state.productFolderName = configure.Software_name;
    state.downloadDir = downloadDir;
    state.languageIndex = languageIndex;
    state.SetProgressFormat(languages.ProgressFormat());

    // The install folder and the checks the install button runs.
    const std::string defaultRoot = platform::ProgramsFolder() + "/" + kBrandFolder;
    std::string root = request.installRoot;
    if (root.empty()) root = defaultRoot;
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    // The install button's events with the choices this run stands for: the skin's default
    // for the improvement programme, the detected language, the folder given.
    const auto* improvement = dynamic_cast<const SkinUI::COption*>(host.FindControl("agree_improvement_checkbox"));
    ReportInstallClick(DefaultEventReporter(), kUnattendedDownStartLabel, improvement && improvement->IsSelected(),
                       languageIndex, root != defaultRoot);
    platform::RegistryStore localMachine(platform::RegistryHive::LocalMachine);
    CPreInstallChecks checks({configure.Process_name, configure.Software_name, configure.Software_id}, root,
                             localMachine, DefaultEventReporter(), [&](MessageKind kind) { view.ShowMessage(kind); });
    if (!checks.AppIsRunning() || !checks.PrepareInstallDirectory()) {
        const UnattendedExit code = view.LastMessage() ? ExitForMessage(*view.LastMessage()) : UNATTENDED_CHECK_FAILED;
        ReportClose(RunStage::Launched);
        return Fail(code, std::string("cannot install: ") + to_string(code));
    }
    checks.StopProductService();
    std::string installDir = checks.InstallDirectory();
    if (installDir.find(state.productFolderName) == std::string::npos) installDir += "/" + state.productFolderName;
    view.SetInstallDirectory(InstallDirectoryFromPathText(installDir, state.productFolderName));
    std::printf("Installing %s %s into %s\n", configure.Software_name.c_str(), configure.Software_version.c_str(),
                installDir.c_str());
    std::fflush(stdout);

    InstallPipelineOptions pipelineOptions = PipelineOptionsFromTestHooks();
    pipelineOptions.onFolderBusy = [&configure](const std::string& folder) {
        std::fprintf(stderr, "Setup: another install of %s is running (in %s); waiting for it to end\n",
                     configure.Software_name.c_str(), folder.c_str());
    };
    CInstallPipeline pipeline(view, state, DefaultEventReporter(), std::move(pipelineOptions));
    const int result = pipeline.InstallThreadFunc();
    view.FinishProgressLine();
    ReportClose(RunStage::PipelineRan);
    if (view.LastMessage()) {
        const UnattendedExit code = ExitForMessage(*view.LastMessage());
        return Fail(code, std::string("install failed: ") + to_string(code));
    }
    if (result < 0 || !view.Done()) return Fail(UNATTENDED_FAILED, "install failed (see the log in " + downloadDir + ")");
    // "Installed" is a promise to the script that runs us: the installer must have said
    // so, and the product must be there. (The wizard shows its finished form either way.)
    if (result == 0) {
        const std::string logHint = pipeline.InstallerLogPath().empty()
                                        ? std::string()
                                        : " (see the installer's log " + pipeline.InstallerLogPath() + ")";
        if (pipeline.InstallerExitCode() != 0) {
            return Fail(UNATTENDED_INSTALLER_FAILED,
                        "the installer failed with exit code " + std::to_string(pipeline.InstallerExitCode()) + logHint);
        }
        const std::string executable =
            FuntionImpl::FindProductExecutable(pipeline.InstallDirectory(), configure.Process_name, true);
        if (executable.empty() || !platform::FileExists(executable)) {
            return Fail(UNATTENDED_INSTALLER_FAILED, "the installer ended but " + configure.Process_name +
                                                         " is not in " + pipeline.InstallDirectory() + logHint);
        }
    }
    std::printf("%s %s is installed in %s\n", configure.Software_name.c_str(), configure.Software_version.c_str(),
                installDir.c_str());
    UserLogReporter::Instance().WaitUntilSent(std::chrono::seconds(5));
    return UNATTENDED_INSTALLED;
}
