#include "RecordingInstallView.h"

#include <utility>

namespace qvtest {

void RecordingInstallView::Record(std::string what, std::string value) {
    calls_.push_back({std::move(what), std::move(value)});
}

void RecordingInstallView::ShowProgress(int percent, const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    progress_.push_back(percent);
    progressText_ = text;
    Record("progress", std::to_string(percent) + " " + text);
}

void RecordingInstallView::ShowFailureForm(const std::string& retryText) {
    std::lock_guard<std::mutex> lock(lock_);
    failureForm_ = true;
    retryText_ = retryText;
    Record("failureForm", retryText);
}

void RecordingInstallView::ShowFinished() {
    std::lock_guard<std::mutex> lock(lock_);
    ++finished_;
    Record("finished", "");
}

std::string RecordingInstallView::InstallDirectory() {
    std::lock_guard<std::mutex> lock(lock_);
    return installDirectory_;
}

std::string RecordingInstallView::ProductPageUrl(int languageIndex) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = productPages_.find(languageIndex);
    return found == productPages_.end() ? std::string() : found->second;
}

void RecordingInstallView::StopSlideTimer() {
    std::lock_guard<std::mutex> lock(lock_);
    timerStopped_ = true;
    Record("stopTimer", "");
}

void RecordingInstallView::PostPipelineDone() {
    std::lock_guard<std::mutex> lock(lock_);
    ++done_;
    Record("done", "");
}

void RecordingInstallView::ShowMessage(MessageKind kind) {
    std::function<void(MessageKind)> handler;
    {
        std::lock_guard<std::mutex> lock(lock_);
        messages_.push_back(kind);
        Record("message", to_string(kind));
        handler = onMessage_;
    }
    if (handler) handler(kind);
}

void RecordingInstallView::OpenUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(lock_);
    opened_.push_back(url);
    Record("open", url);
}

void RecordingInstallView::SetInstallDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(lock_);
    installDirectory_ = directory;
}

void RecordingInstallView::SetProductPageUrl(int languageIndex, const std::string& url) {
    std::lock_guard<std::mutex> lock(lock_);
    productPages_[languageIndex] = url;
}

void RecordingInstallView::OnMessage(std::function<void(MessageKind)> handler) {
    std::lock_guard<std::mutex> lock(lock_);
    onMessage_ = std::move(handler);
}

std::vector<RecordingInstallView::Call> RecordingInstallView::Calls() const {
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
}

int RecordingInstallView::Progress() const {
    std::lock_guard<std::mutex> lock(lock_);
    return progress_.empty() ? -1 : progress_.back();
}

std::string RecordingInstallView::ProgressText() const {
    std::lock_guard<std::mutex> lock(lock_);
    return progressText_;
}

std::vector<int> RecordingInstallView::ProgressHistory() const {
    std::lock_guard<std::mutex> lock(lock_);
    return progress_;
}

bool RecordingInstallView::FailureFormShown() const {
    std::lock_guard<std::mutex> lock(lock_);
    return failureForm_;
}

std::string RecordingInstallView::RetryText() const {
    std::lock_guard<std::mutex> lock(lock_);
    return retryText_;
}

int RecordingInstallView::FinishedCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return finished_;
}

std::vector<MessageKind> RecordingInstallView::Messages() const {
    std::lock_guard<std::mutex> lock(lock_);
    return messages_;
}

std::vector<std::string> RecordingInstallView::OpenedUrls() const {
    std::lock_guard<std::mutex> lock(lock_);
    return opened_;
}

int RecordingInstallView::DoneCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return done_;
}

bool RecordingInstallView::SlideTimerStopped() const {
    std::lock_guard<std::mutex> lock(lock_);
    return timerStopped_;
}

int RecordingInstallView::IndexOf(const std::string& what) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        if (calls_[i].what == what) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace qvtest
