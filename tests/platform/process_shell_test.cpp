#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/Process.h"
#include "platform/Shell.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

// A folder of stand-in desktop helpers (shell scripts) that becomes the whole PATH.
class FakeDesktop {
public:
    FakeDesktop() {
        if (const char* old = std::getenv("PATH")) oldPath_ = old;
        setenv("PATH", dir_.c_str(), 1);
    }
    ~FakeDesktop() {
        if (oldPath_) setenv("PATH", oldPath_->c_str(), 1);
    }
    void AddTool(const std::string& name, const std::string& body) {
        auto path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
    }
    // Waits for a file a detached helper writes.
    std::string ReadWhenWritten(const std::string& name) {
        for (int i = 0; i < 300; ++i) {
            std::ifstream in(dir_ / name);
            std::string text;
            if (in && std::getline(in, text)) return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }
    const fs::path& dir() const { return dir_; }

private:
    qvtest::TempFolder folder_{"qv_shell_"};
    const fs::path& dir_ = folder_.path();
    std::optional<std::string> oldPath_;
};

TEST(ChooseFolder, UsesZenityAndAnswersNothingWhenCancelledOrAbsent) {
    FakeDesktop desk;
    EXPECT_FALSE(platform::ChooseFolder("Pick", "/opt"));  // nothing installed

    desk.AddTool("kdialog", "echo /from/kdialog");
    EXPECT_EQ(platform::ChooseFolder("Pick", "/opt"), "/from/kdialog");

    // zenity gets the title and start folder, reads nothing from stdin, prints the choice.
    desk.AddTool("zenity", "read x && exit 9\necho \"$@\" > " + (desk.dir() / "args").string() + "\necho '/home/u/My Apps'");
    EXPECT_EQ(platform::ChooseFolder("Choose a folder", "/opt"), "/home/u/My Apps");
    std::ifstream args(desk.dir() / "args");
    std::string line;
    std::getline(args, line);
    EXPECT_EQ(line, "--file-selection --directory --title=Choose a folder --filename=/opt/");

    // Cancel in zenity is the user's answer; kdialog is not asked then.
    desk.AddTool("zenity", "exit 1");
    EXPECT_FALSE(platform::ChooseFolder("Pick", ""));
}

TEST(ShellOpen, HandsTheTargetToXdgOpen) {
    FakeDesktop desk;
    EXPECT_FALSE(platform::ShellOpen("https://example.invalid/"));  // no xdg-open
    desk.AddTool("xdg-open", "echo \"$1\" > " + (desk.dir() / "opened").string());
    EXPECT_TRUE(platform::ShellOpen("https://example.invalid/a b?x=1"));
    EXPECT_EQ(desk.ReadWhenWritten("opened"), "https://example.invalid/a b?x=1");
}

TEST(ShowInFolder, AsksTheFileManagerElseOpensTheFolder) {
    FakeDesktop desk;
    desk.AddTool("gdbus", "echo \"$@\" > " + (desk.dir() / "bus").string());
    EXPECT_TRUE(platform::ShowInFolder("/tmp/my dir/it's.run"));
    EXPECT_EQ(desk.ReadWhenWritten("bus"),
              "call --session --dest org.freedesktop.FileManager1 --object-path /org/freedesktop/FileManager1 "
              "--method org.freedesktop.FileManager1.ShowItems ['file:///tmp/my%20dir/it%27s.run'] ''");

    desk.AddTool("gdbus", "exit 1");
    desk.AddTool("xdg-open", "echo \"$1\" > " + (desk.dir() / "opened").string());
    EXPECT_TRUE(platform::ShowInFolder("/tmp/my dir/setup.run"));
    EXPECT_EQ(desk.ReadWhenWritten("opened"), "/tmp/my dir");
}

}  // namespace
