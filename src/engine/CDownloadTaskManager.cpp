#include "src/engine/CDownloadTaskManager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>
#include <vector>

#include "src/engine/CLibcurlTool.h"
#include "src/engine/TaskFile.h"
#include "platform/ProcessLogger.h"
#include "platform/FileStreams.h"

namespace {

// Digits after optional blanks, up to the first non-digit; -1 when there are none or
// the value does not fit.
std::int64_t ReadNumber(const std::string& text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return -1;
    std::int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        const int digit = text[pos] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return -1;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

CDownloadTaskManager::CDownloadTaskManager(std::string remoteUrl, std::string localPath, std::string taskFilePath,
                                           IEventReporter& reporter)
    : m_taskFilePath(std::move(taskFilePath)),
      m_remoteUrl(std::move(remoteUrl)),
      m_localPath(std::move(localPath)),
      m_reporter(reporter) {}

std::int64_t CDownloadTaskManager::parseContentLength(const std::string& header) {
    // The size is that of the last response: earlier blocks are the hops of a redirect.
    const auto blocks = CLibcurlTool::responseBlocks(header);
    const std::string_view block = blocks.empty() ? std::string_view(header) : blocks.back();
    std::int64_t size = -1;
    if (const auto range = CLibcurlTool::headerField(block, "Content-Range")) {
        const auto slash = range->find('/');
        if (slash != std::string::npos) size = ReadNumber(*range, slash + 1);
    } else if (const auto length = CLibcurlTool::headerField(block, "Content-Length")) {
        size = ReadNumber(*length, 0);
    }
    return size < 0 ? 0 : size;
}

std::int64_t CDownloadTaskManager::getContentLength(int& code) {
    code = 0;
    CLibcurlTool tool;
    tool.init();
    std::string header;
    int hops = 0;
    for (;;) {
        code = tool.getHeader(m_remoteUrl, header);
        // libcurl follows the redirects itself (a few per probe); each hop's block is in
        // the text. Only a 3xx answer with a Location moves the download: a
        // Content-Location, or a Location on any other status, is not a redirect.
        bool lastRedirects = false;
        for (const std::string_view block : CLibcurlTool::responseBlocks(header)) {
            const long status = CLibcurlTool::headerStatus(block);
            const auto location = CLibcurlTool::headerField(block, "Location");
            lastRedirects = status >= 300 && status <= 399 && location && !location->empty();
            if (!lastRedirects) continue;
            if (++hops > kMaxRedirects) {
                // A chain that never ends must not be probed for ever.
                LOG(INFO) << " [Error]: more than " << kMaxRedirects << " redirects from " << m_remoteUrl;
                LOG(INFO) << " Get Contentlength = " << 0;
                return 0;
            }
            // A relative Location names a resource on the same server.
            m_remoteUrl = CLibcurlTool::resolveUrl(m_remoteUrl, *location);
        }
        // libcurl stopped at its own limit: go on from where it stopped.
        if (!lastRedirects) break;
    }
    std::int64_t size = parseContentLength(header);
    // An error page's length is not the file's size.
    const long status = tool.responseCode();
    if (status >= 300) size = 0;
    if (size > kMaxContentLength) {
        LOG(INFO) << " [Error]: remote size " << size << " exceeds the limit of " << kMaxContentLength;
        size = 0;
    }
    LOG(INFO) << " Get Contentlength = " << size;
    return size;
}

errorcode CDownloadTaskManager::generateDownloadTask(bool /*flag*/, const std::string& label) {
    std::vector<std::string> records;
    std::int64_t size = 0;
    for (int attempt = 1; attempt <= kProbeAttempts; ++attempt) {
        int code = 0;
        size = getContentLength(code);
        if (size > 0) {
            records.emplace_back("Success");
            break;
        }
        records.push_back("error:" + std::to_string(code));
        if (attempt < kProbeAttempts) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    while (records.size() < static_cast<std::size_t>(kProbeAttempts)) records.emplace_back("Null");
    if (!label.empty()) {
        const std::string joined = records[0] + "/" + records[1] + "/" + records[2] + "/" + records[3] + "/" + records[4];
        m_reporter.ReportEvent("GetSize", label, joined, false);
        LOG(INFO) << " GetSize: " << label << ", " << joined;
    }
    if (size <= 0) {
        LOG(INFO) << " [Error]: " << "Get ContentLength Fail, tried 5 times";
        return ERRORCODE_CONTENT_LENGTH;
    }
    m_contentLength = size;
    m_tasksCount = static_cast<std::int32_t>(size / DownloadTask::kSize);
    if (m_tasksCount == 0) m_tasksCount = 1;
    for (std::int32_t k = 1; k <= m_tasksCount; ++k) {
        auto task = std::make_unique<DownloadTask>();
        task->TaskId = k;
        task->StartPos = (k - 1) * DownloadTask::kSize;
        task->DownloadedPos.store(task->StartPos);
        // The last task takes the remainder and ends at the size itself (one past its
        // last byte), so that its DownloadedPos reaches EndPos exactly when it is done.
        task->EndPos = k == m_tasksCount ? size : k * DownloadTask::kSize - 1;
        task->TaskStatus.store(TASK_WAITING);
        task->RemotePath = m_remoteUrl;
        task->LocalPath = m_localPath;
        task->RequestTimes.store(0);
        addTask(std::move(task));
    }
    return ERRORCODE_OK;
}

errorcode CDownloadTaskManager::loadDownloadTask(bool flag, const std::string& label) {
    if (platform::RegularFileExists(m_taskFilePath)) {
        readTaskInfo();
        // A file that cannot be read needs no size probe to be found wanting.
        if (m_readError.empty() && checkTaskInfo() == 1) {
            LOG(INFO) << " Load tasks from file success!";
            return ERRORCODE_OK;
        }
        LOG(INFO) << " taskinfo file error";
        resetTasks();
    }
    return generateDownloadTask(flag, label);
}

int CDownloadTaskManager::saveTaskInfo() {
    TaskFile file;
    file.TasksCount = m_tasksCount;
    file.ContentLength = m_contentLength;
    file.DownloadTime = m_downloadTime;
    file.Tasks.reserve(m_tasks.size());
    for (const auto& task : m_tasks) {
        TaskFile::Task& saved = file.Tasks.emplace_back();
        saved.StartPos = task->StartPos;
        saved.EndPos = task->EndPos.load();
        saved.DownloadedPos = task->DownloadedPos.load();
        saved.RemotePath = task->RemotePath;
        saved.LocalPath = task->LocalPath;
        saved.TaskStatus = task->TaskStatus.load();
        saved.TaskId = task->TaskId;
        saved.RequestTimes = task->RequestTimes.load();
    }
    // Replaced as a whole: a crash mid-save leaves the previous file, never a torn one.
    if (!platform::ReplaceFileAtomically(m_taskFilePath, file.print())) {
        LOG(INFO) << " [Error]: cannot write the task file " << m_taskFilePath;
    }
    return 1;
}

int CDownloadTaskManager::readTaskInfo() {
    m_readError.clear();
    bool tooLarge = false;
    const auto text = platform::ReadFilePrefix(m_taskFilePath, static_cast<std::size_t>(kMaxTaskFileBytes), &tooLarge);
    if (!text) {
        m_readError = "cannot read the task file";
        return 1;
    }
    if (tooLarge) {
        LOG(INFO) << " [Error]: task file too large: more than " << kMaxTaskFileBytes << " bytes";
        m_readError = "task file too large";
        return 1;
    }
    TaskFile file;
    if (!TaskFile::parse(*text, file, m_readError)) {
        LOG(INFO) << " [Error]: task file " << m_taskFilePath << ": " << m_readError;
        return 1;
    }
    m_tasksCount = file.TasksCount;
    m_contentLength = file.ContentLength;
    m_downloadTime = file.DownloadTime;
    for (TaskFile::Task& saved : file.Tasks) {
        auto task = std::make_unique<DownloadTask>();
        task->StartPos = saved.StartPos;
        task->EndPos.store(saved.EndPos);
        task->DownloadedPos.store(saved.DownloadedPos);
        task->RemotePath = std::move(saved.RemotePath);
        task->LocalPath = std::move(saved.LocalPath);
        task->TaskStatus.store(saved.TaskStatus);
        task->TaskId = saved.TaskId;
        // Counts the requests of one run: not carried over.
        task->RequestTimes.store(0);
        addTask(std::move(task));
    }
    return 1;
}

int CDownloadTaskManager::checkTaskInfo() {
    int code = 0;
    // A server that is busy for a moment (a 503, a refused connection) says nothing about
    // the file: ask again, as a fresh download would, before the bytes already saved are
    // given up for a size that only differs because it is unknown.
    std::int64_t probed = 0;
    for (int attempt = 1; attempt <= kProbeAttempts && probed <= 0; ++attempt) {
        if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probed = getContentLength(code);
    }
    if (probed != m_contentLength) return 2;
    // The generated tasks are numbered in file order, one per MiB; the pieces split off
    // running tasks carry the numbers after them and may start anywhere. Every number
    // from 1 to the count appears once, and the ranges chain from 0 to the size.
    const std::int64_t generated = std::max<std::int64_t>(1, m_contentLength / DownloadTask::kSize);
    if (static_cast<std::int64_t>(m_tasks.size()) != m_tasksCount || m_tasksCount < generated) return 3;
    std::vector<bool> seen(m_tasks.size() + 1, false);
    std::int64_t expectedStart = 0;
    for (const auto& task : m_tasks) {
        const std::int32_t id = task->TaskId;
        if (id < 1 || id > m_tasksCount || seen[static_cast<std::size_t>(id)]) return 3;
        seen[static_cast<std::size_t>(id)] = true;
        if ((id <= generated && task->StartPos != (static_cast<std::int64_t>(id) - 1) * DownloadTask::kSize) ||
            task->StartPos != expectedStart) {
            return 3;
        }
        // Positions outside the task's own range would make the workers write over other
        // ranges, and a "finished" task short of its end would leave a hole for good.
        const std::int64_t end = task->EndPos.load();
        const std::int64_t downloaded = task->DownloadedPos.load();
        const std::int32_t status = task->TaskStatus.load();
        if (end < task->StartPos || downloaded < task->StartPos || downloaded > end || status < TASK_WAITING ||
            status > TASK_RUNNING || (status == TASK_FINISHED && downloaded != end)) {
            return 3;
        }
        expectedStart = end + 1;
    }
    if (expectedStart != m_contentLength + 1) return 3;
    // A task file of another download (or one edited to point elsewhere) must not decide
    // where the ranges come from: every range of a resumed download is fetched from where
    // the probe of the URL asked for leads, as a new one would be.
    for (const auto& task : m_tasks) {
        if (task->RemotePath != m_remoteUrl) {
            LOG(INFO) << " [Error]: task " << task->TaskId << " names " << task->RemotePath << ", not " << m_remoteUrl;
            return 4;
        }
    }
    // The bytes the task file counts as written must be in the data file: one that is
    // gone, or was cut short, would otherwise pass for complete with holes of zeros.
    const std::int64_t implied = impliedFileSize();
    std::error_code ec;
    const auto actual = std::filesystem::file_size(m_localPath, ec);
    const std::int64_t have = ec ? 0 : static_cast<std::int64_t>(actual);
    if (have < implied) {
        LOG(INFO) << " [Error]: " << m_localPath << " holds " << have << " bytes, the task file counts " << implied;
        return 5;
    }
    return 1;
}

std::int64_t CDownloadTaskManager::impliedFileSize() const {
    std::int64_t implied = 0;
    for (const auto& task : m_tasks) {
        const std::int64_t end = task->writtenEnd(m_contentLength);
        if (end > task->StartPos) implied = std::max(implied, end);
    }
    return implied;
}

std::int64_t CDownloadTaskManager::writtenBytes() const {
    std::int64_t written = 0;
    for (const auto& task : m_tasks) written += task->writtenEnd(m_contentLength) - task->StartPos;
    return written;
}

std::int64_t CDownloadTaskManager::addDownloadTime(std::int64_t milliseconds) {
    m_downloadTime += milliseconds;
    return m_downloadTime;
}

void CDownloadTaskManager::resetTasks() {
    clearTasks();
    m_downloadTime = 0;
    m_contentLength = 0;
}
