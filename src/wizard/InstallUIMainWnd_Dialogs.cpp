// The main window's dialogs and animations: the skinned message box, the slide show of
// the running page and the overlay that stands in for the window while the product starts.

#include "src/config/CConfigure.h"
#include "src/language/CLanguageTexts.h"
#include "src/wizard/InstallUIMainWnd.h"
#include "src/system/ProcessLaunch.h"
#include "src/dialogs/CAlientWnd.h"
#include "src/dialogs/MessageBoxWnd.h"
#include "src/dialogs/SlideTransition.h"
#include "platform/ProcessLogger.h"
#include "platform/Shell.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CImageCache.h"
#include "ui/COption.h"
#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11SystemMessageBox.h"

void InstallUIMainWnd::ShowMessage(MessageKind kind) {
    // Any thread: the box runs modally on the caller's thread, over this window.
    MessageBoxWnd::RunModal(kind, state_.languageIndex.load(), this);
}

// --- slide show ------------------------------------------------------------------------

int InstallUIMainWnd::CountSlideImages() const {
    SkinUI::CControlHost* host = GetHost();
    if (!host) return 0;
    int count = 0;
    while (count < SlideTransition::kMaxSlides) {
        const std::string picture = "skin\\anima\\" + std::to_string(count + 1) + ".png";
        // Asked first, so the end of the numbering is no "image not found" line in the log.
        if (!host->Images().Resolves(picture) || host->Images().Get(picture) == nullptr) break;
        ++count;
    }
    return count;
}

void InstallUIMainWnd::StartSlideShow() {
    SkinUI::TRect area = imagePlay_ ? imagePlay_->GetPos() : SkinUI::TRect{};
    TSlideCaptionStyle style;
    style.languageIndex = state_.languageIndex.load();
    style.softwareId = configure_ ? configure_->Software_id : 0;
    slideTransition_ = std::make_unique<SlideTransition>(*this, area, true, slideCount_, style, slideOptions_);
    slideTransition_->BuildSlides();

    nextSlide_ = 1;
    if (!slideOptions_.empty()) {
        if (auto* dot = dynamic_cast<SkinUI::COption*>(slideOptions_.front())) dot->Selected(true);
    }
    if (imagePlay_) imagePlay_->SetBkImage("FirstFrame");
    if (slideCount_ > 1) SetTimer(SLIDE_TIMER, static_cast<std::uint32_t>(slideInterval_));
}

void InstallUIMainWnd::OnSlideSelected(SkinUI::TNotify& msg) {
    int target = -1;
    for (std::size_t i = 0; i < slideOptions_.size() && i < 3; ++i) {
        if (msg.sender == slideOptions_[i]) target = i == 2 ? 0 : static_cast<int>(i) + 1;
    }
    if (target < 0) return;
    // Only the dot that became selected moves the pictures; the one losing the mark also reports.
    auto* dot = dynamic_cast<SkinUI::COption*>(msg.sender);
    if (dot && !dot->IsSelected()) return;
    SetTimer(SLIDE_TIMER, static_cast<std::uint32_t>(slideInterval_));
    if (slideTransition_) slideTransition_->Transition(nextSlide_, target, 50);
    nextSlide_ = target;
}

void InstallUIMainWnd::OnSlideTimer() {
    if (slideOptions_.empty()) return;
    std::size_t next = 0;
    if (nextSlide_ == 1) next = slideOptions_.size() >= 2 ? 1 : 0;
    else if (nextSlide_ == 2) next = slideOptions_.size() >= 3 ? 2 : 0;
    if (auto* dot = dynamic_cast<SkinUI::COption*>(slideOptions_[next])) dot->Selected(true);
}

// --- overlay ---------------------------------------------------------------------------

void InstallUIMainWnd::ShowOverlay(const std::string& quotedPath) {
    const std::string productName = configure_ ? configure_->Software_name : std::string(kProductDisplayName);
    auto overlay = std::make_unique<CAlientWnd>(quotedPath, productName, gifDuration_, state_.languageIndex.load());
    // The overlay starts the product and ends the process itself; it only comes back when a
    // quit ended the loop or no overlay window could be made (then the product is started here).
    overlay->Run();
    if (loop() && loop()->QuitPosted()) return;
    LOG(INFO) << " No overlay window; starting the product directly";
    if (FuntionImpl::StartTargetMainExe(quotedPath) == -1) {
        SkinUI::x11::X11SystemMessageBox::Show(
            GetLanguageText(state_.languageIndex.load(), "message_page", "ClickShortcutToLaunchText"), "");
    }
    DefaultEventReporter().ReportEvent("CrashRate", "Close", "", true);
    QuitMessageLoop();
}
