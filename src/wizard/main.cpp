// Process entry of Setup: one wizard window per desktop, created from the skin package,
// centred, shown, and served by the message loop until something posts quit.

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "src/wizard/CUnattendedInstall.h"
#include "src/wizard/InstallUIMainWnd.h"
#include "src/system/RegistryHelpers.h"
#include "src/verify/VerifySignature.h"
#include "platform/Process.h"
#include "platform/ProcessLogger.h"
#include "src/telemetry/UserLogReporter.h"
#include "ui/x11/CSingleInstance.h"
#include "ui/x11/X11EventLoop.h"

namespace {

// WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX: a frameless window the skin draws entirely.
constexpr std::uint32_t kMainWindowStyle = 0x800A0000;
constexpr int kCreateWidth = 600;
constexpr int kCreateHeight = 400;

// The maker's signing certificates, fixed when this program was built (the build checked
// every entry); nothing read at run time can add one.
#ifndef QV_TRUSTED_SIGNERS
#define QV_TRUSTED_SIGNERS ""
#endif
constexpr const char* kTrustedSigners = QV_TRUSTED_SIGNERS;

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> signers;
    if (!FuntionImpl::ParseSignerList(kTrustedSigners, signers)) {
        std::fprintf(stderr, "Setup: the pinned signer list it was built with is damaged\n");
        return 1;
    }
    FuntionImpl::SetTrustedSigners(signers);

    // "debug" (exactly, as the only argument) turns on the console diagnostics; standard
    // output is the console already.
    if (argc == 2 && std::strcmp(argv[1], "debug") == 0) qvlog::SetConsoleDiagnostics(true);

    // Setup /S: the same install without a window, for administrators and scripts.
    const UnattendedRequest unattended = ParseUnattendedArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!unattended.error.empty()) {
        std::fprintf(stderr, "Setup: %s\n%s", unattended.error.c_str(), UnattendedUsage());
        return UNATTENDED_USAGE;
    }
    if (unattended.requested || unattended.help) {
        if (unattended.help) {
            std::fputs(UnattendedUsage(), stdout);
            return 0;
        }
        std::setlocale(LC_ALL, "");
        FuntionImpl::RouteRegistryReportsToLog();
        const int code = RunUnattendedInstall(unattended);
        // The analytics sender is never joined: leave without static destructors under it.
        platform::EndProcessNow(code);
    }
    std::fputs("test\n", stdout);
    std::fflush(stdout);
    // Typed non-Latin text (a folder name) needs the user's UTF-8 character type.
    std::setlocale(LC_ALL, "");
    qvlog::InitDefaultLogger();
    FuntionImpl::RouteRegistryReportsToLog();

    // One wizard per desktop: a second start brings the first one forward and ends.
    if (SkinUI::CSingleInstance::ActivateRunning("QUORVANE_UI_Frame")) return 0;

    std::string error;
    SkinUI::x11::X11EventLoop* loop = SkinUI::x11::X11EventLoop::ForCurrentThread(&error);
    if (loop == nullptr) {
        std::fprintf(stderr, "Setup needs a graphical display: %s\n", error.c_str());
        return 1;
    }

    // Never deleted: pipeline threads may still use the window while the process ends.
    mainWindow = new InstallUIMainWnd();
    if (!mainWindow->Create(nullptr, kProductDisplayName, kMainWindowStyle, 0, 0, 0, kCreateWidth, kCreateHeight)) {
        std::fprintf(stderr, "Setup could not create its window\n");
        return 1;
    }
    mainWindow->CenterWindow();
    mainWindow->ShowWindow(true, true);
    const int code = loop->Run();
    // Events queued right before the quit (the close button's "CloseInstallCompleteWindow")
    // would die with the process: out of sight, give the sender a moment to deliver them.
    mainWindow->ShowWindow(false, false);
    UserLogReporter::Instance().WaitUntilSent(std::chrono::seconds(2));
    if (mainWindow->PipelineStarted() || mainWindow->ConfigurationQueryRunning()) {
        // Pipeline threads and a configuration query still waiting for the service are never
        // joined and may still log or touch the window: leave without running static
        // destructors under their feet.
        platform::EndProcessNow(code);
    }
    return code;
}
