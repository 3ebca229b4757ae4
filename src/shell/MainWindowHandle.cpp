#include "shell/MainWindowHandle.h"

namespace {
HWND gMainWindow = nullptr;
}

HWND MainWindowHandle() { return gMainWindow; }
void SetMainWindowHandle(HWND window) { gMainWindow = window; }

void ToggleMainWindow(HWND window) {
    if (::IsWindowVisible(window)) {
        ::ShowWindow(window, SW_HIDE);
        return;
    }
    ::ShowWindow(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(window);
}
