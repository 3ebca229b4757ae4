// Record files on disk: read whole into memory for the parsers, and written
// under a temporary name that is renamed over the target only once complete, so
// a full disk or a killed process never leaves a partial archive file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "framework/UniqueHandle.h"

// Reads the whole file. Others may read, write, rename or delete it meanwhile
// (sync clients, search indexers and backups hold files open); one that has it
// open without sharing is waited for a moment. False when it does not exist,
// may not be read, is a folder, or is larger than `ceiling` bytes. When
// `lastWrite` is given it gets the file's last-write time.
bool ReadRecordFile(const std::string& path, Bytes& bytes, uint64_t ceiling, FILETIME* lastWrite = nullptr);

// How a committed file is made to last.
enum class Durability {
    // Flushed to the disk before it takes its name, which is replaced with
    // write-through: a power cut leaves the old file or the new one, whole.
    kFlushed,
    // Left to the system's cache: for files that are only copies (indexes).
    kCached,
};

class RecordFileWriter {
public:
    // Creates the temporary file beside `path` and writes the record header.
    explicit RecordFileWriter(std::string path, Durability durability = Durability::kFlushed);
    // Writes the fields alone, without the header, to the end of `memory`
    // (borrowed); Commit then only tells whether every write went in.
    explicit RecordFileWriter(Bytes& memory) : memory_(&memory) {}
    // Deletes the temporary file unless it was committed.
    ~RecordFileWriter();
    RecordFileWriter(const RecordFileWriter&) = delete;
    RecordFileWriter& operator=(const RecordFileWriter&) = delete;

    bool Field(char tag, const void* data, size_t length);
    // Writes nothing (and succeeds) for empty text; otherwise the bytes without terminator.
    bool TextField(char tag, const std::string& text);
    // Closes the file and renames it over the target. False, with no temporary
    // file left and the target as it was, when any write so far fell short.
    bool Commit();
    bool Failed() const { return failed_; }

private:
    bool WriteBytes(const void* data, size_t length);

    std::string path_;
    std::string temporaryPath_;
    UniqueFile file_;
    Durability durability_ = Durability::kCached;
    Bytes* memory_ = nullptr;
    bool failed_ = false;
};

// folder + prefix + a new GUID with its braces as "-" + extension.
std::string MakeUniqueFileName(const std::string& folder, const char* prefix, const char* extension);
// Whether a file name is that of a write in progress (or one a killed run left).
bool IsTemporaryRecordFile(const char* name);
// Whether a file name is that of a sync engine's transfer in progress
// (".syncthing.*.tmp", "~*.tmp" and the like): never a record file, never
// counted, and never removed by the program, as the engine renames it.
bool IsSyncEngineTemporaryFile(const char* name);
// Deletes the temporary files in the folder (given with a trailing "\").
void RemoveTemporaryRecordFiles(const std::string& folder);

// The 38-character registry form of a GUID, braces included.
std::string GuidText(const GUID& guid);
