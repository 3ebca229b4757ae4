// The in-memory archive: the items, the applications by program and the
// capture records by capture GUID, with the files behind them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/Catalog.h"
#include "archive/CatalogBuilder.h"
#include "archive/ItemWriter.h"
#include "archive/OwnerPoll.h"
#include "archive/SourceApp.h"
#include "base/CaptureTime.h"
#include "items/ClipItem.h"

class Catalog;
class ExcludeList;

// The capture records by capture GUID, in the order of the GUIDs' texts.
using CaptureMap = std::map<GUID, std::unique_ptr<CaptureRecord>, GuidLess>;

// What an application is found by: its program key, or, for one known by no
// program (files of earlier builds, "Unknown Application"), its class atom.
// Atoms are handed out anew after a restart, so an application known by its
// program is never found by its atom.
using ApplicationKey = std::pair<std::string, WORD>;
ApplicationKey ApplicationKeyOf(const std::string& programKey, DWORD classAtom);
inline ApplicationKey ApplicationKeyOf(const CaptureRecord& record) {
    return ApplicationKeyOf(record.ProgramKey, record.ClassAtom);
}

enum class CaptureMode {
    // Every change is archived, whatever it holds.
    kEveryChange,
    // For a change that may be one already archived (its notice came while a
    // capture ran): nothing is archived when the clipboard holds exactly what
    // the last capture took.
    kUnlessAlreadyCaptured,
};

// Which clipboard formats a capture keeps.
struct CaptureFormats {
    bool texts = true;
    bool images = true;
    bool rtf = true;
    bool html = true;
    bool metafiles = true;
};

// Everything the archive is told by its owner: it reads no settings of its own.
struct ArchiveOptions {
    std::string folder;  // ends with "\"
    // The catalog file that speeds loads up (see Catalog.h), outside the
    // folder; empty for none: every load then reads every file.
    std::string catalogPath;
    bool loadWholeArchive = false;
    // With the whole archive: the earlier days the catalog knows nothing of
    // (a first start) are read on the catalog builder's thread and join the
    // archive as they come (newest day first, see LoadPending), so the window
    // need not wait for every file of the archive. Without it they are read
    // by the load, in the folder walk's order.
    bool readUnknownDaysLater = false;
    CaptureFormats formats;
    // Megabytes past which the owner is told; 0 or less: never.
    int diskSizeLimit = 0;
    // Captures kept; 0 or less: no limit.
    int itemsLimit = 0;
    // With a catalog, an archive of this many captures or more leaves the
    // records of the days not loaded (with the whole archive: the other days,
    // their items too) to the catalog's builder, which hands them over (see
    // LoadPending): listing AppData alone would take longer than a start may.
    size_t recordsLaterFrom = 5000;
    // Shown for applications whose file keeps no icon; borrowed.
    HICON fallbackIcon = nullptr;
};

// What the archive folder holds now where another program changed it: files
// that are new to the archive, read, and loaded ones whose files are gone.
struct FolderChanges {
    std::vector<std::unique_ptr<SourceApp>> applications;
    std::vector<std::unique_ptr<CaptureRecord>> records;
    std::vector<std::unique_ptr<ClipItem>> items;
    std::vector<ClipItem*> departedItems;
    std::vector<GUID> departedRecords;
    bool Empty() const {
        return applications.empty() && records.empty() && items.empty() && departedItems.empty() &&
               departedRecords.empty();
    }
};

class ItemArchive {
public:
    ItemArchive();
    virtual ~ItemArchive();
    ItemArchive(const ItemArchive&) = delete;
    ItemArchive& operator=(const ItemArchive&) = delete;

    // Destroys every item, application and capture record, once every pending
    // write has ended; no file is touched.
    virtual void Clear();
    // Archives the current clipboard, attributed to the source window, or to
    // "Unknown Application" when there is none. True when an item was added: the
    // owner then runs CheckDiskSize and Trim once the notification is handled.
    virtual bool Capture(HWND sourceWindow, CaptureMode mode = CaptureMode::kEveryChange);
    // A new item joined the archive (the tree shows it).
    virtual void OnItemAdded(ClipItem* item);
    // Items of the archive's files joined after the load (handed over by the
    // builder), or could be shown only now that their record is here; not
    // new captures.
    virtual void OnItemsLoaded(const std::vector<ClipItem*>& items);
    // Unlinks the item, handing the object to the caller (null when the item is
    // not in the archive), and queues the deletion of its file and its catalog
    // entry after every write queued before.
    virtual std::unique_ptr<ClipItem> RemoveItem(ClipItem* item);
    // The same for a capture record's ".se" file and its catalog entry.
    virtual std::unique_ptr<CaptureRecord> RemoveCapture(GUID captureGuid);
    // Tells the owner (the size-limit hook) when the folder has grown past the
    // limit, and (the writes-failing hook, once) when captures could not be
    // written past what memory keeps of them.
    virtual void CheckDiskSize();
    // Removes what falls outside the captures limit (the tree decides how).
    virtual void Trim();

    // Takes the options and replaces everything in memory with what their folder
    // holds; always succeeds. Temporary files that an interrupted run left are
    // removed. Large item data is checked but left in the files until used.
    // What the catalog lacks (a first start: all of it) is cataloged
    // afterwards on a thread of its own, the whole archive, newest day first.
    bool LoadArchive(const ArchiveOptions& options);
    // The window posted `message` (with the percentage in wParam) as the
    // catalog grows and once it is complete; its handler calls OnCatalogProgress.
    void SetCatalogNotice(HWND window, UINT message) {
        catalogWindow_ = window;
        catalogMessage_ = message;
    }
    // Takes the loaded items that the catalog has come to hold, and the
    // capture records the builder handed over.
    void OnCatalogProgress();
    // Whether capture records or items are still to come from the builder: a
    // load of a large archive with a catalog takes only today's items and
    // their records, and the rest follow (items only when the whole archive
    // is loaded). Until they are all here the captures limit waits.
    bool LoadPending() const { return recordsPending_ || itemsPending_; }
    // How far the catalog is along, 0 to 99; 100 when it is complete (or
    // there is none).
    int CatalogPercent() const { return builder_.Percent(); }
    // Returns once the catalog is complete (a test's, or a tool's, wait).
    void WaitForCatalog();
    // Returns once every captured record and item is in its file, and every
    // removed one's file is gone.
    void FlushWrites() { writer_.Flush(); }
    // The window posted `message` when the writer has finished jobs; its handler
    // calls OnWritesDone.
    void SetWriterNotice(HWND window, UINT message) { writer_.SetNotifyWindow(window, message); }
    // Items whose files are written let their large data go.
    void OnWritesDone() { writer_.ReleaseWrittenData(); }
    // Called by CheckDiskSize, once a run, when captures could not be written
    // (a full disk) and memory no longer keeps them.
    void SetWritesFailingHook(std::function<void()> hook) { writesFailingHook_ = std::move(hook); }
    // Told on the writer's thread of each file that has become whole.
    void SetStoredHook(std::function<void(const std::string&)> hook) { writer_.SetStoredHook(std::move(hook)); }
    // Called by CheckDiskSize when the folder is over the limit.
    void SetSizeLimitHook(std::function<void()> hook) { sizeLimitHook_ = std::move(hook); }
    const ArchiveOptions& Options() const { return options_; }
    // Changes of the programs on the list are not captured; borrowed, may be null.
    void SetExcludeList(const ExcludeList* list) { excluded_ = list; }
    // The loaded items whose text contains the query in any case, by the
    // catalog (items it does not hold are not among them). Empty without one.
    std::vector<ClipItem*> MatchingItems(std::wstring_view text) const;
    // The loaded items that may contain the text: those the catalog finds it in,
    // and those it does not know as they are now (new or changed since the
    // load). Nothing without a catalog: every item may.
    std::optional<std::unordered_set<const ClipItem*>> ItemsThatMayContain(std::wstring_view text) const;
    // What a filter over the whole archive finds (ItemArchiveFilter.cpp): the
    // items whose text contains the query in any case, newest first; loaded
    // ones, and the catalog's entries of those in days not loaded (ItemOf makes
    // the item of one when it is to be shown).
    struct FilterMatch {
        ClipItem* loaded = nullptr;
        CatalogMatch entry;  // when not loaded
    };
    // The same in steps, the newest first, so the newest matches show before
    // the rest are found: StartFilter begins a search, NextFilterMatches adds
    // the next matches for about `budgetMs` or until it has added `enough`
    // (false once the whole archive is searched). The loaded items the catalog
    // does not know as they are come first, looked at in memory (the first
    // start's, read from their files, take a fraction of a millisecond each),
    // then the catalog's entries. One connection to the catalog serves every
    // keystroke of a filter, until EndFilterSearch, Clear or EraseAll.
    struct FilterSearch {
        std::wstring text;
        CatalogCursor cursor;
        int steps = 0;
        // The date folders the archive folder lists: an entry of another is stale.
        std::unordered_set<std::string> days;
        // The loaded items the search decides in memory (sorted): the catalog
        // may know them later in the search, and they count once.
        std::vector<const ClipItem*> lookedAt;
        // Those still to look at, the newest last, as the archive held them
        // when it last let one go (itemsRemoved_ then).
        std::vector<ClipItem*> toLook;
        uint64_t toLookAt = 0;
        // A capture the filter tested as it came.
        void NoteLookedAt(const ClipItem* item) {
            lookedAt.insert(std::lower_bound(lookedAt.begin(), lookedAt.end(), item), item);
        }
    };
    void StartFilter(std::wstring_view text, FilterSearch& search);
    bool NextFilterMatches(FilterSearch& search, std::vector<FilterMatch>& matches, double budgetMs,
                           size_t enough = SIZE_MAX);
    void EndFilterSearch();
    // The item of a catalog entry, outside the archive, with its data left in
    // its file until used.
    std::unique_ptr<ClipItem> ItemOf(const CatalogMatch& entry);
    std::string PathOf(const CatalogMatch& entry) const;
    // Whether the item's text holds the text, folded by FoldCase: how a filter
    // tests what the catalog does not know yet.
    static bool ItemContainsFolded(ClipItem& item, std::wstring_view folded);
    // Adds capture records and items that come from files rather than from a
    // capture of this run (written by another machine into a shared folder,
    // read by a load that goes on after the window is up). With live captures
    // this is the one way into the archive and the tree: each item added is
    // told to OnItemAdded (the tree shows those whose record is loaded). A
    // record whose capture is loaded, or an item whose file is, is left out.
    // Returns the items added.
    std::vector<ClipItem*> AddArrivals(std::vector<std::unique_ptr<CaptureRecord>> records,
                                       std::vector<std::unique_ptr<ClipItem>> items);
    // Looks at the paths (files or folders of the archive folder) as they are
    // now; with `rescan`, at every file the archive would load and every one it
    // holds. Temporary files, files of date folders not loaded, and the
    // program's own files (written, or deleted and not gone yet) are left out.
    FolderChanges ReadFolderChanges(const std::set<std::string>& paths, bool rescan);
    // Adds the applications whose program (or atom) is not known yet; the
    // applications added.
    std::vector<ApplicationKey> AddApplications(std::vector<std::unique_ptr<SourceApp>> applications);
    // Unlink an item or a capture record whose file went elsewhere; the disk
    // is not touched. Null when not in the archive.
    std::unique_ptr<ClipItem> ForgetItem(ClipItem* item);
    std::unique_ptr<CaptureRecord> ForgetCapture(GUID captureGuid);
    // Writes the item, whose file was deleted elsewhere, under a new name (and
    // its capture record anew when that file went too): a new item of the
    // same capture.
    void StoreAnew(ClipItem& item);
    // Reads an item file or a capture record file that is not part of the
    // archive yet; null when it cannot be read (it is left as it is).
    std::unique_ptr<ClipItem> ReadItem(std::string path);
    static std::unique_ptr<CaptureRecord> ReadCaptureRecord(std::string path);
    // Deletes the loaded items' files, every capture and application file and
    // the catalog, then clears.
    void EraseAll();
    // A null window stands for "Unknown Application". The record has the time
    // its change was taken.
    CaptureRecord* AddCaptureRecord(HWND sourceWindow, double captureTime = CurrentCaptureTime());
    // `program` is the window's ProgramKeyOf, asked once for the record and this.
    SourceApp* FindOrAddSourceApp(HWND sourceWindow, const std::string& program);
    // The application the capture is attributed to; null when none is known.
    const SourceApp* ApplicationOf(const CaptureRecord& capture) const;
    CaptureRecord* FindCapture(const ClipItem& item) const;
    // The newest capture outside the limit: it and every capture of a lower
    // Order go. Null for none.
    const CaptureRecord* TrimCutoff() const;
    // Whether the archive folder holds more than the limit's megabytes.
    bool IsOverDiskSizeLimit() const;

    // How long the last capture held the clipboard open, in milliseconds.
    double LastClipboardHoldMs() const { return lastClipboardHoldMs_; }
    // The clipboard's sequence number when the last capture let go of it, if it
    // took data (or found the change marked private); 0 otherwise. Data that the
    // owner renders on request raises the number without being a new change.
    DWORD LastClipboardSequence() const { return lastClipboardSequence_; }

    const std::vector<std::unique_ptr<ClipItem>>& Items() const { return items_; }
    const std::map<ApplicationKey, std::unique_ptr<SourceApp>>& Applications() const { return applications_; }
    const CaptureMap& Captures() const { return captures_; }

private:
    // First, so that it outlives everything whose files it writes.
    ItemWriter writer_;

protected:
    // Whoever adds to items_ or takes from it says so: the filter's lookup of
    // loaded items by path is then made anew.
    void NoteItemsChanged() { ++itemsChanged_; }
    // The same for items pushed onto items_, which keeps the lookup.
    void NoteItemsAdded(const std::vector<ClipItem*>& added);
    // The loaded item of the file, or null.
    ClipItem* LoadedItemAt(const std::string& path);
    std::vector<std::unique_ptr<ClipItem>> items_;
    std::map<ApplicationKey, std::unique_ptr<SourceApp>> applications_;
    CaptureMap captures_;

private:
    // The filter's look at the loaded items it decides in memory, the newest
    // first (ItemArchiveFilter.cpp): true once none is left.
    using TimeUp = std::function<bool()>;
    bool LookInMemory(FilterSearch& search, std::vector<FilterMatch>& matches, const TimeUp& timeUp, size_t& enough);
    std::string AppDataFolder() const;
    // Whether the items of the date folder (its name) are loaded.
    bool LoadsDateFolder(const std::string& name) const;
    std::vector<ClipItem*> Matching(Catalog& catalog, std::wstring_view text) const;
    void AddApplicationFile(const std::string& path);
    // The records of the items' captures, from the catalog, each checked
    // against its file; `held` gets their files' names.
    std::vector<std::unique_ptr<CaptureRecord>> RecordsOfItems(Catalog& catalog,
                                                               const std::vector<std::unique_ptr<ClipItem>>& items,
                                                               std::set<std::string>& held);
    // Records handed over by the builder join; once `complete`, every record
    // of the files is numbered by its time and the trim runs.
    void AdoptRecords(std::vector<std::unique_ptr<CaptureRecord>> records, bool complete);
    // Items handed over by the builder join, and the tree shows them.
    void AdoptItems(std::vector<CatalogBuilder::HandedItem> handed);
    // The loaded items by their path below the archive folder, made anew when
    // items came or went since.
    const std::unordered_map<std::string, ClipItem*>& LoadedByPath();
    // A whole archive's paths cost megabytes: the lookup is kept only while a
    // filter or a hand-over uses it.
    void ReleaseLoadedByPath();
    bool IndexLoadedPath(ClipItem* item);

    ArchiveOptions options_;
    // The items the catalog holds, with the version of their data it holds.
    std::unordered_map<const ClipItem*, uint64_t> cataloged_;
    // Loaded items read from their files, by path, with the version of their
    // data at the load: cataloged once the builder has written their entries.
    std::unordered_map<std::string, std::pair<const ClipItem*, uint64_t>> uncataloged_;
    // Declared after what it reports into; stopped by Clear.
    CatalogBuilder builder_;
    HWND catalogWindow_ = nullptr;
    UINT catalogMessage_ = 0;
    // Captures open the clipboard with a window of their own: under Wine a
    // program that opens it with the window another program holds it open with
    // takes the open clipboard over, and the capture's reads then fail.
    UniqueWindow clipboardWindow_;
    OwnerPoll ownerPoll_;
    const ExcludeList* excluded_ = nullptr;
    std::function<void()> sizeLimitHook_;
    std::function<void()> writesFailingHook_;
    double lastClipboardHoldMs_ = 0;
    uint64_t lastFingerprint_ = 0;
    DWORD lastClipboardSequence_ = 0;
    unsigned long long lastOrder_ = 0;
    // The Order of the last record the files gave; later ones are this run's.
    unsigned long long loadedOrder_ = 0;
    bool recordsPending_ = false;
    // Items of earlier days still to come from the builder, and their days.
    bool itemsPending_ = false;
    std::set<std::string> pendingDates_;
    // Files this run queued for deletion that may not be gone yet: the watch
    // must not take them for arrivals.
    std::unordered_set<std::string> deletedHere_;
    // What was deleted while the builder still hands over: read before, it
    // may come after, and must not come back.
    std::unordered_set<std::string> deletedBeforeHandOver_;
    std::set<GUID, GuidLess> removedBeforeHandOver_;
    // The date folder the last load took as today's.
    std::string loadedDay_;
    // The filter's connection, opened by its first keystroke; whether the
    // catalog was there before it (one made empty knows no loaded item).
    std::unique_ptr<Catalog> filterCatalog_;
    bool filterTrusted_ = false;
    // The loaded items by their path below the archive folder, as of
    // itemsChanged_ (a path may change meanwhile: copies, not views); made
    // when asked.
    std::unordered_map<std::string, ClipItem*> loadedByPath_;
    uint64_t itemsChanged_ = 0;
    uint64_t loadedByPathAt_ = ~0ull;
    // Counts the items let go of: a hand-over adds thousands a turn, which the
    // filter's items still to look at need not be checked against.
    uint64_t itemsRemoved_ = 0;
};

// Total size of the files below the folder, sub-folders included; links to
// folders (junctions, symbolic links) and writes in progress are not counted.
unsigned long long FolderSize(const std::string& folder);
