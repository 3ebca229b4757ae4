#include "archive/Catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <set>
#include <unordered_set>

#include "base/CodePage.h"
#include "base/Compression.h"
#include "base/Paths.h"
#include "items/HtmlItem.h"
#include "items/ItemStore.h"
#include "items/MarkupItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

namespace {

// Raised whenever the tables change, or the way the file is made (5: larger
// pages, a text index without per-item sizes, merged once when made anew): a
// catalog of another version is made anew.
constexpr int64_t kVersion = 5;

// A start finds the records of the items it loads without listing AppData:
// those of a span of time in one stretch of an index that holds every column,
// any other by its GUID.
// Made with the tables, and made anew after a large write (WriteRecords).
constexpr char kRecordIndexes[] =
    "CREATE INDEX records_captured ON records(captured, size, time, written, atom, guid, title, program);"
    "CREATE INDEX records_guid ON records(guid);";
constexpr char kDropRecordIndexes[] = "DROP INDEX records_captured; DROP INDEX records_guid;";
// Past this many rows to write, and more than there are, a write of records
// makes their indexes anew rather than keep them in step with each row.
constexpr size_t kRecordsRebuildingIndexes = 1000;

constexpr char kSchema[] =
    // Found by name alone: no second copy of the names in an index.
    "CREATE TABLE records(name TEXT PRIMARY KEY, size INTEGER, time INTEGER, written INTEGER,"
    " atom INTEGER, guid BLOB, captured REAL, title TEXT, program TEXT) WITHOUT ROWID;"
    // The items' data stays in their files, read when an item is used: a
    // load takes nothing of it, and the catalog keeps one copy of the text
    // alone, in a table of its own that a load never reads.
    "CREATE TABLE items(id INTEGER PRIMARY KEY, folder TEXT, name TEXT, size INTEGER, time INTEGER,"
    " written INTEGER, type INTEGER, captured REAL, guid BLOB, UNIQUE(folder, name));"
    // text: what a search looks in, folded (FoldCase) and in UTF-8; one of
    // more than kPackedTextBytes is zlib-compressed (a BLOB then). Shorter ones
    // are kept as they are, so that a search looks at them where they lie:
    // most items' texts are short. Items without text have no row.
    "CREATE TABLE item_texts(id INTEGER PRIMARY KEY, text);"
    // Searches give the newest matches first.
    "CREATE INDEX items_captured ON items(captured);"
    // The index alone, without the text or the trigrams' places in it: a
    // quarter of the size. It names the items that hold every trigram of a
    // query, and their own text says whether they hold the query. An entry
    // leaves it by the 'delete' command with the text it was given.
    "CREATE VIRTUAL TABLE item_text USING fts5(text, content='', columnsize=0, detail=none, tokenize='trigram case_sensitive 0');"
    "PRAGMA user_version = 5;";

// A catalog made anew is filled by the builder with the whole archive's text.
// Merging the index's segments as they come (four at a time, level by level)
// rewrites each trigram list once per level: at 100,000 captures 15 s of a
// build of 70 s. So a new catalog's index only adds segments until the builder
// merges them all at once at its end (MergeHeldText), and then merges as usual
// again. The settings stay in the catalog: a build cut short is merged by the
// next one.
constexpr char kHoldTextMerges[] =
    "INSERT INTO item_text(item_text, rank) VALUES('automerge', 0);"
    "INSERT INTO item_text(item_text, rank) VALUES('crisismerge', 1999);";
// FTS5's own defaults.
constexpr char kReleaseTextMerges[] =
    "INSERT INTO item_text(item_text, rank) VALUES('automerge', 4);"
    "INSERT INTO item_text(item_text, rank) VALUES('crisismerge', 16);";
// The pages of the index a step of that merge writes: a few megabytes, so that
// the window's writes wait for no more than a fraction of a second.
constexpr int kMergedPagesPerStep = 500;

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

// The text a browser shows of an HTML document: no tags, comments, scripts
// or styles; entities decoded; each run of white space one space, and the
// tags that break a line a line break. What matters here is that a search
// finds what the reader sees, and none of the markup.
std::wstring HtmlShownText(std::wstring_view html) {
    static const std::pair<std::wstring_view, wchar_t> kEntities[] = {
        {L"amp", L'&'},       {L"lt", L'<'},         {L"gt", L'>'},         {L"quot", L'"'},      {L"apos", L'\''},
        {L"nbsp", L' '},      {L"copy", 0xA9},       {L"reg", 0xAE},        {L"trade", 0x2122},   {L"euro", 0x20AC},
        {L"pound", 0xA3},     {L"yen", 0xA5},        {L"cent", 0xA2},       {L"sect", 0xA7},      {L"deg", 0xB0},
        {L"middot", 0xB7},    {L"bull", 0x2022},     {L"hellip", 0x2026},   {L"ndash", 0x2013},   {L"mdash", 0x2014},
        {L"lsquo", 0x2018},   {L"rsquo", 0x2019},    {L"ldquo", 0x201C},    {L"rdquo", 0x201D},   {L"laquo", 0xAB},
        {L"raquo", 0xBB},     {L"times", 0xD7},      {L"divide", 0xF7},     {L"auml", 0xE4},      {L"ouml", 0xF6},
        {L"uuml", 0xFC},      {L"Auml", 0xC4},       {L"Ouml", 0xD6},       {L"Uuml", 0xDC},      {L"szlig", 0xDF},
        {L"eacute", 0xE9},    {L"egrave", 0xE8},     {L"ecirc", 0xEA},      {L"aacute", 0xE1},    {L"agrave", 0xE0},
        {L"acirc", 0xE2},     {L"ccedil", 0xE7},     {L"oacute", 0xF3},     {L"iacute", 0xED},    {L"uacute", 0xFA},
        {L"ntilde", 0xF1},    {L"Eacute", 0xC9},     {L"shy", 0}};
    static const std::set<std::wstring_view> kBreaks = {L"br", L"p", L"div", L"li", L"tr", L"h1", L"h2", L"h3",
                                                        L"h4", L"h5", L"h6", L"ul", L"ol", L"table", L"pre",
                                                        L"blockquote", L"hr", L"dt", L"dd"};
    std::wstring out;
    bool space = false;  // white space seen since the last character shown
    auto put = [&](wchar_t c) {
        if (space && !out.empty() && out.back() != L'\n') out += L' ';
        space = false;
        out += c;
    };
    auto lower = [](std::wstring_view name) {
        std::wstring folded(name);
        for (wchar_t& c : folded)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        return folded;
    };
    for (size_t i = 0; i < html.size();) {
        const wchar_t c = html[i];
        if (c == L'<') {
            if (html.compare(i, 4, L"<!--") == 0) {
                const size_t end = html.find(L"-->", i + 4);
                i = end == std::wstring_view::npos ? html.size() : end + 3;
                continue;
            }
            const size_t close = html.find(L'>', i);
            if (close == std::wstring_view::npos) break;  // a tag cut short shows nothing
            size_t nameStart = i + 1;
            if (nameStart < close && html[nameStart] == L'/') ++nameStart;
            size_t nameEnd = nameStart;
            while (nameEnd < close && (std::iswalnum(html[nameEnd]) || html[nameEnd] == L'!')) ++nameEnd;
            const std::wstring name = lower(html.substr(nameStart, nameEnd - nameStart));
            i = close + 1;
            if ((name == L"script" || name == L"style" || name == L"title") && html[i - 2] != L'/' &&
                html[nameStart - 1] != L'/') {
                // Their content is not shown: skip to the end tag.
                const std::wstring end = L"</" + name;
                size_t at = i;
                for (;;) {
                    at = html.find(L"</", at);
                    if (at == std::wstring_view::npos || lower(html.substr(at, end.size())) == end) break;
                    at += 2;
                }
                i = at == std::wstring_view::npos ? html.size() : at;
                continue;
            }
            if (kBreaks.count(name)) {
                if (!out.empty() && out.back() != L'\n') out += L"\r\n";
                space = false;
            } else if (name == L"td" || name == L"th") {
                space = true;
            }
            continue;
        }
        if (c == L'&') {
            const size_t semicolon = html.find(L';', i);
            if (semicolon != std::wstring_view::npos && semicolon - i <= 10) {
                const std::wstring_view name = html.substr(i + 1, semicolon - i - 1);
                unsigned long code = 0;
                bool known = false;
                if (!name.empty() && name[0] == L'#') {
                    const std::wstring digits(name.substr(1));
                    wchar_t* stop = nullptr;
                    const bool hex = !digits.empty() && (digits[0] == L'x' || digits[0] == L'X');
                    code = std::wcstoul(digits.c_str() + (hex ? 1 : 0), &stop, hex ? 16 : 10);
                    known = stop && *stop == 0 && digits.size() > (hex ? 1u : 0u) && code <= 0x10FFFF;
                } else {
                    for (const auto& [entity, value] : kEntities)
                        if (entity == name) {
                            code = value;
                            known = true;
                        }
                }
                if (known) {
                    i = semicolon + 1;
                    if (code == 0) continue;
                    if (code == L' ' || code == 0xA0) {
                        space = true;
                    } else if (code >= 0x10000) {
                        put(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
                        out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
                    } else {
                        put(static_cast<wchar_t>(code));
                    }
                    continue;
                }
            }
        }
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f')
            space = true;
        else
            put(c);
        ++i;
    }
    return out;
}

// Texts longer than this are compressed: half the text of an archive lies in
// the few long ones, which a search then inflates.
constexpr size_t kPackedTextBytes = 3072;

// False when the entry's text is damaged; NULL is no text.
bool UnpackText(const SqliteStatement& statement, int column, std::string& utf8) {
    utf8.clear();
    if (statement.IsNull(column)) return true;
    if (!statement.IsBlob(column)) {
        utf8 = statement.Text(column);
        return true;
    }
    const Bytes packed = statement.Blob(column);
    Bytes bytes;
    if (!DecompressBlock(packed.data(), packed.size(), bytes)) return false;
    utf8.assign(bytes.begin(), bytes.end());
    return true;
}

// The trigrams of the folded text, each an FTS5 string, joined by AND: the
// index holds no places, so a phrase is asked for as all of its trigrams.
// Empty when the text is shorter than a trigram.
std::string TrigramQuery(std::wstring_view folded) {
    std::vector<size_t> starts;  // where each character starts
    for (size_t i = 0; i < folded.size(); ++i)
        if (folded[i] < 0xDC00 || folded[i] > 0xDFFF) starts.push_back(i);
    starts.push_back(folded.size());
    std::set<std::string> seen;
    std::string query;
    for (size_t i = 0; i + 3 < starts.size(); ++i) {
        const std::string trigram = Utf8(folded.substr(starts[i], starts[i + 3] - starts[i]));
        if (!seen.insert(trigram).second) continue;
        if (!query.empty()) query += " AND ";
        query += '"';
        for (char c : trigram) query += c == '"' ? std::string("\"\"") : std::string(1, c);
        query += '"';
    }
    return query;
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
        return item.TypeCode() == kHtmlItemType ? HtmlShownText(ToWide(document, CP_UTF8)) : RtfPlainText(document);
    }
    default:
        return {};
    }
}

std::wstring PeekSearchableText(ClipItem& item) {
    const bool onDisk = item.IsDataOnDisk();
    std::wstring text = SearchableText(item);
    if (onDisk) item.LeaveDataOnDisk();
    return text;
}

CatalogText CatalogText::Of(ClipItem& item) {
    CatalogText text;
    text.folded = Utf8(FoldCase(PeekSearchableText(item)));
    if (text.folded.size() > kPackedTextBytes &&
        (!CompressBlock(text.folded.data(), text.folded.size(), text.packed) ||
         text.packed.size() >= text.folded.size()))
        text.packed.clear();
    return text;
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
    return transaction.IsActive() && db_.Execute(kSchema) && db_.Execute(kRecordIndexes) &&
           db_.Execute(kHoldTextMerges) && transaction.Commit();
}

namespace {

constexpr char kRecordColumns[] = "SELECT name, size, time, written, atom, guid, captured, title, program FROM records";

// A row of kRecordColumns: the file its entry names, and the record. An entry
// too close to its file's last change is never taken: its size is one no
// file is listed with.
void ReadRecordRow(const SqliteStatement& query, ListedFile& file, CaptureRecord& record) {
    file = {query.Text(0), static_cast<unsigned long long>(query.Int64(1)),
            static_cast<unsigned long long>(query.Int64(2))};
    record.ClassAtom = static_cast<DWORD>(query.Int64(4));
    record.CaptureGuid = GuidOf(query.Blob(5));
    record.CaptureTime = query.Double(6);
    record.Title = Utf8ToAnsi(query.Text(7));
    record.ProgramKey = Utf8ToAnsi(query.Text(8));
    if (!IsTrusted(file.time, query.Int64(3))) file.size = ~0ull;
}

}  // namespace

void Catalog::ReadRecords(const std::string& appDataFolder) {
    appData_ = appDataFolder;
    records_.clear();
    SqliteStatement query = db_.Prepare(kRecordColumns);
    while (query.Step()) {
        RecordEntry entry;
        ReadRecordRow(query, entry.file, entry.record);
        records_[entry.file.name] = std::move(entry);
    }
    damaged_ = damaged_ || !query.Succeeded();
}

bool Catalog::HoldsRecords(size_t count) {
    // Counting them all would walk the whole table.
    SqliteStatement query = db_.Prepare("SELECT 1 FROM records INDEXED BY records_guid LIMIT 1 OFFSET ?1");
    query.Bind(1, static_cast<int64_t>(count - 1));
    return query.Step();
}

std::vector<std::pair<ListedFile, std::unique_ptr<CaptureRecord>>> Catalog::RecordsOf(
    const std::vector<GUID>& captures, double from, double to) {
    std::vector<std::pair<ListedFile, std::unique_ptr<CaptureRecord>>> found;
    auto key = [](const GUID& guid) { return std::string(reinterpret_cast<const char*>(&guid), sizeof(guid)); };
    std::unordered_set<std::string> wanted;
    for (const GUID& guid : captures) wanted.insert(key(guid));
    auto take = [&](SqliteStatement& query) {
        while (query.Step()) {
            auto record = std::make_unique<CaptureRecord>();
            ListedFile file;
            ReadRecordRow(query, file, *record);
            if (!wanted.erase(key(record->CaptureGuid))) continue;
            found.emplace_back(std::move(file), std::move(record));
        }
        damaged_ = damaged_ || !query.Succeeded();
    };
    SqliteStatement span =
        db_.Prepare((std::string(kRecordColumns) + " INDEXED BY records_captured WHERE captured BETWEEN ?1 AND ?2").c_str());
    span.BindDouble(1, from);
    span.BindDouble(2, to);
    take(span);
    SqliteStatement one = db_.Prepare((std::string(kRecordColumns) + " WHERE guid = ?1").c_str());
    for (const GUID& guid : captures) {
        if (!wanted.count(key(guid))) continue;
        one.BindBlob(1, SpanOf(guid));
        take(one);
        one.Reset();
    }
    return found;
}

std::unique_ptr<CaptureRecord> Catalog::TakeRecord(const ListedFile& file) {
    auto found = records_.find(file.name);
    if (found == records_.end() || !(found->second.file == file)) return nullptr;
    found->second.taken = true;
    // An entry is taken once: its record is handed over, not copied.
    auto record = std::make_unique<CaptureRecord>(std::move(found->second.record));
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
    std::vector<const std::pair<ListedFile, const CaptureRecord*>*> written;
    for (const auto& entry : records) {
        auto found = records_.find(entry.first.name);
        if (found == records_.end() || !found->second.taken) written.push_back(&entry);
    }
    // A first start writes every record: each row would visit the indexes'
    // pages in no order, and under Wine each page the cache let go costs a
    // call to the server (100,000 rows took half a minute). Made anew once
    // they are all in, the indexes are written in order; so is the table.
    const bool rebuildIndexes = written.size() > kRecordsRebuildingIndexes && written.size() > records_.size();
    if (rebuildIndexes && !db_.Execute(kDropRecordIndexes)) return false;
    std::sort(written.begin(), written.end(), [](const auto* a, const auto* b) { return a->first.name < b->first.name; });
    for (const auto* entry : written) {
        const auto& [file, record] = *entry;
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
    if (rebuildIndexes && !db_.Execute(kRecordIndexes)) return false;
    return transaction.Commit();
}

void Catalog::ReadItems(const std::string& dateName, const std::string& folder) {
    DateEntries& date = dates_[dateName];
    date.folder = folder;
    date.items.clear();
    SqliteStatement query =
        db_.Prepare("SELECT name, size, time, written, type, captured, guid FROM items WHERE folder = ?1");
    query.Bind(1, dateName);
    while (query.Step()) {
        ItemEntry entry;
        entry.file = {query.Text(0), static_cast<unsigned long long>(query.Int64(1)),
                      static_cast<unsigned long long>(query.Int64(2))};
        if (!IsTrusted(entry.file.time, query.Int64(3))) entry.file.size = ~0ull;
        entry.type = static_cast<int32_t>(query.Int64(4));
        entry.time = query.Double(5);
        entry.guid = GuidOf(query.Blob(6));
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
    // Read from the file when it is used: memory holds no item's data for a load.
    item->LeaveDataOnDisk();
    entry.taken = true;
    return item;
}

bool Catalog::Knows(const std::string& dateName, const ListedFile& file) {
    auto& items = dates_[dateName].items;
    auto found = items.find(file.name);
    if (found == items.end() || !(found->second.file == file)) return false;
    found->second.taken = true;
    return true;
}

bool Catalog::RemoveItemEntries(const std::string& dateName, const std::string* name) {
    SqliteStatement select = db_.Prepare(
        name ? "SELECT items.id, item_texts.text FROM items LEFT JOIN item_texts ON item_texts.id = items.id"
               " WHERE folder = ?1 AND name = ?2"
             : "SELECT items.id, item_texts.text FROM items LEFT JOIN item_texts ON item_texts.id = items.id"
               " WHERE folder = ?1");
    select.Bind(1, dateName);
    if (name) select.Bind(2, *name);
    std::vector<std::pair<int64_t, std::string>> leaving;
    while (select.Step()) {
        std::string text;
        // Damaged text cannot be taken out of the index: what stays there
        // only names an item that a match then finds without the query.
        UnpackText(select, 1, text);
        leaving.emplace_back(select.Int64(0), std::move(text));
    }
    if (!select.Succeeded()) return false;
    SqliteStatement forget = db_.Prepare("INSERT INTO item_text(item_text, rowid, text) VALUES('delete', ?1, ?2)");
    SqliteStatement removeText = db_.Prepare("DELETE FROM item_texts WHERE id = ?1");
    SqliteStatement remove = db_.Prepare("DELETE FROM items WHERE id = ?1");
    for (const auto& [id, text] : leaving) {
        if (!text.empty()) {
            forget.Bind(1, id);
            forget.Bind(2, text);
            if (!forget.Run()) return false;
            forget.Reset();
        }
        removeText.Bind(1, id);
        remove.Bind(1, id);
        if (!removeText.Run() || !remove.Run()) return false;
        removeText.Reset();
        remove.Reset();
    }
    return true;
}

bool Catalog::InsertItem(const std::string& dateName, const NewItemEntry& entry, int64_t written) {
    SqliteStatement insert = db_.Prepare(
        "INSERT INTO items(folder, name, size, time, written, type, captured, guid)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    insert.Bind(1, dateName);
    insert.Bind(2, entry.file.name);
    insert.Bind(3, static_cast<int64_t>(entry.file.size));
    insert.Bind(4, static_cast<int64_t>(entry.file.time));
    insert.Bind(5, written);
    insert.Bind(6, static_cast<int64_t>(entry.item->TypeCode()));
    insert.BindDouble(7, entry.item->CaptureTime());
    insert.BindBlob(8, SpanOf(entry.item->SourceGuid()));
    if (!insert.Run()) return false;
    if (entry.text.folded.empty()) return true;
    const int64_t id = db_.LastInsertId();
    SqliteStatement kept = db_.Prepare("INSERT INTO item_texts(id, text) VALUES(?1, ?2)");
    kept.Bind(1, id);
    if (entry.text.packed.empty())
        kept.Bind(2, entry.text.folded);
    else
        kept.BindBlob(2, entry.text.packed);
    SqliteStatement index = db_.Prepare("INSERT INTO item_text(rowid, text) VALUES(?1, ?2)");
    index.Bind(1, id);
    index.Bind(2, entry.text.folded);
    return kept.Run() && index.Run();
}

bool Catalog::WriteItems(const std::string& dateName,
                         const std::vector<std::pair<ListedFile, ClipItem*>>& items) {
    const auto& entries = dates_[dateName].items;
    const std::set<std::string> listed = NamesOf(items);
    if (!DiffersFromListing(entries, listed)) return true;
    if (!PruneItems(dateName, listed)) return false;
    std::vector<std::pair<ListedFile, ClipItem*>> unknown;
    for (const auto& [file, item] : items) {
        auto found = entries.find(file.name);
        if (found == entries.end() || !found->second.taken) unknown.emplace_back(file, item);
    }
    return AddItems(dateName, unknown);
}

bool Catalog::PruneItems(const std::string& dateName, const std::set<std::string>& listed) {
    const auto& entries = dates_[dateName].items;
    SqliteTransaction transaction(db_);
    for (const auto& [name, entry] : entries) {
        if (entry.taken && listed.count(name)) continue;
        if (!RemoveItemEntries(dateName, &name)) return false;
    }
    return transaction.Commit();
}

bool Catalog::AddItems(const std::string& dateName, const std::vector<std::pair<ListedFile, ClipItem*>>& items) {
    std::vector<NewItemEntry> entries;
    for (const auto& [file, item] : items) entries.push_back({file, item, CatalogText::Of(*item)});
    return AddItems(dateName, entries);
}

bool Catalog::AddItems(const std::string& dateName, const std::vector<NewItemEntry>& entries,
                       const std::string& folder) {
    if (entries.empty()) return true;
    SqliteTransaction transaction(db_);
    const int64_t now = static_cast<int64_t>(Now());
    // An entry the catalog has for the file (an older one, or one the writer
    // added meanwhile) gives way.
    for (const NewItemEntry& entry : entries) {
        // The writer deletes a file before its entry.
        if (!folder.empty() && ::GetFileAttributesA((folder + entry.file.name).c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (!RemoveItemEntries(dateName, &entry.file.name) || !InsertItem(dateName, entry, now)) return false;
    }
    return transaction.Commit();
}

bool Catalog::AddItem(const std::string& dateName, const ListedFile& file, ClipItem& item) {
    return AddItems(dateName, std::vector<NewItemEntry>{{file, &item, CatalogText::Of(item)}});
}

bool Catalog::KeepOnlyDates(const std::vector<std::string>& dateNames) {
    std::set<std::string> kept(dateNames.begin(), dateNames.end());
    std::vector<std::string> gone;
    SqliteStatement query = db_.Prepare("SELECT DISTINCT folder FROM items");
    while (query.Step())
        if (!kept.count(query.Text(0))) gone.push_back(query.Text(0));
    if (gone.empty()) return true;
    SqliteTransaction transaction(db_);
    for (const std::string& folder : gone)
        if (!RemoveItemEntries(folder, nullptr)) return false;
    return transaction.Commit();
}

bool Catalog::RemoveItems(const std::vector<std::pair<std::string, std::string>>& items) {
    if (items.empty()) return true;
    SqliteTransaction transaction(db_);
    for (const auto& [folder, name] : items)
        if (!RemoveItemEntries(folder, &name)) return false;
    return transaction.Commit();
}

bool Catalog::Compact() {
    // The index keeps what left it in its older segments, marked as gone,
    // until they are merged: merged into one, nothing of it is left.
    return db_.Execute("INSERT INTO item_text(item_text) VALUES('optimize')") &&
           db_.Execute("PRAGMA incremental_vacuum") && db_.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool Catalog::TextMergesHeld() {
    SqliteStatement query = db_.Prepare("SELECT v FROM item_text_config WHERE k = 'automerge'");
    return query.Step() && query.Int64(0) == 0;
}

bool Catalog::MergeHeldText() {
    // The first step puts every segment on one level and starts merging them
    // all; the next ones go on with that merge. A step that changes fewer
    // than two rows found nothing left to merge.
    SqliteTransaction transaction(db_);
    const int64_t before = db_.TotalChanges();
    const std::string merge = "INSERT INTO item_text(item_text, rank) VALUES('merge', " +
                              std::to_string(-kMergedPagesPerStep) + ")";
    if (!transaction.IsActive() || !db_.Execute(merge.c_str())) return false;
    const bool more = db_.TotalChanges() - before >= 2;
    if (!more && !db_.Execute(kReleaseTextMerges)) return false;
    if (!transaction.Commit()) return false;
    if (more) return true;
    // The segments merged leave their pages free: a twentieth of the file.
    db_.Execute("PRAGMA incremental_vacuum");
    return false;
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

std::vector<CatalogMatch> Catalog::Matching(std::wstring_view text, size_t limit) {
    std::vector<CatalogMatch> found;
    if (text.empty() || limit == 0) return found;
    const std::wstring folded = FoldCase(text);
    const std::string wanted = Utf8(folded);
    const std::string trigrams = TrigramQuery(folded);
    constexpr char kColumns[] =
        "SELECT items.folder, items.name, items.type, items.captured, items.guid,"
        " CASE WHEN typeof(t.text) = 'blob' THEN t.text END";
    // A text kept as it is is looked at by SQLite; a compressed one comes
    // back to be inflated here.
    SqliteStatement query;
    if (!trigrams.empty()) {
        query = db_.Prepare((std::string(kColumns) +
                             " FROM item_text CROSS JOIN item_texts AS t ON t.id = item_text.rowid"
                             " CROSS JOIN items ON items.id = t.id"
                             " WHERE item_text MATCH ?1 AND (typeof(t.text) = 'blob' OR instr(t.text, ?2) > 0)"
                             " ORDER BY items.captured DESC")
                                .c_str());
        query.Bind(1, trigrams);
    } else {
        // Too short for a trigram: every text is looked at, the newest first.
        query = db_.Prepare((std::string(kColumns) +
                             " FROM items INDEXED BY items_captured CROSS JOIN item_texts AS t ON t.id = items.id"
                             " WHERE typeof(t.text) = 'blob' OR instr(t.text, ?2) > 0 ORDER BY items.captured DESC")
                                .c_str());
    }
    query.Bind(2, wanted);
    // One trigram is the query itself: a long text that holds it needs no
    // inflating (only letters that the index folds alike but FoldCase does
    // not, such as the Kelvin sign and K, could make it wrong).
    const bool oneTrigram = !trigrams.empty() && trigrams.find(" AND ") == std::string::npos;
    std::string packed;
    while (found.size() < limit && query.Step()) {
        // The trigrams may all be there without the query; the text says.
        if (!query.IsNull(5) && !oneTrigram) {
            if (!UnpackText(query, 5, packed)) {
                damaged_ = true;
                continue;
            }
            if (packed.find(wanted) == std::string::npos) continue;
        }
        found.push_back({query.Text(0), query.Text(1), static_cast<int32_t>(query.Int64(2)), query.Double(3),
                         GuidOf(query.Blob(4))});
    }
    damaged_ = damaged_ || (found.size() < limit && !query.Succeeded());
    return found;
}

std::vector<std::string> Catalog::MatchingItems(std::wstring_view text, size_t limit) {
    std::vector<std::string> found;
    for (const CatalogMatch& match : Matching(text, limit)) found.push_back(match.folder + "\\" + match.name);
    return found;
}

bool Catalog::NarrowToTrigrams(std::wstring_view text, CatalogCursor& cursor) {
    const std::string trigrams = TrigramQuery(FoldCase(text));
    if (trigrams.empty()) return false;
    SqliteStatement query = db_.Prepare("SELECT rowid FROM item_text WHERE item_text MATCH ?1");
    query.Bind(1, trigrams);
    std::vector<int64_t> candidates;
    while (query.Step()) candidates.push_back(query.Int64(0));
    if (!query.Succeeded()) return false;
    std::sort(candidates.begin(), candidates.end());
    cursor.candidates = std::move(candidates);
    cursor.narrowed = true;
    return true;
}

std::vector<CatalogMatch> Catalog::MatchingFrom(std::wstring_view text, CatalogCursor& cursor,
                                                const std::function<bool(size_t found)>& goOn) {
    std::vector<CatalogMatch> found;
    if (text.empty() || cursor.done) return found;
    const std::string wanted = Utf8(FoldCase(text));
    // Every entry comes back, hit or not, so that the cursor moves past each
    // one looked at and the search can stop anywhere; the index gives them
    // newest first without sorting, and the statements end with the call, so
    // no read holds back the writers' checkpoints while the window idles.
    constexpr char kRange[] =
        " WHERE items.captured <= ?2 AND (items.captured < ?2 OR items.id < ?3) ORDER BY items.captured DESC, items.id DESC";
    constexpr char kEntry[] =
        "typeof(t.text) = 'blob' OR instr(t.text, ?1) > 0, CASE WHEN typeof(t.text) = 'blob' THEN t.text END,"
        " items.folder, items.name, items.type, items.guid";
    SqliteStatement walk, entry;
    if (cursor.narrowed) {
        // The index alone, and an entry's text only for the index's candidates.
        walk = db_.Prepare((std::string("SELECT items.id, items.captured FROM items INDEXED BY items_captured") + kRange).c_str());
        entry = db_.Prepare((std::string("SELECT ") + kEntry +
                             " FROM items CROSS JOIN item_texts AS t ON t.id = items.id WHERE items.id = ?2")
                                .c_str());
        entry.Bind(1, wanted);
    } else {
        walk = db_.Prepare((std::string("SELECT items.id, items.captured, ") + kEntry +
                            " FROM items INDEXED BY items_captured CROSS JOIN item_texts AS t ON t.id = items.id" + kRange)
                               .c_str());
        walk.Bind(1, wanted);
    }
    walk.BindDouble(2, cursor.time);
    walk.Bind(3, cursor.id);
    std::string packed;
    // The entry's columns from `first` on: whether SQLite found the query in a
    // text kept as it is, the compressed text, and what a tree shows.
    auto take = [&](const SqliteStatement& row, int first, double time) {
        if (row.Int64(first) == 0) return;
        if (!row.IsNull(first + 1)) {
            if (!UnpackText(row, first + 1, packed)) {
                damaged_ = true;
                return;
            }
            if (packed.find(wanted) == std::string::npos) return;
        }
        found.push_back({row.Text(first + 2), row.Text(first + 3), static_cast<int32_t>(row.Int64(first + 4)), time,
                         GuidOf(row.Blob(first + 5))});
    };
    bool stopped = false;
    while (walk.Step()) {
        cursor.id = walk.Int64(0);
        cursor.time = walk.Double(1);
        if (!cursor.narrowed) {
            take(walk, 2, cursor.time);
        } else if (std::binary_search(cursor.candidates.begin(), cursor.candidates.end(), cursor.id)) {
            entry.Reset();
            entry.Bind(2, cursor.id);
            if (entry.Step()) take(entry, 0, cursor.time);
        }
        if (!goOn(found.size())) {
            stopped = true;
            break;
        }
    }
    if (!stopped) {
        cursor.done = true;
        damaged_ = damaged_ || !walk.Succeeded();
    }
    return found;
}
