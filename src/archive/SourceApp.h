// One application that clipboard changes are attributed to, known by the class
// atom of its window: the title and icon of the first such window seen.
#pragma once

#include <windows.h>

#include <string>

#include "framework/UniqueHandle.h"

// How long a window may take to answer WM_GETICON before it is taken to have none:
// a hung program must not hang the capture.
constexpr UINT kWindowIconTimeoutMs = 200;

// The window a clipboard change belongs to: the clipboard owner's top-most
// ancestor when the owner has the lowest style bit set, else the foreground window.
HWND FindSourceWindow();

// The icon a window shows (not a copy): big, small, class, small class icon.
HICON WindowIcon(HWND window);

class SourceApp {
public:
    SourceApp();
    virtual ~SourceApp() = default;

    bool InitFromWindow(HWND window);
    bool WriteAppFile(const std::string& path) const;
    bool ReadAppFile(const std::string& path);

    HICON Icon() const { return icon_.get(); }
    DWORD ClassAtom = 0;
    std::string Title;

private:
    UniqueIcon icon_;
};
