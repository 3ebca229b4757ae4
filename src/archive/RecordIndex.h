// The capture records of AppData in one index file beside them (see
// FolderIndex.h): a start reads it instead of a file for each record of the
// archive's whole life.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/FolderIndex.h"

class RecordIndex {
public:
    // The index of the folder (given with its trailing "\").
    explicit RecordIndex(const std::string& folder);
    // The index file of the folder.
    static std::string PathIn(const std::string& folder);

    // Reads the index; a missing or damaged one is an empty index.
    void Read();
    // The record the file holds, when the index has it as the file now is;
    // null otherwise.
    std::unique_ptr<CaptureRecord> Take(const ListedFile& file);
    // Whether the index holds exactly the records taken from it.
    bool IsCurrent(size_t recordFiles) const { return taken_ == recordFiles && taken_ == entries_.size(); }
    // Writes the index anew: each record with its file.
    bool Write(const std::vector<std::pair<ListedFile, const CaptureRecord*>>& records) const;

private:
    struct Entry {
        ListedFile file;
        CaptureRecord record;
    };
    std::string folder_;
    std::unordered_map<std::string, Entry> entries_;
    size_t taken_ = 0;
};
