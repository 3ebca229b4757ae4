// Find: the modeless Find dialog, searching the item shown in the view or, one
// item after another, the items of the tree.
#include "shell/MainFrame.h"

#include <dlgs.h>

#include <cwchar>
#include <string>
#include <utility>

#include "framework/Module.h"
#include "resources/resource.h"

namespace {

// The options the rich edit search takes; they have the dialog's values.
constexpr DWORD kSearchFlags = FR_DOWN | FR_WHOLEWORD | FR_MATCHCASE;

// A search ran off the end: true when the user wants it to start again.
bool AskToStartAgain(HWND owner, UINT questionId) {
    const std::string question = LoadResourceString(questionId);
    const std::string caption = LoadResourceString(IDS_PRODUCT_NAME);
    return ::MessageBoxA(owner, question.c_str(), caption.c_str(), MB_OKCANCEL) == IDOK;
}

}  // namespace

void MainFrame::OnFind() {
    HWND focus = ::GetFocus();
    HWND pane = viewPane_.Handle();
    find_.searchInView = focus && (focus == pane || ::GetParent(focus) == pane);
    // An open dialog stays, brought to the front (a tree search activates the
    // main window over it); its next search follows the new decision.
    if (find_.dialog) {
        ::SetActiveWindow(find_.dialog);
        ::SetFocus(::GetDlgItem(find_.dialog, edt1));
        return;
    }
    FINDREPLACEW& record = find_.record;
    record.lStructSize = sizeof(record);
    record.hwndOwner = Handle();
    record.hInstance = AppModule().Instance();
    record.lpstrFindWhat = find_.text;
    record.wFindWhatLen = FindState::kMaxTextChars;
    record.lpstrReplaceWith = find_.text;
    record.wReplaceWithLen = FindState::kMaxTextChars;
    record.Flags = find_.choices;
    find_.message = ::RegisterWindowMessageW(FINDMSGSTRINGW);
    find_.dialog = ::FindTextW(&record);
    if (!find_.dialog) return;
    // Wine's dialog hands its text through the ANSI code page, which turns
    // "東京" into "??" on a Western system: the box gets the text as it is.
    wchar_t shown[FindState::kMaxTextChars + 1] = {};
    ::GetDlgItemTextW(find_.dialog, edt1, shown, static_cast<int>(std::size(shown)));
    if (std::wcscmp(shown, find_.text) != 0) ::SetDlgItemTextW(find_.dialog, edt1, find_.text);
}

void MainFrame::KeepFindChoices() {
    HWND dialog = find_.dialog;
    if (!dialog) return;
    // The box, not the record: the record's copy may have passed through the
    // ANSI code page (see OnFind).
    wchar_t typed[FindState::kMaxTextChars + 1] = {};
    if (::GetDlgItemTextW(dialog, edt1, typed, static_cast<int>(std::size(typed))) > 0) std::wcscpy(find_.text, typed);
    DWORD choices = 0;
    if (::IsDlgButtonChecked(dialog, rad2) == BST_CHECKED) choices |= FR_DOWN;
    if (::IsDlgButtonChecked(dialog, chx1) == BST_CHECKED) choices |= FR_WHOLEWORD;
    if (::IsDlgButtonChecked(dialog, chx2) == BST_CHECKED) choices |= FR_MATCHCASE;
    find_.choices = choices;
}

LRESULT MainFrame::OnFindNotification(WPARAM, LPARAM) {
    const DWORD flags = find_.record.Flags;
    if (flags & FR_FINDNEXT) {
        KeepFindChoices();
        RunFind();
    } else if (flags & FR_DIALOGTERM) {
        // The dialog closes itself; what the user last set there is kept.
        KeepFindChoices();
        find_.dialog = nullptr;
    }
    return 0;
}

LRESULT MainFrame::OnFindAgain(WPARAM, LPARAM) {
    if (find_.dialog) RunFind();
    return 0;
}

void MainFrame::RunFind() {
    const std::wstring text = find_.text;
    const unsigned searchFlags = find_.choices & kSearchFlags;
    if (find_.searchInView) {
        if (viewPane_.FindText(text, searchFlags)) return;
    } else if (archive_.FindItem(text, searchFlags)) {
        // The tree selected the item, so the view shows it: mark the occurrence there.
        viewPane_.FindText(text, searchFlags);
        return;
    }
    if (!AskToStartAgain(find_.dialog, find_.searchInView ? IDS_FIND_VIEW_WRAP : IDS_FIND_TREE_WRAP)) {
        CloseFindDialog();
        return;
    }
    // The failed search left the view's caret at the start (or, upward, the
    // end); in the tree, no selection means the first node. Posted, so the
    // search runs again after the question and the selection's messages; not
    // the dialog's notification again, as the dialog has cleared its flags by then.
    if (!find_.searchInView) archive_.Tree().SelectItem(nullptr);
    ::PostMessageW(Handle(), kFindAgainMessage, 0, 0);
}

void MainFrame::CloseFindDialog() {
    KeepFindChoices();
    if (HWND dialog = std::exchange(find_.dialog, nullptr)) ::DestroyWindow(dialog);
}

bool MainFrame::FindDialogMessage(MSG& message) {
    // Tab, Enter and Esc move and press inside the dialog, and keys typed there
    // are the dialog's, not the frame's accelerators (Del deletes text, not an item).
    return find_.dialog && ::IsDialogMessageW(find_.dialog, &message);
}
