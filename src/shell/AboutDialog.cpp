#include "shell/AboutDialog.h"

#include <commctrl.h>

#include "archive/SourceApp.h"
#include "framework/WindowPlacement.h"
#include "resources/resource.h"
#include "shell/HelpFile.h"
#include "shell/MainWindowHandle.h"

AboutDialog::AboutDialog() : ModalDialog(IDD_ABOUT) {}

INT_PTR AboutDialog::Show(HWND owner) { return DoModal(owner); }

bool AboutDialog::OnInitDialog(LPARAM) {
    CenterWindow(Handle());
    if (HICON icon = WindowIcon(MainWindowHandle()))
        ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    // OK rather than the link, the first stop in tab order: Enter closes the box.
    ::SetFocus(::GetDlgItem(Handle(), IDOK));
    return false;
}

bool AboutDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<AboutDialog> kMessages[] = {
        msg::Notify<&AboutDialog::OnLinkActivated>(IDC_ABOUT_LINK, NM_CLICK),
        msg::Notify<&AboutDialog::OnLinkActivated>(IDC_ABOUT_LINK, NM_RETURN),
    };
    return DispatchMessageTable<AboutDialog>(*this, kMessages, message, wParam, lParam, result) ||
           ModalDialog::ProcessMessage(message, wParam, lParam, result);
}

LRESULT AboutDialog::OnLinkActivated(const NMHDR&) {
    OpenHelpFile(Handle());
    return 0;
}
