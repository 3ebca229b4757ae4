#include "archive/CatalogBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "archive/ItemFile.h"
#include "base/ParallelFor.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "items/ItemStore.h"

namespace {

// Items are read and written this many at a time: memory holds no more of
// them, and the writer thread's own entries never wait long for the lock
// (about 0.2 s; fewer a time made a first start's catalog of 100,000
// captures take 10 s longer, each commit adding a segment to the text index).
constexpr size_t kItemsPerTransaction = 500;
// Capture records read from their files are handed over this many at a time.
constexpr size_t kRecordsPerHandOver = 1000;
// The window hears of the progress no more often than this.
constexpr DWORD kTellEveryMs = 250;

bool IsFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool HasExtension(const char* name, const char* extension) {
    const size_t length = std::strlen(name), extLength = std::strlen(extension);
    return length >= extLength && _stricmp(name + length - extLength, extension) == 0;
}

// Date folders are named "d_M_yyyy"; others sort last.
long DateKey(const std::string& name) {
    int day = 0, month = 0, year = 0;
    if (std::sscanf(name.c_str(), "%d_%d_%d", &day, &month, &year) != 3) return -1;
    return year * 10000L + month * 100L + day;
}

// The store of the items the builder makes: one may leave its large data in its
// file only while it has a store to read it back.
class FileStore final : public ItemStore {
public:
    void WaitUntilStored(const ClipItem&) override {}
    bool ReadBack(ClipItem& item) override { return ReadItemFile(item, item.RecordPath()); }
    void Forget(const ClipItem&) override {}
};

// Reads the folder's item files, each whole once: what the catalog keeps of
// its text is made here, and its large data then let go as a load lets it go.
// Under Wine most of a file's time is spent opening and closing it: two at
// once, leaving the window's thread its share. Null for a file not read.
std::vector<CatalogBuilder::ReadItem> ReadItemFiles(const std::string& folder, const std::vector<ListedFile>& files,
                                                    const std::atomic<bool>& stop) {
    std::vector<CatalogBuilder::ReadItem> read(files.size());
    FileStore store;
    ParallelFor(files.size(), 2, [&](size_t i) {
        if (stop) return;
        const std::string path = folder + files[i].name;
        auto item = CreateItemOfType(ItemTypeOfExtension(path));
        if (!item) return;
        item->SetStore(&store);
        try {
            if (ReadItemFile(*item, path, ItemDataUse::kRead)) {
                read[i].text = CatalogText::Of(*item);
                item->LeaveLargeDataOnDisk();
                read[i].item = std::move(item);
            }
        } catch (const std::exception&) {
        }
        if (item) item->SetStore(nullptr);
    });
    for (auto& entry : read)
        if (entry.item) entry.item->SetStore(nullptr);
    return read;
}

}  // namespace

void CatalogBuilder::Start(Job job) {
    Stop();
    stop_ = false;
    percent_ = 0;
    lastTold_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cataloged_.clear();
        items_.clear();
        records_.clear();
        recordsComplete_ = !job.handOverRecords;
        itemsComplete_ = job.handOverDates.empty();
    }
    thread_ = std::thread([this, job = std::move(job)] { Run(job); });
}

void CatalogBuilder::Stop() {
    stop_ = true;
    Wait();
}

void CatalogBuilder::Wait() {
    if (thread_.joinable()) thread_.join();
}

int CatalogBuilder::Percent() const { return percent_; }

std::vector<std::string> CatalogBuilder::TakeCataloged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(cataloged_);
}

namespace {

// The first `most` of what waits, in the order it came.
template <typename T>
std::vector<T> TakeFirst(std::vector<T>& waiting, size_t most) {
    const auto end = waiting.begin() + static_cast<ptrdiff_t>(std::min(most, waiting.size()));
    std::vector<T> taken(std::make_move_iterator(waiting.begin()), std::make_move_iterator(end));
    waiting.erase(waiting.begin(), end);
    return taken;
}

}  // namespace

std::vector<CatalogBuilder::HandedItem> CatalogBuilder::TakeItems(size_t most, bool& complete, bool& more) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto taken = TakeFirst(items_, most);
    more = !items_.empty();
    complete = itemsComplete_ && !more;
    return taken;
}

std::vector<std::unique_ptr<CaptureRecord>> CatalogBuilder::TakeRecords(size_t most, bool& complete, bool& more) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The newest files first.
    auto taken = TakeFirst(records_, most);
    more = !records_.empty();
    complete = recordsComplete_ && !more;
    return taken;
}

void CatalogBuilder::Tell(const Job& job, bool always) {
    if (!job.window) return;
    const DWORD now = ::GetTickCount();
    if (!always && now - lastTold_ < kTellEveryMs) return;
    lastTold_ = now;
    ::PostMessageA(job.window, job.message, static_cast<WPARAM>(percent_.load()), 0);
}

void CatalogBuilder::Run(const Job& job) {
    // Nothing thrown here may end the program: the catalog is only a copy,
    // and the next load builds what this one could not.
    try {
        Catalog catalog;
        const bool open = catalog.Open(job.catalogPath);
        bool writable = job.handOverRecords ? HandOverRecords(catalog, job, open) : open && BuildRecords(catalog, job);
        // Without a catalog to write, the window still gets the items it waits for.
        if (writable || !job.handOverDates.empty()) {
            // Every date folder and its files, newest day first.
            std::vector<std::pair<std::string, std::vector<ListedFile>>> dates;
            size_t total = 0;
            ForEachEntry(job.folder, [&](const WIN32_FIND_DATAA& entry) {
                if (!IsFolder(entry) || _stricmp(entry.cFileName, "AppData") == 0 || stop_) return;
                std::vector<ListedFile> files;
                const std::string folder = job.folder + entry.cFileName + "\\";
                ForEachEntry(folder, [&](const WIN32_FIND_DATAA& file) {
                    if (IsFolder(file)) return;
                    if (!IsTemporaryRecordFile(file.cFileName))
                        files.push_back(ListedFile::Of(file));
                    else if (ListedFile::Of(file).time < job.startedAt)
                        ::DeleteFileA((folder + file.cFileName).c_str());
                });
                total += files.size();
                dates.emplace_back(entry.cFileName, std::move(files));
            });
            std::stable_sort(dates.begin(), dates.end(),
                             [](const auto& a, const auto& b) { return DateKey(a.first) > DateKey(b.first); });
            size_t done = 0;
            bool whole = writable && !stop_;
            // Each folder's first files are read while the one before is
            // written: the next folder is planned when its turn nears.
            size_t next = 0;
            std::unique_ptr<DatePlan> following;
            auto planNext = [&] {
                following.reset();
                while (next < dates.size() && !stop_) {
                    const auto& [name, files] = dates[next++];
                    // Past a failed write only the folders to hand over are still read.
                    if (!writable && !job.handOverDates.count(name)) continue;
                    following = PlanDate(catalog, job, name, files, writable);
                    return;
                }
            };
            planNext();
            while (following && !stop_) {
                const std::unique_ptr<DatePlan> plan = std::move(following);
                whole = BuildDate(catalog, job, *plan, done, total, writable, planNext) && whole;
                catalog.ForgetDate(plan->name);
            }
            whole = whole && !stop_;
            if (whole) {
                std::vector<std::string> names;
                for (const auto& [name, files] : dates) names.push_back(name);
                catalog.KeepOnlyDates(names);
            }
            if (whole && catalog.TextMergesHeld())
                while (!stop_ && catalog.MergeHeldText()) {
                }
            // Damage met on the way: the next load makes the catalog anew.
            if (catalog.Damaged()) {
                catalog.Close();
                Catalog::Delete(job.catalogPath);
            }
        }
    } catch (...) {
    }
    {
        // What could not be handed over is not waited for.
        std::lock_guard<std::mutex> lock(mutex_);
        recordsComplete_ = true;
        itemsComplete_ = true;
    }
    percent_ = 100;
    Tell(job, true);
}

bool CatalogBuilder::BuildRecords(Catalog& catalog, const Job& job) {
    const std::string appData = job.folder + "AppData\\";
    catalog.ReadRecords(appData);
    std::vector<std::unique_ptr<CaptureRecord>> read;  // the records read here
    std::vector<std::pair<ListedFile, const CaptureRecord*>> records;
    for (const auto& [file, copy] : job.records) {
        if (stop_) return false;
        const CaptureRecord* record = copy.get();
        if (!record) {
            if (auto taken = catalog.TakeRecord(file)) {
                read.push_back(std::move(taken));
            } else {
                // Changed since the load: the file says what it holds now.
                auto fromFile = std::make_unique<CaptureRecord>();
                if (!fromFile->ReadFile(appData + file.name)) continue;
                read.push_back(std::move(fromFile));
            }
            record = read.back().get();
        }
        records.emplace_back(file, record);
    }
    return catalog.WriteRecords(records);
}

bool CatalogBuilder::HandOverRecords(Catalog& catalog, const Job& job, bool open) {
    const std::string appData = job.folder + "AppData\\";
    if (open) catalog.ReadRecords(appData);
    std::vector<ListedFile> files;
    for (const auto& [file, copy] : job.records) files.push_back(file);
    if (job.records.empty()) {
        ForEachEntry(appData, [&](const WIN32_FIND_DATAA& entry) {
            if (IsFolder(entry)) return;
            if (IsTemporaryRecordFile(entry.cFileName)) {
                if (ListedFile::Of(entry).time < job.startedAt) ::DeleteFileA((appData + entry.cFileName).c_str());
            } else if (HasExtension(entry.cFileName, ".se")) {
                files.push_back(ListedFile::Of(entry));
            } else if (_stricmp(entry.cFileName, "records.idx") == 0 || HasExtension(entry.cFileName, ".items.idx")) {
                // The index files that the catalog replaced would only go stale.
                ::DeleteFileA((appData + entry.cFileName).c_str());
            }
        });
    }
    std::vector<std::unique_ptr<CaptureRecord>> records(files.size());
    std::vector<size_t> taken, unread;
    for (size_t i = 0; i < files.size(); ++i) {
        if (open) records[i] = catalog.TakeRecord(files[i]);
        (records[i] ? taken : unread).push_back(i);
    }
    // The window gets copies: the build writes its own afterwards.
    auto handOver = [&](const std::vector<size_t>& indexes, size_t first, size_t count) {
        std::vector<std::unique_ptr<CaptureRecord>> copies;
        for (size_t i = first; i < first + count; ++i) {
            const size_t index = indexes[i];
            if (!records[index] || job.heldRecords.count(files[index].name)) continue;
            copies.push_back(std::make_unique<CaptureRecord>(*records[index]));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& copy : copies) records_.push_back(std::move(copy));
    };
    handOver(taken, 0, taken.size());
    Tell(job, true);
    // Files are written when their capture is made: the newest first brings
    // the records of the days the window shows first.
    std::stable_sort(unread.begin(), unread.end(), [&](size_t a, size_t b) { return files[a].time > files[b].time; });
    for (size_t first = 0; first < unread.size(); first += kRecordsPerHandOver) {
        if (stop_) return false;
        const size_t count = std::min(kRecordsPerHandOver, unread.size() - first);
        // Under Wine most of a file's time is spent opening and closing it.
        ParallelFor(count, 2, [&](size_t i) {
            const size_t index = unread[first + i];
            auto record = std::make_unique<CaptureRecord>();
            try {
                if (record->ReadFile(appData + files[index].name)) records[index] = std::move(record);
            } catch (const std::exception&) {
            }
        });
        handOver(unread, first, count);
        Tell(job, true);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        recordsComplete_ = true;
    }
    Tell(job, true);
    if (!open || stop_) return false;
    std::vector<std::pair<ListedFile, const CaptureRecord*>> written;
    for (size_t i = 0; i < files.size(); ++i)
        if (records[i]) written.emplace_back(files[i], records[i].get());
    return catalog.WriteRecords(written);
}

std::unique_ptr<CatalogBuilder::DatePlan> CatalogBuilder::PlanDate(Catalog& catalog, const Job& job,
                                                                   const std::string& name,
                                                                   const std::vector<ListedFile>& files,
                                                                   bool& writable) {
    auto plan = std::make_unique<DatePlan>();
    plan->name = name;
    plan->folder = job.folder + name + "\\";
    plan->handOver = job.handOverDates.count(name) != 0;
    plan->loaded = job.loadedDates.count(name) != 0;
    plan->listed = files.size();
    catalog.ReadItems(name, plan->folder);
    // Files to read: those the catalog lacks. A hand-over folder's others are
    // made from their entries, as a load makes them.
    FileStore store;
    std::set<std::string> listed;
    for (const ListedFile& file : files) {
        listed.insert(file.name);
        if (plan->handOver) {
            if (auto item = catalog.TakeItem(name, file, store)) {
                item->SetStore(nullptr);
                plan->entries.push_back({std::move(item), true});
                continue;
            }
        } else if (catalog.Knows(name, file)) {
            continue;
        }
        plan->unknown.push_back(file);
    }
    writable = writable && catalog.PruneItems(name, listed);
    plan->failed = !writable && !plan->handOver;
    if (plan->failed) plan->unknown.clear();
    ReadAhead(*plan, 0);
    return plan;
}

void CatalogBuilder::ReadAhead(DatePlan& plan, size_t first) {
    if (first >= plan.unknown.size()) return;
    const size_t count = std::min(kItemsPerTransaction, plan.unknown.size() - first);
    plan.ahead = std::async(std::launch::async, ReadItemFiles, plan.folder,
                            std::vector<ListedFile>(plan.unknown.begin() + first, plan.unknown.begin() + first + count),
                            std::cref(stop_));
}

bool CatalogBuilder::BuildDate(Catalog& catalog, const Job& job, DatePlan& plan, size_t& done, size_t total,
                               bool& writable, const std::function<void()>& planNext) {
    if (!plan.entries.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& entry : plan.entries) items_.push_back(std::move(entry));
    }
    bool nextPlanned = false;
    auto readOnward = [&] {
        if (nextPlanned) return;
        nextPlanned = true;
        planNext();
    };
    for (size_t first = 0; first < plan.unknown.size(); first += kItemsPerTransaction) {
        if (stop_) return false;
        const size_t count = std::min(kItemsPerTransaction, plan.unknown.size() - first);
        std::vector<ReadItem> read = plan.ahead.get();
        if (first + count < plan.unknown.size())
            ReadAhead(plan, first + count);
        else
            readOnward();
        std::vector<NewItemEntry> batch;
        for (size_t i = 0; i < count; ++i)
            if (read[i].item) batch.push_back({plan.unknown[first + i], read[i].item.get(), std::move(read[i].text)});
        // A catalog that cannot be written costs the next start its time; the
        // window still gets its items.
        writable = writable && catalog.AddItems(plan.name, batch, plan.folder);
        if (!writable && !plan.handOver) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (plan.loaded && writable)
                for (const NewItemEntry& entry : batch) cataloged_.push_back(plan.folder + entry.file.name);
            if (plan.handOver)
                for (auto& entry : read)
                    if (entry.item) items_.push_back({std::move(entry.item), writable});
        }
        done += count;
        percent_ = static_cast<int>(std::min<size_t>(99, done * 100 / std::max<size_t>(total, 1)));
        Tell(job, false);
    }
    readOnward();
    done += plan.listed - plan.unknown.size();
    percent_ = static_cast<int>(std::min<size_t>(99, done * 100 / std::max<size_t>(total, 1)));
    // The window shows a folder handed over whole at once.
    Tell(job, plan.handOver);
    return writable && !plan.failed;
}
