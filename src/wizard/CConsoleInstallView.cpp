#include "src/wizard/CConsoleInstallView.h"

#include <algorithm>

#include "src/language/CLanguageTexts.h"
#include "platform/ProcessLogger.h"
#include "platform/Terminal.h"

CConsoleInstallView::CConsoleInstallView(int languageIndex, std::FILE* out, std::FILE* err)
    : languageIndex_(languageIndex), out_(out), err_(err), terminal_(platform::IsTerminal(out)) {}

void CConsoleInstallView::SetProductPageUrl(int languageIndex, std::string url) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return;
    productPages_[static_cast<std::size_t>(languageIndex)] = std::move(url);
}

std::string CConsoleInstallView::ProductPageUrl(int languageIndex) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return {};
    return productPages_[static_cast<std::size_t>(languageIndex)];
}

void CConsoleInstallView::ShowProgress(int percent, const std::string& text) {
    (void)text;  // the bar says it all
    progress_ = percent;
    DrawProgress();
}

void CConsoleInstallView::DrawProgress() {
    if (progress_ < 0 || progress_ == printedProgress_) return;
    printedProgress_ = progress_;
    const int percent = std::min(progress_, 100);
    if (terminal_) {
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(out_, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(), std::string(kWidth - filled, ' ').c_str(),
                     percent);
        lineOpen_ = true;
    } else {
        std::fprintf(out_, "progress: %d%%\n", percent);
    }
    std::fflush(out_);
}

void CConsoleInstallView::FinishProgressLine() {
    if (!lineOpen_) return;
    std::fprintf(out_, "\n");
    std::fflush(out_);
    lineOpen_ = false;
}

const char* CConsoleInstallView::DescriptionKey(MessageKind kind) {
    switch (kind) {
        case MessageKind::Replace: return "ReplaceDesText";
        case MessageKind::CloseWithoutAsking: return "";
        case MessageKind::Cancel: return "CancelDesText";
        case MessageKind::AppExist: return "AppExistDesText";
        case MessageKind::PathError: return "PathErrorDesText";
        case MessageKind::AlternativeLayout: return "";
        case MessageKind::InstallRunTimeOut: return "InstallRunTimeOutDesText";
        case MessageKind::MD5Fail: return "MD5FailDesText";
        case MessageKind::UrlFail: return "UrlFailDexText";
        case MessageKind::InternetFail: return "InternetFailDesText";
        case MessageKind::InternetTimeout: return "InternetTimeoutDesText";
        case MessageKind::NoEnoughSpace: return "NoEnoughSpaceDesText";
        case MessageKind::ClickShortcutToLaunch: return "ClickShortcutToLaunchText";
    }
    return "";
}

void CConsoleInstallView::ShowMessage(MessageKind kind) {
    lastMessage_ = kind;
    FinishProgressLine();
    std::string text;
    if (const char* key = DescriptionKey(kind); *key != '\0') {
        text = CLanguageTexts::Current().GetLanguageText(languageIndex_, "message_page", key);
    }
    // Language texts may carry the toolkit's rich-text tags; a terminal shows plain text.
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            const auto close = text.find('}', i);
            if (close != std::string::npos) {
                if (text.compare(i, 3, "{n}") == 0) plain += ' ';
                i = close;
                continue;
            }
        }
        plain += text[i];
    }
    std::fprintf(err_, "Setup: %s: %s\n", to_string(kind), plain.empty() ? "(no text)" : plain.c_str());
    std::fflush(err_);
    LOG(INFO) << " Unattended: message " << to_string(kind) << " answered with its default";
}

void CConsoleInstallView::OpenUrl(const std::string& url) {
    // Nobody is at the screen to read a web page: say where it is instead.
    FinishProgressLine();
    std::fprintf(out_, "Product page: %s\n", url.c_str());
    std::fflush(out_);
}
