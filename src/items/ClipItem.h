// One captured clipboard format of one clipboard change; the base of the five item classes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/SharedText.h"
#include "framework/UniqueHandle.h"

class ItemStore;
class RecordFileWriter;

// An item's data as the writer thread takes it when the item's file is queued:
// the writer's own (a share of data the item replaces on a change, never
// changes in place), so the item may change or go while its file is written.
struct ItemPayload {
    // Writes the "B" field; null for an item without data.
    std::function<bool(RecordFileWriter&)> write;
    // Memory it keeps alive.
    size_t bytes = 0;
};

// The blocks one item puts on the clipboard, made before the clipboard is
// opened; what the clipboard does not take is freed with them.
class ClipboardBlocks {
public:
    void Add(UINT format, UniqueGlobal memory);
    void AddMetafile(UniqueEnhMetaFile metafile);
    // With the clipboard open: hands every block over to it.
    void SetAll();

private:
    struct Block {
        UINT format;
        UniqueGlobal memory;
        UniqueEnhMetaFile metafile;
    };
    std::vector<Block> blocks_;
};

// Fixed type codes, stored in every item file.
enum ItemTypeCode : int32_t {
    kTextItemType = 1,
    kBitmapItemType = 8,
    kMetafileItemType = 14,
    kRtfItemType = 49222,
    kHtmlItemType = 49311,
};

class ClipItem {
public:
    virtual ~ClipItem();
    ClipItem(const ClipItem&) = delete;
    ClipItem& operator=(const ClipItem&) = delete;

    // Writes the data to a new file in the temporary folder and opens it with
    // the shell; true when the file was written.
    virtual bool ShowInExternalViewer(const std::string& temporaryFolder) = 0;
    // Makes the item's clipboard blocks from its data, read back first when it
    // is on disk. False, with nothing made, when the data cannot be read.
    virtual bool RenderClipboard(ClipboardBlocks& blocks) const = 0;
    // Adds the item's format to the clipboard (the caller empties it first);
    // false, with the clipboard untouched, when the data cannot be read.
    bool PutOnClipboard(HWND owner) const;
    // Whether the item's data contains the (ANSI) text.
    virtual bool ContainsText(const char* text, unsigned flags) = 0;
    // The save dialog and the chosen file. False when the item's data could not
    // be read (nothing is asked or written) or the file could not be written;
    // the user has then been told in a message naming the file.
    virtual bool SaveAs() = 0;
    virtual void ReleaseData() {}
    // The data for the writer thread; see ItemPayload.
    virtual ItemPayload WriterPayload() const = 0;
    // Writes the data as the "B" field of the item file (nothing without data).
    bool WriteData(RecordFileWriter& file) const;
    // Takes the "B" data of an item file; false when it is not usable.
    virtual bool ReadData(ByteSpan data) = 0;
    // The "B" data of an item file at load: checked as ReadData checks it, but
    // data larger than kKeptInMemoryBytes is left in the file.
    virtual bool LoadData(ByteSpan data);
    // Bytes the data takes in memory.
    virtual size_t DataBytes() const = 0;

    // Data up to this size stays in memory once stored; larger data is read
    // back from the item file when it is used, so that memory does not grow
    // with what was captured.
    static constexpr size_t kKeptInMemoryBytes = 16 * 1024;
    // The store that writes the item's file and reads its data back; borrowed.
    void SetStore(ItemStore* store) { store_ = store; }
    ItemStore* Store() const { return store_; }
    bool IsDataOnDisk() const { return dataOnDisk_; }
    // Lets data larger than kKeptInMemoryBytes go, as LoadData does.
    void LeaveLargeDataOnDisk() {
        if (DataBytes() > kKeptInMemoryBytes) LeaveDataOnDisk();
    }
    // Reads the data back when it was left on disk. False when the file can no
    // longer be read (deleted, locked, damaged, or memory short): the data then
    // stays on disk, and no use may take the item for one without data.
    bool EnsureData() const;
    // Changes with every change of the data (not when it leaves memory or is
    // read back): a write queued for one version is of no use for the next.
    uint64_t DataVersion() const { return dataVersion_; }
    // Lets go of data that the item's file holds; it is read back when used.
    void LeaveDataOnDisk();
    // Whether there is a file and a store to read the data back from.
    bool CanLeaveDataOnDisk() const { return store_ && !recordPath_.empty(); }
    void SetCaptureTime(double time);

    double CaptureTime() const { return captureTime_; }
    // One text per type, kept for all of its items.
    const std::string& TypeName() const;
    // The capture's date in the user's short form; empty for a time that has none.
    std::string DateText() const;
    std::string RecordPath() const { return recordPath_; }
    void SetRecordPath(const std::string& path) { recordPath_ = path; }
    int32_t TypeCode() const { return typeCode_; }
    const GUID& SourceGuid() const { return sourceGuid_; }
    void SetSourceGuid(const GUID& guid) { sourceGuid_ = guid; }

protected:
    ClipItem(int32_t typeCode, unsigned typeNameId);
    // Every change of the data starts here: the old data is let go (a pending
    // write keeps its own share of it).
    void PrepareChange();

private:
    double captureTime_ = 0;
    // Made from the date folder and the name when asked: an archive holds
    // many items, each a few hundred bytes at most.
    StoredPath recordPath_;
    int32_t typeCode_ = 0;
    unsigned typeNameId_ = 0;
    GUID sourceGuid_ = {};
    ItemStore* store_ = nullptr;
    bool dataOnDisk_ = false;
    uint64_t dataVersion_ = 0;
};

// Puts the items on the clipboard as one change: every item's data is read
// first, and only then is the clipboard opened and emptied. False when an
// item's data cannot be read (named in `unreadable`): the clipboard is left as
// it was. True also when the clipboard could not be opened.
bool CopyItemsToClipboard(const std::vector<const ClipItem*>& items, HWND owner, const ClipItem** unreadable);

// Tells the user, in a message naming the item's file, that it cannot be read.
void ReportUnreadableItem(const ClipItem& item);

// An empty item of the class that the type code names; null for an unknown code.
std::unique_ptr<ClipItem> CreateItemOfType(int32_t typeCode);
