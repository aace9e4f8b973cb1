#pragma once
// Where the download layer shows its progress: the main window implements it, tests
// record it, a console view prints it. Called on the install pipeline thread.

#include <cstdint>

class IDownloadProgress {
public:
    virtual ~IDownloadProgress() = default;
    // Bytes done of total while the installer downloads, and once with done == total at the end.
    virtual void ShowDownloadProgress(std::int64_t done, std::int64_t total) = 0;
    // The progress bar as a percentage while download locations are speed-tested (0 to 10).
    virtual void ShowSelectionProgress(double percent) = 0;
};
