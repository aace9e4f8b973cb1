#include "platform/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Folders.h"

namespace platform {
namespace {

constexpr const char* kCacheFolderName = "quorvane-setup";

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Octal(unsigned mode) {
    char text[16];
    std::snprintf(text, sizeof text, "%04o", mode & 07777u);
    return text;
}

// Narrows an existing private folder to 0700 without following a link put in its place.
void NarrowToOwner(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, 0700);
    ::close(fd);
}

}  // namespace

std::string PrivateFolder::Problem(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? std::string() : std::strerror(errno);
    if (S_ISLNK(st.st_mode)) return "is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return "is not a directory";
    if (st.st_uid != ::geteuid()) return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "is writable by group or others (mode " + Octal(st.st_mode) + ")";
    return {};
}

std::string PrivateFolder::AncestryProblem(const std::string& path) {
    char resolved[PATH_MAX];
    if (path.empty() || ::realpath(path.c_str(), resolved) == nullptr) {
        return "cannot be resolved: " + std::string(path.empty() ? "empty path" : std::strerror(errno));
    }
    const std::string real = resolved;
    const uid_t self = ::geteuid();
    // "/", then each longer prefix up to the folder itself.
    std::size_t end = 0;
    for (int depth = 0; depth < 4096; ++depth) {
        const std::string component = end == 0 ? std::string("/") : real.substr(0, end);
        struct stat st {};
        if (::lstat(component.c_str(), &st) != 0) return component + ": " + std::strerror(errno);
        if (!S_ISDIR(st.st_mode)) return component + " is not a directory";
        if (st.st_uid != 0 && st.st_uid != self) {
            return component + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        }
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
            return component + " is writable by others without the sticky bit (mode " + Octal(st.st_mode) + ")";
        }
        if (end == real.size()) return {};
        end = real.find('/', end + 1);
        if (end == std::string::npos) end = real.size();
    }
    return "too deep";
}

std::optional<std::string> PrivateFolder::Open(const std::string& base, const std::string& name, std::string& why) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        why = "unusable folder name '" + name + "'";
        return std::nullopt;
    }
    const std::string parent = WithoutTrailingSlash(base);
    if (std::string problem = AncestryProblem(parent); !problem.empty()) {
        why = parent + ": " + problem;
        return std::nullopt;
    }
    const std::string path = (parent == "/" ? std::string() : parent) + "/" + name;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        why = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // Whether made just now or found, it is checked the same way: another user may have
    // been quicker.
    if (std::string problem = Problem(path); !problem.empty()) {
        why = path + " " + problem;
        return std::nullopt;
    }
    NarrowToOwner(path);
    return path + "/";
}

std::optional<std::string> PrivateFolder::CreateFresh(const std::string& base, const std::string& name,
                                                      std::string& why) {
    const std::string parent = WithoutTrailingSlash(base);
    if (std::string problem = AncestryProblem(parent); !problem.empty()) {
        why = parent + ": " + problem;
        return std::nullopt;
    }
    std::string pattern = (parent == "/" ? std::string() : parent) + "/" + name + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        why = pattern + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return pattern + "/";
}

std::optional<std::string> PrivateFolder::UserCacheFolder(std::string& why) {
    std::string parent;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        parent = xdg;
    } else if (::geteuid() == 0) {
        parent = "/var/cache";
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) {
            why = "no home folder";
            return std::nullopt;
        }
        parent = home + "/.cache";
    }
    CreateDirectories(parent);
    return Open(parent, kCacheFolderName, why);
}

std::optional<std::string> PrivateFolder::ForDownloads(const std::string& temporaryDirectory, const std::string& stem,
                                                       const std::string& cacheFolder, bool allowFresh,
                                                       std::vector<std::string>& refused) {
    std::string why;
    if (!temporaryDirectory.empty()) {
        if (auto folder = Open(temporaryDirectory, stem, why)) return folder;
        refused.push_back(why);
    }
    std::string cache = cacheFolder;
    if (cache.empty()) {
        why.clear();
        if (auto own = UserCacheFolder(why)) cache = *own;
        else refused.push_back("cache folder: " + why);
    }
    if (!cache.empty()) {
        why.clear();
        if (auto folder = Open(cache, stem, why)) return folder;
        refused.push_back(why);
    }
    if (!allowFresh) return std::nullopt;
    for (const std::string& base : {temporaryDirectory, cache}) {
        if (base.empty()) continue;
        why.clear();
        if (auto folder = CreateFresh(base, stem, why)) return folder;
        refused.push_back(why);
    }
    return std::nullopt;
}

}  // namespace platform
