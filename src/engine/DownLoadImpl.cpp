#include "src/engine/DownLoadImpl.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

#include "src/engine/CDownloader.h"
#include "src/engine/CStallWatch.h"
#include "src/telemetry/SystemInfo.h"
#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/FileStreams.h"
#include "platform/SystemFacts.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::size_t CodePoints(const std::string& text) {
    std::size_t points = 0;
    for (unsigned char ch : text) points += (ch & 0xC0) != 0x80;
    return points;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// errno of the failed step, never 0 or 1 (which mean "no match" and "match").
int ErrorCode(int fallback) {
    const int code = errno;
    return code > 1 ? code : fallback;
}

// Errors that say the folder cannot take (more of) the file, as opposed to a path that
// does not exist.
bool IsNoRoomError(int code) {
    switch (code) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
        case EROFS:
        case EACCES:
        case EPERM: return true;
        default: return false;
    }
}

}  // namespace

CDownLoadImpl::CDownLoadImpl(IDownloadProgress* progress, IEventReporter& reporter, NetworkAliveFn networkAlive,
                             DownloadWatchSettings settings)
    : m_progress(progress),
      m_reporter(reporter),
      m_networkAlive(networkAlive ? std::move(networkAlive) : NetworkAliveFn(&platform::IsNetworkAlive)),
      m_settings(settings) {}

bool CDownLoadImpl::IsCdnUrl(std::string_view url) {
    return url.find("cdn.") != std::string_view::npos || url.find("dl.") != std::string_view::npos;
}

DownloadResult CDownLoadImpl::SuperDownloadFile(const std::string& remoteUrl, const std::string& localPath,
                                                const std::string&) {
    // The engine's paths and URLs were fixed-size buffers; longer ones are refused whole
    // rather than cut into a different address or file name.
    if (CodePoints(remoteUrl) > kMaxPathChars || CodePoints(localPath) > kMaxPathChars) {
        LOG(INFO) << " [Error]: download url or path longer than " << kMaxPathChars << " characters";
        return DownloadResult::Incomplete;
    }
    const bool cdn = IsCdnUrl(remoteUrl);
    CDownloader downloader(remoteUrl, localPath, localPath + ".xml", m_settings.threadCount, m_reporter,
                           m_settings.rangeTimeouts);
    // Every early return stops the driver in order, so the task file records what was written.
    const auto stopAndWait = [&downloader] {
        downloader.stopDownload();
        downloader.waitForDriver();
    };
    errorcode init = downloader.downloadInit(cdn, "Download");
    if (init == ERRORCODE_OK) init = downloader.checkRoom();
    if (init != ERRORCODE_OK) {
        stopAndWait();
        // A folder that cannot take the file is the machine's problem, not the server's.
        if (init == ERRORCODE_NO_SPACE) return DownloadResult::NoRoom;
        if (init == ERRORCODE_LOCAL_FILE && IsNoRoomError(downloader.threadManager().openErrno())) {
            return DownloadResult::NoRoom;
        }
        return DownloadResult::Incomplete;
    }
    downloader.startDownload();

    std::uint32_t lastTick = platform::TickCount32();
    std::int64_t lastBytes = 0;
    CStallWatch stall(m_settings.stallLimitMs, m_settings.floorBytesPerSecond, lastTick, 0);
    bool noSpeedReported = false;
    double highestRate = 0.0;
    double lowestRate = 102400.0;

    for (;;) {
        if (!m_networkAlive()) {
            stopAndWait();
            return DownloadResult::NoNetwork;
        }
        if (const int code = downloader.writeErrno(); code != 0) {
            LOG(INFO) << " [Error]: cannot write " << localPath << ": " << std::strerror(code);
            stopAndWait();
            return DownloadResult::NoRoom;
        }
        const DownloadInfo info = downloader.downloadInfo();
        // Tick differences are taken on the 32-bit tick and read as signed: a record made
        // just before lastTick counts as no time, not as 49 days.
        const std::int32_t sinceLast = static_cast<std::int32_t>(info.tick - lastTick);
        if (info.downloaded > lastBytes) {
            if (sinceLast > 0) {
                const double rate = static_cast<double>(info.downloaded - lastBytes) / 1024.0 / 1024.0 /
                                    (static_cast<double>(sinceLast) / 1000.0);
                if (rate > highestRate) highestRate = rate;
                if (rate < lowestRate) lowestRate = rate;
            }
            lastBytes = info.downloaded;
            lastTick = info.tick;
        } else if (info.downloaded == lastBytes) {
            if (sinceLast >= static_cast<std::int64_t>(m_settings.noSpeedEventMs) && !noSpeedReported) {
                noSpeedReported = true;
                m_reporter.ReportEvent("DownloaderInfo00", "NoDownloadSpeed", "", false);
            }
        }
        if (stall.stalled(info.tick, info.downloaded)) {
            LOG(INFO) << " [Error]: less than " << m_settings.floorBytesPerSecond << " bytes per second for "
                      << m_settings.stallLimitMs << " ms";
            stopAndWait();
            return DownloadResult::TooSlow;
        }
        const std::int64_t tasks = downloader.tasksCount();
        if (cdn && info.requestCount > 3 * tasks) {
            LOG(INFO) << " ---cdn fail:" << info.requestCount << " > 3 * " << tasks;
            stopAndWait();
            return DownloadResult::CdnTooManyRequests;
        }
        if (downloader.state() != CDownloader::STATE_STOPPING) {
            if (m_progress != nullptr) m_progress->ShowDownloadProgress(info.downloaded, downloader.contentLength());
            platform::SleepMs(m_settings.passPauseMs);
            continue;
        }

        // The driver stopped by itself: every task is finished.
        downloader.waitForDriver();
        downloader.updateDownloadInfo();
        const DownloadInfo last = downloader.downloadInfo();
        const std::int64_t total = downloader.contentLength();
        if (last.downloaded < total) return DownloadResult::Incomplete;
        if (!downloader.dispatched()) {
            if (m_progress != nullptr) m_progress->ShowDownloadProgress(total, total);
            return DownloadResult::Complete;
        }
        const double average = std::floor(static_cast<double>(last.averageSpeed()) / 1048576.0 * 100.0) / 100.0;
        const std::string averageText = Format("%.1fMB/s", average);
        LOG(INFO) << " Average speed: " << averageText;
        m_reporter.ReportEvent("DownloadSpeed", cdn ? "CDN" : "Server", averageText, false);
        m_reporter.ReportEvent("DownloaderInfo", "TotalRequestTimes", std::to_string(last.requestCount), false);
        const std::string lowestText = Format("%.1f MB/s", lowestRate);
        const std::string highestText = Format("%.1f MB/s", highestRate);
        m_reporter.ReportEvent("DownloaderInfo00", "DownloadRateMin", lowestText, false);
        m_reporter.ReportEvent("DownloaderInfo00", "DownloadRateMax", highestText, false);
        LOG(INFO) << " Download speed range " << lowestText << " - " << highestText;
        return DownloadResult::Complete;
    }
}

int CDownLoadImpl::checkMD5(std::string filePath, std::string md5, std::string md5Extra, std::string version) {
    errno = 0;
    // Never through a link: the record below would vouch for whatever it pointed at.
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenForReading(filePath));
    if (!file) {
        const int code = ErrorCode(EIO);
        LOG(INFO) << " [Error] : Error opening file " << filePath << " ErrorCode " << code;
        return code;
    }
    const auto identity = platform::IdentityOf(filePath);
    const std::uint64_t size64 = identity ? static_cast<std::uint64_t>(identity->size) : 0;
    LOG(INFO) << " checkMD5 ok1: " << static_cast<std::uint32_t>(size64) << " , "
              << static_cast<std::uint32_t>(size64 >> 32);

    // One fixed-size buffer, whatever the file's size: an installer of several GiB must not
    // be held in memory to be hashed.
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kDigestChunkBytes);
    } catch (const std::exception& e) {
        LOG(INFO) << " checkMD5 ex2: " << e.what();
        return ENOMEM;
    }
    LOG(INFO) << " checkMD5 ok2: ";
    LOG(INFO) << " checkMD5 ok3: ";

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> ctx(EVP_MD_CTX_new());
    if (!ctx) {
        LOG(INFO) << " CryptAcquireContext failed: " << ENOMEM;
        return ENOMEM;
    }
    if (EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return ENOTSUP;

    for (;;) {
        errno = 0;
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (got > 0 && EVP_DigestUpdate(ctx.get(), buffer.data(), got) != 1) {
            qvlog::ConsoleLine("CryptHashData failed: %d\n", ENOTSUP);
            return ENOTSUP;
        }
        if (got < buffer.size()) {
            if (std::ferror(file.get())) {
                const int code = ErrorCode(EIO);
                qvlog::ConsoleLine("ReadFile failed: %d\n", code);
                return code;
            }
            break;
        }
    }

    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::string digest;
    if (EVP_DigestFinal_ex(ctx.get(), value, &length) != 1 || length != 16) {
        LOG(INFO) << " CryptGetHashParam failed: " << ENOTSUP;
    } else {
        static const char kHex[] = "0123456789abcdef";
        for (unsigned int i = 0; i < length; ++i) {
            digest += kHex[value[i] >> 4];
            digest += kHex[value[i] & 0x0F];
        }
    }
    ctx.reset();
    file.reset();

    LOG(INFO) << " MD5 hash of file " << filePath << " is " << digest;
    const std::string fileVersion = FuntionImpl::GetFileVersion(filePath);
    LOG(INFO) << " Version of file " << filePath << " is " << fileVersion;

    // A digest that could not be read leaves an empty record, which vouches for nothing.
    // Replaced whole: a link planted under the record's name is replaced, never written through.
    platform::ReplaceFileAtomically(filePath + ".db", digest.empty() ? std::string() : version + "###" + digest);
    if (digest.empty()) return 0;
    return digest == md5 || digest == md5Extra ? 1 : 0;
}
