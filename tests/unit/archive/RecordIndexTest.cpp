#include "archive/RecordIndex.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "archive/ItemArchive.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
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
TEST(RecordIndexTest, LoadsFollowTheRecordFilesWhateverTheIndexSays) {
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
