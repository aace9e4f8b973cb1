#pragma once
// The small see-through window with a turning ring that stands in for the wizard while the
// installed product starts, after which the process ends.
//
// Run creates the window (no owner, the product name as title, layout "transWnd.xml"),
// centres it on the screen and runs it modally. Once its tree is attached it starts timer
// 1000 (every 50 ms the next of the 21 frames "skin/gif/bg00.png" ... "bg20.png" becomes the
// background of "foreImage"; the frame counter is process-wide) and a worker thread that
// starts the product. When the product does not start, the worker shows the plain system
// message box with the language's "ClickShortcutToLaunchText"; otherwise it waits the
// overlay duration. Either way it then reports "CrashRate"/"Close" at once and posts
// UM_OVERLAY_DONE, on which the window ends the process with exit code 0.
//
// How the main window uses it (StartProduct, the main window hidden first):
//
//     auto overlay = std::make_unique<CAlientWnd>(quotedExePath, productName, config.Gif_duration,
//                                                 languageIndex);
//     overlay->Run();   // the process ends inside
//
// The overlay cannot be closed early: a close request (Alt+F4 through the window manager)
// is refused, because the hidden wizard behind it would otherwise live on (or start the
// product a second time). Should the window be gone anyway, the worker ends the process
// itself once the product is started and the duration has passed.
//
// Thread ownership: the window belongs to the thread that calls Run. The worker thread
// touches no control and not this object; it is never joined.
//
// Lifetime: the caller owns the object; its window is gone when Run returns, and the
// worker may outlive both.

#include <cstdint>
#include <string>

#include "src/telemetry/IEventReporter.h"
#include "ui/x11/CSkinWindow.h"

class CAlientWnd : public SkinUI::CSkinWindow {
public:
    static constexpr std::uint32_t kFrameTimer = 1000;
    static constexpr std::uint32_t kFramePeriodMs = 50;
    static constexpr int kFrameCount = 21;
    static constexpr std::uint32_t UM_OVERLAY_DONE = SkinUI::WM_USER + 2;
    // Durations are bounded: a configuration asking for more waits this long.
    static constexpr int kMaxDurationSeconds = 600;

    // `quotedPath`: the product's executable in double quotes; `productName`: the title;
    // `durationSeconds`: how long the overlay stays after the product started (clamped to
    // 0-kMaxDurationSeconds); `languageIndex`: language of the failure text. `reporter`
    // must live until the process ends.
    CAlientWnd(std::string quotedPath, std::string productName, int durationSeconds, int languageIndex,
               IEventReporter& reporter = DefaultEventReporter());

    ~CAlientWnd() override;

    // Shows the overlay and runs it. Returns only when no window could be made (-1) or
    // when a quit posted to this thread ended the loop (0; the window is gone then too).
    int Run();

    // The frame the next timer tick shows (process-wide count, before the modulo).
    static unsigned FrameCounter();
    // "skin/gif/bg%.2d.png" of a frame counter value.
    static std::string FrameImage(unsigned counter);

protected:
    std::string GetWindowClassName() const override { return "CALIENTWND_UI_Frame"; }
    std::string GetSkinFile() const override { return "transWnd.xml"; }
    void InitWindow() override;
    std::intptr_t HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                      bool& handled) override;

private:
    std::string quotedPath_;
    std::string productName_;
    int durationSeconds_;
    int languageIndex_;
    IEventReporter& reporter_;
    SkinUI::CControl* foreImage_ = nullptr;
};
