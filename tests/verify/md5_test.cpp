// The digest check of a downloaded installer: its verdicts, the verification record it
// leaves beside the file, its log and console lines, and its memory use on a large file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "src/engine/DownLoadImpl.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using enginetest::LogCapture;
using enginetest::ReadFile;
using enginetest::TempDir;
using enginetest::WriteFile;

constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
constexpr const char* kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";

TEST(CheckMd5Test, VerdictsAndRecordForEachConfiguredDigest) {
    TempDir dir;
    const std::string abc = dir.file("abc.bin");
    WriteFile(abc, "abc");
    struct Case {
        const char* md5;
        const char* extra;
        int result;
    };
    const Case cases[] = {
        {kAbcMd5, "", 1},
        {"", kAbcMd5, 1},
        {"900150983CD24FB0D6963F7D28E17F72", "", 0},  // configured upper case never matches
        {"", "", 0},
        {kEmptyMd5, "00000000000000000000000000000000", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.md5) + "/" + c.extra);
        std::filesystem::remove(abc + ".db");
        EXPECT_EQ(CDownLoadImpl::checkMD5(abc, c.md5, c.extra, "3.2.1"), c.result);
        // The record is written before the comparison, whatever its outcome.
        EXPECT_EQ(ReadFile(abc + ".db"), std::string("3.2.1###") + kAbcMd5);
    }
}

TEST(CheckMd5Test, EmptyFileHashesToTheKnownDigest) {
    TempDir dir;
    const std::string empty = dir.file("empty.exe");
    WriteFile(empty, "");
    WriteFile(empty + ".db", "an older and much longer record that must be truncated");
    EXPECT_EQ(CDownLoadImpl::checkMD5(empty, kEmptyMd5, "", "1.0"), 1);
    EXPECT_EQ(ReadFile(empty + ".db"), std::string("1.0###") + kEmptyMd5);
}

TEST(CheckMd5Test, MultiChunkFileAgreesWithMd5sum) {
    TempDir dir;
    const std::string file = dir.file("big.bin");
    WriteFile(file, enginetest::RandomBytes(3 * CDownLoadImpl::kDigestChunkBytes + 5, 7));
    const std::string sums = dir.file("sums.txt");
    ASSERT_EQ(std::system(("md5sum '" + file + "' > '" + sums + "'").c_str()), 0);
    const std::string expected = ReadFile(sums).substr(0, 32);
    EXPECT_EQ(CDownLoadImpl::checkMD5(file, "x", expected, "9"), 1);
    EXPECT_EQ(ReadFile(file + ".db"), "9###" + expected);
}

TEST(CheckMd5Test, LogLinesNameSizeDigestAndVersion) {
    TempDir dir;
    const std::string pe = dir.file("versioned.exe");
    const std::string make = std::string(QV_SOURCE_DIR) + "/tests/fixtures/pe/make_pe.py";
    ASSERT_EQ(std::system(("python3 '" + make + "' '" + pe + "' --version 4.3.2.1").c_str()), 0);
    const std::string text = dir.file("abc.txt");
    WriteFile(text, "abc");

    LogCapture log;
    CDownLoadImpl::checkMD5(text, "", "", "v");
    EXPECT_TRUE(log.has(" checkMD5 ok1: 3 , 0"));
    EXPECT_TRUE(log.has(" checkMD5 ok2: "));
    EXPECT_TRUE(log.has(" checkMD5 ok3: "));
    EXPECT_TRUE(log.has(" MD5 hash of file " + text + " is " + kAbcMd5));
    EXPECT_TRUE(log.has(" Version of file " + text + " is "));
    CDownLoadImpl::checkMD5(pe, "", "", "v");
    EXPECT_TRUE(log.has(" Version of file " + pe + " is 4.3.2.1"));
}

TEST(CheckMd5Test, UnreadableFilesReturnTheirErrorCode) {
    TempDir dir;
    const std::string missing = dir.file("missing.exe");
    {
        LogCapture log;
        EXPECT_EQ(CDownLoadImpl::checkMD5(missing, kEmptyMd5, "", "1"), 2);
        EXPECT_TRUE(log.has(" [Error] : Error opening file " + missing + " ErrorCode 2"));
    }
    EXPECT_FALSE(std::filesystem::exists(missing + ".db"));

    // Only a regular file is hashed: a directory is refused when it is opened.
    LogCapture log;
    EXPECT_EQ(CDownLoadImpl::checkMD5(dir.path().string(), kEmptyMd5, "", "1"), 21);  // EISDIR
    EXPECT_TRUE(log.has(" [Error] : Error opening file " + dir.path().string() + " ErrorCode 21"));
}

// Resident-set figures of this process from /proc/self/status, in KiB.
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return -1;
}

TEST(CheckMd5Test, TwoGibSparseFileHashesInBoundedMemory) {
    TempDir dir;
    const std::string file = dir.file("sparse.bin");
    { std::ofstream(file, std::ios::binary); }
    std::filesystem::resize_file(file, std::uintmax_t{2} << 30);
    // Reset the peak so that only this check counts ("5" clears VmHWM).
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long before = StatusKiB("VmHWM");
    ASSERT_GT(before, 0);
    // MD5 of 2 GiB of zeros.
    EXPECT_EQ(CDownLoadImpl::checkMD5(file, "a981130cf2b7e09f4686dc273cf7187e", "", "1"), 1);
    const long grown = StatusKiB("VmHWM") - before;
    EXPECT_LT(grown, 64 * 1024) << "peak resident memory grew by " << grown << " KiB";
}

}  // namespace
