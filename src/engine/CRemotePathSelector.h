#pragma once
// Chooses the download location of the product installer: by rule (the first plain or the
// first content-delivery location) or by a short speed test of each location, skipping
// content-delivery locations once they have failed too often on this machine. Also finds
// the extra location a download page advertises.
//
// The count of content-delivery failures is kept as "RequestTooMuchTimes" under the
// product's uninstall key: one character, "0" plus the count, so a count of 10 is stored
// as ":" and reads back as 0.
//
// The speed test's bytes are not thrown away: the location that wins keeps what its test
// fetched (in the working directory, as "temp.kept") until adoptSpeedTestBytes hands it to
// the download, or the selector is destroyed, which deletes it.
//
// Threads: used on the install pipeline thread; each speed test runs its own downloader
// threads, one location at a time. Progress and events are delivered on the caller's thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/engine/CLibcurlTool.h"
#include "src/engine/IDownloadProgress.h"
#include "platform/RegistryStore.h"
#include "src/telemetry/IEventReporter.h"

// How long each location is measured. The defaults are the product's; tests shorten them.
struct SpeedTestSettings {
    int steps = 4;               // progress updates per location
    std::uint32_t stepMs = 1000; // pause before each update
    std::int32_t threadCount = 3;
    RangeTimeouts rangeTimeouts;
};

class CRemotePathSelector {
public:
    static constexpr const char* kCounterValue = "RequestTooMuchTimes";
    static constexpr int kForbidThreshold = 4;
    static constexpr std::size_t kPageLimit = 200000;  // characters of a download page read

    // The installer's working directory with a trailing '/', created if needed; empty when
    // it cannot be had.
    using WorkingDirectoryFn = std::function<std::string()>;

    // softwareName names the uninstall key; progress may be null.
    CRemotePathSelector(std::string softwareName, platform::RegistryStore& localMachine, IDownloadProgress* progress,
                        IEventReporter& reporter, WorkingDirectoryFn workingDirectory, SpeedTestSettings settings = {});
    // Deletes the winner's speed-test bytes when no download took them.
    ~CRemotePathSelector();
    CRemotePathSelector(const CRemotePathSelector&) = delete;
    CRemotePathSelector& operator=(const CRemotePathSelector&) = delete;

    // The installer URL a download page advertises in data-dl-url='...' when it answers a
    // header probe; empty otherwise (also for an empty page URL).
    std::string resolvePageDownloadUrl(const std::string& pageUrl) const;

    // Mode 1: first non-CDN location; mode 2: first CDN location; other modes: the location
    // that downloaded most in its speed test (the earlier one on a tie). Empty when none.
    std::string checkRemotePath(std::vector<std::string> remotePaths, int mode);

    // Starts the download of `location` into `localPath` with the bytes the speed test of
    // the last checkRemotePath fetched from it: moves them to `localPath` and writes a task
    // file (`taskFilePath`) of freshly generated tasks that counts them as downloaded, so
    // that the download fetches only the rest. Only the winner's bytes, only for the same
    // URL (the size probe must lead where the speed test's did, to a file of the same size),
    // only up to the last byte written, and never over an existing `localPath`. Returns the
    // bytes handed over; 0 when none were (the kept bytes are deleted either way).
    std::int64_t adoptSpeedTestBytes(const std::string& location, const std::string& localPath,
                                     const std::string& taskFilePath);

    bool isForbidCDN() const;
    // Raises the count; false when it could not be written.
    bool increaseRequestTooMuchTimes();

    // The counter's text as an integer: leading digits, a non-digit reads as 0.
    static int CounterFromText(const std::string& text);

private:
    // What the winning speed test left: where its bytes are and which ranges hold them.
    struct KeptBytes {
        std::string location;   // as the caller named it
        std::string remoteUrl;  // where its size probe led: the URL of every range
        std::int64_t contentLength = 0;
        std::int64_t elapsedMs = 0;                              // time the test spent downloading
        std::vector<std::pair<std::int64_t, std::int64_t>> spans;  // written [start, end), sorted
        std::string dataPath;
    };

    void DiscardKept();
    std::string UninstallKey() const;
    // -1 when the value (or the key) is absent.
    int ReadCounter() const;
    void ShowProgress(double percent);

    std::string m_softwareName;
    platform::RegistryStore& m_localMachine;
    IDownloadProgress* m_progress;
    IEventReporter& m_reporter;
    WorkingDirectoryFn m_workingDirectory;
    SpeedTestSettings m_settings;
    std::optional<KeptBytes> m_kept;
};
