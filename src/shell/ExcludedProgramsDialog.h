// The programs whose copies are never archived, as a list the user can shorten.
#pragma once

#include <windows.h>

#include "archive/ExcludeList.h"
#include "framework/ModalDialog.h"

class ExcludedProgramsDialog : public ModalDialog {
public:
    // Edits `list` (borrowed; it must outlive the dialog) only when OK is pressed.
    explicit ExcludedProgramsDialog(ExcludeList& list);

    // IDOK once the list holds what the dialog showed; IDCANCEL otherwise.
    int Show(HWND owner);

private:
    bool OnInitDialog(LPARAM param) override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnOk();
    void OnRemove(UINT notifyCode, HWND control);
    // Fills the list box from the edited copy and selects the entry at `index`.
    void ShowPrograms(int index);

    ExcludeList& list_;
    ExcludeList edited_;
};

// How an entry is shown: "notepad.exe (Notepad)" for "notepad.exe|Notepad".
std::string ProgramLabel(const std::string& key);
