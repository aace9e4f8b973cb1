#include "src/telemetry/WriteErrorLog.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/SystemFacts.h"

namespace {

// Fixed storage that is never destroyed: the analytics thread may still write while static
// destructors run at exit.
constexpr std::size_t kMaxPath = 260;
char g_logPath[kMaxPath] = {};
std::once_flag g_pathOnce;
// Keeps entries of concurrent writers whole (std::mutex needs no destruction).
std::mutex g_writeMutex;

void ComputePath() {
    std::string exe = platform::CurrentExecutablePath();
    std::string::size_type slash = exe.rfind('/');
    if (slash == std::string::npos) return;
    std::string path = exe.substr(0, slash + 1) + "Logs/" + ".log";
    if (path.size() >= kMaxPath) return;
    path.copy(g_logPath, path.size());
    g_logPath[path.size()] = '\0';
}

}  // namespace

void WriteErrorLog(const char* format, ...) {
    std::call_once(g_pathOnce, ComputePath);
    if (g_logPath[0] == '\0') return;
    std::lock_guard<std::mutex> hold(g_writeMutex);
    std::FILE* file = std::fopen(g_logPath, "ab+");
    if (file == nullptr) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::fprintf(file, "[%u/%u/%u-%u:%u:%u] ", static_cast<unsigned>(local.tm_year + 1900),
                 static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                 static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                 static_cast<unsigned>(local.tm_sec));
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fclose(file);
}
