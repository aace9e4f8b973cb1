#include "dialogs/CSlideShow.h"

#include <string>

#include "ui/CControlHost.h"
#include "ui/COption.h"
#include "ui/x11/CSkinWindow.h"

namespace {

// Posted to the window by Stop from another thread; above the private messages in use.
constexpr std::uint32_t kStopSlides = SkinUI::WM_USER + 0x2000;

constexpr int kMaxDots = 100;

}  // namespace

CSlideShow::CSlideShow(SkinUI::CSkinWindow& window) : window_(window) {}

CSlideShow::~CSlideShow() = default;

void CSlideShow::FindDots() {
    dots_.clear();
    for (int i = 1; i <= kMaxDots; ++i) {
        auto* dot = dynamic_cast<SkinUI::COption*>(window_.FindControl("image_play_option" + std::to_string(i)));
        if (dot == nullptr) break;
        dots_.push_back(dot);
    }
}

int CSlideShow::CountSlides() {
    slideCount_ = 0;
    SkinUI::CControlHost* host = window_.GetHost();
    if (host == nullptr) return 0;
    while (slideCount_ < SlideTransition::kMaxSlides &&
           host->Images().Get("skin\\anima\\" + std::to_string(slideCount_ + 1) + ".png") != nullptr) {
        ++slideCount_;
    }
    return slideCount_;
}

void CSlideShow::Start(int languageIndex, int softwareId) {
    SkinUI::CControl* play = window_.FindControl("image_play");
    SkinUI::TRect area = play ? play->GetPos() : SkinUI::TRect{};
    std::vector<SkinUI::CControl*> dots(dots_.begin(), dots_.end());
    transition_ = std::make_unique<SlideTransition>(window_, area, true, slideCount_,
                                                    TSlideCaptionStyle{languageIndex, softwareId}, std::move(dots));
    transition_->BuildSlides();
    nextSlide_ = 1;
    // Its notification re-arms the timer and finds nothing to scroll (1 to 1).
    if (!dots_.empty()) dots_.front()->Selected(true);
    if (play) play->SetBkImage("FirstFrame");
    if (slideCount_ > 1) window_.SetTimer(SLIDE_TIMER, static_cast<std::uint32_t>(interval_));
}

bool CSlideShow::OnSlideSelected(const SkinUI::TNotify& msg) {
    if (msg.type != "selectchanged" || msg.sender == nullptr) return false;
    int target = -1;
    if (dots_.size() > 0 && msg.sender == dots_[0]) target = 1;
    if (dots_.size() > 1 && msg.sender == dots_[1]) target = 2;
    if (dots_.size() > 2 && msg.sender == dots_[2]) target = 0;
    if (target < 0) return false;
    window_.SetTimer(SLIDE_TIMER, static_cast<std::uint32_t>(interval_));
    if (transition_) transition_->Transition(nextSlide_, target, kStepPeriodMs);
    nextSlide_ = target;
    return true;
}

bool CSlideShow::OnTimer(std::uintptr_t timerId) {
    if (timerId == kStopSlides) {
        window_.KillTimer(SLIDE_TIMER);
        return true;
    }
    if (timerId != SLIDE_TIMER) return false;
    if (dots_.empty()) return true;
    std::size_t next = 0;
    if (nextSlide_ == 1 && dots_.size() >= 2) next = 1;
    if (nextSlide_ == 2 && dots_.size() >= 3) next = 2;
    dots_[next]->Selected(true);
    return true;
}

void CSlideShow::Stop() {
    // Timers belong to the window's thread; another thread asks for the stop by message.
    window_.PostMessage(SkinUI::WM_TIMER, kStopSlides);
}
