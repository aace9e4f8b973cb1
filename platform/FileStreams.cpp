#include "platform/FileStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

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
