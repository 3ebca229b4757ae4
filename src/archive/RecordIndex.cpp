#include "archive/RecordIndex.h"

#include <cstring>

#include "base/CodePage.h"
#include "base/RecordFile.h"
#include "base/RecordFormat.h"

namespace {

constexpr char kIndexName[] = "records.idx";
// A record of the index takes some 100 bytes; this is room for millions.
constexpr uint64_t kMaxIndexBytes = 1024ull * 1024 * 1024;

struct Stamp {
    unsigned long long size;
    unsigned long long time;
};

}  // namespace

RecordIndex::RecordIndex(const std::string& folder) : folder_(folder) {}

RecordIndex::File RecordIndex::FileOf(const WIN32_FIND_DATAA& listing) {
    return {listing.cFileName, (static_cast<unsigned long long>(listing.nFileSizeHigh) << 32) | listing.nFileSizeLow,
            (static_cast<unsigned long long>(listing.ftLastWriteTime.dwHighDateTime) << 32) |
                listing.ftLastWriteTime.dwLowDateTime};
}

void RecordIndex::Read() {
    entries_.clear();
    taken_ = 0;
    Bytes bytes;
    if (!ReadRecordFile(folder_ + kIndexName, bytes, kMaxIndexBytes) || !HasRecordHeader(bytes)) return;
    // Fields come in order per record: "N" (the file's name) starts one, then
    // "S" (size and time), "A", "G", "D" and "T" as in the record's own file.
    FieldWalker walker(bytes);
    RecordField field;
    std::string name;
    Entry entry;
    bool stamped = false;
    auto finish = [&] {
        if (!name.empty() && stamped) entries_[name] = entry;
        name.clear();
        entry = Entry();
        stamped = false;
    };
    while (walker.Next(field)) {
        if (!field.complete) break;  // the rest of a damaged index is not trusted
        switch (field.tag) {
        case 'N':
            finish();
            name.assign(reinterpret_cast<const char*>(field.data.data()), field.data.size());
            break;
        case 'S': {
            Stamp stamp{};
            if (!IsExactly(field, sizeof(stamp))) break;
            CopyFixed(field, &stamp, sizeof(stamp));
            entry.size = stamp.size;
            entry.time = stamp.time;
            stamped = true;
            break;
        }
        case 'A':
            CopyFixed(field, &entry.record.ClassAtom, sizeof(entry.record.ClassAtom));
            break;
        case 'G':
            CopyFixed(field, &entry.record.CaptureGuid, sizeof(entry.record.CaptureGuid));
            break;
        case 'D':
            CopyFixed(field, &entry.record.CaptureTime, sizeof(entry.record.CaptureTime));
            break;
        case 'T':
            entry.record.Title = Utf8ToAnsi(
                std::string_view(reinterpret_cast<const char*>(field.data.data()), field.data.size()));
            break;
        default:
            break;
        }
    }
    finish();
}

std::unique_ptr<CaptureRecord> RecordIndex::Take(const File& file) {
    auto found = entries_.find(file.name);
    if (found == entries_.end()) return nullptr;
    if (found->second.size != file.size || found->second.time != file.time) return nullptr;
    auto record = std::make_unique<CaptureRecord>(found->second.record);
    record->FilePath = folder_ + file.name;
    ++taken_;
    return record;
}

bool RecordIndex::Write(const std::vector<std::pair<File, const CaptureRecord*>>& records) const {
    RecordFileWriter file(folder_ + kIndexName);
    for (const auto& [listed, record] : records) {
        const Stamp stamp = {listed.size, listed.time};
        const DWORD atom = record->ClassAtom;
        if (!file.TextField('N', listed.name) || !file.Field('S', &stamp, sizeof(stamp)) ||
            !file.Field('A', &atom, sizeof(atom)) || !file.Field('G', &record->CaptureGuid, sizeof(GUID)) ||
            !file.Field('D', &record->CaptureTime, sizeof(double)) || !file.TextField('T', AnsiToUtf8(record->Title)))
            return false;
    }
    return file.Commit();
}
