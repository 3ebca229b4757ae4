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
    FINDREPLACEW& record = find_.record;
    record.lStructSize = sizeof(record);
    record.hwndOwner = Handle();
    record.hInstance = AppModule().Instance();
    record.lpstrFindWhat = find_.text;
    record.wFindWhatLen = FindState::kMaxTextChars;
    record.lpstrReplaceWith = find_.text;
    record.wReplaceWithLen = FindState::kMaxTextChars;
    // An open dialog stays; its next search follows the new decision.
    if (find_.dialog) return;
    find_.message = ::RegisterWindowMessageW(FINDMSGSTRINGW);
    find_.dialog = ::FindTextW(&record);
    if (!find_.dialog) return;
    // Wine's dialog hands its text through the ANSI code page, which turns
    // "東京" into "??" on a Western system: the box gets the text as it is.
    wchar_t shown[FindState::kMaxTextChars + 1] = {};
    ::GetDlgItemTextW(find_.dialog, edt1, shown, static_cast<int>(std::size(shown)));
    if (std::wcscmp(shown, find_.text) != 0) ::SetDlgItemTextW(find_.dialog, edt1, find_.text);
}

LRESULT MainFrame::OnFindNotification(WPARAM wParam, LPARAM lParam) {
    const DWORD flags = find_.record.Flags;
    if (flags & FR_FINDNEXT) {
        // The box, not the record: the record's copy may have passed through
        // the ANSI code page (see OnFind).
        wchar_t typed[FindState::kMaxTextChars + 1] = {};
        if (find_.dialog && ::GetDlgItemTextW(find_.dialog, edt1, typed, static_cast<int>(std::size(typed))) > 0)
            std::wcscpy(find_.text, typed);
        const std::wstring text = find_.text;
        const unsigned searchFlags = flags & kSearchFlags;
        if (find_.searchInView) {
            if (viewPane_.FindText(text, searchFlags)) return 0;
        } else if (archive_.FindItem(text, searchFlags)) {
            // The tree selected the item, so the view shows it: mark the occurrence there.
            viewPane_.FindText(text, searchFlags);
            return 0;
        }
        if (!AskToStartAgain(find_.dialog, find_.searchInView ? IDS_FIND_VIEW_WRAP : IDS_FIND_TREE_WRAP)) {
            CloseFindDialog();
            return 0;
        }
        // The failed search left the view's caret at the start (or, upward, the
        // end); in the tree, no selection means the first node. Posted, so the
        // search runs again after the question and the selection's messages.
        if (!find_.searchInView) archive_.Tree().SelectItem(nullptr);
        ::PostMessageW(Handle(), find_.message, wParam, lParam);
    } else if (flags & FR_DIALOGTERM) {
        // The dialog closes itself.
        find_.dialog = nullptr;
    }
    return 0;
}

void MainFrame::CloseFindDialog() {
    if (HWND dialog = std::exchange(find_.dialog, nullptr)) ::DestroyWindow(dialog);
}

bool MainFrame::FindDialogMessage(MSG& message) {
    // Tab, Enter and Esc move and press inside the dialog, and keys typed there
    // are the dialog's, not the frame's accelerators (Del deletes text, not an item).
    return find_.dialog && ::IsDialogMessageW(find_.dialog, &message);
}
