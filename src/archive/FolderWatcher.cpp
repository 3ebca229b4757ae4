#include "archive/FolderWatcher.h"

#include <cstddef>
#include <vector>

#include "base/CodePage.h"
#include "base/Paths.h"

namespace {

// Large enough for the names of a sync engine's burst; an overflow costs a rescan.
constexpr DWORD kBufferBytes = 64 * 1024;
// A folder that cannot be watched any more (removed, or its volume gone) is
// opened again after this long.
constexpr DWORD kReopenMs = 1000;
constexpr DWORD kWatched = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                           FILE_NOTIFY_CHANGE_SIZE;

UniqueFile OpenFolder(const std::string& folder) {
    return UniqueFile(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
}

}  // namespace

bool FolderWatcher::Start(const std::string& folder, HWND window, UINT message) {
    Stop();
    folder_ = WithTrailingBackslash(folder);
    CreateFolderPath(folder_);
    UniqueFile directory = OpenFolder(folder_);
    if (!directory) return false;
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stop_) return false;
    UniqueKernelHandle armed(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!armed) return false;
    window_ = window;
    message_ = message;
    thread_ = std::thread([this, owned = std::move(directory), event = armed.get()]() mutable {
        Run(std::move(owned), event);
    });
    // A folder's changes are kept for its watcher only from its first read on.
    ::WaitForSingleObject(armed.get(), INFINITE);
    return true;
}

void FolderWatcher::Stop() {
    if (!thread_.joinable()) return;
    ::SetEvent(stop_.get());
    thread_.join();
    stop_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = {};
    posted_ = false;
}

FolderWatcher::Changes FolderWatcher::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Changes taken = std::move(pending_);
    pending_ = {};
    posted_ = false;
    return taken;
}

void FolderWatcher::Notify() {
    // One message for everything that comes until the window takes it.
    if (!posted_ && window_) posted_ = ::PostMessageA(window_, message_, 0, 0) != FALSE;
}

void FolderWatcher::Add(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.paths.insert(path);
    Notify();
}

void FolderWatcher::AddRescan() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.rescan = true;
    Notify();
}

void FolderWatcher::Run(UniqueFile directory, HANDLE armed) {
    UniqueKernelHandle ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
        ::SetEvent(armed);
        return;
    }
    // DWORD-aligned, as the records in it are.
    std::vector<DWORD> buffer(kBufferBytes / sizeof(DWORD));
    for (;;) {
        if (!directory) {
            if (::WaitForSingleObject(stop_.get(), kReopenMs) == WAIT_OBJECT_0) return;
            directory = OpenFolder(folder_);
            // What happened while it was not watched is found by looking.
            if (directory) AddRescan();
            continue;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = ready.get();
        ::ResetEvent(ready.get());
        const bool reading = ::ReadDirectoryChangesW(directory.get(), buffer.data(), kBufferBytes, TRUE, kWatched,
                                                     nullptr, &overlapped, nullptr) != FALSE;
        // Start's caller goes on (and closes the event).
        if (armed) {
            ::SetEvent(armed);
            armed = nullptr;
        }
        if (!reading) {
            directory.reset();
            continue;
        }
        const HANDLE waits[] = {stop_.get(), ready.get()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            // The read must be over before its buffer and event go.
            ::CancelIo(directory.get());
            DWORD ignored = 0;
            ::GetOverlappedResult(directory.get(), &overlapped, &ignored, TRUE);
            return;
        }
        DWORD bytes = 0;
        if (!::GetOverlappedResult(directory.get(), &overlapped, &bytes, FALSE)) {
            // ERROR_NOTIFY_ENUM_DIR: more came than the buffer holds. Any other
            // failure: the folder is opened again. Either way nothing is lost
            // when the whole folder is looked at again.
            if (::GetLastError() != ERROR_NOTIFY_ENUM_DIR) directory.reset();
            AddRescan();
            continue;
        }
        if (bytes == 0) {
            AddRescan();
            continue;
        }
        const auto* base = reinterpret_cast<const BYTE*>(buffer.data());
        size_t offset = 0;
        for (;;) {
            if (offset + sizeof(FILE_NOTIFY_INFORMATION) > bytes) break;
            const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
            const size_t nameChars = entry->FileNameLength / sizeof(WCHAR);
            if (offsetof(FILE_NOTIFY_INFORMATION, FileName) + entry->FileNameLength <= bytes - offset && nameChars > 0)
                Add(folder_ + ToMultiByte(std::wstring_view(entry->FileName, nameChars), CP_ACP));
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
}
