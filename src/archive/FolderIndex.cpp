#include "archive/FolderIndex.h"

#include <vector>

namespace {

// An entry takes some 100 bytes, or a small item file; this is room for millions.
constexpr uint64_t kMaxIndexBytes = 1024ull * 1024 * 1024;

struct Stamp {
    unsigned long long size;
    unsigned long long time;
};

}  // namespace

ListedFile ListedFile::Of(const WIN32_FIND_DATAA& listing) {
    return {listing.cFileName, (static_cast<unsigned long long>(listing.nFileSizeHigh) << 32) | listing.nFileSizeLow,
            (static_cast<unsigned long long>(listing.ftLastWriteTime.dwHighDateTime) << 32) |
                listing.ftLastWriteTime.dwLowDateTime};
}

void ReadFolderIndex(const std::string& path,
                     const std::function<void(const ListedFile& file, const std::vector<RecordField>& fields)>& entry) {
    Bytes bytes;
    if (!ReadRecordFile(path, bytes, kMaxIndexBytes) || !HasRecordHeader(bytes)) return;
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
            if (!file.name.empty() && stamped) entry(file, fields);
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

bool FolderIndexWriter::Entry(const ListedFile& file) {
    const Stamp stamp{file.size, file.time};
    return file_.TextField('N', file.name) && file_.Field('S', &stamp, sizeof(stamp));
}
