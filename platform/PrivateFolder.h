#pragma once
// Folders only the running user can write. Setup runs as root and starts what it downloads;
// a folder another user can write (or replace, or point elsewhere with a link) would let
// that user choose what root runs. A folder is private when it is a real directory (not a
// link), owned by the effective user, writable by nobody else, and every folder above it
// is owned by root or the user and writable by others only when sticky (so nobody else
// can rename it away and put their own in its place).
//
// All paths returned end in '/'. Stateless; safe from any thread.

#include <optional>
#include <string>
#include <vector>

namespace platform {

class PrivateFolder {
public:
    // Why the existing `path` cannot serve as a private folder: a link, not a directory,
    // another owner, writable by group or others. Empty when it can (or when it is missing).
    static std::string Problem(const std::string& path);

    // Why the folders above and including `path` let another user swap what lies below:
    // a component owned by someone other than root and this user, or writable by others
    // without the sticky bit. Empty when the chain is safe.
    static std::string AncestryProblem(const std::string& path);

    // The folder `name` directly below `base`: made with mode 0700 when missing; when it
    // exists it must pass Problem, and is then narrowed to 0700. The chain of `base` must
    // pass AncestryProblem. nullopt with `why` otherwise; nothing found there is touched.
    static std::optional<std::string> Open(const std::string& base, const std::string& name, std::string& why);

    // A new folder "<name>.XXXXXX" below `base` (mkdtemp, 0700), for when the usual one is
    // taken by someone else. The chain of `base` must be safe.
    static std::optional<std::string> CreateFresh(const std::string& base, const std::string& name, std::string& why);

    // The user's own cache folder for Setup: $XDG_CACHE_HOME/quorvane-setup when set to an
    // absolute path, else /var/cache/quorvane-setup for root, else ~/.cache/quorvane-setup.
    // Created (0700) when missing. nullopt with `why` when it is not private.
    static std::optional<std::string> UserCacheFolder(std::string& why);

    // The download folder named `stem`: <temporaryDirectory>/<stem> when it is private or
    // can be made so; else <cacheFolder>/<stem>; else (only with `allowFresh`) a fresh one
    // below whichever of the two has a safe chain. Each folder refused adds a line to
    // `refused` saying which and why. An empty `cacheFolder` asks UserCacheFolder.
    static std::optional<std::string> ForDownloads(const std::string& temporaryDirectory, const std::string& stem,
                                                   const std::string& cacheFolder, bool allowFresh,
                                                   std::vector<std::string>& refused);
};

}  // namespace platform
