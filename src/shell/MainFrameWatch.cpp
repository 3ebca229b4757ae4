// The archive folder as other machines change it: a sync engine adds their
// captures and deletes what they delete, and the running copy follows.
#include "shell/MainFrame.h"

namespace {

// A question is open: the changes wait this long before they are looked at again.
constexpr UINT kQuestionRetryMs = 250;
constexpr UINT_PTR kFolderRetryTimer = 0x5701;
// Paths looked at before the queue is let through again: clipboard
// notifications are sent messages and come before the next slice.
constexpr size_t kPathsPerSlice = 4;

void CALLBACK RetryFolderChanges(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    ::PostMessageA(window, kFolderChangedMessage, 0, 0);
}

}  // namespace

void MainFrame::WatchArchiveFolder(const std::string& folder) {
    if (!Handle()) return;
    // The load that follows reads the folder as it is.
    folderPending_ = {};
    // Without a watch the archive is what the last load found, as before.
    watcher_.Start(folder, Handle(), kFolderChangedMessage);
}

LRESULT MainFrame::OnFolderChanged(WPARAM, LPARAM) {
    // Nothing may leave from under a question about it; the changes stay with
    // the watcher until it is answered.
    if (archive_.Asking()) {
        ::SetTimer(Handle(), kFolderRetryTimer, kQuestionRetryMs, RetryFolderChanges);
        return 0;
    }
    FolderWatcher::Changes taken = watcher_.Take();
    folderPending_.paths.merge(taken.paths);
    folderPending_.rescan = folderPending_.rescan || taken.rescan;
    if (folderPending_.Empty()) return 0;
    // A rescan looks at everything, the paths told meanwhile included.
    std::set<std::string> slice;
    if (folderPending_.rescan) {
        folderPending_ = {};
    } else {
        while (!folderPending_.paths.empty() && slice.size() < kPathsPerSlice)
            slice.insert(folderPending_.paths.extract(folderPending_.paths.begin()));
    }
    FolderChanges read = archive_.ReadFolderChanges(slice, slice.empty());
    if (!read.Empty()) archive_.ApplyFolderChanges(std::move(read));
    if (!folderPending_.Empty()) ::PostMessageA(Handle(), kFolderChangedMessage, 0, 0);
    return 0;
}

bool MainFrame::KeepDepartingItem(ClipItem* item) {
    if (viewPane_.CurrentItem() != item) return false;
    // What the user typed is never dropped: it stays, written anew.
    if (viewPane_.KeepEdits()) return true;
    viewPane_.SetItem(nullptr);
    return false;
}
