#include "framework/ModalDialog.h"

#include "framework/Module.h"

INT_PTR ModalDialog::DoModal(HWND owner, LPARAM param) {
    param_ = param;
    return ::DialogBoxParamA(AppModule().Instance(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool ModalDialog::OnInitDialog(LPARAM) { return true; }

bool ModalDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<ModalDialog> kMessages[] = {
        msg::Command<&ModalDialog::OnOk>(IDOK),
        msg::Command<&ModalDialog::OnCancel>(IDCANCEL),
    };
    return DispatchMessageTable<ModalDialog>(*this, kMessages, message, wParam, lParam, result);
}

void ModalDialog::End(INT_PTR result) {
    if (dialog_) ::EndDialog(dialog_, result);
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ModalDialog*>(lParam);
        self->dialog_ = dialog;
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return self->OnInitDialog(self->param_) ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self) return FALSE;

    LRESULT result = 0;
    const bool handled = self->ProcessMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(dialog, DWLP_USER, 0);
        self->dialog_ = nullptr;
    }
    if (!handled) return FALSE;
    // The few messages that answer through the return value (WM_CTLCOLOR*) get
    // their own path once a dialog needs one.
    ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}
