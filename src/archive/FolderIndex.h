// The framing shared by the archive's index files: caches of a folder's files,
// kept in one file so that a start opens one file instead of thousands. An
// index is only ever a copy: an entry counts only while its file is listed with
// the size and time the entry names, and a missing, damaged or stale index is
// written anew by the next load. Nothing is lost when one is deleted.
//
// An index is a record file whose fields come in entries: "N" (the file's
// name) starts one, "S" (its size and last-write time) follows, then the
// fields of the kind of index, and "E" (empty) ends it: an entry without its
// end is not used.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>

#include "base/RecordFile.h"
#include "base/RecordFormat.h"

// A file as its folder's listing shows it.
struct ListedFile {
    std::string name;
    unsigned long long size = 0;
    unsigned long long time = 0;

    static ListedFile Of(const WIN32_FIND_DATAA& listing);
    bool operator==(const ListedFile& other) const = default;
};

// Calls `entry` for each whole entry of the index file with the entry's file
// and its other fields. A missing or damaged file gives no entries, or those
// before the damage. An entry whose file was written within two seconds of the
// index is not given: file systems that keep times to a second or two (FAT,
// network shares) may show a later change of it with the same time.
void ReadFolderIndex(const std::string& path,
                     const std::function<void(const ListedFile& file, const std::vector<RecordField>& fields)>& entry);

// Rewrites the index without the entries of the named files. False when the
// index could not be rewritten (a missing index, or one without them, is left).
bool RemoveFolderIndexEntries(const std::string& path, const std::set<std::string>& names);

class FolderIndexWriter {
public:
    explicit FolderIndexWriter(const std::string& path) : file_(path, Durability::kCached) {}
    // Starts the entry of the file; its fields follow, then EndEntry.
    bool Entry(const ListedFile& file);
    bool EndEntry() { return file_.Field('E', nullptr, 0); }
    RecordFileWriter& Fields() { return file_; }
    bool Commit() { return file_.Commit(); }

private:
    RecordFileWriter file_;
};
