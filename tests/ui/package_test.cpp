#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ZipFixture.h"
#include "platform/Resources.h"
#include "tests/support/TempFolder.h"
#include "ui/CSkinPackage.h"

using namespace SkinUI;
using uitest::MakeZip;

namespace {

std::string Name(std::size_t length) {
    std::string n = "d/";
    n += std::string(length - 6, 'a');
    n += ".xml";
    return n;
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        zip_ = MakeZip({
            {"skin/", ""},
            {"skin/btn_start_now.png", "start", true},
            {"skin/combo_over.png", "stored-bytes", false},
            {"InstallMainWnd.xml", "\xEF\xBB\xBF<Window size=\"1,2\"/>", true},
            {"empty.xml", "", true},
            {Name(255), "<a/>", true},
            {Name(256), "<b/>", true},
            {"d/" + std::string(249, 'a') + ".\xC3\xA9ml", "<c/>", true},
            {"big.xml", std::string(CSkinPackage::kMaxTextSize + 1, 'x'), true},
            {"limit.xml", std::string(CSkinPackage::kMaxTextSize, 'y'), true},
        });
        package_ = CSkinPackage::OpenMemory(zip_);
        ASSERT_NE(package_, nullptr);
    }
    std::vector<std::byte> zip_;
    std::unique_ptr<CSkinPackage> package_;
};

TEST_F(PackageTest, LookupIgnoresSeparatorAndAsciiCaseAndBoundsTheNameLength) {
    struct Case {
        std::string request;
        bool found;
    } cases[] = {
        {"skin\\btn_Start_now.png", true},
        {"skin/btn_start_now.png", true},
        {"SKIN\\BTN_START_NOW.PNG", true},
        {"skin\\Combo_over.png", true},
        {"skin/btn_start_now.pn", false},
        {"/skin/btn_start_now.png", false},
        {"", false},
        {Name(255), true},
        {Name(256), false},  // present in the archive, but too long to be asked for
        // The limit counts characters, not bytes: 255 of them in 256 bytes are found.
        {"d/" + std::string(249, 'a') + ".\xC3\xA9ml", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(package_->Contains(c.request), c.found) << c.request.substr(0, 40);
    }
    std::string text;
    ASSERT_EQ(package_->ReadText("skin\\btn_Start_now.png", text), PackageResult::PACKAGE_OK);
    EXPECT_EQ(text, "start");
}

TEST_F(PackageTest, ReadsStoredAndDeflatedEntriesAndStripsTheByteOrderMark) {
    std::string text;
    ASSERT_EQ(package_->ReadText("skin/combo_over.png", text), PackageResult::PACKAGE_OK);
    EXPECT_EQ(text, "stored-bytes");
    ASSERT_EQ(package_->ReadText("installmainwnd.XML", text), PackageResult::PACKAGE_OK);
    EXPECT_EQ(text, "<Window size=\"1,2\"/>");
}

TEST_F(PackageTest, ReadErrorsCarryTheirTexts) {
    struct Case {
        std::string name;
        PackageResult result;
        const char* text;
    } cases[] = {
        {"missing.xml", PackageResult::PACKAGE_NOT_FOUND, "Could not find ziped file"},
        {"empty.xml", PackageResult::PACKAGE_EMPTY, "File is empty"},
        {"skin/", PackageResult::PACKAGE_EMPTY, "File is empty"},
        {"big.xml", PackageResult::PACKAGE_TOO_LARGE, "File too large"},
        {"limit.xml", PackageResult::PACKAGE_OK, "OK"},
    };
    for (const auto& c : cases) {
        std::string text;
        PackageResult r = package_->ReadText(c.name, text);
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_STREQ(to_string(r), c.text) << c.name;
    }
    EXPECT_STREQ(to_string(PackageResult::PACKAGE_OPEN_FAILED), "Error opening zip file");
}

TEST(PackageDamage, CorruptEntriesFailToUnzipAndBrokenArchivesFailToOpen) {
    auto zip = MakeZip({{"a.xml", std::string(1000, 'a'), true}, {"b.xml", "plain", false}});
    // Flip a byte inside the deflated data of a.xml (after its 30 + 5 byte local header).
    auto damaged = zip;
    damaged[40] ^= std::byte{0x55};
    auto pkg = CSkinPackage::OpenMemory(damaged);
    ASSERT_NE(pkg, nullptr);
    std::string text;
    EXPECT_EQ(pkg->ReadText("a.xml", text), PackageResult::PACKAGE_UNZIP_FAILED);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(pkg->ReadText("b.xml", text), PackageResult::PACKAGE_OK);

    EXPECT_EQ(CSkinPackage::OpenMemory({}), nullptr);
    std::vector<std::byte> truncated(zip.begin(), zip.end() - 5);
    EXPECT_EQ(CSkinPackage::OpenMemory(truncated), nullptr);
    std::vector<std::byte> junk(100, std::byte{0x50});
    EXPECT_EQ(CSkinPackage::OpenMemory(junk), nullptr);
}

TEST(PackageFolder, FolderFollowsTheSameLookupRules) {
    namespace fs = std::filesystem;
    const qvtest::TempFolder folder("qv_skin_folder_");
    const fs::path& dir = folder.path();
    fs::create_directories(dir / "skin" / "anima");
    std::ofstream(dir / "skin" / "btn_start_now.png") << "png";
    std::ofstream(dir / "InstallMainWnd.xml") << "\xEF\xBB\xBF<Window/>";
    std::ofstream(dir / "empty.xml");
    std::ofstream(dir / ".hidden") << "x";

    auto pkg = CSkinPackage::OpenFolder(dir.string());
    ASSERT_NE(pkg, nullptr);
    EXPECT_TRUE(pkg->IsFolder());
    std::vector<std::string> expected = {"InstallMainWnd.xml", "empty.xml", "skin/", "skin/anima/",
                                         "skin/btn_start_now.png"};
    EXPECT_EQ(pkg->List(), expected);
    std::string text;
    EXPECT_EQ(pkg->ReadText("Skin\\BTN_start_now.png", text), PackageResult::PACKAGE_OK);
    EXPECT_EQ(text, "png");
    EXPECT_EQ(pkg->ReadText("installmainwnd.xml", text), PackageResult::PACKAGE_OK);
    EXPECT_EQ(text, "<Window/>");
    EXPECT_EQ(pkg->ReadText("empty.xml", text), PackageResult::PACKAGE_EMPTY);
    EXPECT_EQ(pkg->ReadText(".hidden", text), PackageResult::PACKAGE_NOT_FOUND);
    EXPECT_EQ(CSkinPackage::OpenFolder((dir / "nope").string()), nullptr);
}

TEST(PackageEmbedded, TheExecutablesOwnPackageOpensInPlace) {
    auto bytes = platform::FindResource("ZIPRES", 138);
    ASSERT_FALSE(bytes.empty());
    auto pkg = CSkinPackage::OpenMemory(bytes);
    ASSERT_NE(pkg, nullptr);
    // The packer writes a directory entry for every folder of the skin.
    bool hasSkinDir = false;
    for (const auto& n : pkg->List()) hasSkinDir |= (n == "skin/");
    EXPECT_TRUE(hasSkinDir);
}

}  // namespace
