#include "items/SaveDialog.h"

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "base/Paths.h"
#include "base/RecordFile.h"
#include "framework/UniqueHandle.h"
#include "resources/resource.h"

bool AskSavePath(const std::vector<SaveChoice>& choices, const char* defaultExtension, std::string& path,
                 int& choice) {
    std::string filter;
    for (const SaveChoice& c : choices) {
        filter += c.display;
        filter += '\0';
        filter += c.pattern;
        filter += '\0';
    }
    filter += '\0';

    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ::GetActiveWindow();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof(file);
    // The dialog wants the extension without its dot.
    dialog.lpstrDefExt = defaultExtension && defaultExtension[0] == '.' ? defaultExtension + 1 : defaultExtension;
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!::GetSaveFileNameA(&dialog)) return false;

    choice = static_cast<int>(dialog.nFilterIndex);
    if (choice < 1 || choice > static_cast<int>(choices.size())) {
        path = file;
        return true;
    }
    path = ReplaceExtension(file, choices[choice - 1].extension);
    return true;
}

std::string ReplaceExtension(const std::string& path, const char* extension) {
    char drive[_MAX_DRIVE] = {};
    char dir[MAX_PATH * 2] = {};
    char name[MAX_PATH * 2] = {};
    if (_splitpath_s(path.c_str(), drive, sizeof(drive), dir, sizeof(dir), name, sizeof(name), nullptr, 0) != 0)
        return path;
    return std::string(drive) + dir + name + extension;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, std::numeric_limits<DWORD>::max() / 2));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool OpenWithShell(const std::string& path) {
    HINSTANCE result = ::ShellExecuteA(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void ReportSaveFailure(const std::string& path) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    char format[256] = {}, title[256] = {};
    ::LoadStringA(instance, IDS_SAVE_FAILED, format, sizeof(format));
    ::LoadStringA(instance, IDS_PRODUCT_NAME, title, sizeof(title));
    std::string text(format);
    const size_t mark = text.find("%s");
    if (mark != std::string::npos) text.replace(mark, 2, path);
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), title, MB_OK | MB_ICONERROR);
}

bool SaveThroughDialog(const std::vector<SaveChoice>& choices, const char* defaultExtension, const SaveWriter& write) {
    std::string path;
    int choice = 0;
    if (!AskSavePath(choices, defaultExtension, path, choice)) return true;
    if (write(path, choice)) return true;
    ReportSaveFailure(path);
    return false;
}

bool OpenInExternalViewer(const std::string& temporaryFolder, const char* extension,
                          const std::function<bool(const std::string& path)>& write) {
    // Another start of the program may have removed the folder meanwhile.
    CreateFolderPath(temporaryFolder);
    const std::string path = MakeUniqueFileName(temporaryFolder, nullptr, extension);
    if (!write(path)) return false;
    OpenWithShell(path);
    return true;
}
