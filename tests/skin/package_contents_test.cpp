// The skin package embedded in the executable: which entries it holds, the size of every
// picture, and that the pictures do their job (distinct button states, an even spinner turn,
// no layout naming a picture that is not there).
//
// The package is read here with a small ZIP walk of its own, so a fault in the toolkit's
// reader cannot hide a fault in the package.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>
#include <optional>
#include <regex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/Resources.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

namespace {

constexpr std::size_t kMaxEntrySize = 4u << 20;

std::uint32_t Le16(std::span<const std::byte> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}
std::uint32_t Le32(std::span<const std::byte> b, std::size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

struct ZipEntry {
    std::string name;
    std::uint32_t method = 0;
    std::uint32_t packedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localOffset = 0;
};

// Central directory of a ZIP archive held in memory; every offset is checked against the data.
class ZipView {
public:
    explicit ZipView(std::span<const std::byte> data) : data_(data) { error_ = Walk(); }

    const std::string& error() const { return error_; }
    const std::vector<ZipEntry>& entries() const { return entries_; }

    std::optional<std::vector<unsigned char>> Read(const std::string& name) const {
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const ZipEntry& e) { return e.name == name; });
        if (it == entries_.end() || it->size > kMaxEntrySize) return std::nullopt;
        const std::size_t at = it->localOffset;
        if (at + 30 > data_.size() || Le32(data_, at) != 0x04034b50) return std::nullopt;
        const std::size_t begin = at + 30 + Le16(data_, at + 26) + Le16(data_, at + 28);
        if (begin + it->packedSize > data_.size()) return std::nullopt;
        const auto* packed = reinterpret_cast<const unsigned char*>(data_.data() + begin);
        std::vector<unsigned char> out(it->size);
        if (it->method == 0) {
            if (it->packedSize != it->size) return std::nullopt;
            std::copy(packed, packed + it->size, out.begin());
            return out;
        }
        if (it->method != 8) return std::nullopt;
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
        z.next_in = const_cast<unsigned char*>(packed);
        z.avail_in = it->packedSize;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(&z, Z_FINISH);
        const bool whole = rc == Z_STREAM_END && z.total_out == it->size;
        inflateEnd(&z);
        if (!whole) return std::nullopt;
        return out;
    }

private:
    std::string Walk() {
        if (data_.size() < 22) return "package too small for a ZIP archive";
        std::size_t end = data_.size() - 22;
        const std::size_t lowest = data_.size() > 22 + 0xFFFF ? data_.size() - 22 - 0xFFFF : 0;
        while (Le32(data_, end) != 0x06054b50) {
            if (end == lowest) return "no end-of-central-directory record";
            --end;
        }
        const std::uint32_t count = Le16(data_, end + 10);
        std::size_t at = Le32(data_, end + 16);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (at + 46 > data_.size() || Le32(data_, at) != 0x02014b50) return "damaged central directory";
            ZipEntry e;
            e.method = Le16(data_, at + 10);
            e.packedSize = Le32(data_, at + 20);
            e.size = Le32(data_, at + 24);
            const std::size_t nameLength = Le16(data_, at + 28);
            e.localOffset = Le32(data_, at + 42);
            if (at + 46 + nameLength > data_.size()) return "entry name runs past the archive";
            e.name.assign(reinterpret_cast<const char*>(data_.data() + at + 46), nameLength);
            entries_.push_back(std::move(e));
            at += 46 + nameLength + Le16(data_, at + 30) + Le16(data_, at + 32);
        }
        return {};
    }

    std::span<const std::byte> data_;
    std::vector<ZipEntry> entries_;
    std::string error_;
};

struct Picture {
    const char* entry;
    int width;
    int height;
};

// Backgrounds of the settings panel and the message box have no fixed size of their own; these
// are the sizes of the panel and of the wider message box, which the layouts stretch from.
const Picture kPictures[] = {
    {"skin/backgroud.png", 650, 360},          {"skin/backgroud_complete.png", 650, 360},
    {"skin/bg_setting.png", 650, 200},         {"skin/bg_message.png", 500, 190},
    {"skin/logo.png", 72, 72},                 {"skin/logo_running.png", 64, 64},
    {"skin/anima/1.png", 650, 300},            {"skin/anima/2.png", 650, 300},
    {"skin/anima/3.png", 650, 300},            {"skin/OptionNormal.png", 6, 6},
    {"skin/OptionSelected.png", 6, 6},         {"skin/bkprogress.png", 590, 6},
    {"skin/progress.png", 590, 6},             {"skin/waiting.png", 320, 320},
    {"skin/btn_install.png", 800, 40},         {"skin/btn_start_now.png", 800, 40},
    {"skin/btn_browse.png", 440, 28},          {"skin/btn_min.png", 440, 28},
    {"skin/btn_no.png", 440, 28},              {"skin/btn_yes.png", 440, 28},
    {"skin/button_close.png", 80, 20},         {"skin/button_min.png", 80, 20},
    {"skin/checkbox_h.png", 20, 20},           {"skin/checkbox_p.png", 20, 20},
    {"skin/Combo_nor.png", 300, 28},           {"skin/combo_over.png", 300, 28},
    {"skin/message_help.png", 40, 40},         {"skin/message_exclamation.png", 40, 40},
    {"skin/warning.png", 24, 24},              {"scrollbar.bmp", 42, 108},
};

constexpr int kSpinnerFrames = 21;

std::string FrameName(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "skin/gif/bg%02d.png", k);
    return name;
}

std::set<std::string> ExpectedFiles() {
    std::set<std::string> files = {
        "InstallMainWnd.xml", "InstallSetting.xml", "InstallCustom.xml", "InstallFinished.xml",
        "InstallRunning.xml", "License.xml",        "configure/configure.xml", "scrollbar.xml",
        "MessageBox.xml",     "MessageBox_down.xml", "transWnd.xml",
    };
    for (const char* language : {"arabic", "chinese", "chinesetrad", "czech", "english", "french", "german",
                                 "hindi", "indonesian", "italiano", "japanese", "korean", "malay", "nederland",
                                 "portuguese", "russian", "spanish", "swedish", "thai", "turkish"}) {
        files.insert(std::string("language/language_") + language + ".xml");
    }
    for (const Picture& p : kPictures) files.insert(p.entry);
    for (int k = 0; k < kSpinnerFrames; ++k) files.insert(FrameName(k));
    return files;
}

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += "\n  " + n;
    return out;
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
    unsigned char at(int x, int y, int channel) const { return rgba[(static_cast<std::size_t>(y) * width + x) * 4 + channel]; }
};

class SkinPackageTest : public ::testing::Test {
protected:
    SkinPackageTest() : zip_(platform::FindResource("ZIPRES", 138)) {}

    void SetUp() override { ASSERT_EQ(zip_.error(), "") << "the embedded skin package is not a readable ZIP archive"; }

    std::optional<Decoded> Decode(const std::string& name) const {
        auto bytes = zip_.Read(name);
        if (!bytes) return std::nullopt;
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load_from_memory(bytes->data(), static_cast<int>(bytes->size()), &w, &h, &n, 4);
        if (pixels == nullptr) return std::nullopt;
        Decoded d{w, h, std::vector<unsigned char>(pixels, pixels + static_cast<std::size_t>(w) * h * 4)};
        stbi_image_free(pixels);
        return d;
    }

    ZipView zip_;
};

TEST_F(SkinPackageTest, HoldsExactlyTheShippedFilesAndDirectories) {
    const std::set<std::string> expectedDirs = {"configure/", "language/", "skin/", "skin/anima/", "skin/gif/"};
    const std::set<std::string> expectedFiles = ExpectedFiles();
    ASSERT_EQ(expectedFiles.size(), 82u);

    std::set<std::string> dirs, files;
    for (const ZipEntry& e : zip_.entries()) {
        EXPECT_TRUE((e.name.ends_with('/') ? dirs : files).insert(e.name).second) << "entry twice: " << e.name;
    }
    std::vector<std::string> missing, unexpected;
    std::set_difference(expectedFiles.begin(), expectedFiles.end(), files.begin(), files.end(), std::back_inserter(missing));
    std::set_difference(expectedDirs.begin(), expectedDirs.end(), dirs.begin(), dirs.end(), std::back_inserter(missing));
    std::set_difference(files.begin(), files.end(), expectedFiles.begin(), expectedFiles.end(), std::back_inserter(unexpected));
    std::set_difference(dirs.begin(), dirs.end(), expectedDirs.begin(), expectedDirs.end(), std::back_inserter(unexpected));
    EXPECT_TRUE(missing.empty()) << missing.size() << " entries missing from the package:" << Join(missing);
    EXPECT_TRUE(unexpected.empty()) << unexpected.size() << " entries the package should not carry:" << Join(unexpected);
    EXPECT_EQ(files.size(), 82u);
    EXPECT_EQ(dirs.size(), 5u);
}

TEST_F(SkinPackageTest, EveryPictureHasTheSizeOfItsRole) {
    std::vector<Picture> all(std::begin(kPictures), std::end(kPictures));
    std::vector<std::string> frameNames;
    for (int k = 0; k < kSpinnerFrames; ++k) frameNames.push_back(FrameName(k));
    for (const auto& name : frameNames) all.push_back({name.c_str(), 320, 320});

    for (const Picture& p : all) {
        SCOPED_TRACE(p.entry);
        auto bytes = zip_.Read(p.entry);
        ASSERT_TRUE(bytes.has_value()) << "not in the package or not readable";
        const auto& b = *bytes;
        std::uint32_t width = 0, height = 0;
        if (std::string_view(p.entry).ends_with(".bmp")) {
            ASSERT_GE(b.size(), 26u);
            ASSERT_EQ(b[0], 'B');
            ASSERT_EQ(b[1], 'M');
            auto le32 = [&](std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24; };
            width = le32(18);
            const auto signedHeight = static_cast<std::int32_t>(le32(22));
            height = static_cast<std::uint32_t>(signedHeight < 0 ? -signedHeight : signedHeight);
        } else {
            static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
            ASSERT_GE(b.size(), 24u);
            ASSERT_TRUE(std::equal(kSignature, kSignature + 8, b.begin())) << "not a PNG";
            ASSERT_EQ(std::string(b.begin() + 12, b.begin() + 16), "IHDR");
            auto be32 = [&](std::size_t at) { return std::uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; };
            width = be32(16);
            height = be32(20);
            // The header must agree with the pixels: a decoder sees the same size.
            auto decoded = Decode(p.entry);
            ASSERT_TRUE(decoded.has_value()) << "PNG does not decode";
            EXPECT_EQ(decoded->width, static_cast<int>(width));
            EXPECT_EQ(decoded->height, static_cast<int>(height));
        }
        EXPECT_EQ(width, static_cast<std::uint32_t>(p.width));
        EXPECT_EQ(height, static_cast<std::uint32_t>(p.height));
    }
}

TEST_F(SkinPackageTest, ButtonStripsShowFourDistinctStates) {
    for (const char* strip : {"skin/btn_install.png", "skin/btn_start_now.png", "skin/btn_browse.png", "skin/btn_min.png",
                              "skin/btn_no.png", "skin/btn_yes.png", "skin/button_close.png", "skin/button_min.png"}) {
        SCOPED_TRACE(strip);
        auto img = Decode(strip);
        ASSERT_TRUE(img.has_value());
        const int cell = img->width / 4;
        // Mean difference over the colour and alpha channels between two states, 0..255.
        auto difference = [&](int a, int b) {
            double sum = 0;
            for (int y = 0; y < img->height; ++y)
                for (int x = 0; x < cell; ++x)
                    for (int c = 0; c < 4; ++c) sum += std::abs(img->at(a * cell + x, y, c) - img->at(b * cell + x, y, c));
            return sum / (static_cast<double>(cell) * img->height * 4);
        };
        for (int a = 0; a < 4; ++a)
            for (int b = a + 1; b < 4; ++b) EXPECT_GT(difference(a, b), 2.0) << "states " << a << " and " << b << " look alike";
    }
}

TEST_F(SkinPackageTest, SpinnerFramesMakeOneEvenTurn) {
    // The overlay shows frame (n mod 21) every 50 ms, so frame k must be frame 0 turned by
    // k/21 of a circle: the direction of each frame's ink, seen from the centre of the
    // 320 x 320 picture, advances by the same step every frame and once round in total.
    std::vector<double> angles;
    for (int k = 0; k < kSpinnerFrames; ++k) {
        auto img = Decode(FrameName(k));
        ASSERT_TRUE(img.has_value()) << FrameName(k);
        double sx = 0, sy = 0;
        for (int y = 0; y < img->height; ++y)
            for (int x = 0; x < img->width; ++x) {
                const double alpha = img->at(x, y, 3);
                sx += alpha * (x + 0.5 - img->width / 2.0);
                sy += alpha * (y + 0.5 - img->height / 2.0);
            }
        ASSERT_GT(std::hypot(sx, sy), 0.0) << "frame " << k << " has no visible ink off the centre";
        angles.push_back(std::atan2(sy, sx));
    }
    const double step = 2 * std::numbers::pi / kSpinnerFrames;
    for (int k = 0; k < kSpinnerFrames; ++k) {
        double d = angles[(k + 1) % kSpinnerFrames] - angles[k];
        while (d <= -std::numbers::pi) d += 2 * std::numbers::pi;
        while (d > std::numbers::pi) d -= 2 * std::numbers::pi;
        EXPECT_NEAR(d, step, 0.02) << "from frame " << k << " to frame " << (k + 1) % kSpinnerFrames;
    }
}

TEST_F(SkinPackageTest, LayoutsNameOnlyPicturesThePackageHolds) {
    // Layouts name entries with either separator and in any letter case.
    auto key = [](std::string name) {
        std::replace(name.begin(), name.end(), '\\', '/');
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name;
    };
    std::set<std::string> present;
    for (const ZipEntry& e : zip_.entries()) present.insert(key(e.name));

    const std::regex fileKey(R"(file='([^']+)')");
    const std::regex bareImage(R"re(\b\w*image="([^"'=]+)")re", std::regex::icase);
    std::set<std::string> unresolved;
    int references = 0;
    for (const ZipEntry& e : zip_.entries()) {
        if (!e.name.ends_with(".xml")) continue;
        auto bytes = zip_.Read(e.name);
        ASSERT_TRUE(bytes.has_value()) << e.name;
        const std::string text(bytes->begin(), bytes->end());
        for (const std::regex* re : {&fileKey, &bareImage}) {
            for (std::sregex_iterator it(text.begin(), text.end(), *re), end; it != end; ++it) {
                ++references;
                if (!present.contains(key((*it)[1]))) unresolved.insert(key((*it)[1]));
            }
        }
    }
    EXPECT_GT(references, 60);
    // The hidden minimise button of the message boxes names pictures the package never had.
    const std::set<std::string> expected = {"skin/btn_mini_down.png", "skin/btn_mini_highlight.png", "skin/btn_mini_normal.png"};
    EXPECT_EQ(unresolved, expected);
}

}  // namespace
