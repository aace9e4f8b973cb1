#pragma once
// Running the real Setup under the test's X server: a sandbox of its own folders (registry,
// home, temporary), the process with its output captured to a file, waits for windows by
// class, xdotool input, screenshots, and where the shipped layout puts a control or a link
// so tests click where a user would.
//
// Threads: the test's own thread. Every wait has a time limit.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "tests/support/FakeMakerService.h"
#include "ui/UiTypes.h"

namespace qvtest {

// Waits until `done` or `limit` passes, looking every 20 ms. True when done.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Temporary folders for one Setup run, removed with the object.
class WizardSandbox {
public:
    WizardSandbox();
    ~WizardSandbox();
    WizardSandbox(const WizardSandbox&) = delete;
    WizardSandbox& operator=(const WizardSandbox&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Registry() const { return root_ / "registry"; }
    std::filesystem::path Home() const { return root_ / "home"; }
    std::filesystem::path Temp() const { return root_ / "tmp"; }
    // QV_REGISTRY_DIR, HOME, TMPDIR and the XDG folders pointed into the sandbox.
    std::vector<std::string> EnvironmentLines() const;

private:
    std::filesystem::path root_;
};

// "NAME=value" lines pointing a Setup process at every endpoint of `service`.
std::vector<std::string> ServiceEnvironment(const FakeMakerService& service);
// The analytics hits the service received, as "category / action / label", in order.
std::vector<std::string> Hits(const FakeMakerService& service);
// Waits until a hit "category / action / label" arrived.
bool WaitForHit(const FakeMakerService& service, const std::string& hit, std::chrono::milliseconds limit);

// One Setup process. Standard output and error go to a file in the sandbox.
class SetupRun {
public:
    struct Options {
        std::vector<std::string> environment;  // "NAME=value", added to the sandbox's
        std::vector<std::string> arguments;
        std::string executable = QV_SETUP_EXE;
    };
    // Throws std::runtime_error when the process cannot be started.
    SetupRun(const WizardSandbox& sandbox, Options options);
    ~SetupRun();  // kills the process if it still runs
    SetupRun(const SetupRun&) = delete;
    SetupRun& operator=(const SetupRun&) = delete;

    int Pid() const { return process_.Pid(); }
    // The exit code once the process has ended within `limit`; nullopt while it runs.
    std::optional<int> WaitExit(std::chrono::milliseconds limit);
    bool Running();
    // Everything the process wrote so far.
    std::string Output() const;
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const;
    void Kill();

private:
    std::filesystem::path outputFile_;
    platform::ChildProcess process_;
};

// --- X server ----------------------------------------------------------------------------

// Runs a shell command; its exit code.
int Shell(const std::string& command);
// Runs a shell command and returns its standard output.
std::string ShellOutput(const std::string& command);

// Top-level windows whose WM_CLASS class is `className`.
std::vector<std::string> WindowsOfClass(const std::string& className);
// The first such window, or empty when none shows within `limit`.
std::string WaitForWindow(const std::string& className, std::chrono::milliseconds limit);
// The main window's X class, and the shipped language list's numbers the tests choose.
inline constexpr const char* kWindowClass = "QUORVANE_UI_Frame";
inline constexpr int kEnglish = 0;
inline constexpr int kChinese = 2;
// Where `hit` first appears in `hits`; -1 when it does not.
long Position(const std::vector<std::string>& hits, const std::string& hit);

struct WindowGeometry {
    int x = 0, y = 0, width = 0, height = 0;
};
std::optional<WindowGeometry> GetGeometry(const std::string& window);
// Waits until the window's size is width x height.
bool WaitForSize(const std::string& window, int width, int height, std::chrono::milliseconds limit);

// A left click at window coordinates.
bool ClickAt(const std::string& window, int x, int y);
bool ClickAt(const std::string& window, const SkinUI::TPoint& point);
// Focuses the window and types a key chord ("alt+F4") into it.
bool SendKeys(const std::string& window, const std::string& keys);
// The whole screen as a PNG, or with `window` only that window's part of it.
bool Screenshot(const std::filesystem::path& file, const std::string& window = "");
// Screenshot() again until the picture is not one flat colour (a window not painted yet;
// the first frame in a script whose fonts load first comes late), within `limit`.
bool ScreenshotPainted(const std::filesystem::path& file, const std::string& window, std::chrono::milliseconds limit);
// Where a test keeps a screenshot: docs/screenshots/<name> of the source tree when
// QV_UPDATE_SCREENSHOTS is set, else `fallback`/<name>.
std::filesystem::path ScreenshotPath(const std::string& name, const std::filesystem::path& fallback);

// --- the shipped layout ------------------------------------------------------------------

// Where the main window's layout puts things with the texts of `languageIndex` applied,
// laid out at 650 x `height` with the same text measurer as the window (window
// coordinates). Uses the skin the process sees (SETUP_SKIN_DIR or the embedded package).
// `pages` selects tab pages first ({"set_layout", 1} shows the settings panel).
using TabPages = std::vector<std::pair<std::string, int>>;
std::optional<SkinUI::TRect> ControlRect(const std::string& name, int languageIndex, int height = 360,
                                         const TabPages& pages = {});
std::optional<SkinUI::TRect> LinkRect(const std::string& textControl, int linkIndex, int languageIndex,
                                      int height = 360);
SkinUI::TPoint Centre(const SkinUI::TRect& rect);

// Where the open drop list of `combo` puts item `item` (which must be offered).
std::optional<SkinUI::TRect> ComboItemRect(const std::string& combo, int item, int languageIndex, int height,
                                           const TabPages& pages = {});

// A copy of the shipped skin in `into` whose language combo offers the languages of
// `indexes` (every language when empty), none preselected. Point SETUP_SKIN_DIR at it.
std::filesystem::path SkinOffering(const std::filesystem::path& into, const std::vector<int>& indexes);
inline std::filesystem::path SkinWithAllLanguages(const std::filesystem::path& into) { return SkinOffering(into, {}); }

}  // namespace qvtest
