#include "src/wizard/InstallUIMainWnd.h"

#include <cctype>
#include <chrono>
#include <climits>
#include <sstream>

#include "src/config/CConfigure.h"
#include "src/config/CConfigurationLoader.h"
#include "src/wizard/CInstallPipeline.h"
#include "src/language/CLanguageTexts.h"
#include "src/config/InstallPaths.h"
#include "src/language/LanguageTable.h"
#include "src/wizard/LaunchEvents.h"
#include "src/system/RegistryHelpers.h"
#include "src/telemetry/SystemInfo.h"
#include "src/dialogs/MessageBoxWnd.h"
#include "src/dialogs/SlideTransition.h"
#include "platform/ProcessLogger.h"
#include "platform/Folders.h"
#include "platform/Shell.h"
#include "platform/SystemFacts.h"
#include "src/telemetry/UserLogReporter.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CProgress.h"
#include "ui/CTabLayout.h"
#include "ui/x11/CPangoTextMeasurer.h"
#include "ui/x11/X11EventLoop.h"

InstallUIMainWnd* mainWindow = nullptr;

namespace {

constexpr unsigned long kKeysymF4 = 0xFFC1;  // XK_F4

// The names InitWindow keeps references to, with the member each one lands in.
struct TControlBinding {
    const char* name;
    SkinUI::CControl* InstallUIMainWnd::*member;
};

}  // namespace

InstallUIMainWnd::InstallUIMainWnd() : events_(DefaultEventReporter()), languages_(CLanguageTexts::Current(), events_) {
    // "click" is routed to OnClick by the base; the other three entries of the message map.
    AddMessageHandler("headerclick", "", [this](SkinUI::TNotify& msg) { OnHeaderClick(msg); });
    AddMessageHandler("itemselect", "", [this](SkinUI::TNotify& msg) { OnLanguageSelected(msg); });
    AddMessageHandler("selectchanged", "", [this](SkinUI::TNotify& msg) { OnSlideSelected(msg); });
    state_.innoInstaller = isInnoInstaller();
}

InstallUIMainWnd::~InstallUIMainWnd() {
    if (mainWindow == this) mainWindow = nullptr;
}

void InstallUIMainWnd::OnWindowGone() {
    KillTimer(SLIDE_TIMER);
    CSkinWindow::OnWindowGone();
}

// --- initialisation --------------------------------------------------------------------

void InstallUIMainWnd::InitWindow() {
    // 1. Counters.
    state_.isRetry = false;
    slideCount_ = CountSlideImages();

    // 2. The skin gives every control that can be disabled its own disabled text colour,
    //    so the window-wide default (white) has nothing left to colour.

    // 3-4. Controls; the failure form stays hidden until a failure is shown.
    BindControls();
    for (SkinUI::CControl* control : {textFailRetry_, textFailAdvice_, imgWarning_}) {
        if (control) control->SetVisible(false);
    }

    // 5.
    state_.SetDownloadUrl("");

    // 6. Slide dots, in order, up to the first missing number.
    slideOptions_.clear();
    for (int i = 1;; ++i) {
        SkinUI::CControl* dot = FindControl("image_play_option" + std::to_string(i));
        if (!dot) break;
        slideOptions_.push_back(dot);
    }

    // 7. Identifiers the skin carries.
    labelDownloaderId_ = LabelNumber("Downloader_id");
    labelSiteId_ = LabelNumber("Site_id");
    labelLanguageId_ = LabelNumber("Language_id");
    gifDuration_ = LabelNumber("Gif_duration");
    state_.downloaderId = labelDownloaderId_;

    // 8. The service is asked in the background: the window shows at once with the skin's
    //    texts and says it is connecting. SettleConfiguration does the steps that need the
    //    configuration (paths, log, launch events) once it is there, or once the wait is over.
    StartConfigurationQuery();

    // 9.1 The install root shown at start.
    defaultInstallRoot_ = platform::ProgramsFolder() + "/" + kBrandFolderName;
    if (installFilePathEdit_) installFilePathEdit_->SetText(defaultInstallRoot_);

    // 11.
    slideInterval_ = isInnoInstaller() ? 7000 : 3000;

    // 20.
    SetIcon();

    // 21. The language's texts now; its events wait with every other one for the launch events.
    DetectLanguage();
}

void InstallUIMainWnd::StartConfigurationQuery() {
    configLoader_ = CConfigurationLoader::Start(labelDownloaderId_, labelLanguageId_, labelSiteId_,
                                                [this] { PostMessage(UM_CONFIG_READY); });
    SetTimer(CONFIG_TIMER, static_cast<std::uint32_t>(CConfigurationLoader::kSettleLimit.count()));
}

bool InstallUIMainWnd::ConfigurationQueryRunning() const { return configLoader_ && !configLoader_->Finished(); }

void InstallUIMainWnd::SettleConfiguration() {
    if (settled_) return;
    settled_ = true;
    KillTimer(CONFIG_TIMER);

    // 8. The service's configuration, else the skin's labels.
    std::unique_ptr<CConfigure> configure = configLoader_ ? configLoader_->Take() : nullptr;
    if (!configure) {
        LOG(INFO) << " No product configuration from the service within "
                  << CConfigurationLoader::kSettleLimit.count() / 1000 << " s; using the skin's";
        configure = std::make_unique<CConfigure>(labelDownloaderId_, labelLanguageId_, labelSiteId_);
    }
    if (configure->loadState != CONFIG_LOADED) {
        configure->loadFromControls([this](const std::string& name) -> std::optional<std::string> {
            SkinUI::CControl* control = FindControl(name);
            if (!control) return std::nullopt;
            return control->GetText();
        });
    }
    configure_ = std::move(configure);
    state_.configure = configure_.get();

    // 9.2-10. Paths and the log file.
    DerivePaths();

    // 12-14.
    LOG(INFO) << " Downloader version: " << FuntionImpl::GetFileVersion(platform::CurrentExecutablePath());
    // The screen itself, as the display mode gives it, not the part panels leave free.
    int screenWidth = 0, screenHeight = 0;
    loop()->connection().ScreenSize(screenWidth, screenHeight);
    // One monitor's pixels are the display mode's pixels here: no scaling between them.
    const double scale = 1.0;
    LOG(INFO) << " Screen: " << screenWidth << "*" << screenHeight << ", " << scale;
    LOG(INFO) << " Request For Product Config -- " << "[Downloader Id]: " << labelDownloaderId_
              << " [Site Id]: " << labelSiteId_ << " [Language Id]: " << labelLanguageId_;

    // 15-19. Launch events, then whatever the user did while the configuration was on its way.
    configure_->printContent();
    ReportLaunchEvents(
        DefaultEventReporter(),
        [this] {
            UserLogReporter::Instance().SetChannelInfo(configure_->Site_id, configure_->Software_name,
                                                       configure_->Download_url);
        },
        screenWidth, screenHeight);
    events_.Release();

    // The window's texts that the configuration names.
    if (SkinUI::CControl* name = FindControl("text_product_name"); name && !configure_->Software_name.empty())
        name->SetText(configure_->Software_name);
    if (SkinUI::CControl* connecting = FindControl("text_connecting")) connecting->SetVisible(false);
    if (configure_->Site_id != labelSiteId_ && licenseTextLayout_) {
        const int index = languages_.LanguageIndex();
        if (FindControl(LanguageOrEnglish(index).licenseControl))
            licenseTextLayout_->SetFixedHeight(LicenseLayoutHeight(index, configure_->Site_id));
    }

    RunPendingInstall();
}

void InstallUIMainWnd::SettleBeforeClosing() {
    if (settled_) return;
    // Leaving is what the user asks for now: an install clicked meanwhile does not start.
    if (installPending_) {
        installPending_ = false;
        if (installBtn_) installBtn_->SetEnabled(true);
    }
    SettleConfiguration();
    // The close event is sent at once; let the start events reach the collector before it.
    UserLogReporter::Instance().WaitUntilSent(std::chrono::seconds(1));
}

void InstallUIMainWnd::BindControls() {
    static const TControlBinding kBindings[] = {
        {"minbtn", &InstallUIMainWnd::minbtn_},
        {"closebtn", &InstallUIMainWnd::closebtn_},
        {"main_tablayout", &InstallUIMainWnd::mainTablayout_},
        {"install_file_path_edit", &InstallUIMainWnd::installFilePathEdit_},
        {"install_progress", &InstallUIMainWnd::installProgress_},
        {"install_label", &InstallUIMainWnd::installLabel_},
        {"space_need", &InstallUIMainWnd::spaceNeed_},
        {"space_free", &InstallUIMainWnd::spaceFree_},
        {"install_setting", &InstallUIMainWnd::installSetting_},
        {"license_link", &InstallUIMainWnd::licenseLink_},
        {"license_checkbox", &InstallUIMainWnd::licenseCheckbox_},
        {"agree_improvement_checkbox", &InstallUIMainWnd::agreeImprovementCheckbox_},
        {"set_layout", &InstallUIMainWnd::setLayout_},
        {"page_layout", &InstallUIMainWnd::pageLayout_},
        {"install_btn", &InstallUIMainWnd::installBtn_},
        {"license_english", &InstallUIMainWnd::licenseEnglish_},
        {"license_japanese", &InstallUIMainWnd::licenseJapanese_},
        {"license_text", &InstallUIMainWnd::licenseText_},
        {"license_text_layout", &InstallUIMainWnd::licenseTextLayout_},
        {"language_combox", &InstallUIMainWnd::languageCombox_},
        {"text_fail_retry", &InstallUIMainWnd::textFailRetry_},
        {"text_fail_advice", &InstallUIMainWnd::textFailAdvice_},
        {"img_warning", &InstallUIMainWnd::imgWarning_},
        {"start_app", &InstallUIMainWnd::startApp_},
        {"select_language_text", &InstallUIMainWnd::selectLanguageText_},
        {"install_path_text", &InstallUIMainWnd::installPathText_},
        {"browser_btn", &InstallUIMainWnd::browserBtn_},
        {"image_play", &InstallUIMainWnd::imagePlay_},
        {"backgroudlayout", &InstallUIMainWnd::backgroudlayout_},
    };
    for (const TControlBinding& binding : kBindings) this->*(binding.member) = FindControl(binding.name);
}

std::string InstallUIMainWnd::SkinLabelText(std::string_view name) const {
    SkinUI::CControl* control = FindControl(name);
    return control ? control->GetText() : std::string();
}

int InstallUIMainWnd::LabelNumber(std::string_view name) const { return CConfigure::LabelNumber(SkinLabelText(name)); }

void InstallUIMainWnd::DerivePaths() {
    // 9.2 Download directory: the temporary folder for an installable product, else the desktop.
    if (configure_->loadState != CONFIG_LOADED) return;
    // Names from the configuration become folders below the download base; one that would
    // climb out of it (a "/" or "..") gets no folder and no log file at all. The pipeline
    // refuses the same configuration when the user installs.
    if (std::string why = ConfigPathError(*configure_); !why.empty()) {
        LOG(INFO) << " Configuration names no usable folder: " << why;
        return;
    }
    state_.productFolderName = configure_->Software_name;
    // An installable product downloads into a folder private to this user (the pipeline
    // resolves the same one); the log goes there too.
    std::string folder;
    if (IsInstallableProduct(*configure_)) {
        folder = CInstallPipeline::PrivateDownloadDirectory(*configure_, platform::TempDirectory(), std::string(), true);
        if (!folder.empty()) folder.pop_back();
    }
    if (folder.empty()) {
        const std::string base = platform::DesktopFolder();
        if (base.empty()) return;
        folder = base + "/" + DownloadStem(*configure_);
        platform::CreateDirectories(folder);
    }
    state_.downloadDir = folder;

    // 10. The process log beside the download.
    logFilePath_ = state_.downloadDir + "/" + InstallerFileName(*configure_) + ".log";
    if (!qvlog::ConfigureLogFile(logFilePath_)) LOG(INFO) << " Log file not writable: " << logFilePath_;
}

// --- languages -------------------------------------------------------------------------

TApplyContext InstallUIMainWnd::ApplyContext() const {
    TApplyContext context;
    context.siteId = configure_ ? configure_->Site_id : labelSiteId_;
    context.freeSpaceGB = freeSpaceGB_;
    return context;
}

void InstallUIMainWnd::AfterLanguageApplied(const TApplyResult& result) {
    const int index = languages_.LanguageIndex();
    state_.languageIndex = index;
    state_.SetProgressFormat(languages_.ProgressFormat());
    SetLanguage(SkinUI::LanguageTagForIndex(index));
    if (result.postShowLinks) PostMessage(UM_SHOW_LINKS);
}

void InstallUIMainWnd::DetectLanguage() {
    SkinUI::CControlHost* host = GetHost();
    if (!host || !host->GetRoot()) return;
    TApplyResult result = languages_.DetectLanguage(*host->GetRoot(), platform::UserUiLanguage(), ApplyContext());
    AfterLanguageApplied(result);
    ResizeForPanel(PanelState::Collapsed);
}

void InstallUIMainWnd::OnLanguageSelected(SkinUI::TNotify& msg) {
    SkinUI::CControlHost* host = GetHost();
    if (!host || !host->GetRoot()) return;
    if (auto result = languages_.OnLanguageSelected(msg, *host->GetRoot(), ApplyContext())) AfterLanguageApplied(*result);
}

// --- window messages -------------------------------------------------------------------

std::intptr_t InstallUIMainWnd::HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam,
                                                    std::intptr_t lparam, bool& handled) {
    switch (message) {
        case SkinUI::WM_TIMER:
            if (wparam == SLIDE_TIMER) OnSlideTimer();
            else if (wparam == CONFIG_TIMER) SettleConfiguration();
            break;
        case UM_CONFIG_READY:
            SettleConfiguration();
            break;
        case SkinUI::WM_SYSCOMMAND:
            if (OnSystemCommand(wparam)) {
                handled = true;
                return 0;
            }
            break;
        case UM_SHOW_LINKS:
            if (installSetting_) installSetting_->SetVisible(true);
            if (licenseLink_) licenseLink_->SetVisible(true);
            break;
        case UM_PIPELINE_DONE:
            ShowWindow(true, true);
            ResizeClient(kMainWindowWidth, kCollapsedHeight);
            CenterWindow();
            break;
        case MessageBoxWnd::UM_CLEAR_DOWNLOAD:
            if (configure_) CInstallPipeline::ClearDownloadFiles(*configure_, platform::TempDirectory());
            break;
        case UM_STOP_SLIDE_TIMER:
            KillTimer(SLIDE_TIMER);
            break;
        default:
            break;
    }
    return CSkinWindow::HandleWindowMessage(message, wparam, lparam, handled);
}

bool InstallUIMainWnd::OnSystemCommand(std::uintptr_t command) {
    if (command != SkinUI::SC_CLOSE) return false;
    // Closing from outside the window never asks, whatever the pipeline is doing.
    SettleBeforeClosing();
    Report("CrashRate", "Close", "", true);
    QuitMessageLoop();
    return true;
}

void InstallUIMainWnd::OnKeyDown(const SkinUI::x11::KeyEvent& key) {
    // Alt+F4 is the system's close command even where no window manager turns it into one.
    if (key.keysym == kKeysymF4 && (key.modifiers & SkinUI::x11::MOD_ALT) != 0) {
        SendMessage(SkinUI::WM_SYSCOMMAND, SkinUI::SC_CLOSE, 0);
        return;
    }
    CSkinWindow::OnKeyDown(key);
}

void InstallUIMainWnd::QuitMessageLoop() {
    if (loop()) loop()->PostQuit(0);
}

void InstallUIMainWnd::Report(const std::string& category, const std::string& action, const std::string& label,
                              bool immediate) {
    events_.ReportEvent(category, action, label, immediate);
}

// --- IInstallView ----------------------------------------------------------------------

void InstallUIMainWnd::ShowProgress(int percent, const std::string& text) {
    if (installLabel_) installLabel_->SetText(text);
    if (auto* progress = dynamic_cast<SkinUI::CProgress*>(installProgress_)) progress->SetValue(percent);
}

void InstallUIMainWnd::ShowFailureForm(const std::string& retryText) {
    if (SkinUI::CControl* headline = FindControl("finish_label")) {
        headline->SetText("Install failed, please install again!");
    }
    for (SkinUI::CControl* control : {textFailRetry_, textFailAdvice_, imgWarning_}) {
        if (control) control->SetVisible(true);
    }
    if (startApp_) startApp_->SetText(retryText);
}

void InstallUIMainWnd::ShowFinished() {
    if (auto* tabs = dynamic_cast<SkinUI::CTabLayout*>(mainTablayout_)) tabs->SelectItem(0);
}

std::string InstallUIMainWnd::ProductPageUrl(int languageIndex) {
    const TLanguageInfo* language = FindLanguage(languageIndex);
    SkinUI::CControl* label = language ? FindControl(language->productUrlControl) : nullptr;
    return label ? label->GetText() : std::string();
}

void InstallUIMainWnd::StopSlideTimer() { PostMessage(UM_STOP_SLIDE_TIMER); }

void InstallUIMainWnd::PostPipelineDone() { PostMessage(UM_PIPELINE_DONE); }

void InstallUIMainWnd::OpenUrl(const std::string& url) {
    if (!platform::ShellOpen(url)) LOG(INFO) << " Could not open: " << url;
}
