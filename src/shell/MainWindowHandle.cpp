#include "shell/MainWindowHandle.h"

namespace {
HWND gMainWindow = nullptr;
}

HWND MainWindowHandle() { return gMainWindow; }
void SetMainWindowHandle(HWND window) { gMainWindow = window; }
