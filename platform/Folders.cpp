#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string TempDirectoryAsReported() {
    std::string dir = EnvOrEmpty("TMPDIR");
    if (dir.empty()) dir = "/tmp";
    return WithTrailingSlash(dir);
}

std::string TempDirectory() {
    std::string reported = TempDirectoryAsReported();
    std::error_code ec;
    fs::path canonical = fs::canonical(reported, ec);
    if (ec) return reported;
    return WithTrailingSlash(canonical.string());
}

std::string HomeFolder() {
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) return home;
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result != nullptr && pw.pw_dir)
        return pw.pw_dir;
    return {};
}

std::string ProgramsFolder() {
    if (::access("/opt", W_OK) == 0) return "/opt";
    return HomeFolder() + "/.local/opt";
}

std::string DesktopFolder() {
    const std::string home = HomeFolder();
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty()) config = home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    int lines = 0;
    while (in && std::getline(in, line) && ++lines < 1000) {
        static constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
        auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
        std::string value = line.substr(start + kKey.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        if (!value.empty() && value.front() == '/') return value;
    }
    return home + "/Desktop";
}

std::optional<std::uint64_t> FreeBytesForUser(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) return std::nullopt;
    p = p.lexically_normal();
    // Walk up to the nearest folder that exists; a directory about to be created lives
    // on the file system of its parent.
    for (int depth = 0; depth < 4096; ++depth) {
        struct statvfs info {};
        if (::statvfs(p.c_str(), &info) == 0) {
            return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
        }
        if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
        fs::path parent = p.parent_path();
        if (parent == p || parent.empty()) return std::nullopt;
        p = parent;
    }
    return std::nullopt;
}

bool CreateDirectories(const std::string& path, std::string* error) {
    if (path.empty()) {
        if (error) *error = "empty path";
        return false;
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    if (DirectoryExists(path)) return true;
    if (error) *error = ec ? ec.message() : "not a directory";
    return false;
}

std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path, std::size_t maxEntries) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    const int dirFd = ::dirfd(dir);
    while (entries.size() < maxEntries) {
        dirent* d = ::readdir(dir);
        if (d == nullptr) break;
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        DirectoryEntry entry;
        entry.name = d->d_name;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
        }
        entry.isDirectory = type == DT_DIR;
        entry.isSymlink = type == DT_LNK;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (mode & S_IRUSR) mode |= S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    return ::chmod(path.c_str(), mode) == 0;
}

}  // namespace platform
