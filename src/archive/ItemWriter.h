// Writes the files of new capture records and items, and deletes the files of
// removed ones, on a thread of its own, in the order they were handed over, so
// that a capture lets the window's thread go as soon as the clipboard is read:
// compressing and writing a large item no longer makes it miss the next change.
// It is also the items' store: data larger than ClipItem::kKeptInMemoryBytes
// leaves memory once its file is written, and is read back when used.
//
// Nothing is shared between the threads but the queue: a job carries its own
// immutable copy of what it writes (the record, the item's payload), so an
// item may change or be destroyed while its file is written. Completions come
// back to the window's thread, which lets written data go (ReleaseWrittenData,
// at each capture, flush, or the notice posted to the window given). The
// read-back cache and everything that points at items is the window thread's.
//
// A file counts as stored once it has its final name; the writes go to a
// temporary name first and are flushed to the disk before the rename, so a
// crash, kill or power cut leaves every stored file whole.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/ItemFile.h"
#include "items/ItemStore.h"

class ItemWriter final : public ItemStore {
public:
    // Memory the writer lets item data take, in bytes.
    struct Budgets {
        // Queued writes: a capture waits while they hold more.
        size_t queued = 64u << 20;
        // Items read back keep their data while the newest take no more.
        size_t readBack = 64u << 20;
        // Items whose files could not be written keep their data up to this.
        size_t unwritten = 64u << 20;
    };

    ItemWriter() : ItemWriter(Budgets()) {}
    explicit ItemWriter(const Budgets& budgets);
    // Writes everything still queued.
    ~ItemWriter();
    ItemWriter(const ItemWriter&) = delete;
    ItemWriter& operator=(const ItemWriter&) = delete;

    // Queues the record's file at the path, which becomes the record's now.
    void QueueRecord(CaptureRecord& record, const std::string& path);
    // Queues the item's file at the path, which becomes the item's now; the
    // write takes the item's data as it is now. Once written, the file joins
    // the catalog given to SetCatalog, if any.
    void QueueItem(ClipItem& item, const std::string& path);
    // The catalog file that the items written from now on join (none when
    // empty): what a search of the catalog finds includes a capture as soon
    // as its file is written.
    void SetCatalog(const std::string& path);
    // Called on the window's thread (in ReleaseWrittenData) for each item whose
    // file joined the catalog, with the version of its data the file holds.
    void SetCatalogedHook(std::function<void(const ClipItem&, uint64_t)> hook) { catalogedHook_ = std::move(hook); }
    // Queues the deletion of a file after every write queued before, with its
    // entry in the catalog file `catalog` (none when empty): an item's of the
    // date folder named, or a capture record's when `dateFolder` is empty.
    void QueueDelete(const std::string& path, const std::string& catalog, const std::string& dateFolder);
    // Returns once every queued job is done, then takes their completions.
    void Flush();
    // On the window's thread: takes the completions of the jobs done since the
    // last call. Items written leave their large data on disk; an item whose
    // file could not be written keeps its data while the budget allows.
    void ReleaseWrittenData();
    // Called on the writer's thread with each path that has become a whole file.
    void SetStoredHook(std::function<void(const std::string&)> hook);
    // The window that is posted `message` when jobs are done; the window's
    // thread then calls ReleaseWrittenData. None by default.
    void SetNotifyWindow(HWND window, UINT message);
    // Whether items could not be written past the budget since the last call:
    // their data was let go (they cannot be read). True once per run.
    bool TakeWritesFailingNotice();

    // On the window's thread: whether a record or item file was queued at the
    // path in this run (whatever became of the record or item since).
    bool QueuedHere(const std::string& path) const { return queuedPaths_.count(path) != 0; }

    void WaitUntilStored(const ClipItem& item) override;
    bool ReadBack(ClipItem& item) override;
    void Forget(const ClipItem& item) override;

private:
    enum class JobKind { kRecord, kItem, kDelete };
    struct Job {
        uint64_t id = 0;
        JobKind kind = JobKind::kRecord;
        std::string path;
        CaptureRecord record;     // kRecord: a copy
        ItemFileContent content;  // kItem: the writer's own
        std::string catalog;      // the catalog that lists the file (kItem: will)
        std::string dateFolder;   // kDelete: the item's date folder; empty for a record
        size_t bytes = 0;
    };
    struct Completion {
        uint64_t id;
        bool written;
    };
    // An item file written, waiting to join its catalog.
    struct CatalogDue {
        uint64_t id;
        std::string path;
        std::string catalog;
    };
    // What the window's thread keeps of a queued item write.
    struct PendingItem {
        ClipItem* item;
        uint64_t version;
        size_t bytes;
        bool cataloging;
    };
    struct CachedItem {
        ClipItem* item;
        uint64_t version;
        size_t bytes;
    };

    void Queue(Job job);
    void Run();
    bool Write(Job& job);
    void DeleteBatch(const std::list<Job>& jobs);
    // Adds item files written to their catalogs: the ids of those added.
    std::vector<uint64_t> CatalogItems(const std::vector<CatalogDue>& due);
    // Merges the indexes of the catalogs that lost entries.
    void CompactCatalogs(const std::set<std::string>& catalogs);
    void KeepUnwritten(ClipItem& item, size_t bytes);
    void DropReadBack(const ClipItem& item);

    const Budgets budgets_;

    // Shared with the writer's thread, under the lock.
    std::mutex mutex_;
    std::condition_variable changed_;
    // A list: jobs are taken out by splicing, which cannot fail.
    std::list<Job> queue_;
    size_t queuedBytes_ = 0;
    uint64_t lastQueued_ = 0;
    uint64_t lastDone_ = 0;
    std::vector<Completion> done_;
    bool stopping_ = false;
    bool noticePosted_ = false;
    HWND notifyWindow_ = nullptr;
    UINT notifyMessage_ = 0;
    std::function<void(const std::string&)> storedHook_;
    std::string catalog_;
    // Catalogs that lost entries and are merged once deletes have paused
    // for a while (or at a flush), not after each.
    std::set<std::string> compactDue_;
    bool compactNow_ = false;
    // Entries are made once no file waits to be written: a capture's file
    // never waits for the catalog.
    std::vector<CatalogDue> catalogDue_;
    bool cataloging_ = false;
    std::vector<uint64_t> catalogedIds_;

    // The window thread's alone.
    std::unordered_map<uint64_t, PendingItem> pending_;
    std::unordered_set<std::string> queuedPaths_;
    std::deque<CachedItem> readBack_;  // newest first
    size_t readBackBytes_ = 0;
    std::unordered_map<const ClipItem*, size_t> unwritten_;
    size_t unwrittenBytes_ = 0;
    bool writesFailing_ = false;
    bool writesFailingTold_ = false;
    std::function<void(const ClipItem&, uint64_t)> catalogedHook_;
    // Items whose written files wait for their catalog entries, by job.
    std::unordered_map<uint64_t, std::pair<ClipItem*, uint64_t>> awaitingCatalog_;

    // The writer thread's alone: the folder it made sure of last.
    std::string lastFolder_;
    std::thread thread_;
};
