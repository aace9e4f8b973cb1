#pragma once
// An install view that records: every call in order, and the state the calls leave
// (progress, the failure form and its retry text, the finished page, message boxes,
// opened addresses, pipeline-done posts). What the pipeline reads back (the install
// folder, product pages) is set up by the test.
//
// Threads: the pipeline calls it from its thread while the test reads it; every method
// takes the one lock.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "src/wizard/IInstallView.h"

namespace qvtest {

class RecordingInstallView : public IInstallView {
public:
    struct Call {
        // "progress", "failureForm", "finished", "stopTimer", "done", "message", "open"
        std::string what;
        // the percent and text ("42 42%"), the retry text, the message kind, the address
        std::string value;
    };

    void ShowProgress(int percent, const std::string& text) override;
    void ShowFailureForm(const std::string& retryText) override;
    void ShowFinished() override;
    std::string InstallDirectory() override;
    std::string ProductPageUrl(int languageIndex) override;
    void StopSlideTimer() override;
    void PostPipelineDone() override;
    void ShowMessage(MessageKind kind) override;
    void OpenUrl(const std::string& url) override;

    // Test set-up: the folder the user chose, the skin's product page of a language.
    void SetInstallDirectory(const std::string& directory);
    void SetProductPageUrl(int languageIndex, const std::string& url);
    // Runs on the pipeline thread inside ShowMessage, as a modal box would.
    void OnMessage(std::function<void(MessageKind)> handler);

    std::vector<Call> Calls() const;
    int Progress() const;              // -1 until shown
    std::string ProgressText() const;  // "" until shown
    std::vector<int> ProgressHistory() const;
    bool FailureFormShown() const;
    std::string RetryText() const;  // the start button's text on the failure form
    int FinishedCount() const;
    std::vector<MessageKind> Messages() const;
    std::vector<std::string> OpenedUrls() const;
    int DoneCount() const;
    bool SlideTimerStopped() const;
    // Index in Calls() of the first call of that kind; -1 when none.
    int IndexOf(const std::string& what) const;

private:
    void Record(std::string what, std::string value);

    mutable std::mutex lock_;
    std::string installDirectory_;
    std::map<int, std::string> productPages_;
    std::vector<int> progress_;
    std::string progressText_;
    bool failureForm_ = false;
    std::string retryText_;
    int finished_ = 0;
    std::vector<Call> calls_;
    std::vector<MessageKind> messages_;
    std::vector<std::string> opened_;
    int done_ = 0;
    bool timerStopped_ = false;
    std::function<void(MessageKind)> onMessage_;
};

}  // namespace qvtest
