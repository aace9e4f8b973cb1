#include "platform/FileStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

// Opens `path` without following a link there; the result must be a regular file.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Regular files only, so opening never blocks on a FIFO put where a file was expected.
int OpenRegularNonBlocking(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = OpenRegular(path, flags | O_NONBLOCK, mode);
    if (fd < 0) return -1;
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

std::FILE* StreamFor(int fd, const char* mode) {
    if (fd < 0) return nullptr;
    std::FILE* stream = ::fdopen(fd, mode);
    if (stream == nullptr) ::close(fd);
    return stream;
}

}  // namespace

bool SeekStream(std::FILE* stream, std::int64_t offset) {
    static_assert(sizeof(off_t) >= 8, "the engine needs 64-bit file offsets");
    if (stream == nullptr || offset < 0) return false;
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& contents) {
    std::vector<char> name(path.begin(), path.end());
    const std::string suffix = ".tmp.XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    const char* data = contents.data();
    std::size_t left = contents.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    // The rename must not become visible before the data it names.
    if (ok) ok = fsync(fd) == 0;
    // mkstemp creates 0600; the file it replaces is an ordinary user file.
    if (ok) ok = fchmod(fd, 0644) == 0;
    if (close(fd) != 0) ok = false;
    if (ok) ok = rename(name.data(), path.c_str()) == 0;
    if (!ok) unlink(name.data());
    return ok;
}

}  // namespace platform

namespace platform {

std::FILE* OpenForReading(const std::string& path) {
    return StreamFor(OpenRegularNonBlocking(path, O_RDONLY), "rb");
}

std::FILE* OpenForUpdate(const std::string& path) {
    int fd = OpenRegularNonBlocking(path, O_RDWR);
    if (fd < 0 && errno == EACCES) {
        // A verified installer is left read-only; a later run may resume into it again.
        const int readOnly = OpenRegularNonBlocking(path, O_RDONLY);
        if (readOnly >= 0) {
            struct stat st {};
            if (::fstat(readOnly, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(readOnly, (st.st_mode & 07777) | S_IWUSR);
            ::close(readOnly);
            fd = OpenRegularNonBlocking(path, O_RDWR);
        }
    }
    if (fd < 0 && errno == ENOENT) fd = OpenRegular(path, O_RDWR | O_CREAT | O_EXCL, 0666);
    return StreamFor(fd, "rb+");
}

std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t maxBytes, bool* truncated) {
    const int fd = OpenRegularNonBlocking(path, O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    bool more = false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        const std::size_t room = maxBytes - bytes.size();
        if (static_cast<std::size_t>(n) > room) {
            bytes.append(buffer, room);
            more = true;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (truncated != nullptr) *truncated = more;
    return bytes;
}

bool PrepareAppendFile(const std::string& path) {
    const int fd = OpenRegularNonBlocking(path, O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::FILE* OpenForAppending(const std::string& path) {
    return StreamFor(OpenRegularNonBlocking(path, O_WRONLY | O_APPEND | O_CREAT, 0600), "a");
}

bool RegularFileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.inode = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::int64_t>(st.st_size);
    identity.mtimeSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    identity.mtimeNanoseconds = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return identity;
}

bool MakeReadOnly(const std::string& path) {
    const int fd = OpenRegularNonBlocking(path, O_RDONLY);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, 0500) == 0;
    ::close(fd);
    return ok;
}

}  // namespace platform
