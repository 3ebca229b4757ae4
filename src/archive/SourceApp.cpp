#include "archive/SourceApp.h"

#include "archive/CaptureRecord.h"
#include "archive/RecordFile.h"

HWND FindSourceWindow() {
    HWND owner = ::GetClipboardOwner();
    if (owner && ::IsWindow(owner) && (::GetWindowLongA(owner, GWL_STYLE) & 1)) {
        for (HWND parent = ::GetParent(owner); parent; parent = ::GetParent(owner)) owner = parent;
        return owner;
    }
    return ::GetForegroundWindow();
}

namespace {

HICON AskIcon(HWND window, WPARAM kind) {
    DWORD_PTR icon = 0;
    // A program that does not answer in time is taken to show no icon.
    if (!::SendMessageTimeoutA(window, WM_GETICON, kind, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kWindowIconTimeoutMs,
                               &icon))
        return nullptr;
    return reinterpret_cast<HICON>(icon);
}

}  // namespace

HICON WindowIcon(HWND window) {
    if (HICON icon = AskIcon(window, ICON_BIG)) return icon;
    if (HICON icon = AskIcon(window, ICON_SMALL)) return icon;
    if (HICON icon = reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICON))) return icon;
    return reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICONSM));
}

SourceApp::SourceApp() : Title(kUnknownApplication) {}

bool SourceApp::InitFromWindow(HWND window) {
    icon_.reset();
    if (!::IsWindow(window)) return false;
    if (HICON shown = WindowIcon(window)) icon_.reset(::CopyIcon(shown));
    ClassAtom = ::GetClassLongA(window, GCW_ATOM);
    char title[kMaxTitleChars + 1] = {};
    ::GetWindowTextA(window, title, sizeof(title));
    Title = title[0] ? title : kUnknownApplication;
    return true;
}
