// The programs whose clipboard changes are never archived, known by their
// program keys ("notepad.exe|Notepad"): a password manager, a banking program.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

class ExcludeList {
public:
    const std::vector<std::string>& Programs() const { return programs_; }
    bool Empty() const { return programs_.empty(); }
    // False for an empty key and for one the list holds already.
    bool Add(const std::string& key);
    bool Remove(const std::string& key);
    bool Contains(std::string_view key) const;

    // Whether the window, or the top-level window it is part of, belongs to an
    // excluded program.
    bool IsExcluded(HWND window) const;
    // Whether the clipboard's change belongs to an excluded program: its owner,
    // the foreground window or the window it is attributed to.
    bool ExcludesChange(HWND sourceWindow) const;

    // The registry's form: each key ended by a NUL, and one more NUL at the end.
    std::string ToMultiString() const;
    // Takes the keys of a stored value (any bytes: it may have been edited by
    // hand or cut short); entries that are no program key are passed over.
    void SetFromMultiString(std::string_view bytes);

private:
    std::vector<std::string> programs_;
};
