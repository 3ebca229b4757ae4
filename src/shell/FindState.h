// What the main frame keeps of its Find dialog for its whole life: the search
// text, the dialog's record (text, direction and options survive a reopening),
// the dialog while it is open and where the next search looks.
#pragma once

#include <windows.h>
#include <commdlg.h>

class FindState {
public:
    // Longest search text, in characters.
    static constexpr WORD kMaxTextChars = 512;

    FindState() { record.Flags = choices; }
    // The record points into the object's own buffer.
    FindState(const FindState&) = delete;
    FindState& operator=(const FindState&) = delete;

    // The dialog's notification; 0 until the dialog is first opened.
    UINT message = 0;
    wchar_t text[kMaxTextChars + 1] = {};
    // FR_DOWN, FR_WHOLEWORD and FR_MATCHCASE as the user last set them. The
    // dialog clears them in the record whenever one of its controls notifies it
    // (Wine's does), so the record is not where they are kept.
    DWORD choices = FR_DOWN;
    FINDREPLACEW record = {};
    // The open dialog, or null.
    HWND dialog = nullptr;
    // The next search runs in the shown item rather than through the tree.
    bool searchInView = false;
};
