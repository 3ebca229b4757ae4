// The archive folder as other machines change it: a sync engine adds their
// captures and deletes what they delete, and the running copy follows.
#include "shell/MainFrame.h"

namespace {

// A question is open: the changes wait this long before they are looked at again.
constexpr UINT kQuestionRetryMs = 250;
constexpr UINT_PTR kFolderRetryTimer = 0x5701;

void CALLBACK RetryFolderChanges(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    ::PostMessageA(window, kFolderChangedMessage, 0, 0);
}

}  // namespace

void MainFrame::WatchArchiveFolder() {
    if (!Handle()) return;
    // Without a watch the archive is what the last load found, as before.
    watcher_.Start(archive_.Options().folder, Handle(), kFolderChangedMessage);
}

LRESULT MainFrame::OnFolderChanged(WPARAM, LPARAM) {
    // Nothing may leave from under a question about it; the changes stay with
    // the watcher until it is answered.
    if (archive_.Asking()) {
        ::SetTimer(Handle(), kFolderRetryTimer, kQuestionRetryMs, RetryFolderChanges);
        return 0;
    }
    FolderWatcher::Changes changes = watcher_.Take();
    if (changes.Empty()) return 0;
    FolderChanges read = archive_.ReadFolderChanges(changes.paths, changes.rescan);
    if (!read.Empty()) archive_.ApplyFolderChanges(std::move(read));
    return 0;
}

bool MainFrame::KeepDepartingItem(ClipItem* item) {
    if (viewPane_.CurrentItem() != item) return false;
    // What the user typed is never dropped: it stays, written anew.
    if (viewPane_.KeepEdits()) return true;
    viewPane_.SetItem(nullptr);
    return false;
}
