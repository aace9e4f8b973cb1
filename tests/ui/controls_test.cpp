#include <gtest/gtest.h>

#include <thread>

#include "UiTestSupport.h"
#include "ui/CCheckBox.h"
#include "ui/CCombo.h"
#include "ui/CControlHost.h"
#include "ui/CEdit.h"
#include "ui/CLabel.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CNotifyRouter.h"
#include "ui/COption.h"
#include "ui/CProgress.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/CText.h"

using namespace SkinUI;
using uitest::Received;

namespace {

using uitest::kFixtures;

TPoint Centre(const CControl* c) {
    TRect r = c->GetPos();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = CSkinPackage::OpenFolder(kFixtures);
        host_ = std::make_unique<CControlHost>(package_.get());
        std::string error;
        ASSERT_TRUE(host_->LoadLayout("Window.xml", nullptr, &error)) << error;
        ASSERT_EQ(host_->GetClientSize(), (TSize{300, 200}));
        host_->SetTextMeasurer(&measurer_);
        host_->AddNotifier(&recorder_);
        host_->UpdateLayout();
        host_->TakeDirtyArea();
    }
    template <class T>
    T* Find(const char* name) {
        auto* c = dynamic_cast<T*>(host_->FindControl(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    void Click(TPoint p) {
        host_->OnButtonDown(p);
        host_->OnButtonUp(p);
    }
    std::unique_ptr<CSkinPackage> package_;
    std::unique_ptr<CControlHost> host_;
    uitest::FixedMeasurer measurer_;
    uitest::Recorder recorder_;
};

TEST_F(ControlsTest, OnlyAnEnabledVisibleButtonReleasedOverItselfClicks) {
    auto* minbtn = Find<CButton>("minbtn");
    TPoint at = Centre(minbtn);
    Click(at);
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"click", "minbtn", 0, 0}}));

    recorder_.got.clear();
    host_->OnButtonDown(at);
    host_->OnButtonUp({at.x + 100, at.y + 100});  // released elsewhere
    minbtn->SetEnabled(false);
    Click(at);
    EXPECT_FALSE(minbtn->Activate());
    minbtn->SetEnabled(true);
    minbtn->SetVisible(false);
    host_->UpdateLayout();
    Click(at);
    EXPECT_FALSE(minbtn->Activate());
    // Hidden while pressed: the release sends nothing either.
    minbtn->SetVisible(true);
    host_->UpdateLayout();
    host_->OnButtonDown(at);
    minbtn->SetVisible(false);
    host_->OnButtonUp(at);
    EXPECT_TRUE(recorder_.got.empty());
}

TEST_F(ControlsTest, GroupedOptionsDeselectSilentlyAndSendOneSelectChanged) {
    auto* dot1 = Find<COption>("dot1");
    auto* dot2 = Find<COption>("dot2");
    auto* dot3 = Find<COption>("dot3");
    ASSERT_TRUE(dot1->IsSelected());

    dot2->Selected(true);
    EXPECT_FALSE(dot1->IsSelected());
    EXPECT_TRUE(dot2->IsSelected());
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"selectchanged", "dot2", 0, 0}}));

    recorder_.got.clear();
    dot2->Selected(false);  // a grouped option being deselected says nothing
    EXPECT_TRUE(recorder_.got.empty());
    dot3->Selected(true);
    dot3->Selected(true);   // already selected: sent again
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"selectchanged", "dot3", 0, 0}, {"selectchanged", "dot3", 0, 0}}));

    recorder_.got.clear();
    Click(Centre(dot1));
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"click", "dot1", 0, 0}, {"selectchanged", "dot1", 0, 0}}));
    EXPECT_TRUE(dot1->IsSelected());
    EXPECT_FALSE(dot3->IsSelected());
}

TEST_F(ControlsTest, CheckBoxReportsTheClickBeforeItChangesAndEveryChangeAfter) {
    auto* consent = Find<CCheckBox>("consent");
    ASSERT_TRUE(consent->GetCheck());
    std::vector<bool> stateAtClick;
    recorder_.onNotify = [&](TNotify& n) {
        if (n.type == "click") stateAtClick.push_back(static_cast<COption*>(n.sender)->IsSelected());
    };
    Click(Centre(consent));
    EXPECT_EQ(stateAtClick, (std::vector<bool>{true}));
    EXPECT_FALSE(consent->GetCheck());
    consent->SetCheck(false);  // no change, still reported
    consent->SetCheck(true);
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"click", "consent", 0, 0},
                                                    {"selectchanged", "consent", 0, 0},
                                                    {"selectchanged", "consent", 0, 0},
                                                    {"selectchanged", "consent", 0, 0}}));
}

TEST_F(ControlsTest, TabPagesOutOfRangeOrUnchangedDoNothing) {
    auto* pages = Find<CTabLayout>("pages");
    EXPECT_FALSE(pages->SelectItem(5));
    EXPECT_FALSE(pages->SelectItem(-1));
    EXPECT_TRUE(pages->SelectItem(1));
    EXPECT_EQ(pages->GetCurSel(), 1);
    EXPECT_TRUE(recorder_.got.empty());
    EXPECT_TRUE(host_->FindControl("page1")->IsVisible());

    // Texts of a hidden page are placed only once the page shows.
    auto* first = Find<CLabel>("part_first");
    EXPECT_TRUE(first->GetTextLayout().Fragments().empty());

    EXPECT_TRUE(pages->SelectItem(0));
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"tabselect", "pages", 0, 1}}));
    host_->UpdateLayout();
    ASSERT_EQ(first->GetTextLayout().Fragments().size(), 1u);
    EXPECT_EQ(first->GetTextLayout().Fragments()[0].text, "first");
    EXPECT_TRUE(host_->FindControl("page0")->IsVisible());
    EXPECT_FALSE(host_->FindControl("page1")->IsVisible());
    EXPECT_FALSE(host_->FindControl("page2")->IsVisible());
    host_->UpdateLayout();
    EXPECT_EQ(host_->FindControl("page0")->GetPos(), host_->FindControl("page1")->GetPos());
    // Controls of the hidden page are not hit.
    EXPECT_EQ(host_->FindControlAt(Centre(host_->FindControl("dot1"))), host_->FindControl("part_first"));
}

TEST_F(ControlsTest, ProgressTakesOnlyNewValuesInsideItsRange) {
    auto* progress = Find<CProgress>("progress");
    struct Case {
        int value;
        bool taken;
        int after;
    } cases[] = {{101, false, 10}, {-1, false, 10}, {10, false, 10}, {100, true, 100}, {0, true, 0}, {50, true, 50}};
    for (const auto& c : cases) {
        host_->TakeDirtyArea();
        EXPECT_EQ(progress->SetValue(c.value), c.taken) << c.value;
        EXPECT_EQ(progress->GetValue(), c.after) << c.value;
        EXPECT_EQ(host_->IsDirty(), c.taken) << c.value;
    }
    TRect bar = progress->GetPos();
    EXPECT_EQ(progress->FilledRect(), (TRect{bar.left, bar.top, bar.left + bar.Width() / 2, bar.bottom}));
}

TEST_F(ControlsTest, EqualTextDoesNotInvalidate) {
    CControl* title = host_->FindControl("title");
    title->SetText("Title");
    EXPECT_FALSE(host_->IsDirty());
    title->SetText("Other");
    EXPECT_EQ(host_->TakeDirtyArea(), title->GetPos());
    EXPECT_EQ(title->GetText(), "Other");
}

TEST_F(ControlsTest, ComboSelectsItemsAndReportsNewAndOldIndex) {
    auto* combo = Find<CCombo>("langs");
    EXPECT_EQ(combo->GetCurSel(), 2);
    EXPECT_FALSE(combo->SelectItem(7));
    EXPECT_TRUE(combo->SelectItem(2));
    EXPECT_TRUE(recorder_.got.empty());

    // Opened by a click, the list shows only the visible items below the combo.
    Click(Centre(combo));
    ASSERT_EQ(host_->GetOpenCombo(), combo);
    TRect box = combo->DropBoxRect();
    EXPECT_EQ(box.top, combo->GetPos().bottom);
    EXPECT_EQ(box.Width(), 100);
    EXPECT_EQ(box.Height(), 2 * 24);
    EXPECT_EQ(combo->DropItemAt({box.left + 5, box.top + 5}), 1);
    Click({box.left + 5, box.top + 5});
    EXPECT_EQ(host_->GetOpenCombo(), nullptr);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"click", "langs", 0, 0}, {"itemselect", "langs", 1, 2}}));
}

TEST_F(ControlsTest, LinkClicksCarryTheLinkIndex) {
    auto* text = Find<CText>("link_text");
    EXPECT_EQ(text->GetLinkCount(), 2);
    auto first = text->GetTextLayout().LinkRects(0);
    auto second = text->GetTextLayout().LinkRects(1);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    Click({text->GetPos().left + 1, Centre(text).y});  // on "Read", no link
    TPoint at{second[0].left + 1, second[0].top + 1};
    Click(at);
    TPoint atFirst{first[0].left + 1, first[0].top + 1};
    Click(atFirst);
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"link", "link_text", 1, 0}, {"link", "link_text", 0, 0}}));
    // Pressed on one link and released on the other: nothing.
    recorder_.got.clear();
    host_->OnButtonDown(at);
    host_->OnButtonUp(atFirst);
    EXPECT_TRUE(recorder_.got.empty());
}

TEST_F(ControlsTest, NotifyRunsBeforeTheMessageMap) {
    struct Window : CNotifyRouter, INotifyListener {
        std::vector<std::string> log;
        void Notify(TNotify& msg) override {
            log.push_back("notify " + msg.type);
            RouteNotify(msg);
        }
    } window;
    window.AddMessageHandler("CLICK", "", [&](TNotify& n) { window.log.push_back("any " + n.sender->GetName()); });
    window.AddMessageHandler("click", "closebtn", [&](TNotify&) { window.log.push_back("close"); });
    window.AddMessageHandler("selectchanged", "", [&](TNotify&) { window.log.push_back("select"); });
    host_->AddNotifier(&window);
    Click(Centre(host_->FindControl("closebtn")));
    Click(Centre(host_->FindControl("minbtn")));
    EXPECT_EQ(window.log, (std::vector<std::string>{"notify click", "any closebtn", "close", "notify click",
                                                    "any minbtn"}));
}

TEST_F(ControlsTest, SettersFromAnotherThreadOnlyStoreStateAndQueueTheirNotifications) {
    auto* pages = Find<CTabLayout>("pages");
    auto* progress = Find<CProgress>("progress");
    CControl* title = host_->FindControl("title");
    std::thread pipeline([&] {
        title->SetText("Downloading");
        progress->SetValue(42);
        pages->SelectItem(0);
        host_->FindControl("minbtn")->SetVisible(false);
    });
    pipeline.join();
    EXPECT_TRUE(recorder_.got.empty());  // nothing ran on the pipeline thread
    EXPECT_TRUE(host_->IsDirty());
    EXPECT_TRUE(host_->IsLayoutNeeded());
    EXPECT_EQ(title->GetText(), "Downloading");
    host_->DeliverPendingNotifications();
    EXPECT_EQ(recorder_.got, (std::vector<Received>{{"tabselect", "pages", 0, 1}}));
}

TEST_F(ControlsTest, HidingTheFocusedControlDropsTheFocusAndEscapeIsSwallowed) {
    auto* page2 = Find<CContainer>("page2");
    auto* edit = static_cast<CEdit*>(page2->Add(std::make_unique<CEdit>()));
    edit->SetAttribute("name", "path");
    edit->SetFixedHeight(20);
    Find<CTabLayout>("pages")->SelectItem(2);
    host_->UpdateLayout();
    host_->OnButtonDown(Centre(edit));
    host_->OnButtonUp(Centre(edit));
    ASSERT_EQ(host_->GetFocus(), edit);
    host_->OnChar("/opt/é");
    EXPECT_TRUE(host_->OnKeyDown(Key::KEY_BACKSPACE));
    host_->OnChar("x");
    EXPECT_EQ(edit->GetText(), "/opt/x");
    EXPECT_TRUE(host_->OnKeyDown(Key::KEY_ESCAPE));
    EXPECT_FALSE(host_->OnKeyDown(Key::KEY_RETURN));
    EXPECT_EQ(host_->GetFocus(), edit);
    page2->SetVisible(false);
    EXPECT_EQ(host_->GetFocus(), nullptr);
}

TEST_F(ControlsTest, CaptionBandDragsExceptOverButtonsAndSizeboxResizes) {
    TPoint title = Centre(host_->FindControl("title"));
    TPoint minbtn = Centre(host_->FindControl("minbtn"));
    EXPECT_EQ(host_->HitTest(title, false), HitArea::HIT_CAPTION);
    EXPECT_EQ(host_->HitTest(minbtn, false), HitArea::HIT_CLIENT);
    EXPECT_EQ(host_->HitTest({150, 100}, false), HitArea::HIT_CLIENT);  // below the band
    EXPECT_EQ(host_->HitTest({1, 100}, false), HitArea::HIT_LEFT);
    EXPECT_EQ(host_->HitTest({298, 198}, false), HitArea::HIT_BOTTOMRIGHT);
    EXPECT_EQ(host_->HitTest({1, 20}, true), HitArea::HIT_CAPTION);  // maximised: no resizing
}

TEST_F(ControlsTest, PaintingReadsTheLaidOutTreeAndSkipsMissingImages) {
    uitest::RecordingPainter painter;
    host_->Paint(painter);
    auto images = painter.Of("image");
    ASSERT_EQ(images.size(), 1u);  // minbtn's normal image; the other references resolve to nothing
    EXPECT_EQ(images[0].rect, host_->FindControl("minbtn")->GetPos());
    EXPECT_EQ(images[0].source, (TRect{0, 0, 1, 1}));
    bool titleDrawn = false;
    for (const auto& t : painter.Of("text")) titleDrawn |= (t.text == "Title" && t.fontSize == 14);
    EXPECT_TRUE(titleDrawn);
    EXPECT_EQ(painter.Of("clip").size(), painter.Of("unclip").size());
}

}  // namespace
