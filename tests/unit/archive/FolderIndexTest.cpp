#include "archive/ItemIndex.h"
#include "archive/RecordIndex.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "archive/ItemArchive.h"
#include "archive/ItemFile.h"
#include "base/CaptureTime.h"
#include "items/HtmlItem.h"
#include "items/TextItem.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "framework/UniqueHandle.h"
#include "support/TempFolder.h"

namespace {

void WriteRecord(const std::string& path, const std::string& title) {
    CaptureRecord record;
    ::CoCreateGuid(&record.CaptureGuid);
    record.Title = title;
    record.ClassAtom = 0xC123;
    ASSERT_TRUE(record.WriteFile(path));
}

std::string TitleOf(const ItemArchive& archive, const std::string& path) {
    for (const auto& [key, record] : archive.Captures())
        if (record->FilePath == path) return record->Title;
    return "(missing)";
}

}  // namespace

// The index only ever speeds a load up: what the loaded records say always
// comes from the record files as they are now.
TEST(FolderIndexTest, LoadsFollowTheRecordFilesWhateverTheIndexSays) {
    TempFolder folder;
    const std::string appData = folder / "AppData\\";
    CreateFolderPath(appData);
    for (const char* name : {"a", "b", "c"}) WriteRecord(appData + name + ".se", std::string("title ") + name);
    ArchiveOptions options;
    options.folder = folder.Path();
    {
        ItemArchive archive;
        archive.LoadArchive(options);
        ASSERT_EQ(3u, archive.Captures().size());
    }
    ASSERT_TRUE(FileExists(appData + "records.idx"));

    // One record gone, one rewritten, one new: the index is out of date.
    ASSERT_TRUE(::DeleteFileA((appData + "a.se").c_str()));
    WriteRecord(appData + "b.se", "a longer title for b");
    WriteRecord(appData + "d.se", "title d");
    ItemArchive archive;
    archive.LoadArchive(options);
    EXPECT_EQ(3u, archive.Captures().size());
    EXPECT_EQ("(missing)", TitleOf(archive, appData + "a.se"));
    EXPECT_EQ("a longer title for b", TitleOf(archive, appData + "b.se"));
    EXPECT_EQ("title c", TitleOf(archive, appData + "c.se"));
    EXPECT_EQ(0xC123u, archive.Captures().begin()->second->ClassAtom);

    // The load wrote it anew, and reads the same from it.
    ItemArchive again;
    again.LoadArchive(options);
    EXPECT_EQ("title d", TitleOf(again, appData + "d.se"));
    EXPECT_EQ(3u, again.Captures().size());

    // A damaged index is no index.
    const std::string index = ReadFileBytes(appData + "records.idx");
    ASSERT_TRUE(WriteFileBytes(appData + "records.idx", index.substr(0, index.size() / 2) + "\xff\xff"));
    ItemArchive damaged;
    damaged.LoadArchive(options);
    EXPECT_EQ(3u, damaged.Captures().size());
    EXPECT_EQ("title d", TitleOf(damaged, appData + "d.se"));
}

// Items come from the index as they came from their files, large data left on
// disk; a file changed since is read again.
TEST(FolderIndexTest, ItemsLoadFromTheIndexAsFromTheirFiles) {
    TempFolder folder;
    ArchiveOptions options;
    options.folder = folder.Path();
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
        std::map<std::string, ClipItem*> byPath;
        for (const auto& item : archive.Items()) byPath[item->RecordPath()] = item.get();
        return byPath;
    };
    ItemArchive first;
    load(first);
    const std::string index = folder.Path() + "AppData\\" + DateFolderName(CurrentCaptureTime()) + ".items.idx";
    ASSERT_TRUE(FileExists(index));

    // The file of the small text changes behind the index's back.
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
    // Without its date folder, the index goes too.
    for (const std::string& path : paths) ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ASSERT_TRUE(::RemoveDirectoryA((folder.Path() + DateFolderName(CurrentCaptureTime())).c_str()));
    ItemArchive empty;
    EXPECT_TRUE(load(empty).empty());
    EXPECT_FALSE(FileExists(index));
}

// A file changed again within the second or two its index was written in may
// keep the size and time the index has for it: such an entry is not trusted.
TEST(FolderIndexTest, AnEntryAsNewAsItsIndexIsReadFromTheFile) {
    TempFolder folder;
    ArchiveOptions options;
    options.folder = folder.Path();
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
