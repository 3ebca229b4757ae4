// A cache of the capture records in one file beside them, so that a start reads
// one file instead of one for each record of the archive's whole life. It is
// only ever a copy: an entry is used only while its record file is there with
// the size and time it had, and the index is written anew whenever it is
// missing, damaged or out of date. Nothing is lost when it is deleted.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/CaptureRecord.h"

class RecordIndex {
public:
    // The index file of the folder (given with its trailing "\").
    explicit RecordIndex(const std::string& folder);

    // Reads the index; a missing or damaged one is an empty index.
    void Read();
    // A record file as the folder's listing shows it.
    struct File {
        std::string name;
        unsigned long long size = 0;
        unsigned long long time = 0;
    };
    static File FileOf(const WIN32_FIND_DATAA& listing);

    // The record that the file holds, when the index has it as the file now
    // is; null otherwise.
    std::unique_ptr<CaptureRecord> Take(const File& file);
    // Whether the index holds exactly the records taken from it.
    bool IsCurrent(size_t recordFiles) const { return taken_ == recordFiles && taken_ == entries_.size(); }
    // Writes the index anew: each record with its file.
    bool Write(const std::vector<std::pair<File, const CaptureRecord*>>& records) const;

private:
    struct Entry {
        unsigned long long size = 0;
        unsigned long long time = 0;
        CaptureRecord record;
    };
    std::string folder_;
    std::unordered_map<std::string, Entry> entries_;
    size_t taken_ = 0;
};
