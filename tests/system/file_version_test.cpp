// Reading a file's version must survive any file a user or a download hands us: truncated,
// corrupted or hostile images give "no version", never a crash or a read outside the file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileVersion.h"

namespace fs = std::filesystem;
using platform::FileVersion;
using platform::ParseFileVersion;

namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    // One read: the executables are tens of megabytes and every test process loads them.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return bytes;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

class FileVersionParsing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("qv-filever-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        const std::string out = (dir_ / "v.exe").string();
        const std::string cmd = "python3 '" QV_SOURCE_DIR "/tests/fixtures/pe/make_pe.py' '" + out + "' --version 1.2.3.4";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        pe_ = ReadAll(out);
        elf_ = ReadAll(QV_SETUP_EXE);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static inline fs::path dir_;
    static inline std::vector<std::uint8_t> pe_;
    static inline std::vector<std::uint8_t> elf_;
};

constexpr FileVersion kFixtureVersion{1, 2, 3, 4};

TEST_F(FileVersionParsing, FixtureParsesFromMemoryAndFromDisk) {
    ASSERT_GT(pe_.size(), 0x200u);
    EXPECT_EQ(ParseFileVersion(pe_), kFixtureVersion);
    EXPECT_EQ(platform::ReadFileVersion((dir_ / "v.exe").string()), kFixtureVersion);
    ASSERT_TRUE(ParseFileVersion(elf_).has_value());
}

TEST_F(FileVersionParsing, EveryTruncationGivesNoVersionOrTheRightOne) {
    for (std::size_t n = 0; n < pe_.size(); ++n) {
        auto v = ParseFileVersion(std::span(pe_.data(), n));
        if (v) {
            EXPECT_EQ(*v, kFixtureVersion) << "truncated at " << n;
        }
    }
    // Cut just inside the fixed file information: it cannot be read whole any more.
    EXPECT_FALSE(ParseFileVersion(std::span(pe_.data(), 0x200 + 0xA0 + 40 + 20)).has_value());
}

TEST_F(FileVersionParsing, EverySingleByteCorruptionOfThePeIsSurvived) {
    std::vector<std::uint8_t> image = pe_;
    for (std::size_t i = 0; i < image.size(); ++i) {
        for (std::uint8_t mask : {0xFF, 0x80, 0x01}) {
            image[i] ^= mask;
            (void)ParseFileVersion(image);  // the sanitizers judge this
            image[i] ^= mask;
        }
    }
}

TEST_F(FileVersionParsing, CorruptedElfHeadersAndNotesAreSurvived) {
    std::vector<std::uint8_t> image = elf_;
    auto corruptRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < std::min(to, image.size()); ++i) {
            for (std::uint8_t mask : {0xFF, 0x80}) {
                image[i] ^= mask;
                (void)ParseFileVersion(image);
                image[i] ^= mask;
            }
        }
    };
    corruptRange(0, 1024);  // ELF header and program headers
    std::uint64_t shoff = 0;
    std::memcpy(&shoff, image.data() + 40, 8);
    corruptRange(shoff, shoff + 64 * 16);  // the first section headers
    // Our note itself, found by its name.
    const std::string name("Quorvane\0", 9);
    auto at = std::search(image.begin(), image.end(), name.begin(), name.end());
    ASSERT_NE(at, image.end());
    const std::size_t noteAt = static_cast<std::size_t>(at - image.begin()) - 12;
    corruptRange(noteAt, noteAt + 40);
}

TEST_F(FileVersionParsing, HostileFieldsGiveNoVersion) {
    struct Patch {
        const char* what;
        void (*apply)(std::vector<std::uint8_t>&);
    };
    const Patch patches[] = {
        {"PE header far past the end", [](auto& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }},
        {"PE header overlapping the DOS stub end", [](auto& b) { Put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 2)); }},
        {"65535 sections", [](auto& b) { Put16(b, 0x46, 0xFFFF); }},
        {"optional header claims to be tiny", [](auto& b) { Put16(b, 0x54, 8); }},
        {"unknown optional header magic", [](auto& b) { Put16(b, 0x58, 0x0107); }},
        {"two data directories only", [](auto& b) { Put32(b, 0x58 + 92, 2); }},
        {"resource RVA outside every section", [](auto& b) { Put32(b, 0x58 + 96 + 16, 0x7FFFF000u); }},
        {"section raw data past the end", [](auto& b) { Put32(b, 0x58 + 224 + 20, 0xFFFFFE00u); }},
        {"section raw size wraps", [](auto& b) { Put32(b, 0x58 + 224 + 16, 0xFFFFFFFFu); Put32(b, 0x58 + 224 + 20, 0x10u); }},
        {"root directory with 65535+65535 entries", [](auto& b) { Put16(b, 0x200 + 12, 0xFFFF); Put16(b, 0x200 + 14, 0xFFFF); }},
        {"type entry points at itself as a leaf", [](auto& b) { Put32(b, 0x200 + 16 + 4, 0); }},
        {"version data RVA far away", [](auto& b) { Put32(b, 0x200 + 0x80, 0xFFFFFFF0u); }},
        {"version data size huge", [](auto& b) { Put32(b, 0x200 + 0x84, 0xFFFFFFFFu); }},
        {"version block wLength past its data", [](auto& b) { Put16(b, 0x200 + 0xA0, 0xFFFF); }},
        {"no fixed info value", [](auto& b) { Put16(b, 0x200 + 0xA0 + 2, 0); }},
        {"wrong key", [](auto& b) { b.at(0x200 + 0xA0 + 6) = 'X'; }},
        {"wrong signature", [](auto& b) { Put32(b, 0x200 + 0xA0 + 40, 0xFEEF04BC); }},
    };
    for (const auto& p : patches) {
        std::vector<std::uint8_t> image = pe_;
        p.apply(image);
        EXPECT_FALSE(ParseFileVersion(image).has_value()) << p.what;
    }
}

TEST_F(FileVersionParsing, RandomBytesBehindMagicNumbersGiveNoVersion) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> junk(64 + rng() % 2048);
        for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
        if (round % 2 == 0) {
            junk[0] = 'M';
            junk[1] = 'Z';
            Put32(junk, 0x3C, rng() % 128);
        } else {
            std::memcpy(junk.data(), "\x7F" "ELF", 4);
            junk[4] = static_cast<std::uint8_t>(1 + rng() % 2);
            junk[5] = 1;
        }
        auto v = ParseFileVersion(junk);
        (void)v;
    }
}

TEST_F(FileVersionParsing, SpecialFilesAreNotReadOrWaitedOn) {
    EXPECT_FALSE(platform::ReadFileVersion("/dev/zero").has_value());
    EXPECT_FALSE(platform::ReadFileVersion("/dev/null").has_value());
    // A FIFO without a writer would block a plain open forever.
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    EXPECT_FALSE(platform::ReadFileVersion(fifo).has_value());
}

}  // namespace
