// The running program follows what another machine's sync engine changes in
// the archive folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "archive/ItemFile.h"
#include "base/CaptureTime.h"
#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "items/TextItem.h"
#include "resources/resource.h"
#include "SavedSettings.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

// What the other machine's engine leaves once a transfer is over: the capture
// record and the text item of one change, written under the engine's
// temporary names. Returns the item's final path.
struct Transfer {
    std::string recordTemp, record, itemTemp, item;
};

Transfer WriteTransfer(const std::string& archive, const GUID& guid, const std::wstring& text) {
    const double time = CurrentCaptureTime();
    const std::string appData = archive + "AppData\\", day = archive + DateFolderName(time) + "\\";
    ::CreateDirectoryA(appData.c_str(), nullptr);
    ::CreateDirectoryA(day.c_str(), nullptr);
    Transfer transfer;
    transfer.record = MakeUniqueFileName(appData, nullptr, ".se");
    transfer.recordTemp = appData + ".syncthing." + transfer.record.substr(appData.size()) + ".tmp";
    transfer.item = MakeUniqueFileName(day, "C", ".tx");
    transfer.itemTemp = day + ".syncthing." + transfer.item.substr(day.size()) + ".tmp";
    CaptureRecord record;
    record.CaptureGuid = guid;
    record.CaptureTime = time;
    record.Title = "Other machine";
    EXPECT_TRUE(record.WriteFile(transfer.recordTemp));
    TextItem item;
    item.SetText(text);
    item.SetSourceGuid(guid);
    item.SetCaptureTime(time);
    EXPECT_TRUE(WriteItemFile(item, transfer.itemTemp));
    return transfer;
}

GUID NewGuid() {
    GUID guid = {};
    ::CoCreateGuid(&guid);
    return guid;
}

const TextItem* TextOf(const ClipItem* item) { return dynamic_cast<const TextItem*>(item); }

}  // namespace

class FolderWatchTest : public ::testing::Test {
protected:
    FolderWatchTest() : savedFolder_(AppSettings().ArchiveFolder) {
        RemoveSavedSettings();
        AppSettings().ArchiveFolder = archive_.Path();
        AppModule().AddMessageLoop(&loop_);
    }
    ~FolderWatchTest() override {
        if (frame_.Handle()) {
            frame_.View().EditorFor(kTextItemType)->SetModified(false);
            ::DestroyWindow(frame_.Handle());
        }
        AppModule().RemoveMessageLoop();
        AppSettings().ArchiveFolder = savedFolder_;
        RemoveSavedSettings();
    }
    void SetUp() override {
        ASSERT_TRUE(frame_.CreateMainWindow());
        frame_.LoadArchive();
        ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    }
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
        const DWORD start = ::GetTickCount();
        for (;;) {
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageA(&message);
            }
            if (done()) return true;
            if (::GetTickCount() - start > timeoutMs) return false;
            ::Sleep(10);
        }
    }
    void Pump(DWORD ms) { PumpUntil([] { return false; }, ms); }
    void Capture(const std::wstring& text) {
        ClipboardHelper clipboard;
        ASSERT_TRUE(clipboard.Set({{CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()),
                                                                (text.size() + 1) * sizeof(wchar_t))}}));
        ASSERT_TRUE(frame_.Archive().Capture(nullptr));
    }
    size_t Items() { return frame_.Archive().Items().size(); }

    TempFolder archive_;
    std::string savedFolder_;
    MessageLoop loop_;
    MainFrame frame_;
};

TEST_F(FolderWatchTest, AFileRenamedIntoPlaceJoinsOnceAndTemporaryFilesNeither) {
    const GUID guid = NewGuid();
    const Transfer transfer = WriteTransfer(archive_.Path(), guid, L"from the other machine");
    // Neither loaded nor counted while the engine still writes.
    Pump(1000);
    EXPECT_EQ(0u, Items());
    EXPECT_EQ(0u, FolderSize(archive_.Path()));

    // The item first: it waits, unshown, for its record.
    ASSERT_TRUE(::MoveFileA(transfer.itemTemp.c_str(), transfer.item.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return Items() == 1; }));
    ClipItem* arrived = frame_.Archive().Items()[0].get();
    EXPECT_FALSE(frame_.Archive().SelectItemLeaf(arrived));
    ASSERT_TRUE(::MoveFileA(transfer.recordTemp.c_str(), transfer.record.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return frame_.Archive().SelectItemLeaf(arrived); }));
    EXPECT_EQ(L"from the other machine", TextOf(arrived)->Text());
    EXPECT_EQ(transfer.item, arrived->RecordPath());

    // The program's own capture, written while the watch runs, is not added again.
    ASSERT_NO_FATAL_FAILURE(Capture(L"made here"));
    frame_.Archive().FlushWrites();
    Pump(1000);
    EXPECT_EQ(2u, Items());
    EXPECT_EQ(2u, frame_.Archive().Captures().size());
}

// The limit is the shared archive's: another machine's captures count, and
// this one's older captures go for them.
TEST_F(FolderWatchTest, ArrivalsCountTowardsTheCapturesLimit) {
    AppSettings().ItemsLimit = 1;
    frame_.LoadArchive();
    ASSERT_NO_FATAL_FAILURE(Capture(L"older, made here"));
    frame_.Archive().FlushWrites();
    const std::string older = frame_.Archive().Items()[0]->RecordPath();
    const Transfer transfer = WriteTransfer(archive_.Path(), NewGuid(), L"newer, made there");
    ASSERT_TRUE(::MoveFileA(transfer.recordTemp.c_str(), transfer.record.c_str()));
    ASSERT_TRUE(::MoveFileA(transfer.itemTemp.c_str(), transfer.item.c_str()));
    const bool trimmed = PumpUntil([&] { return Items() == 1 && frame_.Archive().Items()[0]->RecordPath() != older; });
    AppSettings().ItemsLimit = 0;
    ASSERT_TRUE(trimmed) << Items() << " items, " << frame_.Archive().Captures().size() << " captures";
    EXPECT_EQ(1u, frame_.Archive().Captures().size());
    frame_.Archive().FlushWrites();
    EXPECT_FALSE(FileExists(older));
}

TEST_F(FolderWatchTest, AConflictCopyIsAnItemOfItsOwnNowAndAfterALoad) {
    ASSERT_NO_FATAL_FAILURE(Capture(L"edited here"));
    frame_.Archive().FlushWrites();
    ClipItem* original = frame_.Archive().Items()[0].get();
    // The engine keeps the other machine's edit beside this one's.
    const std::string path = original->RecordPath();
    const std::string conflict = path.substr(0, path.size() - 3) + ".sync-conflict-20261208-024400-ABCDEFG.tx";
    TextItem other;
    other.SetText(L"edited there");
    other.SetSourceGuid(original->SourceGuid());
    other.SetCaptureTime(original->CaptureTime());
    ASSERT_TRUE(WriteItemFile(other, conflict));

    ASSERT_TRUE(PumpUntil([&] { return Items() == 2; }));
    ClipItem* copy = frame_.Archive().Items()[1].get();
    EXPECT_EQ(L"edited there", TextOf(copy)->Text());
    EXPECT_EQ(frame_.Archive().FindCapture(*original), frame_.Archive().FindCapture(*copy));
    EXPECT_TRUE(frame_.Archive().SelectItemLeaf(copy));

    frame_.LoadArchive();
    EXPECT_EQ(2u, Items());
}

TEST_F(FolderWatchTest, AShownItemDeletedElsewhereKeepsUnsavedEditsAsANewItem) {
    DialogAnswerer answerer;
    ASSERT_NO_FATAL_FAILURE(Capture(L"one"));
    ASSERT_NO_FATAL_FAILURE(Capture(L"two"));
    frame_.Archive().FlushWrites();
    ClipItem* edited = frame_.Archive().Items()[0].get();
    ClipItem* unedited = frame_.Archive().Items()[1].get();
    const GUID editedCapture = edited->SourceGuid(), uneditedCapture = unedited->SourceGuid();
    const std::string oldPath = edited->RecordPath();
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(edited));
    ::SendMessageW(frame_.View().EditorFor(kTextItemType)->Handle(), EM_REPLACESEL, TRUE,
                   reinterpret_cast<LPARAM>(L"typed "));

    // Another machine deletes both captures: their items first, then their records.
    ASSERT_TRUE(::DeleteFileA(oldPath.c_str()));
    ASSERT_TRUE(::DeleteFileA(unedited->RecordPath().c_str()));
    for (const auto& [key, record] : frame_.Archive().Captures()) ASSERT_TRUE(::DeleteFileA(record->FilePath.str().c_str()));

    // The unedited capture goes, from the tree and memory...
    ASSERT_TRUE(PumpUntil([&] { return !frame_.Archive().Captures().count(uneditedCapture); }));
    // ... the edits stay, in the item shown, written under a new name with a
    // record of their capture, and no question was asked.
    frame_.Archive().FlushWrites();
    ASSERT_EQ(1u, Items());
    EXPECT_EQ(edited, frame_.Archive().Items()[0].get());
    EXPECT_EQ(edited, frame_.View().CurrentItem());
    EXPECT_FALSE(frame_.View().IsModified());
    EXPECT_EQ(L"typed one", TextOf(edited)->Text());
    EXPECT_NE(oldPath, edited->RecordPath());
    EXPECT_TRUE(FileExists(edited->RecordPath()));
    EXPECT_EQ(0, answerer.Unexpected());
    frame_.LoadArchive();
    ASSERT_EQ(1u, Items());
    EXPECT_EQ(L"typed one", TextOf(frame_.Archive().Items()[0].get())->Text());
    ASSERT_NE(nullptr, frame_.Archive().FindCapture(*frame_.Archive().Items()[0]));
    EXPECT_EQ(GuidText(editedCapture), GuidText(frame_.Archive().Items()[0]->SourceGuid()));
}
