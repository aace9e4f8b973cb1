#include "src/engine/TaskFile.h"

#include <tinyxml2.h>

#include <limits>
#include <utility>

namespace {

using tinyxml2::XMLElement;

void AddChild(tinyxml2::XMLDocument& doc, XMLElement* parent, const char* name, std::int64_t value) {
    XMLElement* child = doc.NewElement(name);
    child->SetText(value);
    parent->InsertEndChild(child);
}

void AddChild(tinyxml2::XMLDocument& doc, XMLElement* parent, const char* name, std::int32_t value) {
    XMLElement* child = doc.NewElement(name);
    child->SetText(value);
    parent->InsertEndChild(child);
}

void AddChild(tinyxml2::XMLDocument& doc, XMLElement* parent, const char* name, const std::string& value) {
    XMLElement* child = doc.NewElement(name);
    child->SetText(value.c_str());
    parent->InsertEndChild(child);
}

// A value as an error message shows it: quoted, and cut when long.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    out.append(text.substr(0, kShown));
    if (text.size() > kShown) out += "...";
    return out + "\"";
}

std::string Tag(const char* name) { return std::string("<") + name + ">"; }

// Walks the child elements of one element in order, saying what it found instead of
// what was expected.
class Children {
public:
    Children(const XMLElement& parent, std::string parentLabel)
        : m_next(parent.FirstChildElement()), m_parentLabel(std::move(parentLabel)) {}

    // The next child, when it is named `name`; else null with `error` set.
    const XMLElement* take(const char* name, const std::string& expected, std::string& error) {
        const XMLElement* child = m_next;
        if (child == nullptr || std::string_view(child->Name()) != name) {
            error = "expected " + expected + ", found " + found();
            return nullptr;
        }
        m_next = child->NextSiblingElement();
        return child;
    }
    // What stands where the next child is expected.
    std::string found() const {
        return m_next != nullptr ? Tag(m_next->Name()) : "the end of " + m_parentLabel;
    }
    bool atEnd() const { return m_next == nullptr; }

private:
    const XMLElement* m_next;
    std::string m_parentLabel;
};

// The text of an element that holds nothing else; false (with `error`) when it holds an element.
bool PlainText(const XMLElement& element, const std::string& expected, std::string_view& text, std::string& error) {
    if (const XMLElement* inner = element.FirstChildElement()) {
        error = "expected " + expected + ", found " + Tag(inner->Name()) + " inside it";
        return false;
    }
    const char* value = element.GetText();
    text = value != nullptr ? std::string_view(value) : std::string_view();
    return true;
}

// An optional '-' and decimal digits, nothing else, within [low, high].
bool ParseDecimal(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return false;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (magnitude > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? -magnitude : magnitude;
    return value >= low && value <= high;
}

// `kind` and `note` describe the value in the message: "a decimal <TasksCount> from 0 to 9".
bool ReadNumber(Children& children, const char* name, const std::string& where, std::int64_t low,
                std::int64_t high, const std::string& kind, const std::string& note, std::int64_t& value,
                std::string& error) {
    const XMLElement* element = children.take(name, Tag(name) + where, error);
    if (element == nullptr) return false;
    const std::string expected = kind + " " + Tag(name) + where + note;
    std::string_view text;
    if (!PlainText(*element, expected, text, error)) return false;
    if (!ParseDecimal(text, low, high, value)) {
        error = "expected " + expected + ", found " + Quoted(text);
        return false;
    }
    return true;
}

bool Read64(Children& children, const char* name, const std::string& where, std::int64_t& value,
            std::string& error) {
    return ReadNumber(children, name, where, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max(), "a decimal", "", value, error);
}

bool Read32(Children& children, const char* name, const std::string& where, std::int32_t& value,
            std::string& error) {
    std::int64_t wide = 0;
    if (!ReadNumber(children, name, where, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), "a 32-bit decimal", "", wide, error)) {
        return false;
    }
    value = static_cast<std::int32_t>(wide);
    return true;
}

bool ReadText(Children& children, const char* name, const std::string& where, std::string& value,
              std::string& error) {
    const XMLElement* element = children.take(name, Tag(name) + where, error);
    if (element == nullptr) return false;
    std::string_view text;
    if (!PlainText(*element, "text in " + Tag(name) + where, text, error)) return false;
    if (text.size() > TaskFile::kMaxTextBytes) {
        error = "expected at most " + std::to_string(TaskFile::kMaxTextBytes) + " bytes in " + Tag(name) + where +
                ", found " + std::to_string(text.size());
        return false;
    }
    value.assign(text);
    return true;
}

bool ReadTask(const XMLElement& element, std::int32_t index, TaskFile::Task& task, std::string& error) {
    const std::string where = " in <Task> " + std::to_string(index);
    Children fields(element, "<Task> " + std::to_string(index));
    if (!Read64(fields, "StartPos", where, task.StartPos, error) ||
        !Read64(fields, "EndPos", where, task.EndPos, error) ||
        !Read64(fields, "DownloadedPos", where, task.DownloadedPos, error) ||
        !ReadText(fields, "RemotePath", where, task.RemotePath, error) ||
        !ReadText(fields, "LocalPath", where, task.LocalPath, error) ||
        !Read32(fields, "TaskStatus", where, task.TaskStatus, error) ||
        !Read32(fields, "TaskId", where, task.TaskId, error) ||
        !Read32(fields, "RequestTimes", where, task.RequestTimes, error)) {
        return false;
    }
    if (!fields.atEnd()) {
        error = "expected the end of <Task> " + std::to_string(index) + " after <RequestTimes>, found " + fields.found();
        return false;
    }
    return true;
}

}  // namespace

std::string TaskFile::print() const {
    tinyxml2::XMLDocument doc;
    XMLElement* root = doc.NewElement("TaskInfo");
    doc.InsertFirstChild(root);
    AddChild(doc, root, "TasksCount", TasksCount);
    AddChild(doc, root, "ContentLength", ContentLength);
    AddChild(doc, root, "DownloadTime", DownloadTime);
    for (const Task& task : Tasks) {
        XMLElement* element = doc.NewElement("Task");
        AddChild(doc, element, "StartPos", task.StartPos);
        AddChild(doc, element, "EndPos", task.EndPos);
        AddChild(doc, element, "DownloadedPos", task.DownloadedPos);
        AddChild(doc, element, "RemotePath", task.RemotePath);
        AddChild(doc, element, "LocalPath", task.LocalPath);
        AddChild(doc, element, "TaskStatus", task.TaskStatus);
        AddChild(doc, element, "TaskId", task.TaskId);
        AddChild(doc, element, "RequestTimes", task.RequestTimes);
        root->InsertEndChild(element);
    }
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

bool TaskFile::parse(std::string_view text, TaskFile& out, std::string& error) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        error = std::string("expected well-formed XML, found ") + doc.ErrorName() + " at line " +
                std::to_string(doc.ErrorLineNum());
        return false;
    }
    const XMLElement* root = doc.FirstChildElement();
    if (root == nullptr || std::string_view(root->Name()) != "TaskInfo") {
        error = "expected <TaskInfo>, found " + (root != nullptr ? Tag(root->Name()) : std::string("no element"));
        return false;
    }
    if (const XMLElement* second = root->NextSiblingElement()) {
        error = "expected the end of the file after <TaskInfo>, found " + Tag(second->Name());
        return false;
    }

    TaskFile file;
    Children children(*root, "<TaskInfo>");
    std::int64_t count = 0;
    if (!ReadNumber(children, "TasksCount", "", 0, kMaxTasks, "a decimal", " from 0 to " + std::to_string(kMaxTasks),
                    count, error) ||
        !Read64(children, "ContentLength", "", file.ContentLength, error) ||
        !Read64(children, "DownloadTime", "", file.DownloadTime, error)) {
        return false;
    }
    file.TasksCount = static_cast<std::int32_t>(count);
    file.Tasks.reserve(static_cast<std::size_t>(count));
    for (std::int32_t index = 1; index <= file.TasksCount; ++index) {
        const XMLElement* element =
            children.take("Task", "<Task> " + std::to_string(index) + " of " + std::to_string(count), error);
        if (element == nullptr) return false;
        Task task;
        if (!ReadTask(*element, index, task, error)) return false;
        file.Tasks.push_back(std::move(task));
    }
    if (!children.atEnd()) {
        error = "expected the end of <TaskInfo> after " + std::to_string(count) + " tasks, found " + children.found();
        return false;
    }
    out = std::move(file);
    return true;
}
