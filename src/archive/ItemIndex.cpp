#include "archive/ItemIndex.h"

#include "items/ItemStore.h"

ItemIndex::ItemIndex(std::string indexPath, std::string folder)
    : indexPath_(std::move(indexPath)), folder_(std::move(folder)) {}

void ItemIndex::Read() {
    entries_.clear();
    taken_ = 0;
    // After the file: "Y", "D" and "G" as in the item's own file, then its "B"
    // field, or "L" when the data was left in the file.
    ReadFolderIndex(indexPath_, [this](const ListedFile& file, const std::vector<RecordField>& fields) {
        Entry entry;
        entry.file = file;
        bool typed = false;
        for (const RecordField& field : fields) {
            if (field.tag == 'Y') {
                typed = IsExactly(field, sizeof(entry.type));
                CopyFixed(field, &entry.type, sizeof(entry.type));
            } else if (field.tag == 'D') {
                CopyFixed(field, &entry.time, sizeof(entry.time));
            } else if (field.tag == 'G') {
                CopyFixed(field, &entry.guid, sizeof(entry.guid));
            } else if (field.tag == 'L') {
                entry.dataOnDisk = true;
            } else if (field.tag == 'B') {
                entry.hasData = true;
                entry.data.assign(field.data.begin(), field.data.end());
            }
        }
        if (typed) entries_[file.name] = std::move(entry);
    });
}

std::unique_ptr<ClipItem> ItemIndex::Take(const ListedFile& file, ItemStore& store) {
    auto found = entries_.find(file.name);
    if (found == entries_.end() || !(found->second.file == file)) return nullptr;
    const Entry& entry = found->second;
    std::unique_ptr<ClipItem> item = CreateItemOfType(entry.type);
    if (!item) return nullptr;
    item->SetStore(&store);
    item->SetRecordPath(folder_ + file.name);
    item->SetCaptureTime(entry.time);
    item->SetSourceGuid(entry.guid);
    // Data that does not read back is looked at again in the item's file.
    if (entry.dataOnDisk)
        item->LeaveDataOnDisk();
    else if (entry.hasData && !item->ReadData(entry.data))
        return nullptr;
    ++taken_;
    return item;
}

bool ItemIndex::Write(const std::vector<std::pair<ListedFile, const ClipItem*>>& items) const {
    FolderIndexWriter index(indexPath_);
    RecordFileWriter& fields = index.Fields();
    for (const auto& [file, item] : items) {
        const int32_t type = item->TypeCode();
        const double time = item->CaptureTime();
        if (!index.Entry(file) || !fields.Field('Y', &type, sizeof(type)) || !fields.Field('D', &time, sizeof(time)) ||
            !fields.Field('G', &item->SourceGuid(), sizeof(GUID)) ||
            !(item->IsDataOnDisk() ? fields.Field('L', nullptr, 0) : item->WriteData(fields)) || !index.EndEntry())
            return false;
    }
    return index.Commit();
}
