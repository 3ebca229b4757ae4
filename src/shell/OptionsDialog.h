// The Options dialog: which clipboard formats are captured, the archive folder
// and its limits, the programs never archived, and the startup shortcut with
// its hot key.
#pragma once

#include <windows.h>

#include <string>

#include "archive/ExcludeList.h"
#include "framework/ModalDialog.h"

class OptionsDialog : public ModalDialog {
public:
    OptionsDialog();

    // IDOK once the settings were changed, the startup shortcut brought in line
    // and the settings saved; IDCANCEL (nothing changed) otherwise.
    int Show(HWND owner);

private:
    bool OnInitDialog(LPARAM param) override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnOk();
    void OnBrowse(UINT notifyCode, HWND control);
    void OnExcludedPrograms(UINT notifyCode, HWND control);

    std::string ControlText(int control) const;
    bool Checked(int control) const;
    void SetChecked(int control, bool checked) const;

    // The exclude list as its dialog left it; the settings take it on OK.
    ExcludeList excluded_;
};

// The shell's folder picker, starting at the folder `path` names. True when the
// user picked a file-system folder: `path` then holds it, ending with "\".
bool BrowseForFolder(HWND owner, std::string& path);
