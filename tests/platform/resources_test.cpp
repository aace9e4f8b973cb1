#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/Resources.h"

namespace {

std::vector<char> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(EmbeddedSkin, ResourceLookupReturnsThePackedSkinBytes) {
    auto skin = platform::FindResource("ZIPRES", 138);
    auto packed = ReadFile(QV_BUILD_DIR "/skin.zip");
    ASSERT_FALSE(packed.empty());
    ASSERT_EQ(skin.size(), packed.size());
    EXPECT_EQ(0, std::memcmp(skin.data(), packed.data(), packed.size()));
    // A ZIP archive begins with a local header or, when empty, the end record.
    EXPECT_EQ(static_cast<char>(skin[0]), 'P');
    EXPECT_EQ(static_cast<char>(skin[1]), 'K');
}

TEST(EmbeddedSkin, OtherResourcesDoNotExist) {
    EXPECT_TRUE(platform::FindResource("ZIPRES", 139).empty());
    EXPECT_TRUE(platform::FindResource("zipres", 138).empty());
    EXPECT_TRUE(platform::FindResource("ICON", 138).empty());
}

}  // namespace
