// Writing and reading one item's file, and storing a new item in its date folder.
#pragma once

#include <string>

class ClipItem;

// ".tx", ".db", ".mt", ".rt", ".ht"; null for an unknown type code.
const char* ItemFileExtension(int type);
// The type code an item file's extension names; 0 when it names none.
int ItemTypeOfExtension(const std::string& path);

bool WriteItemFile(ClipItem& item, const std::string& path);
bool ReadItemFile(ClipItem& item, std::string path);
// Writes a new item into archiveFolder + its date folder under a new name.
bool StoreItem(ClipItem& item, const std::string& archiveFolder);
