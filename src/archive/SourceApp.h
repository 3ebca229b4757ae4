// One application that clipboard changes are attributed to, known by the class
// atom of its window: the title and icon of the first such window seen.
#pragma once

#include <windows.h>

#include <string>

#include "base/Bytes.h"
#include "framework/UniqueHandle.h"

// How long a window may take to answer WM_GETICON before it is taken to have none.
// The program that just copied is often busy: while the capture waits, its next
// change may replace the clipboard, so the wait is short (and the clipboard's
// data is taken before the question is asked).
constexpr UINT kWindowIconTimeoutMs = 50;

// The window a clipboard change belongs to: the clipboard owner's top-most
// ancestor when the owner has the lowest style bit set, else the foreground window.
HWND FindSourceWindow();

// The icon a window shows (not a copy): big, small, class, small class icon.
HICON WindowIcon(HWND window);

class SourceApp {
public:
    SourceApp();
    virtual ~SourceApp() = default;

    // The class atom and title first, then the icon: a window that closes while
    // it is asked for its icon still names its application.
    bool InitFromWindow(HWND window);
    // The application of changes that no window can be named for.
    void InitUnknown();
    bool WriteAppFile(const std::string& path) const;
    // An application whose file keeps no usable icon shows `fallbackIcon` (a
    // copy; borrowed), and the read then succeeds only when there is one.
    bool ReadAppFile(const std::string& path, HICON fallbackIcon);

    HICON Icon() const { return icon_.get(); }
    DWORD ClassAtom = 0;
    std::string Title;
    // The program (see ProgramKeyOf) it is known by, written in its file after
    // the atom. Empty for "Unknown Application" and in files of earlier builds:
    // those are known by their atom, and may learn a program in memory only.
    std::string ProgramKey;

private:
    // The icon's colour and mask images as payloads; false without a colour icon.
    bool IconPayloads(Bytes& color, Bytes& mask) const;

    UniqueIcon icon_;
};
