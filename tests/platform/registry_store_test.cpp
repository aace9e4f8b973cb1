// The registry store against real files in a temporary folder and real setup-tool processes.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "src/system/RegistryHelpers.h"
#include "platform/ProcessLogger.h"
#include "platform/RegistryStore.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using platform::RegistryHive;
using platform::RegistryResult;
using platform::RegistryStore;
using platform::RegistryValueType;
using Strings = std::vector<std::string>;

using qvtest::ReadFile;
using qvtest::WriteFile;

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Diagnostics of the store, captured instead of printed.
std::mutex g_reportsMutex;
std::vector<std::string> g_reports;
void CaptureReport(const std::string& message) {
    std::lock_guard<std::mutex> guard(g_reportsMutex);
    g_reports.push_back(message);
}
std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> guard(g_reportsMutex);
    return g_reports;
}

class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QV_REGISTRY_DIR", dir_.c_str(), 1);
        {
            std::lock_guard<std::mutex> guard(g_reportsMutex);
            g_reports.clear();
        }
        platform::SetRegistryReporter(&CaptureReport);
    }
    void TearDown() override {
        platform::SetRegistryReporter(nullptr);
        unsetenv("QV_REGISTRY_DIR");
    }

    struct ToolRun {
        int exitCode = -1;
        std::string out;
        std::string err;
    };
    // Runs setup-tool through the shell with the store folder set; `extraEnv` is "NAME=value ...".
    ToolRun RunTool(const Strings& args, const std::string& extraEnv = {}) {
        std::string cmd = "QV_REGISTRY_DIR=" + ShellQuote(dir_) + " " + extraEnv + " " + ShellQuote(QV_SETUP_TOOL);
        for (const auto& a : args) cmd += " " + ShellQuote(a);
        const fs::path out = dir_ / "tool.out", err = dir_ / "tool.err", rc = dir_ / "tool.rc";
        cmd += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + "; echo $? >" + ShellQuote(rc);
        std::system(cmd.c_str());
        ToolRun run;
        run.exitCode = std::stoi(ReadFile(rc));
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }
    // Runs a shell script and gives its exit code.
    int RunScript(const std::string& script) {
        const fs::path path = dir_ / "script.sh", rc = dir_ / "script.rc";
        WriteFile(path, script);
        std::system(("sh " + ShellQuote(path) + "; echo $? >" + ShellQuote(rc)).c_str());
        return std::stoi(ReadFile(rc));
    }

    qvtest::TempFolder folder_{"qv-registry-"};
    const fs::path& dir_ = folder_.path();
};

TEST_F(RegistryStoreTest, KeyPathsAndValueNamesIgnoreCaseAndKeepTheFirstWritersCase) {
    RegistryStore hklm(RegistryHive::LocalMachine);
    ASSERT_EQ(hklm.SetString("SoftWare\\Quorvane\\Downloader2.5.0", "GA_PC", "1"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(hklm.SetString("SOFTWARE\\QUORVANE\\downloader2.5.0\\", "ga_pc", "2"), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(hklm.GetString("software\\quorvane\\DOWNLOADER2.5.0", "Ga_Pc"), "2");
    EXPECT_TRUE(hklm.KeyExists("SOFTWARE"));
    EXPECT_TRUE(hklm.KeyExists("software\\QUORVANE"));

    auto values = hklm.ListValues("SOFTWARE\\Quorvane\\Downloader2.5.0");
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 1u);
    EXPECT_EQ((*values)[0].name, "GA_PC");
    const std::string file = ReadFile(hklm.FilePath());
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\SoftWare\\Quorvane\\Downloader2.5.0]\r\n\"GA_PC\"=\"2\"\r\n"),
              std::string::npos) << file;
    EXPECT_EQ(file.find("SOFTWARE\\QUORVANE"), std::string::npos) << file;

    // The hives are separate files.
    RegistryStore hkcu(RegistryHive::CurrentUser);
    EXPECT_FALSE(hkcu.KeyExists("SOFTWARE\\Quorvane"));
    EXPECT_EQ(hkcu.FilePath(), dir_ / "HKCU.reg");
    EXPECT_EQ(hklm.FilePath(), dir_ / "HKLM.reg");

    // Deleting in another case removes the key with its subkeys, nothing else.
    ASSERT_EQ(hklm.SetString("Software\\Other", "x", "y"), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(*hklm.ListSubkeys("software"), (Strings{"Other", "Quorvane"}));
    EXPECT_EQ(hklm.DeleteKey("SOFTWARE\\QUORVANE"), RegistryResult::REG_RESULT_OK);
    EXPECT_FALSE(hklm.KeyExists("Software\\Quorvane\\Downloader2.5.0"));
    EXPECT_EQ(hklm.GetString("SOFTWARE\\OTHER", "X"), "y");
    EXPECT_EQ(hklm.DeleteKey("Software\\Quorvane"), RegistryResult::REG_RESULT_KEY_NOT_FOUND);
    EXPECT_EQ(hklm.DeleteValue("Software\\Other", "nope"), RegistryResult::REG_RESULT_VALUE_NOT_FOUND);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RegistryStoreTest, StringsRoundTripAnyUtf8Text) {
    const Strings texts = {
        "", "plain", "say \"hi\"", "\"", "C:\\Program Files\\", "\\\\server\\share", "a=b", "[HKEY_LOCAL_MACHINE\\x]",
        "line1\nline2", "crlf\r\nend\r\n", "\n", "tab\there", "; not a comment", "@", "hex(7):00,00",
        "dword:00000001", "\"name\"=\"value\"", "日本語 Ünïcödé 😀", "\x01\x1f\x7f", std::string(3000, 'z') + "\n"};
    RegistryStore writer(RegistryHive::CurrentUser);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(writer.SetString("Software\\RoundTrip", "v" + std::to_string(i), texts[i]),
                  RegistryResult::REG_RESULT_OK) << i;
        // Names carry the same characters, apart from line breaks.
        ASSERT_EQ(writer.SetString("Software\\Names", "n=\"[" + std::to_string(i) + "]\\@", texts[i]),
                  RegistryResult::REG_RESULT_OK) << i;
    }
    ASSERT_EQ(writer.SetString("Software\\RoundTrip", "", "the default"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(writer.SetString("Software\\RoundTrip", "@", "a value named @"), RegistryResult::REG_RESULT_OK);

    RegistryStore reader(RegistryHive::CurrentUser);  // reads the file afresh
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(reader.GetString("Software\\RoundTrip", "v" + std::to_string(i)), texts[i]) << i;
        EXPECT_EQ(reader.GetString("Software\\Names", "n=\"[" + std::to_string(i) + "]\\@"), texts[i]) << i;
    }
    EXPECT_EQ(reader.GetString("Software\\RoundTrip", ""), "the default");
    EXPECT_EQ(reader.GetString("Software\\RoundTrip", "@"), "a value named @");
    EXPECT_TRUE(Reports().empty()) << Reports().front();
}

TEST_F(RegistryStoreTest, MultiStringsRoundTripWithEveryElementKept) {
    const std::vector<Strings> lists = {
        {},
        {""},
        {"", ""},
        {"one"},
        {"a", "", "b"},
        {"a", ""},
        {"\\??\\C:\\Apps\\Prod\\x.dll", "", "\\??\\C:\\new", "!\\??\\C:\\y"},
        {"line\nbreak", "日本", "\"q\"", "x\\y", "k=v", "[s]", "😀"},
    };
    RegistryStore store(RegistryHive::LocalMachine);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        ASSERT_EQ(store.SetMultiString("System\\Multi", "m" + std::to_string(i), lists[i]),
                  RegistryResult::REG_RESULT_OK) << i;
    }
    Strings many;
    for (int i = 0; i < 40; ++i) many.push_back("element-" + std::to_string(i));
    ASSERT_EQ(store.SetMultiString("System\\Multi", "many", many), RegistryResult::REG_RESULT_OK);

    RegistryStore reader(RegistryHive::LocalMachine);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        EXPECT_EQ(reader.GetMultiString("System\\Multi", "m" + std::to_string(i)), lists[i]) << i;
    }
    EXPECT_EQ(reader.GetMultiString("System\\Multi", "many"), many);
    // A list is not a string, nor the other way round.
    std::string text;
    EXPECT_EQ(reader.ReadString("System\\Multi", "m3", text), RegistryResult::REG_RESULT_WRONG_TYPE);
    ASSERT_EQ(store.SetString("System\\Multi", "s", "x"), RegistryResult::REG_RESULT_OK);
    EXPECT_FALSE(reader.GetMultiString("System\\Multi", "s"));

    // Long lists wrap as regedit wraps them, within 80 columns.
    std::istringstream lines(ReadFile(reader.FilePath()));
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 81u) << line;
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RegistryStoreTest, FileIsRegedit5TextAsRegeditWritesIt) {
    RegistryStore store(RegistryHive::CurrentUser);
    ASSERT_EQ(store.SetMultiString("Software\\Fmt", "m", {"ab", "c"}), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(store.SetString("Software\\Fmt", "nl", "a\nb"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(store.SetString("Software\\Fmt", "q", "say \"hi\" C:\\"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(store.SetString("Software\\Fmt", "", "d"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(store.CreateKey("Software\\Fmt\\Empty"), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(ReadFile(store.FilePath()),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software]\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Fmt]\r\n"
              "\"m\"=hex(7):61,00,62,00,00,00,63,00,00,00,00,00\r\n"
              "\"nl\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
              "\"q\"=\"say \\\"hi\\\" C:\\\\\"\r\n"
              "@=\"d\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Fmt\\Empty]\r\n");
}

TEST_F(RegistryStoreTest, ReadsAHandWrittenRegeditFileAndKeepsValuesOfOtherTypes) {
    WriteFile(dir_ / "HKLM.reg",
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; pending operations: a delete (empty target) and a rename\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
              "\"PendingFileRenameOperations\"=hex(7):5c,00,3f,00,3f,00,5c,00,43,00,3a,00,5c,00,\\\r\n"
              "  61,00,00,00,00,00,5c,00,3f,00,3f,00,5c,00,43,00,3a,00,5c,00,62,00,00,00,00,\\\r\n"
              "  00,00,00\r\n"
              "\"Flag\"=dword:00000001\r\n"
              "\"Bin\"=hex:01,02,FF\r\n"
              "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "@=\"default\"\r\n"
              "\"Unterminated\"=hex(7):61,00\r\n"
              "\r\n"
              "[hkey_local_machine\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client]\n"
              "\"Version\"=\"4.8.03761\"\n");
    RegistryStore store(RegistryHive::LocalMachine);
    const std::string session = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    EXPECT_EQ(store.GetMultiString(session, "PendingFileRenameOperations"),
              (Strings{"\\??\\C:\\a", "", "\\??\\C:\\b", ""}));
    EXPECT_EQ(store.GetString(session, ""), "default");
    EXPECT_EQ(store.GetString("SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client", "Version"), "4.8.03761");
    std::string text;
    EXPECT_EQ(store.ReadString(session, "Flag", text), RegistryResult::REG_RESULT_WRONG_TYPE);

    // An update keeps what the store does not interpret.
    ASSERT_EQ(store.SetString(session, "New", "n"), RegistryResult::REG_RESULT_OK);
    auto values = store.ListValues(session);
    ASSERT_TRUE(values);
    Strings seen;
    for (const auto& v : *values) seen.push_back(v.name + "|" + to_string(v.type) + "|" + v.text);
    EXPECT_EQ(seen, (Strings{"PendingFileRenameOperations|REG_MULTI_SZ|", "Flag|REG_OTHER|dword:00000001",
                             "Bin|REG_OTHER|hex:01,02,ff", "Expand|REG_OTHER|hex(2):25,00,41,00,25,00,00,00",
                             "|REG_SZ|default", "Unterminated|REG_MULTI_SZ|", "New|REG_SZ|n"}));
    EXPECT_EQ(store.GetMultiString(session, "unterminated"), Strings{"a"});
    EXPECT_EQ(store.GetMultiString(session, "PendingFileRenameOperations")->size(), 4u);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RegistryStoreTest, OversizedOrMalformedArgumentsAreRefusedAndChangeNothing) {
    RegistryStore store(RegistryHive::CurrentUser);
    ASSERT_EQ(store.SetString("Software\\Keep", "k", "v"), RegistryResult::REG_RESULT_OK);
    const std::string before = ReadFile(store.FilePath());

    struct Case {
        const char* what;
        std::function<RegistryResult()> act;
    };
    const std::string longComponent(256, 'k');
    std::string deepPath = "Software";
    while (deepPath.size() <= platform::RegistryLimits::kMaxKeyPathBytes) deepPath += "\\abcdefgh";
    const Case cases[] = {
        {"leading backslash", [&] { return store.SetString("\\Software", "n", "v"); }},
        {"empty component", [&] { return store.SetString("Software\\\\X", "n", "v"); }},
        {"line break in a key", [&] { return store.SetString("Software\\a\nb", "n", "v"); }},
        {"key name of 256 characters", [&] { return store.CreateKey("Software\\" + longComponent); }},
        {"key path over the bound", [&] { return store.CreateKey(deepPath); }},
        {"line break in a name", [&] { return store.SetString("Software\\Keep", "a\nb", "v"); }},
        {"name over the bound", [&] { return store.SetString("Software\\Keep", std::string(16384, 'n'), "v"); }},
        {"value over the bound",
         [&] { return store.SetString("Software\\Keep", "n", std::string(platform::RegistryLimits::kMaxValueBytes + 1, 'v')); }},
        {"list over the bound",
         [&] { return store.SetMultiString("Software\\Keep", "n", Strings(2, std::string(600000, 'v'))); }},
        {"NUL in a value", [&] { return store.SetString("Software\\Keep", "n", std::string("a\0b", 3)); }},
        {"NUL in a list element", [&] { return store.SetMultiString("Software\\Keep", "n", {std::string("a\0b", 3)}); }},
        {"invalid UTF-8", [&] { return store.SetString("Software\\Keep", "n", "\xC3\x28"); }},
        {"root deleted", [&] { return store.DeleteKey(""); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.act(), RegistryResult::REG_RESULT_INVALID_ARGUMENT) << c.what;
        EXPECT_EQ(ReadFile(store.FilePath()), before) << c.what;
    }
    EXPECT_EQ(Reports().size(), std::size(cases));
    EXPECT_NE(Reports()[3].find("255 characters"), std::string::npos) << Reports()[3];
    // The bounds themselves are accepted.
    EXPECT_EQ(store.CreateKey("Software\\" + std::string(255, 'k')), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(store.SetString("Software\\Keep", "big", std::string(platform::RegistryLimits::kMaxValueBytes, 'v')),
              RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(store.GetString("Software\\Keep", "big")->size(), platform::RegistryLimits::kMaxValueBytes);
}

TEST_F(RegistryStoreTest, CorruptFileIsLoggedOnceReadAsEmptyAndKeptBeforeTheNextWrite) {
    const fs::path logFile = dir_ / "setup.log";
    struct RestoreLogger {
        ~RestoreLogger() { qvlog::InitDefaultLogger(); }
    } restoreLogger;
    ASSERT_TRUE(qvlog::ConfigureLogFile(logFile.string()));
    FuntionImpl::RouteRegistryReportsToLog();

    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"binary garbage", std::string("\x00\x01\x02\xff\xfe garbage", 14)},
        {"empty file", ""},
        {"no header", "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=\"b\"\r\n"},
        {"UTF-16 export", std::string("\xff\xfeW\0i\0n\0", 8)},
        {"unterminated quote", header + "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=\"b\r\n"},
        {"unknown escape", header + "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=\"b\\n\"\r\n"},
        {"bad hex byte", header + "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=hex(7):6x,00\r\n"},
        {"odd UTF-16 length", header + "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=hex(7):61,00,00\r\n"},
        {"continuation past the end", header + "[HKEY_CURRENT_USER\\Software]\r\n\"a\"=hex(7):61,00,\\"},
        {"value outside a key", header + "\"a\"=\"b\"\r\n"},
        {"other hive", header + "[HKEY_LOCAL_MACHINE\\Software]\r\n"},
        {"truncated key line", header + "[HKEY_CURRENT_USER\\Soft"},
        {"deletion entry", header + "[-HKEY_CURRENT_USER\\Software]\r\n"},
        {"oversized file", header + ";" + std::string(platform::RegistryLimits::kMaxFileBytes, 'x') + "\r\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = dir_ / ("case" + std::to_string(n++));
        fs::create_directories(folder);
        RegistryStore store(RegistryHive::CurrentUser, folder);
        WriteFile(store.FilePath(), c.bytes);

        for (int read = 0; read < 3; ++read) {
            EXPECT_FALSE(store.KeyExists("Software"));
            EXPECT_FALSE(store.GetString("Software", "a"));
        }
        ASSERT_EQ(store.SetString("Software\\Fresh", "a", "new"), RegistryResult::REG_RESULT_OK);
        EXPECT_EQ(store.GetString("Software\\Fresh", "a"), "new");
        EXPECT_FALSE(store.GetString("Software", "a"));

        Strings copies;
        for (const auto& e : fs::directory_iterator(folder)) {
            if (e.path().filename().string().rfind("HKCU.reg.corrupt-", 0) == 0) copies.push_back(e.path());
        }
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_TRUE(ReadFile(copies[0]) == c.bytes);

        el::Loggers::flushAll();
        const std::string log = ReadFile(logFile);
        std::size_t reportsOfThisFile = 0;
        for (std::size_t at = log.find("is corrupt"); at != std::string::npos; at = log.find("is corrupt", at + 1)) {
            if (log.compare(log.find(':', at) + 2, store.FilePath().string().size(), store.FilePath().string()) == 0) {
                ++reportsOfThisFile;
            }
        }
        EXPECT_EQ(reportsOfThisFile, 1u) << log;
        EXPECT_NE(log.find(" Kept the corrupt registry file as: " + copies[0]), std::string::npos);
    }
}

TEST_F(RegistryStoreTest, EightProcessesWritingAtOnceLoseNothing) {
    // Four writes each: with the writers' lock shared instead of exclusive, every run loses
    // values or fails a replace; each write costs a process start.
    constexpr int kProcesses = 8, kWrites = 4;
    std::string script = "pids=\n";
    for (int p = 0; p < kProcesses; ++p) {
        script += "( for j in $(seq 0 " + std::to_string(kWrites - 1) + "); do QV_REGISTRY_DIR=" + ShellQuote(dir_) +
                  " " + ShellQuote(QV_SETUP_TOOL) + " reg set HKCU 'Software\\Race' p" + std::to_string(p) +
                  "_$j \"value " + std::to_string(p) + " $j\" || exit 1; done ) &\npids=\"$pids $!\"\n";
    }
    script += "rc=0\nfor pid in $pids; do wait $pid || rc=1; done\nexit $rc\n";
    ASSERT_EQ(RunScript(script), 0);

    RegistryStore store(RegistryHive::CurrentUser);
    auto values = store.ListValues("software\\race");
    ASSERT_TRUE(values);
    EXPECT_EQ(values->size(), static_cast<std::size_t>(kProcesses * kWrites));
    for (int p = 0; p < kProcesses; ++p) {
        for (int j = 0; j < kWrites; ++j) {
            EXPECT_EQ(store.GetString("Software\\Race", "p" + std::to_string(p) + "_" + std::to_string(j)),
                      "value " + std::to_string(p) + " " + std::to_string(j));
        }
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RegistryStoreTest, ThreadsSharingOneStoreLoseNothing) {
    RegistryStore shared(RegistryHive::LocalMachine);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            RegistryStore own(RegistryHive::LocalMachine);
            for (int j = 0; j < 20; ++j) {
                RegistryStore& store = (j % 2) ? shared : own;
                if (store.SetString("Software\\Threads", std::to_string(t) + "." + std::to_string(j), "x") !=
                    RegistryResult::REG_RESULT_OK) {
                    ++failures;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(shared.ListValues("Software\\Threads")->size(), 160u);
}

TEST_F(RegistryStoreTest, WriterKilledBeforeTheRenameLeavesThePreviousFileWhole) {
    RegistryStore store(RegistryHive::LocalMachine);
    ASSERT_EQ(store.SetString("Software\\Kill", "v", "old"), RegistryResult::REG_RESULT_OK);
    ASSERT_EQ(store.SetMultiString("Software\\Kill", "m", {"a", "b"}), RegistryResult::REG_RESULT_OK);
    const std::string before = ReadFile(store.FilePath());
    const fs::path marker = dir_ / "paused", pending = dir_ / "pending.copy";

    // The writer stops once its new file is complete under the temporary name; the kill
    // lands exactly between writing and renaming.
    const std::string script =
        "QV_REGISTRY_DIR=" + ShellQuote(dir_) + " QV_REGISTRY_TEST_PAUSE_FILE=" + ShellQuote(marker) + " " +
        ShellQuote(QV_SETUP_TOOL) + " reg set HKLM 'Software\\Kill' v new >/dev/null 2>&1 &\n"
        "pid=$!\n"
        "i=0; while [ ! -e " + ShellQuote(marker) + " ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\n"
        "[ -e " + ShellQuote(marker) + " ] || { kill -9 $pid; exit 3; }\n"
        "cp " + ShellQuote(dir_) + "/HKLM.reg.tmp-$pid " + ShellQuote(pending) + " || { kill -9 $pid; exit 4; }\n"
        "kill -9 $pid\n"
        "wait $pid 2>/dev/null\n"
        "[ $? -eq 137 ] || exit 5\n";
    ASSERT_EQ(RunScript(script), 0);

    EXPECT_NE(ReadFile(pending).find("\"v\"=\"new\""), std::string::npos) << "the kill came too early";
    EXPECT_EQ(ReadFile(store.FilePath()), before);
    EXPECT_EQ(store.GetString("Software\\Kill", "v"), "old");

    // The next writer clears what the killed one left and writes normally.
    ASSERT_EQ(store.SetString("Software\\Kill", "v", "next"), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(store.GetString("Software\\Kill", "v"), "next");
    EXPECT_EQ(store.GetMultiString("Software\\Kill", "m"), (Strings{"a", "b"}));
    for (const auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(RegistryStoreTest, WritersKilledAtAnyMomentLeaveAReadableFile) {
    RegistryStore store(RegistryHive::CurrentUser);
    ASSERT_EQ(store.SetString("Software\\Kill", "v", "0"), RegistryResult::REG_RESULT_OK);
    // Kills spread over the writer's whole life: start-up, lock, write, rename, exit.
    for (int round = 1; round <= 12; ++round) {
        const std::string delay = std::to_string(round * 0.008);  // seconds
        const std::string script = "QV_REGISTRY_DIR=" + ShellQuote(dir_) + " " + ShellQuote(QV_SETUP_TOOL) +
                                   " reg set HKCU 'Software\\Kill' v " + std::to_string(round) +
                                   " >/dev/null 2>&1 &\npid=$!\nsleep " + delay +
                                   "\nkill -9 $pid 2>/dev/null\nwait $pid 2>/dev/null\nexit 0\n";
        ASSERT_EQ(RunScript(script), 0);
        auto v = store.GetString("Software\\Kill", "v");
        ASSERT_TRUE(v) << "round " << round;
        EXPECT_TRUE(*v == std::to_string(round - 1) || *v == std::to_string(round))
            << "round " << round << " read " << *v;
        // Settle the value so the next round starts from a known one.
        ASSERT_EQ(store.SetString("Software\\Kill", "v", std::to_string(round)), RegistryResult::REG_RESULT_OK);
    }
    EXPECT_TRUE(Reports().empty()) << Reports().front();
}

TEST_F(RegistryStoreTest, FolderComesFromTheEnvironment) {
    EXPECT_EQ(RegistryStore(RegistryHive::LocalMachine).FilePath(), dir_ / "HKLM.reg");
    EXPECT_EQ(RegistryStore(RegistryHive::CurrentUser).FilePath(), dir_ / "HKCU.reg");

    const char* oldState = std::getenv("XDG_STATE_HOME");
    const std::string savedState = oldState ? oldState : "";
    unsetenv("QV_REGISTRY_DIR");
    setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
    EXPECT_EQ(RegistryStore(RegistryHive::CurrentUser).FilePath(), dir_ / "state" / "quorvane-setup" / "HKCU.reg");
    if (oldState) {
        setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }

    // Reading a hive whose folder does not exist creates nothing.
    RegistryStore absent(RegistryHive::CurrentUser, dir_ / "absent");
    EXPECT_FALSE(absent.GetString("Software", "x"));
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
    EXPECT_EQ(absent.SetString("Software", "x", "y"), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(absent.GetString("software", "X"), "y");
}

TEST_F(RegistryStoreTest, HelpersReadAtMost129CharactersAndWriteStrings) {
    using FuntionImpl::ReadRegistryString;
    const auto hklm = RegistryHive::LocalMachine;
    const std::string key = "SOFTWARE\\Quorvane\\Downloader2.5.0";
    EXPECT_EQ(ReadRegistryString(hklm, key, "GA_PC"), "");
    EXPECT_FALSE(FuntionImpl::ReadRegistryStringValue(hklm, key, "GA_PC"));
    ASSERT_TRUE(FuntionImpl::WriteRegistryString(hklm, key, "GA_PC", "1"));
    EXPECT_EQ(ReadRegistryString(hklm, "software\\quorvane\\downloader2.5.0", "ga_pc"), "1");
    ASSERT_TRUE(FuntionImpl::WriteRegistryString(hklm, key, "Empty", ""));
    EXPECT_EQ(FuntionImpl::ReadRegistryStringValue(hklm, key, "Empty"), "");
    EXPECT_FALSE(FuntionImpl::WriteRegistryString(hklm, "\\bad", "x", "y"));

    std::string wide;
    for (int i = 0; i < 129; ++i) wide += "語";
    std::string emoji;
    for (int i = 0; i < 129; ++i) emoji += "😀";
    struct Case {
        std::string text;
        bool fits;
    };
    const Case cases[] = {
        {std::string(129, 'a'), true}, {std::string(130, 'a'), false}, {std::string(1000, 'a'), false},
        {wide, true},                  {wide + "語", false},            {emoji, true},
        {"with\nline break", true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(FuntionImpl::WriteRegistryString(hklm, key, "v", c.text));
        EXPECT_EQ(ReadRegistryString(hklm, key, "v"), c.fits ? c.text : "") << c.text.size();
        EXPECT_EQ(FuntionImpl::ReadRegistryStringValue(hklm, key, "v").has_value(), c.fits);
        EXPECT_EQ(RegistryStore(hklm).GetString(key, "v"), c.text);  // the store itself keeps everything
    }

    ASSERT_EQ(RegistryStore(hklm).SetMultiString(key, "list", {"a", "", "b"}), RegistryResult::REG_RESULT_OK);
    EXPECT_EQ(FuntionImpl::ReadRegistryMultiString(hklm, key, "list"), (Strings{"a", "", "b"}));
    EXPECT_EQ(ReadRegistryString(hklm, key, "list"), "");
    EXPECT_FALSE(FuntionImpl::ReadRegistryMultiString(hklm, key, "GA_PC"));
}

TEST_F(RegistryStoreTest, SetupToolRegGetsSetsAndDeletes) {
    struct Step {
        Strings args;
        int exitCode;
        std::string out;  // expected standard output, "*" = not checked
    };
    const Step steps[] = {
        {{"reg"}, 2, ""},
        {{"reg", "get"}, 2, ""},
        {{"reg", "get", "HKXX", "Software"}, 2, ""},
        {{"reg", "frob", "HKCU", "Software"}, 2, ""},
        {{"reg", "set", "HKCU", "Software\\Tool", "name"}, 2, ""},
        {{"reg", "get", "HKCU", "\\Software"}, 2, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "name", "extra"}, 2, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "name", "--multi"}, 2, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "name"}, 1, ""},
        {{"reg", "get", "HKCU", "Software\\Tool"}, 1, ""},
        {{"reg", "set", "HKEY_CURRENT_USER", "Software\\Tool", "name", "va=l \"x\" C:\\"}, 0, ""},
        {{"reg", "get", "hkcu", "SOFTWARE\\tool", "NAME"}, 0, "va=l \"x\" C:\\\n"},
        {{"reg", "set", "HKCU", "Software\\Tool", "list", "one", "", "three"}, 0, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "list"}, 0, "one\n\nthree\n"},
        {{"reg", "set", "HKCU", "Software\\Tool", "--multi", "single", "only"}, 0, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "single"}, 0, "only\n"},
        {{"reg", "set", "HKCU", "Software\\Tool", "--", "--multi", "dashes"}, 0, ""},
        {{"reg", "set", "HKCU", "Software\\Tool\\Sub"}, 0, ""},
        {{"reg", "get", "HKCU", "Software\\Tool"}, 0,
         "    name    REG_SZ    va=l \"x\" C:\\\n    list    REG_MULTI_SZ    one\\0\\0three\n"
         "    single    REG_MULTI_SZ    only\n    --multi    REG_SZ    dashes\nSoftware\\Tool\\Sub\n"},
        {{"reg", "delete", "HKCU", "Software\\Tool", "name"}, 0, ""},
        {{"reg", "delete", "HKCU", "Software\\Tool", "name"}, 1, ""},
        {{"reg", "set", "HKEY_LOCAL_MACHINE", "Software\\Machine", "m", "1"}, 0, ""},
        {{"reg", "delete", "HKCU", "Software\\Tool"}, 0, ""},
        {{"reg", "get", "HKCU", "Software\\Tool", "list"}, 1, ""},
        {{"reg", "get", "HKLM", "software\\machine", "M"}, 0, "1\n"},
    };
    for (const auto& step : steps) {
        std::string line;
        for (const auto& a : step.args) line += a + " ";
        ToolRun run = RunTool(step.args);
        EXPECT_EQ(run.exitCode, step.exitCode) << line << "\n" << run.err;
        if (step.out != "*") {
            EXPECT_EQ(run.out, step.out) << line;
        }
        if (step.exitCode == 2) {
            EXPECT_NE(run.err.find("usage: setup-tool reg"), std::string::npos) << line;
        }
    }
    EXPECT_FALSE(RegistryStore(RegistryHive::CurrentUser).KeyExists("Software\\Tool"));
    EXPECT_EQ(RegistryStore(RegistryHive::LocalMachine).GetString("Software\\Machine", "m"), "1");
}

TEST_F(RegistryStoreTest, SetupToolReportsACorruptHiveOnStandardError) {
    WriteFile(dir_ / "HKCU.reg", "not a registry file\n");
    ToolRun get = RunTool({"reg", "get", "HKCU", "Software", "x"});
    EXPECT_EQ(get.exitCode, 1);
    EXPECT_NE(get.err.find("Registry file is corrupt and is treated as empty: " + (dir_ / "HKCU.reg").string()),
              std::string::npos) << get.err;
    ToolRun set = RunTool({"reg", "set", "HKCU", "Software", "x", "y"});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_NE(set.err.find("Kept the corrupt registry file as: "), std::string::npos) << set.err;
    EXPECT_EQ(RunTool({"reg", "get", "HKCU", "Software", "x"}).out, "y\n");
}

}  // namespace
