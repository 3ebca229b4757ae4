#include "archive/ItemArchive.h"

#include <algorithm>
#include <cstring>

#include "archive/ItemFile.h"
#include "archive/ItemIndex.h"
#include "archive/ProgramKey.h"
#include "archive/RecordIndex.h"
#include "base/CaptureTime.h"
#include "base/Limits.h"
#include "base/ParallelFor.h"
#include "base/Paths.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"

namespace {

constexpr char kAppDataFolder[] = "AppData\\";
// The index of a date folder's items is AppData + the folder's name + this.
constexpr char kItemIndexExtension[] = ".items.idx";

std::string ItemIndexName(const char* dateFolder) { return std::string(dateFolder) + kItemIndexExtension; }

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
    if (const std::string& path = item->RecordPath(); !path.empty()) {
        // Its date folder's index may hold the item whole.
        const std::string dateFolder = ParentFolderName(path);
        writer_.QueueDelete(path, dateFolder.empty() ? std::string() : AppDataFolder() + ItemIndexName(dateFolder.c_str()));
    }
    std::unique_ptr<ClipItem> removed = std::move(*found);
    items_.erase(found);
    return removed;
}

std::unique_ptr<CaptureRecord> ItemArchive::RemoveCapture(GUID captureGuid) {
    auto found = captures_.find(GuidText(captureGuid));
    if (found == captures_.end()) return nullptr;
    if (!found->second->FilePath.empty())
        writer_.QueueDelete(found->second->FilePath, RecordIndex::PathIn(AppDataFolder()));
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
    // Records and items come from the indexes where they have them as their
    // files are; the rest is read from the files.
    RecordIndex recordIndex(appData);
    recordIndex.Read();
    std::vector<ListedFile> recordFiles;
    std::vector<std::unique_ptr<CaptureRecord>> records;
    std::vector<std::string> itemIndexes;
    ForEachEntry(appData, [&](const WIN32_FIND_DATAA& entry) {
        if (IsFolder(entry)) return;
        if (HasExtension(entry.cFileName, ".app")) {
            const std::string path = appData + entry.cFileName;
            auto app = std::make_unique<SourceApp>();
            // The walk's later file of one program (or, without one, of one class
            // atom) is the one kept.
            if (LoadSafely([&] { return app->ReadAppFile(path, options_.fallbackIcon); }))
                applications_[ApplicationKeyOf(app->ProgramKey, app->ClassAtom)] = std::move(app);
        } else if (HasExtension(entry.cFileName, ".se")) {
            recordFiles.push_back(ListedFile::Of(entry));
            records.push_back(recordIndex.Take(recordFiles.back()));
        } else if (HasExtension(entry.cFileName, kItemIndexExtension)) {
            itemIndexes.push_back(entry.cFileName);
        }
    });

    // The item files of each date folder loaded, in the walk's order.
    struct DateFolder {
        std::string folder;
        std::string index;
        size_t first = 0, count = 0;
        bool indexCurrent = false;
    };
    std::vector<DateFolder> dateFolders;
    std::vector<ListedFile> itemFiles;
    std::vector<size_t> itemFolders;  // each file's entry in dateFolders
    std::vector<std::unique_ptr<ClipItem>> loaded;
    const std::string today = DateFolderName(CurrentCaptureTime());
    ForEachEntry(options_.folder, [&](const WIN32_FIND_DATAA& entry) {
        if (!IsFolder(entry) || _stricmp(entry.cFileName, "AppData") == 0) return;
        const std::string folder = options_.folder + entry.cFileName + "\\";
        if (!options_.loadWholeArchive && _stricmp(entry.cFileName, today.c_str()) != 0) {
            RemoveTemporaryRecordFiles(folder);
            return;
        }
        DateFolder date{folder, appData + ItemIndexName(entry.cFileName), itemFiles.size(), 0, false};
        ItemIndex index(date.index, folder);
        index.Read();
        ForEachEntry(folder, [&](const WIN32_FIND_DATAA& file) {
            if (IsFolder(file)) return;
            if (IsTemporaryRecordFile(file.cFileName)) {
                ::DeleteFileA((folder + file.cFileName).c_str());
                return;
            }
            itemFiles.push_back(ListedFile::Of(file));
            itemFolders.push_back(dateFolders.size());
            loaded.push_back(index.Take(itemFiles.back(), writer_));
        });
        date.count = itemFiles.size() - date.first;
        date.indexCurrent = index.IsCurrent(date.count);
        dateFolders.push_back(std::move(date));
    });
    // The index of a date folder that is gone is of no use.
    for (const std::string& name : itemIndexes) {
        const std::string folder = options_.folder + name.substr(0, name.size() - std::strlen(kItemIndexExtension));
        if (::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) ::DeleteFileA((appData + name).c_str());
    }

    // Under Wine most of a file's time is spent waiting on the wine server to
    // open and close it, so several files are read at once; each lands in its
    // own slot, and the archive takes them in the walk's order.
    std::vector<size_t> unreadRecords, unreadItems;
    for (size_t i = 0; i < records.size(); ++i)
        if (!records[i]) unreadRecords.push_back(i);
    for (size_t i = 0; i < loaded.size(); ++i)
        if (!loaded[i]) unreadItems.push_back(i);
    ParallelFor(unreadRecords.size() + unreadItems.size(), WorkerThreads(), [&](size_t i) {
        if (i < unreadRecords.size()) {
            records[unreadRecords[i]] = LoadCaptureRecord(appData + recordFiles[unreadRecords[i]].name);
        } else {
            const size_t slot = unreadItems[i - unreadRecords.size()];
            loaded[slot] = LoadItemFile(dateFolders[itemFolders[slot]].folder + itemFiles[slot].name, writer_);
        }
    });

    // Indexes that cannot be written only cost the next start its time.
    if (!recordIndex.IsCurrent(records.size())) {
        std::vector<std::pair<ListedFile, const CaptureRecord*>> indexed;
        for (size_t i = 0; i < records.size(); ++i)
            if (records[i]) indexed.emplace_back(std::move(recordFiles[i]), records[i].get());
        recordIndex.Write(indexed);
    }
    for (const DateFolder& date : dateFolders) {
        if (date.indexCurrent) continue;
        CreateFolderPath(appData);
        std::vector<std::pair<ListedFile, const ClipItem*>> indexed;
        for (size_t i = date.first; i < date.first + date.count; ++i)
            if (loaded[i]) indexed.emplace_back(itemFiles[i], loaded[i].get());
        ItemIndex(date.index, date.folder).Write(indexed);
    }
    // Times are all a loaded record tells of its order; a capture of this run
    // comes after all of them, whatever the clock says then.
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a && b ? a->CaptureTime < b->CaptureTime : a != nullptr;
    });
    lastOrder_ = 0;
    for (auto& record : records) {
        if (!record) continue;
        record->Order = ++lastOrder_;
        captures_[GuidText(record->CaptureGuid)] = std::move(record);
    }
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
    captures_[GuidText(added->CaptureGuid)] = std::move(record);
    // A record that cannot be written still counts for this run.
    writer_.QueueRecord(*added, MakeUniqueFileName(AppDataFolder(), nullptr, ".se"));
    return added;
}

const SourceApp* ItemArchive::ApplicationOf(const CaptureRecord& capture) const {
    auto found = applications_.find(ApplicationKeyOf(capture));
    return found == applications_.end() ? nullptr : found->second.get();
}

CaptureRecord* ItemArchive::FindCapture(const ClipItem& item) const {
    auto found = captures_.find(GuidText(item.SourceGuid()));
    return found == captures_.end() ? nullptr : found->second.get();
}

const CaptureRecord* ItemArchive::TrimCutoff() const {
    const int limit = options_.itemsLimit;
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
    writer_.ReleaseWrittenData();
    if (writer_.TakeWritesFailingNotice() && writesFailingHook_) writesFailingHook_();
}
