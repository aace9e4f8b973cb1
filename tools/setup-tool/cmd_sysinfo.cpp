// setup-tool sysinfo: the facts the installer reports about this machine, one "key: value" a line,
// so that support scripts can grep them.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "src/telemetry/SystemInfo.h"
#include "Subcommand.h"
#include "platform/SystemFacts.h"

namespace setuptool {
namespace {

void Line(const char* key, const std::string& value) { std::printf("%s: %s\n", key, value.c_str()); }

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

int RunSysinfo(const std::vector<std::string>& args) {
    std::string file;
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--file" && i + 1 < args.size() && !haveFile) {
            file = args[++i];
            haveFile = true;
        } else if (args[i] == "--file") {
            return UsageError("sysinfo", haveFile ? "--file given twice" : "--file needs a path");
        } else {
            return UsageError("sysinfo", "unexpected argument '" + args[i] + "'");
        }
    }
    if (haveFile) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) {
            std::fprintf(stderr, "setup-tool sysinfo: '%s' is not a readable file\n", file.c_str());
            return EXIT_FAILED;
        }
    }

    const std::string os = FuntionImpl::GetOsName();
    const bool wow64 = FuntionImpl::IsWow64();
    Line("os_name", os);
    Line("wow64", wow64 ? "yes" : "no");
    // The form the installer's logs and analytics carry; the suffix names the system's
    // width, which a 64-bit build implies and a 32-bit build learns from WOW64.
    const bool system64 = sizeof(void*) == 8 || wow64;
    Line("os_name_with_bits", os + (system64 ? " 64bit" : " 32bit"));

    const auto setting = platform::UserUiLanguageSetting();
    Line("locale_env", setting.variable.empty() ? "(none set)" : setting.variable + "=" + setting.value);
    const std::uint16_t langId = platform::LangIdFromUiLanguageSetting(setting);
    char langIdText[32];
    std::snprintf(langIdText, sizeof langIdText, "%u (0x%04x)", static_cast<unsigned>(langId), static_cast<unsigned>(langId));
    Line("langid", langIdText);
    Line("locale_name", FuntionImpl::GetLocaleNameFor(langId));
    const auto country = FuntionImpl::LookupCountry(langId);
    Line("country", country.countryName);
    Line("language_index", std::to_string(country.languageIndex));

    const auto cpu = platform::CpuIdLeaf1();
    Line("cpuid_leaf1", "eax=" + Hex32(cpu.eax) + " edx=" + Hex32(cpu.edx));
    const auto serial = platform::SystemVolumeSerial();
    Line("volume_serial", serial ? Hex32(*serial) : std::string());
    std::string macText;
    if (const auto mac = platform::PrimaryAdapterMac()) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", (*mac)[0], (*mac)[1], (*mac)[2], (*mac)[3],
                      (*mac)[4], (*mac)[5]);
        macText = buf;
    }
    Line("adapter_mac", macText);
    Line("network_alive", platform::IsNetworkAlive() ? "yes" : "no");

    const std::string exe = platform::CurrentExecutablePath();
    Line("executable", exe);
    Line("executable_version", exe.empty() ? std::string() : FuntionImpl::GetFileVersion(exe));
    if (haveFile) {
        Line("file", file);
        Line("file_version", FuntionImpl::GetFileVersion(file));
    }
    return EXIT_OK;
}

const SubcommandRegistration reg{"sysinfo", "sysinfo [--file PATH]",
                                 "print facts of this machine (and the version of a file)", &RunSysinfo};

}  // namespace
}  // namespace setuptool
