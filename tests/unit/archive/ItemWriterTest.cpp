#include "archive/ItemWriter.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "archive/ItemArchive.h"
#include "archive/ItemFile.h"
#include "base/AllocationCheck.h"
#include "base/CaptureTime.h"
#include "base/Paths.h"
#include "framework/UniqueHandle.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"
#include "support/ItemFileBytes.h"
#include "support/PipedChild.h"
#include "support/TempFolder.h"

namespace {

// A text of `chars` characters that compresses no better than most text does.
std::wstring Text(size_t chars, unsigned seed) {
    std::wstring text(chars, L' ');
    for (wchar_t& c : text) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<wchar_t>(L'a' + (seed >> 16) % 26);
    }
    return text;
}

std::unique_ptr<TextItem> TextItemOf(const std::wstring& text) {
    auto item = std::make_unique<TextItem>();
    EXPECT_TRUE(item->SetText(text));
    return item;
}

std::wstring TextInFile(const std::string& path) {
    TextItem read;
    return ReadItemFile(read, path) ? read.Text() : L"(unreadable)";
}

}  // namespace

TEST(ItemWriterTest, FilesAreWrittenInOrderAndLargeDataIsReadBackWhenUsed) {
    TempFolder folder;
    // Room for eight of the large texts read back.
    ItemWriter::Budgets budgets;
    budgets.readBack = 8 * 20000 * sizeof(wchar_t);
    ItemWriter writer(budgets);
    std::mutex mutex;
    std::vector<std::string> stored;
    writer.SetStoredHook([&](const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex);
        stored.push_back(path);
    });
    CaptureRecord record;
    writer.QueueRecord(record, folder / "AppData\\record.se");
    std::vector<std::unique_ptr<TextItem>> items;
    std::vector<std::string> expected = {folder / "AppData\\record.se"};
    for (unsigned i = 0; i < 15; ++i) {
        // Every third is short: it keeps its data in memory.
        items.push_back(TextItemOf(Text(i % 3 ? 20000 : 100, i)));
        expected.push_back(folder / ("day\\item" + std::to_string(i) + ".tx"));
        writer.QueueItem(*items.back(), expected.back());
        EXPECT_EQ(expected.back(), items.back()->RecordPath());
    }
    writer.Flush();
    EXPECT_EQ(expected, stored);
    EXPECT_EQ(folder / "AppData\\record.se", record.FilePath);

    for (unsigned i = 0; i < items.size(); ++i) {
        EXPECT_EQ(i % 3 != 0, items[i]->IsDataOnDisk()) << i;
        EXPECT_EQ(Text(i % 3 ? 20000 : 100, i), items[i]->Text()) << i;
    }
    // Read back, only the last few keep their data.
    size_t inMemory = 0;
    for (const auto& item : items) inMemory += item->IsDataOnDisk() ? 0 : 1;
    EXPECT_EQ(5u + 8u, inMemory);
    EXPECT_TRUE(items[1]->IsDataOnDisk());
    EXPECT_FALSE(items[14]->IsDataOnDisk());

    // A file gone meanwhile leaves the item without data, not with stale data.
    ASSERT_TRUE(::DeleteFileA(items[1]->RecordPath().c_str()));
    EXPECT_FALSE(items[1]->EnsureData());
    EXPECT_TRUE(items[1]->Text().empty());
}

TEST(ItemWriterTest, AnItemWhoseFileCannotBeWrittenKeepsItsData) {
    TempFolder folder;
    // A file where the date folder would be: neither the write nor the folder can be made.
    ASSERT_TRUE(WriteFileBytes(folder / "day", "in the way"));
    ItemWriter writer;
    auto item = TextItemOf(Text(50000, 7));
    writer.QueueItem(*item, folder / "day\\item.tx");
    writer.Flush();
    EXPECT_FALSE(item->IsDataOnDisk());
    EXPECT_EQ(Text(50000, 7), item->Text());
}

TEST(ItemWriterTest, AnEditWaitsForThePendingWriteAndEndsUpInTheFile) {
    TempFolder folder;
    ItemWriter writer;
    // Large enough that the edit usually comes while the captured text is written.
    auto first = TextItemOf(Text(4 << 20, 1));
    auto item = TextItemOf(Text(4 << 20, 2));
    writer.QueueItem(*first, folder / "day\\first.tx");
    writer.QueueItem(*item, folder / "day\\item.tx");
    ASSERT_TRUE(item->SetText(L"edited"));
    ASSERT_TRUE(WriteItemFile(*item, item->RecordPath()));
    writer.Flush();
    EXPECT_EQ(L"edited", TextInFile(folder / "day\\item.tx"));
    EXPECT_EQ(L"edited", item->Text());
}

// A killed run leaves every file it reported stored whole, and the archive
// loads with all of them.
TEST(ItemWriterTest, AKillLosesNoFileReportedStored) {
    TempFolder folder;
    // 300,000 characters: each file takes long enough to write that the kill
    // usually lands in the middle of one.
    // Without its last "\\", which would escape the closing quote.
    const std::string archiveFolder = folder.Path().substr(0, folder.Path().size() - 1);
    PipedChild child("\"" + ProgramFolder() + "svault_test_store_and_die.exe\" \"" + archiveFolder + "\" 300000");
    ASSERT_TRUE(child.Started());
    child.ReadLines(40);
    child.Kill();
    const std::string& output = child.Output();

    std::set<std::string> reportedItems;
    for (size_t at = 0, end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string path = output.substr(at, end - at);
        if (!path.empty() && path.back() == '\r') path.pop_back();  // the child's text-mode output
        if (path.size() > 3 && path.compare(path.size() - 3, 3, ".se") == 0) {
            CaptureRecord record;
            EXPECT_TRUE(record.ReadFile(path)) << path;
        } else {
            EXPECT_EQ(300000u, TextInFile(path).size()) << path;
            reportedItems.insert(path);
        }
    }
    ASSERT_GE(reportedItems.size(), 10u);

    ItemArchive archive;
    ArchiveOptions options;
    options.folder = folder.Path();
    archive.LoadArchive(options);
    std::set<std::string> loaded;
    for (const auto& item : archive.Items()) loaded.insert(item->RecordPath());
    for (const std::string& path : reportedItems) EXPECT_EQ(1u, loaded.count(path)) << path;
    // The write the kill cut short left only its temporary file, which the load removed.
    const std::string today = folder.Path() + DateFolderName(CurrentCaptureTime()) + "\\";
    EXPECT_EQ(archive.Items().size(), ListFiles(today).size());
}

// Crafted item files that inflate to 500 MiB each are checked without their
// data being held, and load only what is used.
TEST(ItemWriterTest, HugeTextsInTodaysFolderLoadWithoutTheirData) {
    TempFolder folder;
    const std::string today = folder.Path() + DateFolderName(CurrentCaptureTime()) + "\\";
    CreateFolderPath(today);
    const std::string bomb = ItemFileWithData(kTextItemType, ZerosStream(500));
    ASSERT_LT(bomb.size(), 600u * 1024);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(WriteFileBytes(today + "C-" + std::to_string(i) + ".tx", bomb));

    ItemArchive archive;
    ArchiveOptions options;
    options.folder = folder.Path();
    archive.LoadArchive(options);
    ASSERT_EQ(8u, archive.Items().size());
    for (const auto& item : archive.Items()) EXPECT_TRUE(item->IsDataOnDisk());
    EXPECT_LT(PeakResidentBytes(), 1536u * 1024 * 1024);
}

namespace {

DWORD gWindowThread = 0;

// Memory runs short for large blocks on the writer's thread only.
void FailLargeBlocksOffTheWindowThread(size_t bytes) {
    if (::GetCurrentThreadId() != gWindowThread && bytes >= 256 * 1024) throw std::bad_alloc();
}

}  // namespace

// What the writer's thread throws ends one job, not the program: the item
// keeps its data, the next ones are stored, and the window hears of it.
TEST(ItemWriterTest, AnAllocationFailureOnTheWriterThreadLeavesTheItemInMemory) {
    TempFolder folder;
    ItemWriter writer;
    UniqueWindow window(::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    writer.SetNotifyWindow(window.get(), WM_APP + 7);
    gWindowThread = ::GetCurrentThreadId();
    SetAllocationCheck(FailLargeBlocksOffTheWindowThread);
    auto large = TextItemOf(Text(300000, 3));
    auto after = TextItemOf(Text(20000, 4));
    writer.QueueItem(*large, folder / "day\\large.tx");
    writer.QueueItem(*after, folder / "day\\after.tx");
    writer.Flush();
    SetAllocationCheck(nullptr);
    EXPECT_FALSE(FileExists(folder / "day\\large.tx"));
    EXPECT_FALSE(large->IsDataOnDisk());
    EXPECT_EQ(Text(300000, 3), large->Text());
    EXPECT_EQ(Text(20000, 4), TextInFile(folder / "day\\after.tx"));
    EXPECT_TRUE(after->IsDataOnDisk());
    MSG message;
    EXPECT_TRUE(::PeekMessageA(&message, window.get(), WM_APP + 7, WM_APP + 7, PM_REMOVE));

    // A read-back that finds no memory is a failed read, not a crash.
    SetAllocationCheck([](size_t bytes) {
        if (bytes >= 16 * 1024) throw std::bad_alloc();
    });
    EXPECT_FALSE(after->EnsureData());
    SetAllocationCheck(nullptr);
    EXPECT_TRUE(after->IsDataOnDisk());
    EXPECT_EQ(Text(20000, 4), after->Text());
}

// Items that cannot be written keep their data up to the budget; past it the
// user is told once, and what is stored stays as it is.
TEST(ItemWriterTest, UnwrittenItemsKeepTheirDataWithinTheBudget) {
    TempFolder folder;
    ItemWriter::Budgets budgets;
    budgets.unwritten = 100 * 1024;
    ItemWriter writer(budgets);
    auto stored = TextItemOf(Text(20000, 9));
    writer.QueueItem(*stored, folder / "stored.tx");
    writer.Flush();
    const std::string storedFile = ReadFileBytes(folder / "stored.tx");
    // A file where the date folder would be: nothing can be written there.
    ASSERT_TRUE(WriteFileBytes(folder / "day", "in the way"));
    std::vector<std::unique_ptr<TextItem>> items;
    for (unsigned i = 0; i < 4; ++i) {
        items.push_back(TextItemOf(Text(20000, i)));  // 40,000 bytes each
        writer.QueueItem(*items.back(), folder / ("day\\item" + std::to_string(i) + ".tx"));
    }
    writer.Flush();
    EXPECT_EQ(Text(20000, 0), items[0]->Text());
    EXPECT_EQ(Text(20000, 1), items[1]->Text());
    for (unsigned i = 2; i < 4; ++i) EXPECT_FALSE(items[i]->EnsureData()) << i;
    EXPECT_TRUE(writer.TakeWritesFailingNotice());
    EXPECT_FALSE(writer.TakeWritesFailingNotice());
    EXPECT_EQ(storedFile, ReadFileBytes(folder / "stored.tx"));
}

// The text Find keeps for an RTF item is worked out again only when the
// document changes, not each time its data comes back from the file.
TEST(ItemWriterTest, AReadBackKeepsTheRevision) {
    TempFolder folder;
    ItemWriter writer;
    RtfItem item;
    std::string rtf = "{\\rtf1 ";
    for (unsigned i = 0; rtf.size() < 200000; ++i) rtf += std::to_string(i * 2654435761u) + " ";
    ASSERT_TRUE(item.SetRtf(rtf + "}"));
    writer.QueueItem(item, folder / "item.rt");
    writer.Flush();
    ASSERT_TRUE(item.IsDataOnDisk());
    const uint64_t revision = item.Revision();
    ASSERT_TRUE(item.EnsureData());
    EXPECT_EQ(revision, item.Revision());
    ASSERT_TRUE(item.SetRtf("{\\rtf1 other}"));
    EXPECT_NE(revision, item.Revision());
}
