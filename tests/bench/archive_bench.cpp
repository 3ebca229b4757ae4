// How long loading a large archive takes, and what memory it holds afterwards:
// an archive of 10,000 (or --captures N) captures, loaded with only today's
// items (the default start; 2,000 captures whatever the size) and whole. Prints
// table rows for scripts/bench.
//
// The archive is generated once per day into a cache folder beside the
// executable (a new day has another "today"), by a child process, so that
// the memory the generation used does not count against the load.
//
//   archive_bench [--prepare | --filter | --memory | --start | --first-start] [--captures N]
//                 [--catalogs FOLDER] [cache folder]
//
// --prepare only makes sure the archive is there: scripts/bench then drops its
// files from the page cache, so that the first load reads them from disk as a
// start after boot does. --filter measures only the filter box's keystrokes,
// --memory only what the whole archive holds in memory, with where it goes.
// --start only the starts with the catalog in place (five of each kind), and
// --first-start only a start that finds no catalog.
#include <windows.h>
#include <malloc.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "archive/Catalog.h"
#include "archive/ItemArchive.h"
#include "base/Compression.h"
#include "base/SqliteDatabase.h"
#include "base/CaptureTime.h"
#include "base/Paths.h"
#include "items/BitmapItem.h"
#include "items/HtmlItem.h"
#include "items/MetafileItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"
#include "support/ArchiveGenerator.h"
#include "support/TempFolder.h"
#include "views/GroupTree.h"

namespace {

constexpr unsigned kSeed = 1;
// Repeats of each timing; fewer for large archives, whose runs take long.
int kRuns = 3;
// The archive's size, and the captures made today (a default start loads only
// those): 2,000 of 10,000 by default.
int captures = 10000;
int todayCaptures = 2000;
// Put in front of every row's name.
std::string label = "10,000";
// Where the catalogs go (--catalogs); beside each archive when empty.
std::string catalogFolder;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double TimeMs(const std::function<void()>& work) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    work();
    ::QueryPerformanceCounter(&end);
    return Milliseconds(start, end);
}

// One line of the table: a time (median of the runs, and the first run, which
// is what a start pays) or a memory figure, and what it was measured on.
struct Row {
    std::string what;
    std::vector<double> runsMs;
    std::string result;
};

// Rows for scripts/bench, which gathers every benchmark's rows into one table:
// "row<TAB>what<TAB>value<TAB>note".
void PrintTable(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const std::string what = label + " captures, " + row.what;
        if (row.runsMs.empty()) {
            std::printf("row\t%s\t%s\t\n", what.c_str(), row.result.c_str());
            continue;
        }
        std::vector<double> sorted = row.runsMs;
        std::sort(sorted.begin(), sorted.end());
        if (row.runsMs.size() == 1)
            std::printf("row\t%s\t%.0f ms\t%s\n", what.c_str(), row.runsMs.front(), row.result.c_str());
        else
            std::printf("row\t%s\t%.0f ms (first %.0f)\tmedian of %zu; %s\n", what.c_str(), sorted[sorted.size() / 2],
                        row.runsMs.front(), row.runsMs.size(), row.result.c_str());
    }
    std::fflush(stdout);
}

// Committed private memory, summed over the address space: Wine leaves
// PrivateUsage at the swap use (0 here), Windows fills it with about this.
double CommittedPrivateMiB() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return total / 1048576.0;
}

std::string Memory() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof(counters)))
        return "(no memory counters)";
    char text[200];
    std::snprintf(text, sizeof(text), "working set %.0f MiB (peak %.0f), committed private %.0f MiB",
                  counters.WorkingSetSize / 1048576.0, counters.PeakWorkingSetSize / 1048576.0,
                  CommittedPrivateMiB());
    return text;
}

ArchiveOptions OptionsFor(const std::string& folder, bool whole) {
    ArchiveOptions options;
    options.folder = folder;
    options.loadWholeArchive = whole;
    // Beside the archive (or in the folder given), as the program keeps it outside.
    const std::string archive = folder.substr(0, folder.size() - 1);
    options.catalogPath = catalogFolder.empty() ? archive + ".catalog.db"
                                                : catalogFolder + archive.substr(archive.rfind('\\') + 1) + ".catalog.db";
    // The program passes its own icon; any icon does here.
    options.fallbackIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    return options;
}

std::string Counts(const ItemArchive& archive);

// What the heaps hand out now, and what they hold committed for it.
std::string HeapUse() {
    unsigned long long busy = 0, blocks = 0, committed = 0;
    std::vector<HANDLE> heaps(64);
    DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = ::GetProcessHeaps(count, heaps.data());
    }
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!::HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                busy += entry.cbData;
                ++blocks;
            } else if (entry.wFlags & PROCESS_HEAP_REGION) {
                committed += entry.Region.dwCommittedSize;
            }
        }
        ::HeapUnlock(heaps[i]);
    }
    char text[200];
    std::snprintf(text, sizeof(text), "heaps: %.1f MiB in %llu blocks (%.0f bytes each), regions committed %.1f MiB",
                  busy / 1048576.0, blocks, blocks ? static_cast<double>(busy) / static_cast<double>(blocks) : 0.0,
                  committed / 1048576.0);
    return text;
}

std::string MemoryAndHeaps() { return Memory() + "; " + HeapUse(); }

// Where a loaded archive's bytes go: counts, the objects' own sizes and the
// texts they give (a std::string longer than 15 characters takes a heap block
// where it is kept as one).
std::string Breakdown(const ItemArchive& archive) {
    struct Strings {
        unsigned long long count = 0, chars = 0, onHeap = 0;
        void Add(const std::string& text) {
            ++count;
            chars += text.size();
            if (text.size() > 15) ++onHeap;
        }
        std::string Say(const char* name) const {
            char text[120];
            std::snprintf(text, sizeof(text), "%s %.1f chars (%llu of %llu longer than 15)", name,
                          count ? static_cast<double>(chars) / static_cast<double>(count) : 0.0, onHeap, count);
            return text;
        }
    };
    Strings titles, programs, paths, typeNames, dates, itemPaths;
    std::set<std::string> distinctTitles, distinctPrograms;
    for (const auto& [key, record] : archive.Captures()) {
        titles.Add(record->Title);
        programs.Add(record->ProgramKey);
        paths.Add(record->FilePath);
        distinctTitles.insert(record->Title);
        distinctPrograms.insert(record->ProgramKey);
    }
    size_t kinds[5] = {};
    for (const auto& item : archive.Items()) {
        typeNames.Add(item->TypeName());
        dates.Add(item->DateText());
        itemPaths.Add(item->RecordPath());
        switch (item->TypeCode()) {
        case kTextItemType: ++kinds[0]; break;
        case kBitmapItemType: ++kinds[1]; break;
        case kHtmlItemType: ++kinds[2]; break;
        case kRtfItemType: ++kinds[3]; break;
        default: ++kinds[4]; break;
        }
    }
    char text[400];
    std::snprintf(text, sizeof(text),
                  "sizeof CaptureRecord %zu, TextItem %zu, RtfItem %zu, HtmlItem %zu, BitmapItem %zu, MetafileItem %zu; "
                  "items: %zu text, %zu bitmap, %zu html, %zu rtf, %zu metafile; distinct titles %zu, programs %zu; ",
                  sizeof(CaptureRecord), sizeof(TextItem), sizeof(RtfItem), sizeof(HtmlItem), sizeof(BitmapItem),
                  sizeof(MetafileItem), kinds[0], kinds[1], kinds[2], kinds[3], kinds[4], distinctTitles.size(),
                  distinctPrograms.size());
    return text + titles.Say("title") + ", " + programs.Say("program") + ", " + paths.Say("record path") + "; " +
           typeNames.Say("type name") + ", " + dates.Say("date") + ", " + itemPaths.Say("item path");
}

// The whole archive's memory alone, on the catalog a full run left: loaded,
// once the builder has gone over it, and with the tree built and searched.
void MeasureMemory(const ArchiveOptions& options, std::vector<Row>& rows) {
    rows.push_back({"memory before loading", {}, MemoryAndHeaps()});
    {
        ItemArchive archive;
        rows.push_back({"memory: LoadArchive, whole archive", {TimeMs([&] { archive.LoadArchive(options); })},
                        Counts(archive)});
        rows.push_back({"memory, whole archive loaded", {}, MemoryAndHeaps()});
        archive.WaitForCatalog();
        rows.push_back({"memory, whole archive loaded, the builder done", {}, MemoryAndHeaps()});
        rows.push_back({"memory: where it goes", {}, Breakdown(archive)});
    }
    rows.push_back({"memory, the archive gone", {}, MemoryAndHeaps()});
    {
        std::vector<HANDLE> heaps(64);
        const DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
        for (DWORD i = 0; i < count && i < heaps.size(); ++i) ::HeapCompact(heaps[i], 0);
        _heapmin();
    }
    rows.push_back({"memory, the archive gone, heaps compacted", {}, MemoryAndHeaps()});
    HWND parent = ::CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                    nullptr, nullptr);
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        tree.LoadArchive(options);
        tree.WaitForCatalog();
        tree.Rebuild(kGroupByDate);
        rows.push_back({"memory with the tree by date", {}, MemoryAndHeaps()});
        while (tree.PrepareSearch(20)) {
        }
        rows.push_back({"memory with the tree, search prepared", {}, MemoryAndHeaps()});
        bool found = false;
        rows.push_back({"memory: a find that finds nothing, with the tree",
                        {TimeMs([&] { found = tree.FindItem(L"no such words here", FR_DOWN); })},
                        found ? "found (unexpected)" : "not found"});
    }
    ::DestroyWindow(parent);
}

std::string Counts(const ItemArchive& archive) {
    char text[96];
    std::snprintf(text, sizeof(text), "%zu captures, %zu items, %zu applications", archive.Captures().size(),
                  archive.Items().size(), archive.Applications().size());
    return text;
}

// Loads `runs` times into fresh archives; the last one stays loaded in `kept`.
Row MeasureLoad(const char* what, const ArchiveOptions& options, int runs, std::unique_ptr<ItemArchive>& kept) {
    Row row{what, {}, {}};
    for (int run = 0; run < runs; ++run) {
        kept.reset();
        auto archive = std::make_unique<ItemArchive>();
        row.runsMs.push_back(TimeMs([&] { archive->LoadArchive(options); }));
        kept = std::move(archive);
    }
    row.result = Counts(*kept);
    return row;
}

void Repeat(Row& row, const ArchiveOptions& options, int runs) {
    if (runs <= 0) return;
    std::unique_ptr<ItemArchive> archive;
    const Row more = MeasureLoad("", options, runs, archive);
    row.runsMs.insert(row.runsMs.end(), more.runsMs.begin(), more.runsMs.end());
}

// The tree the program shows: a start loads the archive and rebuilds the tree
// by date; then each grouping, and a search that finds nothing (the worst case:
// every item that can hold text is searched). The parent stays hidden, as the
// program's window does until it is shown.
void MeasureTree(const char* what, const ArchiveOptions& options, std::vector<Row>& rows) {
    HWND parent = ::CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                    nullptr, nullptr);
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        const std::string prefix = std::string(what) + ": ";
        rows.push_back({prefix + "load + rebuild by date", {TimeMs([&] {
                            tree.LoadArchive(options);
                            tree.Rebuild(kGroupByDate);
                        })},
                        std::to_string(tree.Tree().GetCount()) + " nodes"});
        // A large archive's other days follow the start, as the window takes them.
        while (tree.LoadPending()) {
            ::Sleep(5);
            tree.OnCatalogProgress();
        }
        for (int mode : {kGroupByDate, kGroupByType, kGroupByApplication}) {
            Row row{prefix + "rebuild by " + (mode == kGroupByDate ? "date" : mode == kGroupByType ? "type" : "application"),
                    {},
                    {}};
            for (int run = 0; run < kRuns; ++run) row.runsMs.push_back(TimeMs([&] { tree.Rebuild(mode); }));
            row.result = std::to_string(tree.Tree().GetCount()) + " nodes";
            rows.push_back(row);
        }
        Row find{prefix + "find that finds nothing", {}, {}};
        bool found = false;
        // What the program does in slices while idle after a start; a search
        // before it is done does the rest of it.
        rows.push_back({prefix + "search preparation (while idle)", {TimeMs([&] {
                            while (tree.PrepareSearch(20)) {
                            }
                        })},
                        {}});
        for (int run = 0; run < kRuns; ++run)
            find.runsMs.push_back(TimeMs([&] { found = tree.FindItem(L"no such words here", FR_DOWN); }));
        find.result = found ? "found (unexpected)" : "not found";
        rows.push_back(find);
        rows.push_back({prefix + "memory with the tree", {}, Memory()});
    }
    ::DestroyWindow(parent);
}

// The catalog's size against the text it holds, and how long the filter's
// queries of 1 to 12 characters take.
void MeasureCatalog(const std::string& path, std::vector<Row>& rows) {
    unsigned long long text = 0, stored = 0, items = 0;
    {
        SqliteDatabase db;
        if (!db.Open(path)) return;
        SqliteStatement query = db.Prepare("SELECT text FROM item_texts");
        while (query.Step()) {
            ++items;
            if (!query.IsBlob(0)) {
                text += query.Text(0).size();
                stored += query.Text(0).size();
                continue;
            }
            const Bytes packed = query.Blob(0);
            Bytes bytes;
            if (DecompressBlock(packed.data(), packed.size(), bytes)) text += bytes.size();
            stored += packed.size();
        }
    }
    const auto size = ReadFileBytes(path).size() + ReadFileBytes(path + "-wal").size();
    char line[200];
    std::snprintf(line, sizeof(line), "%.1f MB against %.1f MB of text in %llu items (%.2f x); text kept %.1f MB",
                  size / 1e6, text / 1e6, items, text ? static_cast<double>(size) / static_cast<double>(text) : 0.0,
                  stored / 1e6);
    rows.push_back({"catalog size", {}, line});
    Catalog catalog;
    if (!catalog.Open(path)) return;
    // What a filter box asks while the user types three phrases, a query per
    // keystroke; one or two characters also for the newest 100 matches only.
    Row longer{"filter query (catalog), 3 to 12 characters", {}, {}};
    Row shorter{"filter query (catalog), 1 or 2 characters, every match", {}, {}};
    Row newest{"filter query (catalog), 1 or 2 characters, newest 100 matches", {}, {}};
    size_t found = 0;
    for (const wchar_t* phrase : {L"Quarterly report", L"invoice 2026", L"the meeting", L"Z\u00fcrich caf\u00e9"}) {
        const std::wstring typed = phrase;
        for (size_t length = 1; length <= 12 && length <= typed.size(); ++length) {
            const std::wstring query = typed.substr(0, length);
            Row& row = length < 3 ? shorter : longer;
            row.runsMs.push_back(TimeMs([&] { found += catalog.MatchingItems(query).size(); }));
            if (length < 3) newest.runsMs.push_back(TimeMs([&] { catalog.MatchingItems(query, 100); }));
        }
    }
    for (Row* row : {&longer, &shorter, &newest}) {
        std::vector<double> sorted = row->runsMs;
        std::sort(sorted.begin(), sorted.end());
        std::snprintf(line, sizeof(line), "95th percentile %.0f ms, longest %.0f ms",
                      sorted[(sorted.size() - 1) * 95 / 100], sorted.back());
        row->result = line;
        rows.push_back(*row);
    }
}

// The filter box typed into, from a default start (today's items loaded, the
// catalog holding the whole archive): each prefix of 1 to 12 characters of a
// few queries is one keystroke, timed until the tree shows its first matches;
// the rest of a large result is added while idle, timed apart.
void MeasureFilter(const ArchiveOptions& options, std::vector<Row>& rows) {
    HWND parent = ::CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                    nullptr, nullptr);
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        tree.LoadArchive(options);
        // The records of the days not loaded come from the builder, as the
        // window takes them: a match needs its capture's record to be shown.
        while (tree.LoadPending()) {
            ::Sleep(20);
            tree.OnCatalogProgress();
        }
        tree.Rebuild(kGroupByDate);
        const std::string loaded = MemoryAndHeaps();
        std::vector<double> keystrokes, searches;
        double slowestRest = 0, slowestLongerRest = 0;
        size_t mostMatches = 0;
        for (const std::wstring query : {L"invoice number", L"The Report", L"Z\u00fcrich caf\u00e9", L"meeting notes",
                                         L"deadline \u20ac", L"qxzv nowhere"}) {
            for (size_t length = 1; length <= std::min<size_t>(12, query.size()); ++length) {
                // The catalog's part of a keystroke: the newest matches searched for.
                searches.push_back(TimeMs([&] {
                    ItemArchive::FilterSearch search;
                    std::vector<ItemArchive::FilterMatch> found;
                    tree.StartFilter(query.substr(0, length), search);
                    tree.NextFilterMatches(search, found, 25, 500);
                }));
                keystrokes.push_back(TimeMs([&] { tree.SetFilter(query.substr(0, length)); }));
                mostMatches = std::max(mostMatches, tree.FilterMatchCount());
                const double rest = TimeMs([&] {
                    while (tree.ContinueFilter(20)) {
                    }
                });
                slowestRest = std::max(slowestRest, rest);
                if (length >= 3) slowestLongerRest = std::max(slowestLongerRest, rest);
            }
            tree.EndFilter(nullptr);
        }
        std::vector<double> sorted = keystrokes;
        std::sort(sorted.begin(), sorted.end());
        const double p95 = sorted[std::min(sorted.size() - 1, sorted.size() * 95 / 100)];
        std::sort(searches.begin(), searches.end());
        char note[400];
        std::snprintf(note, sizeof(note),
                      "95th percentile of %zu keystrokes; median %.0f, slowest %.0f ms; the catalog's first step alone: "
                      "median %.0f, 95th percentile %.0f ms; up to %zu matches; the rest searched and added while idle "
                      "in %.0f ms at most (%.0f ms for 3 characters or more)",
                      sorted.size(), sorted[sorted.size() / 2], sorted.back(), searches[searches.size() / 2],
                      searches[std::min(searches.size() - 1, searches.size() * 95 / 100)], mostMatches, slowestRest,
                      slowestLongerRest);
        rows.push_back({"filter, per keystroke, today's items loaded", {p95}, note});
        rows.push_back({"filter: memory with the tree, before the keystrokes", {}, loaded});
        rows.push_back({"filter: memory with the tree, after them", {}, MemoryAndHeaps()});
    }
    ::DestroyWindow(parent);
}

// A start as the program makes it: the archive loaded and the tree built by
// date, with the builder started by the load checking the catalog meanwhile.
// `whole` gets when the rest of the archive was in the tree (from the load's
// start), taken over as the window's message handler does, and its longest step.
struct HandOver {
    double allInMs = 0, longestStepMs = 0;
    std::string counts;
};
double TimeStart(const ArchiveOptions& options, std::string* counts = nullptr, HandOver* whole = nullptr) {
    HWND parent = ::CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                    nullptr, nullptr);
    double ms = 0;
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        LARGE_INTEGER started;
        ::QueryPerformanceCounter(&started);
        ms = TimeMs([&] {
            tree.LoadArchive(options);
            tree.Rebuild(kGroupByDate);
        });
        if (counts) *counts = Counts(tree) + ", " + std::to_string(tree.Tree().GetCount()) + " nodes";
        if (whole) {
            while (tree.LoadPending()) {
                ::Sleep(5);
                whole->longestStepMs = std::max(whole->longestStepMs, TimeMs([&] { tree.OnCatalogProgress(); }));
            }
            LARGE_INTEGER done;
            ::QueryPerformanceCounter(&done);
            whole->allInMs = Milliseconds(started, done);
            whole->counts = Counts(tree) + ", " + std::to_string(tree.Tree().GetCount()) + " nodes";
        }
        tree.WaitForCatalog();
    }
    ::DestroyWindow(parent);
    return ms;
}

// The starts alone (--start), with a catalog that a finished build left.
void MeasureStarts(const std::string& folder, std::vector<Row>& rows) {
    if (::GetFileAttributesA(OptionsFor(folder, false).catalogPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ItemArchive loader;
        loader.LoadArchive(OptionsFor(folder, false));
        loader.WaitForCatalog();
    }
    constexpr int kStartRuns = 5;
    for (bool whole : {false, true}) {
        Row load{whole ? "LoadArchive, whole archive" : "LoadArchive, today's items", {}, {}};
        // What the window thread spends taking the records over, as its
        // message handler does: the longest step, and when all are there.
        Row handOver{"after a start of today's items: records taken over (the longest step)", {}, {}};
        double longestStep = 0;
        for (int run = 0; run < kStartRuns; ++run) {
            ItemArchive archive;
            LARGE_INTEGER started;
            ::QueryPerformanceCounter(&started);
            load.runsMs.push_back(TimeMs([&] { archive.LoadArchive(OptionsFor(folder, whole)); }));
            load.result = Counts(archive);
            while (archive.LoadPending()) {
                ::Sleep(20);
                longestStep = std::max(longestStep, TimeMs([&] { archive.OnCatalogProgress(); }));
            }
            LARGE_INTEGER done;
            ::QueryPerformanceCounter(&done);
            if (!whole) handOver.runsMs.push_back(Milliseconds(started, done));
            archive.WaitForCatalog();
        }
        rows.push_back(load);
        if (!whole) {
            char note[160];
            std::snprintf(note, sizeof(note), "every record there after this (from the load's start); longest step %.0f ms",
                          longestStep);
            handOver.result = note;
            rows.push_back(handOver);
        }
        Row start{whole ? "start to a filled tree, whole archive" : "start, today's items", {}, {}};
        Row allIn{"whole archive: every day in the tree after the start (from the load's start)", {}, {}};
        double longestHandOverStep = 0;
        for (int run = 0; run < kStartRuns; ++run) {
            HandOver handed;
            start.runsMs.push_back(TimeStart(OptionsFor(folder, whole), &start.result, whole ? &handed : nullptr));
            allIn.runsMs.push_back(handed.allInMs);
            longestHandOverStep = std::max(longestHandOverStep, handed.longestStepMs);
            allIn.result = handed.counts;
        }
        rows.push_back(start);
        if (whole) {
            allIn.result += "; longest step " + std::to_string(static_cast<int>(longestHandOverStep)) + " ms";
            rows.push_back(allIn);
        }
    }
}

// A start that finds no catalog (--first-start): the window is usable once
// the tree is built; the catalog is completed in the background.
void MeasureFirstStart(const std::string& folder, std::vector<Row>& rows) {
    ArchiveOptions options = OptionsFor(folder, false);
    options.readUnknownDaysLater = true;
    Catalog::Delete(options.catalogPath);
    HWND parent = ::CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                    nullptr, nullptr);
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        rows.push_back({"first start, today's items: load + rebuild by date (the window is usable)", {TimeMs([&] {
                            tree.LoadArchive(options);
                            tree.Rebuild(kGroupByDate);
                        })},
                        Counts(tree)});
        rows.push_back({"first start: catalog complete in the background, after the load",
                        {TimeMs([&] { tree.WaitForCatalog(); })},
                        Counts(tree)});
    }
    // A filter typed while the first catalog is made: today's items, which
    // the catalog does not know yet, are looked at in their files.
    Catalog::Delete(options.catalogPath);
    {
        GroupTree tree;
        tree.CreateTree(parent, 1, RECT{0, 0, 200, 600});
        LARGE_INTEGER begun, now;
        ::QueryPerformanceCounter(&begun);
        tree.LoadArchive(options);
        tree.Rebuild(kGroupByDate);
        std::vector<double> keystrokes;
        std::string moments;
        double lastKey = -1e9, seconds = 0;
        const wchar_t* query = L"report";
        for (size_t typed = 1; tree.CatalogPercent() < 100 && seconds < 120; typed = typed % 6 + 1) {
            // Between keystrokes, the window's part of the build as its messages bring it.
            tree.OnCatalogProgress();
            ::Sleep(20);
            ::QueryPerformanceCounter(&now);
            seconds = Milliseconds(begun, now) / 1000;
            if (seconds - lastKey < 2) continue;
            lastKey = seconds;
            const double ms = TimeMs([&] { tree.SetFilter(std::wstring(query, typed)); });
            keystrokes.push_back(ms);
            char moment[40];
            std::snprintf(moment, sizeof(moment), "%s%.0f s: %.0f ms", moments.empty() ? "" : ", ", seconds, ms);
            moments += moment;
        }
        tree.EndFilter(nullptr);
        tree.WaitForCatalog();
        rows.push_back({"first start: a keystroke of the filter while the catalog is made", keystrokes, moments});
    }
    ::DestroyWindow(parent);
}

// The generation runs in a child process (see above); a marker beside the
// folder says it completed and what it wrote.
bool GenerateInChild(const std::string& folder, const std::string& marker, int today) {
    char self[MAX_PATH * 2] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    // Without its trailing backslash, which would escape the closing quote.
    const std::string folderArgument = folder.substr(0, folder.find_last_not_of('\\') + 1);
    std::string command = "\"" + std::string(self) + "\" --generate \"" + folderArgument + "\" " + std::to_string(captures) +
                          " " + std::to_string(kSeed) + " \"" + marker + "\" " + std::to_string(today);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return exitCode == 0 && ::GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int Generate(const std::string& folder, int count, unsigned seed, const std::string& marker, int today) {
    DeleteFolderTree(folder);
    ArchiveShape shape;
    shape.captures = count;
    shape.seed = seed;
    shape.todayShare = static_cast<double>(today) / count;
    GeneratedArchive written;
    if (!GenerateArchive(folder, shape, &written)) {
        std::fprintf(stderr, "bench: the archive could not be written to %s\n", folder.c_str());
        return 1;
    }
    FILE* file = std::fopen(marker.c_str(), "w");
    if (!file) return 1;
    std::fprintf(file, "%d captures, %d items; today %d captures, %d items\n", written.captures, written.items,
                 written.todayCaptures, written.todayItems);
    return std::fclose(file) == 0 ? 0 : 1;
}

std::string ReadLine(const std::string& path) {
    char line[256] = {};
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        if (!std::fgets(line, sizeof(line), file)) line[0] = 0;
        std::fclose(file);
    }
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Archives of earlier days (or other sizes) are removed: each is some 100 MB.
void RemoveOtherArchives(const std::string& cache, const std::string& keep, const std::string& keepToo) {
    ForEachEntry(cache, [&](const WIN32_FIND_DATAA& entry) {
        const std::string name = entry.cFileName;
        if (name.rfind("archive-", 0) != 0 || name.rfind(keep, 0) == 0 || name.rfind(keepToo, 0) == 0) return;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DeleteFolderTree(cache + name + "\\");
        else
            ::DeleteFileA((cache + name).c_str());
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--generate") == 0) {
        if (argc != 7) return 2;
        return Generate(WithTrailingBackslash(argv[2]), std::atoi(argv[3]),
                        static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)), argv[5], std::atoi(argv[6]));
    }

    int argument = 1;
    const bool prepareOnly = argc > argument && std::strcmp(argv[argument], "--prepare") == 0;
    if (prepareOnly) ++argument;
    // Only the filter's rows, on the archive and catalog a full run left.
    const bool filterOnly = argc > argument && std::strcmp(argv[argument], "--filter") == 0;
    if (filterOnly) ++argument;
    const bool memoryOnly = !filterOnly && argc > argument && std::strcmp(argv[argument], "--memory") == 0;
    if (memoryOnly) ++argument;
    const bool startOnly = argc > argument && std::strcmp(argv[argument], "--start") == 0;
    if (startOnly) ++argument;
    const bool firstStartOnly = argc > argument && std::strcmp(argv[argument], "--first-start") == 0;
    if (firstStartOnly) ++argument;
    if (argc > argument + 1 && std::strcmp(argv[argument], "--captures") == 0) {
        captures = std::max(100, std::atoi(argv[argument + 1]));
        argument += 2;
        // Today's captures stay as many as in the usual archive: a longer
        // history must not make the default start slower.
        label = captures == 100000 ? "100,000" : std::to_string(captures);
        if (captures > 10000) kRuns = 1;
    }
    if (argc > argument + 1 && std::strcmp(argv[argument], "--catalogs") == 0) {
        catalogFolder = WithTrailingBackslash(argv[argument + 1]);
        CreateFolderPath(catalogFolder);
        argument += 2;
    }
    // The cache lives in the build folder, not in the Wine prefix that scripts/bench removes.
    const std::string cache =
        argc > argument ? WithTrailingBackslash(argv[argument]) : ProgramFolder() + "bench-cache\\";
    const std::string name = "archive-" + std::to_string(captures) + "-seed" + std::to_string(kSeed) + "-" +
                             DateFolderName(CurrentCaptureTime());
    const std::string folder = cache + name + "\\";
    const std::string marker = cache + name + ".done";
    CreateFolderPath(cache);
    // Archives of earlier days go; the other sizes of today stay.
    RemoveOtherArchives(cache, "archive-10000-seed" + std::to_string(kSeed) + "-" + DateFolderName(CurrentCaptureTime()),
                        "archive-100000-seed" + std::to_string(kSeed) + "-" + DateFolderName(CurrentCaptureTime()));


    // The usual archive, and one whose captures were all made today: grouped by
    // date with only today's items loaded, they all stand at the tree's root.
    const std::string todayFolder = cache + name + "-today\\";
    const std::string todayMarker = cache + name + "-today.done";
    std::vector<Row> rows;
    // The all-today archive is made only at the usual size.
    const bool withAllToday = captures <= 10000;
    for (const auto& [where, done, today] : {std::tuple{folder, marker, std::min(todayCaptures, captures)},
                                             std::tuple{todayFolder, todayMarker, captures}}) {
        if (where == todayFolder && !withAllToday) continue;
        if (::GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        std::fprintf(stderr, "bench: generating an archive of %d captures in %s (once a day)\n", captures, where.c_str());
        bool generated = false;
        const double ms = TimeMs([&] { generated = GenerateInChild(where, done, today); });
        if (!generated) {
            std::fprintf(stderr, "bench: the archive could not be generated\n");
            return 1;
        }
        rows.push_back({"generate an archive", {ms}, {}});
    }
    if (prepareOnly) {
        if (!rows.empty()) PrintTable(rows);
        return 0;
    }
    if (filterOnly) {
        // The catalog holds every day once its builder is done.
        {
            ItemArchive loader;
            loader.LoadArchive(OptionsFor(folder, false));
            loader.WaitForCatalog();
        }
        MeasureFilter(OptionsFor(folder, false), rows);
        PrintTable(rows);
        return 0;
    }
    if (memoryOnly) {
        MeasureMemory(OptionsFor(folder, true), rows);
        PrintTable(rows);
        return 0;
    }
    if (startOnly || firstStartOnly) {
        if (startOnly)
            MeasureStarts(folder, rows);
        else
            MeasureFirstStart(folder, rows);
        PrintTable(rows);
        return 0;
    }
    rows.push_back({"as generated", {}, ReadLine(marker)});
    rows.push_back({"memory before loading", {}, Memory()});
    // The first load makes the catalog; the repeats use it.
    for (const std::string& where : {folder, todayFolder}) Catalog::Delete(OptionsFor(where, false).catalogPath);

    // The first load of each kind is what a start pays, and the memory is measured
    // with its archive still loaded; the repeats only add to the medians.
    std::unique_ptr<ItemArchive> archive;
    Row today = MeasureLoad("LoadArchive, today's items", OptionsFor(folder, false), 1, archive);
    const Row todayMemory{"memory, today's items loaded", {}, Memory()};
    // The first start catalogs the whole archive in the background meanwhile.
    rows.push_back({"first start: catalog complete in the background, after the load", {TimeMs([&] {
                        archive->WaitForCatalog();
                    })},
                    {}});
    MeasureCatalog(OptionsFor(folder, false).catalogPath, rows);
    archive.reset();
    Row whole = MeasureLoad("LoadArchive, whole archive", OptionsFor(folder, true), 1, archive);
    const Row wholeMemory{"memory, whole archive loaded", {}, Memory()};
    archive.reset();
    Repeat(today, OptionsFor(folder, false), kRuns - 1);
    Repeat(whole, OptionsFor(folder, true), kRuns - 1);
    rows.insert(rows.end(), {today, todayMemory, whole, wholeMemory});
    MeasureTree("tree, today's items", OptionsFor(folder, false), rows);
    MeasureTree("tree, whole archive", OptionsFor(folder, true), rows);
    if (withAllToday) MeasureTree("tree, all captures made today", OptionsFor(todayFolder, false), rows);
    MeasureFilter(OptionsFor(folder, false), rows);

    // A first start with the whole archive: today's items at once, earlier
    // days as the builder reads them.
    {
        ArchiveOptions wholeFirst = OptionsFor(folder, true);
        wholeFirst.readUnknownDaysLater = true;
        Catalog::Delete(wholeFirst.catalogPath);
        ItemArchive first;
        rows.push_back({"first start, whole archive: LoadArchive (the window is usable)", {TimeMs([&] {
                            first.LoadArchive(wholeFirst);
                        })},
                        Counts(first)});
        rows.push_back({"first start, whole archive: every day loaded and cataloged", {TimeMs([&] {
                            first.WaitForCatalog();
                        })},
                        Counts(first) + "; " + Memory()});
    }

    PrintTable(rows);
    return 0;
}
