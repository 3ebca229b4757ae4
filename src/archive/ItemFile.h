// Writing and reading one item's file, and storing a new item in its date folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "items/ClipItem.h"

// ".tx", ".db", ".mt", ".rt", ".ht"; null for an unknown type code.
const char* ItemFileExtension(int type);
// The type code an item file's extension names; 0 when it names none.
int ItemTypeOfExtension(const std::string& path);

// What an item's file holds, taken from the item on the window's thread: the
// writer thread writes it without touching the item.
struct ItemFileContent {
    int32_t type = 0;
    double time = 0;
    GUID guid = {};
    ItemPayload data;

    static ItemFileContent Of(const ClipItem& item);
};
bool WriteItemContent(const ItemFileContent& content, const std::string& path);

// Writes the item's file (after any write of it still queued, so that it is
// not overtaken) and makes the path the item's. False, with the file as it
// was, when the item's data cannot be read back or the file cannot be written.
bool WriteItemFile(ClipItem& item, const std::string& path);

enum class ItemDataUse {
    kRead,   // the data is read into memory
    kLoad,   // the data is checked, but large data is left in the file (ClipItem::LoadData)
};
bool ReadItemFile(ClipItem& item, std::string path, ItemDataUse use = ItemDataUse::kRead);
// Where a new item's file goes: archiveFolder + its date folder + a new name;
// empty for an item that cannot be stored.
std::string NewItemPath(const ClipItem& item, const std::string& archiveFolder);
// Writes a new item into archiveFolder + its date folder under a new name.
bool StoreItem(ClipItem& item, const std::string& archiveFolder);
