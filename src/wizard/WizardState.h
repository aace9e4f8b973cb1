#pragma once
// The state the main window shares with the install pipeline. The window owns one for its
// whole life; each pipeline thread holds a reference to it.
//
// Threads, field by field:
// - Set once on the window thread while the window initialises, before any pipeline
//   starts, and only read afterwards (by any thread): `configure`, `downloaderId`,
//   `productFolderName`, `downloadDir`, `innoInstaller`.
// - Written by the window thread, read by the pipeline: `languageIndex`, `isRetry`
//   (atomics) and the progress format (behind the lock). The language controls are
//   hidden while a pipeline runs, so the pipeline sees one value per run in practice.
// - Written by the pipeline, read by the window: `closeConfirmKind` (atomic) and the
//   download location in use (behind the lock).
// - The configuration's remote paths list gains the page-advertised location on the
//   pipeline thread; every reader that may run beside a pipeline (the advice link) takes
//   a copy with RemotePaths(). No other part of `configure` changes after start-up.

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "src/config/ProductConfig.h"
#include "src/system/MessageKind.h"

class WizardState {
public:
    WizardState() = default;
    WizardState(const WizardState&) = delete;
    WizardState& operator=(const WizardState&) = delete;

    // Set once, before any pipeline starts (see above).
    ProductConfig* configure = nullptr;  // owned by the window
    int downloaderId = 0;                // the Downloader_id label; the product id of failure reports
    std::string productFolderName;       // folder the install directory must end in (Software_name)
    std::string downloadDir;             // where a non-installable product is downloaded to
    bool innoInstaller = true;           // the product installer takes Inno Setup switches

    std::atomic<int> languageIndex{0};
    std::atomic<bool> isRetry{false};
    // A MessageKind to ask with on close, or CloseWithoutAsking once the pipeline has ended.
    std::atomic<int> closeConfirmKind{static_cast<int>(MessageKind::Cancel)};

    std::string ProgressFormat() const {
        std::lock_guard<std::mutex> lock(lock_);
        return progressFormat_;
    }
    void SetProgressFormat(std::string format) {
        std::lock_guard<std::mutex> lock(lock_);
        progressFormat_ = std::move(format);
    }

    std::string DownloadUrl() const {
        std::lock_guard<std::mutex> lock(lock_);
        return downloadUrl_;
    }
    void SetDownloadUrl(std::string url) {
        std::lock_guard<std::mutex> lock(lock_);
        downloadUrl_ = std::move(url);
    }

    // A copy of the configuration's remote paths list; empty without a configuration.
    std::vector<std::string> RemotePaths() const {
        std::lock_guard<std::mutex> lock(lock_);
        return configure != nullptr ? configure->remotePaths : std::vector<std::string>{};
    }
    void AppendRemotePath(std::string url) {
        std::lock_guard<std::mutex> lock(lock_);
        if (configure != nullptr) configure->remotePaths.push_back(std::move(url));
    }

    // "Retry" once the user has retried after a failure, else "First": the label of the
    // funnel events.
    std::string RetryLabel() const { return isRetry.load() ? "Retry" : "First"; }

private:
    mutable std::mutex lock_;
    std::string progressFormat_;  // the install_label text of the language: one floating-point argument
    std::string downloadUrl_;     // the download location in use
};
