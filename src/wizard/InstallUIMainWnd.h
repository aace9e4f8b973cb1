#pragma once
// The main wizard window: the first page (install row, settings and licence panel), the
// running page (slides, progress) and the finished or failure row. It owns the product
// configuration and the state it shares with the install pipeline, answers the user's
// clicks and links, and is the view every pipeline thread reports to.
//
// Lifetime: created once by the process entry and never deleted while the process runs
// (pipeline threads hold references to it and to its state; they are never joined).
//
// Threads: everything except the IInstallView methods runs on the window thread. The
// IInstallView methods are called from pipeline threads: they only store control state
// (the toolkit repaints on the window thread), post messages to the window, or run a
// modal message box on the calling thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/language/CLanguageSelector.h"
#include "src/wizard/IInstallView.h"
#include "src/wizard/WizardState.h"
#include "src/telemetry/HeldEventReporter.h"
#include "ui/x11/CSkinWindow.h"
#include "ui/x11/WindowMessages.h"

class CConfigure;
class CConfigurationLoader;
class SlideTransition;

namespace SkinUI {
class CControl;
}

// Private messages of the main window.
constexpr std::uint32_t UM_SHOW_LINKS = SkinUI::WM_USER + 1;      // language applied: show the two links again
constexpr std::uint32_t UM_PIPELINE_DONE = SkinUI::WM_USER + 2;   // a pipeline attempt has ended
// WM_USER + 4 is MessageBoxWnd::UM_CLEAR_DOWNLOAD: delete the downloaded installer and task file.
// The slide timer may only be stopped on the window thread; pipelines ask with this.
constexpr std::uint32_t UM_STOP_SLIDE_TIMER = SkinUI::WM_USER + 16;
// The service's configuration query has ended (posted by its thread).
constexpr std::uint32_t UM_CONFIG_READY = SkinUI::WM_USER + 17;

constexpr std::uint32_t SLIDE_TIMER = 2000;
// Ends the wait for the service's configuration: the skin's is used from then on.
constexpr std::uint32_t CONFIG_TIMER = 2001;

// The window's size: 650 wide; 360 high with the panel folded away, 560 with it open.
constexpr int kMainWindowWidth = 650;
constexpr int kCollapsedHeight = 360;
constexpr int kExpandedHeight = 560;

// The title the window is created with (the shipped Software_name).
inline constexpr const char* kProductDisplayName = "Morvik Backup";
// Brand folder every chosen install root ends in.
inline constexpr const char* kBrandFolderName = "Morvik";

class InstallUIMainWnd : public SkinUI::CSkinWindow, public IInstallView {
public:
    enum class PanelState { Collapsed, Expanded };

    InstallUIMainWnd();
    ~InstallUIMainWnd() override;

    // --- operations of the wizard (window thread) ----------------------------------------
    // Checks, page switch, pipeline thread and slide show. 0, or -1 when a check stopped it.
    int StartInstall();
    // The close button: quits when the pipeline has ended, else asks closeConfirmKind.
    void RequestClose();
    // Keeps the top-left corner and the width; 360 or 560 high.
    void ResizeForPanel(PanelState state);
    // Starts the installed product, directly (Gif_duration 0) or behind the overlay.
    void StartProduct();

    // The product is installed from what is downloaded (Inno Setup installer).
    static constexpr bool isInnoInstaller() { return true; }

    // --- state other parts read ----------------------------------------------------------
    WizardState& State() { return state_; }
    const CConfigure* Configure() const { return configure_.get(); }
    int LanguageIndex() const { return state_.languageIndex.load(); }
    const std::string& DownloadDir() const { return state_.downloadDir; }
    const std::string& LogFilePath() const { return logFilePath_; }
    int GifDuration() const { return gifDuration_; }
    int SlideCount() const { return slideCount_; }
    int SlideInterval() const { return slideInterval_; }
    const std::vector<SkinUI::CControl*>& SlideOptions() const { return slideOptions_; }
    // True once an install attempt has started a pipeline thread.
    bool PipelineStarted() const { return pipelineStarted_.load(); }
    // True once the window uses a configuration (the service's, or the skin's after the wait).
    bool ConfigurationSettled() const { return settled_; }
    // The service query's thread still runs (it is never joined).
    bool ConfigurationQueryRunning() const;

    // --- IInstallView (any thread) -------------------------------------------------------
    // install_label and install_progress.
    void ShowProgress(int percent, const std::string& text) override;
    // text_fail_retry, text_fail_advice and img_warning shown, start_app reading the retry
    // text, and a finish_label (the shipped layout has none) the failure headline.
    void ShowFailureForm(const std::string& retryText) override;
    // Page 0 of main_tablayout.
    void ShowFinished() override;
    // The install directory as the path box and productFolderName give it.
    std::string InstallDirectory() override;
    // The text of the language's product_url_... label.
    std::string ProductPageUrl(int languageIndex) override;
    void StopSlideTimer() override;
    void PostPipelineDone() override;
    void ShowMessage(MessageKind kind) override;
    void OpenUrl(const std::string& url) override;

    // Every notification first: the two links, then the message map.
    void Notify(SkinUI::TNotify& msg) override;

protected:
    std::string GetWindowClassName() const override { return "QUORVANE_UI_Frame"; }
    std::string GetSkinFolder() const override { return "skin\\"; }
    std::string GetSkinFile() const override { return "InstallMainWnd.xml"; }
    void InitWindow() override;
    void OnClick(SkinUI::TNotify& msg) override { OnControlClick(msg); }
    std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                      bool& handled) override;
    void OnKeyDown(const SkinUI::x11::KeyEvent& key) override;
    void OnWindowGone() override;

private:
    // Message-map handlers.
    void OnControlClick(SkinUI::TNotify& msg);
    void OnHeaderClick(SkinUI::TNotify& msg) { (void)msg; }
    void OnLanguageSelected(SkinUI::TNotify& msg);
    void OnSlideSelected(SkinUI::TNotify& msg);
    // SC_CLOSE quits at once; true when the command was handled here.
    bool OnSystemCommand(std::uintptr_t command);

    // InitWindow's steps.
    void BindControls();
    int LabelNumber(std::string_view name) const;
    void StartConfigurationQuery();
    // Takes the service's configuration, or the skin's when there is none (yet), and does
    // everything that depends on it: paths, log file, launch events, product name, and an
    // install the user asked for meanwhile. Window thread; once.
    void SettleConfiguration();
    // A close request before the configuration settled: settle on what is there, so the run
    // still reports its start before its end.
    void SettleBeforeClosing();
    void DerivePaths();
    void DetectLanguage();

    // Languages.
    TApplyContext ApplyContext() const;
    void AfterLanguageApplied(const TApplyResult& result);

    // User interaction.
    void OnLicenseLink();
    void OnAdviceLink();
    void OnSettingsClick();
    void OnLicenseCheckbox();
    void OnInstallClick();
    void OnBrowseClick();
    void OnStartAppClick();
    void ShowDownloadedFile();
    std::string AdviceUrl() const;
    bool FailureFormShown() const;
    void StartPipeline();
    void RunPendingInstall();
    void StartSlideShow();
    void ShowOverlay(const std::string& quotedPath);
    int CountSlideImages() const;
    void OnSlideTimer();
    void Report(const std::string& category, const std::string& action, const std::string& label,
                bool immediate = false);
    void QuitMessageLoop();
    std::string SkinLabelText(std::string_view name) const;

    std::unique_ptr<CConfigure> configure_;
    WizardState state_;
    // Every event the window reports goes through here; held until the configuration has
    // settled and the launch events are queued.
    HeldEventReporter events_;
    CLanguageSelector languages_;
    std::shared_ptr<CConfigurationLoader> configLoader_;
    bool settled_ = false;
    bool installPending_ = false;  // Install was clicked before the configuration settled
    // The skin's identifiers: the configuration request and the fallback configuration.
    int labelDownloaderId_ = 0;
    int labelSiteId_ = 0;
    int labelLanguageId_ = 0;

    // Control references (null when the layout lacks the name).
    SkinUI::CControl* minbtn_ = nullptr;
    SkinUI::CControl* closebtn_ = nullptr;
    SkinUI::CControl* mainTablayout_ = nullptr;
    SkinUI::CControl* installFilePathEdit_ = nullptr;
    SkinUI::CControl* installProgress_ = nullptr;
    SkinUI::CControl* installLabel_ = nullptr;
    SkinUI::CControl* spaceNeed_ = nullptr;
    SkinUI::CControl* spaceFree_ = nullptr;
    SkinUI::CControl* installSetting_ = nullptr;
    SkinUI::CControl* licenseLink_ = nullptr;
    SkinUI::CControl* licenseCheckbox_ = nullptr;
    SkinUI::CControl* agreeImprovementCheckbox_ = nullptr;
    SkinUI::CControl* setLayout_ = nullptr;
    SkinUI::CControl* pageLayout_ = nullptr;
    SkinUI::CControl* installBtn_ = nullptr;
    SkinUI::CControl* licenseEnglish_ = nullptr;
    SkinUI::CControl* licenseJapanese_ = nullptr;
    SkinUI::CControl* licenseText_ = nullptr;
    SkinUI::CControl* licenseTextLayout_ = nullptr;
    SkinUI::CControl* languageCombox_ = nullptr;
    SkinUI::CControl* textFailRetry_ = nullptr;
    SkinUI::CControl* textFailAdvice_ = nullptr;
    SkinUI::CControl* imgWarning_ = nullptr;
    SkinUI::CControl* startApp_ = nullptr;
    SkinUI::CControl* selectLanguageText_ = nullptr;
    SkinUI::CControl* installPathText_ = nullptr;
    SkinUI::CControl* browserBtn_ = nullptr;
    SkinUI::CControl* imagePlay_ = nullptr;
    SkinUI::CControl* backgroudlayout_ = nullptr;

    std::string logFilePath_;
    std::string defaultInstallRoot_;
    int gifDuration_ = 0;
    float freeSpaceGB_ = 0.0f;

    // Panel flags: the control that expanded the panel and has not folded it since.
    bool licenseLinkFlag_ = false;
    bool settingsFlag_ = false;

    // Slide show.
    std::vector<SkinUI::CControl*> slideOptions_;
    int nextSlide_ = 0;
    int slideCount_ = 0;
    int slideInterval_ = 0;
    std::unique_ptr<SlideTransition> slideTransition_;
    std::atomic<bool> pipelineStarted_{false};
};

// The process-wide main window (null until the entry creates it).
extern InstallUIMainWnd* mainWindow;
