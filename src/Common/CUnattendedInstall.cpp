#include "Common/CUnattendedInstall.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "CConfigure.h"
#include "Common/CConsoleInstallView.h"
#include "Common/CInstallPipeline.h"
#include "Common/CLanguageSelector.h"
#include "Common/CLanguageTexts.h"
#include "Common/InstallPaths.h"
#include "Common/WizardState.h"
#include "FuntionImpl/PreInstallChecks.h"
#include "log/ProcessLogger.h"
#include "platform/Folders.h"
#include "platform/RegistryStore.h"
#include "platform/SystemFacts.h"
#include "telemetry/UserLogReporter.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CSkinPackage.h"

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
    }
    return "unknown";
}

const char* UnattendedUsage() {
    return "usage: Setup [/S | --silent] [/DIR=FOLDER | --dir=FOLDER]\n"
           "  /S, --silent   install without a window, in the language of the locale\n"
           "  /DIR=FOLDER    install below FOLDER (default: the programs folder's Morvik folder);\n"
           "                 the product's own folder is added when FOLDER does not name it\n"
           "exit codes: 0 installed, 1 failed, 2 usage, 3 no network, 4 no download progress,\n"
           "            5 bad download, 6 bad signature, 7 installer timed out, 8 pre-install check failed\n";
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

    // Configuration: the web service (three attempts), else the skin's labels.
    const int downloaderId = LabelNumber(host, "Downloader_id");
    const int siteId = LabelNumber(host, "Site_id");
    const int languageId = LabelNumber(host, "Language_id");
    CConfigure configure(downloaderId, languageId, siteId);
    configure.loadConfiguration([&](const std::string& name) -> std::optional<std::string> {
        SkinUI::CControl* control = host.FindControl(name);
        if (control == nullptr) return std::nullopt;
        return control->GetText();
    });
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
    UserLogReporter::Instance().SetChannelInfo(configure.Site_id, configure.Software_name, configure.Download_url);

    // Language from the locale, as the wizard detects it at start.
    CLanguageSelector languages(CLanguageTexts::Current(), DefaultEventReporter());
    languages.DetectLanguage(*host.GetRoot(), platform::UserUiLanguage(), TApplyContext{configure.Site_id, 0.0});
    const int languageIndex = languages.LanguageIndex();
    CConsoleInstallView view(host, languageIndex);

    WizardState state;
    state.configure = &configure;
    state.downloaderId = downloaderId;
    state.productFolderName = configure.Software_name;
    state.downloadDir = downloadDir;
    state.languageIndex = languageIndex;
    state.SetProgressFormat(languages.ProgressFormat());

    // The install folder and the checks the install button runs.
    std::string root = request.installRoot;
    if (root.empty()) root = platform::ProgramsFolder() + "/" + kBrandFolder;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    platform::RegistryStore localMachine(platform::RegistryHive::LocalMachine);
    CPreInstallChecks checks({configure.Process_name, configure.Software_name, configure.Software_id}, root,
                             localMachine, DefaultEventReporter(), [&](MessageKind kind) { view.ShowMessage(kind); });
    if (!checks.AppIsRunning() || !checks.PrepareInstallDirectory()) {
        const UnattendedExit code = view.LastMessage() ? ExitForMessage(*view.LastMessage()) : UNATTENDED_CHECK_FAILED;
        return Fail(code, std::string("cannot install: ") + to_string(code));
    }
    checks.StopProductService();
    std::string installDir = checks.InstallDirectory();
    if (installDir.find(state.productFolderName) == std::string::npos) installDir += "/" + state.productFolderName;
    view.SetControlText("install_file_path_edit", installDir);
    std::printf("Installing %s %s into %s\n", configure.Software_name.c_str(), configure.Software_version.c_str(),
                installDir.c_str());
    std::fflush(stdout);

    InstallPipelineOptions pipelineOptions;
    pipelineOptions.onFolderBusy = [&configure](const std::string& folder) {
        std::fprintf(stderr, "Setup: another install of %s is running (in %s); waiting for it to end\n",
                     configure.Software_name.c_str(), folder.c_str());
    };
    CInstallPipeline pipeline(view, state, DefaultEventReporter(), std::move(pipelineOptions));
    const int result = pipeline.InstallThreadFunc();
    view.FinishProgressLine();
    if (view.LastMessage()) {
        const UnattendedExit code = ExitForMessage(*view.LastMessage());
        return Fail(code, std::string("install failed: ") + to_string(code));
    }
    if (result < 0 || !view.Done()) return Fail(UNATTENDED_FAILED, "install failed (see the log in " + downloadDir + ")");
    std::printf("%s %s is installed in %s\n", configure.Software_name.c_str(), configure.Software_version.c_str(),
                installDir.c_str());
    UserLogReporter::Instance().WaitUntilSent(std::chrono::seconds(5));
    return UNATTENDED_INSTALLED;
}
