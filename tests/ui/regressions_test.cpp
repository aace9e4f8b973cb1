// Replays every kept input of tests/regressions/ui (fuzzer crash inputs and hand-made hostile
// files) through the package reader and the markup reader: none may crash, and each must end
// in a clean result.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ui/CControl.h"
#include "ui/CMarkup.h"
#include "ui/CRichText.h"
#include "ui/CSkinPackage.h"
#include "ui/TImageRef.h"

namespace fs = std::filesystem;
using namespace SkinUI;

namespace {

TEST(Regressions, EveryKeptInputGoesThroughBothReaders) {
    fs::path dir = fs::path(QV_SOURCE_DIR) / "tests" / "regressions" / "ui";
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        ++replayed;

        auto bytes = std::span<const std::byte>(reinterpret_cast<const std::byte*>(data.data()), data.size());
        if (auto package = CSkinPackage::OpenMemory(bytes)) {
            std::string text;
            for (const auto& name : package->List()) {
                PackageResult r = package->ReadText(name, text);
                if (r != PackageResult::PACKAGE_OK) {
                    EXPECT_TRUE(text.empty());
                }
            }
        }

        CMarkup markup;
        if (markup.Load(data)) {
            CControl control;
            for (const auto& element : markup.Elements()) {
                for (const auto& [name, value] : element.attributes) {
                    (void)CRichText::Parse(value);
                    (void)TImageRef::Parse(value);
                    control.SetAttribute(name, value);
                }
            }
        } else {
            EXPECT_FALSE(markup.ErrorMessage().empty());
        }
    }
    EXPECT_GT(replayed, 0);
}

TEST(Regressions, HandMadeArchivesFailCleanly) {
    fs::path dir = fs::path(QV_SOURCE_DIR) / "tests" / "regressions" / "ui";
    auto read = [&](const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    auto open = [](const std::string& d) {
        return CSkinPackage::OpenMemory({reinterpret_cast<const std::byte*>(d.data()), d.size()});
    };
    std::string text;
    std::string past = read("zip-local-header-past-end.zip");
    auto p1 = open(past);
    ASSERT_NE(p1, nullptr);
    EXPECT_EQ(p1->ReadText("a.xml", text), PackageResult::PACKAGE_UNZIP_FAILED);
    std::string bomb = read("zip-inflates-beyond-recorded-size.zip");
    auto p2 = open(bomb);
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(p2->ReadText("big.xml", text), PackageResult::PACKAGE_UNZIP_FAILED);
    std::string count = read("zip-entry-count-beyond-directory.zip");
    EXPECT_EQ(open(count), nullptr);
    std::string name = read("zip-name-past-directory.zip");
    EXPECT_EQ(open(name), nullptr);
}

}  // namespace
