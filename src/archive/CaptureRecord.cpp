#include "archive/CaptureRecord.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "archive/RecordFile.h"
#include "items/ClipItem.h"

const char kUnknownApplication[] = "Unknown Application";

namespace {

// A title longer than this in UTF-8 cannot fit the ANSI title the record keeps
// (at most four bytes per character); the rest of such a field is skipped, not read.
constexpr uint32_t kMaxTitleFieldBytes = 4 * (kMaxTitleChars + 1);

}  // namespace

CaptureRecord::CaptureRecord() : Title(kUnknownApplication), CaptureTime(CurrentCaptureTime()) {}

bool CaptureRecord::WriteFile(const std::string& path) {
    UniqueFile file = CreateRecordFile(path);
    if (!file) return false;
    FilePath = path;
    const DWORD atom = ClassAtom;
    const GUID guid = CaptureGuid;
    const double time = CaptureTime;
    if (!WriteRecordHeader(file.get()) || !WriteField(file.get(), 'A', &atom, sizeof(atom)) ||
        !WriteField(file.get(), 'G', &guid, sizeof(guid)) || !WriteField(file.get(), 'D', &time, sizeof(time)))
        return false;
    return WriteTextField(file.get(), 'T', AnsiToUtf8(Title));
}

bool CaptureRecord::ReadFile(const std::string& path) {
    UniqueFile file = OpenRecordFile(path);
    if (!file) return false;
    FilePath = path;
    if (!ReadRecordHeader(file.get())) return false;

    char tag;
    uint32_t length;
    while (ReadFieldHeader(file.get(), tag, length)) {
        uint32_t read = 0;
        switch (tag) {
        // Fields cut short are taken as far as they go; the next header read then
        // finds the end of the file.
        case 'G': case 'g':
            ReadFixedField(file.get(), length, &CaptureGuid, sizeof(CaptureGuid), read);
            break;
        case 'A': case 'a':
            ReadFixedField(file.get(), length, &ClassAtom, sizeof(ClassAtom), read);
            break;
        case 'D': case 'd': {
            double time = CaptureTime;
            ReadFixedField(file.get(), length, &time, sizeof(time), read);
            // Not a time at all (NaN or infinite): sorting and trimming by time
            // would go wrong, so such a record is unreadable.
            if (!std::isfinite(time)) return false;
            CaptureTime = time;
            break;
        }
        case 'T': case 't': {
            if (!FieldFitsInFile(file.get(), length)) return false;
            std::string utf8(std::min(length, kMaxTitleFieldBytes), '\0');
            if (!ReadExactly(file.get(), utf8.data(), static_cast<uint32_t>(utf8.size()))) return false;
            if (length > utf8.size() && !SkipFieldData(file.get(), length - static_cast<uint32_t>(utf8.size())))
                return false;
            Title = Utf8ToAnsi(utf8);
            break;
        }
        default:
            // Not written by this program: step over its data; a field that runs
            // past the end of the file ends the fields.
            if (!SkipFieldData(file.get(), length)) return true;
            break;
        }
    }
    return true;
}

std::string GuidText(const GUID& guid) {
    wchar_t wide[40] = {};
    if (::StringFromGUID2(guid, wide, 40) == 0) return {};
    std::string text;
    for (const wchar_t* p = wide; *p; ++p) text += static_cast<char>(*p);
    return text;
}
