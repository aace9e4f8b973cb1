#include "src/wizard/PipelineTestHooks.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/SystemFacts.h"

namespace {

// A positive number of milliseconds up to ten minutes; anything else is no hook.
std::optional<std::uint32_t> TestMilliseconds(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    std::uint32_t value = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value == 0 || value > 600000) return std::nullopt;
    return value;
}

}  // namespace

InstallPipelineOptions PipelineOptionsFromTestHooks() {
    InstallPipelineOptions options;
    if (auto stall = TestMilliseconds("QV_TEST_STALL_LIMIT_MS")) {
        options.download.stallLimitMs = *stall;
        if (options.download.noSpeedEventMs > *stall) options.download.noSpeedEventMs = *stall;
    }
    if (auto wait = TestMilliseconds("QV_TEST_INSTALLER_WAIT_MS")) {
        options.installerWait.waitMs = *wait;
        options.installerWait.pauseMs = *wait;
    }
    if (auto step = TestMilliseconds("QV_TEST_SPEED_STEP_MS")) options.speedTest.stepMs = *step;
    if (const char* file = std::getenv("QV_TEST_NETWORK_DOWN_FILE"); file != nullptr && *file != '\0') {
        options.networkAlive = [marker = std::string(file)] {
            std::error_code ignored;
            return !std::filesystem::exists(marker, ignored) && platform::IsNetworkAlive();
        };
    }
    return options;
}
