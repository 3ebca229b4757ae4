// The record of one clipboard change: where it came from and when.
#pragma once

#include <windows.h>

#include <string>

#include "base/RecordFile.h"
#include "base/SharedText.h"

extern const char kUnknownApplication[];

class CaptureRecord {
public:
    CaptureRecord();
    virtual ~CaptureRecord() = default;

    // The ".se" file: "A", "G", "D", "T", then "P" when the program is known.
    bool WriteFile(const std::string& path);
    bool ReadFile(std::string path);

    // Shared with every record of the same title: an archive holds few.
    SharedText Title;
    DWORD ClassAtom = 0;
    // The program of the source window (see ProgramKeyOf): the application it
    // belongs to. Empty for "Unknown Application", for a window whose process
    // could not be asked, and in records of earlier builds; those belong to the
    // application of their atom among the ones known by no program.
    SharedText ProgramKey;
    GUID CaptureGuid = {};
    double CaptureTime = 0;
    StoredPath FilePath;
    // Where the capture stands among the archive's, first captured first: the
    // loaded ones by their times, then this run's as they come, whatever the
    // clock said. Kept in memory only.
    unsigned long long Order = 0;
};
