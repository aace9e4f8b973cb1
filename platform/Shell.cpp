#include "platform/Shell.h"

#include <cerrno>
#include <vector>

#include "platform/Process.h"

namespace platform {
namespace {

constexpr std::uint32_t kBusCallTimeoutMs = 5000;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// A GVariant string literal in single quotes.
std::string VariantString(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

std::string ParentFolder(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Runs a chooser; nullopt in `started` when the program is not installed.
std::optional<std::string> RunChooser(const std::vector<std::string>& argv, bool& started) {
    SpawnOptions options;
    options.stdinFromNull = true;  // never wait for keyboard input on a terminal
    options.captureStdout = true;
    SpawnError error;
    auto child = ChildProcess::Start(argv, options, error);
    started = child.has_value();
    if (!child) return std::nullopt;
    std::string out = Trimmed(child->ReadAllStdout(16 * 1024));
    if (child->WaitForever() != ChildProcess::WaitResult::WAIT_EXITED || child->ExitCode() != 0 || out.empty())
        return std::nullopt;
    // Some choosers print more than one line (warnings); the choice is the last one.
    auto nl = out.find_last_of('\n');
    if (nl != std::string::npos) out = out.substr(nl + 1);
    if (out.empty() || out.front() != '/') return std::nullopt;
    return out;
}

}  // namespace

std::string FileUri(const std::string& absolutePath) {
    static const char* kHex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolutePath) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri.push_back(static_cast<char>(c));
        } else {
            uri.push_back('%');
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 15]);
        }
    }
    return uri;
}

bool ShellOpen(const std::string& target) {
    if (target.empty()) return false;
    SpawnError error;
    return StartDetached({"xdg-open", target}, "", error).has_value();
}

bool ShowInFolder(const std::string& path) {
    if (path.empty()) return false;
    SpawnOptions options;
    options.stdinFromNull = true;
    options.captureStdout = true;  // keep the reply off our output
    SpawnError error;
    auto child = ChildProcess::Start({"gdbus", "call", "--session", "--dest", "org.freedesktop.FileManager1",
                                      "--object-path", "/org/freedesktop/FileManager1", "--method",
                                      "org.freedesktop.FileManager1.ShowItems",
                                      "[" + VariantString(FileUri(path)) + "]", "''"},
                                     options, error);
    if (child) {
        auto waited = child->Wait(kBusCallTimeoutMs);
        if (waited == ChildProcess::WaitResult::WAIT_EXITED && child->ExitCode() == 0) return true;
        if (waited == ChildProcess::WaitResult::WAIT_TIMED_OUT) child->Kill();
    }
    return ShellOpen(ParentFolder(path));
}

std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) {
    std::string startFolder = start;
    if (!startFolder.empty() && startFolder.back() != '/') startFolder.push_back('/');
    bool started = false;
    std::vector<std::string> zenity = {"zenity", "--file-selection", "--directory", "--title=" + title};
    if (!startFolder.empty()) zenity.push_back("--filename=" + startFolder);
    auto chosen = RunChooser(zenity, started);
    if (started) return chosen;  // a cancelled zenity is an answer, not a reason to try kdialog
    std::vector<std::string> kdialog = {"kdialog", "--getexistingdirectory", startFolder.empty() ? "." : startFolder,
                                        "--title", title};
    return RunChooser(kdialog, started);
}

}  // namespace platform
