#pragma once
// The product installer's download as the install pipeline sees it: one watched download
// ending in a DownloadResult, and the digest check of the finished file.
//
// Threads: SuperDownloadFile runs on the caller's (pipeline) thread and owns its
// downloader for the length of the call; progress and events are delivered on that thread.
// checkMD5 is stateless.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "src/engine/CLibcurlTool.h"
#include "src/engine/DownloadResult.h"
#include "src/engine/IDownloadProgress.h"
#include "src/telemetry/IEventReporter.h"

// Limits of the watch loop. The defaults are the product's; tests shorten them.
struct DownloadWatchSettings {
    std::uint32_t noSpeedEventMs = 3000;  // "NoDownloadSpeed" once no data arrived this long
    std::uint32_t stallLimitMs = 30000;   // give up (TooSlow) once less than the floor arrived this long
    std::int64_t floorBytesPerSecond = 1024;  // slower than this over stallLimitMs counts as stalled
    std::uint32_t passPauseMs = 10;       // pause of each pass of the watch loop
    std::int32_t threadCount = 10;
    RangeTimeouts rangeTimeouts;
};

class CDownLoadImpl {
public:
    using NetworkAliveFn = std::function<bool()>;

    // progress may be null (nothing shown). networkAlive defaults to the machine's state.
    explicit CDownLoadImpl(IDownloadProgress* progress = nullptr, IEventReporter& reporter = DefaultEventReporter(),
                           NetworkAliveFn networkAlive = {}, DownloadWatchSettings settings = {});

    // Downloads remoteUrl into localPath (task file localPath + ".xml"). md5 is not used
    // here. NoRoom covers a folder that is full, read-only or too small for the file.
    DownloadResult SuperDownloadFile(const std::string& remoteUrl, const std::string& localPath,
                                     const std::string& md5);

    // MD5 of the file as 32 lower-case hex digits, compared exactly with md5 and md5Extra;
    // writes "<version>###<digest>" to filePath + ".db" first. 1 match, 0 no match (also
    // when the digest could not be computed), else the error code (errno) of the step that
    // failed. Reads the file in fixed-size chunks, so memory does not grow with the file.
    static int checkMD5(std::string filePath, std::string md5, std::string md5Extra, std::string version);

    // A content-delivery URL: contains "cdn." or "dl." (case-sensitive).
    static bool IsCdnUrl(std::string_view url);

    static constexpr std::size_t kDigestChunkBytes = 1u << 20;
    static constexpr std::size_t kMaxPathChars = 259;

private:
    IDownloadProgress* m_progress;
    IEventReporter& m_reporter;
    NetworkAliveFn m_networkAlive;
    DownloadWatchSettings m_settings;
};
