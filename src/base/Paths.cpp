#include "base/Paths.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "framework/UniqueHandle.h"

std::string ProgramFolder() {
    char module[MAX_PATH * 4] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, module, sizeof(module));
    if (length == 0 || length >= sizeof(module)) return {};
    char drive[_MAX_DRIVE] = {};
    char dir[MAX_PATH * 4] = {};
    if (_splitpath_s(module, drive, sizeof(drive), dir, sizeof(dir), nullptr, 0, nullptr, 0) != 0) return {};
    return WithTrailingBackslash(std::string(drive) + dir);
}

std::string WithTrailingBackslash(std::string path) {
    // Multibyte-aware: the last character, not the last byte, must be the backslash.
    const char* last = nullptr;
    for (const char* p = path.c_str(); *p; p = ::CharNextA(p)) last = p;
    if (!last || *last != '\\') path += '\\';
    return path;
}

void ForEachEntry(const std::string& folder, const std::function<void(const WIN32_FIND_DATAA&)>& visit,
                  const char* pattern) {
    WIN32_FIND_DATAA found;
    UniqueFindFile search(::FindFirstFileA((folder + pattern).c_str(), &found));
    if (!search) return;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        visit(found);
    } while (::FindNextFileA(search.get(), &found));
}

void DeleteFolderTree(const std::string& given) {
    // An empty name would make the walk below empty the current folder.
    if (given.empty()) return;
    // Without its backslash, "folder*.*" would match the folder's siblings.
    const std::string folder = WithTrailingBackslash(given);
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& found) {
        const std::string path = folder + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction or directory link is removed as a link: what it points
            // to lies outside the tree and is not ours to delete.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                ::RemoveDirectoryA(path.c_str());
            else
                DeleteFolderTree(path + "\\");
            return;
        }
        // A read-only file would otherwise stay behind and keep its folder alive.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
    });
    ::RemoveDirectoryA(folder.c_str());
}

void CreateFolderPath(const std::string& path) {
    const char* begin = path.c_str();
    for (const char* p = begin; *p; p = ::CharNextA(p)) {
        if (*p != '\\') continue;
        std::string prefix(begin, p);
        if (!prefix.empty()) ::CreateDirectoryA(prefix.c_str(), nullptr);
    }
}
