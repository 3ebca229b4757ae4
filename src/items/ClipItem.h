// One captured clipboard format of one clipboard change; the base of the five item classes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/Bytes.h"

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
    virtual ~ClipItem() = default;
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
    virtual bool WriteData(RecordFileWriter& file) = 0;
    // Takes the "B" data of an item file; false when it is not usable.
    virtual bool ReadData(ByteSpan data) = 0;
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

private:
    double captureTime_ = 0;
    std::string typeName_;
    std::string dateText_;
    std::string recordPath_;
    int32_t typeCode_ = 0;
    GUID sourceGuid_ = {};
};

// An empty item of the class that the type code names; null for an unknown code.
std::unique_ptr<ClipItem> CreateItemOfType(int32_t typeCode);
