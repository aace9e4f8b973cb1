#include "tests/support/WizardTestSupport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "src/language/CLanguageSelector.h"
#include "src/language/CLanguageTexts.h"
#include "src/telemetry/IEventReporter.h"
#include "ui/CControl.h"
#include "ui/CCombo.h"
#include "ui/CControlHost.h"
#include "ui/CLabel.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/x11/CPangoTextMeasurer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace qvtest {

namespace {

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SilentReporter : public IEventReporter {
public:
    int ReportEvent(const std::string&, const std::string&, const std::string&, bool) override { return 0; }
};

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(20ms);
    }
}

// --- sandbox -----------------------------------------------------------------------------

WizardSandbox::WizardSandbox() {
    static std::atomic<int> counter{0};
    root_ = fs::temp_directory_path() /
            ("qv_wizard_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
             std::to_string(counter++));
    fs::create_directories(Registry());
    fs::create_directories(Home() / "Desktop");
    fs::create_directories(Temp());
}

WizardSandbox::~WizardSandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::vector<std::string> WizardSandbox::EnvironmentLines() const {
    return {
        "QV_REGISTRY_DIR=" + Registry().string(),
        "HOME=" + Home().string(),
        "TMPDIR=" + Temp().string(),
        "XDG_CONFIG_HOME=" + (Home() / ".config").string(),
        "XDG_STATE_HOME=" + (Home() / ".local/state").string(),
        "XDG_CACHE_HOME=" + (Home() / ".cache").string(),
    };
}

std::vector<std::string> ServiceEnvironment(const FakeMakerService& service) {
    const ServiceEndpoints e = service.Endpoints();
    return {
        "QV_SERVICE_BASE_URL=" + e.serviceBaseUrl,   "QV_SERVICE_LOCATOR_URL=" + e.serviceLocatorUrl,
        "QV_LOCATION_URL=" + e.locationUrl,          "QV_ANALYTICS_URL=" + e.analyticsUrl,
        "QV_EXCEPTION_URL=" + e.exceptionUrl,
    };
}

std::vector<std::string> Hits(const FakeMakerService& service) {
    std::vector<std::string> hits;
    for (const auto& hit : service.Requests(FakeMakerService::Endpoint::Collect))
        hits.push_back(hit.Field("ec") + " / " + hit.Field("ea") + " / " + hit.Field("el"));
    return hits;
}

bool WaitForHit(const FakeMakerService& service, const std::string& hit, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            for (const std::string& seen : Hits(service)) {
                if (seen == hit) return true;
            }
            return false;
        },
        limit);
}

// --- the process -------------------------------------------------------------------------

SetupRun::SetupRun(const WizardSandbox& sandbox, Options options) {
    static std::atomic<int> counter{0};
    outputFile_ = sandbox.Root() / ("setup_output_" + std::to_string(counter++) + ".txt");
    std::vector<std::string> argv{"env"};
    for (const std::string& line : sandbox.EnvironmentLines()) argv.push_back(line);
    for (const std::string& line : options.environment) argv.push_back(line);
    argv.push_back("QV_TEST_OUTPUT=" + outputFile_.string());
    // The shell only redirects and then becomes Setup, so the pid is Setup's.
    argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"$QV_TEST_OUTPUT\" 2>&1", options.executable});
    for (const std::string& argument : options.arguments) argv.push_back(argument);
    platform::SpawnOptions spawn;
    spawn.stdinFromNull = true;
    platform::SpawnError error;
    auto started = platform::ChildProcess::Start(argv, spawn, error);
    if (!started) throw std::runtime_error("cannot start Setup: " + error.message);
    process_ = std::move(*started);
}

SetupRun::~SetupRun() { Kill(); }

std::optional<int> SetupRun::WaitExit(std::chrono::milliseconds limit) {
    if (process_.Wait(static_cast<std::uint32_t>(limit.count())) != platform::ChildProcess::WaitResult::WAIT_EXITED)
        return std::nullopt;
    return process_.ExitCode();
}

bool SetupRun::Running() { return !WaitExit(0ms).has_value(); }

std::string SetupRun::Output() const { return ReadWhole(outputFile_); }

bool SetupRun::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, limit);
}

void SetupRun::Kill() {
    if (process_.Pid() > 0 && Running()) {
        process_.Kill();
        process_.Wait(5000);
    }
}

// --- X server ----------------------------------------------------------------------------

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string ShellOutput(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) out.append(buffer.data(), got);
    return out;
}

std::vector<std::string> WindowsOfClass(const std::string& className) {
    std::istringstream lines(ShellOutput("xdotool search --class " + Quote("^" + className + "$") + " 2>/dev/null"));
    std::vector<std::string> windows;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) windows.push_back(line);
    }
    return windows;
}

long Position(const std::vector<std::string>& hits, const std::string& hit) {
    auto it = std::find(hits.begin(), hits.end(), hit);
    return it == hits.end() ? -1 : it - hits.begin();
}

std::string WaitForWindow(const std::string& className, std::chrono::milliseconds limit) {
    std::string found;
    WaitUntil(
        [&] {
            auto windows = WindowsOfClass(className);
            if (windows.empty()) return false;
            found = windows.front();
            return true;
        },
        limit);
    return found;
}

std::optional<WindowGeometry> GetGeometry(const std::string& window) {
    const std::string text = ShellOutput("xdotool getwindowgeometry --shell " + window + " 2>/dev/null");
    auto value = [&](const char* name) -> std::optional<int> {
        std::smatch match;
        if (!std::regex_search(text, match, std::regex(std::string("(^|\n)") + name + "=(-?[0-9]+)"))) return std::nullopt;
        return std::stoi(match[2].str());
    };
    auto x = value("X"), y = value("Y"), width = value("WIDTH"), height = value("HEIGHT");
    if (!x || !y || !width || !height) return std::nullopt;
    return WindowGeometry{*x, *y, *width, *height};
}

bool WaitForSize(const std::string& window, int width, int height, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            auto geometry = GetGeometry(window);
            return geometry && geometry->width == width && geometry->height == height;
        },
        limit);
}

bool ClickAt(const std::string& window, int x, int y) {
    return Shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
                 " sleep 0.1 click 1") == 0;
}

bool ClickAt(const std::string& window, const SkinUI::TPoint& point) { return ClickAt(window, point.x, point.y); }

bool SendKeys(const std::string& window, const std::string& keys) {
    return Shell("xdotool windowfocus --sync " + window + " key " + Quote(keys)) == 0;
}

bool Screenshot(const fs::path& file, const std::string& window) {
    fs::create_directories(file.parent_path());
    std::string crop;
    if (!window.empty()) {
        auto geometry = GetGeometry(window);
        if (!geometry) return false;
        crop = " -crop " + std::to_string(geometry->width) + "x" + std::to_string(geometry->height) + "+" +
               std::to_string(geometry->x) + "+" + std::to_string(geometry->y) + " +repage";
    }
    // -strip: no time stamps in the file, so an unchanged window gives an unchanged file.
    return Shell("import -window root" + crop + " -strip " + Quote(file.string())) == 0;
}

bool ScreenshotPainted(const fs::path& file, const std::string& window, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            if (!Screenshot(file, window)) return false;
            const std::string spread =
                ShellOutput("convert " + Quote(file.string()) + " -format '%[fx:standard_deviation]' info:");
            return !spread.empty() && std::strtod(spread.c_str(), nullptr) > 0.0;
        },
        limit);
}

fs::path ScreenshotPath(const std::string& name, const fs::path& fallback) {
    const char* update = std::getenv("QV_UPDATE_SCREENSHOTS");
    if (update != nullptr && *update != '\0') return fs::path(QV_SOURCE_DIR) / "docs" / "screenshots" / name;
    return fallback / name;
}

// --- the shipped layout ------------------------------------------------------------------

namespace {

// The main window's tree as the window lays it out, texts of the language applied.
struct LaidOutWindow {
    std::unique_ptr<SkinUI::CControlHost> host;
    std::unique_ptr<SkinUI::CPangoTextMeasurer> measurer;
};

std::unique_ptr<LaidOutWindow> LayOut(int languageIndex, int height, const TabPages& pages = {}) {
    SkinUI::CSkinPackage* package = SkinUI::CSkinPackage::Current();
    if (!package) return nullptr;
    auto window = std::make_unique<LaidOutWindow>();
    window->host = std::make_unique<SkinUI::CControlHost>(package);
    if (!window->host->LoadLayout("InstallMainWnd.xml")) return nullptr;
    SilentReporter reporter;
    CLanguageSelector languages(CLanguageTexts::Current(), reporter);
    languages.SelectLanguageItem(*window->host->GetRoot(), languageIndex);
    languages.ApplyLanguage(*window->host->GetRoot(), TApplyContext{});
    // The window shows the two links again once its message arrives.
    for (const char* name : {"license_link", "install_setting"}) {
        if (auto* control = window->host->FindControl(name)) control->SetVisible(true);
    }
    for (const auto& [tabs, page] : pages) {
        if (auto* layout = dynamic_cast<SkinUI::CTabLayout*>(window->host->FindControl(tabs))) layout->SelectItem(page);
    }
    window->measurer = std::make_unique<SkinUI::CPangoTextMeasurer>();
    window->measurer->SetLanguage(SkinUI::LanguageTagForIndex(languageIndex));
    window->host->SetTextMeasurer(window->measurer.get());
    window->host->SetClientSize({650, height});
    window->host->UpdateLayout();
    return window;
}

}  // namespace

std::optional<SkinUI::TRect> ControlRect(const std::string& name, int languageIndex, int height,
                                         const TabPages& pages) {
    auto window = LayOut(languageIndex, height, pages);
    if (!window) return std::nullopt;
    SkinUI::CControl* control = window->host->FindControl(name);
    if (!control) return std::nullopt;
    return control->GetPos();
}

std::optional<SkinUI::TRect> LinkRect(const std::string& textControl, int linkIndex, int languageIndex, int height) {
    auto window = LayOut(languageIndex, height);
    if (!window) return std::nullopt;
    auto* label = dynamic_cast<SkinUI::CLabel*>(window->host->FindControl(textControl));
    if (!label) return std::nullopt;
    auto rects = label->GetTextLayout().LinkRects(linkIndex);
    if (rects.empty()) return std::nullopt;
    return rects.front();
}

SkinUI::TPoint Centre(const SkinUI::TRect& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

fs::path SkinOffering(const fs::path& into, const std::vector<int>& indexes) {
    std::string name = "skin_languages";
    for (int index : indexes) name += "_" + std::to_string(index);
    const fs::path folder = into / name;
    fs::copy(fs::path(QV_SOURCE_DIR) / "skin", folder, fs::copy_options::recursive);
    const fs::path layout = folder / "InstallSetting.xml";
    std::string text = ReadWhole(layout);
    // Each item is written visible or hidden; the selection is left to the window.
    std::string out;
    std::size_t at = 0;
    int item = 0;
    const std::regex attributes(R"( (visible|selected)="[a-z]+")");
    for (std::size_t start; (start = text.find("<ListLabelElement ", at)) != std::string::npos; ++item) {
        const std::size_t end = text.find("/>", start);
        if (end == std::string::npos) break;
        std::string element = std::regex_replace(text.substr(start, end - start), attributes, "");
        const bool offered = indexes.empty() || std::find(indexes.begin(), indexes.end(), item) != indexes.end();
        if (!offered) element += " visible=\"false\" ";
        out += text.substr(at, start - at) + element;
        at = end;
    }
    out += text.substr(at);
    std::ofstream(layout, std::ios::binary | std::ios::trunc) << out;
    return folder;
}

std::optional<SkinUI::TRect> ComboItemRect(const std::string& combo, int item, int languageIndex, int height,
                                           const TabPages& pages) {
    auto window = LayOut(languageIndex, height, pages);
    if (!window) return std::nullopt;
    auto* list = dynamic_cast<SkinUI::CCombo*>(window->host->FindControl(combo));
    if (!list || item < 0 || item >= list->GetCount()) return std::nullopt;
    window->host->OpenDropList(list);
    window->host->UpdateLayout();
    SkinUI::CControl* element = list->GetItemAt(item);
    if (!element || !element->IsVisible()) return std::nullopt;
    return element->GetPos();
}

}  // namespace qvtest
