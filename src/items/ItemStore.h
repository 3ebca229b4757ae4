// Where an item's data lives while it is not in memory: the item's file, which
// is written on another thread and read back when the data is next used. Used
// on the window's thread only.
#pragma once

class ClipItem;

class ItemStore {
public:
    // Returns once no queued write of the item's file is pending (at once when
    // none is), so that a file written now is not overtaken by an older one.
    virtual void WaitUntilStored(const ClipItem& item) = 0;
    // Reads the item's data back from its file; false when it cannot be read.
    virtual bool ReadBack(ClipItem& item) = 0;
    // The item is being destroyed: the store lets go of every pointer to it.
    virtual void Forget(const ClipItem& item) = 0;

protected:
    ~ItemStore() = default;
};
