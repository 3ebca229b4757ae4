#include "shell/ExcludedProgramsDialog.h"

#include <algorithm>

#include "framework/WindowPlacement.h"
#include "resources/resource.h"

std::string ProgramLabel(const std::string& key) {
    const size_t bar = key.find('|');
    if (bar == std::string::npos) return key;
    return key.substr(0, bar) + " (" + key.substr(bar + 1) + ")";
}

ExcludedProgramsDialog::ExcludedProgramsDialog(ExcludeList& list)
    : ModalDialog(IDD_EXCLUDED_PROGRAMS), list_(list), edited_(list) {}

int ExcludedProgramsDialog::Show(HWND owner) { return DoModal(owner) == IDOK ? IDOK : IDCANCEL; }

bool ExcludedProgramsDialog::OnInitDialog(LPARAM) {
    ShowPrograms(0);
    CenterWindow(Handle());
    return true;
}

bool ExcludedProgramsDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<ExcludedProgramsDialog> kMessages[] = {
        msg::Command<&ExcludedProgramsDialog::OnOk>(IDOK),
        msg::Command<&ExcludedProgramsDialog::OnRemove>(IDC_REMOVE_PROGRAM),
    };
    return DispatchMessageTable<ExcludedProgramsDialog>(*this, kMessages, message, wParam, lParam, result) ||
           ModalDialog::ProcessMessage(message, wParam, lParam, result);
}

void ExcludedProgramsDialog::ShowPrograms(int index) {
    HWND box = ::GetDlgItem(Handle(), IDC_EXCLUDED_LIST);
    ::SendMessageA(box, LB_RESETCONTENT, 0, 0);
    // In the list's order, so that an entry's index is its key's.
    for (const std::string& key : edited_.Programs())
        ::SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ProgramLabel(key).c_str()));
    const int count = static_cast<int>(edited_.Programs().size());
    if (count) ::SendMessageA(box, LB_SETCURSEL, std::min(index, count - 1), 0);
    ::EnableWindow(::GetDlgItem(Handle(), IDC_REMOVE_PROGRAM), count > 0);
}

void ExcludedProgramsDialog::OnRemove(UINT notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) return;
    const LRESULT index = ::SendDlgItemMessageA(Handle(), IDC_EXCLUDED_LIST, LB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= edited_.Programs().size()) return;
    edited_.Remove(std::string(edited_.Programs()[index]));
    // The next entry takes the removed one's place and the selection.
    ShowPrograms(static_cast<int>(index));
    if (edited_.Empty()) ::SetFocus(::GetDlgItem(Handle(), IDOK));
}

void ExcludedProgramsDialog::OnOk() {
    list_ = edited_;
    End(IDOK);
}
