#include "archive/FolderIndex.h"

#include <algorithm>
#include <vector>

namespace {

// An entry takes some 100 bytes, or a small item file; this is room for millions.
constexpr uint64_t kMaxIndexBytes = 1024ull * 1024 * 1024;

struct Stamp {
    unsigned long long size;
    unsigned long long time;
};

// File times count 100 ns.
constexpr unsigned long long kUntrustedSpan = 2ull * 10'000'000;

unsigned long long TimeOf(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

ListedFile ListedFile::Of(const WIN32_FIND_DATAA& listing) {
    return {listing.cFileName, (static_cast<unsigned long long>(listing.nFileSizeHigh) << 32) | listing.nFileSizeLow,
            (static_cast<unsigned long long>(listing.ftLastWriteTime.dwHighDateTime) << 32) |
                listing.ftLastWriteTime.dwLowDateTime};
}

void ReadFolderIndex(const std::string& path,
                     const std::function<void(const ListedFile& file, const std::vector<RecordField>& fields)>& entry) {
    Bytes bytes;
    FILETIME written = {};
    if (!ReadRecordFile(path, bytes, kMaxIndexBytes, &written) || !HasRecordHeader(bytes)) return;
    // A file changed again in the same second or two as the index was written
    // may show the time the index has for it: such an entry is not trusted.
    const unsigned long long trustedBefore = TimeOf(written) - std::min(TimeOf(written), kUntrustedSpan);
    FieldWalker walker(bytes);
    RecordField field;
    ListedFile file;
    bool stamped = false;
    std::vector<RecordField> fields;
    auto start = [&] {
        file = ListedFile();
        stamped = false;
        fields.clear();
    };
    while (walker.Next(field)) {
        if (!field.complete) break;  // nothing after damage is trusted
        if (field.tag == 'E') {
            if (!file.name.empty() && stamped && file.time < trustedBefore) entry(file, fields);
            start();
        } else if (field.tag == 'N') {
            start();
            file.name.assign(reinterpret_cast<const char*>(field.data.data()), field.data.size());
        } else if (field.tag == 'S' && IsExactly(field, sizeof(Stamp))) {
            Stamp stamp{};
            CopyFixed(field, &stamp, sizeof(stamp));
            file.size = stamp.size;
            file.time = stamp.time;
            stamped = true;
        } else {
            fields.push_back(field);
        }
    }
}

bool RemoveFolderIndexEntries(const std::string& path, const std::set<std::string>& names) {
    Bytes bytes;
    if (!ReadRecordFile(path, bytes, kMaxIndexBytes)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (!HasRecordHeader(bytes)) return false;
    // The kept entries are copied field by field, as they stand; what follows
    // damage is dropped, as a reader would.
    FieldWalker walker(bytes);
    RecordField field;
    std::vector<RecordField> entry;
    bool leaving = false, removed = false;
    // Flushed like an archive file: a power cut must not bring a removed entry back.
    RecordFileWriter index(path, Durability::kFlushed);
    while (walker.Next(field) && field.complete) {
        if (field.tag == 'N') {
            entry.clear();
            leaving = names.count(std::string(reinterpret_cast<const char*>(field.data.data()), field.data.size())) > 0;
            removed = removed || leaving;
        }
        entry.push_back(field);
        if (field.tag != 'E') continue;
        if (!leaving)
            for (const RecordField& kept : entry)
                if (!index.Field(kept.tag, kept.data.data(), kept.data.size())) return false;
        entry.clear();
    }
    // Nothing to remove: the index stays as it is (the writer's temporary goes).
    if (!removed) return true;
    return index.Commit();
}

bool FolderIndexWriter::Entry(const ListedFile& file) {
    const Stamp stamp{file.size, file.time};
    return file_.TextField('N', file.name) && file_.Field('S', &stamp, sizeof(stamp));
}
