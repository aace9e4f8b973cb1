// libFuzzer target: arbitrary text as a layout file. The markup reader, the rich-text
// parser (on every attribute value), image references and attribute lists must never
// crash or hang.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/CControl.h"
#include "ui/CMarkup.h"
#include "ui/CRichText.h"
#include "ui/TImageRef.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    SkinUI::CMarkup markup;
    if (!markup.Load(text)) {
        (void)markup.ErrorMessage();
        return 0;
    }
    SkinUI::CControl control;
    for (const auto& element : markup.Elements()) {
        for (const auto& [name, value] : element.attributes) {
            (void)SkinUI::CRichText::Parse(value);
            (void)SkinUI::TImageRef::Parse(value);
            control.ApplyAttributeList(value);
            control.SetAttribute(name, value);
        }
    }
    return 0;
}
