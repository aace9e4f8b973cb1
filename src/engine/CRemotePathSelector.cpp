#include "src/engine/CRemotePathSelector.h"

#include <algorithm>
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
constexpr const char* kKeptName = "temp.kept";

using Spans = std::vector<std::pair<std::int64_t, std::int64_t>>;

void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool IsHttpUrl(const std::string& url) { return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0; }

// The bytes a stopped download has in its file, as sorted, merged [start, end) spans: each
// task's range up to its DownloadedPos, which a worker moves only past bytes that reached
// the file. A position outside its task's range is not believed at all.
Spans WrittenSpans(const CDownloadTaskManager& tasks) {
    const std::int64_t size = tasks.contentLength();
    Spans spans;
    for (const auto& task : tasks.allTasks()) {
        const std::int64_t pos = task->DownloadedPos.load();
        if (task->StartPos < 0 || pos < task->StartPos || pos > task->EndPos) continue;
        const std::int64_t end = task->writtenEnd(size);
        if (end > task->StartPos) spans.emplace_back(task->StartPos, end);
    }
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

// One past the last byte held without a gap from `start` on, at most `end`; `start` when
// the byte at `start` is not held.
std::int64_t HeldFrom(const Spans& spans, std::int64_t start, std::int64_t end) {
    for (const auto& span : spans) {
        if (span.first <= start && start < span.second) return std::min(span.second, end);
    }
    return start;
}

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

CRemotePathSelector::~CRemotePathSelector() { DiscardKept(); }

void CRemotePathSelector::DiscardKept() {
    if (m_kept) RemoveQuietly(m_kept->dataPath);
    m_kept.reset();
}

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
    DiscardKept();
    const bool forbid = isForbidCDN();
    LOG(INFO) << " isForbidCDN: " << (forbid ? 1 : 0);
    bool leftoverRemoved = false;
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
        if (!leftoverRemoved) {
            // Bytes a run that ended before its download kept: nothing says where they came from.
            RemoveQuietly(directory + kKeptName);
            leftoverRemoved = true;
        }
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
        // Bytes a killed run left here (resumed from its task file) say nothing of this
        // location's speed: only what it fetches now counts.
        const std::int64_t resumed = downloader->taskManager().writtenBytes();
        downloader->startDownload();
        for (int step = 1; step <= m_settings.steps; ++step) {
            platform::SleepMs(m_settings.stepMs);
            ShowProgress((step / static_cast<double>(m_settings.steps) * 10.0) / count + (index * 10.0) / count);
        }
        std::int64_t downloaded = downloader->downloadInfo().written - resumed;
        // A file already whole here needs nothing fetched; it still beats a location that
        // gave nothing. (The driver ends by itself only then, and its tasks are ours to read.)
        if (downloaded == 0 && downloader->driverFinished() && downloader->taskManager().allTasksFinished()) {
            downloaded = 1;
        }
        LOG(INFO) << " UrlDownloaded " << index << " " << downloaded;
        const bool best = downloaded > bestCount;
        if (best) {
            bestCount = downloaded;
            bestIndex = index;
        }
        downloader->stopDownload();
        downloader->waitForDriver();
        // The workers have ended: what the tasks count as written is in the file.
        KeptBytes kept;
        if (best) {
            kept.location = url;
            kept.remoteUrl = downloader->taskManager().remoteUrl();
            kept.contentLength = downloader->taskManager().contentLength();
            kept.elapsedMs = downloader->downloadInfo().elapsed;
            kept.spans = WrittenSpans(downloader->taskManager());
            kept.dataPath = directory + kKeptName;
        }
        downloader.reset();  // closes the data file
        RemoveQuietly(taskFile);
        if (best) {
            // The earlier best is beaten: only the leader's bytes are kept.
            DiscardKept();
            std::error_code ec;
            if (!kept.spans.empty()) std::filesystem::rename(dataFile, kept.dataPath, ec);
            if (!kept.spans.empty() && !ec) m_kept = std::move(kept);
        }
        RemoveQuietly(dataFile);
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

std::int64_t CRemotePathSelector::adoptSpeedTestBytes(const std::string& location, const std::string& localPath,
                                                      const std::string& taskFilePath) {
    if (!m_kept) return 0;
    KeptBytes kept = std::move(*m_kept);
    m_kept.reset();
    // Whatever is not handed over goes.
    struct Discard {
        std::string path;
        ~Discard() {
            if (!path.empty()) RemoveQuietly(path);
        }
    } discard{kept.dataPath};

    // A loser's bytes, or the winner's for a download from elsewhere, are never used.
    if (kept.location != location) return 0;
    std::error_code ec;
    // A file already there (one its verification record vouches for) is not replaced.
    if (std::filesystem::symlink_status(localPath, ec).type() != std::filesystem::file_type::not_found) return 0;
    const auto keptStatus = std::filesystem::symlink_status(kept.dataPath, ec);
    const auto keptSize = ec ? 0 : std::filesystem::file_size(kept.dataPath, ec);
    if (ec || keptStatus.type() != std::filesystem::file_type::regular ||
        static_cast<std::int64_t>(keptSize) < kept.spans.back().second) {
        LOG(INFO) << " [Error]: the speed test's bytes are not all in " << kept.dataPath;
        return 0;
    }

    // Tasks as a new download would have them, from a size probe of now: the bytes count
    // only when the location still leads to the same URL and a file of the same size.
    CDownloadTaskManager tasks(location, localPath, taskFilePath, m_reporter);
    if (tasks.generateDownloadTask(false, std::string()) != ERRORCODE_OK) return 0;
    const std::int64_t size = tasks.contentLength();
    if (size != kept.contentLength || tasks.remoteUrl() != kept.remoteUrl) {
        LOG(INFO) << " [Error]: " << location << " now leads to " << tasks.remoteUrl() << " (" << size
                  << " bytes), its speed test to " << kept.remoteUrl << " (" << kept.contentLength
                  << " bytes): the speed test's bytes are not used";
        return 0;
    }
    std::int64_t adopted = 0;
    for (const auto& task : tasks.allTasks()) {
        const std::int64_t end = std::min(task->EndPos + 1, size);  // one past the task's last byte
        const std::int64_t held = HeldFrom(kept.spans, task->StartPos, end);
        if (held >= end) {
            task->DownloadedPos.store(task->EndPos);
            task->TaskStatus.store(TASK_FINISHED);
            adopted += end - task->StartPos;
        } else {
            // DownloadedPos == EndPos reads as finished: a task one byte short of its end
            // fetches that byte again.
            const std::int64_t pos = std::min(held, task->EndPos - 1);
            if (pos > task->StartPos) {
                task->DownloadedPos.store(pos);
                adopted += pos - task->StartPos;
            }
        }
    }
    if (adopted == 0) return 0;
    std::filesystem::rename(kept.dataPath, localPath, ec);
    if (ec) {
        LOG(INFO) << " [Error]: cannot move the speed test's bytes to " << localPath << ": " << ec.message();
        return 0;
    }
    discard.path.clear();
    // The bytes took the speed test's time: the download's average speed counts both.
    tasks.addDownloadTime(kept.elapsedMs);
    tasks.saveTaskInfo();
    LOG(INFO) << " Speed test bytes kept for the download: " << adopted << " of " << size;
    return adopted;
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
