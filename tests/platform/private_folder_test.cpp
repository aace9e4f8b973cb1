// The folder Setup downloads into and starts the installer from: what makes one private,
// where Setup goes when the usual one is taken, the lock that keeps two runs apart, and
// the opens that never follow a link planted in it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileStreams.h"
#include "platform/FolderLock.h"
#include "platform/PrivateFolder.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using platform::PrivateFolder;

constexpr uid_t kNobody = 65534;

using qvtest::ReadFile;
using qvtest::WriteFile;

unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777u) : 0u;
}

class PrivateFolderTest : public ::testing::Test {
protected:
    void SetUp() override { ::chmod(root_.c_str(), 0755); }
    qvtest::TempFolder folder_{"qv_private_"};
    const fs::path& root_ = folder_.path();
};

TEST_F(PrivateFolderTest, OnlyARealDirectoryOfThisUserWritableByNobodyElseIsUsed) {
    fs::create_directories(root_ / "own755");
    ::chmod((root_ / "own755").c_str(), 0755);
    fs::create_directories(root_ / "own777");
    ::chmod((root_ / "own777").c_str(), 0777);
    fs::create_directories(root_ / "own770");
    ::chmod((root_ / "own770").c_str(), 0770);
    fs::create_directories(root_ / "elsewhere");
    fs::create_directory_symlink(root_ / "elsewhere", root_ / "link");
    WriteFile(root_ / "file", "x");

    struct Case {
        const char* name;
        const char* refusal;  // empty: used
    } cases[] = {
        {"missing", ""},
        {"own755", ""},
        {"own777", "writable by group or others (mode 0777)"},
        {"own770", "writable by group or others (mode 0770)"},
        {"link", "is a symbolic link"},
        {"file", "is not a directory"},
    };
    for (const Case& c : cases) {
        std::string why;
        const auto folder = PrivateFolder::Open(root_.string() + "/", c.name, why);
        if (*c.refusal == '\0') {
            ASSERT_TRUE(folder) << c.name << ": " << why;
            EXPECT_EQ(*folder, (root_ / c.name).string() + "/");
            EXPECT_EQ(ModeOf(root_ / c.name), 0700u) << c.name << " is narrowed to its owner";
        } else {
            EXPECT_FALSE(folder) << c.name;
            EXPECT_NE(why.find(c.refusal), std::string::npos) << c.name << ": " << why;
        }
    }
    // Refused folders are left as they were found.
    EXPECT_EQ(ModeOf(root_ / "own777"), 0777u);
    EXPECT_TRUE(fs::is_symlink(root_ / "link"));
}

TEST_F(PrivateFolderTest, AFolderBelowOneOthersCanRenameInIsNotPrivate) {
    fs::create_directories(root_ / "open" / "inner");
    ::chmod((root_ / "open").c_str(), 0777);
    fs::create_directories(root_ / "sticky" / "inner");
    ::chmod((root_ / "sticky").c_str(), 01777);

    EXPECT_NE(PrivateFolder::AncestryProblem((root_ / "open" / "inner").string()).find("without the sticky bit"),
              std::string::npos);
    EXPECT_EQ(PrivateFolder::AncestryProblem((root_ / "sticky" / "inner").string()), "");
    std::string why;
    EXPECT_FALSE(PrivateFolder::Open((root_ / "open").string(), "stem", why));
    EXPECT_FALSE(fs::exists(root_ / "open" / "stem")) << "nothing is created below an unsafe folder";
    EXPECT_TRUE(PrivateFolder::Open((root_ / "sticky").string(), "stem", why)) << why;
}

TEST_F(PrivateFolderTest, AFolderOfAnotherUserSendsTheDownloadToTheCacheFolderElseAFreshOne) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    fs::create_directories(root_ / "tmp" / "Stem");
    ASSERT_EQ(::chown((root_ / "tmp" / "Stem").c_str(), kNobody, kNobody), 0);
    ::chmod((root_ / "tmp" / "Stem").c_str(), 0777);
    fs::create_directories(root_ / "cache");

    std::vector<std::string> refused;
    auto folder = PrivateFolder::ForDownloads((root_ / "tmp").string() + "/", "Stem", (root_ / "cache").string() + "/",
                                              true, refused);
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, (root_ / "cache" / "Stem").string() + "/");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("belongs to another user (uid 65534)"), std::string::npos) << refused[0];

    // The cache folder taken too: a fresh folder, only when one may be made.
    ASSERT_EQ(::chown((root_ / "cache" / "Stem").c_str(), kNobody, kNobody), 0);
    refused.clear();
    EXPECT_FALSE(PrivateFolder::ForDownloads((root_ / "tmp").string(), "Stem", (root_ / "cache").string(), false, refused));
    EXPECT_EQ(refused.size(), 2u);
    folder = PrivateFolder::ForDownloads((root_ / "tmp").string(), "Stem", (root_ / "cache").string(), true, refused);
    ASSERT_TRUE(folder);
    EXPECT_EQ(fs::path(*folder).parent_path().parent_path(), root_ / "tmp");
    EXPECT_EQ(fs::path(*folder).parent_path().filename().string().rfind("Stem.", 0), 0u) << *folder;
    EXPECT_EQ(ModeOf(fs::path(*folder).parent_path()), 0700u);
}

TEST_F(PrivateFolderTest, TheUsersCacheFolderFollowsXdgCacheHome) {
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CACHE_HOME", (root_ / "xdg").c_str(), 1);
    std::string why;
    const auto folder = PrivateFolder::UserCacheFolder(why);
    if (saved) setenv("XDG_CACHE_HOME", saved->c_str(), 1);
    else unsetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(folder) << why;
    EXPECT_EQ(*folder, (root_ / "xdg" / "quorvane-setup").string() + "/");
    EXPECT_EQ(ModeOf(root_ / "xdg" / "quorvane-setup"), 0700u);
}

TEST_F(PrivateFolderTest, ASecondLockOnTheFolderIsBusyUntilTheFirstGoes) {
    using Outcome = platform::FolderLock::Outcome;
    Outcome outcome = Outcome::FOLDER_LOCK_FAILED;
    std::string error;
    auto first = platform::FolderLock::TryAcquire(root_.string(), outcome, error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(outcome, Outcome::FOLDER_LOCKED);
    EXPECT_FALSE(platform::FolderLock::TryAcquire(root_.string(), outcome, error));
    EXPECT_EQ(outcome, Outcome::FOLDER_BUSY);
    first.reset();
    EXPECT_TRUE(platform::FolderLock::TryAcquire(root_.string(), outcome, error));

    fs::create_directory_symlink(root_, root_ / "link");
    EXPECT_FALSE(platform::FolderLock::TryAcquire((root_ / "link").string(), outcome, error));
    EXPECT_EQ(outcome, Outcome::FOLDER_LOCK_FAILED);
}

// Every open of a file Setup writes or reads back, against a link planted under its name:
// the file linked to is never written, read as if it were ours, or made read-only.
TEST_F(PrivateFolderTest, NoOpenFollowsALinkPlantedUnderTheFilesName) {
    const fs::path victim = root_ / "victim";
    WriteFile(victim, "precious");
    ::chmod(victim.c_str(), 0644);
    const fs::path link = root_ / "planted";
    fs::create_symlink(victim, link);
    const std::string path = link.string();

    EXPECT_EQ(platform::OpenForReading(path), nullptr);
    EXPECT_EQ(platform::OpenForUpdate(path), nullptr);
    EXPECT_FALSE(platform::ReadFilePrefix(path, 100));
    EXPECT_FALSE(platform::PrepareAppendFile(path));
    EXPECT_EQ(platform::OpenForAppending(path), nullptr);
    EXPECT_FALSE(platform::RegularFileExists(path));
    EXPECT_FALSE(platform::IdentityOf(path));
    EXPECT_FALSE(platform::MakeReadOnly(path));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(ModeOf(victim), 0644u);

    // Replacing swaps the link itself for a new file.
    ASSERT_TRUE(platform::ReplaceFileAtomically(path, "new"));
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(link), "new");
    EXPECT_EQ(ReadFile(victim), "precious");

    // A FIFO in the download's place would block a plain open for ever.
    const fs::path fifo = root_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::OpenForReading(fifo.string()), nullptr);
    EXPECT_EQ(platform::OpenForUpdate(fifo.string()), nullptr);
}

TEST_F(PrivateFolderTest, ACheckedInstallerIsReadOnlyYetResumableAndKeepsItsIdentity) {
    const fs::path file = root_ / "installer";
    WriteFile(file, "0123456789");
    const auto before = platform::IdentityOf(file.string());
    ASSERT_TRUE(before);
    ASSERT_TRUE(platform::MakeReadOnly(file.string()));
    EXPECT_EQ(ModeOf(file), 0500u);
    EXPECT_EQ(platform::IdentityOf(file.string()), before);

    // A replacement with the very same bytes is another file all the same.
    WriteFile(root_ / "copy", "0123456789");
    fs::rename(root_ / "copy", file);
    EXPECT_NE(platform::IdentityOf(file.string()), before);

    // A later run may write into a read-only download again; a new one is made when missing.
    ASSERT_TRUE(platform::MakeReadOnly(file.string()));
    std::FILE* stream = platform::OpenForUpdate(file.string());
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    stream = platform::OpenForUpdate((root_ / "fresh").string());
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_TRUE(fs::is_regular_file(root_ / "fresh"));

    bool truncated = false;
    EXPECT_EQ(platform::ReadFilePrefix(file.string(), 4, &truncated), "0123");
    EXPECT_TRUE(truncated);
    EXPECT_EQ(platform::ReadFilePrefix(file.string(), 100, &truncated), "0123456789");
    EXPECT_FALSE(truncated);
}

}  // namespace
