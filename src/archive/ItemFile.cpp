#include "archive/ItemFile.h"

#include <cstring>

#include "base/CaptureTime.h"
#include "base/Limits.h"
#include "base/Paths.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"
#include "items/ClipItem.h"
#include "items/ItemStore.h"

namespace {

struct ExtensionOfType {
    int type;
    const char* extension;
};

constexpr ExtensionOfType kExtensions[] = {
    {kTextItemType, ".tx"}, {kBitmapItemType, ".db"}, {kMetafileItemType, ".mt"},
    {kRtfItemType, ".rt"},  {kHtmlItemType, ".ht"},
};

}  // namespace

const char* ItemFileExtension(int type) {
    for (const auto& entry : kExtensions)
        if (entry.type == type) return entry.extension;
    return nullptr;
}

int ItemTypeOfExtension(const std::string& path) {
    const size_t dot = path.find_last_of(".\\");
    if (dot == std::string::npos || path[dot] != '.') return 0;
    const std::string extension = path.substr(dot);
    for (const auto& entry : kExtensions)
        if (_stricmp(entry.extension, extension.c_str()) == 0) return entry.type;
    return 0;
}

ItemFileContent ItemFileContent::Of(const ClipItem& item) {
    return {item.TypeCode(), item.CaptureTime(), item.SourceGuid(), item.WriterPayload()};
}

bool WriteItemContent(const ItemFileContent& content, const std::string& path) {
    RecordFileWriter file(path);
    return file.Field('Y', &content.type, sizeof(content.type)) && file.Field('D', &content.time, sizeof(content.time)) &&
           file.Field('G', &content.guid, sizeof(content.guid)) && (!content.data.write || content.data.write(file)) &&
           file.Commit();
}

bool WriteItemFile(ClipItem& item, const std::string& path) {
    // Data left on disk is read back first, or the file would lose it; data
    // that cannot be read is never written over the file.
    if (!item.EnsureData()) return false;
    if (item.Store()) item.Store()->WaitUntilStored(item);
    if (!WriteItemContent(ItemFileContent::Of(item), path)) return false;
    item.SetRecordPath(path);
    return true;
}

bool ReadItemFile(ClipItem& item, std::string path, ItemDataUse use) {
    item.ReleaseData();
    Bytes bytes;
    if (!ReadRecordFile(path, bytes, kMaxRecordFileBytes)) return false;
    item.SetRecordPath(std::move(path));
    ItemFileFields fields;
    if (!ParseItemFile(bytes, fields)) return false;
    if (fields.type && *fields.type != item.TypeCode()) return false;
    if (fields.time) item.SetCaptureTime(*fields.time);
    if (fields.sourceGuid) {
        GUID guid;
        static_assert(sizeof(guid) == sizeof(GuidBytes));
        std::memcpy(&guid, fields.sourceGuid->data(), sizeof(guid));
        item.SetSourceGuid(guid);
    }
    if (!fields.data) return true;
    return use == ItemDataUse::kLoad ? item.LoadData(*fields.data) : item.ReadData(*fields.data);
}

std::string NewItemPath(const ClipItem& item, const std::string& archiveFolder) {
    const std::string dateFolder = DateFolderName(item.CaptureTime());
    const char* extension = ItemFileExtension(item.TypeCode());
    if (dateFolder.empty() || !extension) return {};
    return MakeUniqueFileName(archiveFolder + dateFolder + "\\", "C", extension);
}

bool StoreItem(ClipItem& item, const std::string& archiveFolder) {
    const std::string path = NewItemPath(item, archiveFolder);
    if (path.empty()) return false;
    CreateFolderPath(path.substr(0, path.rfind('\\') + 1));
    return WriteItemFile(item, path);
}
