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

// Reads the whole file, opened without sharing. False when it does not exist,
// may not be read, is a folder, or is larger than `ceiling` bytes.
bool ReadRecordFile(const std::string& path, Bytes& bytes, uint64_t ceiling);

class RecordFileWriter {
public:
    // Creates the temporary file beside `path` and writes the record header.
    explicit RecordFileWriter(std::string path);
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
    bool failed_ = false;
};

// folder + prefix + a new GUID with its braces as "-" + extension.
std::string MakeUniqueFileName(const std::string& folder, const char* prefix, const char* extension);
// Whether a file name is that of a write in progress (or one a killed run left).
bool IsTemporaryRecordFile(const char* name);
// Deletes the temporary files in the folder (given with a trailing "\").
void RemoveTemporaryRecordFiles(const std::string& folder);

// The 38-character registry form of a GUID, braces included.
std::string GuidText(const GUID& guid);
