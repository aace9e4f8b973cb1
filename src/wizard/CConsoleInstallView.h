#pragma once
// The install view of the unattended mode: the pipeline drives the controls of a window
// layout built without a display, and this view turns what matters into terminal output.
// Progress goes to standard output (a bar redrawn in place on a terminal, a plain line per
// whole percent otherwise); every message box is answered by its default and written as
// one clear line on standard error.
//
// Threads: the unattended install runs the pipeline on the calling thread, so every call
// comes from that one thread.

#include <cstdio>
#include <optional>
#include <string>

#include "src/wizard/IInstallView.h"

namespace SkinUI {
class CControlHost;
}

class CConsoleInstallView final : public IInstallView {
public:
    CConsoleInstallView(SkinUI::CControlHost& host, int languageIndex, std::FILE* out = stdout,
                        std::FILE* err = stderr);

    bool HasControl(std::string_view name) override;
    std::string GetControlText(std::string_view name) override;
    void SetControlText(std::string_view name, const std::string& text) override;
    void SetControlVisible(std::string_view name, bool visible) override;
    void SetProgressValue(std::string_view name, int value) override;
    void SelectTabPage(std::string_view name, int page) override;
    void StopSlideTimer() override {}
    void PostPipelineDone() override { done_ = true; }
    void ShowMessage(MessageKind kind) override;
    void OpenUrl(const std::string& url) override;

    // The last message box the pipeline (or a check) raised; none when it ended quietly.
    std::optional<MessageKind> LastMessage() const { return lastMessage_; }
    bool Done() const { return done_; }
    // Ends a progress bar drawn in place, so later output starts on its own line.
    void FinishProgressLine();

    // The description key of a message kind in "message_page" ("UrlFailDexText", ...).
    static const char* DescriptionKey(MessageKind kind);

private:
    void DrawProgress();

    SkinUI::CControlHost& host_;
    int languageIndex_;
    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    int progress_ = -1;
    int printedProgress_ = -1;
    bool lineOpen_ = false;
    bool done_ = false;
    std::optional<MessageKind> lastMessage_;
};
