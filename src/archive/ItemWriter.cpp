#include "archive/ItemWriter.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "archive/Catalog.h"
#include "archive/ItemFile.h"
#include "base/Paths.h"
#include "items/ClipItem.h"

ItemWriter::ItemWriter(const Budgets& budgets) : budgets_(budgets), thread_([this] { Run(); }) {}

ItemWriter::~ItemWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ItemWriter::QueueRecord(CaptureRecord& record, const std::string& path) {
    record.FilePath = path;
    queuedPaths_.insert(path);
    Job job;
    job.kind = JobKind::kRecord;
    job.path = path;
    job.record = record;
    Queue(std::move(job));
}

void ItemWriter::SetCatalog(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    catalog_ = path;
}

void ItemWriter::QueueItem(ClipItem& item, const std::string& path) {
    item.SetRecordPath(path);
    item.SetStore(this);
    queuedPaths_.insert(path);
    Job job;
    job.kind = JobKind::kItem;
    job.path = path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job.catalog = catalog_;
    }
    const bool cataloging = !job.catalog.empty();
    job.content = ItemFileContent::Of(item);
    job.bytes = job.content.data.bytes;
    const uint64_t version = item.DataVersion();
    const size_t bytes = job.bytes;
    Queue(std::move(job));
    pending_[lastQueued_] = {&item, version, bytes, cataloging};
}

void ItemWriter::QueueDelete(const std::string& path, const std::string& catalog, const std::string& dateFolder) {
    Job job;
    job.kind = JobKind::kDelete;
    job.path = path;
    job.catalog = catalog;
    job.dateFolder = dateFolder;
    Queue(std::move(job));
}

void ItemWriter::Queue(Job job) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Bounds the memory that captured but unwritten items hold; one job is
    // always let in, however large.
    changed_.wait(lock, [&] { return queuedBytes_ == 0 || queuedBytes_ + job.bytes <= budgets_.queued; });
    job.id = lastQueued_ + 1;
    const size_t bytes = job.bytes;
    queue_.push_back(std::move(job));
    // Counted once queued: a push that finds no memory leaves no job to wait for.
    lastQueued_ += 1;
    queuedBytes_ += bytes;
    changed_.notify_all();
}

namespace {

// Deletes come in runs (a trim, a selection); the index is merged once the
// run has paused this long.
constexpr auto kCompactDelay = std::chrono::milliseconds(1000);

// The name of the folder that holds the file.
std::string FolderNameOf(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos || slash == 0) return {};
    const size_t before = path.rfind('\\', slash - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    return path.substr(start, slash - start);
}

}  // namespace

void ItemWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto ready = [this] { return stopping_ || compactNow_ || !queue_.empty() || !catalogDue_.empty(); };
        const bool woken = compactDue_.empty() ? (changed_.wait(lock, ready), true)
                                               : changed_.wait_for(lock, kCompactDelay, ready);
        if (queue_.empty() && !catalogDue_.empty()) {
            std::vector<CatalogDue> due;
            due.swap(catalogDue_);
            cataloging_ = true;
            lock.unlock();
            std::vector<uint64_t> added;
            try {
                added = CatalogItems(due);
            } catch (...) {
            }
            lock.lock();
            cataloging_ = false;
            catalogedIds_.insert(catalogedIds_.end(), added.begin(), added.end());
            if (!added.empty() && notifyWindow_ && !noticePosted_)
                noticePosted_ = ::PostMessageA(notifyWindow_, notifyMessage_, 0, 0) != FALSE;
            changed_.notify_all();
            continue;
        }
        if (queue_.empty() && !compactDue_.empty() && (!woken || compactNow_ || stopping_)) {
            std::set<std::string> due;
            due.swap(compactDue_);
            lock.unlock();
            CompactCatalogs(due);
            lock.lock();
            compactNow_ = false;
            changed_.notify_all();
            continue;
        }
        if (compactNow_) {
            compactNow_ = false;
            changed_.notify_all();
        }
        if (queue_.empty()) {
            if (stopping_) return;  // with everything written
            continue;
        }
        // Deletes queued together are done together: the catalog loses the
        // entries of all their files in one transaction.
        std::list<Job> jobs;
        do {
            jobs.splice(jobs.end(), queue_, queue_.begin());
        } while (jobs.front().kind == JobKind::kDelete && !queue_.empty() && queue_.front().kind == JobKind::kDelete);
        // A file deleted before its entry was made never gets one.
        for (const Job& each : jobs)
            if (each.kind == JobKind::kDelete)
                std::erase_if(catalogDue_, [&](const CatalogDue& due) { return due.path == each.path; });
        const auto storedHook = storedHook_;
        lock.unlock();
        Job& job = jobs.front();
        bool written = false;
        // Nothing thrown here (memory short while compressing, say) may end
        // the program: an item that is not written keeps its data instead.
        try {
            if (job.kind == JobKind::kDelete) {
                DeleteBatch(jobs);
            } else {
                written = Write(job);
                if (written && storedHook) storedHook(job.path);
            }
        } catch (...) {
            written = false;
        }
        const bool tell = job.kind == JobKind::kItem;
        const Completion completion{job.id, written};
        CatalogDue due;
        if (written && job.kind == JobKind::kItem && !job.catalog.empty()) due = {job.id, job.path, job.catalog};
        size_t bytes = 0;
        std::set<std::string> leaving;
        for (const Job& each : jobs) {
            bytes += each.bytes;
            if (each.kind == JobKind::kDelete && !each.catalog.empty()) leaving.insert(each.catalog);
        }
        const uint64_t last = jobs.back().id;
        // The job's copy of the data goes before the window's thread hears of it.
        jobs.clear();
        lock.lock();
        if (!due.path.empty()) catalogDue_.push_back(std::move(due));
        compactDue_.insert(leaving.begin(), leaving.end());
        queuedBytes_ -= bytes;
        lastDone_ = last;
        if (tell) {
            done_.push_back(completion);
            if (notifyWindow_ && !noticePosted_)
                noticePosted_ = ::PostMessageA(notifyWindow_, notifyMessage_, 0, 0) != FALSE;
        }
        changed_.notify_all();
    }
}

std::vector<uint64_t> ItemWriter::CatalogItems(const std::vector<CatalogDue>& due) {
    // By catalog and date folder, each group in one transaction.
    std::map<std::pair<std::string, std::string>, std::vector<const CatalogDue*>> groups;
    for (const CatalogDue& each : due) groups[{each.catalog, FolderNameOf(each.path)}].push_back(&each);
    std::vector<uint64_t> added;
    for (const auto& [where, files] : groups) {
        std::vector<std::unique_ptr<ClipItem>> items;
        std::vector<std::pair<ListedFile, ClipItem*>> entries;
        std::vector<uint64_t> ids;
        for (const CatalogDue* each : files) {
            WIN32_FIND_DATAA listing = {};
            const HANDLE find = ::FindFirstFileA(each->path.c_str(), &listing);
            if (find == INVALID_HANDLE_VALUE) continue;
            ::FindClose(find);
            // The entry is made from the file as it is on disk, as a load would.
            std::unique_ptr<ClipItem> item = CreateItemOfType(ItemTypeOfExtension(each->path));
            if (!item || !ReadItemFile(*item, each->path)) continue;
            entries.emplace_back(ListedFile::Of(listing), item.get());
            items.push_back(std::move(item));
            ids.push_back(each->id);
        }
        Catalog catalog;
        if (catalog.Open(where.first) && catalog.AddItems(where.second, entries))
            added.insert(added.end(), ids.begin(), ids.end());
    }
    return added;
}

void ItemWriter::CompactCatalogs(const std::set<std::string>& catalogs) {
    for (const std::string& path : catalogs) {
        try {
            Catalog catalog;
            if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES || !catalog.Open(path) || !catalog.Compact()) {
                catalog.Close();
                // The catalog is only a copy: without it the next load reads the files.
                Catalog::Delete(path);
            }
        } catch (...) {
            Catalog::Delete(path);
        }
    }
}

bool ItemWriter::Write(Job& job) {
    // The date folder is new once a day; the archive folder may have been
    // removed meanwhile (Erase All), so it is made sure of when it changes.
    const std::string folder = job.path.substr(0, job.path.rfind('\\') + 1);
    auto write = [&] {
        return job.kind == JobKind::kItem ? WriteItemContent(job.content, job.path) : job.record.WriteFile(job.path);
    };
    bool written = false;
    if (folder == lastFolder_) written = write();
    if (!written) {
        CreateFolderPath(folder);
        lastFolder_ = folder;
        written = write();
    }
    return written;
}

void ItemWriter::DeleteBatch(const std::list<Job>& jobs) {
    struct Leaving {
        std::vector<std::pair<std::string, std::string>> items;
        std::vector<std::string> records;
    };
    std::map<std::string, Leaving> leaving;  // by catalog
    for (const Job& job : jobs) {
        if (!job.path.empty()) ::DeleteFileA(job.path.c_str());
        if (job.catalog.empty()) continue;
        const std::string name = job.path.substr(job.path.rfind('\\') + 1);
        if (job.dateFolder.empty())
            leaving[job.catalog].records.push_back(name);
        else
            leaving[job.catalog].items.emplace_back(job.dateFolder, name);
    }
    // A deleted item is gone from the catalog too, at once: it keeps small
    // items whole, and their date may not be loaded again for long. The
    // connection is this thread's own, and is closed again so that nothing
    // holds the file between deletes.
    for (const auto& [path, names] : leaving) {
        bool removed = false;
        try {
            Catalog catalog;
            removed = catalog.Open(path) && catalog.RemoveItems(names.items) && catalog.RemoveRecords(names.records);
            // The log keeps the pages as they were before: moved into the
            // file (where the rows were overwritten) and emptied. The index
            // is merged later (CompactCatalogs).
            if (removed) catalog.Database().Execute("PRAGMA wal_checkpoint(TRUNCATE)");
        } catch (...) {
            removed = false;
        }
        // The catalog is only a copy: without it the next load reads the files.
        if (!removed) Catalog::Delete(path);
    }
}

void ItemWriter::Flush() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return lastDone_ == lastQueued_ && catalogDue_.empty() && !cataloging_; });
        // A flush leaves nothing of what was deleted behind, in the catalogs either.
        if (!compactDue_.empty()) {
            compactNow_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return compactDue_.empty() && !compactNow_; });
        }
    }
    ReleaseWrittenData();
}

void ItemWriter::ReleaseWrittenData() {
    std::vector<Completion> done;
    std::vector<uint64_t> cataloged;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done.swap(done_);
        cataloged.swap(catalogedIds_);
        noticePosted_ = false;
    }
    for (const Completion& completion : done) {
        auto found = pending_.find(completion.id);
        if (found == pending_.end()) continue;  // the item has gone
        const PendingItem pending = found->second;
        pending_.erase(found);
        ClipItem& item = *pending.item;
        // An item changed since its write was queued keeps the change in memory.
        if (completion.written && pending.cataloging) awaitingCatalog_[completion.id] = {&item, pending.version};
        if (item.DataVersion() != pending.version) continue;
        if (completion.written) {
            if (item.DataBytes() > ClipItem::kKeptInMemoryBytes) item.LeaveDataOnDisk();
        } else {
            KeepUnwritten(item, pending.bytes);
        }
    }
    for (uint64_t id : cataloged) {
        auto found = awaitingCatalog_.find(id);
        if (found == awaitingCatalog_.end()) continue;  // the item has gone
        if (catalogedHook_) catalogedHook_(*found->second.first, found->second.second);
        awaitingCatalog_.erase(found);
    }
}

void ItemWriter::KeepUnwritten(ClipItem& item, size_t bytes) {
    if (unwritten_.count(&item)) return;
    if (unwrittenBytes_ + bytes <= budgets_.unwritten) {
        unwritten_[&item] = bytes;
        unwrittenBytes_ += bytes;
        return;
    }
    // Past the budget (a full disk) the item can be neither stored nor kept:
    // it keeps its place, and its data counts as unreadable from now on.
    item.LeaveDataOnDisk();
    writesFailing_ = true;
}

bool ItemWriter::TakeWritesFailingNotice() {
    if (!writesFailing_ || writesFailingTold_) return false;
    writesFailingTold_ = true;
    return true;
}

void ItemWriter::SetStoredHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    storedHook_ = std::move(hook);
}

void ItemWriter::SetNotifyWindow(HWND window, UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    notifyWindow_ = window;
    notifyMessage_ = message;
    noticePosted_ = false;
}

void ItemWriter::WaitUntilStored(const ClipItem& item) {
    uint64_t last = 0;
    for (const auto& [id, pending] : pending_)
        if (pending.item == &item) last = std::max(last, id);
    if (last == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return lastDone_ >= last; });
}

bool ItemWriter::ReadBack(ClipItem& item) {
    WaitUntilStored(item);
    // Reading the file back is no change of the item's data.
    const uint64_t version = item.DataVersion();
    if (!ReadItemFile(item, item.RecordPath())) return false;
    // The newest read back keep their data within the budget; the newest one always.
    DropReadBack(item);
    const size_t bytes = item.DataBytes();
    readBack_.push_front({&item, version, bytes});
    readBackBytes_ += bytes;
    while (readBack_.size() > 1 && readBackBytes_ > budgets_.readBack) {
        const CachedItem leaving = readBack_.back();
        readBack_.pop_back();
        readBackBytes_ -= leaving.bytes;
        // An item changed since (edited, not yet saved) keeps the change.
        if (leaving.item->DataVersion() == leaving.version) leaving.item->LeaveDataOnDisk();
    }
    return true;
}

void ItemWriter::Forget(const ClipItem& item) {
    std::erase_if(awaitingCatalog_, [&](const auto& entry) { return entry.second.first == &item; });
    for (auto pending = pending_.begin(); pending != pending_.end();)
        pending = pending->second.item == &item ? pending_.erase(pending) : std::next(pending);
    DropReadBack(item);
    if (auto unwritten = unwritten_.find(&item); unwritten != unwritten_.end()) {
        unwrittenBytes_ -= unwritten->second;
        unwritten_.erase(unwritten);
    }
}

void ItemWriter::DropReadBack(const ClipItem& item) {
    auto cached = std::find_if(readBack_.begin(), readBack_.end(), [&](const CachedItem& c) { return c.item == &item; });
    if (cached == readBack_.end()) return;
    readBackBytes_ -= cached->bytes;
    readBack_.erase(cached);
}
