#pragma once
// Small helpers shared by the download engine's tests: a reporter that records events,
// a capture of the process log, a temporary folder, whole-file reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ProcessLogger.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "src/telemetry/IEventReporter.h"

namespace enginetest {

inline constexpr std::int64_t MiB = 1048576;  // one task

using qvtest::RecordedEvent;
using qvtest::RecordingReporter;

// Every message of the process logger while an instance lives.
class LogCapture {
public:
    LogCapture() {
        Lines().clear();
        el::Helpers::installLogDispatchCallback<Callback>("enginetest");
    }
    ~LogCapture() { el::Helpers::uninstallLogDispatchCallback<Callback>("enginetest"); }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Lines();
    }
    bool has(const std::string& exact) const { return count(exact) > 0; }
    std::size_t count(const std::string& exact) const {
        auto all = lines();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), exact));
    }
    bool hasPrefix(const std::string& prefix) const {
        for (const auto& line : lines()) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }
    // Index of the first line equal to `exact` at or after `from`, or -1.
    long indexOf(const std::string& exact, long from = 0) const {
        auto all = lines();
        for (long i = from; i < static_cast<long>(all.size()); ++i) {
            if (all[static_cast<std::size_t>(i)] == exact) return i;
        }
        return -1;
    }

private:
    class Callback : public el::LogDispatchCallback {
    protected:
        void handle(const el::LogDispatchData* data) override {
            std::lock_guard<std::mutex> lock(Mutex());
            Lines().push_back(data->logMessage()->message());
        }
    };
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
};

class TempDir : public qvtest::TempFolder {
public:
    TempDir() : TempFolder("qv-engine-") {}
};

using qvtest::ReadFile;
using qvtest::WriteFile;

// Eight bytes from each draw: a byte per draw takes seconds for the tests' files of many MiB.
inline std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::string out(size, '\0');
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t draw = rng();
        std::memcpy(out.data() + i, &draw, 8);
    }
    for (std::uint64_t draw = rng(); i < size; ++i, draw >>= 8) out[i] = static_cast<char>(draw);
    return out;
}

}  // namespace enginetest
