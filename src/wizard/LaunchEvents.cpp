#include "src/wizard/LaunchEvents.h"

#include "src/language/LanguageTable.h"
#include "src/system/RegistryHelpers.h"
#include "src/telemetry/SystemInfo.h"
#include "platform/RegistryStore.h"
#include "src/telemetry/IEventReporter.h"

namespace {

constexpr const char* kFirstRunKey = "SOFTWARE\\Quorvane\\Downloader2.5.0";
constexpr const char* kFirstRunValue = "GA_PC";

void ReportFirstRunFacts(IEventReporter& reporter, int screenWidth, int screenHeight) {
    const std::string marker =
        FuntionImpl::ReadRegistryString(platform::RegistryHive::LocalMachine, kFirstRunKey, kFirstRunValue);
    if (!marker.empty()) return;
    // The suffix names the system's width: a 64-bit build runs on a 64-bit system, a 32-bit
    // one learns it from WOW64 (asking WOW64 alone would call every 64-bit system 32-bit here).
    const bool system64 = sizeof(void*) == 8 || FuntionImpl::IsWow64();
    reporter.ReportEvent("PC", "SysOS", FuntionImpl::GetOsName() + (system64 ? " 64bit" : " 32bit"), false);
    reporter.ReportEvent("PC", "SysLanguage", FuntionImpl::GetLocaleName(), false);
    reporter.ReportEvent("PC", "SysScreenResolution", std::to_string(screenWidth) + "*" + std::to_string(screenHeight),
                         false);
    // Failing to store the marker only means the facts go out again next time.
    FuntionImpl::WriteRegistryString(platform::RegistryHive::LocalMachine, kFirstRunKey, kFirstRunValue, "1");
}

}  // namespace

void ReportLaunchEvents(IEventReporter& reporter, const std::function<void()>& setChannel, int screenWidth,
                        int screenHeight) {
    reporter.ReportEvent("CrashRate", "Start", "", false);
    if (setChannel) setChannel();
    ReportFirstRunFacts(reporter, screenWidth, screenHeight);
    reporter.ReportEvent("Download", "1.Launch", "", false);
}

void ReportInstallClick(IEventReporter& reporter, const std::string& downStartLabel, bool improvementTicked,
                        int languageIndex, bool pathChanged) {
    reporter.ReportEvent("DownloaderInfo00", "ClickInstall001", "", false);
    reporter.ReportEvent("Download", "2.DownStart", downStartLabel, false);
    reporter.ReportEvent("Other", "ImprovementPlan", improvementTicked ? "Enable" : "Disabled", false);
    reporter.ReportEvent("Other", "SetLanguage", LanguageOrEnglish(languageIndex).name, false);
    if (pathChanged) reporter.ReportEvent("Other", "SetPath", "", false);
}
