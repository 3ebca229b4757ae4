// The program's settings and startup shortcut as a test found or left them.
#pragma once

#include <windows.h>

#include "shell/Settings.h"

// Removes what the program keeps about the user: the settings key, its
// warnings, and the startup shortcut.
inline void RemoveSavedSettings() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brindlework");
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brindlework");
    ::DeleteFileA(Settings::StartupShortcutPath().c_str());
}
