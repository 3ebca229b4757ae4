// The program's folder, and creating and removing folder trees.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Longest path the program keeps, in ANSI characters (a 521-byte buffer).
constexpr size_t kMaxPathChars = 520;

// Drive and folder of the running executable, ending with "\".
std::string ProgramFolder();

// Removes the folder (given with a trailing "\"; one is added when missing) and
// everything below it. Whatever cannot be removed is left and the walk goes on.
void DeleteFolderTree(const std::string& folder);

// Creates every folder named by a prefix of the path that ends just before a
// "\"; a last component without a trailing "\" is not created.
void CreateFolderPath(const std::string& path);

// Calls visit for every entry of the folder (given with a trailing "\") whose
// name matches the pattern, except "." and "..", in the order the file system
// returns them. Patterns also match short (8.3) names.
void ForEachEntry(const std::string& folder, const std::function<void(const WIN32_FIND_DATAA&)>& visit,
                  const char* pattern = "*.*");

// Appends "\" unless the text already ends with one.
std::string WithTrailingBackslash(std::string path);
