// The item files of one date folder in one index file (see FolderIndex.h), so
// that a start opens it instead of every item's file. Small items are kept in
// it whole; large ones by what the tree shows of them, their data staying in
// their files until it is used.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/FolderIndex.h"
#include "items/ClipItem.h"

class ItemStore;

class ItemIndex {
public:
    // The index of the date folder (full path with its trailing "\"), kept as
    // the file `indexPath`.
    ItemIndex(std::string indexPath, std::string folder);

    // Reads the index; a missing or damaged one is an empty index.
    void Read();
    // The item that the folder's file holds, when the index has it as the file
    // now is; null otherwise.
    std::unique_ptr<ClipItem> Take(const ListedFile& file, ItemStore& store);
    // Whether the index holds exactly the items taken from it.
    bool IsCurrent(size_t itemFiles) const { return taken_ == itemFiles && taken_ == entries_.size(); }
    // Writes the index anew: each item with its file.
    bool Write(const std::vector<std::pair<ListedFile, const ClipItem*>>& items) const;

private:
    struct Entry {
        ListedFile file;
        int32_t type = 0;
        double time = 0;
        GUID guid = {};
        bool dataOnDisk = false;
        bool hasData = false;
        Bytes data;  // the item file's "B" field
    };
    std::string indexPath_;
    std::string folder_;
    std::unordered_map<std::string, Entry> entries_;
    size_t taken_ = 0;
};
