#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "ZipFixture.h"
#include "ui/CButton.h"
#include "ui/CControlHost.h"
#include "ui/CImage.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/ILayoutBuilderCallback.h"

using namespace SkinUI;

namespace {

using uitest::kFixtures;

// The fixture folder, and the same files zipped, so both package sources are exercised.
std::vector<std::unique_ptr<CSkinPackage>> Packages(std::vector<std::byte>& zipStorage) {
    std::vector<uitest::ZipFileSpec> files;
    for (auto& e : std::filesystem::recursive_directory_iterator(kFixtures)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        files.push_back({std::filesystem::relative(e.path(), kFixtures).generic_string(), data, true});
    }
    zipStorage = uitest::MakeZip(files);
    std::vector<std::unique_ptr<CSkinPackage>> packages;
    packages.push_back(CSkinPackage::OpenFolder(kFixtures));
    packages.push_back(CSkinPackage::OpenMemory(zipStorage));
    return packages;
}

TEST(Builder, WindowFileRegistersResourcesAndBuildsTheTree) {
    std::vector<std::byte> zip;
    for (auto& package : Packages(zip)) {
        ASSERT_NE(package, nullptr);
        CControlHost host(package.get());
        CLayoutBuilder builder(package.get());
        auto root = builder.Build("window.XML", &host);
        ASSERT_NE(root, nullptr) << builder.LastError();
        EXPECT_EQ(builder.RootName(), "Window");
        host.AttachRoot(std::move(root));

        const TWindowAttributes& w = host.WindowAttributes();
        EXPECT_EQ(w.size, (TSize{300, 200}));
        EXPECT_EQ(w.caption, (TRect{0, 0, 0, 40}));
        EXPECT_EQ(w.sizebox, (TRect{4, 4, 4, 4}));
        EXPECT_EQ(w.linkColor, 0xff28bf74u);
        EXPECT_EQ(w.linkHoverColor, 0xffe18407u);
        EXPECT_FALSE(w.gdiplusText);

        // Fonts by position; the `id` attributes (5, 1) change nothing. The included file's
        // font registers with the window too.
        ASSERT_EQ(host.Fonts().size(), 4u);
        EXPECT_EQ(host.Fonts()[1].size, 18);
        EXPECT_TRUE(host.Fonts()[1].bold);
        EXPECT_EQ(host.Fonts()[2].name, "Times New Roman");
        EXPECT_TRUE(host.Fonts()[2].italic);
        EXPECT_TRUE(host.Fonts()[2].underline);
        EXPECT_EQ(host.Fonts()[3].name, "Part Font");

        // Include: the included root never appears; its children sit in the container.
        auto* page0 = dynamic_cast<CContainer*>(host.FindControl("page0"));
        ASSERT_NE(page0, nullptr);
        ASSERT_EQ(page0->GetCount(), 2);
        EXPECT_EQ(page0->GetItemAt(0)->GetName(), "part_first");
        EXPECT_EQ(page0->GetItemAt(1)->GetName(), "part_second");
        EXPECT_EQ(host.FindControl("part_root_never_built"), nullptr);
        // Unknown attributes (enable, disableimage) are ignored.
        EXPECT_TRUE(page0->GetItemAt(1)->IsEnabled());

        // Defaults first, then the element's own attributes.
        auto* minbtn = dynamic_cast<CButton*>(host.FindControl("minbtn"));
        auto* closebtn = dynamic_cast<CButton*>(host.FindControl("closebtn"));
        ASSERT_TRUE(minbtn && closebtn);
        EXPECT_EQ(minbtn->GetTextColor(), 0xFF112233u);
        EXPECT_EQ(minbtn->GetFont(), 1);
        EXPECT_EQ(closebtn->GetFont(), 2);

        auto* pages = dynamic_cast<CTabLayout*>(host.FindControl("pages"));
        ASSERT_NE(pages, nullptr);
        EXPECT_EQ(pages->GetCurSel(), 1);
        EXPECT_FALSE(host.FindControl("page0")->IsVisible());
        EXPECT_TRUE(host.FindControl("page1")->IsVisible());
        EXPECT_FALSE(host.FindControl("page2")->IsVisible());
        EXPECT_TRUE(host.Images().IsRegistered("skin\\Strip.png") || host.Images().Resolves("skin\\Strip.png"));
    }
}

TEST(Builder, FindByNameIsExactFindSubControlIgnoresCaseAndSeesHiddenControls) {
    auto package = CSkinPackage::OpenFolder(kFixtures);
    CControlHost host(package.get());
    CLayoutBuilder builder(package.get());
    host.AttachRoot(builder.Build("Window.xml", &host));
    EXPECT_NE(host.FindControl("part_first"), nullptr);  // hidden page, still found
    EXPECT_EQ(host.FindControl("PART_FIRST"), nullptr);
    EXPECT_EQ(host.FindControl(""), nullptr);
    CControl* root = host.GetRoot();
    EXPECT_EQ(root->FindSubControl("PART_First"), host.FindControl("part_first"));
    EXPECT_EQ(root->FindSubControl(""), nullptr);  // unnamed controls never match
    EXPECT_EQ(host.FindControl("pages")->FindSubControl("TITLE"), nullptr);  // only below the control
}

TEST(Builder, LanguageFileBuildsWithoutAWindow) {
    auto package = CSkinPackage::OpenFolder(kFixtures);
    CLayoutBuilder builder(package.get());
    auto tree = builder.Build("language\\LANGUAGE_test.xml");
    ASSERT_NE(tree, nullptr) << builder.LastError();
    EXPECT_EQ(tree->GetName(), "language_test");
    CControl* page = tree->FindSubControl("Install_Page");
    ASSERT_NE(page, nullptr);
    CControl* link = page->FindSubControl("license_link");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetText(), "{f 1}{c #000000}I've read and agreed{/c}{/f} {a}{u}terms{/u}{/a}");
    EXPECT_EQ(tree->FindSubControl("message_page")->FindSubControl("yestext")->GetText(), "Yes");
    ASSERT_EQ(builder.FontUses().size(), 1u);
    EXPECT_EQ(builder.FontUses()[0].index, 1);
}

TEST(Builder, FailuresLeaveTheirTextAndNoTree) {
    auto package = CSkinPackage::OpenFolder(kFixtures);
    struct Case {
        const CSkinPackage* package;
        std::string source;
        std::string error;
    } cases[] = {
        {package.get(), "missing.xml", "missing.xml: Could not find ziped file"},
        {nullptr, "Window.xml", "Window.xml: Error opening zip file"},
        {package.get(), "<Window><Label text='x'/></Window>",
         "(markup): Expected attribute value at line 1, column 21: 'x'/></Window>"},
        {package.get(), "<Window><Include source=\"nope.xml\"/></Window>", "nope.xml: Could not find ziped file"},
        {package.get(), "<Window><Include source=\"<Label/>\"/></Window>", "(markup): the layout holds no control"},
        {package.get(), "<Window><Font name=\"x\"/></Window>", "(markup): the layout holds no control"},
    };
    for (const auto& c : cases) {
        CLayoutBuilder builder(c.package);
        CControlHost host(c.package);
        EXPECT_EQ(builder.Build(c.source, &host), nullptr) << c.source;
        EXPECT_EQ(builder.LastError(), c.error) << c.source;
    }
    // A file that includes itself stops at the nesting bound instead of recursing forever.
    CLayoutBuilder builder(package.get());
    EXPECT_EQ(builder.Build("Loop.xml"), nullptr);
    EXPECT_EQ(builder.LastError(), "loop.xml: line 3: includes nested or repeated too often");
}

TEST(Builder, RecordsImageAndFontUsesAndAsksTheCallbackForUnknownClasses) {
    struct Callback : ILayoutBuilderCallback {
        std::vector<std::string> asked;
        std::unique_ptr<CControl> CreateControl(std::string_view cls) override {
            asked.emplace_back(cls);
            return cls == "Gadget" ? std::make_unique<CControl>() : nullptr;
        }
    } callback;
    CLayoutBuilder builder(nullptr, &callback);
    auto tree = builder.Build(
        "<Window><VerticalLayout bkimage=\"a.png\"><Gadget name=\"g\"/><Mystery name=\"m\"/>"
        "<Button font=\"7\" normalimage=\"file='b.png' source='0,0,1,1'\"/></VerticalLayout></Window>");
    ASSERT_NE(tree, nullptr);
    EXPECT_NE(tree->FindSubControl("g"), nullptr);
    EXPECT_EQ(tree->FindSubControl("m"), nullptr);
    EXPECT_EQ(callback.asked, (std::vector<std::string>{"Gadget", "Mystery"}));
    ASSERT_EQ(builder.ImageUses().size(), 2u);
    EXPECT_EQ(builder.ImageUses()[1].reference, "file='b.png' source='0,0,1,1'");
    ASSERT_EQ(builder.FontUses().size(), 1u);
    EXPECT_EQ(builder.FontUses()[0].index, 7);
}

TEST(Images, DecodedPremultipliedWithTheMaskColourTransparentAndCachedPerWindow) {
    auto package = CSkinPackage::OpenFolder(kFixtures);
    CImageCache images(package.get());
    auto strip = images.Get("SKIN/strip.png");
    ASSERT_NE(strip, nullptr);
    ASSERT_EQ(strip->Width(), 4);
    EXPECT_EQ(strip->Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(strip->Pixel(1, 0), 0x80808080u);  // white at half alpha, premultiplied
    EXPECT_EQ(strip->Pixel(2, 0), 0xFFFF00FFu);
    EXPECT_EQ(strip->Pixel(3, 0), 0x00000000u);
    EXPECT_EQ(images.Get("skin\\Strip.png"), strip);  // same entry, decoded once

    auto masked = images.Get("skin\\strip.png", 0xFFFF00FF);
    ASSERT_NE(masked, nullptr);
    EXPECT_NE(masked, strip);
    EXPECT_EQ(masked->Pixel(2, 0), 0u);

    auto bmp = images.Get("skin/parts.bmp", 0xFFFF00FF);
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Pixel(0, 0), 0u);
    EXPECT_EQ(bmp->Pixel(1, 0), 0xFF0000FFu);

    EXPECT_EQ(images.Get("skin\\btn_mini_normal.png"), nullptr);  // found nowhere: drawn as nothing
    // Not in the package: tried as a path on disk.
    EXPECT_NE(images.Get(kFixtures + "/skin/Strip.png"), nullptr);
    auto frame = std::make_shared<CImage>(2, 2);
    images.Register("FirstFrame", frame);
    EXPECT_EQ(images.Get("FirstFrame"), frame);

    const std::byte junk[] = {std::byte{0x89}, std::byte{'P'}, std::byte{'N'}, std::byte{'G'}};
    EXPECT_EQ(CImage::Decode(junk), nullptr);
}

}  // namespace
