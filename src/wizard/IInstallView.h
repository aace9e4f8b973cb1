#pragma once
// What the install pipeline needs of the window it reports to. The main window implements
// it, tests record it, the unattended mode prints it.
//
// Threads: every call comes from the pipeline thread. Implementations only store state,
// invalidate and post (the window paints later on its own thread); ShowMessage runs a
// modal message box on the calling thread and returns when it is closed.

#include <string>
#include <string_view>

#include "src/system/MessageKind.h"

class IInstallView {
public:
    virtual ~IInstallView() = default;

    // Controls by name, as the layout names them ("install_label", "install_progress",
    // "main_tablayout", "text_fail_retry", ...). A name the layout lacks is ignored on set
    // and answers "" / false on get.
    virtual bool HasControl(std::string_view name) = 0;
    virtual std::string GetControlText(std::string_view name) = 0;
    virtual void SetControlText(std::string_view name, const std::string& text) = 0;
    virtual void SetControlVisible(std::string_view name, bool visible) = 0;
    virtual void SetProgressValue(std::string_view name, int value) = 0;
    virtual void SelectTabPage(std::string_view name, int page) = 0;

    // The running page's slide timer.
    virtual void StopSlideTimer() = 0;
    // Posts UM_PIPELINE_DONE to the window.
    virtual void PostPipelineDone() = 0;
    // A message box of `kind` in the current language, modal on the calling thread.
    virtual void ShowMessage(MessageKind kind) = 0;
    // Opens an address in the default browser (the product page).
    virtual void OpenUrl(const std::string& url) = 0;
};
