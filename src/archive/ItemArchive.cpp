#include "archive/ItemArchive.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "archive/Catalog.h"
#include "archive/ItemFile.h"
#include "archive/ProgramKey.h"
#include "base/CaptureTime.h"
#include "base/Limits.h"
#include "base/ParallelFor.h"
#include "base/Paths.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"

namespace {

constexpr char kAppDataFolder[] = "AppData\\";
// Capture records, and items, taken over from the catalog's builder in one
// turn of the window.
constexpr size_t kRecordsPerStep = 5000;
constexpr size_t kItemsPerStep = 1000;
// The index files that the catalog replaced: AppData's "records.idx", and a
// "<date>.items.idx" for each date folder.
constexpr char kOldRecordIndex[] = "records.idx";
constexpr char kOldItemIndexExtension[] = ".items.idx";

bool HasExtension(const char* name, const char* extension) {
    const size_t length = std::strlen(name), extLength = std::strlen(extension);
    return length >= extLength && _stricmp(name + length - extLength, extension) == 0;
}

// The name of the folder that holds the file.
std::string ParentFolderName(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos || slash == 0) return {};
    const size_t before = path.rfind('\\', slash - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    return path.substr(start, slash - start);
}

bool IsFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Loading must go on past any one file: memory may run short for a large one.
template <typename Load>
bool LoadSafely(Load load) {
    try {
        return load();
    } catch (const std::exception&) {
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
        })) {
        // The store is the window thread's, and never heard of this item.
        if (item) item->SetStore(nullptr);
        item.reset();
    }
    return item;
}

}  // namespace

ApplicationKey ApplicationKeyOf(const std::string& programKey, DWORD classAtom) {
    return programKey.empty() ? ApplicationKey(std::string(), LOWORD(classAtom)) : ApplicationKey(programKey, 0);
}

std::string ItemArchive::AppDataFolder() const { return options_.folder + kAppDataFolder; }

ItemArchive::ItemArchive() {
    // A capture's entry is written with its file: the catalog holds it as it was then.
    writer_.SetCatalogedHook([this](const ClipItem& item, uint64_t version) { cataloged_[&item] = version; });
}

ItemArchive::~ItemArchive() { ItemArchive::Clear(); }

void ItemArchive::Clear() {
    EndFilterSearch();
    builder_.Stop();
    writer_.Flush();
    deletedHere_.clear();
    deletedBeforeHandOver_.clear();
    removedBeforeHandOver_.clear();
    cataloged_.clear();
    uncataloged_.clear();
    recordsPending_ = false;
    itemsPending_ = false;
    pendingDates_.clear();
    loadedOrder_ = 0;
    items_.clear();
    NoteItemsChanged();
    ++itemsRemoved_;
    applications_.clear();
    captures_.clear();
}

void ItemArchive::OnItemAdded(ClipItem*) {}

void ItemArchive::OnItemsLoaded(const std::vector<ClipItem*>&) {}

void ItemArchive::Trim() {}

std::unique_ptr<ClipItem> ItemArchive::RemoveItem(ClipItem* item) {
    auto found = std::find_if(items_.begin(), items_.end(), [item](const auto& owned) { return owned.get() == item; });
    if (found == items_.end()) return nullptr;
    if (const std::string& path = item->RecordPath(); !path.empty()) {
        // The catalog may hold the item whole.
        const std::string dateFolder = ParentFolderName(path);
        writer_.QueueDelete(path, dateFolder.empty() ? std::string() : options_.catalogPath, dateFolder);
        deletedHere_.insert(path);
        if (itemsPending_) deletedBeforeHandOver_.insert(path);
    }
    return ForgetItem(item);
}

std::unique_ptr<CaptureRecord> ItemArchive::RemoveCapture(GUID captureGuid) {
    auto found = captures_.find(captureGuid);
    if (found == captures_.end()) return nullptr;
    if (!found->second->FilePath.empty()) {
        const std::string path = found->second->FilePath;
        writer_.QueueDelete(path, options_.catalogPath, std::string());
        deletedHere_.insert(path);
    }
    if (recordsPending_) removedBeforeHandOver_.insert(captureGuid);
    return ForgetCapture(captureGuid);
}

bool ItemArchive::LoadArchive(const ArchiveOptions& options) {
    Clear();
    options_ = options;
    lastFingerprint_ = 0;
    const std::string appData = AppDataFolder();
    FILETIME started = {};
    ::GetSystemTimeAsFileTime(&started);
    // Records and items come from the catalog where it has them as their
    // files are; the rest is read from the files. A catalog that cannot be
    // opened only costs the time of reading every file.
    Catalog catalog;
    const bool cataloged = !options_.catalogPath.empty() && catalog.Open(options_.catalogPath);
    // Listing AppData alone takes longer than a start may: in a large archive
    // the load takes the records of its items from the catalog, each checked
    // against its own file, and the builder hands over the rest. With the
    // whole archive it loads today's items alone too, and the builder hands
    // over the other days' items, newest first, made from their entries.
    const bool mayLeaveRecords = cataloged && !options_.loadWholeArchive;
    bool recordsLater = cataloged && catalog.HoldsRecords(std::max<size_t>(options_.recordsLaterFrom, 1));
    const bool daysLater = recordsLater && options_.loadWholeArchive;
    std::vector<ListedFile> recordFiles;
    std::vector<std::unique_ptr<CaptureRecord>> records;
    // Listing AppData for its few application files still walks every name in
    // it: that runs beside the reading of the day's items.
    std::vector<std::unique_ptr<SourceApp>> listedApps;
    auto listApps = [&] {
        ForEachEntry(
            appData,
            [&](const WIN32_FIND_DATAA& entry) {
                if (IsFolder(entry) || !HasExtension(entry.cFileName, ".app")) return;
                auto app = std::make_unique<SourceApp>();
                if (LoadSafely([&] { return app->ReadAppFile(appData + entry.cFileName, options_.fallbackIcon); }))
                    listedApps.push_back(std::move(app));
            },
            "*.app");
    };
    std::thread appLister;
    struct JoinOnExit {
        std::thread& thread;
        ~JoinOnExit() {
            if (thread.joinable()) thread.join();
        }
    } joinAppLister{appLister};
    if (recordsLater) {
        try {
            appLister = std::thread(listApps);
        } catch (const std::system_error&) {
            listApps();
        }
    } else {
        // Writes that an interrupted run left unfinished.
        RemoveTemporaryRecordFiles(appData);
        if (cataloged) catalog.ReadRecords(appData);
        ForEachEntry(appData, [&](const WIN32_FIND_DATAA& entry) {
            if (IsFolder(entry)) return;
            if (HasExtension(entry.cFileName, ".app")) {
                AddApplicationFile(appData + entry.cFileName);
            } else if (HasExtension(entry.cFileName, ".se")) {
                recordFiles.push_back(ListedFile::Of(entry));
                records.push_back(cataloged ? catalog.TakeRecord(recordFiles.back()) : nullptr);
            } else if (_stricmp(entry.cFileName, kOldRecordIndex) == 0 ||
                       HasExtension(entry.cFileName, kOldItemIndexExtension)) {
                // The catalog replaced them; they would only go stale.
                ::DeleteFileA((appData + entry.cFileName).c_str());
            }
        });
        // A large archive whose catalog lacks the records (a first start):
        // the builder reads what the catalog does not give, newest first.
        if (mayLeaveRecords && recordFiles.size() >= options_.recordsLaterFrom) recordsLater = true;
    }

    // The item files of each date folder loaded, in the walk's order.
    struct DateFolder {
        std::string name;
        std::string folder;
        size_t first = 0, count = 0;
    };
    std::vector<DateFolder> dateFolders;
    std::vector<ListedFile> itemFiles;
    std::vector<size_t> itemFolders;  // each file's entry in dateFolders
    std::vector<std::unique_ptr<ClipItem>> loaded;
    std::set<std::string> handOverDates;
    const std::string today = DateFolderName(CurrentCaptureTime());
    loadedDay_ = today;
    ForEachEntry(options_.folder, [&](const WIN32_FIND_DATAA& entry) {
        if (!IsFolder(entry) || _stricmp(entry.cFileName, "AppData") == 0) return;
        const std::string folder = options_.folder + entry.cFileName + "\\";
        const bool isToday = _stricmp(entry.cFileName, today.c_str()) == 0;
        if (daysLater && !isToday) {
            // The builder removes the temporary files as it lists the folder.
            handOverDates.insert(entry.cFileName);
            return;
        }
        if (!options_.loadWholeArchive && !isToday) {
            // The builder lists the folder anyway.
            if (!recordsLater) RemoveTemporaryRecordFiles(folder);
            return;
        }
        DateFolder date{entry.cFileName, folder, itemFiles.size(), 0};
        if (cataloged) {
            catalog.ReadItems(date.name, folder);
            if (options_.readUnknownDaysLater && !isToday && !catalog.HasItems(date.name)) {
                RemoveTemporaryRecordFiles(folder);
                handOverDates.insert(date.name);
                return;
            }
        }
        ForEachEntry(folder, [&](const WIN32_FIND_DATAA& file) {
            if (IsFolder(file)) return;
            if (IsTemporaryRecordFile(file.cFileName)) {
                ::DeleteFileA((folder + file.cFileName).c_str());
                return;
            }
            // A sync engine's transfer: its file arrives under its own name.
            if (IsSyncEngineTemporaryFile(file.cFileName)) return;
            itemFiles.push_back(ListedFile::Of(file));
            itemFolders.push_back(dateFolders.size());
            loaded.push_back(cataloged ? catalog.TakeItem(date.name, itemFiles.back(), writer_) : nullptr);
        });
        date.count = itemFiles.size() - date.first;
        dateFolders.push_back(std::move(date));
    });

    // Under Wine most of a file's time is spent waiting on the wine server to
    // open and close it, so several files are read at once; each lands in its
    // own slot, and the archive takes them in the walk's order.
    std::vector<size_t> unreadRecords, unreadItems;
    std::vector<bool> recordFromCatalog(records.size()), fromCatalog(loaded.size());
    for (size_t i = 0; i < records.size(); ++i)
        if (!(recordFromCatalog[i] = records[i] != nullptr) && !recordsLater) unreadRecords.push_back(i);
    for (size_t i = 0; i < loaded.size(); ++i)
        if (!(fromCatalog[i] = loaded[i] != nullptr)) unreadItems.push_back(i);
    ParallelFor(unreadRecords.size() + unreadItems.size(), WorkerThreads(), [&](size_t i) {
        if (i < unreadRecords.size()) {
            records[unreadRecords[i]] = LoadCaptureRecord(appData + recordFiles[unreadRecords[i]].name);
        } else {
            const size_t slot = unreadItems[i - unreadRecords.size()];
            loaded[slot] = LoadItemFile(dateFolders[itemFolders[slot]].folder + itemFiles[slot].name, writer_);
            // Checked, and read again when used: memory holds no item's data for a load.
            if (loaded[slot]) loaded[slot]->LeaveDataOnDisk();
        }
    });
    std::set<std::string> heldRecords;
    if (recordsLater) {
        if (recordFiles.empty()) {
            records = RecordsOfItems(catalog, loaded, heldRecords);
        } else {
            for (size_t i = 0; i < records.size(); ++i)
                if (records[i]) heldRecords.insert(recordFiles[i].name);
        }
        recordsPending_ = true;
    }

    if (appLister.joinable()) appLister.join();
    // The walk's later file of one program (or, without one, of one class
    // atom) is the one kept.
    for (auto& app : listedApps) applications_[ApplicationKeyOf(app->ProgramKey, app->ClassAtom)] = std::move(app);

    // What was read from the files joins the catalog on the builder's thread,
    // with every date folder not loaded; a damaged catalog is made anew first.
    if (cataloged && catalog.Damaged()) catalog.MakeAnew(options_.catalogPath);
    catalog.Close();
    // What the walk listed goes before the builder starts to read its own: the
    // heap keeps what it once held.
    std::vector<ListedFile>().swap(itemFiles);
    if (cataloged) {
        for (size_t i = 0; i < loaded.size(); ++i) {
            if (!loaded[i]) continue;
            if (fromCatalog[i])
                cataloged_[loaded[i].get()] = loaded[i]->DataVersion();
            else
                uncataloged_[loaded[i]->RecordPath()] = {loaded[i].get(), loaded[i]->DataVersion()};
        }
        CatalogBuilder::Job job;
        job.folder = options_.folder;
        job.catalogPath = options_.catalogPath;
        for (size_t i = 0; i < recordFiles.size(); ++i)
            job.records.emplace_back(std::move(recordFiles[i]), records[i] && !recordFromCatalog[i]
                                                         ? std::make_unique<CaptureRecord>(*records[i])
                                                         : nullptr);
        job.handOverRecords = recordsLater;
        job.heldRecords = std::move(heldRecords);
        job.startedAt = (static_cast<unsigned long long>(started.dwHighDateTime) << 32) | started.dwLowDateTime;
        for (const DateFolder& date : dateFolders) job.loadedDates.insert(date.name);
        pendingDates_ = handOverDates;
        itemsPending_ = !pendingDates_.empty();
        job.handOverDates = std::move(handOverDates);
        job.window = catalogWindow_;
        job.message = catalogMessage_;
        builder_.Start(std::move(job));
    }
    writer_.SetCatalog(cataloged ? options_.catalogPath : std::string());
    // Times are all a loaded record tells of its order; a capture of this run
    // comes after all of them, whatever the clock says then.
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a && b ? a->CaptureTime < b->CaptureTime : a != nullptr;
    });
    lastOrder_ = 0;
    for (auto& record : records) {
        if (!record) continue;
        record->Order = ++lastOrder_;
        captures_[record->CaptureGuid] = std::move(record);
    }
    loadedOrder_ = lastOrder_;
    items_.reserve(loaded.size());
    for (auto& item : loaded)
        if (item) items_.push_back(std::move(item));
    NoteItemsChanged();
    return true;
}

void ItemArchive::AddApplicationFile(const std::string& path) {
    auto app = std::make_unique<SourceApp>();
    // The walk's later file of one program (or, without one, of one class
    // atom) is the one kept.
    if (LoadSafely([&] { return app->ReadAppFile(path, options_.fallbackIcon); }))
        applications_[ApplicationKeyOf(app->ProgramKey, app->ClassAtom)] = std::move(app);
}

std::vector<std::unique_ptr<CaptureRecord>> ItemArchive::RecordsOfItems(
    Catalog& catalog, const std::vector<std::unique_ptr<ClipItem>>& items, std::set<std::string>& held) {
    std::vector<GUID> guids;
    double from = 0, to = 0;
    for (const auto& item : items) {
        if (!item) continue;
        guids.push_back(item->SourceGuid());
        from = guids.size() == 1 ? item->CaptureTime() : std::min(from, item->CaptureTime());
        to = guids.size() == 1 ? item->CaptureTime() : std::max(to, item->CaptureTime());
    }
    // An item has its capture's time; a minute either side spares every
    // rounding of the files' formats a look-up of its own.
    constexpr double kMinute = 1.0 / (24 * 60);
    auto entries = catalog.RecordsOf(guids, from - kMinute, to + kMinute);
    const std::string appData = AppDataFolder();
    std::vector<std::unique_ptr<CaptureRecord>> records(entries.size());
    // Each entry counts only while its file is listed as the entry says; one
    // whose file changed is read from it, one whose file went is left out.
    ParallelFor(entries.size(), WorkerThreads(), [&](size_t i) {
        auto& [file, record] = entries[i];
        const std::string path = appData + file.name;
        // What a listing shows of the file, asked of the file alone.
        WIN32_FILE_ATTRIBUTE_DATA found;
        if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &found) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return;
        const ListedFile listed{file.name, (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
                                (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                    found.ftLastWriteTime.dwLowDateTime};
        if (listed == file) {
            record->FilePath = path;
            records[i] = std::move(record);
        } else {
            records[i] = LoadCaptureRecord(path);
        }
    });
    for (size_t i = 0; i < entries.size(); ++i)
        if (records[i]) held.insert(entries[i].first.name);
    return records;
}

void ItemArchive::OnCatalogProgress() {
    // Records are taken over a slice at a time, the rest at the window's next
    // turn: a hundred thousand at once would hold the window up for a second.
    bool complete = true, more = false;
    std::vector<std::unique_ptr<CaptureRecord>> records = builder_.TakeRecords(kRecordsPerStep, complete, more);
    const bool tookRecords = !records.empty();
    if (tookRecords || (recordsPending_ && complete)) AdoptRecords(std::move(records), complete);
    // Items of the days the load left to the builder join as they come,
    // their data in their files as for any load.
    bool itemsComplete = true, moreItems = false;
    auto arrived = builder_.TakeItems(tookRecords ? 0 : kItemsPerStep, itemsComplete, moreItems);
    if (!arrived.empty()) AdoptItems(std::move(arrived));
    if (itemsPending_ && itemsComplete) {
        itemsPending_ = false;
        pendingDates_.clear();
        deletedBeforeHandOver_.clear();
        if (!filterCatalog_) ReleaseLoadedByPath();
        // The limit counts every capture, and each with its items.
        if (!recordsPending_) Trim();
    }
    if ((more || moreItems) && catalogWindow_)
        ::PostMessageA(catalogWindow_, catalogMessage_, static_cast<WPARAM>(builder_.Percent()), 0);
    for (const std::string& path : builder_.TakeCataloged()) {
        auto found = uncataloged_.find(path);
        if (found == uncataloged_.end()) continue;
        cataloged_[found->second.first] = found->second.second;
        uncataloged_.erase(found);
    }
}

void ItemArchive::AdoptRecords(std::vector<std::unique_ptr<CaptureRecord>> records, bool complete) {
    std::set<GUID, GuidLess> added;
    for (auto& record : records) {
        if (!record) continue;
        const GUID key = record->CaptureGuid;
        if (captures_.count(key) || removedBeforeHandOver_.count(key)) continue;
        // Numbered among the loaded ones once all are here.
        record->Order = 0;
        added.insert(key);
        captures_.emplace(key, std::move(record));
    }
    // Items loaded before their record (the catalog lacked it) show now.
    if (!added.empty()) {
        std::vector<ClipItem*> shown;
        for (const auto& item : items_)
            if (added.count(item->SourceGuid())) shown.push_back(item.get());
        OnItemsLoaded(shown);
    }
    if (!complete || !recordsPending_) return;
    recordsPending_ = false;
    removedBeforeHandOver_.clear();
    // The records of the files keep the order of their times, before every
    // capture of this run (and every arrival), which keep theirs.
    std::vector<CaptureRecord*> archived, later;
    for (const auto& [key, record] : captures_)
        (record->Order == 0 || record->Order <= loadedOrder_ ? archived : later).push_back(record.get());
    std::stable_sort(archived.begin(), archived.end(),
                     [](const CaptureRecord* a, const CaptureRecord* b) { return a->CaptureTime < b->CaptureTime; });
    std::sort(later.begin(), later.end(), [](const CaptureRecord* a, const CaptureRecord* b) { return a->Order < b->Order; });
    lastOrder_ = 0;
    for (CaptureRecord* record : archived) record->Order = ++lastOrder_;
    loadedOrder_ = lastOrder_;
    for (CaptureRecord* record : later) record->Order = ++lastOrder_;
    // The limit counts every capture: held off until now.
    if (!itemsPending_) Trim();
}

void ItemArchive::AdoptItems(std::vector<CatalogBuilder::HandedItem> handed) {
    std::vector<ClipItem*> added;
    for (auto& [item, known] : handed) {
        // The watch, or a filter's choice, may have brought it already; the
        // user may have deleted it from the filter's tree.
        if (!item || LoadedItemAt(item->RecordPath()) || deletedBeforeHandOver_.count(item->RecordPath())) continue;
        item->SetStore(&writer_);
        item->LeaveDataOnDisk();
        if (known)
            cataloged_[item.get()] = item->DataVersion();
        else
            uncataloged_[item->RecordPath()] = {item.get(), item->DataVersion()};
        added.push_back(item.get());
        items_.push_back(std::move(item));
    }
    NoteItemsAdded(added);
    OnItemsLoaded(added);
}

bool ItemArchive::IndexLoadedPath(ClipItem* item) {
    // Made when asked (see ClipItem::RecordPath): the name is kept apart.
    const std::string path = item->RecordPath();
    if (path.size() <= options_.folder.size() || path.compare(0, options_.folder.size(), options_.folder) != 0)
        return false;
    return loadedByPath_.emplace(path.substr(options_.folder.size()), item).second;
}

const std::unordered_map<std::string, ClipItem*>& ItemArchive::LoadedByPath() {
    if (loadedByPathAt_ != itemsChanged_) {
        loadedByPath_.clear();
        for (const auto& item : items_) IndexLoadedPath(item.get());
        loadedByPathAt_ = itemsChanged_;
    }
    return loadedByPath_;
}

void ItemArchive::ReleaseLoadedByPath() {
    std::unordered_map<std::string, ClipItem*>().swap(loadedByPath_);
    loadedByPathAt_ = ~0ull;
}

ClipItem* ItemArchive::LoadedItemAt(const std::string& path) {
    if (path.size() <= options_.folder.size() || path.compare(0, options_.folder.size(), options_.folder) != 0)
        return nullptr;
    const auto& byPath = LoadedByPath();
    auto found = byPath.find(path.substr(options_.folder.size()));
    return found == byPath.end() ? nullptr : found->second;
}

void ItemArchive::NoteItemsAdded(const std::vector<ClipItem*>& added) {
    const bool current = loadedByPathAt_ == itemsChanged_;
    NoteItemsChanged();
    if (!current) return;
    // Kept in step rather than made anew: a hand-over adds thousands a turn.
    for (ClipItem* item : added) IndexLoadedPath(item);
    loadedByPathAt_ = itemsChanged_;
}

void ItemArchive::WaitForCatalog() {
    builder_.Wait();
    do {
        OnCatalogProgress();
    } while (recordsPending_ || itemsPending_);
}

std::unique_ptr<ClipItem> ItemArchive::ReadItem(std::string path) { return LoadItemFile(std::move(path), writer_); }

std::unique_ptr<CaptureRecord> ItemArchive::ReadCaptureRecord(std::string path) {
    return LoadCaptureRecord(std::move(path));
}

std::vector<ClipItem*> ItemArchive::AddArrivals(std::vector<std::unique_ptr<CaptureRecord>> records,
                                                std::vector<std::unique_ptr<ClipItem>> items) {
    // Arrivals of one batch keep the order of their times among themselves; all
    // come after what is loaded, as a capture of this run would.
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a && b ? a->CaptureTime < b->CaptureTime : a != nullptr;
    });
    std::set<GUID, GuidLess> newCaptures;
    for (auto& record : records) {
        if (!record) continue;
        const GUID key = record->CaptureGuid;
        if (captures_.count(key)) continue;
        record->Order = ++lastOrder_;
        captures_[key] = std::move(record);
        newCaptures.insert(key);
    }
    // Files travel in any order: items that came before their record are
    // shown now that it is here.
    std::vector<ClipItem*> added;
    if (!newCaptures.empty())
        for (const auto& item : items_)
            if (newCaptures.count(item->SourceGuid())) added.push_back(item.get());
    for (auto& item : items) {
        if (!item || LoadedItemAt(item->RecordPath())) continue;
        item->SetStore(&writer_);
        added.push_back(item.get());
        items_.push_back(std::move(item));
        NoteItemsAdded({added.back()});
    }
    if (!filterCatalog_ && !itemsPending_) ReleaseLoadedByPath();
    for (ClipItem* item : added) OnItemAdded(item);
    return added;
}

bool ItemArchive::LoadsDateFolder(const std::string& name) const {
    return options_.loadWholeArchive || _stricmp(name.c_str(), loadedDay_.c_str()) == 0 ||
           _stricmp(name.c_str(), DateFolderName(CurrentCaptureTime()).c_str()) == 0;
}

FolderChanges ItemArchive::ReadFolderChanges(const std::set<std::string>& changed, bool rescan) {
    FolderChanges changes;
    if (options_.folder.empty()) return changes;
    const std::string appData = AppDataFolder();
    std::set<std::string> paths;
    auto addFilesOf = [&](const std::string& folder) {
        ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
            if (!IsFolder(entry)) paths.insert(folder + entry.cFileName);
        });
    };
    // Whether a folder's files are the archive's: AppData, or a date folder loaded.
    auto isReadFolder = [&](const std::string& folder) {
        if (_stricmp(folder.c_str(), appData.c_str()) == 0) return true;
        if (folder.size() <= options_.folder.size() || folder.compare(0, options_.folder.size(), options_.folder) != 0)
            return false;
        const std::string name = folder.substr(options_.folder.size(), folder.size() - options_.folder.size() - 1);
        return name.find('\\') == std::string::npos && _stricmp(name.c_str(), "AppData") != 0 && LoadsDateFolder(name);
    };
    for (const std::string& path : changed) {
        const size_t slash = path.rfind('\\');
        const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
        if (IsTemporaryRecordFile(name) || IsSyncEngineTemporaryFile(name)) continue;
        // A folder that appeared (a new day, or one moved in) brings its files.
        const bool topLevel = slash + 1 == options_.folder.size() && path.compare(0, slash + 1, options_.folder) == 0;
        const DWORD attributes = topLevel ? ::GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (isReadFolder(path + "\\")) addFilesOf(path + "\\");
        } else {
            paths.insert(path);
        }
    }
    if (rescan) {
        // A file of this run that is queued is not gone.
        writer_.Flush();
        addFilesOf(appData);
        ForEachEntry(options_.folder, [&](const WIN32_FIND_DATAA& entry) {
            const std::string folder = options_.folder + entry.cFileName + "\\";
            // A day the builder is still handing over comes that way (a file
            // it did not list is read as it is told, as here).
            if (itemsPending_ && pendingDates_.count(entry.cFileName)) return;
            if (IsFolder(entry) && isReadFolder(folder)) addFilesOf(folder);
        });
        for (const auto& item : items_)
            if (!item->RecordPath().empty()) paths.insert(item->RecordPath());
        for (const auto& [key, record] : captures_)
            if (!record->FilePath.empty()) paths.insert(record->FilePath.str());
    }
    // Made only when a path is not the program's own: most that the watch
    // reports are, and a whole archive may hold many items.
    std::unordered_map<std::string, ClipItem*> itemsByPath;
    std::unordered_map<std::string, const CaptureRecord*> recordsByPath;
    bool indexed = false;
    auto index = [&] {
        if (indexed) return;
        indexed = true;
        for (const auto& item : items_)
            if (!item->RecordPath().empty()) itemsByPath[item->RecordPath()] = item.get();
        for (const auto& [key, record] : captures_)
            if (!record->FilePath.empty()) recordsByPath[record->FilePath.str()] = record.get();
    };

    for (const std::string& path : paths) {
        const size_t slash = path.rfind('\\');
        if (slash == std::string::npos) continue;
        const std::string folder = path.substr(0, slash + 1);
        const char* name = path.c_str() + slash + 1;
        if (IsTemporaryRecordFile(name) || IsSyncEngineTemporaryFile(name) || !isReadFolder(folder)) continue;
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            deletedHere_.erase(path);
            index();
            if (auto item = itemsByPath.find(path); item != itemsByPath.end())
                changes.departedItems.push_back(item->second);
            else if (auto record = recordsByPath.find(path); record != recordsByPath.end())
                changes.departedRecords.push_back(record->second->CaptureGuid);
            continue;
        }
        // The program's own files: its watch reports them as well.
        if (attributes & FILE_ATTRIBUTE_DIRECTORY || deletedHere_.count(path) || writer_.QueuedHere(path)) continue;
        index();
        if (itemsByPath.count(path) || recordsByPath.count(path)) continue;
        const bool inAppData = _stricmp(folder.c_str(), appData.c_str()) == 0;
        if (inAppData && HasExtension(name, ".app")) {
            auto app = std::make_unique<SourceApp>();
            if (LoadSafely([&] { return app->ReadAppFile(path, options_.fallbackIcon); }))
                changes.applications.push_back(std::move(app));
        } else if (inAppData && HasExtension(name, ".se")) {
            if (auto record = LoadCaptureRecord(path)) changes.records.push_back(std::move(record));
        } else if (!inAppData && ItemTypeOfExtension(path) != 0) {
            // A sync engine's conflict copy keeps the extension: an item of its own.
            if (auto item = ReadItem(path)) changes.items.push_back(std::move(item));
        }
    }
    return changes;
}

std::vector<ApplicationKey> ItemArchive::AddApplications(std::vector<std::unique_ptr<SourceApp>> applications) {
    std::vector<ApplicationKey> added;
    for (auto& app : applications) {
        if (!app) continue;
        // The one known here stays: the tree may show its icon already.
        const ApplicationKey key = ApplicationKeyOf(app->ProgramKey, app->ClassAtom);
        if (applications_.count(key)) continue;
        applications_[key] = std::move(app);
        added.push_back(key);
    }
    return added;
}

std::unique_ptr<ClipItem> ItemArchive::ForgetItem(ClipItem* item) {
    auto found = std::find_if(items_.begin(), items_.end(), [item](const auto& owned) { return owned.get() == item; });
    if (found == items_.end()) return nullptr;
    cataloged_.erase(item);
    uncataloged_.erase(item->RecordPath());
    std::unique_ptr<ClipItem> forgotten = std::move(*found);
    items_.erase(found);
    NoteItemsChanged();
    ++itemsRemoved_;
    return forgotten;
}

std::unique_ptr<CaptureRecord> ItemArchive::ForgetCapture(GUID captureGuid) {
    auto found = captures_.find(captureGuid);
    if (found == captures_.end()) return nullptr;
    std::unique_ptr<CaptureRecord> forgotten = std::move(found->second);
    captures_.erase(found);
    return forgotten;
}

void ItemArchive::StoreAnew(ClipItem& item) {
    cataloged_.erase(&item);
    const std::string path = NewItemPath(item, options_.folder);
    if (!path.empty()) writer_.QueueItem(item, path);
    // Without its record the item would not be loaded again.
    CaptureRecord* capture = FindCapture(item);
    if (capture && (capture->FilePath.empty() || ::GetFileAttributesA(capture->FilePath.str().c_str()) == INVALID_FILE_ATTRIBUTES))
        writer_.QueueRecord(*capture, MakeUniqueFileName(AppDataFolder(), nullptr, ".se"));
}

void ItemArchive::EraseAll() {
    // An open connection would keep the catalog from being deleted.
    EndFilterSearch();
    builder_.Stop();
    writer_.Flush();
    for (const auto& item : items_)
        if (!item->RecordPath().empty()) ::DeleteFileA(item->RecordPath().c_str());
    // The items of the days the builder had still to hand over are loaded
    // items too.
    if (itemsPending_) {
        for (const std::string& date : pendingDates_) {
            const std::string folder = options_.folder + date + "\\";
            ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
                if (!IsFolder(entry) && ItemTypeOfExtension(entry.cFileName) != 0)
                    ::DeleteFileA((folder + entry.cFileName).c_str());
            });
        }
    }
    DeleteFolderTree(AppDataFolder());
    // Erased means erased: the catalog keeps small items whole.
    if (!options_.catalogPath.empty()) Catalog::Delete(options_.catalogPath);
    Clear();
}

std::optional<std::unordered_set<const ClipItem*>> ItemArchive::ItemsThatMayContain(std::wstring_view text) const {
    Catalog catalog;
    // A catalog made empty since the load knows nothing: every item may.
    if (options_.catalogPath.empty() || !catalog.Open(options_.catalogPath) || catalog.WasMadeAnew())
        return std::nullopt;
    std::unordered_set<const ClipItem*> candidates;
    for (ClipItem* item : Matching(catalog, text)) candidates.insert(item);
    if (catalog.Damaged()) return std::nullopt;
    for (const auto& item : items_) {
        auto found = cataloged_.find(item.get());
        // The catalog knows an HTML item by its shown text; the tree's Find
        // looks at its markup too.
        if (found == cataloged_.end() || found->second != item->DataVersion() || item->TypeCode() == kHtmlItemType)
            candidates.insert(item.get());
    }
    return candidates;
}

std::vector<ClipItem*> ItemArchive::MatchingItems(std::wstring_view text) const {
    Catalog catalog;
    if (options_.catalogPath.empty() || !catalog.Open(options_.catalogPath)) return {};
    return Matching(catalog, text);
}

std::vector<ClipItem*> ItemArchive::Matching(Catalog& catalog, std::wstring_view text) const {
    std::vector<ClipItem*> matching;
    std::unordered_map<std::string, ClipItem*> byPath;
    for (const auto& item : items_)
        if (!item->RecordPath().empty()) byPath[item->RecordPath()] = item.get();
    for (const std::string& relative : catalog.MatchingItems(text)) {
        auto found = byPath.find(options_.folder + relative);
        if (found != byPath.end()) matching.push_back(found->second);
    }
    return matching;
}

SourceApp* ItemArchive::FindOrAddSourceApp(HWND sourceWindow, const std::string& program) {
    // A known program is found by its key alone: its window is not asked for an
    // icon, which a busy program would keep the capture waiting for. Its process
    // and class name are asked of the system, not of the program.
    const WORD atom = sourceWindow ? LOWORD(::GetClassLongA(sourceWindow, GCW_ATOM)) : 0;
    if (sourceWindow && !atom) return nullptr;
    if (!program.empty()) {
        // One of an earlier build's file, of the atom the window has now, learns
        // the program for this run (its captures can be excluded), though it may
        // have been another program's: atoms are handed out anew in each session.
        auto byAtom = applications_.find(ApplicationKeyOf(std::string(), atom));
        if (byAtom != applications_.end() && byAtom->second->ProgramKey.empty()) byAtom->second->ProgramKey = program;
    }
    const ApplicationKey key = ApplicationKeyOf(program, atom);
    auto found = applications_.find(key);
    if (found != applications_.end()) return found->second.get();
    auto app = std::make_unique<SourceApp>();
    if (!sourceWindow)
        app->InitUnknown();
    else if (!app->InitFromWindow(sourceWindow))
        return nullptr;
    // The program the window was found under, whatever became of it meanwhile.
    app->ProgramKey = program;

    SourceApp* added = app.get();
    applications_[key] = std::move(app);
    const std::string folder = AppDataFolder();
    CreateFolderPath(folder);
    added->WriteAppFile(MakeUniqueFileName(folder, nullptr, ".app"));
    return added;
}

CaptureRecord* ItemArchive::AddCaptureRecord(HWND sourceWindow, double captureTime) {
    auto record = std::make_unique<CaptureRecord>();
    ::CoCreateGuid(&record->CaptureGuid);
    record->CaptureTime = captureTime;
    // Without a window the record keeps "Unknown Application" and class atom 0.
    if (sourceWindow) {
        if (!::IsWindow(sourceWindow)) return nullptr;
        record->ClassAtom = ::GetClassLongA(sourceWindow, GCW_ATOM);
        char title[kMaxTitleChars + 1] = {};
        ::GetWindowTextA(sourceWindow, title, sizeof(title));
        record->Title = title[0] ? title : kUnknownApplication;
        record->ProgramKey = ProgramKeyOf(sourceWindow);
    }
    // After the record has what it names: the application may ask the window
    // for its icon, and the window may close meanwhile.
    FindOrAddSourceApp(sourceWindow, record->ProgramKey);

    CaptureRecord* added = record.get();
    added->Order = ++lastOrder_;
    captures_[added->CaptureGuid] = std::move(record);
    // A record that cannot be written still counts for this run.
    writer_.QueueRecord(*added, MakeUniqueFileName(AppDataFolder(), nullptr, ".se"));
    return added;
}

const SourceApp* ItemArchive::ApplicationOf(const CaptureRecord& capture) const {
    auto found = applications_.find(ApplicationKeyOf(capture));
    return found == applications_.end() ? nullptr : found->second.get();
}

CaptureRecord* ItemArchive::FindCapture(const ClipItem& item) const {
    auto found = captures_.find(item.SourceGuid());
    return found == captures_.end() ? nullptr : found->second.get();
}

const CaptureRecord* ItemArchive::TrimCutoff() const {
    const int limit = options_.itemsLimit;
    // Which captures came first is known once every record is.
    if (recordsPending_ || itemsPending_) return nullptr;
    if (limit <= 0 || captures_.size() <= static_cast<size_t>(limit)) return nullptr;
    // The captures that came first go, not those of the earliest times: a clock
    // set back would make every new capture the earliest.
    std::vector<const CaptureRecord*> order;
    order.reserve(captures_.size());
    for (const auto& [key, record] : captures_) order.push_back(record.get());
    auto cutoff = order.begin() + static_cast<ptrdiff_t>(captures_.size() - static_cast<size_t>(limit) - 1);
    std::nth_element(order.begin(), cutoff, order.end(), [](auto a, auto b) { return a->Order < b->Order; });
    return *cutoff;
}

unsigned long long FolderSize(const std::string& folder) {
    unsigned long long total = 0;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        // A link may lead out of the archive, or back into it without end.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
        if (IsFolder(entry))
            total += FolderSize(folder + entry.cFileName + "\\");
        else if (!IsTemporaryRecordFile(entry.cFileName) && !IsSyncEngineTemporaryFile(entry.cFileName))
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
    writer_.ReleaseWrittenData();
    if (writer_.TakeWritesFailingNotice() && writesFailingHook_) writesFailingHook_();
}
