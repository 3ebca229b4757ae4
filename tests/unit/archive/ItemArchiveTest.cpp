#include "archive/ItemArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "archive/Catalog.h"
#include "archive/ExcludeList.h"
#include "archive/ItemFile.h"
#include "archive/ProgramKey.h"
#include "base/AllocationCheck.h"
#include "base/CaptureTime.h"
#include "base/Paths.h"
#include "base/Compression.h"
#include "base/RecordFile.h"
#include "base/RecordFormat.h"
#include "framework/UniqueHandle.h"
#include "items/BitmapItem.h"
#include "items/TextItem.h"
#include "support/ClipboardHelper.h"
#include "support/ImageTestHelpers.h"
#include "support/TempFolder.h"

namespace {

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// A packed 24-bit DIB of 3 x 2 pixels.
std::string SmallDib() {
    std::string bits;
    for (int i = 0; i < 24; ++i) bits += static_cast<char>(i * 10);
    return PackDib(MakeHeader(3, 2, 24, BI_RGB, 0, 24), {}, {}, bits);
}

std::string CfHtml(const std::string& fragment) {
    const std::string body = "<html><body><!--StartFragment-->" + fragment + "<!--EndFragment--></body></html>";
    char header[256];
    const int headerLength = 105;
    std::snprintf(header, sizeof(header),
                  "Version:0.9\r\nStartHTML:%010d\r\nEndHTML:%010d\r\nStartFragment:%010d\r\nEndFragment:%010d\r\n",
                  headerLength, headerLength + static_cast<int>(body.size()), headerLength + 33,
                  headerLength + 33 + static_cast<int>(fragment.size()));
    return std::string(header) + body + '\0';
}

// The archive goes into a temporary folder.
class ItemArchiveTest : public ::testing::Test {
protected:
    ItemArchiveTest() {
        options_.folder = folder_.Path();
        options_.catalogPath = catalogFolder_ / "catalog.db";

        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ::DefWindowProcA;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ScrapvaultTestSource";
        windowClass.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
        ::RegisterClassA(&windowClass);
        source_ = ::CreateWindowExA(0, "ScrapvaultTestSource", "Source Window", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    }
    ~ItemArchiveTest() override { ::DestroyWindow(source_); }

    // Opens the archive with the fixture's options (loading what the folder holds).
    ItemArchive& Open(ItemArchive& archive) {
        archive.LoadArchive(options_);
        return archive;
    }

    std::string Today() const { return folder_.Path() + DateFolderName(CurrentCaptureTime()) + "\\"; }
    std::string AppData() const { return folder_.Path() + "AppData\\"; }

    ArchiveOptions options_;
    TempFolder folder_;
    TempFolder catalogFolder_;
    ClipboardHelper clipboard_;
    HWND source_ = nullptr;
};

TEST_F(ItemArchiveTest, OneChangeGivesOneRecordAndItemsSharingItsGuidTextFirst) {
    const UINT rtf = ClipboardHelper::Register("Rich Text Format");
    const UINT html = ClipboardHelper::Register("HTML Format");
    ASSERT_TRUE(clipboard_.Set({{rtf, std::string("{\\rtf1 hi}") + '\0'},
                                {html, CfHtml("<b>hi</b>")},
                                {CF_UNICODETEXT, Utf16Bytes(L"h\u00e9llo")}}));
    ItemArchive archive;
    Open(archive);
    archive.Capture(source_);
    archive.FlushWrites();

    ASSERT_EQ(3u, archive.Items().size());
    ASSERT_EQ(1u, archive.Captures().size());
    const CaptureRecord& record = *archive.Captures().begin()->second;
    EXPECT_EQ("Source Window", record.Title);
    EXPECT_EQ(kTextItemType, archive.Items()[0]->TypeCode());
    EXPECT_EQ(L"h\u00e9llo", static_cast<TextItem&>(*archive.Items()[0]).Text());
    std::vector<int> others = {archive.Items()[1]->TypeCode(), archive.Items()[2]->TypeCode()};
    std::sort(others.begin(), others.end());
    EXPECT_EQ((std::vector<int>{kRtfItemType, kHtmlItemType}), others);
    for (const auto& item : archive.Items()) {
        EXPECT_TRUE(IsEqualGUID(record.CaptureGuid, item->SourceGuid()));
        EXPECT_EQ(&record, archive.FindCapture(*item));
        EXPECT_TRUE(FileExists(item->RecordPath())) << item->RecordPath();
        EXPECT_EQ(0u, item->RecordPath().find(Today()));
    }
    EXPECT_EQ(1u, ListFiles(AppData(), "*.se").size());
    EXPECT_EQ(1u, ListFiles(AppData(), "*.app").size());
    EXPECT_EQ(3u, ListFiles(Today()).size());

    // A second change from a window of the same class adds a record, no application.
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"again")}}));
    ::SetWindowTextA(source_, "Another Title");
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(4u, archive.Items().size());
    EXPECT_EQ(2u, ListFiles(AppData(), "*.se").size());
    EXPECT_EQ(1u, ListFiles(AppData(), "*.app").size());

    // Everything is there again after a load.
    ItemArchive loaded;
    loaded.LoadArchive(options_);
    EXPECT_EQ(4u, loaded.Items().size());
    EXPECT_EQ(2u, loaded.Captures().size());
    EXPECT_EQ(1u, loaded.Applications().size());
    EXPECT_EQ("Source Window", loaded.Applications().begin()->second->Title);
}

TEST_F(ItemArchiveTest, BitmapTriggersTakeTheDibAndTextSwitchesOff) {
    // CF_DIB makes the system offer CF_BITMAP as well; CF_TIFF is a second trigger.
    ASSERT_TRUE(clipboard_.Set({{CF_DIB, SmallDib()}, {CF_TIFF, "II*\0not really"}}));
    ItemArchive archive;
    Open(archive);
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_EQ(2u, archive.Items().size());
    for (const auto& item : archive.Items()) EXPECT_EQ(kBitmapItemType, item->TypeCode());

    // TIFF without a DIB: the change is recorded, nothing is kept.
    ASSERT_TRUE(clipboard_.Set({{CF_TIFF, "II*\0not really"}}));
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(2u, archive.Captures().size());

    // With texts switched off only the record remains of a text change.
    options_.formats.texts = false;
    archive.LoadArchive(options_);
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"secret")}}));
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(3u, archive.Captures().size());
    EXPECT_TRUE(ListFiles(Today(), "*.tx").empty());
    EXPECT_FALSE(archive.Capture(source_));
    archive.FlushWrites();
}

TEST_F(ItemArchiveTest, APngWithoutABitmapGivesABitmapItemAndADamagedOneNothing) {
    const UINT png = ClipboardHelper::Register("PNG");
    std::vector<std::string> rows(3, std::string("\x10\x20\x30\x80\x40\x50\x60\xFF", 8));
    const std::string picture = MakePng(2, 3, 8, 6, rows);
    ItemArchive archive;
    Open(archive);

    // As X11 programs offer pictures through Wine: "PNG" alone.
    ASSERT_TRUE(clipboard_.Set({{png, picture}}));
    EXPECT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.Items().size());
    const auto& item = static_cast<const BitmapItem&>(*archive.Items()[0]);
    EXPECT_EQ(kBitmapItemType, item.TypeCode());
    EXPECT_EQ(32u, U16At(std::string(item.Payload().begin(), item.Payload().begin() + 40), 14));
    EXPECT_EQ(1u, ListFiles(Today(), "*.db").size());

    // Beside a bitmap, the bitmap is the picture: one item, of its depth.
    ASSERT_TRUE(clipboard_.Set({{CF_DIB, SmallDib()}, {png, picture}}));
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_EQ(2u, archive.Items().size());
    const auto& fromDib = static_cast<const BitmapItem&>(*archive.Items()[1]);
    EXPECT_EQ(24u, U16At(std::string(fromDib.Payload().begin(), fromDib.Payload().begin() + 40), 14));

    // Damaged: the change is recorded, nothing is kept, and capture goes on.
    ASSERT_TRUE(clipboard_.Set({{png, picture.substr(0, picture.size() - 30)}}));
    EXPECT_FALSE(archive.Capture(source_));
    archive.FlushWrites();
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(3u, archive.Captures().size());

    // Pictures switched off: nothing of it either.
    options_.formats.images = false;
    archive.LoadArchive(options_);
    ASSERT_TRUE(clipboard_.Set({{png, picture}}));
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(2u, archive.Items().size());
}

TEST_F(ItemArchiveTest, EmptyTextStillGivesAnItemAndAGoneSourceAnUnknownApplications) {
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"")}}));
    ItemArchive archive;
    Open(archive);
    EXPECT_TRUE(archive.Capture(reinterpret_cast<HWND>(0x7654)));
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.Captures().size());
    EXPECT_EQ("Unknown Application", archive.Captures().begin()->second->Title);
    EXPECT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    ASSERT_EQ(2u, archive.Items().size());
    EXPECT_FALSE(static_cast<TextItem&>(*archive.Items()[1]).HasText());
    EXPECT_EQ(48u, ReadFileBytes(archive.Items()[1]->RecordPath()).size());

    ASSERT_TRUE(clipboard_.Empty());
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(2u, archive.Captures().size());
}

TEST_F(ItemArchiveTest, ChangesMarkedPrivateLeaveNoTrace) {
    const UINT exclude = ClipboardHelper::Register("ExcludeClipboardContentFromMonitorProcessing");
    const UINT ignore = ClipboardHelper::Register("Clipboard Viewer Ignore");
    const UINT history = ClipboardHelper::Register("CanIncludeInClipboardHistory");
    const UINT passwordHint = ClipboardHelper::Register("x-kde-passwordManagerHint");
    const std::string zero(4, '\0');
    const std::string one("\1\0\0\0", 4);
    ItemArchive archive;
    Open(archive);
    for (const auto& mark : std::vector<std::pair<UINT, std::string>>{
             {exclude, ""}, {ignore, ""}, {history, zero}, {passwordHint, "secret"}}) {
        ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}, mark}));
        archive.Capture(source_);
        archive.FlushWrites();
    }
    EXPECT_TRUE(archive.Items().empty());
    EXPECT_TRUE(archive.Captures().empty());
    EXPECT_TRUE(archive.Applications().empty());
    EXPECT_TRUE(ListFiles(AppData()).empty());
    EXPECT_TRUE(ListFiles(Today()).empty());

    // Allowed into the history, a password manager's hint of anything but a
    // secret, or unmarked: kept.
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}, {history, one}}));
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}, {passwordHint, "public"}}));
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}}));
    archive.Capture(source_);
    archive.FlushWrites();
    EXPECT_EQ(3u, archive.Items().size());
}

namespace {

// Puts text on the clipboard as the window's own copy.
bool SetTextOwnedBy(HWND owner, const std::wstring& text) {
    if (!::OpenClipboard(owner)) return false;
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (void* data = block ? ::GlobalLock(block) : nullptr) {
        std::memcpy(data, text.c_str(), bytes);
        ::GlobalUnlock(block);
    }
    const bool set = block && ::SetClipboardData(CF_UNICODETEXT, block);
    if (!set && block) ::GlobalFree(block);
    return ::CloseClipboard() && set;
}

}  // namespace

TEST_F(ItemArchiveTest, AChangeOwnedByAnExcludedProgramIsNotArchivedAndAnotherProgramsIs) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ScrapvaultTestVault";
    ::RegisterClassA(&windowClass);
    UniqueWindow vault(::CreateWindowExA(0, "ScrapvaultTestVault", "Vault", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                         nullptr, nullptr, windowClass.hInstance, nullptr));
    // Programs copy from a child (an edit box): the program is its top-level window's.
    HWND box = ::CreateWindowExA(0, "Static", "", WS_CHILD, 0, 0, 10, 10, vault.get(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(vault && box);
    ExcludeList excluded;
    ASSERT_TRUE(excluded.Add(ProgramKeyOf(vault.get())));
    ItemArchive archive;
    Open(archive);
    archive.SetExcludeList(&excluded);

    ASSERT_TRUE(SetTextOwnedBy(box, L"a password"));
    EXPECT_FALSE(archive.Capture(nullptr));
    EXPECT_TRUE(archive.Captures().empty());
    ASSERT_TRUE(SetTextOwnedBy(source_, L"a note"));
    EXPECT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(L"a note", static_cast<TextItem&>(*archive.Items()[0]).Text());
    EXPECT_EQ(1u, ListFiles(AppData(), "*.se").size());
}

TEST_F(ItemArchiveTest, UnwritableArchiveFolderKeepsItemsForTheRun) {
    // A folder path that runs through a file can never be created.
    const std::string blocker = folder_ / "blocker";
    ASSERT_TRUE(WriteFileBytes(blocker, "x"));
    options_.folder = blocker + "\\Archive\\";
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"kept in memory")}}));
    ItemArchive archive;
    Open(archive);
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(1u, archive.Captures().size());
    EXPECT_FALSE(FileExists(archive.Items()[0]->RecordPath()));
}

// Writes a capture record at the given time straight into AppData.
void WriteRecord(const std::string& appData, double time) {
    CaptureRecord record;
    ::CoCreateGuid(&record.CaptureGuid);
    record.CaptureTime = time;
    record.Title = "Writer";
    CreateFolderPath(appData);
    ASSERT_TRUE(record.WriteFile(MakeUniqueFileName(appData, nullptr, ".se")));
}

TEST_F(ItemArchiveTest, TrimCutoffIsTheNewestCaptureOutsideTheLimit) {
    const double t1 = 45000.25, t2 = 45000.5, t3 = 45001.0, t4 = 45002.75;
    for (double t : {t3, t1, t4, t2}) WriteRecord(AppData(), t);
    ItemArchive archive;
    Open(archive);
    archive.LoadArchive(options_);
    ASSERT_EQ(4u, archive.Captures().size());

    for (const auto& [limit, cutoff] : std::vector<std::pair<int, double>>{{2, t2}, {3, t1}, {4, 0}, {-1, 0}}) {
        options_.itemsLimit = limit;
        archive.LoadArchive(options_);
        const CaptureRecord* newestOut = archive.TrimCutoff();
        EXPECT_DOUBLE_EQ(cutoff, newestOut ? newestOut->CaptureTime : 0) << limit;
    }
}

TEST_F(ItemArchiveTest, DiskSizeLimitCountsEveryByteBelowTheFolderButNoLinkOrUnfinishedWrite) {
    options_.diskSizeLimit = 10;
    CreateFolderPath(folder_ / "1_1_2001\\");
    ASSERT_TRUE(WriteFileBytes(folder_ / "1_1_2001\\big.bin", std::string(10 * 1024 * 1024 - 10, 'x')));
    ASSERT_TRUE(WriteFileBytes(folder_ / "ten.bin", std::string(10, 'y')));
    // A link back to the archive (a loop) and an unfinished write count nothing.
    ASSERT_TRUE(::CreateSymbolicLinkA((folder_ / "loop").c_str(), folder_.Path().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(WriteFileBytes(folder_ / "1_1_2001\\~sv-unfinished-.partial", std::string(4096, 'z')));
    ItemArchive archive;
    Open(archive);
    int warnings = 0;
    archive.SetSizeLimitHook([&] { ++warnings; });
    EXPECT_EQ(10485760u, FolderSize(folder_.Path()));
    EXPECT_FALSE(archive.IsOverDiskSizeLimit());
    archive.CheckDiskSize();
    EXPECT_EQ(0, warnings);
    ASSERT_TRUE(WriteFileBytes(folder_ / "ten.bin", std::string(11, 'y')));
    EXPECT_TRUE(archive.IsOverDiskSizeLimit());
    archive.CheckDiskSize();
    EXPECT_EQ(1, warnings);

    options_.diskSizeLimit = 0;
    archive.LoadArchive(options_);
    EXPECT_FALSE(archive.IsOverDiskSizeLimit());
}

TEST_F(ItemArchiveTest, LoadKeepsEveryReadableFileAndSkipsTheRest) {
    // Two good items today, a damaged one, a stray file, an item in a folder
    // named like AppData in other letters (never searched), one from another day.
    auto store = [&](const wchar_t* text, double time) {
        TextItem item;
        item.SetText(text);
        item.SetCaptureTime(time);
        EXPECT_TRUE(StoreItem(item, folder_.Path()));
        return item.RecordPath();
    };
    const double now = CurrentCaptureTime();
    store(L"one", now);
    store(L"two", now);
    const std::string older = store(L"old", now - 40);
    ASSERT_TRUE(WriteFileBytes(Today() + "C-broken-.tx", std::string("F\1\0\0\0Y\4\0\0\0\x08\0\0\0", 14)));
    ASSERT_TRUE(WriteFileBytes(Today() + "notes.txt", "not an item"));
    ASSERT_TRUE(WriteFileBytes(Today() + "C-cut-.tx", std::string("F\1\0\0\0B\xff\xff\xff\xffxyz", 13)));
    CreateFolderPath(folder_ / "aPPdATA\\");
    ASSERT_TRUE(WriteFileBytes(folder_ / "aPPdATA\\C-x-.tx", ReadFileBytes(older)));
    CreateFolderPath(AppData());
    ASSERT_TRUE(WriteFileBytes(AppData() + "damaged.se", "F\1"));
    ASSERT_TRUE(WriteFileBytes(AppData() + "damaged.app", "G"));
    WriteRecord(AppData(), now);

    ItemArchive archive;
    Open(archive);
    archive.LoadArchive(options_);
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(1u, archive.Captures().size());
    EXPECT_TRUE(archive.Applications().empty());
    EXPECT_TRUE(FileExists(Today() + "C-broken-.tx")) << "unreadable files stay on disk";

    options_.loadWholeArchive = true;
    archive.LoadArchive(options_);
    EXPECT_EQ(3u, archive.Items().size());
}

TEST_F(ItemArchiveTest, LoadedItemsKeepTheOrderOfTheFolderWalk) {
    // Files are read several at a time; the archive still lists them as the walk met them.
    const double now = CurrentCaptureTime();
    for (int i = 0; i < 60; ++i) {
        TextItem item;
        item.SetText(std::wstring(static_cast<size_t>(1 + i * 97), L'a' + i % 26));
        item.SetCaptureTime(i < 40 ? now : now - 3);
        ASSERT_TRUE(StoreItem(item, folder_.Path()));
    }
    std::vector<std::string> walked;
    ForEachEntry(folder_.Path(), [&](const WIN32_FIND_DATAA& folder) {
        const std::string path = folder_.Path() + folder.cFileName + "\\";
        for (const std::string& name : ListFiles(path)) walked.push_back(path + name);
    });

    ItemArchive archive;
    options_.loadWholeArchive = true;
    Open(archive);
    std::vector<std::string> loaded;
    for (const auto& item : archive.Items()) loaded.push_back(item->RecordPath());
    EXPECT_EQ(walked, loaded);
}

TEST_F(ItemArchiveTest, RemovalAndEraseAllDeleteOnlyWhatTheyOwn) {
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"first")}}));
    ItemArchive archive;
    Open(archive);
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"second")}}));
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_EQ(2u, archive.Items().size());

    ClipItem* first = archive.Items()[0].get();
    const std::string firstPath = first->RecordPath();
    const GUID firstGuid = first->SourceGuid();
    std::unique_ptr<ClipItem> removed = archive.RemoveItem(first);
    EXPECT_EQ(first, removed.get());
    // Deletions are queued behind the writes.
    archive.FlushWrites();
    EXPECT_FALSE(FileExists(firstPath));
    EXPECT_EQ(1u, archive.Items().size());
    EXPECT_EQ(nullptr, archive.RemoveItem(first));
    std::unique_ptr<CaptureRecord> record = archive.RemoveCapture(firstGuid);
    ASSERT_NE(nullptr, record);
    archive.FlushWrites();
    EXPECT_FALSE(FileExists(record->FilePath));
    EXPECT_EQ(1u, archive.Captures().size());

    // Items of days that were not loaded survive an erase.
    TextItem old;
    old.SetText(L"old day");
    old.SetCaptureTime(CurrentCaptureTime() - 10);
    ASSERT_TRUE(StoreItem(old, folder_.Path()));
    archive.EraseAll();
    EXPECT_TRUE(archive.Items().empty());
    EXPECT_TRUE(archive.Captures().empty());
    EXPECT_TRUE(ListFiles(Today()).empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(AppData().c_str()));
    EXPECT_TRUE(FileExists(old.RecordPath()));

    options_.loadWholeArchive = true;
    archive.LoadArchive(options_);
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(nullptr, archive.FindCapture(*archive.Items()[0]));
}

TEST_F(ItemArchiveTest, ArrivalsJoinOnceAfterWhatIsLoadedAndAreAnnounced) {
    // Another copy of the program archives a change into a folder of its own.
    TempFolder elsewhere;
    ArchiveOptions otherOptions = options_;
    otherOptions.folder = elsewhere.Path();
    otherOptions.catalogPath.clear();
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"from elsewhere")}}));
    {
        ItemArchive other;
        other.LoadArchive(otherOptions);
        other.Capture(source_);
        other.FlushWrites();
    }
    struct Announcing : ItemArchive {
        std::vector<ClipItem*> announced;
        void OnItemAdded(ClipItem* item) override { announced.push_back(item); }
    } archive;
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"here")}}));
    Open(archive);
    archive.Capture(source_);
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.announced.size());

    // Its files reach this folder.
    const std::string otherToday = elsewhere.Path() + DateFolderName(CurrentCaptureTime()) + "\\";
    const std::vector<std::string> itemFiles = ListFiles(otherToday), recordFiles = ListFiles(elsewhere.Path() + "AppData\\", "*.se");
    ASSERT_EQ(1u, itemFiles.size());
    ASSERT_EQ(1u, recordFiles.size());
    ASSERT_TRUE(::CopyFileA((otherToday + itemFiles[0]).c_str(), (Today() + itemFiles[0]).c_str(), TRUE));
    ASSERT_TRUE(::CopyFileA((elsewhere.Path() + "AppData\\" + recordFiles[0]).c_str(), (AppData() + recordFiles[0]).c_str(), TRUE));
    auto arrive = [&] {
        std::vector<std::unique_ptr<CaptureRecord>> records;
        records.push_back(ItemArchive::ReadCaptureRecord(AppData() + recordFiles[0]));
        std::vector<std::unique_ptr<ClipItem>> items;
        items.push_back(archive.ReadItem(Today() + itemFiles[0]));
        return archive.AddArrivals(std::move(records), std::move(items));
    };
    const std::vector<ClipItem*> added = arrive();
    ASSERT_EQ(1u, added.size());
    ASSERT_EQ(2u, archive.announced.size());
    EXPECT_EQ(added[0], archive.announced[1]);
    const CaptureRecord* record = archive.FindCapture(*added[0]);
    ASSERT_NE(nullptr, record);
    EXPECT_GT(record->Order, archive.FindCapture(*archive.announced[0])->Order);
    EXPECT_EQ(L"from elsewhere", SearchableText(*added[0]));

    // The same files met again (a second notice of one change) add nothing.
    EXPECT_TRUE(arrive().empty());
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(2u, archive.Captures().size());
}

// The watch lost count (its buffer overflowed): the folder is looked at whole.
TEST_F(ItemArchiveTest, ARescanFindsWhatCameAndWhatWentButNotTheProgramsOwnFiles) {
    ItemArchive archive;
    Open(archive);
    for (const wchar_t* text : {L"kept", L"deleted elsewhere", L"deleted here"}) {
        ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(text)}}));
        ASSERT_TRUE(archive.Capture(source_));
    }
    archive.FlushWrites();
    ClipItem* gone = archive.Items()[1].get();
    ASSERT_TRUE(::DeleteFileA(gone->RecordPath().c_str()));
    // Its file is still there until the writer gets to it.
    archive.RemoveItem(archive.Items()[2].get());
    TextItem arrival;
    arrival.SetText(L"arrived");
    arrival.SetSourceGuid(archive.Items()[0]->SourceGuid());
    ASSERT_TRUE(WriteItemFile(arrival, MakeUniqueFileName(Today(), "C", ".tx")));
    ASSERT_TRUE(WriteFileBytes(Today() + ".syncthing.C-1.tx.tmp", "F"));

    FolderChanges changes = archive.ReadFolderChanges({}, true);
    ASSERT_EQ(1u, changes.items.size());
    EXPECT_EQ(L"arrived", SearchableText(*changes.items[0]));
    EXPECT_EQ(std::vector<ClipItem*>{gone}, changes.departedItems);
    EXPECT_TRUE(changes.records.empty());
    EXPECT_TRUE(changes.departedRecords.empty());
}

TEST_F(ItemArchiveTest, AChangeWithoutASourceWindowIsAnUnknownApplications) {
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"from a script")}}));
    ItemArchive archive;
    Open(archive);
    EXPECT_TRUE(archive.Capture(nullptr));
    archive.FlushWrites();
    ASSERT_EQ(1u, archive.Captures().size());
    EXPECT_EQ("Unknown Application", archive.Captures().begin()->second->Title);
    EXPECT_EQ(0u, archive.Captures().begin()->second->ClassAtom);
    ASSERT_EQ(1u, archive.Applications().size());
    EXPECT_EQ("Unknown Application", archive.Applications().begin()->second->Title);

    ItemArchive loaded;
    loaded.LoadArchive(options_);
    EXPECT_EQ(1u, loaded.Items().size());
    EXPECT_EQ("Unknown Application", loaded.Captures().begin()->second->Title);
}

TEST_F(ItemArchiveTest, ApplicationsAreFoundByProgramAndRecordsWithoutOneByAtom) {
    // The files of an earlier session: this window's program had another atom
    // then, and another program had the atom this window has now. An earlier
    // build's application and record of that atom name no program.
    const DWORD atom = ::GetClassLongA(source_, GCW_ATOM);
    const std::string program = ProgramKeyOf(source_);
    ASSERT_NE("", program);
    CreateFolderPath(AppData());
    auto writeApp = [&](const char* title, DWORD classAtom, const std::string& key) {
        SourceApp app;
        app.Title = title;
        app.ClassAtom = classAtom;
        app.ProgramKey = key;
        ASSERT_TRUE(app.WriteAppFile(MakeUniqueFileName(AppData(), nullptr, ".app")));
    };
    writeApp("This Program", atom + 1, program);
    writeApp("Other Program", atom, "other.exe|Other");
    writeApp("Earlier Build", atom, "");
    auto writeRecord = [&](DWORD classAtom, const std::string& key) {
        CaptureRecord record;
        ::CoCreateGuid(&record.CaptureGuid);
        record.ClassAtom = classAtom;
        record.ProgramKey = key;
        EXPECT_TRUE(record.WriteFile(MakeUniqueFileName(AppData(), nullptr, ".se")));
        return record.CaptureGuid;
    };
    const GUID other = writeRecord(atom, "other.exe|Other");
    const GUID earlier = writeRecord(atom, "");
    options_.fallbackIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    ItemArchive archive;
    Open(archive);
    ASSERT_EQ(3u, archive.Applications().size());
    auto titleOf = [&](const GUID& guid) {
        const SourceApp* app = archive.ApplicationOf(*archive.Captures().at(guid));
        return app ? app->Title : std::string("none");
    };
    EXPECT_EQ("Other Program", titleOf(other));
    EXPECT_EQ("Earlier Build", titleOf(earlier));

    // A change of this run goes to its program's application, whatever its atom.
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"now")}}));
    ASSERT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    const CaptureRecord* now = archive.FindCapture(*archive.Items().back());
    ASSERT_NE(nullptr, now);
    EXPECT_EQ(program, now->ProgramKey);
    EXPECT_EQ("This Program", titleOf(now->CaptureGuid));
    EXPECT_EQ(3u, ListFiles(AppData(), "*.app").size());
    EXPECT_EQ("Other Program", titleOf(other));

    // A program seen for the first time gets an application file naming it.
    ItemArchive fresh;
    Open(fresh);
    EXPECT_EQ("This Program", fresh.ApplicationOf(*fresh.Captures().at(now->CaptureGuid))->Title);
    fresh.EraseAll();
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"first")}}));
    ASSERT_TRUE(fresh.Capture(source_));
    fresh.FlushWrites();
    ItemArchive reloaded;
    Open(reloaded);
    ASSERT_EQ(1u, reloaded.Applications().size());
    EXPECT_EQ(program, reloaded.Applications().begin()->second->ProgramKey);
}

TEST_F(ItemArchiveTest, UnfinishedWritesOfAnInterruptedRunAreRemovedAtLoad) {
    TextItem item;
    item.SetText(L"kept");
    ASSERT_TRUE(StoreItem(item, folder_.Path()));
    CreateFolderPath(folder_ / "1_1_2001\\");
    CreateFolderPath(AppData());
    const std::vector<std::string> leftovers = {Today() + "~sv-a-.partial", folder_ / "1_1_2001\\~sv-b-.partial",
                                                AppData() + "~sv-c-.partial"};
    for (const std::string& path : leftovers) ASSERT_TRUE(WriteFileBytes(path, "F\1\0\0\0Y"));
    ItemArchive archive;
    Open(archive);
    EXPECT_EQ(1u, archive.Items().size());
    for (const std::string& path : leftovers) EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(item.RecordPath()));
}

// Whether any file below the folder holds the text (UTF-16), as it stands or in
// a compressed field of a record file.
bool ArchiveHolds(const std::string& folder, const std::wstring& text) {
    const std::string wanted(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    bool found = false;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        const std::string path = folder + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            found = found || ArchiveHolds(path + "\\", text);
            return;
        }
        const std::string bytes = ReadFileBytes(path);
        if (bytes.find(wanted) != std::string::npos) found = true;
        const Bytes file(bytes.begin(), bytes.end());
        if (!HasRecordHeader(file)) return;
        FieldWalker walker(file);
        RecordField field;
        Bytes inflated;
        while (walker.Next(field))
            if (DecompressBlock(field.data.data(), field.data.size(), inflated) &&
                std::string(inflated.begin(), inflated.end()).find(wanted) != std::string::npos)
                found = true;
    });
    return found;
}

// Deleted means deleted: no file of the archive folder keeps the text, nor
// the catalog (which holds small items whole).
TEST_F(ItemArchiveTest, ADeletedItemLeavesNoCopyInAnyFile) {
    const std::wstring secret = L"hunter2 copied by accident";
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(secret)}}));
    {
        ItemArchive first;
        Open(first);
        first.Capture(source_);
    }
    ItemArchive archive;
    Open(archive).WaitForCatalog();  // catalogs the item
    ASSERT_EQ(1u, archive.Items().size());
    ASSERT_EQ(1u, archive.MatchingItems(L"HUNTER2").size());
    std::unique_ptr<ClipItem> removed = archive.RemoveItem(archive.Items()[0].get());
    archive.RemoveCapture(removed->SourceGuid());
    archive.FlushWrites();
    EXPECT_FALSE(ArchiveHolds(folder_.Path(), secret));
    EXPECT_TRUE(archive.MatchingItems(L"hunter2").empty());
    for (const std::string& name : ListFiles(catalogFolder_.Path()))
        EXPECT_EQ(std::string::npos, ReadFileBytes(catalogFolder_ / name).find("HUNTER2 COPIED")) << name;
}

// Fails every allocation for item data of a megabyte or more.
void FailLargeAllocations(size_t bytes) {
    if (bytes >= 1024 * 1024) throw std::bad_alloc();
}

struct AllocationFailures {
    AllocationFailures() { SetAllocationCheck(FailLargeAllocations); }
    ~AllocationFailures() { SetAllocationCheck(nullptr); }
};

TEST_F(ItemArchiveTest, AnItemThatFindsNoMemoryIsSkippedAndTheRestGoesOn) {
    // A large text whose file barely compresses, and a small one.
    std::wstring large(700 * 1024, L'\0');
    uint32_t state = 12345;
    for (wchar_t& c : large) c = static_cast<wchar_t>(L'A' + ((state = state * 1103515245 + 12345) >> 16) % 26000);
    TextItem big, small;
    big.SetText(large);
    small.SetText(L"small");
    ASSERT_TRUE(StoreItem(big, folder_.Path()));
    ASSERT_TRUE(StoreItem(small, folder_.Path()));
    const std::string bigFile = ReadFileBytes(big.RecordPath());
    const UINT html = ClipboardHelper::Register("HTML Format");

    AllocationFailures failures;
    ItemArchive archive;
    Open(archive);
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(L"small", static_cast<TextItem&>(*archive.Items()[0]).Text());
    EXPECT_EQ(bigFile, ReadFileBytes(big.RecordPath())) << "the skipped item's file is left as it was";

    // Capture: the large text is left out, the HTML of the same change is kept,
    // and the next change is captured as usual.
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(large)}, {html, CfHtml("<i>kept</i>")}}));
    EXPECT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    ASSERT_EQ(2u, archive.Items().size());
    EXPECT_EQ(kHtmlItemType, archive.Items()[1]->TypeCode());
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"next")}}));
    EXPECT_TRUE(archive.Capture(source_));
    archive.FlushWrites();
    EXPECT_EQ(3u, archive.Items().size());
}

}  // namespace
