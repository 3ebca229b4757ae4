// Writing and reading one item's file, and storing a new item in its date folder.
#pragma once

#include <string>

class ClipItem;

// ".tx", ".db", ".mt", ".rt", ".ht"; null for an unknown type code.
const char* ItemFileExtension(int type);
// The type code an item file's extension names; 0 when it names none.
int ItemTypeOfExtension(const std::string& path);

// Writes the item's file and makes the path the item's.
bool WriteItemFile(ClipItem& item, const std::string& path);
// Writes the file of an item whose data is in memory, touching nothing of the
// item, so that the writer thread may call it while the window's thread reads it.
bool WriteItemRecord(const ClipItem& item, const std::string& path);

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
