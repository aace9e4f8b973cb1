#include "CDownloadTaskManager.h"

#include <tinyxml2.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>
#include <vector>

#include "CLibcurlTool.h"
#include "log/ProcessLogger.h"
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

void AddChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name, std::int64_t value) {
    tinyxml2::XMLElement* child = doc.NewElement(name);
    child->SetText(value);
    parent->InsertEndChild(child);
}

void AddChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name, std::int32_t value) {
    tinyxml2::XMLElement* child = doc.NewElement(name);
    child->SetText(value);
    parent->InsertEndChild(child);
}

void AddChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name, const std::string& value) {
    tinyxml2::XMLElement* child = doc.NewElement(name);
    child->SetText(value.c_str());
    parent->InsertEndChild(child);
}

}  // namespace

CDownloadTaskManager::CDownloadTaskManager(std::string remoteUrl, std::string localPath, std::string taskFilePath,
                                           IEventReporter& reporter)
    : m_taskFilePath(std::move(taskFilePath)),
      m_remoteUrl(std::move(remoteUrl)),
      m_localPath(std::move(localPath)),
      m_reporter(reporter) {}

std::int64_t CDownloadTaskManager::parseContentLength(const std::string& header) {
    const auto range = header.find("Content-Range:");
    const auto length = header.find("Content-Length:");
    if (range == std::string::npos && length == std::string::npos) return 0;
    std::int64_t size = -1;
    if (range != std::string::npos) {
        const auto server = header.find("Server:");
        const auto count = (server != std::string::npos && server > range) ? server - range : std::string::npos;
        const std::string field = header.substr(range, count);
        const auto slash = field.find('/');
        if (slash != std::string::npos) size = ReadNumber(field, slash + 1);
    } else {
        const auto colon = header.find(':', length);
        size = ReadNumber(header, colon + 1);
    }
    return size < 0 ? 0 : size;
}

std::int64_t CDownloadTaskManager::getContentLength(int& code) {
    code = 0;
    CLibcurlTool tool;
    tool.init();
    std::string header;
    for (int redirects = 0;; ++redirects) {
        code = tool.getHeader(m_remoteUrl, header);
        const auto location = header.find("Location:");
        if (location == std::string::npos) break;
        if (redirects == kMaxRedirects) {
            // A chain that never ends must not be probed for ever.
            LOG(INFO) << " [Error]: more than " << kMaxRedirects << " redirects from " << m_remoteUrl;
            LOG(INFO) << " Get Contentlength = " << 0;
            return 0;
        }
        const auto colon = header.find(':', location);
        const auto begin = colon + 2;
        const auto end = header.find("\r\n", begin);
        const std::string target = begin < header.size() ? header.substr(begin, end == std::string::npos ? std::string::npos : end - begin) : std::string();
        // A relative Location names a resource on the same server.
        m_remoteUrl = CLibcurlTool::resolveUrl(m_remoteUrl, target);
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
        if (checkTaskInfo() == 1) {
            LOG(INFO) << " Load tasks from file success!";
            return ERRORCODE_OK;
        }
        LOG(INFO) << " taskinfo file error";
        resetTasks();
    }
    return generateDownloadTask(flag, label);
}

int CDownloadTaskManager::saveTaskInfo() {
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* root = doc.NewElement("TaskInfo");
    doc.InsertFirstChild(root);
    AddChild(doc, root, "TasksCount", m_tasksCount);
    AddChild(doc, root, "ContentLength", m_contentLength);
    AddChild(doc, root, "DownloadTime", m_downloadTime);
    for (const auto& task : m_tasks) {
        tinyxml2::XMLElement* element = doc.NewElement("Task");
        AddChild(doc, element, "StartPos", task->StartPos);
        AddChild(doc, element, "EndPos", task->EndPos);
        AddChild(doc, element, "DownloadedPos", task->DownloadedPos.load());
        AddChild(doc, element, "RemotePath", task->RemotePath);
        AddChild(doc, element, "LocalPath", task->LocalPath);
        AddChild(doc, element, "TaskStatus", task->TaskStatus.load());
        AddChild(doc, element, "TaskId", task->TaskId);
        AddChild(doc, element, "RequestTimes", task->RequestTimes.load());
        root->InsertEndChild(element);
    }
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    // Replaced as a whole: a crash mid-save leaves the previous file, never a torn one.
    if (!platform::ReplaceFileAtomically(m_taskFilePath, std::string(printer.CStr(), printer.CStrSize() - 1))) {
        LOG(INFO) << " [Error]: cannot write the task file " << m_taskFilePath;
    }
    return 1;
}

int CDownloadTaskManager::readTaskInfo() {
    bool tooLarge = false;
    const auto text = platform::ReadFilePrefix(m_taskFilePath, static_cast<std::size_t>(kMaxTaskFileBytes), &tooLarge);
    if (!text || tooLarge) {
        if (tooLarge) LOG(INFO) << " [Error]: task file too large: more than " << kMaxTaskFileBytes << " bytes";
        return 1;
    }
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text->data(), text->size()) != tinyxml2::XML_SUCCESS) return 1;
    const tinyxml2::XMLElement* root = doc.FirstChildElement();
    if (root == nullptr) return 1;
    const std::size_t maxTasks = static_cast<std::size_t>(kMaxContentLength / DownloadTask::kSize);
    for (const tinyxml2::XMLElement* child = root->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        const std::string name = child->Name();
        if (name == "TasksCount") {
            child->QueryIntText(&m_tasksCount);
        } else if (name == "ContentLength") {
            child->QueryInt64Text(&m_contentLength);
        } else if (name == "DownloadTime") {
            child->QueryInt64Text(&m_downloadTime);
        } else if (name == "Task") {
            if (m_tasks.size() >= maxTasks) {
                // No download we accept has this many tasks: treat the file as unusable.
                LOG(INFO) << " [Error]: task file holds more than " << maxTasks << " tasks";
                resetTasks();
                return 1;
            }
            auto task = std::make_unique<DownloadTask>();
            for (const tinyxml2::XMLElement* field = child->FirstChildElement(); field != nullptr;
                 field = field->NextSiblingElement()) {
                const std::string fieldName = field->Name();
                std::int64_t wide = 0;
                int narrow = 0;
                if (fieldName == "StartPos") {
                    field->QueryInt64Text(&task->StartPos);
                } else if (fieldName == "EndPos") {
                    field->QueryInt64Text(&task->EndPos);
                } else if (fieldName == "DownloadedPos") {
                    if (field->QueryInt64Text(&wide) == tinyxml2::XML_SUCCESS) task->DownloadedPos.store(wide);
                } else if (fieldName == "RemotePath") {
                    if (field->GetText() != nullptr) task->RemotePath = field->GetText();
                } else if (fieldName == "LocalPath") {
                    if (field->GetText() != nullptr) task->LocalPath = field->GetText();
                } else if (fieldName == "TaskStatus") {
                    if (field->QueryIntText(&narrow) == tinyxml2::XML_SUCCESS) task->TaskStatus.store(narrow);
                } else if (fieldName == "TaskId") {
                    field->QueryIntText(&task->TaskId);
                }
            }
            task->RequestTimes.store(0);
            addTask(std::move(task));
        }
    }
    return 1;
}

int CDownloadTaskManager::checkTaskInfo() {
    int code = 0;
    if (getContentLength(code) != m_contentLength) return 2;
    std::int64_t expectedStart = 0;
    for (const auto& task : m_tasks) {
        if (task->StartPos != (static_cast<std::int64_t>(task->TaskId) - 1) * DownloadTask::kSize ||
            task->StartPos != expectedStart) {
            return 3;
        }
        // Positions outside the task's own range would make the workers write over other
        // ranges, and a "finished" task short of its end would leave a hole for good.
        const std::int64_t downloaded = task->DownloadedPos.load();
        const std::int32_t status = task->TaskStatus.load();
        if (task->EndPos < task->StartPos || downloaded < task->StartPos || downloaded > task->EndPos ||
            status < TASK_WAITING || status > TASK_RUNNING || (status == TASK_FINISHED && downloaded != task->EndPos)) {
            return 3;
        }
        expectedStart = task->EndPos + 1;
    }
    return expectedStart == m_contentLength + 1 ? 1 : 3;
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
