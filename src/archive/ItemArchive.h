// The in-memory archive: the items, the applications by class atom and the
// capture records by capture GUID, with the files behind them.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/SourceApp.h"
#include "items/ClipItem.h"

class ItemArchive {
public:
    ItemArchive() = default;
    virtual ~ItemArchive();
    ItemArchive(const ItemArchive&) = delete;
    ItemArchive& operator=(const ItemArchive&) = delete;

    // Destroys every item, application and capture record; no file is touched.
    virtual void Clear();
    // Archives the current clipboard, attributed to the source window.
    virtual void Capture(HWND sourceWindow);
    // A new item joined the archive (the tree shows it).
    virtual void OnItemAdded(ClipItem* item);
    // Deletes the item's file and unlinks it, handing the object to the caller
    // (null when the item is not in the archive).
    virtual std::unique_ptr<ClipItem> RemoveItem(ClipItem* item);
    // Deletes the record's ".se" file and unlinks it, handing it to the caller.
    virtual std::unique_ptr<CaptureRecord> RemoveCapture(GUID captureGuid);
    // Warns when the archive folder has grown past the size limit.
    virtual void CheckDiskSize();
    // Removes what falls outside the captures limit (the tree decides how).
    virtual void Trim();

    // Replaces everything in memory with what the folder holds; always succeeds.
    bool LoadArchive(const std::string& archiveFolder);
    // Deletes the loaded items' files and every capture and application file, then clears.
    void EraseAll();
    CaptureRecord* AddCaptureRecord(HWND sourceWindow);
    SourceApp* FindOrAddSourceApp(HWND sourceWindow);
    CaptureRecord* FindCapture(const ClipItem& item) const;
    // The capture time at and before which captures fall outside the limit; 0 for none.
    double TrimCutoff() const;
    // Whether the archive folder holds more than DiskSizeLimit megabytes.
    bool IsOverDiskSizeLimit() const;

    // How long the last capture held the clipboard open, in milliseconds.
    double LastClipboardHoldMs() const { return lastClipboardHoldMs_; }
    // The clipboard's sequence number when the last capture let go of it, if it
    // took data (or found the change marked private); 0 otherwise. Data that the
    // owner renders on request raises the number without being a new change.
    DWORD LastClipboardSequence() const { return lastClipboardSequence_; }

    const std::vector<std::unique_ptr<ClipItem>>& Items() const { return items_; }
    const std::map<WORD, std::unique_ptr<SourceApp>>& Applications() const { return applications_; }
    const std::map<std::string, std::unique_ptr<CaptureRecord>>& Captures() const { return captures_; }

protected:
    std::vector<std::unique_ptr<ClipItem>> items_;
    std::map<WORD, std::unique_ptr<SourceApp>> applications_;
    std::map<std::string, std::unique_ptr<CaptureRecord>> captures_;

private:
    double lastClipboardHoldMs_ = 0;
    DWORD lastClipboardSequence_ = 0;
};

// Total size of the files below the folder, sub-folders included.
unsigned long long FolderSize(const std::string& folder);
