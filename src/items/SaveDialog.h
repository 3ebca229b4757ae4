// The save dialog every item type uses, writing user files, and opening a file
// with the program the shell associates with it.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct SaveChoice {
    const char* display;    // text shown in the type list
    const char* pattern;    // its pattern, as the list shows it
    const char* extension;  // what replaces the extension the user typed, with its dot
};

// Shows the save dialog owned by the active window with the choices, the first
// one preselected. On OK gives the path with the chosen entry's extension in place
// of whatever was typed, and the 1-based index of the entry; false on cancel.
bool AskSavePath(const std::vector<SaveChoice>& choices, const char* defaultExtension, std::string& path,
                 int& choice);

// Writes the file a save choice names; true when it was written.
using SaveWriter = std::function<bool(const std::string& path, int choice)>;

// The whole Save As: asks for the path, writes, and tells the user (a message
// naming the file) when the file could not be written. True when the user
// cancelled or the file was written.
bool SaveThroughDialog(const std::vector<SaveChoice>& choices, const char* defaultExtension, const SaveWriter& write);

// Tells the user, in a message naming the file, that it could not be written.
void ReportSaveFailure(const std::string& path);

// Writes a new file with the extension in the temporary folder and opens it
// with its associated program; true when the file was written.
bool OpenInExternalViewer(const std::string& temporaryFolder, const char* extension,
                          const std::function<bool(const std::string& path)>& write);

// Drive, folder and base name of the path, then the extension.
std::string ReplaceExtension(const std::string& path, const char* extension);

// Creates (or replaces) the file and writes the bytes; other processes may read meanwhile.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Opens the file with its associated program; true when the shell accepted it.
bool OpenWithShell(const std::string& path);
