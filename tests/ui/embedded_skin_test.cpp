// The shipped skin package through the toolkit: every window file builds, and the main
// window's tree has the shape the wizard relies on.
#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/CContainer.h"
#include "ui/CControlHost.h"
#include "ui/CLayoutBuilder.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "platform/Resources.h"

using namespace SkinUI;

namespace {

TEST(EmbeddedSkin, MainWindowBuildsWithItsPagesAndIncludedRows) {
    auto package = CSkinPackage::OpenMemory(platform::FindResource("ZIPRES", 138));
    ASSERT_NE(package, nullptr);
    if (!package->Contains("InstallMainWnd.xml")) GTEST_SKIP() << "the skin has no main window layout yet";
    CControlHost host(package.get());
    CLayoutBuilder builder(package.get());
    auto root = builder.Build("InstallMainWnd.xml", &host);
    ASSERT_NE(root, nullptr) << builder.LastError();
    host.AttachRoot(std::move(root));
    EXPECT_EQ(host.WindowAttributes().size, (TSize{650, 560}));
    EXPECT_EQ(host.WindowAttributes().caption, (TRect{0, 0, 0, 310}));
    EXPECT_EQ(host.Fonts().size(), 23u);

    auto* tabs = dynamic_cast<CTabLayout*>(host.FindControl("main_tablayout"));
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->GetCount(), 3);
    // InstallSetting.xml's own root is not built: its two first-level children are the page's.
    auto* page0 = dynamic_cast<CContainer*>(tabs->GetItemAt(0));
    ASSERT_NE(page0, nullptr);
    EXPECT_EQ(page0->GetCount(), 2);
    for (const char* name : {"install_btn", "license_checkbox", "language_combox", "install_progress", "set_layout",
                             "page_layout", "license_english", "text_fail_advice", "closebtn", "minbtn"}) {
        EXPECT_NE(host.FindControl(name), nullptr) << name;
    }

    uitest::FixedMeasurer measurer;
    uitest::RecordingPainter painter;
    host.SetTextMeasurer(&measurer);
    host.SetClientSize({650, 360});
    host.Paint(painter);
    EXPECT_FALSE(painter.Of("image").empty());
    // The close button sits in the caption band and is clickable, not a drag handle.
    CControl* close = host.FindControl("closebtn");
    TRect r = close->GetPos();
    EXPECT_EQ(r.Width(), 20);
    EXPECT_EQ(host.HitTest({(r.left + r.right) / 2, (r.top + r.bottom) / 2}, false), HitArea::HIT_CLIENT);

    for (const char* file : {"MessageBox.xml", "MessageBox_down.xml", "transWnd.xml"}) {
        if (!package->Contains(file)) continue;
        CControlHost other(package.get());
        CLayoutBuilder b(package.get());
        EXPECT_NE(b.Build(file, &other), nullptr) << file << ": " << b.LastError();
    }
}

// The main window's tree built from the embedded package, as the wizard builds it.
class EmbeddedMainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(package, nullptr);
        CLayoutBuilder builder(package.get());
        auto root = builder.Build("InstallMainWnd.xml", &host);
        ASSERT_NE(root, nullptr) << builder.LastError();
        host.AttachRoot(std::move(root));
    }
    std::unique_ptr<CSkinPackage> package = CSkinPackage::OpenMemory(platform::FindResource("ZIPRES", 138));
    CControlHost host{package.get()};
};

// A wizard started in a language without an agreement of its own keeps the panel's text:
// it must be a whole agreement, not an empty panel.
TEST_F(EmbeddedMainWindow, TheLicencePanelStartsWithTheEnglishAgreement) {
    const std::string english = host.FindControl("license_english")->GetText();
    EXPECT_GT(english.size(), 1000u);
    EXPECT_EQ(host.FindControl("license_text")->GetText(), english);
}

// After an install the first page shows the finished row: a success line with a tick, or,
// once the pipeline has shown its failure headline, that headline and never the tick.
TEST_F(EmbeddedMainWindow, FinishedFormShowsTheSuccessLineAndTheFailureFormOnlyItsHeadline) {
    uitest::FixedMeasurer measurer;
    host.SetTextMeasurer(&measurer);
    host.SetClientSize({650, 360});

    CControl* done = host.FindControl("text_install_done");
    CControl* headline = host.FindControl("text_fail_retry");
    auto* rows = dynamic_cast<CTabLayout*>(host.FindControl("page_layout"));
    ASSERT_TRUE(done && headline && rows);
    done->SetText("DONE");
    headline->SetText("FAILED");
    auto painted = [&](const std::string& text) {
        uitest::RecordingPainter painter;
        host.Paint(painter);
        for (const auto& op : painter.Of("text"))
            if (op.text == text) return true;
        return false;
    };

    // Before the install: neither line.
    EXPECT_FALSE(painted("DONE"));
    const int installTop = host.FindControl("install_btn")->GetPos().top;

    ASSERT_TRUE(rows->SelectItem(1));
    EXPECT_TRUE(painted("DONE"));
    EXPECT_FALSE(painted("FAILED"));
    const int startTop = host.FindControl("start_app")->GetPos().top;
    EXPECT_EQ(startTop, installTop) << "the button jumps when the rows swap";

    headline->SetVisible(true);
    for (const char* name : {"text_fail_advice", "img_warning"}) host.FindControl(name)->SetVisible(true);
    EXPECT_TRUE(painted("FAILED"));
    EXPECT_FALSE(painted("DONE")) << "the failure form shows the success line";
    EXPECT_EQ(host.FindControl("start_app")->GetPos().top, startTop);

    // A retry hides the headline again; a success then shows its line.
    headline->SetVisible(false);
    EXPECT_TRUE(painted("DONE"));
}

}  // namespace
