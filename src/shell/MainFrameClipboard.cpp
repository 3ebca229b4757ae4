// The main frame as a member of the clipboard-viewer chain: every change is
// passed on to the next viewer, and captured unless it is paused, the program's
// own, or already captured.
#include "archive/SourceApp.h"
#include "shell/MainFrame.h"

namespace {

// FindSourceWindow finds nothing when the owner is not one to climb from and no
// window is in the foreground; the change still happened and is kept, attributed
// to the owner when there is one, else to the desktop.
HWND ChangeSourceWindow(HWND owner) {
    if (HWND source = FindSourceWindow()) return source;
    return ::IsWindow(owner) ? owner : ::GetDesktopWindow();
}

}  // namespace

void MainFrame::JoinClipboardChain() { nextViewer_ = ::SetClipboardViewer(Handle()); }

void MainFrame::LeaveClipboardChain() {
    ::ChangeClipboardChain(Handle(), nextViewer_);
    nextViewer_ = nullptr;
}

LRESULT MainFrame::OnDrawClipboard(WPARAM wParam, LPARAM lParam) {
    CaptureChange();
    // Whatever happened here, the rest of the chain hears of the change.
    if (nextViewer_ && ::IsWindow(nextViewer_)) ::SendMessageA(nextViewer_, WM_DRAWCLIPBOARD, wParam, lParam);
    return 0;
}

void MainFrame::OnChangeCbChain(HWND leaving, HWND next) {
    if (leaving == nextViewer_)
        nextViewer_ = next;
    else if (nextViewer_)
        ::SendMessageA(nextViewer_, WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(leaving), reinterpret_cast<LPARAM>(next));
}

void MainFrame::CaptureChange() {
    if (capturing_) {
        // The running capture looks at the clipboard again when it is done.
        changedWhileCapturing_ = true;
        return;
    }
    capturing_ = true;
    do {
        changedWhileCapturing_ = false;
        CaptureIfNew();
    } while (changedWhileCapturing_ && Handle());
    capturing_ = false;
}

void MainFrame::CaptureIfNew() {
    if (paused_) return;
    const DWORD sequence = ::GetClipboardSequenceNumber();
    // A second notification for one change (Wine sends one while the first
    // capture still fetches data) adds nothing.
    if (sequence != 0 && sequence == capturedSequence_) return;
    // The program's own copies: the owner says so whichever window is in front.
    const HWND owner = ::GetClipboardOwner();
    if (owner && owner == Handle()) return;
    const HWND source = ChangeSourceWindow(owner);
    if (source == Handle()) return;
    capturedSequence_ = sequence;
    archive_.Capture(source);
    // Rendering the data raised the number (Wine does), and the notices that
    // follow are for the clipboard just taken. A capture that found no data at
    // all (Wine's bridge to X11 refilled the clipboard under it) keeps the
    // number from before, so the refilled clipboard is taken on its notice.
    if (const DWORD seen = archive_.LastClipboardSequence()) capturedSequence_ = seen;
}
