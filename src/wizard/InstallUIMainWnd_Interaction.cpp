// The main window's answers to the user: links, clicks, the panel, the folder choice,
// starting the install, retrying, starting the product and closing.

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "src/config/CConfigure.h"
#include "src/wizard/CInstallPipeline.h"
#include "src/language/CLanguageTexts.h"
#include "src/config/InstallPaths.h"
#include "src/wizard/InstallUIMainWnd.h"
#include "src/language/LanguageFormat.h"
#include "src/language/LanguageTable.h"
#include "src/wizard/LaunchEvents.h"
#include "src/wizard/PipelineTestHooks.h"
#include "src/system/PreInstallChecks.h"
#include "src/system/ProcessLaunch.h"
#include "platform/ProcessLogger.h"
#include "platform/Folders.h"
#include "platform/RegistryStore.h"
#include "platform/Shell.h"
#include "platform/SystemFacts.h"
#include "ui/CCheckBox.h"
#include "ui/CControl.h"
#include "ui/CProgress.h"
#include "ui/CTabLayout.h"
#include "ui/UiTypes.h"
#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11SystemMessageBox.h"

namespace {

bool Is(const SkinUI::TNotify& msg, const SkinUI::CControl* reference) {
    return reference != nullptr && msg.sender == reference;
}

bool Named(const SkinUI::TNotify& msg, std::string_view name) {
    return msg.sender != nullptr && msg.sender->GetName() == name;
}

int CurrentPage(SkinUI::CControl* tabs) {
    auto* layout = dynamic_cast<SkinUI::CTabLayout*>(tabs);
    return layout ? layout->GetCurSel() : -1;
}

void SelectPage(SkinUI::CControl* tabs, int page) {
    if (auto* layout = dynamic_cast<SkinUI::CTabLayout*>(tabs)) layout->SelectItem(page);
}

bool IsChecked(SkinUI::CControl* control) {
    auto* box = dynamic_cast<SkinUI::COption*>(control);
    return box != nullptr && box->IsSelected();
}

bool ContentDeliveryUrl(const std::string& url) {
    return url.find("cdn.") != std::string::npos || url.find("dl.") != std::string::npos;
}

}  // namespace

// --- notifications ---------------------------------------------------------------------

void InstallUIMainWnd::Notify(SkinUI::TNotify& msg) {
    if (SkinUI::AsciiEqualNoCase(msg.type, "link")) {
        if (Is(msg, licenseLink_)) OnLicenseLink();
        else if (Is(msg, textFailAdvice_)) OnAdviceLink();
    }
    CSkinWindow::Notify(msg);
}

void InstallUIMainWnd::OnControlClick(SkinUI::TNotify& msg) {
    if (Is(msg, closebtn_)) {
        RequestClose();
    } else if (Is(msg, minbtn_)) {
        Report("DownloaderInfo", "ClickHide", "");
        SendMessage(SkinUI::WM_SYSCOMMAND, SkinUI::SC_MINIMIZE, 0);
    } else if (Named(msg, "install_minbtn")) {
        SendMessage(SkinUI::WM_SYSCOMMAND, SkinUI::SC_MINIMIZE, 0);
    } else if (Named(msg, "install_closebtn")) {
        RequestClose();
    } else if (Named(msg, "step_last")) {
        KillTimer(SLIDE_TIMER);
        SelectPage(mainTablayout_, 0);
    } else if (Named(msg, "install_btn")) {
        OnInstallClick();
    } else if (Named(msg, "finish_btn")) {
        Report("CrashRate", "Close", "", true);
        QuitMessageLoop();
    } else if (Named(msg, "browser_btn")) {
        Report("DownloaderInfo", "ClickBrowse", "");
        OnBrowseClick();
    } else if (Named(msg, "cancel_btn")) {
        RequestClose();
    } else if (Is(msg, licenseCheckbox_)) {
        OnLicenseCheckbox();
    } else if (Named(msg, "start_app")) {
        OnStartAppClick();
    } else if (Named(msg, "install_setting")) {
        OnSettingsClick();
    }
}

// --- the panel below the first page ----------------------------------------------------

void InstallUIMainWnd::ResizeForPanel(PanelState state) {
    ResizeClient(kMainWindowWidth, state == PanelState::Expanded ? kExpandedHeight : kCollapsedHeight);
}

void InstallUIMainWnd::OnLicenseLink() {
    if (licenseLinkFlag_) {
        if (CurrentPage(setLayout_) != 0) {
            SelectPage(setLayout_, 0);
            ResizeForPanel(PanelState::Expanded);
        } else {
            ResizeForPanel(PanelState::Collapsed);
            licenseLinkFlag_ = false;
        }
        return;
    }
    SelectPage(setLayout_, 0);
    ResizeForPanel(PanelState::Expanded);
    licenseLinkFlag_ = true;
}

void InstallUIMainWnd::OnSettingsClick() {
    if (settingsFlag_) {
        if (CurrentPage(setLayout_) == 1) {
            ResizeForPanel(PanelState::Collapsed);
            settingsFlag_ = false;
        } else {
            Report("DownloaderInfo00", "DownloadSetting", "");
            ResizeForPanel(PanelState::Expanded);
            SelectPage(setLayout_, 1);
        }
        return;
    }
    Report("DownloaderInfo00", "DownloadSetting", "");
    SelectPage(setLayout_, 1);
    ResizeForPanel(PanelState::Expanded);
    settingsFlag_ = true;
}

// --- consent, install ------------------------------------------------------------------

void InstallUIMainWnd::OnLicenseCheckbox() {
    // The click arrives before the box flips: this is the state the user is leaving.
    if (IsChecked(licenseCheckbox_)) {
        Report("DownloaderInfo00", "DisagreeTermsService", "");
        if (installBtn_) installBtn_->SetEnabled(false);
    } else {
        Report("DownloaderInfo", "AgreeProxy", "");
        if (installBtn_) installBtn_->SetEnabled(true);
    }
}

void InstallUIMainWnd::OnInstallClick() {
    const bool pathChanged = installFilePathEdit_ && installFilePathEdit_->GetText() != defaultInstallRoot_;
    ReportInstallClick(events_, "", IsChecked(agreeImprovementCheckbox_), state_.languageIndex.load(), pathChanged);
    if (!settled_) {
        // The install needs the configuration; the settle timer bounds this wait.
        installPending_ = true;
        if (installBtn_) installBtn_->SetEnabled(false);
        return;
    }
    StartInstall();
}

void InstallUIMainWnd::RunPendingInstall() {
    if (!installPending_) return;
    installPending_ = false;
    // Consent withdrawn while waiting: the click no longer stands.
    const bool consent = IsChecked(licenseCheckbox_);
    if (installBtn_) installBtn_->SetEnabled(consent);
    if (consent) StartInstall();
}

std::string InstallUIMainWnd::InstallDirectory() {
    const std::string text = installFilePathEdit_ ? installFilePathEdit_->GetText() : std::string();
    return InstallDirectoryFromPathText(text, state_.productFolderName);
}

int InstallUIMainWnd::StartInstall() {
    platform::RegistryStore localMachine(platform::RegistryHive::LocalMachine);
    PreInstallProduct product;
    if (configure_) {
        product.Process_name = configure_->Process_name;
        product.Software_name = configure_->Software_name;
        product.Software_id = configure_->Software_id;
    }
    CPreInstallChecks checks(product, InstallDirectory(), localMachine, DefaultEventReporter(),
                             [this](MessageKind kind) { ShowMessage(kind); });

    // 1-2. A running product or an unusable directory stops here; the check told the user.
    if (!checks.AppIsRunning()) return -1;
    if (!checks.PrepareInstallDirectory()) return -1;
    std::string directory = checks.InstallDirectory();
    if (!state_.productFolderName.empty() && directory.find(state_.productFolderName) == std::string::npos)
        directory += "/" + state_.productFolderName;
    if (installFilePathEdit_) installFilePathEdit_->SetText(directory);
    SelectPage(mainTablayout_, 1);
    SelectPage(pageLayout_, 1);

    // 3. Whatever the service answers, the install goes on.
    checks.StopProductService();

    // 4-7. The running page.
    ResizeClient(kMainWindowWidth, kCollapsedHeight);
    CenterWindow();
    if (installLabel_) installLabel_->SetText(FormatProgressText(state_.ProgressFormat(), 0.0));
    for (SkinUI::CControl* control : {textFailRetry_, textFailAdvice_, imgWarning_}) {
        if (control) control->SetVisible(false);
    }
    if (startApp_) startApp_->SetText(GetLanguageText(state_.languageIndex.load(), "install_page", "start_app"));

    // 8. The attempt runs on its own thread; nobody waits for it.
    StartPipeline();

    // 9-10.
    if (backgroudlayout_) backgroudlayout_->SetBkImage("skin/backgroud_complete.png");
    StartSlideShow();
    return 0;
}

void InstallUIMainWnd::StartPipeline() {
    pipelineStarted_ = true;
    auto pipeline = std::make_shared<CInstallPipeline>(*this, state_, DefaultEventReporter(), PipelineOptionsFromTestHooks());
    CInstallPipeline::StartThread(std::move(pipeline));
}

// --- folder choice ---------------------------------------------------------------------

void InstallUIMainWnd::OnBrowseClick() {
    const std::string start = installFilePathEdit_ ? installFilePathEdit_->GetText() : std::string();
    std::optional<std::string> chosen = platform::ChooseFolder("", start);
    if (!chosen || chosen->empty()) return;
    std::string path = *chosen;

    if (std::optional<std::uint64_t> free = platform::FreeBytesForUser(path)) {
        const double gigabytes = static_cast<double>(*free) / (1024.0 * 1024.0 * 1024.0);
        if (spaceFree_) spaceFree_->SetText(FormatSpaceFreeText(languages_.SpaceFreeFormat(), gigabytes));
        freeSpaceGB_ = static_cast<float>(gigabytes);
    }
    if (spaceNeed_) spaceNeed_->SetText(FormatSpaceNeedText(languages_.SpaceNeedFormat(), SkinLabelText("ProductSize")));

    if (path.find(kBrandFolderName) == std::string::npos) {
        if (path.back() != '/') path += '/';
        path += kBrandFolderName;
    }
    Report("DownloaderInfo00", "DownloadPath", "");
    if (installFilePathEdit_) installFilePathEdit_->SetText(path);
}

// --- closing ---------------------------------------------------------------------------

void InstallUIMainWnd::RequestClose() {
    SettleBeforeClosing();
    const int kind = state_.closeConfirmKind.load();
    if (kind == static_cast<int>(MessageKind::CloseWithoutAsking)) {
        Report("CrashRate", "Close", "", true);
        Report("DownloaderInfo", "CloseInstallCompleteWindow", "");
        QuitMessageLoop();
        return;
    }
    Report("DownloaderInfo", "CloseDownloadWindow", "");
    // The box ends the process itself when the user confirms.
    ShowMessage(static_cast<MessageKind>(kind));
}

// --- finished or failed row ------------------------------------------------------------

bool InstallUIMainWnd::FailureFormShown() const {
    for (SkinUI::CControl* control : {textFailRetry_, textFailAdvice_, imgWarning_}) {
        if (control == nullptr || !control->IsVisible()) return false;
    }
    return true;
}

void InstallUIMainWnd::OnStartAppClick() {
    if (FailureFormShown()) {
        Report("Download", "8-1.ClickTryAgain", state_.RetryLabel());
        state_.isRetry = true;
        if (auto* progress = dynamic_cast<SkinUI::CProgress*>(installProgress_)) progress->SetValue(0);
        StartInstall();
        return;
    }
    if (!configure_ || !IsInstallableProduct(*configure_)) {
        ShowDownloadedFile();
        return;
    }
    if (FuntionImpl::WillShowNetFrameCheck(InstallDirectory())) gifDuration_ = 0;
    Report("DownloaderInfo00", "Start001", "");
    Report("Download", "7.ProgramLaunch", "", gifDuration_ == 0);
    StartProduct();
}

void InstallUIMainWnd::ShowDownloadedFile() {
    const std::string file = state_.downloadDir + "/" + (configure_ ? InstallerFileName(*configure_) : std::string());
    if (!platform::ShowInFolder(file)) LOG(INFO) << " Could not show: " << file;
}

void InstallUIMainWnd::StartProduct() {
    const bool loaded = configure_ && configure_->loadState == CONFIG_LOADED;
    const std::string executable =
        FuntionImpl::FindProductExecutable(InstallDirectory(), configure_ ? configure_->Process_name : "", loaded);
    const std::string quoted = "\"" + executable + "\"";
    Report("Download", "9.StartWindow", std::to_string(gifDuration_), gifDuration_ == 0);

    if (gifDuration_ != 0) {
        ShowWindow(false, false);
        ShowOverlay(quoted);
        return;
    }
    if (FuntionImpl::StartTargetMainExe(quoted) == -1) {
        SkinUI::x11::X11SystemMessageBox::Show(
            GetLanguageText(state_.languageIndex.load(), "message_page", "ClickShortcutToLaunchText"), "");
    }
    Report("CrashRate", "Close", "", true);
    QuitMessageLoop();
}

// --- links -----------------------------------------------------------------------------

std::string InstallUIMainWnd::AdviceUrl() const {
    std::string url = state_.DownloadUrl();
    if (!url.empty()) return url;
    const int type = configure_ ? configure_->Downloader_type : 0;
    for (const std::string& candidate : state_.RemotePaths()) {
        if ((type == 1 || type == 3) && !ContentDeliveryUrl(candidate)) return candidate;
        if (type == 2 && ContentDeliveryUrl(candidate)) return candidate;
    }
    return {};
}

void InstallUIMainWnd::OnAdviceLink() {
    Report("Download", "8-2.ClickInstallLink", state_.RetryLabel());
    const std::string url = AdviceUrl();
    if (url.empty()) return;
    LOG(INFO) << " Open Advice Url: " << url;
    OpenUrl(url);
}
