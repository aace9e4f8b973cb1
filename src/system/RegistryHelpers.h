#pragma once
// Registry reads and writes of the system's own values (the first-run marker, the
// product's uninstall values, pending renames, the .NET version), on the registry store.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryStore.h"

namespace FuntionImpl {

// The fixed-size readers offer a buffer of 260 bytes: 129 characters and the terminating zero.
inline constexpr std::size_t kRegistryStringMaxChars = 129;

// The named REG_SZ value of `keyPath`. Empty text on any failure: key or value missing,
// a value of another type, or a text longer than kRegistryStringMaxChars characters
// (code points). A longer text does not fit the buffer, so nothing is returned rather
// than a cut-off text: a shortened identifier or marker would be a wrong one.
std::string ReadRegistryString(platform::RegistryHive root, std::string_view keyPath, std::string_view valueName);

// The same read under the same bound, telling a missing or unreadable value (nullopt)
// from an empty text.
std::optional<std::string> ReadRegistryStringValue(platform::RegistryHive root, std::string_view keyPath,
                                                   std::string_view valueName);

// Creates the key with its missing parents and sets the value as REG_SZ; true on success.
bool WriteRegistryString(platform::RegistryHive root, std::string_view keyPath, std::string_view valueName,
                         std::string_view text);

// The named REG_MULTI_SZ value with every element, empty ones included (a reader that
// stops at the first empty string does so itself); nullopt when missing or of another type.
std::optional<std::vector<std::string>> ReadRegistryMultiString(platform::RegistryHive root,
                                                                std::string_view keyPath,
                                                                std::string_view valueName);

// Sends the registry store's diagnostics (a corrupt hive file and the copy kept of it, a
// refused or failed update) to the process log. Done at start-up in every program that
// links these helpers, and again by each helper; call it after replacing the reporter.
void RouteRegistryReportsToLog();

}  // namespace FuntionImpl
