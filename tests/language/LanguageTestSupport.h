#pragma once
// Shared by the language tests: a temporary folder, skin packages put together from the
// repository's skin and small fixtures, an analytics reporter that records, and a control
// tree built headlessly from a package's window layout.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/RecordingReporter.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "src/telemetry/IEventReporter.h"
#include "ui/CControl.h"
#include "ui/CControlHost.h"
#include "ui/CSkinPackage.h"

namespace langtest {

namespace fs = std::filesystem;

inline const fs::path kShippedSkin = fs::path(QV_SOURCE_DIR) / "skin";
inline const fs::path kFixtures = fs::path(QV_SOURCE_DIR) / "tests" / "fixtures" / "wizard";

class TempDir : public qvtest::TempFolder {
public:
    TempDir() : TempFolder("qv-language-") {}
};

using qvtest::WriteFile;

// A package folder holding the shipped language files and, over them, `overlay` (a fixture
// folder laid out like the package); empty overlay: the language files alone.
inline void CopyPackageFiles(const fs::path& dir, const fs::path& overlay = {}) {
    fs::copy(kShippedSkin / "language", dir / "language", fs::copy_options::recursive);
    if (!overlay.empty())
        fs::copy(overlay, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}
inline std::unique_ptr<SkinUI::CSkinPackage> ComposePackage(const fs::path& dir, const fs::path& overlay = {}) {
    CopyPackageFiles(dir, overlay);
    return SkinUI::CSkinPackage::OpenFolder(dir.string());
}

using Event = qvtest::RecordedEvent;
using qvtest::RecordingReporter;

// The window's tree of `layout`, built as the window builds it but without a display.
inline std::unique_ptr<SkinUI::CControlHost> BuildWindow(const SkinUI::CSkinPackage* package,
                                                        const std::string& layout = "InstallMainWnd.xml") {
    auto host = std::make_unique<SkinUI::CControlHost>(package);
    std::string error;
    EXPECT_TRUE(host->LoadLayout(layout, nullptr, &error)) << error;
    return host;
}

inline std::string TextOf(SkinUI::CControl& root, const std::string& name) {
    SkinUI::CControl* control = root.FindSubControl(name);
    return control ? control->GetText() : "<no control " + name + ">";
}

}  // namespace langtest
