#include "ui/CLayoutBuilder.h"

#include "platform/ProcessLogger.h"
#include "ui/CButton.h"
#include "ui/CCheckBox.h"
#include "ui/CCombo.h"
#include "ui/CControlHost.h"
#include "ui/CEdit.h"
#include "ui/CHorizontalLayout.h"
#include "ui/CLabel.h"
#include "ui/CListLabelElement.h"
#include "ui/CMarkup.h"
#include "ui/COption.h"
#include "ui/CProgress.h"
#include "ui/CRichEdit.h"
#include "ui/CSkinPackage.h"
#include "ui/CTabLayout.h"
#include "ui/CText.h"
#include "ui/CVerticalLayout.h"
#include "ui/ILayoutBuilderCallback.h"

namespace SkinUI {

namespace {

bool IsImageAttribute(std::string_view name) {
    static constexpr std::string_view kNames[] = {"bkimage",       "normalimage",   "hotimage",
                                                  "pushedimage",   "disabledimage", "focusedimage",
                                                  "selectedimage", "selectedhotimage", "foreimage"};
    for (auto n : kNames) {
        if (n == name) return true;
    }
    return false;
}

std::string AttributeOr(const TMarkupElement& e, std::string_view name, std::string_view fallback = {}) {
    const std::string* v = e.Attribute(name);
    return v != nullptr ? *v : std::string(fallback);
}

}  // namespace

bool CLayoutBuilder::Fail(std::string message) {
    lastError_ = std::move(message);
    LOG(INFO) << " Layout not built: " << lastError_;
    return false;
}

std::unique_ptr<CControl> CLayoutBuilder::Build(std::string_view source, CControlHost* host) {
    host_ = host;
    lastError_.clear();
    rootName_.clear();
    fontCount_ = 0;
    heldNoControl_ = false;
    includes_ = 0;
    controls_ = 0;
    imageUses_.clear();
    fontUses_.clear();
    localDefaults_.clear();
    std::vector<std::unique_ptr<CControl>> top;
    if (!BuildFile(source, nullptr, top, 0)) return nullptr;
    if (top.empty()) {
        std::string file = (!source.empty() && source.front() == '<') ? "(markup)" : std::string(source);
        Fail(file + ": the layout holds no control");
        heldNoControl_ = true;
        return nullptr;
    }
    if (top.size() > 1) LOG(INFO) << " Layout has more than one top-level control; the first is used";
    return std::move(top.front());
}

bool CLayoutBuilder::BuildFile(std::string_view source, CContainer* parent,
                               std::vector<std::unique_ptr<CControl>>& top, int depth) {
    std::string text;
    std::string file;
    if (!source.empty() && source.front() == '<') {
        text.assign(source);
        file = "(markup)";
    } else {
        file.assign(source);
        if (package_ == nullptr) return Fail(file + ": " + to_string(PackageResult::PACKAGE_OPEN_FAILED));
        PackageResult result = package_->ReadText(source, text);
        if (result != PackageResult::PACKAGE_OK) return Fail(file + ": " + to_string(result));
    }
    CMarkup markup;
    if (!markup.Load(text)) return Fail(file + ": " + markup.ErrorMessage());
    const TMarkupElement& root = *markup.Root();
    if (depth == 0) rootName_ = root.name;
    if (root.name == "Window" && host_ != nullptr) {
        for (const auto& [name, value] : root.attributes) host_->SetWindowAttribute(name, value);
    }
    for (std::size_t child : root.children) {
        if (!BuildElement(markup, markup.Element(child), file, parent, top, depth)) return false;
    }
    return true;
}

bool CLayoutBuilder::BuildElement(const CMarkup& markup, const TMarkupElement& element, const std::string& file,
                                  CContainer* parent, std::vector<std::unique_ptr<CControl>>& top, int depth) {
    const std::string& cls = element.name;
    if (cls == "Font") {
        // Numbered by position: an `id` attribute is not read.
        ++fontCount_;
        if (host_ != nullptr) {
            TFontInfo font;
            font.name = AttributeOr(element, "name");
            font.size = ParseInt(AttributeOr(element, "size", "12"), 12);
            font.bold = ParseBool(AttributeOr(element, "bold"));
            font.italic = ParseBool(AttributeOr(element, "italic"));
            font.underline = ParseBool(AttributeOr(element, "underline"));
            host_->AddFont(font);
        }
        return true;
    }
    if (cls == "Image") {
        std::string name = AttributeOr(element, "name");
        NoteUses(file, element, "bkimage", name);
        if (host_ != nullptr && !name.empty()) host_->Images().Get(name, ParseColor(AttributeOr(element, "mask")).value_or(0));
        return true;
    }
    if (cls == "Default") {
        std::string name = AttributeOr(element, "name");
        std::string value = AttributeOr(element, "value");
        if (host_ != nullptr) {
            host_->SetDefaultAttributes(name, value);
        } else {
            localDefaults_[AsciiLowerCopy(name)] = value;
        }
        return true;
    }
    if (cls == "Include") {
        std::string source = AttributeOr(element, "source");
        if (depth + 1 > kMaxIncludeDepth || ++includes_ > kMaxIncludes) {
            return Fail(file + ": line " + std::to_string(element.line) + ": includes nested or repeated too often");
        }
        return BuildFile(source, parent, top, depth + 1);
    }

    std::unique_ptr<CControl> control = CreateControl(cls);
    if (!control) {
        LOG(INFO) << " Unknown layout element skipped: " << cls << " in " << file;
        return true;
    }
    if (++controls_ > kMaxControls) return Fail(file + ": more than " + std::to_string(kMaxControls) + " controls");

    // Defaults of the class first, then the element's own attributes.
    const std::string* defaults = nullptr;
    if (host_ != nullptr) {
        defaults = host_->GetDefaultAttributes(cls);
    } else if (auto it = localDefaults_.find(AsciiLowerCopy(cls)); it != localDefaults_.end()) {
        defaults = &it->second;
    }
    if (defaults != nullptr) control->ApplyAttributeList(*defaults);
    for (const auto& [name, value] : element.attributes) {
        NoteUses(file, element, name, value);
        control->SetAttribute(name, value);
    }

    auto* container = dynamic_cast<CContainer*>(control.get());
    if (container != nullptr) {
        std::vector<std::unique_ptr<CControl>> ignored;
        for (std::size_t child : element.children) {
            if (!BuildElement(markup, markup.Element(child), file, container, ignored, depth)) return false;
        }
    }
    if (parent != nullptr) {
        parent->Add(std::move(control));
    } else {
        top.push_back(std::move(control));
    }
    return true;
}

std::unique_ptr<CControl> CLayoutBuilder::CreateControl(std::string_view cls) {
    if (cls == "VerticalLayout") return std::make_unique<CVerticalLayout>();
    if (cls == "HorizontalLayout") return std::make_unique<CHorizontalLayout>();
    if (cls == "TabLayout") return std::make_unique<CTabLayout>();
    if (cls == "Container") return std::make_unique<CContainer>();
    if (cls == "Label") return std::make_unique<CLabel>();
    if (cls == "Text") return std::make_unique<CText>();
    if (cls == "Button") return std::make_unique<CButton>();
    if (cls == "Option") return std::make_unique<COption>();
    if (cls == "CheckBox") return std::make_unique<CCheckBox>();
    if (cls == "Progress") return std::make_unique<CProgress>();
    if (cls == "Edit") return std::make_unique<CEdit>();
    if (cls == "Combo") return std::make_unique<CCombo>();
    if (cls == "ListLabelElement") return std::make_unique<CListLabelElement>();
    if (cls == "RichEdit") return std::make_unique<CRichEdit>();
    if (cls == "Control") return std::make_unique<CControl>();
    if (callback_ != nullptr) return callback_->CreateControl(cls);
    return nullptr;
}

void CLayoutBuilder::NoteUses(const std::string& file, const TMarkupElement& element, std::string_view attr,
                              std::string_view value) {
    if (IsImageAttribute(attr) && !value.empty()) {
        imageUses_.push_back({file, element.line, std::string(attr), std::string(value)});
    } else if (attr == "font") {
        int index = ParseInt(value, -1);
        if (index >= 0) fontUses_.push_back({file, element.line, index});
    } else if (attr == "text") {
        // Fonts selected inside marked-up text.
        for (std::size_t at = value.find("{f "); at != std::string_view::npos; at = value.find("{f ", at + 3)) {
            int index = ParseInt(value.substr(at + 3), -1);
            if (index >= 0) fontUses_.push_back({file, element.line, index});
        }
    }
}

}  // namespace SkinUI
