#include "RecordingInstallView.h"

#include <utility>

namespace qvtest {

std::set<std::string> RecordingInstallView::ShippedControls() {
    std::set<std::string> names = {"install_label",   "install_progress", "main_tablayout", "page_layout",
                                   "text_fail_retry", "text_fail_advice", "img_warning",    "start_app",
                                   "install_file_path_edit"};
    for (const char* language : {"english", "japanese", "chinesesimp", "spanish", "german", "french", "russian",
                                 "portuguese", "arabic", "italiano", "chinesetrad", "korean", "nederlands",
                                 "indonesian", "turkish", "hindi", "thai", "malay", "swedish", "czech"}) {
        names.insert(std::string("product_url_") + language);
    }
    return names;
}

RecordingInstallView::RecordingInstallView(std::set<std::string> controls) : controls_(controls.begin(), controls.end()) {}

void RecordingInstallView::Record(std::string what, std::string name, std::string value) {
    calls_.push_back({std::move(what), std::move(name), std::move(value)});
}

bool RecordingInstallView::HasControl(std::string_view name) {
    std::lock_guard<std::mutex> lock(lock_);
    return controls_.count(name) != 0;
}

std::string RecordingInstallView::GetControlText(std::string_view name) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = texts_.find(name);
    return found == texts_.end() || controls_.count(name) == 0 ? std::string() : found->second;
}

void RecordingInstallView::SetControlText(std::string_view name, const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    if (controls_.count(name) == 0) return;
    texts_[std::string(name)] = text;
    Record("text", std::string(name), text);
}

void RecordingInstallView::SetControlVisible(std::string_view name, bool visible) {
    std::lock_guard<std::mutex> lock(lock_);
    if (controls_.count(name) == 0) return;
    visible_[std::string(name)] = visible;
    Record("visible", std::string(name), visible ? "1" : "0");
}

void RecordingInstallView::SetProgressValue(std::string_view name, int value) {
    std::lock_guard<std::mutex> lock(lock_);
    if (controls_.count(name) == 0) return;
    progress_[std::string(name)].push_back(value);
    Record("progress", std::string(name), std::to_string(value));
}

void RecordingInstallView::SelectTabPage(std::string_view name, int page) {
    std::lock_guard<std::mutex> lock(lock_);
    if (controls_.count(name) == 0) return;
    pages_[std::string(name)] = page;
    Record("page", std::string(name), std::to_string(page));
}

void RecordingInstallView::StopSlideTimer() {
    std::lock_guard<std::mutex> lock(lock_);
    timerStopped_ = true;
    Record("stopTimer", "", "");
}

void RecordingInstallView::PostPipelineDone() {
    std::lock_guard<std::mutex> lock(lock_);
    ++done_;
    Record("done", "", "");
}

void RecordingInstallView::ShowMessage(MessageKind kind) {
    std::function<void(MessageKind)> handler;
    {
        std::lock_guard<std::mutex> lock(lock_);
        messages_.push_back(kind);
        Record("message", to_string(kind), "");
        handler = onMessage_;
    }
    if (handler) handler(kind);
}

void RecordingInstallView::OpenUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(lock_);
    opened_.push_back(url);
    Record("open", url, "");
}

void RecordingInstallView::SetText(const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    texts_[name] = text;
}

void RecordingInstallView::OnMessage(std::function<void(MessageKind)> handler) {
    std::lock_guard<std::mutex> lock(lock_);
    onMessage_ = std::move(handler);
}

std::vector<RecordingInstallView::Call> RecordingInstallView::Calls() const {
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
}

std::string RecordingInstallView::Text(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = texts_.find(name);
    return found == texts_.end() ? std::string() : found->second;
}

bool RecordingInstallView::Visible(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = visible_.find(name);
    return found != visible_.end() && found->second;
}

int RecordingInstallView::Progress(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = progress_.find(name);
    return found == progress_.end() || found->second.empty() ? -1 : found->second.back();
}

int RecordingInstallView::Page(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = pages_.find(name);
    return found == pages_.end() ? -1 : found->second;
}

std::vector<int> RecordingInstallView::ProgressHistory(const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    const auto found = progress_.find(name);
    return found == progress_.end() ? std::vector<int>{} : found->second;
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

int RecordingInstallView::IndexOf(const std::string& what, const std::string& name) const {
    std::lock_guard<std::mutex> lock(lock_);
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        if (calls_[i].what == what && (name.empty() || calls_[i].name == name)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace qvtest
