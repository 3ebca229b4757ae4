#include "archive/ItemFile.h"

#include <cmath>
#include <cstring>

#include "archive/RecordFile.h"
#include "items/ClipItem.h"
#include "shell/Paths.h"

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

bool WriteItemFile(ClipItem& item, const std::string& path) {
    UniqueFile file = CreateRecordFile(path);
    if (!file) return false;
    item.SetRecordPath(path);
    const int32_t type = item.TypeCode();
    const double time = item.CaptureTime();
    const GUID guid = item.SourceGuid();
    bool ok = WriteRecordHeader(file.get());
    ok = ok && WriteField(file.get(), 'Y', &type, sizeof(type));
    ok = ok && WriteField(file.get(), 'D', &time, sizeof(time));
    ok = ok && WriteField(file.get(), 'G', &guid, sizeof(guid));
    if (!ok) return false;
    return item.WriteData(file.get());
}

bool ReadItemFile(ClipItem& item, const std::string& path) {
    item.ReleaseData();
    UniqueFile file = OpenRecordFile(path);
    if (!file) return false;
    item.SetRecordPath(path);
    if (!ReadRecordHeader(file.get())) return false;

    char tag;
    uint32_t length;
    while (ReadFieldHeader(file.get(), tag, length)) {
        switch (tag) {
        case 'D': case 'd': {
            double time = 0;
            if (length != sizeof(time)) return false;
            uint32_t read;
            if (!ReadFixedField(file.get(), length, &time, sizeof(time), read)) return false;
            // NaN or infinity is no time; items are sorted and trimmed by it.
            if (!std::isfinite(time)) return false;
            item.SetCaptureTime(time);
            break;
        }
        case 'Y': case 'y': {
            int32_t type = 0;
            uint32_t read;
            if (length != sizeof(type)) return false;
            if (!ReadFixedField(file.get(), length, &type, sizeof(type), read) || type != item.TypeCode())
                return false;
            break;
        }
        case 'G': case 'g': {
            GUID guid = {};
            uint32_t read;
            const bool whole = ReadFixedField(file.get(), length, &guid, sizeof(guid), read);
            // A GUID cut short by the end of the file is taken as far as it goes.
            item.SetSourceGuid(guid);
            if (!whole) return true;
            break;
        }
        case 'B': case 'b':
            if (!item.ReadData(file.get(), length)) return false;
            break;
        default:
            // Not written by this program: step over its data; a field that runs
            // past the end of the file ends the fields.
            if (!SkipFieldData(file.get(), length)) return true;
            break;
        }
    }
    return true;
}

bool StoreItem(ClipItem& item, const std::string& archiveFolder) {
    const std::string dateFolder = DateFolderName(item.CaptureTime());
    const char* extension = ItemFileExtension(item.TypeCode());
    if (dateFolder.empty() || !extension) return false;
    const std::string folder = archiveFolder + dateFolder + "\\";
    CreateFolderPath(folder);
    return WriteItemFile(item, MakeUniqueFileName(folder, "C", extension));
}
