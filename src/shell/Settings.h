// The user's options and the program's working folders, kept per user in the registry.
#pragma once

#include <windows.h>

#include <string>

#include "archive/ExcludeList.h"

class Settings {
public:
    // Sets the defaults (the static instance does this before the entry point runs).
    Settings();
    // Empties the temp folder. Only the copy that goes on running does this: a
    // second start, which only hands over, must leave the files that the running
    // copy opened in external viewers.
    void ResetTemporaryFolder() const;

    // Reads the registry; absent or unreadable values keep their fields.
    void Load();
    // Writes all twelve values, the exclude list when it holds any, and where
    // the window was once it has been placed; failures are silent.
    void Save() const;
    // Writes the exclude list alone (it changes from the tree's menu too); an
    // empty one removes the value.
    void SaveExcludedPrograms() const;
    // Stores the folder with a trailing "\", or ProgramFolder + "Archive\" when
    // the folder cannot be read.
    void SetArchiveFolder(const std::string& path);
    // Deletes "Scrapvault.lnk" from the Startup folder and, when on, creates it anew.
    void SyncStartupShortcut(bool on) const;

    // Full path of the startup shortcut.
    static std::string StartupShortcutPath();
    // The shortcut's hot-key word for the first character of HotKey (0 when there is none).
    WORD HotKeyWord() const;
    // "Software\Brindlework\Scrapvault\1.0\" + "Settings".
    std::string SettingsKeyPath() const { return RegistryKeyPath + "Settings"; }

    std::string ArchiveFolder;
    std::string TempFolder;
    int GroupBy = 1;  // a GroupMode
    bool LoadWholeArchive = false;
    std::string RegistryKeyPath;
    std::string WarningsKeyPath;
    std::string HotKey = "M";
    bool ProcessTexts = true;
    bool ProcessImages = true;
    bool ProcessRTF = true;
    bool ProcessHTML = true;
    bool ProcessMetafiles = true;
    bool Startup = true;
    int DiskSizeLimit = 100;
    int ItemsLimit = 0;
    // Where the user left the main window (in normal, restored state) and its
    // splitter bar; an empty rectangle and 0 until the window was first placed.
    RECT WindowRect = {};
    int SplitterPosition = 0;
    // Programs whose copies are never archived; the archive reads this list.
    ExcludeList ExcludedPrograms;
};

// The one process-wide record.
Settings& AppSettings();

// The warning dialog's registry key, reachable without holding the record.
const char* WarningsKeyPath();

