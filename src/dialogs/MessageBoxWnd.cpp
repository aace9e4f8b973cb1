#include "src/dialogs/MessageBoxWnd.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "src/language/CLanguageTexts.h"
#include "platform/Process.h"
#include "platform/ProcessLogger.h"
#include "ui/CControl.h"
#include "ui/x11/CPangoTextMeasurer.h"

using SkinUI::CControl;

namespace {

constexpr const char* kHelpIcon = "skin\\message_help.png";
constexpr const char* kExclamationIcon = "skin\\message_exclamation.png";
constexpr const char* kTextsContainer = "message_page";

// Indexed by MessageKind; a null describeKey marks a kind without texts.
constexpr MessageBoxWnd::TKindTexts kKindTexts[] = {
    /* Replace */ {kHelpIcon, "ReplaceDesText", "ReplaceQueText", "ReplaceText", "CancelText", true},
    /* 1 */ {nullptr, nullptr, nullptr, nullptr, nullptr, true},
    /* Cancel */ {kHelpIcon, "CancelDesText", "CancelQueText", "YesText", "NoText", true},
    /* AppExist */ {kHelpIcon, "AppExistDesText", "AppExistQueText", "OkButtonText", "NoText", false},
    /* PathError */ {kExclamationIcon, "PathErrorDesText", "", "OkButtonText", "", false},
    /* 5 */ {nullptr, nullptr, nullptr, nullptr, nullptr, true},
    /* InstallRunTimeOut */
    {kExclamationIcon, "InstallRunTimeOutDesText", "InstallRunTimeOutQueText", "ConfirmText", "CancelText", false},
    /* MD5Fail */ {kExclamationIcon, "MD5FailDesText", "MD5FailQueText", "ConfirmText", "CancelText", false},
    /* UrlFail */ {kExclamationIcon, "UrlFailDexText", "UrlFailQueText", "ConfirmText", "CancelText", false},
    /* InternetFail */
    {kExclamationIcon, "InternetFailDesText", "InternetFailQueText", "ConfirmText", "CancelText", false},
    /* InternetTimeout */
    {kExclamationIcon, "InternetTimeoutDesText", "InternetTimeoutQueText", "ConfirmText", "CancelText", false},
    /* NoEnoughSpace */ {kExclamationIcon, "NoEnoughSpaceDesText", "", "OkButtonText", "", false},
    /* ClickShortcutToLaunch */ {kExclamationIcon, "ClickShortcutToLaunchText", "", "ConfirmText", "", false},
};

}  // namespace

const MessageBoxWnd::TKindTexts* MessageBoxWnd::TextsOf(MessageKind kind) {
    auto index = static_cast<std::int32_t>(kind);
    if (index < 0 || index >= static_cast<std::int32_t>(std::size(kKindTexts))) return nullptr;
    const TKindTexts& texts = kKindTexts[index];
    return texts.describeKey ? &texts : nullptr;
}

MessageBoxWnd::MessageBoxWnd(MessageKind kind, int languageIndex, IEventReporter& reporter)
    : kind_(kind), languageIndex_(languageIndex), reporter_(reporter) {}

MessageBoxWnd::~MessageBoxWnd() = default;

std::string MessageBoxWnd::GetSkinFile() const {
    return kind_ == MessageKind::AlternativeLayout ? "MessageBox_down.xml" : "MessageBox.xml";
}

MessageBoxResult MessageBoxWnd::ShowModal(SkinUI::CNativeWindow* owner) {
    owner_ = owner;
    SetLanguage(SkinUI::LanguageTagForIndex(languageIndex_));
    // The layout's size replaces the initial one.
    if (!Create(owner, "MSGUIDemo", SkinUI::UI_WNDSTYLE_DIALOG, 0, 0, 0, 452, 190)) return MessageBoxResult::NoWindow;
    if (owner != nullptr) owner->SendMessage(SkinUI::WM_SYSCOMMAND, SkinUI::SC_RESTORE, 0);
    CenterWindow();
    const int code = CNativeWindow::ShowModal();
    if (code == static_cast<int>(MessageBoxResult::Yes)) return MessageBoxResult::Yes;
    if (code == static_cast<int>(MessageBoxResult::NoOrClose)) return MessageBoxResult::NoOrClose;
    return MessageBoxResult::Dismissed;  // the window manager closed it, or a quit ended the loop
}

MessageBoxResult MessageBoxWnd::RunModal(MessageKind kind, int languageIndex, SkinUI::CNativeWindow* owner,
                                         IEventReporter& reporter) {
    auto box = std::make_unique<MessageBoxWnd>(kind, languageIndex, reporter);
    return box->ShowModal(owner);
}

void MessageBoxWnd::InitWindow() {
    closeButton_ = FindControl("closebtn");
    minButton_ = FindControl("minbtn");
    yesButton_ = FindControl("btn_yes");
    noButton_ = FindControl("btn_no");
    describe_ = FindControl("msg_describe");
    question_ = FindControl("msg_question");
    icon_ = FindControl("iconimage");
    if (kind_ != MessageKind::AlternativeLayout) ApplyTexts();
}

void MessageBoxWnd::ApplyTexts() {
    std::string error;
    std::shared_ptr<const TLanguageFile> file = CLanguageTexts::Current().File(languageIndex_, &error);
    if (!file) {
        LOG(INFO) << " Message box keeps its layout texts: " << error;
        return;
    }
    std::string describe, question, yes, no;
    const TKindTexts* texts = TextsOf(kind_);
    if (file->Container(kTextsContainer) != nullptr && texts != nullptr) {
        if (icon_) icon_->SetBkImage(texts->icon);
        auto text = [&](const char* key) -> std::string {
            if (*key == '\0') return {};
            return file->Text(kTextsContainer, key).value_or(std::string());
        };
        describe = text(texts->describeKey);
        question = text(texts->questionKey);
        yes = text(texts->yesKey);
        no = text(texts->noKey);
        if (!texts->showNo && noButton_) noButton_->SetVisible(false);
    }
    if (yesButton_) yesButton_->SetText(yes);
    if (noButton_) noButton_->SetText(no);
    if (describe_) describe_->SetText(describe);
    if (question_) question_->SetText(question);
}

void MessageBoxWnd::ClearDownload() {
    if (kind_ != MessageKind::InstallRunTimeOut && kind_ != MessageKind::MD5Fail) return;
    if (owner_ != nullptr) owner_->PostMessage(UM_CLEAR_DOWNLOAD);
}

void MessageBoxWnd::OnClick(SkinUI::TNotify& msg) {
    CControl* sender = msg.sender;
    if (sender == nullptr) return;
    if (sender == yesButton_) {
        if (kind_ == MessageKind::Cancel) {
            reporter_.ReportEvent("CrashRate", "Close", "", true);
            platform::EndProcessNow(0);
        }
        ClearDownload();
        CloseWith(MessageBoxResult::Yes);
    } else if (sender == closeButton_) {
        ClearDownload();
        CloseWith(MessageBoxResult::NoOrClose);
    } else if (sender == noButton_) {
        CloseWith(MessageBoxResult::NoOrClose);
    }
}

void MessageBoxWnd::CloseWith(MessageBoxResult result) { Close(static_cast<int>(result)); }
