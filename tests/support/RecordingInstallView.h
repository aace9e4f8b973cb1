#pragma once
// An install view that records: every call in order, and the state the calls leave
// (texts, visibility, progress values, tab pages, message boxes, opened addresses,
// pipeline-done posts). It knows a fixed set of control names, as a window knows its
// layout's; a name outside the set is ignored on set and answers "" / false on get.
//
// Threads: the pipeline calls it from its thread while the test reads it; every method
// takes the one lock.

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "src/wizard/IInstallView.h"

namespace qvtest {

class RecordingInstallView : public IInstallView {
public:
    struct Call {
        std::string what;   // "text", "visible", "progress", "page", "stopTimer", "done", "message", "open"
        std::string name;   // the control, the message kind, or the address
        std::string value;  // the text, "1"/"0", the number
    };

    // The controls of the shipped main window (and its configuration labels) that the
    // pipeline touches; finish_label is not among them.
    static std::set<std::string> ShippedControls();

    explicit RecordingInstallView(std::set<std::string> controls = ShippedControls());

    bool HasControl(std::string_view name) override;
    std::string GetControlText(std::string_view name) override;
    void SetControlText(std::string_view name, const std::string& text) override;
    void SetControlVisible(std::string_view name, bool visible) override;
    void SetProgressValue(std::string_view name, int value) override;
    void SelectTabPage(std::string_view name, int page) override;
    void StopSlideTimer() override;
    void PostPipelineDone() override;
    void ShowMessage(MessageKind kind) override;
    void OpenUrl(const std::string& url) override;

    // Test set-up: a control's text (the path box, a product page label).
    void SetText(const std::string& name, const std::string& text);
    // Runs on the pipeline thread inside ShowMessage, as a modal box would.
    void OnMessage(std::function<void(MessageKind)> handler);

    std::vector<Call> Calls() const;
    std::string Text(const std::string& name) const;
    bool Visible(const std::string& name) const;  // false until set
    int Progress(const std::string& name) const;  // -1 until set
    int Page(const std::string& name) const;      // -1 until set
    std::vector<int> ProgressHistory(const std::string& name) const;
    std::vector<MessageKind> Messages() const;
    std::vector<std::string> OpenedUrls() const;
    int DoneCount() const;
    bool SlideTimerStopped() const;
    // Index in Calls() of the first call of that kind (and name, when given); -1 when none.
    int IndexOf(const std::string& what, const std::string& name = "") const;

private:
    void Record(std::string what, std::string name, std::string value);

    mutable std::mutex lock_;
    std::set<std::string, std::less<>> controls_;
    std::map<std::string, std::string, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> visible_;
    std::map<std::string, std::vector<int>, std::less<>> progress_;
    std::map<std::string, int, std::less<>> pages_;
    std::vector<Call> calls_;
    std::vector<MessageKind> messages_;
    std::vector<std::string> opened_;
    int done_ = 0;
    bool timerStopped_ = false;
    std::function<void(MessageKind)> onMessage_;
};

}  // namespace qvtest
