// Brings an archive folder's catalog in line with its files on a thread of its
// own, while the window works: the capture records, then every date folder
// whose entries differ from its files (newest day first, loaded or not, so that
// a search of the catalog covers the whole archive), then drops the entries of
// date folders that are gone. The thread has its own connection and touches
// nothing of the window thread's but what it is handed at the start; it tells
// the window how far it has come by a message.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/Catalog.h"

class CatalogBuilder {
public:
    CatalogBuilder() = default;
    ~CatalogBuilder() { Stop(); }
    CatalogBuilder(const CatalogBuilder&) = delete;
    CatalogBuilder& operator=(const CatalogBuilder&) = delete;

    struct Job {
        std::string folder;       // the archive folder, with its "\"
        std::string catalogPath;
        // The record files as the load listed them, with a copy of each record
        // that the load read from its file (null for those the catalog gave).
        std::vector<std::pair<ListedFile, std::unique_ptr<CaptureRecord>>> records;
        // The date folders whose items the load read: their files are told
        // to TakeCataloged once their entries are written.
        std::set<std::string> loadedDates;
        // The date folders whose items the load left to the build (a whole
        // archive: every day but today's): their items are handed over, made
        // from their entries where the catalog knows their files as they are,
        // read from the files where it does not.
        std::set<std::string> handOverDates;
        // Whether the load left the capture records to the build: it hands
        // over the records of every record file (those of `records` when the
        // load listed AppData, or those it lists) but the ones the load holds
        // (`heldRecords`, by name), newest file first.
        bool handOverRecords = false;
        std::set<std::string> heldRecords;
        // When the load began (a file time): temporary files last written
        // before are an interrupted run's and are removed; later ones are
        // this run's writes.
        unsigned long long startedAt = 0;
        HWND window = nullptr;  // posted `message` as the catalog grows and when it is done
        UINT message = 0;
    };

    // Stops a build that runs, then starts this one.
    void Start(Job job);
    // Asks the build to end at its next file and returns once it has; what it
    // wrote stays (the next build goes on from there).
    void Stop();
    // Returns once the build has ended.
    void Wait();
    // How far the build has come, 0 to 99; 100 when none runs.
    int Percent() const;
    // The paths of the loaded date folders' item files cataloged since the
    // last call, as the files were when read.
    std::vector<std::string> TakeCataloged();
    // No more than `most` of the hand-over date folders' items not taken yet,
    // without a store, newest day first; each with whether the catalog holds
    // it as it is. `complete` tells whether every one has been taken now,
    // `more` whether some wait.
    struct HandedItem {
        std::unique_ptr<ClipItem> item;
        bool cataloged = false;
    };
    std::vector<HandedItem> TakeItems(size_t most, bool& complete, bool& more);
    // No more than `most` of the capture records handed over and not taken
    // yet, with their FilePath; `complete` tells whether every one has been
    // taken now, `more` whether some wait.
    std::vector<std::unique_ptr<CaptureRecord>> TakeRecords(size_t most, bool& complete, bool& more);

    // An item file the build read, with what the catalog keeps of its text;
    // no item when the file could not be read.
    struct ReadItem {
        std::unique_ptr<ClipItem> item;
        CatalogText text;
    };

private:
    void Run(const Job& job);
    bool BuildRecords(Catalog& catalog, const Job& job);
    // The same for a load that left the records to the build; false when the
    // catalog is not open (`open`) or could not be written.
    bool HandOverRecords(Catalog& catalog, const Job& job, bool open);
    // A date folder as the build takes it up: the items made from its entries
    // (a folder to hand over) and the files to read, the first of which are
    // read on other threads from the moment it is planned.
    struct DatePlan {
        std::string name;
        std::string folder;  // with its "\"
        bool handOver = false;
        bool loaded = false;
        bool failed = false;  // its stale entries could not be removed
        size_t listed = 0;
        std::vector<HandedItem> entries;
        std::vector<ListedFile> unknown;
        std::future<std::vector<ReadItem>> ahead;  // the next files of `unknown`
    };
    // Takes what the catalog knows of the folder and removes its stale entries
    // (`writable` turns false when it cannot), then starts reading its files.
    std::unique_ptr<DatePlan> PlanDate(Catalog& catalog, const Job& job, const std::string& name,
                                       const std::vector<ListedFile>& files, bool& writable);
    // Starts reading the batch of the folder's files to write that begins at `first`.
    void ReadAhead(DatePlan& plan, size_t first);
    // Writes the folder's entries and hands its items over; `planNext` is
    // called once its last files are read, so that the next folder's are read
    // while these are written. False when the build was stopped or the catalog
    // could not be written (`writable` then turns false; a hand-over folder is
    // still read whole).
    bool BuildDate(Catalog& catalog, const Job& job, DatePlan& plan, size_t& done, size_t total, bool& writable,
                   const std::function<void()>& planNext);
    void Tell(const Job& job, bool always);

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> percent_{100};
    DWORD lastTold_ = 0;
    std::mutex mutex_;
    // Under the lock.
    std::vector<std::string> cataloged_;
    std::vector<HandedItem> items_;
    std::vector<std::unique_ptr<CaptureRecord>> records_;
    bool recordsComplete_ = true;
    bool itemsComplete_ = true;
};
