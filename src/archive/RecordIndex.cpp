#include "archive/RecordIndex.h"

#include "base/CodePage.h"

namespace {

constexpr char kIndexName[] = "records.idx";

}  // namespace

RecordIndex::RecordIndex(const std::string& folder) : folder_(folder) {}

std::string RecordIndex::PathIn(const std::string& folder) { return folder + kIndexName; }

void RecordIndex::Read() {
    entries_.clear();
    taken_ = 0;
    // After the file: "A", "G", "D", "T" and "P" as in the record's own file.
    ReadFolderIndex(folder_ + kIndexName, [this](const ListedFile& file, const std::vector<RecordField>& fields) {
        Entry entry{file, CaptureRecord()};
        CaptureRecord& record = entry.record;
        for (const RecordField& field : fields) {
            if (field.tag == 'A')
                CopyFixed(field, &record.ClassAtom, sizeof(record.ClassAtom));
            else if (field.tag == 'G')
                CopyFixed(field, &record.CaptureGuid, sizeof(record.CaptureGuid));
            else if (field.tag == 'D')
                CopyFixed(field, &record.CaptureTime, sizeof(record.CaptureTime));
            else if (field.tag == 'T')
                record.Title = Utf8ToAnsi(
                    std::string_view(reinterpret_cast<const char*>(field.data.data()), field.data.size()));
            else if (field.tag == 'P')
                record.ProgramKey = Utf8ToAnsi(
                    std::string_view(reinterpret_cast<const char*>(field.data.data()), field.data.size()));
        }
        entries_[file.name] = std::move(entry);
    });
}

std::unique_ptr<CaptureRecord> RecordIndex::Take(const ListedFile& file) {
    auto found = entries_.find(file.name);
    if (found == entries_.end() || !(found->second.file == file)) return nullptr;
    auto record = std::make_unique<CaptureRecord>(found->second.record);
    record->FilePath = folder_ + file.name;
    ++taken_;
    return record;
}

bool RecordIndex::Write(const std::vector<std::pair<ListedFile, const CaptureRecord*>>& records) const {
    FolderIndexWriter index(folder_ + kIndexName);
    RecordFileWriter& fields = index.Fields();
    for (const auto& [file, record] : records) {
        const DWORD atom = record->ClassAtom;
        if (!index.Entry(file) || !fields.Field('A', &atom, sizeof(atom)) ||
            !fields.Field('G', &record->CaptureGuid, sizeof(GUID)) ||
            !fields.Field('D', &record->CaptureTime, sizeof(double)) ||
            !fields.TextField('T', AnsiToUtf8(record->Title)) ||
            !fields.TextField('P', AnsiToUtf8(record->ProgramKey)) || !index.EndEntry())
            return false;
    }
    return index.Commit();
}
