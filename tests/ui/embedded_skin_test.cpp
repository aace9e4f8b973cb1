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

}  // namespace
