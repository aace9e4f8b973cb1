#pragma once
// Builds a control tree from a layout file of the skin package (or from markup text: a
// source that starts with "<" is parsed as it stands). The root element is a wrapper and
// is never built: a `Window` root configures the window, any other root only contributes
// its children. `Font`, `Image` and `Default` children register with the window; every
// other element is a control, built recursively; `Include` builds another file into the
// current container, so the included root never appears in the tree.
// Thread ownership: one builder per build, on the thread that will own the tree.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/CControl.h"

namespace SkinUI {

class CContainer;
class CControlHost;
class CMarkup;
class CSkinPackage;
class ILayoutBuilderCallback;
struct TMarkupElement;

class CLayoutBuilder {
public:
    static constexpr std::size_t kMaxControls = 20000;
    static constexpr int kMaxIncludeDepth = 8;
    static constexpr int kMaxIncludes = 256;

    // Where a layout names an image or a font, for the package checker.
    struct TImageUse {
        std::string file;
        std::size_t line = 0;
        std::string attribute;
        std::string reference;
    };
    struct TFontUse {
        std::string file;
        std::size_t line = 0;
        int index = 0;
    };

    explicit CLayoutBuilder(const CSkinPackage* package, ILayoutBuilderCallback* callback = nullptr)
        : package_(package), callback_(callback) {}

    // Builds `source`. With a host, `Window` attributes, fonts, images and defaults go to
    // it (the tree is returned, not attached); without one the tree stands alone. Returns
    // the first control built from the root's children, or null with LastError set.
    std::unique_ptr<CControl> Build(std::string_view source, CControlHost* host = nullptr);

    // "<file>: <what went wrong>", with line and column for malformed markup.
    const std::string& LastError() const { return lastError_; }
    // True when the last build failed only because the file holds no control (a file of
    // fonts, images and defaults alone).
    bool HeldNoControl() const { return heldNoControl_; }
    // The root element name of the last file built ("Window", "VerticalLayout", ...).
    const std::string& RootName() const { return rootName_; }
    // Fonts registered by the build (by position; an `id` attribute is not read).
    int FontCount() const { return fontCount_; }
    const std::vector<TImageUse>& ImageUses() const { return imageUses_; }
    const std::vector<TFontUse>& FontUses() const { return fontUses_; }

private:
    bool BuildFile(std::string_view source, CContainer* parent, std::vector<std::unique_ptr<CControl>>& top,
                   int depth);
    bool BuildElement(const CMarkup& markup, const TMarkupElement& element, const std::string& file,
                      CContainer* parent, std::vector<std::unique_ptr<CControl>>& top, int depth);
    std::unique_ptr<CControl> CreateControl(std::string_view className);
    void NoteUses(const std::string& file, const TMarkupElement& element, std::string_view attr,
                  std::string_view value);
    bool Fail(std::string message);

    const CSkinPackage* package_;
    ILayoutBuilderCallback* callback_;
    CControlHost* host_ = nullptr;
    std::map<std::string, std::string> localDefaults_;  // when building without a window
    std::string lastError_;
    std::string rootName_;
    int fontCount_ = 0;
    bool heldNoControl_ = false;
    int includes_ = 0;
    std::size_t controls_ = 0;
    std::vector<TImageUse> imageUses_;
    std::vector<TFontUse> fontUses_;
};

}  // namespace SkinUI
