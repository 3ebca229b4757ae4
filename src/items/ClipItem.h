// One captured clipboard format of one clipboard change; the base of the five item classes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/Bytes.h"

class ItemStore;
class RecordFileWriter;

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
    // Adds the item's format to the clipboard (the caller empties it first).
    virtual void PutOnClipboard(HWND owner) = 0;
    // Whether the item's data contains the (ANSI) text.
    virtual bool ContainsText(const char* text, unsigned flags) = 0;
    // The save dialog and the chosen file. False only when the file could not be
    // written, which the user has then been told in a message naming it.
    virtual bool SaveAs() = 0;
    virtual void ReleaseData() {}
    // Writes the data as the "B" field of the item file (nothing without data).
    // Called on the writer thread too: it only reads the item.
    virtual bool WriteData(RecordFileWriter& file) const = 0;
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
    bool IsDataOnDisk() const { return dataOnDisk_; }
    // Reads the data back when it was left on disk. False when the file can no
    // longer be read: the item then shows no data.
    bool EnsureData() const;
    // Lets go of data that the item's file holds; it is read back when used.
    void LeaveDataOnDisk();
    // Whether there is a file and a store to read the data back from.
    bool CanLeaveDataOnDisk() const { return store_ && !recordPath_.empty(); }
    void SetCaptureTime(double time);

    double CaptureTime() const { return captureTime_; }
    const std::string& TypeName() const { return typeName_; }
    const std::string& DateText() const { return dateText_; }
    const std::string& RecordPath() const { return recordPath_; }
    void SetRecordPath(std::string path) { recordPath_ = std::move(path); }
    int32_t TypeCode() const { return typeCode_; }
    const GUID& SourceGuid() const { return sourceGuid_; }
    void SetSourceGuid(const GUID& guid) { sourceGuid_ = guid; }

protected:
    ClipItem(int32_t typeCode, unsigned typeNameId);
    // Every change of the data starts here: it waits for a pending write of the
    // old data (so that the item's file ends up holding the change), then
    // releases the old data.
    void PrepareChange();

private:
    double captureTime_ = 0;
    std::string typeName_;
    std::string dateText_;
    std::string recordPath_;
    int32_t typeCode_ = 0;
    GUID sourceGuid_ = {};
    ItemStore* store_ = nullptr;
    bool dataOnDisk_ = false;
};

// An empty item of the class that the type code names; null for an unknown code.
std::unique_ptr<ClipItem> CreateItemOfType(int32_t typeCode);
