#pragma once
// The funnel events that the wizard and the unattended install both send, so that the
// maker reads the two the same way: the start-up events once the configuration is
// settled, and the install button's events.

#include <functional>
#include <string>

class IEventReporter;

// The label of "Download"/"2.DownStart" in an unattended run; the wizard's is empty. The
// one place where the maker tells the two apart.
inline constexpr const char* kUnattendedDownStartLabel = "Unattended";

// "CrashRate"/"Start", then `setChannel` (the reporter's channel), the first-run machine
// facts while the machine's marker is empty (then the marker is set), "Download"/"1.Launch".
// All queued. "Start" is queued before the channel is set so that it is the run's first
// hit: the process-wide reporter sends nothing before it knows the channel.
void ReportLaunchEvents(IEventReporter& reporter, const std::function<void()>& setChannel, int screenWidth,
                        int screenHeight);

// The install button: "ClickInstall001", "2.DownStart" with `downStartLabel`,
// "ImprovementPlan", "SetLanguage", and "SetPath" when the folder is not the default one.
void ReportInstallClick(IEventReporter& reporter, const std::string& downStartLabel, bool improvementTicked,
                        int languageIndex, bool pathChanged);
