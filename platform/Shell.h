#pragma once
// The desktop's shell: opening a document or address with its default application,
// showing a file in the file manager, and letting the user pick a folder.

#include <optional>
#include <string>

namespace platform {

// Opens `target` (a web address or a path) with xdg-open, not waited for. False when
// xdg-open cannot be started; what the opened application does is not examined.
bool ShellOpen(const std::string& target);

// Shows the file manager with `path` selected: the FileManager1 ShowItems call over the
// session bus (gdbus, bounded to a few seconds), else xdg-open of the folder holding it.
bool ShowInFolder(const std::string& path);

// A folder chooser: zenity, else kdialog. Blocks the calling thread until the user closes
// it. nullopt when the user cancels or no chooser is installed. `start` is the folder the
// chooser opens in (may be empty).
std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start);

// "file://" URI for an absolute path, percent-encoding everything outside the unreserved
// set and '/'.
std::string FileUri(const std::string& absolutePath);

}  // namespace platform
