// The process-wide handle of the main window: the running copy's window found at
// start, then this process's own once it exists. Dialogs borrow its icon.
#pragma once

#include <windows.h>

HWND MainWindowHandle();
void SetMainWindowHandle(HWND window);

// Hides the window when it is visible; otherwise shows it (restored when
// minimised) and brings it to the foreground. Works on another process's window.
void ToggleMainWindow(HWND window);
