#include "archive/Catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "base/CodePage.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "base/RecordFormat.h"
#include "items/HtmlItem.h"
#include "items/ItemStore.h"
#include "items/MarkupItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

namespace {

// Raised whenever the tables change: a catalog of another version is made anew.
constexpr int64_t kVersion = 2;

constexpr char kSchema[] =
    "CREATE TABLE records(name TEXT PRIMARY KEY, size INTEGER, time INTEGER, written INTEGER,"
    " atom INTEGER, guid BLOB, captured REAL, title TEXT, program TEXT);"
    // data: the item file's "B" field framed as in the file; NULL when the
    // data stays in the file.
    "CREATE TABLE items(id INTEGER PRIMARY KEY, folder TEXT, name TEXT, size INTEGER, time INTEGER,"
    " written INTEGER, type INTEGER, captured REAL, guid BLOB, data BLOB, UNIQUE(folder, name));"
    // The text is kept folded (FoldCase), so that the short queries the
    // trigrams cannot serve find any script's letters in either case too.
    "CREATE VIRTUAL TABLE item_text USING fts5(text, tokenize='trigram case_sensitive 0');"
    "CREATE TRIGGER items_gone AFTER DELETE ON items BEGIN DELETE FROM item_text WHERE rowid = old.id; END;"
    "PRAGMA user_version = 2;";

// File times count 100 ns. A file changed again within the second or two its
// entry was written in may show the time the entry has for it (FAT and network
// shares keep times to a second or two): such an entry is not trusted.
constexpr unsigned long long kUntrustedSpan = 2ull * 10'000'000;

unsigned long long Now() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool IsTrusted(unsigned long long fileTime, int64_t written) {
    const auto at = static_cast<unsigned long long>(written);
    return fileTime < at - std::min(at, kUntrustedSpan);
}

std::string Utf8(std::wstring_view text) { return ToMultiByte(text, CP_UTF8); }

GUID GuidOf(const Bytes& bytes) {
    GUID guid = {};
    if (bytes.size() == sizeof(guid)) std::memcpy(&guid, bytes.data(), sizeof(guid));
    return guid;
}

ByteSpan SpanOf(const GUID& guid) { return ByteSpan(reinterpret_cast<const uint8_t*>(&guid), sizeof(guid)); }

// The plain text of an RTF document: the text of its groups that are not
// destinations (font tables, pictures, "\*" groups), with \par, \line and \tab
// as breaks, \'hh in the document's code page and \uN as its character. What
// a reader shows may hold more: this errs on the side of finding.
std::wstring RtfPlainText(std::string_view rtf) {
    std::wstring out;
    std::string pending;  // \'hh bytes not yet converted
    unsigned codePage = CP_ACP;
    struct Group {
        bool skip;
        int unicodeSkip;
    };
    std::vector<Group> groups{{false, 1}};
    int skipChars = 0;  // the ANSI stand-ins after a \uN
    auto flush = [&] {
        if (pending.empty()) return;
        out += ToWide(pending, codePage);
        pending.clear();
    };
    static const std::set<std::string_view> kDestinations = {
        "fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "header", "footer", "headerl", "headerr",
        "footerl", "footerr", "listtable", "listoverridetable", "revtbl", "rsidtbl", "xmlnstbl", "themedata",
        "colorschememapping", "datastore", "latentstyles", "generator", "fldinst", "bkmkstart", "bkmkend"};
    for (size_t i = 0; i < rtf.size();) {
        const char c = rtf[i];
        Group& group = groups.back();
        if (c == '{') {
            flush();
            groups.push_back(group);
            ++i;
        } else if (c == '}') {
            flush();
            if (groups.size() > 1) groups.pop_back();
            skipChars = 0;
            ++i;
        } else if (c == '\\') {
            ++i;
            if (i >= rtf.size()) break;
            const char next = rtf[i];
            if (next == '\'') {
                const std::string hex(rtf.substr(i + 1, 2));
                i += 3;
                if (skipChars > 0) {
                    --skipChars;
                } else if (!group.skip && hex.size() == 2) {
                    pending += static_cast<char>(std::strtoul(hex.c_str(), nullptr, 16));
                }
            } else if (next == '*') {
                group.skip = true;
                ++i;
            } else if (std::isalpha(static_cast<unsigned char>(next))) {
                size_t end = i;
                while (end < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[end]))) ++end;
                const std::string_view word = rtf.substr(i, end - i);
                size_t digits = end;
                if (digits < rtf.size() && rtf[digits] == '-') ++digits;
                while (digits < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[digits]))) ++digits;
                const long number = digits > end ? std::strtol(std::string(rtf.substr(end, digits - end)).c_str(), nullptr, 10) : 0;
                const bool hasNumber = digits > end;
                i = digits;
                if (i < rtf.size() && rtf[i] == ' ') ++i;
                if (kDestinations.count(word)) {
                    group.skip = true;
                } else if (word == "ansicpg" && hasNumber) {
                    flush();
                    codePage = static_cast<unsigned>(number);
                } else if (word == "uc" && hasNumber) {
                    group.unicodeSkip = static_cast<int>(number);
                } else if (group.skip) {
                    // Nothing of a destination is shown.
                } else if (word == "u" && hasNumber) {
                    flush();
                    out += static_cast<wchar_t>(number < 0 ? number + 65536 : number);
                    skipChars = group.unicodeSkip;
                } else if (word == "par" || word == "line" || word == "sect" || word == "row") {
                    flush();
                    out += L"\r\n";
                } else if (word == "tab" || word == "cell") {
                    flush();
                    out += L'\t';
                }
            } else {
                // An escaped character: "\\", "\{", "\}", or a symbol.
                if (!group.skip && (next == '\\' || next == '{' || next == '}')) pending += next;
                ++i;
            }
        } else {
            if (c != '\r' && c != '\n') {
                if (skipChars > 0)
                    --skipChars;
                else if (!group.skip)
                    pending += c;
            }
            ++i;
        }
    }
    flush();
    return out;
}

// The names of the files given with their records or items.
template <typename Pairs>
std::set<std::string> NamesOf(const Pairs& files) {
    std::set<std::string> names;
    for (const auto& [file, value] : files) names.insert(file.name);
    return names;
}

// Whether the entries differ from the files listed now: an entry that the load
// did not take, or one whose file is gone, or a listed file without an entry.
template <typename Entries>
bool DiffersFromListing(const Entries& entries, const std::set<std::string>& listed) {
    for (const auto& [name, entry] : entries)
        if (!entry.taken || !listed.count(name)) return true;
    for (const std::string& name : listed)
        if (!entries.count(name)) return true;
    return false;
}

}  // namespace

ListedFile ListedFile::Of(const WIN32_FIND_DATAA& listing) {
    return {listing.cFileName, (static_cast<unsigned long long>(listing.nFileSizeHigh) << 32) | listing.nFileSizeLow,
            (static_cast<unsigned long long>(listing.ftLastWriteTime.dwHighDateTime) << 32) |
                listing.ftLastWriteTime.dwLowDateTime};
}

std::wstring FoldCase(std::wstring_view text) {
    static const std::vector<wchar_t> upper = [] {
        std::vector<wchar_t> table(65536);
        for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<wchar_t>(i);
        ::CharUpperBuffW(table.data() + 1, static_cast<DWORD>(table.size() - 1));
        return table;
    }();
    std::wstring folded(text);
    for (wchar_t& c : folded) c = upper[static_cast<unsigned short>(c)];
    return folded;
}

std::wstring SearchableText(const ClipItem& item) {
    switch (item.TypeCode()) {
    case kTextItemType:
        return static_cast<const TextItem&>(item).Text();
    case kHtmlItemType:
    case kRtfItemType: {
        Bytes content;
        if (!static_cast<const MarkupItem&>(item).GetContent(content)) return {};
        const std::string_view document(reinterpret_cast<const char*>(content.data()), content.size());
        // The find in the tree looks at the HTML as it is, tags and all.
        return item.TypeCode() == kHtmlItemType ? ToWide(document, CP_UTF8) : RtfPlainText(document);
    }
    default:
        return {};
    }
}

std::string Catalog::PathFor(const std::string& catalogFolder, const std::string& archiveFolder) {
    char full[MAX_PATH * 4] = {};
    const DWORD length = ::GetFullPathNameA(archiveFolder.c_str(), sizeof(full), full, nullptr);
    std::wstring key = ToWide(length && length < sizeof(full) ? std::string(full, length) : archiveFolder, CP_ACP);
    while (!key.empty() && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
    key = FoldCase(key);
    // FNV-1a over the folded path.
    unsigned long long hash = 14695981039346656037ull;
    for (wchar_t c : key) {
        hash ^= static_cast<unsigned short>(c);
        hash *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof(name), "catalog-%016llx.db", hash);
    return catalogFolder + name;
}

bool Catalog::Delete(const std::string& path) {
    bool gone = true;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = path + suffix;
        if (!::DeleteFileA(file.c_str()) && ::GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            gone = false;
    }
    return gone;
}

bool Catalog::Open(const std::string& path) {
    db_.Close();
    madeAnew_ = false;
    const size_t slash = path.rfind('\\');
    if (slash != std::string::npos) CreateFolderPath(path.substr(0, slash + 1));
    auto version = [this] {
        SqliteStatement query = db_.Prepare("PRAGMA user_version");
        return query.Step() ? query.Int64(0) : -1;
    };
    // A deleted item's text must not stay behind in the file's free pages.
    auto open = [&] { return db_.Open(path) && db_.Execute("PRAGMA secure_delete = ON"); };
    // A whole check reads every page, which would cost each start more than
    // the catalog saves it: damage is found by the statements that meet it
    // (see Damaged), and the load then makes the catalog anew.
    if (open()) {
        const int64_t found = version();
        if (found == kVersion) return true;
        if (found == 0 && Create()) return true;
    }
    // Damaged, foreign or half made: the files tell everything again.
    db_.Close();
    Delete(path);
    return open() && Create();
}

bool Catalog::MakeAnew(const std::string& path) {
    db_.Close();
    records_.clear();
    dates_.clear();
    damaged_ = false;
    return Delete(path) && Open(path);
}

bool Catalog::Create() {
    madeAnew_ = true;
    SqliteTransaction transaction(db_);
    return transaction.IsActive() && db_.Execute(kSchema) && transaction.Commit();
}

void Catalog::ReadRecords(const std::string& appDataFolder) {
    appData_ = appDataFolder;
    records_.clear();
    SqliteStatement query = db_.Prepare("SELECT name, size, time, written, atom, guid, captured, title, program FROM records");
    while (query.Step()) {
        RecordEntry entry;
        entry.file = {query.Text(0), static_cast<unsigned long long>(query.Int64(1)),
                      static_cast<unsigned long long>(query.Int64(2))};
        CaptureRecord& record = entry.record;
        record.ClassAtom = static_cast<DWORD>(query.Int64(4));
        record.CaptureGuid = GuidOf(query.Blob(5));
        record.CaptureTime = query.Double(6);
        record.Title = Utf8ToAnsi(query.Text(7));
        record.ProgramKey = Utf8ToAnsi(query.Text(8));
        if (!IsTrusted(entry.file.time, query.Int64(3))) entry.file.size = ~0ull;  // listed, never taken
        records_[entry.file.name] = std::move(entry);
    }
    damaged_ = damaged_ || !query.Succeeded();
}

std::unique_ptr<CaptureRecord> Catalog::TakeRecord(const ListedFile& file) {
    auto found = records_.find(file.name);
    if (found == records_.end() || !(found->second.file == file)) return nullptr;
    found->second.taken = true;
    auto record = std::make_unique<CaptureRecord>(found->second.record);
    record->FilePath = appData_ + file.name;
    return record;
}

bool Catalog::WriteRecords(const std::vector<std::pair<ListedFile, const CaptureRecord*>>& records) {
    const std::set<std::string> listed = NamesOf(records);
    if (!DiffersFromListing(records_, listed)) return true;
    SqliteTransaction transaction(db_);
    SqliteStatement remove = db_.Prepare("DELETE FROM records WHERE name = ?1");
    for (const auto& [name, entry] : records_) {
        if (entry.taken && listed.count(name)) continue;
        remove.Bind(1, name);
        remove.Run();
        remove.Reset();
    }
    SqliteStatement insert = db_.Prepare(
        "INSERT OR REPLACE INTO records(name, size, time, written, atom, guid, captured, title, program)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    const int64_t now = static_cast<int64_t>(Now());
    for (const auto& [file, record] : records) {
        auto found = records_.find(file.name);
        if (found != records_.end() && found->second.taken) continue;
        insert.Bind(1, file.name);
        insert.Bind(2, static_cast<int64_t>(file.size));
        insert.Bind(3, static_cast<int64_t>(file.time));
        insert.Bind(4, now);
        insert.Bind(5, static_cast<int64_t>(record->ClassAtom));
        insert.BindBlob(6, SpanOf(record->CaptureGuid));
        insert.BindDouble(7, record->CaptureTime);
        insert.Bind(8, AnsiToUtf8(record->Title));
        insert.Bind(9, AnsiToUtf8(record->ProgramKey));
        if (!insert.Run()) return false;
        insert.Reset();
    }
    return transaction.Commit();
}

void Catalog::ReadItems(const std::string& dateName, const std::string& folder) {
    DateEntries& date = dates_[dateName];
    date.folder = folder;
    date.items.clear();
    SqliteStatement query =
        db_.Prepare("SELECT name, size, time, written, type, captured, guid, data FROM items WHERE folder = ?1");
    query.Bind(1, dateName);
    while (query.Step()) {
        ItemEntry entry;
        entry.file = {query.Text(0), static_cast<unsigned long long>(query.Int64(1)),
                      static_cast<unsigned long long>(query.Int64(2))};
        if (!IsTrusted(entry.file.time, query.Int64(3))) entry.file.size = ~0ull;
        entry.type = static_cast<int32_t>(query.Int64(4));
        entry.time = query.Double(5);
        entry.guid = GuidOf(query.Blob(6));
        entry.dataOnDisk = query.IsNull(7);
        if (!entry.dataOnDisk) entry.data = query.Blob(7);
        date.items[entry.file.name] = std::move(entry);
    }
    damaged_ = damaged_ || !query.Succeeded();
}

std::unique_ptr<ClipItem> Catalog::TakeItem(const std::string& dateName, const ListedFile& file, ItemStore& store) {
    DateEntries& date = dates_[dateName];
    auto found = date.items.find(file.name);
    if (found == date.items.end() || !(found->second.file == file)) return nullptr;
    ItemEntry& entry = found->second;
    std::unique_ptr<ClipItem> item = CreateItemOfType(entry.type);
    if (!item) return nullptr;
    item->SetStore(&store);
    item->SetRecordPath(date.folder + file.name);
    item->SetCaptureTime(entry.time);
    item->SetSourceGuid(entry.guid);
    if (entry.dataOnDisk) {
        item->LeaveDataOnDisk();
    } else {
        // The "B" field, when the item had data; what does not read back is
        // looked at again in the item's file.
        FieldWalker walker(entry.data);
        RecordField field;
        while (walker.Next(field))
            if (field.tag == 'B' && (!field.complete || !item->ReadData(field.data))) {
                item->SetStore(nullptr);
                return nullptr;
            }
    }
    entry.taken = true;
    entry.data = Bytes();  // the item has it now
    return item;
}

bool Catalog::WriteItems(const std::string& dateName,
                         const std::vector<std::pair<ListedFile, ClipItem*>>& items) {
    const auto& entries = dates_[dateName].items;
    const std::set<std::string> listed = NamesOf(items);
    if (!DiffersFromListing(entries, listed)) return true;
    SqliteTransaction transaction(db_);
    SqliteStatement remove = db_.Prepare("DELETE FROM items WHERE folder = ?1 AND name = ?2");
    for (const auto& [name, entry] : entries) {
        if (entry.taken && listed.count(name)) continue;
        remove.Bind(1, dateName);
        remove.Bind(2, name);
        remove.Run();
        remove.Reset();
    }
    SqliteStatement insert = db_.Prepare(
        "INSERT INTO items(folder, name, size, time, written, type, captured, guid, data)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    SqliteStatement text = db_.Prepare("INSERT INTO item_text(rowid, text) VALUES(?1, ?2)");
    const int64_t now = static_cast<int64_t>(Now());
    for (const auto& [file, item] : items) {
        auto found = entries.find(file.name);
        if (found != entries.end() && found->second.taken) continue;
        insert.Bind(1, dateName);
        insert.Bind(2, file.name);
        insert.Bind(3, static_cast<int64_t>(file.size));
        insert.Bind(4, static_cast<int64_t>(file.time));
        insert.Bind(5, now);
        insert.Bind(6, static_cast<int64_t>(item->TypeCode()));
        insert.BindDouble(7, item->CaptureTime());
        insert.BindBlob(8, SpanOf(item->SourceGuid()));
        Bytes data;
        RecordFileWriter fields(data);
        if (item->IsDataOnDisk())
            insert.BindNull(9);
        else if (item->WriteData(fields) && fields.Commit())
            insert.BindBlob(9, data);
        else
            return false;
        if (!insert.Run()) return false;
        insert.Reset();
        const bool onDisk = item->IsDataOnDisk();
        const std::wstring searchable = SearchableText(*item);
        // Read back for its text only: memory keeps no more than before.
        if (onDisk) item->LeaveDataOnDisk();
        if (searchable.empty()) continue;
        text.Bind(1, db_.LastInsertId());
        text.Bind(2, Utf8(FoldCase(searchable)));
        if (!text.Run()) return false;
        text.Reset();
    }
    return transaction.Commit();
}

bool Catalog::KeepOnlyDates(const std::vector<std::string>& dateNames) {
    std::set<std::string> kept(dateNames.begin(), dateNames.end());
    std::vector<std::string> gone;
    SqliteStatement query = db_.Prepare("SELECT DISTINCT folder FROM items");
    while (query.Step())
        if (!kept.count(query.Text(0))) gone.push_back(query.Text(0));
    if (gone.empty()) return true;
    SqliteTransaction transaction(db_);
    SqliteStatement remove = db_.Prepare("DELETE FROM items WHERE folder = ?1");
    for (const std::string& folder : gone) {
        remove.Bind(1, folder);
        if (!remove.Run()) return false;
        remove.Reset();
    }
    return transaction.Commit();
}

bool Catalog::RemoveItems(const std::vector<std::pair<std::string, std::string>>& items) {
    if (items.empty()) return true;
    SqliteTransaction transaction(db_);
    SqliteStatement remove = db_.Prepare("DELETE FROM items WHERE folder = ?1 AND name = ?2");
    for (const auto& [folder, name] : items) {
        remove.Bind(1, folder);
        remove.Bind(2, name);
        if (!remove.Run()) return false;
        remove.Reset();
    }
    return transaction.Commit();
}

bool Catalog::RemoveRecords(const std::vector<std::string>& names) {
    if (names.empty()) return true;
    SqliteTransaction transaction(db_);
    SqliteStatement remove = db_.Prepare("DELETE FROM records WHERE name = ?1");
    for (const std::string& name : names) {
        remove.Bind(1, name);
        if (!remove.Run()) return false;
        remove.Reset();
    }
    return transaction.Commit();
}

SqliteStatement Catalog::PrepareMatch(std::wstring_view text, const char* columns, const char* order) {
    const std::string wanted = Utf8(FoldCase(text));
    // Characters, not UTF-16 units: a trigram is three code points.
    const size_t points = static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](wchar_t c) { return c < 0xDC00 || c > 0xDFFF; }));
    const std::string select =
        std::string("SELECT ") + columns + " FROM item_text JOIN items ON items.id = item_text.rowid WHERE ";
    SqliteStatement query;
    if (points >= 3) {
        // One phrase: the trigrams find it as a substring.
        std::string phrase = "\"";
        for (char c : wanted) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
        phrase += '"';
        query = db_.Prepare((select + "item_text MATCH ?1" + order).c_str());
        query.Bind(1, phrase);
    } else {
        // Too short for a trigram: a scan of the stored (folded) text.
        query = db_.Prepare((select + "instr(item_text.text, ?1) > 0" + order).c_str());
        query.Bind(1, wanted);
    }
    return query;
}

std::vector<std::string> Catalog::MatchingItems(std::wstring_view text) {
    std::vector<std::string> found;
    if (text.empty()) return found;
    SqliteStatement query = PrepareMatch(text, "items.folder, items.name", "");
    while (query.Step()) found.push_back(query.Text(0) + "\\" + query.Text(1));
    damaged_ = damaged_ || !query.Succeeded();
    return found;
}

std::vector<CatalogMatch> Catalog::MatchingEntries(std::wstring_view text) {
    std::vector<CatalogMatch> found;
    if (text.empty()) return found;
    SqliteStatement query = PrepareMatch(text, "items.folder, items.name, items.type, items.captured, items.guid",
                                         " ORDER BY items.captured DESC");
    while (query.Step())
        found.push_back({query.Text(0), query.Text(1), static_cast<int32_t>(query.Int64(2)), query.Double(3),
                         GuidOf(query.Blob(4))});
    damaged_ = damaged_ || !query.Succeeded();
    return found;
}

std::vector<CatalogMatch> Catalog::MatchingEntriesOfDay(std::wstring_view text, const std::string& dateName) {
    std::vector<CatalogMatch> found;
    if (text.empty()) return found;
    SqliteStatement query = db_.Prepare(
        "SELECT items.folder, items.name, items.type, items.captured, items.guid FROM items"
        " JOIN item_text ON item_text.rowid = items.id"
        " WHERE items.folder = ?2 AND instr(item_text.text, ?1) > 0 ORDER BY items.captured DESC");
    query.Bind(1, Utf8(FoldCase(text)));
    query.Bind(2, dateName);
    while (query.Step())
        found.push_back({query.Text(0), query.Text(1), static_cast<int32_t>(query.Int64(2)), query.Double(3),
                         GuidOf(query.Blob(4))});
    damaged_ = damaged_ || !query.Succeeded();
    return found;
}

std::vector<std::string> Catalog::DatesNewestFirst() {
    std::vector<std::string> dates;
    // From the index alone: the rows themselves hold the items' data, and a
    // walk through them would read most of the file.
    SqliteStatement query = db_.Prepare("SELECT DISTINCT folder FROM items");
    while (query.Step()) dates.push_back(query.Text(0));
    damaged_ = damaged_ || !query.Succeeded();
    // Date folders are named "d_M_yyyy"; another name sorts last.
    auto day = [](const std::string& name) {
        int d = 0, m = 0, y = 0;
        return std::sscanf(name.c_str(), "%d_%d_%d", &d, &m, &y) == 3 ? y * 10000 + m * 100 + d : -1;
    };
    std::stable_sort(dates.begin(), dates.end(), [&](const auto& a, const auto& b) { return day(a) > day(b); });
    return dates;
}
