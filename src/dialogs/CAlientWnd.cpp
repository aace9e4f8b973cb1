#include "src/dialogs/CAlientWnd.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "src/language/CLanguageTexts.h"
#include "src/system/ProcessLaunch.h"
#include "platform/Process.h"
#include "platform/ProcessLogger.h"
#include "ui/CControl.h"
#include "ui/x11/X11EventLoop.h"
#include "ui/x11/X11SystemMessageBox.h"

namespace {

// Shared by every overlay of the process, so the ring turns on from where it was.
std::atomic<unsigned> g_frameCounter{0};

}  // namespace

CAlientWnd::CAlientWnd(std::string quotedPath, std::string productName, int durationSeconds, int languageIndex,
                       IEventReporter& reporter)
    : quotedPath_(std::move(quotedPath)),
      productName_(std::move(productName)),
      durationSeconds_(std::clamp(durationSeconds, 0, kMaxDurationSeconds)),
      languageIndex_(languageIndex),
      reporter_(reporter) {}

CAlientWnd::~CAlientWnd() = default;

unsigned CAlientWnd::FrameCounter() { return g_frameCounter.load(); }

std::string CAlientWnd::FrameImage(unsigned counter) {
    char name[32];
    std::snprintf(name, sizeof name, "skin/gif/bg%.2u.png", counter % kFrameCount);
    return name;
}

int CAlientWnd::Run() {
    // The layout's 320 x 320 replaces the initial size.
    if (!Create(nullptr, productName_, SkinUI::UI_WNDSTYLE_DIALOG, 0, 0, 0, 600, 400)) return -1;
    CenterWindow();
    return ShowModal();
}

void CAlientWnd::InitWindow() {
    foreImage_ = FindControl("foreImage");
    SetTimer(kFrameTimer, kFramePeriodMs);

    // The worker carries copies of what it needs: the window may be gone before it ends.
    SkinUI::x11::XId window = id();
    std::thread([window, path = quotedPath_, seconds = durationSeconds_, language = languageIndex_,
                 &reporter = reporter_] {
        if (FuntionImpl::StartTargetMainExe(path, reporter) != 0) {
            SkinUI::x11::X11SystemMessageBox::Show(GetLanguageText(language, "message_page", "ClickShortcutToLaunchText"),
                                                   "");
        } else {
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
        }
        reporter.ReportEvent("CrashRate", "Close", "", true);
        if (!SkinUI::x11::X11EventLoop::PostToWindow(window, UM_OVERLAY_DONE, 0, 0)) {
            LOG(INFO) << " Overlay already closed; ending the process";
            platform::EndProcessNow(0);
        }
    }).detach();
}

std::intptr_t CAlientWnd::HandleWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam,
                                              bool& handled) {
    if (message == SkinUI::WM_TIMER && wparam == kFrameTimer) {
        if (foreImage_) foreImage_->SetBkImage(FrameImage(g_frameCounter.fetch_add(1)));
        handled = true;
        return 0;
    }
    if (message == UM_OVERLAY_DONE) platform::EndProcessNow(0);
    if (message == SkinUI::WM_SYSCOMMAND && wparam == SkinUI::SC_CLOSE) {
        handled = true;  // stays until the worker ends the process
        return 0;
    }
    return CSkinWindow::HandleWindowMessage(message, wparam, lparam, handled);
}
