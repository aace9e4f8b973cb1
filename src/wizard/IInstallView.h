#pragma once
// What the install pipeline needs of the window it reports to, in the pipeline's terms:
// how far it has got, how the attempt ended, and what the user chose. Which controls show
// it is the window's business. The main window implements it, tests record it, the
// unattended mode prints it.
//
// Threads: every call comes from the pipeline thread. Implementations only store state,
// invalidate and post (the window paints later on its own thread); ShowMessage runs a
// modal message box on the calling thread and returns when it is closed.

#include <string>

#include "src/system/MessageKind.h"

class IInstallView {
public:
    virtual ~IInstallView() = default;

    // The running page's progress: the bar at `percent` (0-100), its label reading `text`.
    virtual void ShowProgress(int percent, const std::string& text) = 0;
    // Turns the first page's finished row into its failure form: the failure headline, the
    // advice with its link and the warning sign shown, the start button reading `retryText`.
    // The page itself comes up with ShowFinished.
    virtual void ShowFailureForm(const std::string& retryText) = 0;
    // Leaves the running page for the first page with its finished row (in the failure
    // form when ShowFailureForm came first).
    virtual void ShowFinished() = 0;

    // The folder the user chose to install into, the product's own folder included.
    virtual std::string InstallDirectory() = 0;
    // The product page the skin gives for a language (index 0-19); empty when it gives none.
    virtual std::string ProductPageUrl(int languageIndex) = 0;

    // The running page's slide timer.
    virtual void StopSlideTimer() = 0;
    // Posts UM_PIPELINE_DONE to the window.
    virtual void PostPipelineDone() = 0;
    // A message box of `kind` in the current language, modal on the calling thread.
    virtual void ShowMessage(MessageKind kind) = 0;
    // Opens an address in the default browser (the product page).
    virtual void OpenUrl(const std::string& url) = 0;
};
