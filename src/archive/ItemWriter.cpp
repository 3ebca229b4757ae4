#include "archive/ItemWriter.h"

#include <algorithm>

#include "archive/ItemFile.h"
#include "base/Paths.h"
#include "items/ClipItem.h"

namespace {

template <typename Container>
void EraseValue(Container& container, const ClipItem* item) {
    container.erase(std::remove(container.begin(), container.end(), item), container.end());
}

}  // namespace

ItemWriter::ItemWriter() : thread_([this] { Run(); }) {}

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
    Queue({&record, nullptr, record, path});
}

void ItemWriter::QueueItem(ClipItem& item, const std::string& path) {
    item.SetRecordPath(path);
    item.SetStore(this);
    Queue({&item, &item, CaptureRecord(), path});
}

void ItemWriter::Queue(Job job) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Bounds the memory that captured but unwritten items hold.
    changed_.wait(lock, [this] { return queue_.size() < kMostQueued; });
    queue_.push_back(std::move(job));
    changed_.notify_all();
}

void ItemWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, with everything written
        Job job = std::move(queue_.front());
        queue_.pop_front();
        writing_ = job.key;
        const auto storedHook = storedHook_;
        lock.unlock();
        const bool written = Write(job, storedHook);
        lock.lock();
        writing_ = nullptr;
        if (written && job.item) written_.push_back(job.item);
        changed_.notify_all();
    }
}

bool ItemWriter::Write(Job& job, const std::function<void(const std::string&)>& storedHook) {
    // The date folder is new once a day; the archive folder may have been
    // removed meanwhile (Erase All), so it is made sure of when it changes.
    const std::string folder = job.path.substr(0, job.path.rfind('\\') + 1);
    auto write = [&] { return job.item ? WriteItemRecord(*job.item, job.path) : job.record.WriteFile(job.path); };
    bool written = false;
    if (folder == lastFolder_) written = write();
    if (!written) {
        CreateFolderPath(folder);
        lastFolder_ = folder;
        written = write();
    }
    if (written && storedHook) storedHook(job.path);
    return written;
}

bool ItemWriter::IsPending(const void* key) const {
    if (writing_ == key) return true;
    return std::any_of(queue_.begin(), queue_.end(), [key](const Job& job) { return job.key == key; });
}

void ItemWriter::Flush() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
    }
    ReleaseWrittenData();
}

void ItemWriter::WaitUntilWritten(const void* recordOrItem) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !IsPending(recordOrItem); });
}

void ItemWriter::ReleaseWrittenData() {
    std::vector<ClipItem*> written;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        written.swap(written_);
    }
    for (ClipItem* item : written)
        if (item->DataBytes() > ClipItem::kKeptInMemoryBytes) item->LeaveDataOnDisk();
}

void ItemWriter::SetStoredHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    storedHook_ = std::move(hook);
}

void ItemWriter::WaitUntilStored(const ClipItem& item) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !IsPending(&item); });
    // The item changes: its data stays in memory until written again.
    EraseValue(written_, &item);
    EraseValue(readBack_, &item);
}

bool ItemWriter::ReadBack(ClipItem& item) {
    WaitUntilStored(item);
    if (!ReadItemFile(item, item.RecordPath())) return false;
    ClipItem* leaving = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readBack_.push_front(&item);
        if (readBack_.size() > kReadBackCached) {
            leaving = readBack_.back();
            readBack_.pop_back();
        }
    }
    if (leaving) leaving->LeaveDataOnDisk();
    return true;
}

void ItemWriter::Forget(const ClipItem& item) {
    // No write is pending: the archive waits for it before it lets an item go.
    std::lock_guard<std::mutex> lock(mutex_);
    EraseValue(written_, &item);
    EraseValue(readBack_, &item);
}
