// Writes the files of new capture records and items on a thread of its own, in
// the order they were handed over, so that a capture lets the window's thread
// go as soon as the clipboard is read: compressing and writing a large item no
// longer makes it miss the next change. It is also the items' store: data
// larger than ClipItem::kKeptInMemoryBytes leaves memory once its file is
// written, and is read back from the file when used.
//
// A file counts as stored once it has its final name; the writes go to a
// temporary name first, so a crash or kill leaves every stored file whole.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/CaptureRecord.h"
#include "items/ItemStore.h"

class ItemWriter final : public ItemStore {
public:
    ItemWriter();
    // Writes everything still queued.
    ~ItemWriter();
    ItemWriter(const ItemWriter&) = delete;
    ItemWriter& operator=(const ItemWriter&) = delete;

    // Queues the record's file at the path, which becomes the record's now.
    void QueueRecord(CaptureRecord& record, const std::string& path);
    // Queues the item's file at the path, which becomes the item's now. Until it
    // is written, the item's data must not change (its setters wait).
    void QueueItem(ClipItem& item, const std::string& path);
    // Returns once every queued file is written.
    void Flush();
    // Returns once no write of the record's or item's file is pending.
    void WaitUntilWritten(const void* recordOrItem);
    // On the window's thread: the items written since the last call leave their
    // large data on disk. An item whose file could not be written keeps it.
    void ReleaseWrittenData();
    // Called on the writer's thread with each path that has become a whole file.
    void SetStoredHook(std::function<void(const std::string&)> hook);

    // Items read back keep their data while they are among the last this many.
    static constexpr size_t kReadBackCached = 8;
    // A capture waits while this many files are still to be written.
    static constexpr size_t kMostQueued = 8;

    void WaitUntilStored(const ClipItem& item) override;
    bool ReadBack(ClipItem& item) override;
    void Forget(const ClipItem& item) override;

private:
    struct Job {
        const void* key;             // the record or item, while the write is pending
        ClipItem* item;              // null for a record; only read while written
        CaptureRecord record;        // a copy: the original may change meanwhile
        std::string path;
    };
    void Queue(Job job);
    void Run();
    bool Write(Job& job, const std::function<void(const std::string&)>& storedHook);
    bool IsPending(const void* key) const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    const void* writing_ = nullptr;
    bool stopping_ = false;
    std::function<void(const std::string&)> storedHook_;
    // Written items whose data has not yet been let go, and the items read
    // back, newest first.
    std::vector<ClipItem*> written_;
    std::deque<ClipItem*> readBack_;
    std::string lastFolder_;  // the writer's: the folder it made sure of last
    std::thread thread_;
};
