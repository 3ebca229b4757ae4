// Where an item's data lives while it is not in memory: the item's file, which
// is written on another thread and read back when the data is next used.
#pragma once

class ClipItem;

class ItemStore {
public:
    // Returns once no write of the item's file is pending (at once when none is).
    // The item is about to change: it keeps its data in memory from now on.
    virtual void WaitUntilStored(const ClipItem& item) = 0;
    // Reads the item's data back from its file; false when it cannot be read.
    virtual bool ReadBack(ClipItem& item) = 0;
    // The item is being destroyed: the store lets go of every pointer to it.
    virtual void Forget(const ClipItem& item) = 0;

protected:
    ~ItemStore() = default;
};
