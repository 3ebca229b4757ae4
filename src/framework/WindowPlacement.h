// Placing top-level windows.
#pragma once

#include <windows.h>

// Centres the window on its owner, or on the work area of its monitor when it
// has none (or the owner is hidden or minimised); it stays inside that work area.
void CenterWindow(HWND window);
