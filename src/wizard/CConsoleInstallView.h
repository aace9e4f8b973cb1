#pragma once
// The install view of the unattended mode: what the pipeline shows becomes terminal output.
// Progress goes to standard output (a bar redrawn in place on a terminal, a plain line per
// whole percent otherwise); every message box is answered by its default and written as
// one clear line on standard error; the product page is named instead of opened. The
// finished and failure forms have nothing to show: the run's exit says how it ended.
//
// Threads: the unattended install runs the pipeline on the calling thread, so every call
// comes from that one thread.

#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "src/language/LanguageTable.h"
#include "src/wizard/IInstallView.h"

class CConsoleInstallView final : public IInstallView {
public:
    explicit CConsoleInstallView(int languageIndex, std::FILE* out = stdout, std::FILE* err = stderr);

    // What the window would hold: the install folder chosen, the skin's product page of a
    // language. Set before the pipeline runs.
    void SetInstallDirectory(std::string directory) { installDirectory_ = std::move(directory); }
    void SetProductPageUrl(int languageIndex, std::string url);

    void ShowProgress(int percent, const std::string& text) override;
    void ShowFailureForm(const std::string& retryText) override { (void)retryText; }
    void ShowFinished() override {}
    std::string InstallDirectory() override { return installDirectory_; }
    std::string ProductPageUrl(int languageIndex) override;
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

    int languageIndex_;
    std::string installDirectory_;
    std::array<std::string, kLanguageCount> productPages_;
    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    int progress_ = -1;
    int printedProgress_ = -1;
    bool lineOpen_ = false;
    bool done_ = false;
    std::optional<MessageKind> lastMessage_;
};
