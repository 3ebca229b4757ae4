// The program's one message dialog: a string-table message with a "Don't show
// this message again" box that is remembered per message in the registry.
#pragma once

#include <windows.h>

#include "framework/ModalDialog.h"

class WarningDialog : public ModalDialog {
public:
    // Bit 0 of Show's buttons: OK and Cancel; clear: OK only.
    static constexpr UINT kOkCancel = 1;

    // Reads whether the message was suppressed earlier.
    explicit WarningDialog(UINT messageId);

    // 1 (OK) or 2 (Cancel). A suppressed message answers 1 without showing.
    int Show(HWND owner, UINT buttons);
    bool Suppressed() const { return suppressed_; }

private:
    bool OnInitDialog(LPARAM buttons) override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDontShowAgain(UINT notifyCode, HWND control);
    // Sizes the dialog to its one-line message and places the controls.
    void Layout(const char* text, bool withCancel);

    UINT messageId_;
    bool suppressed_ = false;
};
