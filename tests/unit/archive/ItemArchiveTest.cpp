#include "archive/ItemArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "archive/ItemFile.h"
#include "archive/RecordFile.h"
#include "items/BitmapItem.h"
#include "items/TextItem.h"
#include "shell/Paths.h"
#include "shell/Settings.h"
#include "resources/resource.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
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

// Settings restored after each test; the archive goes into a temporary folder.
class ItemArchiveTest : public ::testing::Test {
protected:
    ItemArchiveTest() : saved_(AppSettings()) {
        Settings& settings = AppSettings();
        settings.ArchiveFolder = folder_.Path();
        settings.ProcessTexts = settings.ProcessImages = settings.ProcessRTF = settings.ProcessHTML =
            settings.ProcessMetafiles = true;
        settings.LoadWholeArchive = false;
        settings.ItemsLimit = 0;
        settings.DiskSizeLimit = 0;

        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ::DefWindowProcA;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ScrapvaultTestSource";
        windowClass.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
        ::RegisterClassA(&windowClass);
        source_ = ::CreateWindowExA(0, "ScrapvaultTestSource", "Source Window", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    }
    ~ItemArchiveTest() override {
        ::DestroyWindow(source_);
        AppSettings() = saved_;
    }

    std::string Today() const { return folder_.Path() + DateFolderName(CurrentCaptureTime()) + "\\"; }
    std::string AppData() const { return folder_.Path() + "AppData\\"; }

    Settings saved_;
    TempFolder folder_;
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
    archive.Capture(source_);

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
    EXPECT_EQ(4u, archive.Items().size());
    EXPECT_EQ(2u, ListFiles(AppData(), "*.se").size());
    EXPECT_EQ(1u, ListFiles(AppData(), "*.app").size());

    // Everything is there again after a load.
    ItemArchive loaded;
    loaded.LoadArchive(folder_.Path());
    EXPECT_EQ(4u, loaded.Items().size());
    EXPECT_EQ(2u, loaded.Captures().size());
    EXPECT_EQ(1u, loaded.Applications().size());
    EXPECT_EQ("Source Window", loaded.Applications().begin()->second->Title);
}

TEST_F(ItemArchiveTest, BitmapTriggersTakeTheDibAndTextSwitchesOff) {
    // CF_DIB makes the system offer CF_BITMAP as well; CF_TIFF is a second trigger.
    ASSERT_TRUE(clipboard_.Set({{CF_DIB, SmallDib()}, {CF_TIFF, "II*\0not really"}}));
    ItemArchive archive;
    archive.Capture(source_);
    ASSERT_EQ(2u, archive.Items().size());
    for (const auto& item : archive.Items()) EXPECT_EQ(kBitmapItemType, item->TypeCode());

    // TIFF without a DIB: the change is recorded, nothing is kept.
    ASSERT_TRUE(clipboard_.Set({{CF_TIFF, "II*\0not really"}}));
    archive.Capture(source_);
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(2u, archive.Captures().size());

    // With texts switched off only the record remains of a text change.
    AppSettings().ProcessTexts = false;
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"secret")}}));
    archive.Capture(source_);
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(3u, archive.Captures().size());
    EXPECT_TRUE(ListFiles(Today(), "*.tx").empty());
}

TEST_F(ItemArchiveTest, EmptyTextStillGivesAnItemAndNothingHappensWithoutASource) {
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"")}}));
    ItemArchive archive;
    archive.Capture(nullptr);
    archive.Capture(reinterpret_cast<HWND>(0x7654));
    EXPECT_TRUE(archive.Captures().empty());
    archive.Capture(source_);
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_FALSE(static_cast<TextItem&>(*archive.Items()[0]).HasText());
    EXPECT_EQ(48u, ReadFileBytes(archive.Items()[0]->RecordPath()).size());

    ASSERT_TRUE(clipboard_.Empty());
    archive.Capture(source_);
    EXPECT_EQ(1u, archive.Captures().size());
}

TEST_F(ItemArchiveTest, ChangesMarkedPrivateLeaveNoTrace) {
    const UINT exclude = ClipboardHelper::Register("ExcludeClipboardContentFromMonitorProcessing");
    const UINT ignore = ClipboardHelper::Register("Clipboard Viewer Ignore");
    const UINT history = ClipboardHelper::Register("CanIncludeInClipboardHistory");
    const std::string zero(4, '\0');
    const std::string one("\1\0\0\0", 4);
    ItemArchive archive;
    for (const auto& mark : std::vector<std::pair<UINT, std::string>>{{exclude, ""}, {ignore, ""}, {history, zero}}) {
        ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}, mark}));
        archive.Capture(source_);
    }
    EXPECT_TRUE(archive.Items().empty());
    EXPECT_TRUE(archive.Captures().empty());
    EXPECT_TRUE(archive.Applications().empty());
    EXPECT_TRUE(ListFiles(AppData()).empty());
    EXPECT_TRUE(ListFiles(Today()).empty());

    // Allowed into the history, or unmarked: kept.
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}, {history, one}}));
    archive.Capture(source_);
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"password")}}));
    archive.Capture(source_);
    EXPECT_EQ(2u, archive.Items().size());
}

TEST_F(ItemArchiveTest, UnwritableArchiveFolderKeepsItemsForTheRun) {
    // A folder path that runs through a file can never be created.
    const std::string blocker = folder_ / "blocker";
    ASSERT_TRUE(WriteFileBytes(blocker, "x"));
    AppSettings().ArchiveFolder = blocker + "\\Archive\\";
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"kept in memory")}}));
    ItemArchive archive;
    archive.Capture(source_);
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
    archive.LoadArchive(folder_.Path());
    ASSERT_EQ(4u, archive.Captures().size());

    AppSettings().ItemsLimit = 2;
    EXPECT_DOUBLE_EQ(t2, archive.TrimCutoff());
    AppSettings().ItemsLimit = 3;
    EXPECT_DOUBLE_EQ(t1, archive.TrimCutoff());
    AppSettings().ItemsLimit = 4;
    EXPECT_EQ(0, archive.TrimCutoff());
    AppSettings().ItemsLimit = -1;
    EXPECT_EQ(0, archive.TrimCutoff());
}

TEST_F(ItemArchiveTest, DiskSizeLimitCountsEveryByteBelowTheFolder) {
    AppSettings().DiskSizeLimit = 10;
    CreateFolderPath(folder_ / "1_1_2001\\");
    ASSERT_TRUE(WriteFileBytes(folder_ / "1_1_2001\\big.bin", std::string(10 * 1024 * 1024 - 10, 'x')));
    ASSERT_TRUE(WriteFileBytes(folder_ / "ten.bin", std::string(10, 'y')));
    ItemArchive archive;
    EXPECT_EQ(10485760u, FolderSize(folder_.Path()));
    EXPECT_FALSE(archive.IsOverDiskSizeLimit());
    ASSERT_TRUE(WriteFileBytes(folder_ / "ten.bin", std::string(11, 'y')));
    EXPECT_TRUE(archive.IsOverDiskSizeLimit());

    // The warning, ticked "don't show again", is not shown after the next capture.
    ::RegDeleteKeyA(HKEY_CURRENT_USER, WarningsKeyPath());
    {
        DialogAnswerer answerer;
        DialogScript& warning =
            answerer.Expect({DialogAnswerer::Check(IDC_DONT_SHOW_AGAIN, BST_CHECKED),
                             DialogAnswerer::Click(IDC_DONT_SHOW_AGAIN), DialogAnswerer::Click(IDOK)});
        archive.CheckDiskSize();
        EXPECT_EQ(1, answerer.Answered());
        EXPECT_NE(std::string::npos, warning.seenText.find("Archive size limit exceeed."));
        archive.CheckDiskSize();
        EXPECT_EQ(1, answerer.Answered());
        EXPECT_EQ(0, answerer.Unexpected());
    }
    ::RegDeleteKeyA(HKEY_CURRENT_USER, WarningsKeyPath());

    AppSettings().DiskSizeLimit = 0;
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
    archive.LoadArchive(folder_.Path());
    EXPECT_EQ(2u, archive.Items().size());
    EXPECT_EQ(1u, archive.Captures().size());
    EXPECT_TRUE(archive.Applications().empty());
    EXPECT_TRUE(FileExists(Today() + "C-broken-.tx")) << "unreadable files stay on disk";

    AppSettings().LoadWholeArchive = true;
    archive.LoadArchive(folder_.Path());
    EXPECT_EQ(3u, archive.Items().size());
}

TEST_F(ItemArchiveTest, RemovalAndEraseAllDeleteOnlyWhatTheyOwn) {
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"first")}}));
    ItemArchive archive;
    archive.Capture(source_);
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"second")}}));
    archive.Capture(source_);
    ASSERT_EQ(2u, archive.Items().size());

    ClipItem* first = archive.Items()[0].get();
    const std::string firstPath = first->RecordPath();
    const GUID firstGuid = first->SourceGuid();
    std::unique_ptr<ClipItem> removed = archive.RemoveItem(first);
    EXPECT_EQ(first, removed.get());
    EXPECT_FALSE(FileExists(firstPath));
    EXPECT_EQ(1u, archive.Items().size());
    EXPECT_EQ(nullptr, archive.RemoveItem(first));
    std::unique_ptr<CaptureRecord> record = archive.RemoveCapture(firstGuid);
    ASSERT_NE(nullptr, record);
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

    AppSettings().LoadWholeArchive = true;
    archive.LoadArchive(folder_.Path());
    ASSERT_EQ(1u, archive.Items().size());
    EXPECT_EQ(nullptr, archive.FindCapture(*archive.Items()[0]));
}

}  // namespace
