#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/CContainer.h"
#include "ui/CControlHost.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CSkinPackage.h"

using namespace SkinUI;

namespace {

using uitest::kFixtures;

class LayoutTest : public ::testing::Test {
protected:
    void Load(const std::string& source) {
        package_ = CSkinPackage::OpenFolder(kFixtures);
        host_ = std::make_unique<CControlHost>(package_.get());
        CLayoutBuilder builder(package_.get());
        auto root = builder.Build(source, host_.get());
        ASSERT_NE(root, nullptr) << builder.LastError();
        host_->AttachRoot(std::move(root));
        host_->SetClientSize(host_->WindowAttributes().size);
        host_->UpdateLayout();
    }
    TRect Pos(const char* name) {
        CControl* c = host_->FindControl(name);
        EXPECT_NE(c, nullptr) << name;
        return c ? c->GetPos() : TRect{};
    }
    std::unique_ptr<CSkinPackage> package_;
    std::unique_ptr<CControlHost> host_;
};

TEST_F(LayoutTest, PaddingInsetChildPaddingAndSharedSpace) {
    Load("Boxes.xml");
    // outer 200 x 100 less inset 10,5,10,5; children 4 apart; "gone" is hidden and takes
    // nothing; "share" gets what row (30), fixed (2 + 20) and narrow (10) leave: 90 - 74.
    struct Case {
        const char* name;
        TRect rect;
    } cases[] = {
        {"outer", {0, 0, 200, 100}},
        {"row", {10, 5, 190, 35}},
        {"fixed", {10, 41, 190, 61}},
        {"share", {10, 65, 190, 81}},
        {"narrow", {10, 85, 70, 95}},
        // In the row (180 wide, 2 apart): a is 50; b and c share 118, b inside its padding.
        {"a", {10, 5, 60, 35}},
        {"b", {65, 9, 124, 29}},
        {"c", {131, 5, 190, 35}},
    };
    for (const auto& c : cases) EXPECT_EQ(Pos(c.name), c.rect) << c.name;
}

TEST_F(LayoutTest, FixedHeightAndVisibilityChangesRelayout) {
    Load("Boxes.xml");
    host_->FindControl("fixed")->SetFixedHeight(30);
    EXPECT_TRUE(host_->IsLayoutNeeded());
    host_->UpdateLayout();
    EXPECT_EQ(Pos("fixed"), (TRect{10, 41, 190, 71}));
    EXPECT_EQ(Pos("share"), (TRect{10, 75, 190, 81}));

    host_->FindControl("a")->SetVisible(false);
    host_->FindControl("gone")->SetVisible(true);
    host_->UpdateLayout();
    // b and c now share 180 - 8 (b's padding) - 2: 85 each.
    EXPECT_EQ(Pos("b"), (TRect{13, 9, 98, 29}));
    EXPECT_EQ(Pos("c"), (TRect{105, 5, 190, 35}));
    // "gone" came back with its 10 pixels and 4 of gap, taken from "share" (6 - 14 < 0).
    EXPECT_EQ(Pos("share").Height(), 0);
    EXPECT_EQ(Pos("gone"), (TRect{10, 79, 190, 89}));

    host_->SetClientSize({400, 100});
    host_->UpdateLayout();
    EXPECT_EQ(Pos("row"), (TRect{10, 5, 390, 35}));
}

TEST_F(LayoutTest, TabPagesShareOneRectangleAndScrollingContainersClampTheirPosition) {
    Load(
        "<Window size=\"100,100\"><Default name=\"VScrollBar\" value=\"width=&quot;14&quot;\"/>"
        "<TabLayout name=\"tabs\" inset=\"1,1,1,1\">"
        "<VerticalLayout name=\"p0\" vscrollbar=\"true\"><Control name=\"tall\" height=\"250\"/>"
        "<Control name=\"after\" height=\"10\"/></VerticalLayout>"
        "<VerticalLayout name=\"p1\" padding=\"5,5,5,5\"/></TabLayout></Window>");
    EXPECT_EQ(Pos("p0"), (TRect{1, 1, 99, 99}));
    EXPECT_EQ(Pos("p1"), (TRect{6, 6, 94, 94}));
    auto* p0 = dynamic_cast<CContainer*>(host_->FindControl("p0"));
    ASSERT_NE(p0, nullptr);
    EXPECT_EQ(p0->GetScrollRange(), 260 - 98);
    host_->OnMouseWheel({50, 50}, -1);
    host_->UpdateLayout();
    EXPECT_EQ(p0->GetScrollPos(), CContainer::kWheelStep);
    EXPECT_EQ(Pos("tall").top, 1 - CContainer::kWheelStep);
    p0->SetScrollPos(10000);
    host_->UpdateLayout();
    EXPECT_EQ(Pos("after").bottom, 99);

    // The bar along the right edge, as wide as the window's VScrollBar default says; its
    // thumb is at the bottom now and dragging it to the top scrolls back to the start.
    CScrollBar* bar = p0->GetVScrollBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->GetPos(), (TRect{85, 1, 99, 99}));
    TRect thumb = bar->ThumbRect();
    EXPECT_EQ(thumb.bottom, 99);
    EXPECT_EQ(thumb.Height(), 98 * 98 / 260);
    TPoint grab{92, (thumb.top + thumb.bottom) / 2};
    EXPECT_EQ(host_->FindControlAt(grab), bar);
    EXPECT_EQ(host_->HitTest(grab, false), HitArea::HIT_CLIENT);
    host_->OnButtonDown(grab);
    host_->OnMouseMove({92, grab.y - 1000});
    host_->OnButtonUp({92, grab.y - 1000});
    host_->UpdateLayout();
    EXPECT_EQ(p0->GetScrollPos(), 0);
    // A press on the rail below the thumb scrolls a page.
    host_->OnButtonDown({92, 95});
    host_->OnButtonUp({92, 95});
    EXPECT_EQ(p0->GetScrollPos(), 98);
}

}  // namespace
