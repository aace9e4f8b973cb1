#include "src/system/RegistryHelpers.h"

#include "platform/ProcessLogger.h"
#include "platform/RegistryHiveText.h"

namespace FuntionImpl {

void RouteRegistryReportsToLog() {
    platform::SetRegistryReporter([](const std::string& message) { LOG(INFO) << message; });
}

namespace {
// Any program linking these helpers gets the store's reports in its log from the start,
// also for reads made on platform::RegistryStore directly.
const bool kReportsRouted = (RouteRegistryReportsToLog(), true);
}  // namespace

std::optional<std::string> ReadRegistryStringValue(platform::RegistryHive root, std::string_view keyPath,
                                                   std::string_view valueName) {
    RouteRegistryReportsToLog();
    auto text = platform::RegistryStore(root).GetString(keyPath, valueName);
    if (!text || platform::CountCodePoints(*text) > kRegistryStringMaxChars) return std::nullopt;
    return text;
}

std::string ReadRegistryString(platform::RegistryHive root, std::string_view keyPath, std::string_view valueName) {
    return ReadRegistryStringValue(root, keyPath, valueName).value_or(std::string());
}

bool WriteRegistryString(platform::RegistryHive root, std::string_view keyPath, std::string_view valueName,
                         std::string_view text) {
    RouteRegistryReportsToLog();
    return platform::RegistryStore(root).SetString(keyPath, valueName, text) ==
           platform::RegistryResult::REG_RESULT_OK;
}

std::optional<std::vector<std::string>> ReadRegistryMultiString(platform::RegistryHive root,
                                                                std::string_view keyPath,
                                                                std::string_view valueName) {
    RouteRegistryReportsToLog();
    return platform::RegistryStore(root).GetMultiString(keyPath, valueName);
}

}  // namespace FuntionImpl
