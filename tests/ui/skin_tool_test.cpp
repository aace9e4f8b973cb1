#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/ShellCommand.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

using ToolRun = qvtest::ShellResult;

class SkinTool : public ::testing::Test {
protected:
    void SetUp() override {
        pkg_ = dir_.path() / "pkg";
        fs::create_directories(pkg_ / "skin");
        fs::create_directories(pkg_ / "language");
    }
    void Write(const std::string& rel, const std::string& text) { std::ofstream(pkg_ / rel, std::ios::binary) << text; }

    ToolRun Run(const std::string& args, bool useFolder = true) {
        std::string env = useFolder ? "SETUP_SKIN_DIR='" + pkg_.string() + "' " : std::string();
        return qvtest::RunShellCommand("env -i PATH=/usr/bin:/bin " + env + "'" QV_SETUP_TOOL "' skin " + args,
                                       dir_.path());
    }
    qvtest::TempFolder dir_{"qv_skin_tool_"};
    fs::path pkg_;
};

TEST_F(SkinTool, ListAndCatUseTheToolkitsLookup) {
    Write("Main.xml", "<Window><Label/></Window>");
    Write("skin/Btn.png", "not really a png");
    ToolRun list = Run("list");
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "Main.xml\nlanguage/\nskin/\nskin/Btn.png\n");

    ToolRun cat = Run("cat 'SKIN\\btn.PNG'");
    EXPECT_EQ(cat.exitCode, 0);
    EXPECT_EQ(cat.out, "not really a png");
    ToolRun missing = Run("cat nope.xml");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nope.xml: Could not find ziped file"), std::string::npos) << missing.err;

    EXPECT_EQ(Run("").exitCode, 2);
    EXPECT_EQ(Run("cat").exitCode, 2);
    EXPECT_EQ(Run("frobnicate").exitCode, 2);
    // Without SETUP_SKIN_DIR the embedded package is read.
    ToolRun embedded = Run("list", false);
    EXPECT_EQ(embedded.exitCode, 0);
    EXPECT_NE(embedded.out.find("skin/\n"), std::string::npos);
}

TEST_F(SkinTool, CheckReportsEveryProblemWithItsFileAndPlace) {
    Write("skin/ok.png", "x");
    Write("InstallMainWnd.xml",
          "<Window size=\"10,10\">\n"
          "  <Font name=\"A\" size=\"12\"/>\n"
          "  <Font name=\"B\" size=\"14\"/>\n"
          "  <VerticalLayout bkimage=\"skin\\OK.png\">\n"
          "    <Include source=\"Row.xml\"/>\n"
          "    <Label font=\"2\" text=\"{f 1}fine{/f}\"/>\n"
          "  </VerticalLayout>\n"
          "</Window>\n");
    Write("Row.xml",
          "<VerticalLayout>\n"
          "  <Button normalimage=\"file='skin\\missing.png' source='0,0,1,1'\"/>\n"
          "</VerticalLayout>\n");
    Write("Broken.xml", "<VerticalLayout>\n  <Label text='single'/>\n</VerticalLayout>\n");
    Write("Defaults.xml", "<ScrollbarConfig><Default name=\"VScrollBar\" value=\"\"/></ScrollbarConfig>");
    Write("language/language_x.xml",
          "\xEF\xBB\xBF<VerticalLayout><VerticalLayout name=\"language_x\">\n"
          "<Label name=\"a\" text=\"{f 1}ok{/f} {f 5}too far{/f}\"/></VerticalLayout></VerticalLayout>");

    ToolRun check = Run("check");
    EXPECT_EQ(check.exitCode, 1) << check.out << check.err;
    const char* expected[] = {
        "InstallMainWnd.xml:6: font 2 is out of range (window InstallMainWnd.xml has 2 fonts)",
        "warning: Row.xml:2: normalimage names an image found nowhere: skin\\missing.png",
        "Broken.xml: Broken.xml: Expected attribute value at line 2, column 15",
        "language/language_x.xml:2: font 5 is out of range (the main window has 2 fonts)",
        "skin check: 3 problem(s), 1 warning(s) in 5 layout and language file(s)",
    };
    for (const char* line : expected) EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
    EXPECT_EQ(check.out.find("Defaults.xml"), std::string::npos) << check.out;

    Write("Broken.xml", "<VerticalLayout/>");
    Write("Row.xml", "<VerticalLayout/>");
    Write("language/language_x.xml", "<VerticalLayout><Label text=\"{f 1}ok{/f}\"/></VerticalLayout>");
    Write("InstallMainWnd.xml", "<Window><Font name=\"A\"/><Label font=\"0\"/></Window>");
    ToolRun clean = Run("check");
    EXPECT_EQ(clean.exitCode, 1) << clean.out;  // {f 1} with one font
    Write("language/language_x.xml", "<VerticalLayout><Label text=\"{f 0}ok{/f}\"/></VerticalLayout>");
    clean = Run("check");
    EXPECT_EQ(clean.exitCode, 0) << clean.out;
    EXPECT_NE(clean.out.find("skin check: OK"), std::string::npos);
    // A missing picture alone is a warning, not a failure.
    Write("Row.xml", "<VerticalLayout>\n  <Button normalimage=\"skin\\gone.png\"/>\n</VerticalLayout>\n");
    clean = Run("check");
    EXPECT_EQ(clean.exitCode, 0) << clean.out;
    EXPECT_NE(clean.out.find("warning: Row.xml:2: normalimage names an image found nowhere: skin\\gone.png"),
              std::string::npos) << clean.out;
}

}  // namespace
