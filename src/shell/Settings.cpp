#include "shell/Settings.h"

#include <io.h>
#include <shlobj.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "framework/UniqueHandle.h"
#include "base/Paths.h"
#include "views/GroupTree.h"

namespace {

constexpr char kShortcutName[] = "Scrapvault.lnk";
constexpr char kExeName[] = "SVault.exe";

// Registry strings are read into a buffer of this size, as the program always has.
constexpr DWORD kRegistryTextBuffer = 520;

bool QueryDword(HKEY key, const char* name, DWORD& value) {
    DWORD read = 0;
    DWORD size = sizeof(read);
    // The type is not checked: whatever four bytes the value holds are taken.
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS)
        return false;
    value = read;
    return true;
}

bool QueryText(HKEY key, const char* name, std::string& value) {
    char buffer[kRegistryTextBuffer + 1] = {};
    DWORD size = kRegistryTextBuffer;
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    // The value need not be terminated; the spare byte above ends it either way.
    value.assign(buffer, strnlen(buffer, kRegistryTextBuffer));
    return true;
}

// The exclude list as stored: a REG_MULTI_SZ of a sane size. Another type, or
// a value too large, is no list the program wrote and is left alone.
bool QueryExcludedPrograms(HKEY key, ExcludeList& list) {
    constexpr DWORD kMaxBytes = 256 * 1024;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, "ExcludedPrograms", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > kMaxBytes)
        return false;
    std::vector<char> bytes(size);
    if (size && ::RegQueryValueExA(key, "ExcludedPrograms", nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                                   &size) != ERROR_SUCCESS)
        return false;
    // The value may have grown between the two questions; what was read is whole.
    list.SetFromMultiString(std::string_view(bytes.data(), std::min<size_t>(size, bytes.size())));
    return true;
}

void QueryBool(HKEY key, const char* name, bool& field) {
    DWORD value;
    if (QueryDword(key, name, value)) field = value != 0;
}

void QueryInt(HKEY key, const char* name, int& field) {
    DWORD value;
    if (QueryDword(key, name, value)) field = static_cast<int>(value);
}

void QueryLong(HKEY key, const char* name, LONG& field) {
    DWORD value;
    if (QueryDword(key, name, value)) field = static_cast<LONG>(value);
}

void SetDword(HKEY key, const char* name, DWORD value) {
    ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void SetText(HKEY key, const char* name, const std::string& value) {
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
}

std::wstring ToUtf16(const std::string& ansi) {
    int units = ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(units, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), units);
    wide.resize(units - 1);
    return wide;
}

}  // namespace

Settings::Settings() {
    const std::string program = ProgramFolder();
    GroupBy = kGroupByDate;
    ArchiveFolder = program + "Archive\\";
    LoadWholeArchive = false;
    TempFolder = program + "Temp\\";
    RegistryKeyPath = std::string("Software\\") + "Brindlework\\" + "Scrapvault\\" + "1.0\\";
    WarningsKeyPath = RegistryKeyPath + "Warnings";
}

void Settings::Load() {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath().c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return;

    std::string folder;
    if (QueryText(key.get(), "ArchiveFolder", folder)) SetArchiveFolder(folder);
    QueryBool(key.get(), "LoadWholeArchive", LoadWholeArchive);
    QueryBool(key.get(), "ProcessTexts", ProcessTexts);
    QueryBool(key.get(), "ProcessImages", ProcessImages);
    QueryBool(key.get(), "ProcessRTF", ProcessRTF);
    QueryBool(key.get(), "ProcessHTML", ProcessHTML);
    QueryBool(key.get(), "ProcessMetafiles", ProcessMetafiles);
    QueryInt(key.get(), "ItemsLimit", ItemsLimit);
    QueryInt(key.get(), "DiskSizeLimit", DiskSizeLimit);
    QueryInt(key.get(), "GroupBy", GroupBy);
    std::string hotKey;
    if (QueryText(key.get(), "HotKey", hotKey)) HotKey = hotKey.substr(0, 1);
    QueryLong(key.get(), "WindowLeft", WindowRect.left);
    QueryLong(key.get(), "WindowTop", WindowRect.top);
    QueryLong(key.get(), "WindowRight", WindowRect.right);
    QueryLong(key.get(), "WindowBottom", WindowRect.bottom);
    QueryInt(key.get(), "SplitterPosition", SplitterPosition);
    QueryExcludedPrograms(key.get(), ExcludedPrograms);
    DWORD startup;
    // Absent on a first run: the shortcut is then left as it is.
    if (QueryDword(key.get(), "Startup", startup)) {
        Startup = startup != 0;
        SyncStartupShortcut(Startup);
    }
}

void Settings::Save() const {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    SetText(key.get(), "ArchiveFolder", ArchiveFolder);
    SetDword(key.get(), "LoadWholeArchive", LoadWholeArchive);
    SetDword(key.get(), "ProcessTexts", ProcessTexts);
    SetDword(key.get(), "ProcessImages", ProcessImages);
    SetDword(key.get(), "ProcessRTF", ProcessRTF);
    SetDword(key.get(), "ProcessHTML", ProcessHTML);
    SetDword(key.get(), "ProcessMetafiles", ProcessMetafiles);
    SetDword(key.get(), "Startup", Startup);
    SetDword(key.get(), "ItemsLimit", static_cast<DWORD>(ItemsLimit));
    SetDword(key.get(), "DiskSizeLimit", static_cast<DWORD>(DiskSizeLimit));
    SetText(key.get(), "HotKey", HotKey);
    SetDword(key.get(), "GroupBy", static_cast<DWORD>(GroupBy));
    SaveExcludedPrograms();
    if (::IsRectEmpty(&WindowRect)) return;
    SetDword(key.get(), "WindowLeft", static_cast<DWORD>(WindowRect.left));
    SetDword(key.get(), "WindowTop", static_cast<DWORD>(WindowRect.top));
    SetDword(key.get(), "WindowRight", static_cast<DWORD>(WindowRect.right));
    SetDword(key.get(), "WindowBottom", static_cast<DWORD>(WindowRect.bottom));
    SetDword(key.get(), "SplitterPosition", static_cast<DWORD>(SplitterPosition));
}

void Settings::SaveExcludedPrograms() const {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    // An empty list leaves no value behind.
    if (ExcludedPrograms.Empty()) {
        ::RegDeleteValueA(key.get(), "ExcludedPrograms");
        return;
    }
    const std::string bytes = ExcludedPrograms.ToMultiString();
    ::RegSetValueExA(key.get(), "ExcludedPrograms", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
}

void Settings::SetArchiveFolder(const std::string& path) {
    std::string folder = WithTrailingBackslash(path.substr(0, kMaxPathChars - 1));
    // An empty path would become "\", the root of the current drive, which passes
    // the access test; it names no folder, so it gets the default like any other.
    if (path.empty() || _access(folder.c_str(), 4) != 0) folder = ProgramFolder() + "Archive\\";
    ArchiveFolder = folder;
}

std::string Settings::StartupShortcutPath() {
    char folder[MAX_PATH] = {};
    UniqueCoTaskMem idList;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_STARTUP,
                                            reinterpret_cast<PIDLIST_ABSOLUTE*>(idList.put()))))
        return {};
    if (!::SHGetPathFromIDListA(static_cast<PCIDLIST_ABSOLUTE>(idList.get()), folder)) return {};
    return WithTrailingBackslash(folder) + kShortcutName;
}

WORD Settings::HotKeyWord() const {
    if (HotKey.empty()) return 0;
    SHORT scan = ::VkKeyScanA(HotKey[0]);
    // -1: no key on this layout makes the character, so the shortcut gets no hot key.
    if (scan == -1) return 0;
    // The virtual-key code is an unsigned byte: widening it as a signed one would
    // turn the punctuation keys (VK_OEM_*, 0xBA and up) into SHIFT+ALT combinations.
    const BYTE virtualKey = LOBYTE(scan);
    return static_cast<WORD>(virtualKey | ((HOTKEYF_CONTROL | HOTKEYF_ALT) << 8));
}

void Settings::SyncStartupShortcut(bool on) const {
    const std::string link = StartupShortcutPath();
    if (link.empty()) return;
    ::DeleteFileA(link.c_str());
    if (!on) return;

    const std::string program = ProgramFolder();
    const std::string target = program + kExeName;
    ComPtr<IShellLinkA> shellLink;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  shellLink.put_void())))
        return;
    shellLink->SetDescription("Scrapvault");
    shellLink->SetIconLocation(target.c_str(), 0);
    shellLink->SetPath(target.c_str());
    shellLink->SetHotkey(HotKeyWord());
    shellLink->SetWorkingDirectory(program.c_str());

    ComPtr<IPersistFile> file;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.put_void()))) return;
    file->Save(ToUtf16(link).c_str(), TRUE);
}

namespace {
// Constructed before the entry point, like every static object of the program.
Settings gSettings;
}  // namespace

Settings& AppSettings() { return gSettings; }

const char* WarningsKeyPath() { return AppSettings().WarningsKeyPath.c_str(); }

void Settings::ResetTemporaryFolder() const {
    DeleteFolderTree(TempFolder);
    CreateFolderPath(TempFolder);
}
