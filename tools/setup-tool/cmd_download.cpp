// setup-tool download: one segmented download to completion or until Ctrl-C, with the
// installer's engine. The task file FILE.xml keeps the progress, so running the same
// command again resumes.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "src/engine/CDownloader.h"
#include "src/engine/CStallWatch.h"
#include "Subcommand.h"
#include "platform/Signals.h"
#include "platform/Terminal.h"
#include "src/telemetry/IEventReporter.h"

namespace setuptool {
namespace {

constexpr const char* kName = "download";

// The tool is not the installer: it sends no analytics.
class NoEvents : public IEventReporter {
public:
    int ReportEvent(const std::string&, const std::string&, const std::string&, bool) override { return 0; }
};

// The installer's no-progress limit; QV_TEST_STALL_LIMIT_MS shortens it for tests, as it
// does for Setup.
std::uint32_t StallLimitMs() {
    const char* text = std::getenv("QV_TEST_STALL_LIMIT_MS");
    if (text == nullptr || *text == '\0') return CStallWatch::kDefaultLimitMs;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value == 0 || value > 600000) return CStallWatch::kDefaultLimitMs;
    return static_cast<std::uint32_t>(value);
}

double MegabytesPerSecond(std::int64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

std::string FormatEta(double seconds) {
    if (seconds < 0 || seconds > 99 * 3600) return "--:--";
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

int RunDownload(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int threads = 10;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::printf("usage: setup-tool download URL FILE [--threads N]\n\n"
                        "Downloads URL into FILE in 1 MiB ranges with N workers (1-%d, default 10).\n"
                        "Progress is kept in FILE.xml: Ctrl-C stops cleanly, and the same command\n"
                        "resumes. Like the installer, it gives up when less than 1 KiB/s arrived for\n"
                        "30 s, or when FILE's folder cannot take the file (full, read-only).\n"
                        "Exit 0 when the file is complete, 1 when it is not, 2 on usage.\n",
                        CDownloadThreadManager::kMaxThreads);
            return EXIT_OK;
        }
        if (args[i] == "--threads") {
            if (i + 1 >= args.size()) return UsageError(kName, "--threads needs a number");
            char* end = nullptr;
            const long n = std::strtol(args[i + 1].c_str(), &end, 10);
            if (end == args[i + 1].c_str() || *end != '\0' || n < 1 || n > CDownloadThreadManager::kMaxThreads) {
                return UsageError(kName, "--threads must be a number from 1 to " +
                                             std::to_string(CDownloadThreadManager::kMaxThreads));
            }
            threads = static_cast<int>(n);
            ++i;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return UsageError(kName, "unknown option " + args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return UsageError(kName, "expected URL and FILE");
    const std::string& url = positional[0];
    const std::string& file = positional[1];
    if (url.size() > 8192 || file.empty() || file.size() > 4096) return UsageError(kName, "URL or FILE too long");

    NoEvents events;
    CDownloader downloader(url, file, file + ".xml", threads, events);
    downloader.setEarlyRequests(true);
    errorcode init = downloader.downloadInit(false, "Download");
    if (init == ERRORCODE_OK) init = downloader.checkRoom();
    if (init != ERRORCODE_OK) {
        downloader.stopDownload();
        downloader.waitForDriver();
        if (init == ERRORCODE_LOCAL_FILE) {
            std::fprintf(stderr, "setup-tool download: cannot open %s for writing (it must be a regular file, not a link)\n",
                         file.c_str());
        } else if (init == ERRORCODE_NO_SPACE) {
            std::fprintf(stderr, "setup-tool download: not enough room for %lld bytes in the folder of %s\n",
                         static_cast<long long>(downloader.contentLength()), file.c_str());
        } else {
            std::fprintf(stderr, "setup-tool download: no size for %s after 5 tries (see setup-tool --log download)\n",
                         url.c_str());
        }
        return EXIT_FAILED;
    }
    const std::int64_t size = downloader.contentLength();
    const std::int64_t already = downloader.taskManager().writtenBytes();
    if (already > 0) {
        std::printf("resuming %s: %lld of %lld bytes already there\n", file.c_str(), static_cast<long long>(already),
                    static_cast<long long>(size));
    }
    std::fflush(stdout);

    // Ctrl-C from here on stops cleanly; before, nothing is saved yet and it may simply end
    // the process (the size probe has no time limit of its own).
    platform::InterruptScope interrupt;
    const bool terminal = platform::IsTerminal(stdout);
    const auto started = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    downloader.startDownload();

    double lastPrint = -1.0;
    double windowTime = 0.0;
    std::int64_t windowBytes = already;
    double speed = 0.0;  // MB/s over the last second or so
    bool interrupted = false;
    std::string gaveUp;  // why the download was abandoned
    const DownloadInfo first = downloader.downloadInfo();
    CStallWatch stall(StallLimitMs(), CStallWatch::kDefaultFloorBytesPerSecond, first.tick, first.downloaded);
    // Wakes up every 10 ms for the progress line and Ctrl-C, and at once when the
    // download ends.
    while (!downloader.waitForDriverFor(10)) {
        if (platform::InterruptScope::Requested()) {
            interrupted = true;
            if (terminal) std::printf("\n");
            std::printf("interrupted: waiting for the running requests, then saving %s.xml\n", file.c_str());
            std::fflush(stdout);
            break;
        }
        const DownloadInfo info = downloader.downloadInfo();
        if (const int code = downloader.writeErrno(); code != 0) {
            gaveUp = "cannot write " + file + ": " + std::strerror(code);
            break;
        }
        if (stall.stalled(info.tick, info.downloaded)) {
            gaveUp = "no progress: less than " + std::to_string(CStallWatch::kDefaultFloorBytesPerSecond) +
                     " bytes per second for " + std::to_string(stall.limitMs()) + " ms";
            break;
        }
        const std::int64_t have = info.written;
        const double now = seconds();
        if (now - windowTime >= 1.0) {
            speed = MegabytesPerSecond(have - windowBytes, now - windowTime);
            windowTime = now;
            windowBytes = have;
        }
        const double percent = size > 0 ? 100.0 * static_cast<double>(have) / static_cast<double>(size) : 0.0;
        const double eta = speed > 0 ? static_cast<double>(size - have) / 1e6 / speed : -1.0;
        if (terminal && now - lastPrint >= 0.1) {
            lastPrint = now;
            std::printf("\r%6.2f%%  %8.2f MB/s  ETA %s   ", percent, speed, FormatEta(eta).c_str());
            std::fflush(stdout);
        } else if (!terminal && now - lastPrint >= 1.0) {
            std::printf("progress %.2f%% %.2f MB/s eta %s\n", percent, speed, FormatEta(eta).c_str());
            std::fflush(stdout);
            lastPrint = now;
        }
    }
    downloader.stopDownload();
    downloader.waitForDriver();
    const double elapsed = seconds();
    if (terminal && !interrupted) std::printf("\n");
    if (!gaveUp.empty()) std::fprintf(stderr, "setup-tool download: %s\n", gaveUp.c_str());

    const bool complete = downloader.taskManager().allTasksFinished();
    const DownloadInfo info = downloader.downloadInfo();
    const std::int64_t have = info.written;
    const std::int64_t transferred = have - already;
    std::printf("%s: %s, size %lld bytes, %lld bytes in %.3f s, average %.2f MB/s, %d requests\n", file.c_str(),
                complete ? "complete" : "incomplete", static_cast<long long>(size),
                static_cast<long long>(transferred), elapsed, MegabytesPerSecond(transferred, elapsed),
                info.requestCount);
    if (!complete) {
        std::printf("run the same command again to resume\n");
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

const SubcommandRegistration reg{kName, "download URL FILE [--threads N]",
                                 "download URL into FILE with the installer's engine (resumable)", &RunDownload};

}  // namespace
}  // namespace setuptool
