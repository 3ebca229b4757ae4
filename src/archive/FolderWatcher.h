// Watches the archive folder for the files other programs add, replace or
// delete (a sync engine carrying another machine's captures), on a thread of
// its own, and tells a window once about all the changes that came meanwhile.
#pragma once

#include <windows.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "framework/UniqueHandle.h"

class FolderWatcher {
public:
    // What changed since the last Take: the full paths of the files and
    // folders named, whatever became of them (the reader looks at each as it is
    // then), or, after changes came faster than they could be told, that the
    // whole folder is to be looked at again.
    struct Changes {
        std::set<std::string> paths;
        bool rescan = false;
        bool Empty() const { return paths.empty() && !rescan; }
    };

    FolderWatcher() = default;
    ~FolderWatcher() { Stop(); }
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Watches the folder (given with a trailing "\") and everything below it;
    // `window` is posted `message` when changes wait to be taken. Stops any
    // earlier watch first, and returns once the watch is on: every change from
    // then on is told. False when the folder cannot be watched.
    bool Start(const std::string& folder, HWND window, UINT message);
    void Stop();
    bool Watching() const { return thread_.joinable(); }
    // On the window's thread: the changes since the last call.
    Changes Take();

private:
    void Run(UniqueFile directory, HANDLE armed);
    void Add(const std::string& path);
    void AddRescan();
    void Notify();

    std::string folder_;
    HWND window_ = nullptr;
    UINT message_ = 0;
    UniqueKernelHandle stop_;
    std::thread thread_;

    // Shared with the watching thread, under the lock.
    std::mutex mutex_;
    Changes pending_;
    bool posted_ = false;
};
