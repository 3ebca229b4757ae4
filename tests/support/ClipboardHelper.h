// Reads and writes the real clipboard from a hidden window of the test.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class ClipboardHelper {
public:
    ClipboardHelper();
    ~ClipboardHelper();
    ClipboardHelper(const ClipboardHelper&) = delete;
    ClipboardHelper& operator=(const ClipboardHelper&) = delete;

    HWND Window() const { return window_; }

    // Empties the clipboard and sets each format's bytes in one change.
    bool Set(const std::map<UINT, std::string>& formats);
    bool Empty();
    // Formats on the clipboard, in the clipboard's order.
    std::vector<UINT> Formats();
    // The bytes of a global-memory format (GlobalSize bytes), if present.
    std::optional<std::string> Get(UINT format);
    static UINT Register(const char* name) { return ::RegisterClipboardFormatA(name); }

private:
    bool Open();
    HWND window_ = nullptr;
};
