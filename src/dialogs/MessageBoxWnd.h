#pragma once
// The wizard's skinned question and warning box. The caller names a MessageKind; the box
// takes its layout from the skin package, its four texts and its icon from "message_page"
// of the language file of the given language index, hides the second button for the
// warning kinds, and tells which button closed it. Two kinds act on their own: confirming
// Cancel reports "CrashRate"/"Close" at once and ends the process with exit code 0;
// InstallRunTimeOut and MD5Fail post UM_CLEAR_DOWNLOAD to the owner when closed with the
// yes button or the close button, so that the owner deletes the downloaded installer.
//
// How the main window uses it (its ShowMessage):
//
//     MessageBoxWnd::RunModal(kind, languageIndex, this);            // any thread
//
// or, spelled out:
//
//     auto box = std::make_unique<MessageBoxWnd>(kind, languageIndex);
//     MessageBoxResult result = box->ShowModal(this);
//
// The owner's HandleWindowMessage must leave WM_SYSCOMMAND/SC_RESTORE to the default
// handling (or show the window itself): the box sends it so that a minimised owner comes
// back before the box appears. It must also handle UM_CLEAR_DOWNLOAD.
//
// Thread ownership: the box belongs to the thread that calls ShowModal; that thread gets
// its own X connection and runs the box's modal loop until it closes. The owner may live
// on another thread (the install pipeline raises boxes over the window thread's window);
// the restore request waits for the owner's thread to handle it (or for the owner's window
// or loop to end). The owner ignores input while the box is up.
//
// Lifetime: the caller owns the object (RunModal, a local or a std::unique_ptr). Its
// window is gone when ShowModal returns; the owner destroys the object afterwards.

#include <cstdint>
#include <string>

#include "src/dialogs/MessageBoxResult.h"
#include "src/system/MessageKind.h"
#include "src/telemetry/IEventReporter.h"
#include "ui/x11/CSkinWindow.h"

class MessageBoxWnd : public SkinUI::CSkinWindow {
public:
    // Posted to the owner: delete the downloaded installer and its task file.
    static constexpr std::uint32_t UM_CLEAR_DOWNLOAD = SkinUI::WM_USER + 4;

    // What a kind shows: the keys of its texts in "message_page" (empty key = empty text)
    // and whether its second button stays visible. Null for a kind without texts (1, 5,
    // and values outside the enumeration).
    struct TKindTexts {
        const char* icon;
        const char* describeKey;
        const char* questionKey;
        const char* yesKey;
        const char* noKey;
        bool showNo;
    };
    static const TKindTexts* TextsOf(MessageKind kind);

    // `languageIndex` chooses the language file (0-19; another value leaves the layout's
    // own texts). `reporter` receives the Cancel confirmation and must outlive the box.
    MessageBoxWnd(MessageKind kind, int languageIndex, IEventReporter& reporter = DefaultEventReporter());
    ~MessageBoxWnd() override;

    // Creates the box over `owner` (may be null), restores a minimised owner, centres the
    // box on it and runs the box modally on the calling thread until its window is gone.
    // Once per object.
    MessageBoxResult ShowModal(SkinUI::CNativeWindow* owner);

    // A box made, run and destroyed on the calling thread: the main window's ShowMessage.
    static MessageBoxResult RunModal(MessageKind kind, int languageIndex, SkinUI::CNativeWindow* owner,
                                     IEventReporter& reporter = DefaultEventReporter());

    MessageKind Kind() const { return kind_; }

protected:
    std::string GetWindowClassName() const override { return "MESSAGEBOX_UI_Frame"; }
    std::string GetSkinFile() const override;
    void InitWindow() override;
    void OnClick(SkinUI::TNotify& msg) override;

private:
    // Fills texts and icon from the language file; leaves the layout alone when the file
    // does not build.
    void ApplyTexts();
    void ClearDownload();
    void CloseWith(MessageBoxResult result);

    MessageKind kind_;
    int languageIndex_;
    IEventReporter& reporter_;
    SkinUI::CNativeWindow* owner_ = nullptr;

    SkinUI::CControl* closeButton_ = nullptr;
    SkinUI::CControl* minButton_ = nullptr;
    SkinUI::CControl* yesButton_ = nullptr;
    SkinUI::CControl* noButton_ = nullptr;
    SkinUI::CControl* describe_ = nullptr;
    SkinUI::CControl* question_ = nullptr;
    SkinUI::CControl* icon_ = nullptr;
};
