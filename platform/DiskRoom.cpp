#include "platform/DiskRoom.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include <csignal>
#include <limits>
#include <mutex>

namespace platform {

std::int64_t AvailableBytes(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return -1;
    const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    const auto max = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(bytes > max ? max : bytes);
}

std::int64_t FileSizeLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<std::int64_t>::max();
    }
    const auto max = static_cast<rlim_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(limit.rlim_cur > max ? max : limit.rlim_cur);
}

void IgnoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace platform
