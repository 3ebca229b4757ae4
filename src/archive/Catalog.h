// The catalog of an archive folder: a SQLite database, kept outside the folder
// (in the user's local application data), that lets a start read one file
// instead of a file for each record and item, and that finds the items whose
// text holds a query without reading them.
//
// It is only ever a copy of the files: an entry counts only while its file is
// listed with the size and last-write time the entry names, and a missing,
// damaged or foreign-version catalog is made anew from the files by the next
// load. Nothing is lost when it is deleted. A connection belongs to the thread
// that opened it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/CaptureRecord.h"
#include "base/SqliteDatabase.h"
#include "items/ClipItem.h"

class ItemStore;

// A file as its folder's listing shows it.
struct ListedFile {
    std::string name;
    unsigned long long size = 0;
    unsigned long long time = 0;

    static ListedFile Of(const WIN32_FIND_DATAA& listing);
    bool operator==(const ListedFile& other) const = default;
};

// The text that a search looks in: a text's text, an HTML item's shown text
// (no markup, entities decoded), an RTF item's plain text; empty for images.
// Data left on disk is read back.
std::wstring SearchableText(const ClipItem& item);
// The same, with data read back from disk for it let go again: memory keeps
// no more than before.
std::wstring PeekSearchableText(ClipItem& item);

// What the catalog keeps of an item's text for searches: folded (FoldCase), in
// UTF-8, and compressed when long. Made where the item is read, so that the
// builder makes it on its reading threads.
struct CatalogText {
    std::string folded;  // what the index is given
    Bytes packed;        // kept instead of `folded` when not empty
    // Data left on disk is read back for it and let go again.
    static CatalogText Of(ClipItem& item);
};

// An item file's entry to write, with its text.
struct NewItemEntry {
    ListedFile file;
    const ClipItem* item = nullptr;
    CatalogText text;
};

// An item the catalog finds, as its entry names it.
struct CatalogMatch {
    std::string folder;  // the date folder's name
    std::string name;
    int32_t type = 0;
    double time = 0;
    GUID guid = {};
};

// Where a search through the entries, newest first, stands: past the entry
// of this capture time and id (ties of a time go by id, the highest first).
struct CatalogCursor {
    double time = 1e300;
    int64_t id = INT64_MAX;
    bool done = false;
    // Narrowed: only these entries (sorted ids) are looked at.
    bool narrowed = false;
    std::vector<int64_t> candidates;
};

class Catalog {
public:
    // The catalog file of the archive folder in `catalogFolder` (both with
    // their trailing "\"): named by the folder's full path, in any case.
    static std::string PathFor(const std::string& catalogFolder, const std::string& archiveFolder);
    // Deletes the catalog file and its log; true when none is left.
    static bool Delete(const std::string& path);

    // Opens the catalog at the path, making it (and its folder) when missing,
    // and anew when it is damaged or of another version.
    bool Open(const std::string& path);
    bool IsOpen() const { return db_.IsOpen(); }
    // The entries read go with the connection: a whole archive's take tens of megabytes.
    void Close() {
        db_.Close();
        records_.clear();
        dates_.clear();
    }
    // Whether Open found none it could use, and made an empty one.
    bool WasMadeAnew() const { return madeAnew_; }
    // Whether a read met damage: what it gave up to then is still checked
    // against the files, but the rest is lost, and the catalog is best made anew.
    bool Damaged() const { return damaged_; }
    // Deletes the catalog and opens an empty one in its place.
    bool MakeAnew(const std::string& path);

    // The capture records of the AppData folder (given with its trailing "\"),
    // by file name, as the catalog has them; only trusted entries.
    void ReadRecords(const std::string& appDataFolder);
    // The record the file holds, when the catalog has it as the file now is.
    std::unique_ptr<CaptureRecord> TakeRecord(const ListedFile& file);
    // Whether the catalog holds at least `count` records.
    bool HoldsRecords(size_t count);
    // The entries of the records of the captures given (most of them captured
    // from `from` to `to`, capture times), each with the file it names as the
    // entry has it: a record counts only once that file is listed so. Entries
    // too close to their file's last change never match.
    std::vector<std::pair<ListedFile, std::unique_ptr<CaptureRecord>>> RecordsOf(const std::vector<GUID>& captures,
                                                                                 double from, double to);
    // Makes the records' entries those given; entries taken stay as they are.
    bool WriteRecords(const std::vector<std::pair<ListedFile, const CaptureRecord*>>& records);

    // The items of one date folder (its name, and its full path with "\").
    void ReadItems(const std::string& dateName, const std::string& folder);
    // Lets go of what ReadItems read of the date folder: a whole archive's
    // entries take megabytes.
    void ForgetDate(const std::string& dateName) { dates_.erase(dateName); }
    // Whether ReadItems found any entry of the date folder.
    bool HasItems(const std::string& dateName) const {
        auto found = dates_.find(dateName);
        return found != dates_.end() && !found->second.items.empty();
    }
    // The item the date folder's file holds, when the catalog has it as the
    // file now is, its data left in the file until used; null otherwise.
    std::unique_ptr<ClipItem> TakeItem(const std::string& dateName, const ListedFile& file, ItemStore& store);
    // Makes the date folder's entries those given (with each item's text,
    // data on disk read back for it and let go again); entries taken since
    // ReadItems stay as they are.
    bool WriteItems(const std::string& dateName, const std::vector<std::pair<ListedFile, ClipItem*>>& items);
    // Whether the catalog has the date folder's file as it is now (ReadItems
    // first); the entry then counts as taken, for WriteItems.
    bool Knows(const std::string& dateName, const ListedFile& file);
    // Removes the date folder's entries that are not listed, or not as their
    // files are now (ReadItems, then TakeItem or Knows, first).
    bool PruneItems(const std::string& dateName, const std::set<std::string>& listed);
    // Makes the entries of the item files those given (files just read or
    // written), in one transaction.
    bool AddItems(const std::string& dateName, const std::vector<std::pair<ListedFile, ClipItem*>>& items);
    // With the date folder's path (and its "\"), a file gone by the time the
    // transaction holds the catalog gets no entry: one deleted while it was
    // read. A delete that comes later waits for the transaction to remove it.
    bool AddItems(const std::string& dateName, const std::vector<NewItemEntry>& entries,
                  const std::string& folder = {});
    bool AddItem(const std::string& dateName, const ListedFile& file, ClipItem& item);
    // Drops the entries of date folders not named.
    bool KeepOnlyDates(const std::vector<std::string>& dateNames);

    // Removes the entries of deleted files: items by date folder and name,
    // records by name.
    bool RemoveItems(const std::vector<std::pair<std::string, std::string>>& items);
    bool RemoveRecords(const std::vector<std::string>& names);
    // Merges the text index and empties the log, so that no page of the file
    // keeps the text of entries removed; the cost grows with the index.
    bool Compact();
    // Whether the text index of a catalog made anew still waits to be merged:
    // until then it only gains segments (see kHoldTextMerges).
    bool TextMergesHeld();
    // One step of that merge, in a transaction of its own; once nothing is left
    // to merge the index merges as it goes again. True while more remains.
    bool MergeHeldText();

    // The items whose text contains the query, in any case, as "date\name",
    // the newest first; no more than `limit` (a query of one or two
    // characters looks at every text: the newest may be shown first).
    std::vector<std::string> MatchingItems(std::wstring_view text, size_t limit = SIZE_MAX);
    // The same with what a tree needs to show each item without reading its
    // file, from where the cursor stands: the search goes on while `goOn`
    // (asked after each entry looked at, with the matches found by this call)
    // says so, and the cursor moves past what was looked at, so the next call
    // goes on from there. It reads the entries in order rather than the
    // trigrams, which name their candidates in no order of time.
    std::vector<CatalogMatch> MatchingFrom(std::wstring_view text, CatalogCursor& cursor,
                                           const std::function<bool(size_t found)>& goOn);
    // Narrows the cursor's search to the entries that hold every trigram of
    // the query, whose text alone is then read: a search that goes on through
    // the whole archive looks at far fewer texts. It costs a walk of the
    // trigrams' lists first. False for a query shorter than a trigram.
    bool NarrowToTrigrams(std::wstring_view text, CatalogCursor& cursor);

    SqliteDatabase& Database() { return db_; }

private:
    bool Create();
    // Removes one item's entry (or, without a name, the date folder's), its
    // text out of the index first.
    bool RemoveItemEntries(const std::string& dateName, const std::string* name);
    bool InsertItem(const std::string& dateName, const NewItemEntry& entry, int64_t written);
    // The entries whose text holds the query, newest first, no more than `limit`.
    std::vector<CatalogMatch> Matching(std::wstring_view text, size_t limit);

    struct RecordEntry {
        ListedFile file;
        CaptureRecord record;
        bool taken = false;
    };
    struct ItemEntry {
        ListedFile file;
        int32_t type = 0;
        double time = 0;
        GUID guid = {};
        bool taken = false;
    };
    SqliteDatabase db_;
    bool madeAnew_ = false;
    bool damaged_ = false;
    std::string appData_;
    std::unordered_map<std::string, RecordEntry> records_;
    struct DateEntries {
        std::string folder;
        std::unordered_map<std::string, ItemEntry> items;
    };
    std::unordered_map<std::string, DateEntries> dates_;
};

// Folds letter case the way the editors' search does, one UTF-16 unit at a time.
std::wstring FoldCase(std::wstring_view text);
