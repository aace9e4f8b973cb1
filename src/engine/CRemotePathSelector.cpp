#include "src/engine/CRemotePathSelector.h"

#include <filesystem>
#include <memory>

#include "src/engine/CDownloader.h"
#include "src/engine/DownLoadImpl.h"
#include "platform/ProcessLogger.h"
#include "platform/Clock.h"

namespace {

constexpr const char* kUninstallRoot = "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kPageMarker = "data-dl-url='";
constexpr int kMaxStoredCount = 10;  // stored as ':'; larger counts only come from hand edits

void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool IsHttpUrl(const std::string& url) { return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0; }

}  // namespace

CRemotePathSelector::CRemotePathSelector(std::string softwareName, platform::RegistryStore& localMachine,
                                         IDownloadProgress* progress, IEventReporter& reporter,
                                         WorkingDirectoryFn workingDirectory, SpeedTestSettings settings)
    : m_softwareName(std::move(softwareName)),
      m_localMachine(localMachine),
      m_progress(progress),
      m_reporter(reporter),
      m_workingDirectory(std::move(workingDirectory)),
      m_settings(settings) {}

std::string CRemotePathSelector::resolvePageDownloadUrl(const std::string& pageUrl) const {
    if (pageUrl.empty()) return {};
    CLibcurlTool tool;
    if (!tool.init()) return {};
    std::string page;
    tool.getContent(pageUrl, page, kPageLimit);
    if (page.empty()) return {};
    const std::size_t marker = page.find(kPageMarker);
    if (marker == std::string::npos) return {};
    const std::size_t start = marker + std::char_traits<char>::length(kPageMarker);
    const std::size_t end = page.find('\'', start);
    if (end == std::string::npos || end == start) return {};
    const std::string url = page.substr(start, end - start);
    // A page is not trusted to point the downloader at a local file or another protocol.
    if (!IsHttpUrl(url)) {
        LOG(INFO) << " [Error]: download page names a non-HTTP address";
        return {};
    }
    std::string header;
    if (tool.getHeader(url, header) != CURLE_OK) return {};
    return url;
}

std::string CRemotePathSelector::checkRemotePath(std::vector<std::string> remotePaths, int mode) {
    const bool forbid = isForbidCDN();
    LOG(INFO) << " isForbidCDN: " << (forbid ? 1 : 0);
    int bestIndex = -1;
    std::int64_t bestCount = 0;
    int index = 0;
    const double count = static_cast<double>(remotePaths.size());

    for (const std::string& url : remotePaths) {
        const bool cdn = CDownLoadImpl::IsCdnUrl(url);
        if (mode == 1 || mode == 2) {
            if ((mode == 1) != cdn) {
                LOG(INFO) << " UrlUsed: " << url;
                return url;
            }
            continue;
        }
        const std::string directory = m_workingDirectory ? m_workingDirectory() : std::string();
        if (directory.empty()) return {};
        if (cdn && forbid) {
            ++index;
            continue;
        }
        const std::string dataFile = directory + "temp";
        const std::string taskFile = dataFile + ".xml";
        auto downloader = std::make_unique<CDownloader>(url, dataFile, taskFile, m_settings.threadCount, m_reporter,
                                                        m_settings.rangeTimeouts);
        if (downloader->downloadInit(cdn, cdn ? "TestSpeedCdn" : "TestSpeedService") != ERRORCODE_OK) {
            downloader->stopDownload();
            downloader->waitForDriver();
            ++index;
            downloader.reset();
            RemoveQuietly(dataFile);
            RemoveQuietly(taskFile);
            continue;
        }
        downloader->startDownload();
        for (int step = 1; step <= m_settings.steps; ++step) {
            platform::SleepMs(m_settings.stepMs);
            ShowProgress((step / static_cast<double>(m_settings.steps) * 10.0) / count + (index * 10.0) / count);
        }
        const std::int64_t downloaded = downloader->downloadInfo().downloaded;
        LOG(INFO) << " UrlDownloaded " << index << " " << downloaded;
        if (downloaded > bestCount) {
            bestCount = downloaded;
            bestIndex = index;
        }
        downloader->stopDownload();
        downloader->waitForDriver();
        downloader.reset();  // closes the data file
        RemoveQuietly(dataFile);
        RemoveQuietly(taskFile);
        ShowProgress((index + 1) * 10.0 / count);
        ++index;
    }

    if (bestIndex == -1) {
        LOG(INFO) << " checkRemotePath fail: " << -1;
        return {};
    }
    m_reporter.ReportEvent("DownloaderInfo", "UrlUsed", std::string(1, static_cast<char>('1' + bestIndex)), false);
    LOG(INFO) << " UrlUsed: " << remotePaths[static_cast<std::size_t>(bestIndex)];
    return remotePaths[static_cast<std::size_t>(bestIndex)];
}

void CRemotePathSelector::ShowProgress(double percent) {
    if (m_progress != nullptr) m_progress->ShowSelectionProgress(percent);
}

std::string CRemotePathSelector::UninstallKey() const {
    // The product name must name exactly one key below Uninstall.
    if (m_softwareName.empty() || m_softwareName.find('\\') != std::string::npos) return {};
    return kUninstallRoot + m_softwareName;
}

int CRemotePathSelector::CounterFromText(const std::string& text) {
    int value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9' || value > 100000) break;
        value = value * 10 + (ch - '0');
    }
    return value;
}

int CRemotePathSelector::ReadCounter() const {
    const std::string key = UninstallKey();
    if (key.empty()) return -1;
    const auto text = m_localMachine.GetString(key, kCounterValue);
    return text ? CounterFromText(*text) : -1;
}

bool CRemotePathSelector::isForbidCDN() const { return ReadCounter() >= kForbidThreshold; }

bool CRemotePathSelector::increaseRequestTooMuchTimes() {
    const std::string key = UninstallKey();
    if (key.empty()) return false;
    const int current = ReadCounter();
    int next = current < 1 ? 1 : current + 1;
    if (next > kMaxStoredCount) next = kMaxStoredCount;
    const std::string text(1, static_cast<char>('0' + next));
    return m_localMachine.SetString(key, kCounterValue, text) == platform::RegistryResult::REG_RESULT_OK;
}
