// The About box: the program's name and version, its maker, and a link that
// opens the help file.
#pragma once

#include <windows.h>

#include "framework/ModalDialog.h"

class AboutDialog : public ModalDialog {
public:
    AboutDialog();

    // Runs modally, centred on the owner, until OK or Cancel (Esc, the close
    // button); -1 when the dialog cannot be created.
    INT_PTR Show(HWND owner);

private:
    bool OnInitDialog(LPARAM param) override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // A click on the link, or Enter while it has the focus.
    LRESULT OnLinkActivated(const NMHDR& header);
};
