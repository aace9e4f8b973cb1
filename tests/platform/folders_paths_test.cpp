#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Folders.h"
#include "platform/Process.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

class ScratchDir : public qvtest::TempFolder {
public:
    ScratchDir() : TempFolder("qv_folders_") {}
};

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(TempDirectory, ReportedAndCanonicalFormsEndInASlash) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "real");
    fs::create_directory_symlink(dir.path() / "real", dir.path() / "link");
    {
        ScopedEnv tmp("TMPDIR", (dir.path() / "link").string());
        EXPECT_EQ(platform::TempDirectoryAsReported(), (dir.path() / "link").string() + "/");
        EXPECT_EQ(platform::TempDirectory(), (dir.path() / "real").string() + "/");
    }
    {
        ScopedEnv tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(platform::TempDirectoryAsReported(), "/tmp/");
    }
    {
        ScopedEnv tmp("TMPDIR", "");
        EXPECT_EQ(platform::TempDirectoryAsReported(), "/tmp/");
    }
}

TEST(DesktopFolder, ReadsTheXdgUserDirsElseHomeDesktop) {
    ScratchDir dir;
    ScopedEnv home("HOME", dir.path().string());
    ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "cfg").string());
    EXPECT_EQ(platform::DesktopFolder(), dir.path().string() + "/Desktop");

    fs::create_directories(dir.path() / "cfg");
    std::ofstream(dir.path() / "cfg" / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
           "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    EXPECT_EQ(platform::DesktopFolder(), dir.path().string() + "/Schreibtisch");

    std::ofstream(dir.path() / "cfg" / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"/srv/desk/\"\n";
    EXPECT_EQ(platform::DesktopFolder(), "/srv/desk");
}

TEST(ProgramsFolder, IsOptOrTheUsersLocalOpt) {
    ScratchDir dir;
    ScopedEnv home("HOME", dir.path().string());
    std::string folder = platform::ProgramsFolder();
    EXPECT_TRUE(folder == "/opt" || folder == dir.path().string() + "/.local/opt") << folder;
}

TEST(FreeBytesForUser, AsksTheNearestExistingAncestor) {
    ScratchDir dir;
    auto existing = platform::FreeBytesForUser(dir.path().string());
    auto future = platform::FreeBytesForUser((dir.path() / "not" / "yet" / "there").string());
    ASSERT_TRUE(existing);
    ASSERT_TRUE(future);
    EXPECT_GT(*existing, 0u);
    // Same file system; other writers may change the figure a little between the calls.
    auto diff = *existing > *future ? *existing - *future : *future - *existing;
    EXPECT_LT(diff, 256u * 1024 * 1024);

    // A path below a regular file still reaches the file system holding the file.
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_TRUE(platform::FreeBytesForUser((dir.path() / "file" / "below").string()));
    EXPECT_FALSE(platform::FreeBytesForUser(""));
}

TEST(CreateDirectories, CreatesParentsAndFailsOnAFileInTheWay) {
    ScratchDir dir;
    auto deep = dir.path() / "a b" / "c" / "d";
    EXPECT_TRUE(platform::CreateDirectories(deep.string()));
    EXPECT_TRUE(platform::DirectoryExists(deep.string()));
    EXPECT_TRUE(platform::CreateDirectories(deep.string()));  // already there

    std::ofstream(dir.path() / "file") << "x";
    std::string error;
    EXPECT_FALSE(platform::CreateDirectories((dir.path() / "file" / "sub").string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(platform::CreateDirectories((dir.path() / "file").string(), &error));
    EXPECT_FALSE(platform::CreateDirectories(""));
}

TEST(ListDirectory, NamesKindsAndMissingFolders) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "sub");
    std::ofstream(dir.path() / "file.txt") << "x";
    fs::create_directory_symlink(dir.path() / "sub", dir.path() / "link");

    auto entries = platform::ListDirectory(dir.path().string());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 3u);
    auto find = [&](const std::string& name) {
        return *std::find_if(entries->begin(), entries->end(),
                             [&](const platform::DirectoryEntry& e) { return e.name == name; });
    };
    EXPECT_TRUE(find("sub").isDirectory);
    EXPECT_FALSE(find("file.txt").isDirectory);
    EXPECT_FALSE(find("link").isDirectory);
    EXPECT_TRUE(find("link").isSymlink);
    EXPECT_FALSE(platform::ListDirectory((dir.path() / "missing").string()));
    EXPECT_EQ(platform::ListDirectory(dir.path().string(), 2)->size(), 2u);

    EXPECT_TRUE(platform::FileExists((dir.path() / "file.txt").string()));
    EXPECT_FALSE(platform::FileExists((dir.path() / "sub").string()));
    EXPECT_FALSE(platform::FileExists((dir.path() / "missing").string()));
}

TEST(MakeExecutable, AddsExecuteWhereReadIsAllowed) {
    ScratchDir dir;
    auto file = dir.path() / "installer.run";
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(platform::MakeExecutable(file.string()));
    auto perms = fs::status(file).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    EXPECT_NE(perms & fs::perms::group_exec, fs::perms::none);
    EXPECT_EQ(perms & fs::perms::others_exec, fs::perms::none);
    EXPECT_FALSE(platform::MakeExecutable((dir.path() / "missing").string()));
}

}  // namespace
