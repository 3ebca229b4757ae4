#include "shell/Settings.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "framework/UniqueHandle.h"
#include "base/Paths.h"
#include "SavedSettings.h"
#include "support/TempFolder.h"

namespace {

const char kKey[] = "Software\\Brindlework\\Scrapvault\\1.0\\Settings";

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

struct ShortcutInfo {
    std::string path, workingDirectory, description, iconPath;
    int iconIndex = -1;
    WORD hotKey = 0;
};

// What the shell reads back from a saved link.
bool ReadShortcut(const std::string& file, ShortcutInfo& info) {
    ComPtr<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())))
        return false;
    ComPtr<IPersistFile> persist;
    if (FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void()))) return false;
    if (FAILED(persist->Load(Wide(file).c_str(), STGM_READ))) return false;
    char text[MAX_PATH] = {};
    if (FAILED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
    info.path = text;
    text[0] = 0;
    link->GetWorkingDirectory(text, MAX_PATH);
    info.workingDirectory = text;
    text[0] = 0;
    link->GetDescription(text, MAX_PATH);
    info.description = text;
    text[0] = 0;
    link->GetIconLocation(text, MAX_PATH, &info.iconIndex);
    info.iconPath = text;
    return SUCCEEDED(link->GetHotkey(&info.hotKey));
}

void SetValue(const char* name, DWORD type, const std::string& bytes) {
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), name, 0, type,
                                              reinterpret_cast<const BYTE*>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
}

void SetDword(const char* name, DWORD value) {
    SetValue(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
}

void SetString(const char* name, const std::string& text) { SetValue(name, REG_SZ, text + '\0'); }

// A stored value's type and bytes; type 0 when it is absent.
std::pair<DWORD, std::string> GetValue(const char* name) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {0, {}};
    char data[1024];
    DWORD size = sizeof(data), type = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return {0, {}};
    return {type, std::string(data, size)};
}

std::string DwordBytes(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RemoveSavedSettings();
    }
    ~SettingsTest() override {
        RemoveSavedSettings();
        ::CoUninitialize();
    }
};

}  // namespace

TEST_F(SettingsTest, FirstRunKeepsTheDefaultsAndTheShortcutAlone) {
    const std::string program = ProgramFolder();
    ASSERT_EQ('\\', program.back());
    EXPECT_TRUE(FileExists(program + "svault_unit_tests.exe")) << program;

    // Construction leaves the temp folder alone (a second start only hands over);
    // the copy that goes on running empties it.
    CreateFolderPath(program + "Temp\\left\\over\\");
    ASSERT_TRUE(WriteFileBytes(program + "Temp\\left\\over\\file.txt", "x"));
    Settings settings;
    EXPECT_TRUE(FileExists(program + "Temp\\left\\over\\file.txt"));
    settings.ResetTemporaryFolder();
    EXPECT_FALSE(FileExists(program + "Temp\\left\\over\\file.txt"));
    EXPECT_TRUE(ListFiles(program + "Temp\\").empty());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((program + "Temp").c_str()));

    const std::string shortcut = Settings::StartupShortcutPath();
    ASSERT_FALSE(shortcut.empty());
    EXPECT_EQ("\\Scrapvault.lnk", shortcut.substr(shortcut.size() - 15));
    ASSERT_TRUE(WriteFileBytes(shortcut, "someone else's"));
    settings.Load();
    EXPECT_EQ("someone else's", ReadFileBytes(shortcut));
    ::DeleteFileA(shortcut.c_str());
    SetDword("GroupBy", 2);  // a key without "Startup" leaves the shortcut alone too
    settings.Load();
    EXPECT_FALSE(FileExists(shortcut));

    EXPECT_EQ(program + "Archive\\", settings.ArchiveFolder);
    EXPECT_EQ(program + "Temp\\", settings.TempFolder);
    EXPECT_EQ(2, settings.GroupBy);
    EXPECT_FALSE(settings.LoadWholeArchive);
    EXPECT_EQ("Software\\Brindlework\\Scrapvault\\1.0\\", settings.RegistryKeyPath);
    EXPECT_EQ("Software\\Brindlework\\Scrapvault\\1.0\\Warnings", settings.WarningsKeyPath);
    EXPECT_STREQ("Software\\Brindlework\\Scrapvault\\1.0\\Warnings", WarningsKeyPath());
    EXPECT_EQ("M", settings.HotKey);
    EXPECT_TRUE(settings.ProcessTexts && settings.ProcessImages && settings.ProcessRTF && settings.ProcessHTML &&
                settings.ProcessMetafiles && settings.Startup);
    EXPECT_EQ(100, settings.DiskSizeLimit);
    EXPECT_EQ(0, settings.ItemsLimit);
}

TEST_F(SettingsTest, SaveAndLoadRoundTripThroughTheRegistry) {
    TempFolder archive;
    std::string withoutBackslash = archive.Path();
    withoutBackslash.pop_back();

    Settings saved;
    saved.SetArchiveFolder(withoutBackslash);
    EXPECT_EQ(archive.Path(), saved.ArchiveFolder);
    saved.GroupBy = 7;
    saved.LoadWholeArchive = true;
    saved.ProcessTexts = false;
    saved.ProcessRTF = false;
    saved.ProcessMetafiles = false;
    saved.Startup = false;
    saved.DiskSizeLimit = 0;
    saved.ItemsLimit = -5;
    saved.HotKey = "K";
    saved.Save();

    // Twelve values of the documented types; the temp folder is not among them.
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.put()));
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                &values, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(12u, values);
    EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, archive.Path() + '\0'), GetValue("ArchiveFolder"));
    EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, std::string("K", 2)), GetValue("HotKey"));
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, DwordBytes(1)), GetValue("LoadWholeArchive"));
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, DwordBytes(0)), GetValue("ProcessTexts"));
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, DwordBytes(static_cast<DWORD>(-5))), GetValue("ItemsLimit"));
    EXPECT_EQ(0u, GetValue("TempFolder").first);

    Settings loaded;
    loaded.Load();
    EXPECT_EQ(archive.Path(), loaded.ArchiveFolder);
    EXPECT_EQ(7, loaded.GroupBy);
    EXPECT_TRUE(loaded.LoadWholeArchive);
    EXPECT_FALSE(loaded.ProcessTexts);
    EXPECT_TRUE(loaded.ProcessImages);
    EXPECT_FALSE(loaded.ProcessRTF);
    EXPECT_TRUE(loaded.ProcessHTML);
    EXPECT_FALSE(loaded.ProcessMetafiles);
    EXPECT_FALSE(loaded.Startup);
    EXPECT_EQ(0, loaded.DiskSizeLimit);
    EXPECT_EQ(-5, loaded.ItemsLimit);
    EXPECT_EQ("K", loaded.HotKey);

    // What a person may have typed into the registry.
    const std::string fallback = ProgramFolder() + "Archive\\";
    SetString("ArchiveFolder", withoutBackslash);
    SetString("HotKey", "XYZ");
    SetDword("ProcessImages", 7);  // any nonzero value is true
    SetString("ItemsLimit", "far too long for a number");
    Settings typed;
    typed.Load();
    EXPECT_EQ(archive.Path(), typed.ArchiveFolder);
    EXPECT_EQ("X", typed.HotKey);
    EXPECT_TRUE(typed.ProcessImages);
    EXPECT_EQ(0, typed.ItemsLimit);  // unreadable as a number: the field keeps its value
    typed.Save();
    EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, std::string("X", 2)), GetValue("HotKey"));

    for (const std::string& folder : {archive / "missing", std::string(), std::string(600, 'a')}) {
        SetString("ArchiveFolder", folder);
        Settings other;
        other.ArchiveFolder = "unchanged";
        other.Load();
        // Too long to read: kept; unusable: the program's own archive folder.
        EXPECT_EQ(folder.size() > 520 ? "unchanged" : fallback, other.ArchiveFolder) << folder.size();
    }
    // Where the window was left: values of their own, written once it was placed.
    Settings placed;
    placed.WindowRect = {-40, 30, 900, 700};
    placed.SplitterPosition = 250;
    placed.Save();
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, DwordBytes(static_cast<DWORD>(-40))), GetValue("WindowLeft"));
    Settings back;
    back.Load();
    EXPECT_TRUE(::EqualRect(&placed.WindowRect, &back.WindowRect));
    EXPECT_EQ(250, back.SplitterPosition);

    Settings direct;
    direct.SetArchiveFolder(archive.Path());
    EXPECT_EQ(archive.Path(), direct.ArchiveFolder);
    direct.SetArchiveFolder("");
    EXPECT_EQ(fallback, direct.ArchiveFolder);
}

TEST_F(SettingsTest, StartupShortcutCarriesTheHotKey) {
    const std::string program = ProgramFolder();
    const std::string shortcut = Settings::StartupShortcutPath();
    Settings settings;
    settings.SyncStartupShortcut(true);
    ASSERT_TRUE(FileExists(shortcut));
    ShortcutInfo info;
    ASSERT_TRUE(ReadShortcut(shortcut, info));
    EXPECT_EQ(0, _stricmp((program + "SVault.exe").c_str(), info.path.c_str())) << info.path;
    EXPECT_EQ(program, WithTrailingBackslash(info.workingDirectory));
    EXPECT_EQ(0x064D, info.hotKey);  // CTRL+ALT+M
    EXPECT_EQ("Scrapvault", info.description);
    EXPECT_EQ(0, _stricmp((program + "SVault.exe").c_str(), info.iconPath.c_str())) << info.iconPath;
    EXPECT_EQ(0, info.iconIndex);

    // "Startup" = 0 at load: the shortcut goes.
    SetDword("Startup", 0);
    settings.Load();
    EXPECT_FALSE(settings.Startup);
    EXPECT_FALSE(FileExists(shortcut));

    // Switched on again with another key, it is made anew with that key.
    SetDword("Startup", 1);
    SetString("HotKey", "k");
    settings.Load();
    ASSERT_TRUE(ReadShortcut(shortcut, info));
    EXPECT_EQ(0x064B, info.hotKey);  // CTRL+ALT+K: the key, whatever the case
    settings.SyncStartupShortcut(false);
    EXPECT_FALSE(FileExists(shortcut));

    // Keys whose virtual-key code has its top bit set stay CTRL+ALT combinations.
    settings.HotKey = ";";
    const SHORT scan = ::VkKeyScanA(';');
    ASSERT_NE(-1, scan);
    ASSERT_GE(LOBYTE(scan), 0x80) << "this layout puts ';' on an ordinary key";
    EXPECT_EQ(MAKEWORD(LOBYTE(scan), HOTKEYF_CONTROL | HOTKEYF_ALT), settings.HotKeyWord());
}

TEST_F(SettingsTest, FolderTreesAreCreatedAndRemoved) {
    TempFolder root;
    CreateFolderPath(root / "a\\b\\c\\");
    CreateFolderPath(root / "x\\y");  // the last part has no backslash: not a folder
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((root / "a\\b\\c").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((root / "x").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((root / "x\\y").c_str()));

    ASSERT_TRUE(WriteFileBytes(root / "a\\top.txt", "1"));
    ASSERT_TRUE(WriteFileBytes(root / "a\\b\\c\\deep.txt", "2"));
    ASSERT_TRUE(WriteFileBytes(root / "a\\b\\locked.txt", "3"));
    ::SetFileAttributesA((root / "a\\b\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateFolderPath(root / "a\\b\\empty\\");
    CreateFolderPath(root / "ab\\");
    ASSERT_TRUE(WriteFileBytes(root / "ab\\sibling.txt", "4"));
    ASSERT_TRUE(WriteFileBytes(root / "a.txt", "5"));

    DeleteFolderTree(root / "a\\");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((root / "a").c_str()));
    // Neighbours whose names begin alike are not part of the tree.
    EXPECT_TRUE(FileExists(root / "ab\\sibling.txt"));
    EXPECT_TRUE(FileExists(root / "a.txt"));

    // Given without its backslash, the same folder and nothing beside it.
    DeleteFolderTree(root / "ab");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((root / "ab").c_str()));
    EXPECT_TRUE(FileExists(root / "a.txt"));

    // An empty name removes nothing, the current folder's files least of all.
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(root.Path().c_str()));
    DeleteFolderTree("");
    ::SetCurrentDirectoryA(previous);
    EXPECT_TRUE(FileExists(root / "a.txt"));
}

TEST_F(SettingsTest, ExcludedProgramsSurviveTheKeyAndADamagedValueIsReadSafely) {
    Settings saved;
    ASSERT_TRUE(saved.ExcludedPrograms.Add("notepad.exe|Notepad"));
    ASSERT_TRUE(saved.ExcludedPrograms.Add("vault.exe|Vault Main"));
    EXPECT_FALSE(saved.ExcludedPrograms.Add("NOTEPAD.EXE|notepad"));  // the same program
    saved.Save();
    EXPECT_EQ(std::make_pair(DWORD{REG_MULTI_SZ}, std::string("notepad.exe|Notepad\0vault.exe|Vault Main\0\0", 42)),
              GetValue("ExcludedPrograms"));
    Settings loaded;
    loaded.Load();
    EXPECT_EQ(saved.ExcludedPrograms.Programs(), loaded.ExcludedPrograms.Programs());

    // Edited by hand: cut short, an empty entry, no program key; or of another type.
    SetValue("ExcludedPrograms", REG_MULTI_SZ, std::string("a.exe|A\0\0junk\0|B\0b.exe|B", 24));
    Settings typed;
    typed.Load();
    EXPECT_EQ((std::vector<std::string>{"a.exe|A", "b.exe|B"}), typed.ExcludedPrograms.Programs());
    SetString("ExcludedPrograms", "c.exe|C");
    typed.Load();
    EXPECT_EQ((std::vector<std::string>{"a.exe|A", "b.exe|B"}), typed.ExcludedPrograms.Programs());

    // An emptied list leaves no value.
    loaded.ExcludedPrograms = ExcludeList();
    loaded.SaveExcludedPrograms();
    EXPECT_EQ(0u, GetValue("ExcludedPrograms").first);
}
