#include "archive/Catalog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/ItemArchive.h"
#include "archive/ItemFile.h"
#include "archive/ItemWriter.h"
#include "base/CaptureTime.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "framework/UniqueHandle.h"
#include "items/HtmlItem.h"
#include "items/TextItem.h"
#include "support/ArchiveGenerator.h"
#include "support/PipedChild.h"
#include "support/TempFolder.h"

namespace {

void WriteRecord(const std::string& path, const std::string& title) {
    CaptureRecord record;
    ::CoCreateGuid(&record.CaptureGuid);
    record.Title = title;
    record.ClassAtom = 0xC123;
    record.ProgramKey = "tool.exe|Tool";
    ASSERT_TRUE(record.WriteFile(path));
}

std::string TitleOf(const ItemArchive& archive, const std::string& path) {
    for (const auto& [key, record] : archive.Captures())
        if (record->FilePath == path) return record->Title;
    return "(missing)";
}

// Every file below the folder, sub-folders included.
std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::string& file : FilesBelow(folder + entry.cFileName + "\\")) files.push_back(file);
        } else {
            files.push_back(folder + entry.cFileName);
        }
    });
    return files;
}

// A generated archive of the captures over the days, and the options that load
// it whole without a catalog.
ArchiveOptions GeneratedWholeArchive(const TempFolder& folder, int captures, int days) {
    ArchiveShape shape;
    shape.captures = captures;
    shape.days = days;
    EXPECT_TRUE(GenerateArchive(folder.Path(), shape));
    ArchiveOptions options;
    options.folder = folder.Path();
    options.loadWholeArchive = true;
    return options;
}

}  // namespace

// The catalog only ever speeds a load up: what the loaded records say always
// comes from the record files as they are now, and a catalog deleted, damaged
// or of another version is made anew with the same answers. None of it lives
// in the archive folder, and the old index files go.
TEST(CatalogTest, LoadsFollowTheRecordFilesWhateverTheCatalogSays) {
    TempFolder folder, local;
    const std::string appData = folder / "AppData\\";
    CreateFolderPath(appData);
    for (const char* name : {"a", "b", "c"}) WriteRecord(appData + name + ".se", std::string("title ") + name);
    ASSERT_TRUE(WriteFileBytes(appData + "records.idx", "old index"));
    ASSERT_TRUE(WriteFileBytes(appData + "2026-01-01.items.idx", "old index"));
    ArchiveOptions options;
    options.folder = folder.Path();
    options.catalogPath = Catalog::PathFor(local.Path(), folder.Path());
    {
        ItemArchive archive;
        archive.LoadArchive(options);
        ASSERT_EQ(3u, archive.Captures().size());
    }
    ASSERT_TRUE(FileExists(options.catalogPath));
    EXPECT_FALSE(FileExists(appData + "records.idx"));
    EXPECT_FALSE(FileExists(appData + "2026-01-01.items.idx"));
    for (const std::string& file : FilesBelow(folder.Path())) EXPECT_EQ(".se", file.substr(file.size() - 3)) << file;
    // One name for the folder however it is written.
    EXPECT_EQ(options.catalogPath, Catalog::PathFor(local.Path(), folder.Path().substr(0, folder.Path().size() - 1)));

    // One record gone, one rewritten, one new: the catalog is out of date.
    ASSERT_TRUE(::DeleteFileA((appData + "a.se").c_str()));
    WriteRecord(appData + "b.se", "a longer title for b");
    WriteRecord(appData + "d.se", "title d");
    auto check = [&](const char* when) {
        ItemArchive archive;
        archive.LoadArchive(options);
        EXPECT_EQ(3u, archive.Captures().size()) << when;
        EXPECT_EQ("(missing)", TitleOf(archive, appData + "a.se")) << when;
        EXPECT_EQ("a longer title for b", TitleOf(archive, appData + "b.se")) << when;
        EXPECT_EQ("title d", TitleOf(archive, appData + "d.se")) << when;
        EXPECT_EQ(0xC123u, archive.Captures().begin()->second->ClassAtom) << when;
        EXPECT_EQ("tool.exe|Tool", archive.Captures().begin()->second->ProgramKey) << when;
    };
    check("out of date");
    check("written anew");
    ASSERT_TRUE(Catalog::Delete(options.catalogPath));
    check("deleted");
    const std::string bytes = ReadFileBytes(options.catalogPath);
    ASSERT_TRUE(WriteFileBytes(options.catalogPath, bytes.substr(0, bytes.size() / 2) + std::string(5000, '\xff')));
    check("damaged");
    {
        SqliteDatabase db;
        ASSERT_TRUE(db.Open(options.catalogPath));
        ASSERT_TRUE(db.Execute("DELETE FROM records; PRAGMA user_version = 99"));
    }
    check("of another version");
    SqliteDatabase db;
    ASSERT_TRUE(db.Open(options.catalogPath));
    SqliteStatement version = db.Prepare("PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_NE(99, version.Int64(0));
}

// Items come from the catalog as they came from their files, large data left
// on disk; a file changed since is read again, and a date folder that is gone
// takes its entries along.
TEST(CatalogTest, ItemsLoadFromTheCatalogAsFromTheirFiles) {
    TempFolder folder, local;
    ArchiveOptions options;
    options.folder = folder.Path();
    options.catalogPath = local / "catalog.db";
    const GUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::vector<std::string> paths;
    std::map<std::string, double> times;
    auto store = [&](ClipItem& item) {
        item.SetSourceGuid(guid);
        ASSERT_TRUE(StoreItem(item, folder.Path()));
        paths.push_back(item.RecordPath());
        times[item.RecordPath()] = item.CaptureTime();
    };
    TextItem small, large;
    ASSERT_TRUE(small.SetText(L"small text"));
    ASSERT_TRUE(large.SetText(std::wstring(100000, L'x')));
    HtmlItem html;
    ASSERT_TRUE(html.SetHtmlText(L"<b>bold</b>"));
    store(small);
    store(large);
    store(html);

    auto load = [&](ItemArchive& archive) {
        archive.LoadArchive(options);
        archive.WaitForCatalog();
        std::map<std::string, ClipItem*> byPath;
        for (const auto& item : archive.Items()) byPath[item->RecordPath()] = item.get();
        return byPath;
    };
    ItemArchive first;
    load(first);
    ASSERT_EQ(1u, first.MatchingItems(L"SMALL").size());

    // The file of the small text changes behind the catalog's back.
    TextItem changed;
    ASSERT_TRUE(changed.SetText(L"changed text, longer"));
    changed.SetSourceGuid(guid);
    changed.SetCaptureTime(times[paths[0]]);
    ASSERT_TRUE(WriteItemFile(changed, paths[0]));

    ItemArchive archive;
    auto items = load(archive);
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(L"changed text, longer", static_cast<TextItem*>(items[paths[0]])->Text());
    EXPECT_TRUE(items[paths[1]]->IsDataOnDisk());
    EXPECT_EQ(100000u, static_cast<TextItem*>(items[paths[1]])->Text().size());
    Bytes content;
    ASSERT_TRUE(static_cast<HtmlItem*>(items[paths[2]])->GetContent(content));
    EXPECT_EQ("<b>bold</b>", std::string(content.begin(), content.end()));
    for (const auto& [path, item] : items) {
        EXPECT_TRUE(IsEqualGUID(guid, item->SourceGuid())) << path;
        EXPECT_EQ(times[path], item->CaptureTime()) << path;
    }
    // The tree's Find looks at an HTML item's markup, which the catalog leaves out.
    const auto mayHoldTag = archive.ItemsThatMayContain(L"<b>");
    ASSERT_TRUE(mayHoldTag);
    EXPECT_TRUE(mayHoldTag->count(items[paths[2]]));
    EXPECT_TRUE(archive.MatchingItems(L"small").empty());
    EXPECT_EQ(1u, archive.MatchingItems(L"Changed").size());
    // Without its date folder, the entries go too.
    for (const std::string& path : paths) ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ASSERT_TRUE(::RemoveDirectoryA((folder.Path() + DateFolderName(CurrentCaptureTime())).c_str()));
    ItemArchive empty;
    EXPECT_TRUE(load(empty).empty());
    Catalog catalog;
    ASSERT_TRUE(catalog.Open(options.catalogPath));
    EXPECT_TRUE(catalog.MatchingItems(L"text").empty());
}

// A file changed again within the second or two its entry was written in may
// keep the size and time the entry has for it: such an entry is not trusted.
TEST(CatalogTest, AnEntryAsNewAsItsCatalogIsReadFromTheFile) {
    TempFolder folder, local;
    ArchiveOptions options;
    options.folder = folder.Path();
    options.catalogPath = local / "catalog.db";
    TextItem item;
    ASSERT_TRUE(item.SetText(L"text-1"));
    ASSERT_TRUE(StoreItem(item, folder.Path()));
    WIN32_FILE_ATTRIBUTE_DATA before = {};
    ASSERT_TRUE(::GetFileAttributesExA(item.RecordPath().c_str(), GetFileExInfoStandard, &before));
    {
        ItemArchive first;
        first.LoadArchive(options);
    }
    TextItem changed;
    ASSERT_TRUE(changed.SetText(L"text-2"));
    changed.SetCaptureTime(item.CaptureTime());
    ASSERT_TRUE(WriteItemFile(changed, item.RecordPath()));
    {
        UniqueFile file(::CreateFileA(item.RecordPath().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &before.ftLastWriteTime));
    }
    ASSERT_EQ(before.nFileSizeLow, ReadFileBytes(item.RecordPath()).size());

    ItemArchive archive;
    archive.LoadArchive(options);
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(L"text-2", static_cast<TextItem&>(*archive.Items()[0]).Text());
}

// What the catalog finds is what a scan of the files finds, in any case and
// script, for queries too short for its trigrams too, over the whole archive
// although the load took today's items only: the rest was cataloged on the
// builder's thread.
TEST(CatalogTest, MatchingItemsEqualAScanOfTheFiles) {
    TempFolder folder, local;
    ArchiveOptions options = GeneratedWholeArchive(folder, 400, 5);
    options.catalogPath = local / "first.db";
    ItemArchive files;
    files.LoadArchive(options);
    {
        // Begun while the first catalog is made, a filter looks at the loaded
        // items in memory, keeps none of their data, and counts none again
        // once the catalog has them.
        ItemArchive::FilterSearch search;
        std::vector<ItemArchive::FilterMatch> found;
        files.StartFilter(L"e", search);
        files.NextFilterMatches(search, found, 0, 7);
        files.WaitForCatalog();
        while (files.NextFilterMatches(search, found, 0, 7)) {
        }
        EXPECT_TRUE(std::all_of(files.Items().begin(), files.Items().end(),
                                [](const auto& item) { return item->IsDataOnDisk(); }));
        EXPECT_EQ(static_cast<size_t>(std::count_if(files.Items().begin(), files.Items().end(), [](const auto& item) {
                      return FoldCase(SearchableText(*item)).find(L"E") != std::wstring::npos;
                  })),
                  found.size());
    }
    options.loadWholeArchive = false;
    options.catalogPath = local / "catalog.db";
    ItemArchive cataloged;
    cataloged.LoadArchive(options);
    cataloged.WaitForCatalog();
    EXPECT_EQ(100, cataloged.CatalogPercent());
    Catalog catalog;
    ASSERT_TRUE(catalog.Open(options.catalogPath));
    // The new catalog's index, merged once at the build's end, answers the
    // same, and the pages its segments left are given back.
    EXPECT_FALSE(catalog.TextMergesHeld());
    SqliteStatement freePages = catalog.Database().Prepare("PRAGMA freelist_count");
    ASSERT_TRUE(freePages.Step());
    EXPECT_EQ(0, freePages.Int64(0));
    for (const wchar_t* query : {L"z\u00dcRICH", L"CAF\u00c9", L"\u00e9", L"\u20ac", L"e", L"Th", L"the Report",
                                 L"REPORT", L"invoice ", L"no such words"}) {
        std::set<std::string> scanned, matched, filtered;
        const std::wstring wanted = FoldCase(query);
        for (const auto& item : files.Items())
            if (FoldCase(SearchableText(*item)).find(wanted) != std::wstring::npos)
                scanned.insert(item->RecordPath().substr(folder.Path().size()));
        for (const std::string& item : catalog.MatchingItems(query)) matched.insert(item);
        EXPECT_EQ(scanned, matched) << scanned.size() << " " << matched.size();
        std::vector<double> times;
        // The filter box's search, from today's items, reaches the other days
        // too, and goes on where each short step stopped.
        ItemArchive::FilterSearch search;
        std::vector<ItemArchive::FilterMatch> found;
        cataloged.StartFilter(query, search);
        while (cataloged.NextFilterMatches(search, found, 0, 7)) {
        }
        for (const ItemArchive::FilterMatch& match : found) {
            const std::string path = match.loaded ? match.loaded->RecordPath() : cataloged.PathOf(match.entry);
            filtered.insert(path.substr(folder.Path().size()));
            times.push_back(match.loaded ? match.loaded->CaptureTime() : match.entry.time);
        }
        EXPECT_EQ(scanned, filtered) << scanned.size() << " " << filtered.size();
        EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));
    }
}

// A kill at any moment of a catalog's writing leaves one that opens sound.
TEST(CatalogTest, AKillDuringAWriteLeavesACatalogThatOpens) {
    TempFolder folder, local;
    ASSERT_TRUE(GenerateArchive(folder.Path(), 300, 7));
    const std::string catalogPath = local / "catalog.db";
    const std::string archiveFolder = folder.Path().substr(0, folder.Path().size() - 1);
    PipedChild child("\"" + ProgramFolder() + "svault_test_store_and_die.exe\" --catalog \"" + archiveFolder +
                     "\" \"" + catalogPath + "\"");
    ASSERT_TRUE(child.Started());
    // The second catalog has begun: the kill lands somewhere in its making.
    child.ReadLines(2);
    ::Sleep(150);
    child.Kill();

    SqliteDatabase db;
    ASSERT_TRUE(db.Open(catalogPath));
    EXPECT_TRUE(db.IsSound());
}

namespace {

// The catalog file with its log, as the disk holds them.
std::string CatalogBytes(const std::string& path) { return ReadFileBytes(path) + ReadFileBytes(path + "-wal"); }

}  // namespace

// A capture joins the catalog as its file is written, by the text it shows:
// an HTML item by its shown text, without its markup or scripts.
TEST(CatalogTest, ACaptureIsFoundByWhatItShowsAsSoonAsItsFileIsWritten) {
    TempFolder folder, local;
    const std::string catalogPath = local / "catalog.db";
    ItemWriter writer;
    writer.SetCatalog(catalogPath);
    TextItem text;
    ASSERT_TRUE(text.SetText(L"Meeting moved to Thursday"));
    HtmlItem html;
    ASSERT_TRUE(html.SetHtmlText(L"<p class=\"note\">Quarterly&nbsp;r&eacute;sum&eacute; &amp;\r\n  <b>plan</b></p>"
                                 L"<!-- a comment --><script>var hiddenScript = 1;</script><style>p { color: red }</style>"
                                 L"<p>costs &#8364;&#x32;0</p>"));
    writer.QueueItem(text, NewItemPath(text, folder.Path()));
    writer.QueueItem(html, NewItemPath(html, folder.Path()));
    writer.Flush();
    auto relative = [&](const ClipItem& item) { return item.RecordPath().substr(folder.Path().size()); };

    Catalog catalog;
    ASSERT_TRUE(catalog.Open(catalogPath));
    EXPECT_EQ(std::vector<std::string>{relative(text)}, catalog.MatchingItems(L"thursday"));
    EXPECT_EQ(std::vector<std::string>{relative(html)}, catalog.MatchingItems(L"QUARTERLY R\u00c9SUM\u00c9 & PLAN"));
    EXPECT_EQ(std::vector<std::string>{relative(html)}, catalog.MatchingItems(L"plan\r\ncosts \u20ac20"));
    for (const wchar_t* markup : {L"<p", L"class", L"comment", L"hiddenScript", L"color", L"&amp;", L"nbsp", L"#8364"})
        EXPECT_TRUE(catalog.MatchingItems(markup).empty()) << markup;
}

// A deleted item's text leaves the catalog file, its index included, by the
// end of a flush; a file deleted before its entry was made never gets one.
TEST(CatalogTest, ADeletedItemsTextLeavesTheCatalogFile) {
    TempFolder folder, local;
    const std::string catalogPath = local / "catalog.db";
    ItemWriter writer;
    writer.SetCatalog(catalogPath);
    TextItem kept, secret;
    ASSERT_TRUE(kept.SetText(L"an ordinary note"));
    // Characters no other text has: their trigram stands whole in the index.
    ASSERT_TRUE(secret.SetText(L"pin \u9451\u6dfc\u7cf8"));
    writer.QueueItem(kept, NewItemPath(kept, folder.Path()));
    writer.QueueItem(secret, NewItemPath(secret, folder.Path()));
    writer.Flush();
    const std::string rare = "\xe6\xb7\xbc\xe7\xb3\xb8";  // the last two characters in UTF-8
    ASSERT_NE(std::string::npos, CatalogBytes(catalogPath).find(rare));

    auto remove = [&](const ClipItem& item) {
        const std::string& path = item.RecordPath();
        writer.QueueDelete(path, catalogPath, path.substr(folder.Path().size(), path.rfind('\\') - folder.Path().size()));
    };
    remove(secret);
    // Copied by mistake and deleted at once, before the writer catalogs it.
    TextItem gone;
    ASSERT_TRUE(gone.SetText(L"copied by mistake"));
    writer.QueueItem(gone, NewItemPath(gone, folder.Path()));
    remove(gone);
    writer.Flush();
    EXPECT_EQ(std::string::npos, CatalogBytes(catalogPath).find(rare));
    Catalog catalog;
    ASSERT_TRUE(catalog.Open(catalogPath));
    EXPECT_TRUE(catalog.MatchingItems(L"\u9451\u6dfc\u7cf8").empty());
    EXPECT_TRUE(catalog.MatchingItems(L"by mistake").empty());
    EXPECT_EQ(1u, catalog.MatchingItems(L"ordinary").size());
    // Read by the builder, then deleted before the builder's entry is written.
    const std::string& path = kept.RecordPath();
    const std::string dateFolder = path.substr(0, path.rfind('\\') + 1);
    const std::string date = dateFolder.substr(folder.Path().size(), dateFolder.size() - folder.Path().size() - 1);
    TextItem late;
    ASSERT_TRUE(late.SetText(L"read, then deleted"));
    ASSERT_TRUE(catalog.AddItems(date, {{{"C_late.txt", 1, 1}, &late, CatalogText::Of(late)}}, dateFolder));
    EXPECT_TRUE(catalog.MatchingItems(L"then deleted").empty());
}

// A whole-archive start without the catalog's days loads today's items, and
// the earlier days join as the builder reads them, told to the archive as
// arrivals: the same items as a load that reads every file. The next start
// takes them all from the catalog.
TEST(CatalogTest, EarlierDaysUnknownToTheCatalogArriveAfterTheLoad) {
    TempFolder folder, local;
    ArchiveOptions options = GeneratedWholeArchive(folder, 150, 4);
    ItemArchive files;
    files.LoadArchive(options);
    auto paths = [](const ItemArchive& archive) {
        std::multiset<std::string> all;
        for (const auto& item : archive.Items()) all.insert(item->RecordPath());
        return all;
    };

    struct Counting : ItemArchive {
        size_t added = 0;
        void OnItemsLoaded(const std::vector<ClipItem*>& items) override { added += items.size(); }
    };
    options.catalogPath = local / "catalog.db";
    options.readUnknownDaysLater = true;
    Counting archive;
    archive.LoadArchive(options);
    const size_t loaded = archive.Items().size();
    EXPECT_LT(loaded, files.Items().size());
    archive.WaitForCatalog();
    EXPECT_EQ(paths(files), paths(archive));
    EXPECT_EQ(files.Items().size() - loaded, archive.added);

    Counting again;
    again.LoadArchive(options);
    EXPECT_EQ(paths(files), paths(again));
    again.WaitForCatalog();
    EXPECT_EQ(0u, again.added);

    // A large archive's start loads today's items alone; the builder hands
    // the other days over from the catalog, and the limit waits for them.
    options.recordsLaterFrom = 1;
    options.itemsLimit = 1000;
    Counting large;
    large.LoadArchive(options);
    EXPECT_EQ(loaded, large.Items().size());
    EXPECT_TRUE(large.LoadPending());
    EXPECT_EQ(nullptr, large.TrimCutoff());
    large.WaitForCatalog();
    EXPECT_FALSE(large.LoadPending());
    EXPECT_EQ(paths(files), paths(large));
    EXPECT_EQ(files.Items().size() - loaded, large.added);
    EXPECT_EQ(files.Captures().size(), large.Captures().size());
}
