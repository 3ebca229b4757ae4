#include "archive/CaptureRecord.h"

#include <cstring>

#include "base/CaptureTime.h"
#include "base/CodePage.h"
#include "base/Limits.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"

const char kUnknownApplication[] = "Unknown Application";

CaptureRecord::CaptureRecord() : Title(kUnknownApplication), CaptureTime(CurrentCaptureTime()) {}

bool CaptureRecord::WriteFile(const std::string& path) {
    RecordFileWriter file(path);
    const DWORD atom = ClassAtom;
    const GUID guid = CaptureGuid;
    const double time = CaptureTime;
    if (!file.Field('A', &atom, sizeof(atom)) || !file.Field('G', &guid, sizeof(guid)) ||
        !file.Field('D', &time, sizeof(time)) || !file.TextField('T', AnsiToUtf8(Title)))
        return false;
    // After the fields earlier builds know, which step over it.
    if (!file.TextField('P', AnsiToUtf8(ProgramKey)) || !file.Commit()) return false;
    FilePath = path;
    return true;
}

bool CaptureRecord::ReadFile(std::string path) {
    Bytes bytes;
    if (!ReadRecordFile(path, bytes, kMaxRecordFileBytes)) return false;
    FilePath = std::move(path);
    CaptureFileFields fields;
    fields.classAtom = ClassAtom;
    std::memcpy(fields.captureGuid.data(), &CaptureGuid, sizeof(CaptureGuid));
    fields.time = CaptureTime;
    if (!ParseCaptureFile(bytes, fields)) return false;
    ClassAtom = fields.classAtom;
    std::memcpy(&CaptureGuid, fields.captureGuid.data(), sizeof(CaptureGuid));
    CaptureTime = fields.time;
    if (fields.titleUtf8)
        Title = Utf8ToAnsi(std::string_view(reinterpret_cast<const char*>(fields.titleUtf8->data()), fields.titleUtf8->size()));
    if (fields.programKeyUtf8)
        ProgramKey = Utf8ToAnsi(
            std::string_view(reinterpret_cast<const char*>(fields.programKeyUtf8->data()), fields.programKeyUtf8->size()));
    return true;
}
