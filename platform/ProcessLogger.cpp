#include "platform/ProcessLogger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/FileStreams.h"

INITIALIZE_EASYLOGGINGPP

namespace qvlog {
namespace {

constexpr const char* kFormat = "%datetime--[Thread](%thread) %msg";
std::atomic<bool> g_consoleDiagnostics{false};

el::Configurations BaseConfiguration(bool toStandardOutput) {
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::Format, kFormat);
    conf.setGlobally(el::ConfigurationType::Enabled, "true");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput, toStandardOutput ? "true" : "false");
    conf.setGlobally(el::ConfigurationType::ToFile, "false");
    // Only Info is used; everything below it stays quiet.
    conf.set(el::Level::Debug, el::ConfigurationType::Enabled, "false");
    conf.set(el::Level::Trace, el::ConfigurationType::Enabled, "false");
    conf.set(el::Level::Verbose, el::ConfigurationType::Enabled, "false");
    return conf;
}

}  // namespace

void InitDefaultLogger(bool toStandardOutput) {
    el::Loggers::reconfigureLogger("default", BaseConfiguration(toStandardOutput));
}

bool ConfigureLogFile(const std::string& path, bool toStandardOutput) {
    // The log lives beside the download: a link planted under its name would have every
    // line appended to a file of someone else's choosing. Only a regular file is used.
    if (!platform::PrepareAppendFile(path)) return false;
    el::Configurations conf = BaseConfiguration(toStandardOutput);
    conf.setGlobally(el::ConfigurationType::ToFile, "true");
    conf.setGlobally(el::ConfigurationType::Filename, path);
    el::Loggers::reconfigureLogger("default", conf);
    return true;
}

void SetConsoleDiagnostics(bool enabled) { g_consoleDiagnostics = enabled; }
bool ConsoleDiagnosticsEnabled() { return g_consoleDiagnostics; }

void ConsoleLine(const char* format, ...) {
    if (!g_consoleDiagnostics) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace qvlog
