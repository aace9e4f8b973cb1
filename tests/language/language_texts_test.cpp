// The language table, the texts read from the language files, and the filling of the three
// format texts, on the shipped package and on small hostile ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <thread>

#include "src/language/CLanguageTexts.h"
#include "src/language/LanguageFormat.h"
#include "src/language/LanguageTable.h"
#include "LanguageTestSupport.h"
#include "ui/CCombo.h"
#include "ui/CListLabelElement.h"

namespace {

using namespace langtest;

std::unique_ptr<SkinUI::CSkinPackage> ShippedPackage() { return SkinUI::CSkinPackage::OpenFolder(kShippedSkin.string()); }

TEST(LanguageTable, RowsMatchTheShippedComboItemsAndFiles) {
    auto package = ShippedPackage();
    ASSERT_TRUE(package);
    auto host = BuildWindow(package.get());
    auto* combo = dynamic_cast<SkinUI::CCombo*>(host->GetRoot()->FindSubControl("language_combox"));
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->GetCount(), kLanguageCount);
    for (const TLanguageInfo& info : LanguageTable()) {
        SCOPED_TRACE(info.name);
        EXPECT_EQ(&info, FindLanguage(info.index));
        EXPECT_EQ(combo->GetListItem(info.index)->GetText(), info.comboItem);
        EXPECT_TRUE(package->Contains(LanguageFileEntry(info.index))) << LanguageFileEntry(info.index);
        EXPECT_EQ(std::string(info.installerValue), info.innoRegistryValue);
    }
    EXPECT_EQ(FindLanguage(-1), nullptr);
    EXPECT_EQ(FindLanguage(kLanguageCount), nullptr);
    EXPECT_EQ(LanguageFileEntry(20), "");
    EXPECT_EQ(LanguageOrEnglish(57).name, std::string("English"));
}

TEST(LanguageTable, FontsHeightsAndInstallerValues) {
    for (int index = -1; index <= kLanguageCount; ++index) {
        const char* expected = index == 1                   ? "Meiryo UI"
                               : index == 11                ? "batang"
                               : (index >= 3 && index <= 9) ? "Times New Roman"
                                                            : "Microsoft YaHei";
        EXPECT_EQ(FontForLanguage(index), expected) << index;
    }
    EXPECT_EQ(LicenseLayoutHeight(0, 127), 1540);
    EXPECT_EQ(LicenseLayoutHeight(2, 1), 1265);
    EXPECT_EQ(LicenseLayoutHeight(2, 118), 2170);
    EXPECT_EQ(LicenseLayoutHeight(2, 127), 2170);
    EXPECT_EQ(LicenseLayoutHeight(10, 127), 1265);
    EXPECT_EQ(LicenseLayoutHeight(19, 0), 1580);

    struct Case { int index, downloaderId; const char* value; };
    for (const Case& c : {Case{1, 117, "jp"}, Case{1, 125, "jp"}, Case{1, 121, "ja"}, Case{1, 224, "ja"},
                          Case{2, 117, "zhcn"}, Case{10, 0, "zhtw"}, Case{19, 0, "cz"}, Case{20, 0, "en"},
                          Case{-1, 0, "en"}})
        EXPECT_EQ(InstallerLanguageValue(c.index, c.downloaderId), c.value) << c.index << " " << c.downloaderId;
    EXPECT_STREQ(FindLanguage(2)->nsisRegistryValue, "1028");
    EXPECT_STREQ(FindLanguage(10)->nsisRegistryValue, "32772");
    EXPECT_STREQ(FindLanguage(11)->nsisRegistryValue, "");
}

TEST(LanguageTexts, ReadsEveryShippedFileThroughTheBuilder) {
    auto package = ShippedPackage();
    CLanguageTexts texts(package.get());
    for (int index = 0; index < kLanguageCount; ++index) {
        std::string error;
        auto file = texts.File(index, &error);
        ASSERT_TRUE(file) << index << ": " << error;
        ASSERT_NE(file->Container("install_page"), nullptr) << index;
        ASSERT_NE(file->Container("message_page"), nullptr) << index;
        EXPECT_EQ(file->Container("install_page")->size(), 23u) << index;
        EXPECT_EQ(file->Container("message_page")->size(), 28u) << index;
        EXPECT_EQ(texts.File(index), file) << "parsed once and kept";
    }
    EXPECT_EQ(texts.GetLanguageText(2, "install_page", "install_btn"), "立即安装");
    EXPECT_EQ(texts.GetLanguageText(2, "message_page", "ConfirmText"), "确定");
    EXPECT_EQ(texts.GetLanguageText(2, "INSTALL_PAGE", "Install_Btn"), "立即安装") << "names ignore letter case";
    // Markup and format marks come as written.
    EXPECT_EQ(texts.GetLanguageText(2, "install_page", "install_label"), "正在安装……%0.f%%");
    EXPECT_EQ(texts.GetLanguageText(2, "install_page", "no_such_label"), "");
    EXPECT_EQ(texts.GetLanguageText(2, "no_such_page", "install_btn"), "");
    EXPECT_EQ(texts.GetLanguageText(2, "message_page", "install_btn"), "") << "a label of the other container";
    EXPECT_EQ(texts.GetLanguageText(20, "install_page", "install_btn"), "");
    EXPECT_EQ(texts.GetLanguageText(-1, "install_page", "install_btn"), "");
    EXPECT_EQ(CLanguageTexts(nullptr).GetLanguageText(0, "install_page", "install_btn"), "");
}

TEST(LanguageTexts, BrokenFilesGiveNoTextsAndDuplicatesKeepTheFirst) {
    TempDir dir;
    const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VerticalLayout><VerticalLayout name=\"language_x\">";
    const std::string tail = "</VerticalLayout></VerticalLayout>";
    WriteFile(dir.path() / "language" / "language_english.xml", head + "<VerticalLayout name=\"install_page\"><Label name=\"a\" text=\"x\"");
    WriteFile(dir.path() / "language" / "language_japanese.xml",
              head + "<VerticalLayout name=\"message_page\"><Label name=\"OkButtonText\" text=\"OK\" /></VerticalLayout>" + tail);
    WriteFile(dir.path() / "language" / "language_chinese.xml",
              head + "<VerticalLayout name=\"install_page\"><Label name=\"install_btn\" text=\"first\" />"
                     "<Label name=\"INSTALL_BTN\" text=\"second\" /></VerticalLayout>" + tail);
    WriteFile(dir.path() / "language" / "language_spanish.xml", "");
    auto package = SkinUI::CSkinPackage::OpenFolder(dir.path().string());
    ASSERT_TRUE(package);
    CLanguageTexts texts(package.get());

    std::string error;
    EXPECT_FALSE(texts.File(0, &error)) << "malformed";
    EXPECT_NE(error, "");
    EXPECT_EQ(texts.GetLanguageText(0, "install_page", "a"), "");
    EXPECT_FALSE(texts.File(3)) << "empty";
    EXPECT_FALSE(texts.File(4)) << "missing";
    EXPECT_EQ(texts.GetLanguageText(1, "install_page", "install_btn"), "") << "no install_page";
    EXPECT_EQ(texts.GetLanguageText(1, "message_page", "OkButtonText"), "OK");
    EXPECT_EQ(texts.GetLanguageText(2, "install_page", "install_btn"), "first");
}

TEST(LanguageTexts, ConcurrentFirstReadsAgree) {
    auto package = ShippedPackage();
    CLanguageTexts reference(package.get());
    std::vector<std::string> expected;
    for (int index = 0; index < kLanguageCount; ++index)
        expected.push_back(reference.GetLanguageText(index, "message_page", "CancelDesText"));

    CLanguageTexts texts(package.get());  // cold cache: the threads race to load each file
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (int i = 0; i < kLanguageCount; ++i) {
                    const int index = (i + t * 3) % kLanguageCount;
                    if (texts.GetLanguageText(index, "message_page", "CancelDesText") != expected[index]) ++mismatches;
                }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (const auto& text : expected) EXPECT_NE(text, "");
}

TEST(LanguageFormat, ShippedFormatsRenderAsPrintfWould) {
    auto package = ShippedPackage();
    CLanguageTexts texts(package.get());
    for (int index = 0; index < kLanguageCount; ++index) {
        SCOPED_TRACE(LanguageTable()[index].name);
        const std::string progress = texts.GetLanguageText(index, "install_page", "install_label");
        const std::string free = texts.GetLanguageText(index, "install_page", "space_free");
        const std::string need = texts.GetLanguageText(index, "install_page", "space_need");
        char buffer[512];
        // These formats are the vetted shipped texts (the language-file test checks them).
        std::snprintf(buffer, sizeof buffer, progress.c_str(), 57.5);
        EXPECT_EQ(FormatProgressText(progress, 57.5), buffer);
        std::snprintf(buffer, sizeof buffer, free.c_str(), 123.456);
        EXPECT_EQ(FormatSpaceFreeText(free, 123.456), buffer);
        std::snprintf(buffer, sizeof buffer, need.c_str(), "350 MB");
        EXPECT_EQ(FormatSpaceNeedText(need, "350 MB"), buffer);
    }
}

TEST(LanguageFormat, HostileFormatsRenderPlainly) {
    struct Case { const char* format; double value; const char* expected; };
    const Case numbers[] = {
        {"%0.f%%", 42.4, "42%"},
        {"%.1fGB", 12.34, "12.3GB"},
        {"%lf", 1.5, "1.500000"},
        {"no figure", 42, "no figure"},
        {"100%% done", 42, "100% done"},
        {"%d%%", 42.4, "42%"},               // wrong kind: the value plainly
        {"%n%n%n", 42, "42%n%n"},            // never written through
        {"%s", 42, "42"},
        {"%p %x", 42, "42 %x"},
        {"%*.*f", 42, "42"},                 // no width argument to read
        {"%999.999f", 42, "42"},             // unbounded width
        {"%Lf", 42, "42"},                   // long double would read garbage
        {"%f and %f", 1.25, "1.250000 and %f"},
        {"ends in %", 42, "ends in 42"},
        {"%", 42, "42"},
        {"%-8.2f|", 3.14159, "3.14    |"},
    };
    for (const Case& c : numbers) EXPECT_EQ(FormatProgressText(c.format, c.value), c.expected) << c.format;
    EXPECT_EQ(FormatSpaceFreeText("%d GB", 12.34), "12.3 GB");
    EXPECT_EQ(FormatSpaceFreeText("%e", std::numeric_limits<double>::infinity()), "inf");
    EXPECT_LE(FormatProgressText("%99.99f", 1e300).size(), 256u);

    struct TextCase { const char* format; const char* expected; };
    const TextCase texts[] = {
        {"Required: %s", "Required: 350 MB"},
        {"%ls", "350 MB"},
        {"%S", "350 MB"},
        {"%-8s|", "350 MB  |"},
        {"%.3s", "350"},
        {"%s %s %s", "350 MB %s %s"},
        {"%n", "350 MB"},
        {"%d", "350 MB"},
        {"%.1f", "350 MB"},
        {"%*s", "350 MB"},
        {"", ""},
    };
    for (const TextCase& c : texts) EXPECT_EQ(FormatSpaceNeedText(c.format, "350 MB"), c.expected) << c.format;
    EXPECT_EQ(FormatSpaceNeedText("%s", "50%s %n"), "50%s %n") << "the argument is never a format";
    EXPECT_EQ(FormatSpaceNeedText(std::string(100000, '%'), "x"), std::string(2048, '%'))
        << "an overlong format is cut at 4096 bytes";
}

}  // namespace
