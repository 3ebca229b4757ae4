#include "archive/ItemArchive.h"

#include <algorithm>
#include <cstring>

#include "archive/ItemFile.h"
#include "archive/RecordIndex.h"
#include "base/CaptureTime.h"
#include "base/Limits.h"
#include "base/ParallelFor.h"
#include "base/Paths.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"

namespace {

constexpr char kAppDataFolder[] = "AppData\\";

bool HasExtension(const char* name, const char* extension) {
    const size_t length = std::strlen(name), extLength = std::strlen(extension);
    return length >= extLength && _stricmp(name + length - extLength, extension) == 0;
}

bool IsFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Loading must go on past any one file: memory may run short for a large one.
template <typename Load>
bool LoadSafely(Load load) {
    try {
        return load();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Both take the path over: the loaded record or item keeps it.
std::unique_ptr<CaptureRecord> LoadCaptureRecord(std::string path) {
    std::unique_ptr<CaptureRecord> record;
    if (!LoadSafely([&] {
            record = std::make_unique<CaptureRecord>();
            return record->ReadFile(std::move(path));
        }))
        record.reset();
    return record;
}

// What cannot be read stays on disk, untouched, and out of the archive.
std::unique_ptr<ClipItem> LoadItemFile(std::string path, ItemStore& store) {
    std::unique_ptr<ClipItem> item;
    if (!LoadSafely([&] {
            item = CreateItemOfType(ItemTypeOfExtension(path));
            if (!item) return false;
            item->SetStore(&store);
            return ReadItemFile(*item, std::move(path), ItemDataUse::kLoad);
        }))
        item.reset();
    return item;
}

}  // namespace

std::string ItemArchive::AppDataFolder() const { return options_.folder + kAppDataFolder; }

ItemArchive::~ItemArchive() { ItemArchive::Clear(); }

void ItemArchive::Clear() {
    writer_.Flush();
    items_.clear();
    applications_.clear();
    captures_.clear();
}

void ItemArchive::OnItemAdded(ClipItem*) {}

void ItemArchive::Trim() {}

std::unique_ptr<ClipItem> ItemArchive::RemoveItem(ClipItem* item) {
    auto found = std::find_if(items_.begin(), items_.end(), [item](const auto& owned) { return owned.get() == item; });
    if (found == items_.end()) return nullptr;
    writer_.WaitUntilWritten(item);
    if (!item->RecordPath().empty()) ::DeleteFileA(item->RecordPath().c_str());
    std::unique_ptr<ClipItem> removed = std::move(*found);
    items_.erase(found);
    return removed;
}

std::unique_ptr<CaptureRecord> ItemArchive::RemoveCapture(GUID captureGuid) {
    auto found = captures_.find(GuidText(captureGuid));
    if (found == captures_.end()) return nullptr;
    writer_.WaitUntilWritten(found->second.get());
    if (!found->second->FilePath.empty()) ::DeleteFileA(found->second->FilePath.c_str());
    std::unique_ptr<CaptureRecord> removed = std::move(found->second);
    captures_.erase(found);
    return removed;
}

bool ItemArchive::LoadArchive(const ArchiveOptions& options) {
    Clear();
    options_ = options;
    lastFingerprint_ = 0;
    const std::string appData = AppDataFolder();
    // Writes that an interrupted run left unfinished.
    RemoveTemporaryRecordFiles(appData);
    // The records come from the index where it has them as their files are.
    RecordIndex index(appData);
    index.Read();
    std::vector<RecordIndex::File> recordFiles;
    std::vector<std::unique_ptr<CaptureRecord>> records;
    std::vector<std::string> itemPaths;
    ForEachEntry(appData, [&](const WIN32_FIND_DATAA& entry) {
        if (IsFolder(entry)) return;
        if (HasExtension(entry.cFileName, ".app")) {
            const std::string path = appData + entry.cFileName;
            auto app = std::make_unique<SourceApp>();
            // The walk's later file of one class atom is the one kept.
            if (LoadSafely([&] { return app->ReadAppFile(path, options_.fallbackIcon); }))
                applications_[LOWORD(app->ClassAtom)] = std::move(app);
        } else if (HasExtension(entry.cFileName, ".se")) {
            recordFiles.push_back(RecordIndex::FileOf(entry));
            records.push_back(index.Take(recordFiles.back()));
        }
    });

    const std::string today = DateFolderName(CurrentCaptureTime());
    ForEachEntry(options_.folder, [&](const WIN32_FIND_DATAA& entry) {
        if (!IsFolder(entry) || _stricmp(entry.cFileName, "AppData") == 0) return;
        const std::string folder = options_.folder + entry.cFileName + "\\";
        if (!options_.loadWholeArchive && _stricmp(entry.cFileName, today.c_str()) != 0) {
            RemoveTemporaryRecordFiles(folder);
            return;
        }
        ForEachEntry(folder, [&](const WIN32_FIND_DATAA& file) {
            if (IsFolder(file)) return;
            std::string path = folder + file.cFileName;
            if (IsTemporaryRecordFile(file.cFileName))
                ::DeleteFileA(path.c_str());
            else
                itemPaths.push_back(std::move(path));
        });
    });

    // Under Wine most of a file's time is spent waiting on the wine server to
    // open and close it, so several files are read at once; each lands in its
    // own slot, and the archive takes them in the walk's order.
    std::vector<size_t> unindexed;
    for (size_t i = 0; i < records.size(); ++i)
        if (!records[i]) unindexed.push_back(i);
    std::vector<std::unique_ptr<ClipItem>> loaded(itemPaths.size());
    ParallelFor(unindexed.size() + loaded.size(), WorkerThreads(), [&](size_t i) {
        if (i < unindexed.size())
            records[unindexed[i]] = LoadCaptureRecord(appData + recordFiles[unindexed[i]].name);
        else
            loaded[i - unindexed.size()] = LoadItemFile(std::move(itemPaths[i - unindexed.size()]), writer_);
    });
    if (!index.IsCurrent(records.size())) {
        std::vector<std::pair<RecordIndex::File, const CaptureRecord*>> indexed;
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i]) indexed.emplace_back(std::move(recordFiles[i]), records[i].get());
        // An index that cannot be written only costs the next start its time.
        index.Write(indexed);
    }
    for (auto& record : records)
        if (record) captures_[GuidText(record->CaptureGuid)] = std::move(record);
    items_.reserve(loaded.size());
    for (auto& item : loaded)
        if (item) items_.push_back(std::move(item));
    return true;
}

void ItemArchive::EraseAll() {
    writer_.Flush();
    for (const auto& item : items_)
        if (!item->RecordPath().empty()) ::DeleteFileA(item->RecordPath().c_str());
    DeleteFolderTree(AppDataFolder());
    Clear();
}

SourceApp* ItemArchive::FindOrAddSourceApp(HWND sourceWindow) {
    auto app = std::make_unique<SourceApp>();
    if (!sourceWindow)
        app->InitUnknown();
    else if (!app->InitFromWindow(sourceWindow))
        return nullptr;
    const WORD atom = LOWORD(app->ClassAtom);
    auto found = applications_.find(atom);
    if (found != applications_.end()) return found->second.get();

    SourceApp* added = app.get();
    applications_[atom] = std::move(app);
    const std::string folder = AppDataFolder();
    CreateFolderPath(folder);
    added->WriteAppFile(MakeUniqueFileName(folder, nullptr, ".app"));
    return added;
}

CaptureRecord* ItemArchive::AddCaptureRecord(HWND sourceWindow) {
    FindOrAddSourceApp(sourceWindow);
    auto record = std::make_unique<CaptureRecord>();
    ::CoCreateGuid(&record->CaptureGuid);
    // Without a window the record keeps "Unknown Application" and class atom 0.
    if (sourceWindow) {
        if (!::IsWindow(sourceWindow)) return nullptr;
        record->ClassAtom = ::GetClassLongA(sourceWindow, GCW_ATOM);
        char title[kMaxTitleChars + 1] = {};
        ::GetWindowTextA(sourceWindow, title, sizeof(title));
        record->Title = title[0] ? title : kUnknownApplication;
    }

    CaptureRecord* added = record.get();
    captures_[GuidText(added->CaptureGuid)] = std::move(record);
    // A record that cannot be written still counts for this run.
    writer_.QueueRecord(*added, MakeUniqueFileName(AppDataFolder(), nullptr, ".se"));
    return added;
}

CaptureRecord* ItemArchive::FindCapture(const ClipItem& item) const {
    auto found = captures_.find(GuidText(item.SourceGuid()));
    return found == captures_.end() ? nullptr : found->second.get();
}

double ItemArchive::TrimCutoff() const {
    const int limit = options_.itemsLimit;
    if (limit <= 0 || captures_.size() <= static_cast<size_t>(limit)) return 0;
    std::vector<double> times;
    times.reserve(captures_.size());
    for (const auto& [key, record] : captures_) times.push_back(record->CaptureTime);
    std::sort(times.begin(), times.end());
    return times[captures_.size() - static_cast<size_t>(limit) - 1];
}

unsigned long long FolderSize(const std::string& folder) {
    unsigned long long total = 0;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        // A link may lead out of the archive, or back into it without end.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
        if (IsFolder(entry))
            total += FolderSize(folder + entry.cFileName + "\\");
        else if (!IsTemporaryRecordFile(entry.cFileName))
            total += (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    });
    return total;
}

bool ItemArchive::IsOverDiskSizeLimit() const {
    const int limit = options_.diskSizeLimit;
    if (limit <= 0) return false;
    return static_cast<double>(FolderSize(options_.folder)) / (1024.0 * 1024.0) > limit;
}

void ItemArchive::CheckDiskSize() {
    // Nothing is deleted: the user decides, and the check runs after the next capture again.
    if (sizeLimitHook_ && IsOverDiskSizeLimit()) sizeLimitHook_();
}
