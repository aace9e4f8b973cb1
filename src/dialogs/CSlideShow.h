#pragma once
// The progress page's slide show as the main window runs it: the pictures counted at
// initialisation, the position dots "image_play_option1", "image_play_option2", ..., the
// slide timer (id 2000) and the transition object. The main window keeps one CSlideShow
// and forwards to it:
//
//     InitWindow:           slides_.FindDots(); slideCount = slides_.CountSlides();
//                           slides_.SetInterval(7000 or 3000);
//     StartSlideShow():     slides_.Start(languageIndex, config.Software_id);
//     "selectchanged":      if (slides_.OnSlideSelected(msg)) return;   // a dot
//     WM_TIMER:             if (slides_.OnTimer(wparam)) { handled = true; ... }
//     end of the pipeline:  slides_.Stop();   // any thread: kills the timer by message
//
// The pictures advance 1, 2, 3, 1, ... every interval; a click on a dot scrolls to its
// picture and restarts the interval. NextSlide() is the dot the timer selects next and
// names the picture on show: 1 and 2 for pictures 1 and 2, 0 for picture 3.
//
// Thread ownership: the window's thread (Stop excepted). The window must outlive this object.

#include <cstdint>
#include <memory>
#include <vector>

#include "dialogs/SlideTransition.h"
#include "ui/TNotify.h"

namespace SkinUI {
class CSkinWindow;
class COption;
}  // namespace SkinUI

class CSlideShow {
public:
    static constexpr std::uint32_t SLIDE_TIMER = 2000;
    static constexpr int kStepPeriodMs = 50;

    explicit CSlideShow(SkinUI::CSkinWindow& window);
    ~CSlideShow();

    // The dots found in the window's tree, in order, until a number is missing.
    void FindDots();
    // Pictures "skin\anima\1.png", 2, ... that load, up to the first that does not (at most
    // SlideTransition::kMaxSlides).
    int CountSlides();
    void SetInterval(int milliseconds) { interval_ = milliseconds > 0 ? milliseconds : 1; }
    int Interval() const { return interval_; }

    // Builds the slides with captions in the language's face and the product's colour,
    // selects the first dot, shows "FirstFrame" and starts the slide timer when there is
    // more than one picture. Needs the control "image_play".
    void Start(int languageIndex, int softwareId);
    // A "selectchanged" from one of the dots: restarts the timer and scrolls to its
    // picture. False (nothing done) for any other notification.
    bool OnSlideSelected(const SkinUI::TNotify& msg);
    // The slide timer: selects the next dot (whose notification runs the transition).
    // False for any other timer id.
    bool OnTimer(std::uintptr_t timerId);
    // Stops the timer; any thread.
    void Stop();

    int SlideCount() const { return slideCount_; }
    int NextSlide() const { return nextSlide_; }
    const std::vector<SkinUI::COption*>& Dots() const { return dots_; }
    SlideTransition* Transition() const { return transition_.get(); }

private:
    SkinUI::CSkinWindow& window_;
    std::vector<SkinUI::COption*> dots_;
    int slideCount_ = 0;
    int nextSlide_ = 1;
    int interval_ = 7000;
    std::unique_ptr<SlideTransition> transition_;
};
