// setup-tool reg: read and change the installer's registry store, for support engineers
// and scripts. Values print raw (one line per REG_MULTI_SZ element) so scripts can use them.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Subcommand.h"
#include "platform/ProcessLogger.h"
#include "platform/RegistryStore.h"

namespace setuptool {
namespace {

constexpr const char* kName = "reg";

int Usage(const std::string& why) {
    UsageError(kName, why);
    std::fprintf(stderr, "run 'setup-tool reg --help' for details\n");
    return EXIT_USAGE;
}

bool ParseHive(std::string_view text, platform::RegistryHive& hive) {
    auto is = [&text](std::string_view a, std::string_view b) {
        if (text.size() != a.size() && text.size() != b.size()) return false;
        auto lower = [](std::string_view s) {
            std::string out(s);
            for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            return out;
        };
        return lower(text) == lower(a) || lower(text) == lower(b);
    };
    if (is("HKLM", "HKEY_LOCAL_MACHINE")) {
        hive = platform::RegistryHive::LocalMachine;
    } else if (is("HKCU", "HKEY_CURRENT_USER")) {
        hive = platform::RegistryHive::CurrentUser;
    } else {
        return false;
    }
    return true;
}

// The store's diagnostics (a corrupt hive, the copy kept of it) matter to whoever runs the
// tool, so they go to standard error as well as to the log.
void ReportToLogAndStderr(const std::string& message) {
    LOG(INFO) << message;
    std::fprintf(stderr, "setup-tool reg:%s\n", message.c_str());
}

int Finish(platform::RegistryResult result) {
    switch (result) {
        case platform::RegistryResult::REG_RESULT_OK: return EXIT_OK;
        case platform::RegistryResult::REG_RESULT_INVALID_ARGUMENT: return Usage(to_string(result));
        case platform::RegistryResult::REG_RESULT_KEY_NOT_FOUND:
        case platform::RegistryResult::REG_RESULT_VALUE_NOT_FOUND:
        case platform::RegistryResult::REG_RESULT_WRONG_TYPE:
        case platform::RegistryResult::REG_RESULT_IO_ERROR: break;
    }
    std::fprintf(stderr, "setup-tool reg: %s\n", to_string(result));
    return EXIT_FAILED;
}

int ListKey(const platform::RegistryStore& store, const std::string& key) {
    auto values = store.ListValues(key);
    auto subkeys = store.ListSubkeys(key);
    if (!values || !subkeys) return Finish(platform::RegistryResult::REG_RESULT_KEY_NOT_FOUND);
    for (const auto& v : *values) {
        std::string data = v.text;
        if (v.type == platform::RegistryValueType::REG_VALUE_MULTI_SZ) {
            data.clear();
            for (std::size_t i = 0; i < v.strings.size(); ++i) data += (i ? "\\0" : "") + v.strings[i];
        }
        std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), to_string(v.type),
                    data.c_str());
    }
    for (const auto& sub : *subkeys) std::printf("%s\\%s\n", key.c_str(), sub.c_str());
    return EXIT_OK;
}

constexpr const char* kHelp =
    "usage: setup-tool reg get|set|delete HIVE KEY [NAME [VALUE...]] [--multi]\n"
    "\n"
    "  HIVE is HKLM (HKEY_LOCAL_MACHINE) or HKCU (HKEY_CURRENT_USER); KEY is a path such as\n"
    "  'SOFTWARE\\Vendor\\Product'; keys and names ignore letter case. An empty NAME ('') is\n"
    "  the key's default value.\n"
    "\n"
    "  get HIVE KEY              list the key's values and subkeys\n"
    "  get HIVE KEY NAME         print the value; a REG_MULTI_SZ prints one element a line\n"
    "  set HIVE KEY              create the key with its parents\n"
    "  set HIVE KEY NAME VALUE   write a REG_SZ; several VALUEs or --multi write a REG_MULTI_SZ\n"
    "  delete HIVE KEY [NAME]    delete the value, or without NAME the key with its subkeys\n"
    "\n"
    "  '--' ends the options. The store's folder is QV_REGISTRY_DIR when set.\n"
    "  exit codes: 0 found or done, 1 not found or failed, 2 usage error\n";

int RunReg(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        std::fputs(kHelp, stdout);
        return EXIT_OK;
    }
    bool multi = false;
    bool optionsEnded = false;
    std::vector<std::string> pos;
    for (const auto& a : args) {
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a == "--multi") {
            multi = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return Usage("unknown option '" + a + "'");
        } else {
            pos.push_back(a);
        }
    }
    if (pos.size() < 3) return Usage(pos.empty() ? "missing command" : "missing HIVE or KEY");
    const std::string& verb = pos[0];
    platform::RegistryHive hive;
    if (!ParseHive(pos[1], hive)) return Usage("HIVE must be HKLM or HKCU, not '" + pos[1] + "'");
    const std::string& key = pos[2];
    if (std::string why = platform::RegistryStore::KeyPathError(key); !why.empty()) return Usage(why);
    if (pos.size() > 3) {
        if (std::string why = platform::RegistryStore::ValueNameError(pos[3]); !why.empty()) {
            return Usage(why);
        }
    }
    if (multi && verb != "set") return Usage("--multi belongs to set");

    platform::SetRegistryReporter(&ReportToLogAndStderr);
    platform::RegistryStore store(hive);

    if (verb == "get") {
        if (pos.size() == 3) return ListKey(store, key);
        if (pos.size() > 4) return Usage("get takes at most HIVE KEY NAME");
        std::string text;
        platform::RegistryResult result = store.ReadString(key, pos[3], text);
        if (result == platform::RegistryResult::REG_RESULT_OK) {
            std::printf("%s\n", text.c_str());
            return EXIT_OK;
        }
        std::vector<std::string> strings;
        if (result == platform::RegistryResult::REG_RESULT_WRONG_TYPE &&
            store.ReadMultiString(key, pos[3], strings) == platform::RegistryResult::REG_RESULT_OK) {
            for (const auto& s : strings) std::printf("%s\n", s.c_str());
            return EXIT_OK;
        }
        return Finish(result);
    }
    if (verb == "set") {
        if (pos.size() == 3) return Finish(store.CreateKey(key));
        std::vector<std::string> values(pos.begin() + 4, pos.end());
        if (values.size() > 1) multi = true;
        if (values.empty() && !multi) return Usage("set needs a VALUE (\"\" sets an empty text)");
        std::vector<std::string_view> views(values.begin(), values.end());
        if (std::string why = platform::RegistryStore::ValueError(views); !why.empty()) return Usage(why);
        return Finish(multi ? store.SetMultiString(key, pos[3], values) : store.SetString(key, pos[3], values[0]));
    }
    if (verb == "delete") {
        if (pos.size() > 4) return Usage("delete takes at most HIVE KEY NAME");
        return Finish(pos.size() == 3 ? store.DeleteKey(key) : store.DeleteValue(key, pos[3]));
    }
    return Usage("unknown command '" + verb + "'");
}

const SubcommandRegistration registration{
    kName, "reg get|set|delete HIVE KEY [NAME [VALUE...]] [--multi]",
    "read or change the registry store (HIVE: HKLM, HKCU)", &RunReg};

}  // namespace
}  // namespace setuptool
