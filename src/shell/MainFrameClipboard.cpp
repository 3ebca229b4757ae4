// The main frame as a member of the clipboard-viewer chain: every change is
// passed on to the next viewer, and captured unless it is paused, the program's
// own, or already captured.
#include <utility>

#include "archive/SourceApp.h"
#include "framework/Module.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "shell/WarningDialog.h"

namespace {

bool BelongsToThisProcess(HWND window) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    return process == ::GetCurrentProcessId();
}

// Windows that stand in for "no program": the desktop, the shell's and the
// notification area's (Wine's tray stand-in, "Wine System Tray", takes the
// foreground when the last shown window goes).
bool IsShellStandIn(HWND window) {
    if (window == ::GetDesktopWindow() || window == ::GetShellWindow()) return true;
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    for (const char* standIn :
         {"Shell_TrayWnd", "Shell_SecondaryTrayWnd", "Progman", "WorkerW", "#32769", "__winex11_standalone_tray"})
        if (::lstrcmpiA(name, standIn) == 0) return true;
    return false;
}

// The window of Wine's bridge to the X11 clipboard owns the clipboard while an
// X11 program's copy is on it: a hidden window of the desktop process.
constexpr char kWineClipboardBridgeClass[] = "__wine_clipboard_manager";
constexpr UINT_PTR kSettleTimer = 1;
// Quiet time after a capture before the bridge is asked to look again.
constexpr UINT kSettleMs = 300;
// How long the bridge's answer to that question may take to arrive.
constexpr DWORD kRefillAnswerMs = 2000;

bool IsWineClipboardBridge(HWND window) {
    char name[64] = {};
    return window && ::GetClassNameA(window, name, sizeof(name)) > 0 && ::lstrcmpA(name, kWineClipboardBridgeClass) == 0;
}

}  // namespace

void MainFrame::JoinClipboardChain() { nextViewer_ = ::SetClipboardViewer(Handle()); }

void MainFrame::LeaveClipboardChain() {
    ::ChangeClipboardChain(Handle(), nextViewer_);
    nextViewer_ = nullptr;
}

LRESULT MainFrame::OnDrawClipboard(WPARAM wParam, LPARAM lParam) {
    // The rest of the chain hears of the change first: nothing done here (a
    // capture, a message box) may keep it waiting.
    if (nextViewer_ && ::IsWindow(nextViewer_)) ::SendMessageA(nextViewer_, WM_DRAWCLIPBOARD, wParam, lParam);
    OnClipboardChange();
    return 0;
}

void MainFrame::OnChangeCbChain(HWND leaving, HWND next) {
    if (leaving == nextViewer_)
        nextViewer_ = next;
    else if (nextViewer_)
        ::SendMessageA(nextViewer_, WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(leaving), reinterpret_cast<LPARAM>(next));
}

bool MainFrame::SourceOfChange(HWND& source) const {
    // The program's own copies (the main window's, or a rich edit control's
    // Ctrl+C through its hidden window): the owner says so whichever window is in front.
    const HWND owner = ::GetClipboardOwner();
    if (owner && ::IsWindow(owner) && BelongsToThisProcess(owner)) return false;
    // An X11 program's copy names no window of its own; whichever window is in
    // front (the tray stand-in when this one is hidden) did not make it.
    if (IsWineClipboardBridge(owner)) {
        source = nullptr;
        return true;
    }
    source = FindSourceWindow();
    if (!source && ::IsWindow(owner)) source = owner;
    // A copy made with no window to name (X11 programs, command-line tools) while
    // this program or the shell is in front is still a copy: it is archived as
    // "Unknown Application", neither dropped nor credited to the wrong program.
    if (source && (BelongsToThisProcess(source) || IsShellStandIn(source))) source = nullptr;
    return true;
}

void MainFrame::OnClipboardChange() {
    if (paused_) return;
    HWND source = nullptr;
    if (!SourceOfChange(source)) return;
    if (capturing_) {
        // Captures never nest: this one is looked at when the running one is over.
        changePending_ = true;
        pendingSource_ = source;
        return;
    }
    const DWORD sequence = ::GetClipboardSequenceNumber();
    // Nothing has changed since the last capture let go of the clipboard.
    if (sequence != 0 && sequence == capturedSequence_) return;
    // The bridge's answer to the question after the last captures: its copy is
    // new only if it differs from what was taken.
    const bool answer = std::exchange(refillExpected_, false) && ::GetTickCount() - refillAskedAt_ < kRefillAnswerMs;
    RunCapture(source, answer ? CaptureMode::kUnlessAlreadyCaptured : CaptureMode::kEveryChange);
}

void MainFrame::RunCapture(HWND source, CaptureMode mode) {
    capturing_ = true;
    const bool added = archive_.Capture(source, mode);
    capturing_ = false;
    // Once the bridge's answer holds nothing new the question is not asked again.
    if (added || mode == CaptureMode::kEveryChange) ArmSettleCheck();
    // Rendering the data raised the number (Wine does), and the notices that
    // follow are for the clipboard just taken.
    if (const DWORD seen = archive_.LastClipboardSequence()) capturedSequence_ = seen;
    if (added) PostOnce(afterCapturePosted_, kAfterCaptureMessage);
    if (changePending_) PostOnce(capturePosted_, kCapturePendingMessage);
}

LRESULT MainFrame::OnCapturePending(WPARAM, LPARAM) {
    capturePosted_ = false;
    if (!changePending_ || capturing_) return 0;
    changePending_ = false;
    if (paused_) return 0;
    const DWORD sequence = ::GetClipboardSequenceNumber();
    if (sequence != 0 && sequence == capturedSequence_) return 0;
    // The notice may have been for the data the running capture rendered, or
    // for a change it already took: only a clipboard that differs from what was
    // taken is a new capture. Its source may have gone meanwhile.
    const HWND source = pendingSource_ && ::IsWindow(pendingSource_) ? pendingSource_ : nullptr;
    RunCapture(source, CaptureMode::kUnlessAlreadyCaptured);
    return 0;
}

void MainFrame::ArmSettleCheck() {
    if (Handle() && IsWineClipboardBridge(::GetClipboardOwner())) ::SetTimer(Handle(), kSettleTimer, kSettleMs, nullptr);
}

LRESULT MainFrame::OnTimer(WPARAM id, LPARAM) {
    if (id != kSettleTimer) return 0;
    ::KillTimer(Handle(), kSettleTimer);
    const HWND bridge = ::GetClipboardOwner();
    if (paused_ || capturing_ || !IsWineClipboardBridge(bridge)) return 0;
    // Its timer makes the bridge compare the X11 clipboard with what it last
    // took and take it again.
    refillExpected_ = true;
    refillAskedAt_ = ::GetTickCount();
    ::PostMessageA(bridge, WM_TIMER, 1, 0);
    return 0;
}

LRESULT MainFrame::OnAfterCapture(WPARAM, LPARAM) {
    afterCapturePosted_ = false;
    archive_.CheckDiskSize();
    archive_.Trim();
    return 0;
}

LRESULT MainFrame::OnWritesDone(WPARAM, LPARAM) {
    archive_.OnWritesDone();
    return 0;
}

void MainFrame::OnWritesFailing() {
    const std::string text = LoadResourceString(IDS_WRITES_FAILING);
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), productName_.c_str(), MB_OK | MB_ICONERROR);
}

void MainFrame::OnSizeLimitExceeded() {
    // Captures go on while the warning is open (its message loop delivers their
    // notices); their own checks do not open a second one.
    if (warningOpen_) return;
    warningOpen_ = true;
    WarningDialog(IDS_ARCHIVE_SIZE_WARNING).Show(nullptr, 0);
    warningOpen_ = false;
}

void MainFrame::PostOnce(bool& posted, UINT message) {
    if (posted || !Handle()) return;
    posted = ::PostMessageA(Handle(), message, 0, 0) != FALSE;
}

LRESULT MainFrame::OnEndSession(WPARAM ending, LPARAM) {
    // The system may end the process as soon as this returns: the captures
    // still queued for the writer are written first.
    if (ending) archive_.FlushWrites();
    return 0;
}
