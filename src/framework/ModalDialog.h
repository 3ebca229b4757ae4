// A modal dialog from a dialog resource: the data handed to DoModal arrives at
// WM_INITDIALOG, and End gives DoModal its result.
#pragma once

#include <windows.h>

#include "framework/MessageMap.h"

class ModalDialog {
public:
    explicit ModalDialog(int templateId) : templateId_(templateId) {}
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog until End; -1 when it cannot be created.
    INT_PTR DoModal(HWND owner, LPARAM param = 0);
    HWND Handle() const { return dialog_; }

protected:
    // The parameter given to DoModal; true lets the system set the focus.
    virtual bool OnInitDialog(LPARAM param);
    // Walks the handler tables; the base ends the dialog with IDOK and IDCANCEL.
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void End(INT_PTR result);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnOk() { End(IDOK); }
    void OnCancel() { End(IDCANCEL); }

    int templateId_;
    HWND dialog_ = nullptr;
    LPARAM param_ = 0;
};
