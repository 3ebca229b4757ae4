#include "archive/ExcludeList.h"

#include <algorithm>

#include "archive/ProgramKey.h"
#include "base/Paths.h"

namespace {

// A list longer than this is no list a person made.
constexpr size_t kMaxPrograms = 1000;
// A file name and a class name (256 at most) with the bar between them.
constexpr size_t kMaxKeyChars = kMaxPathChars + 257;

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Class names are matched without regard to case, as the system registers them;
// the file name is in lower case already.
bool SameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

bool IsProgramKey(std::string_view key) {
    const size_t bar = key.find('|');
    return bar != std::string_view::npos && bar > 0 && bar + 1 < key.size() && key.size() <= kMaxKeyChars;
}

}  // namespace

bool ExcludeList::Add(const std::string& key) {
    if (!IsProgramKey(key) || Contains(key) || programs_.size() >= kMaxPrograms) return false;
    programs_.push_back(key);
    return true;
}

bool ExcludeList::Remove(const std::string& key) {
    return std::erase_if(programs_, [&](const std::string& kept) { return SameKey(kept, key); }) > 0;
}

bool ExcludeList::Contains(std::string_view key) const {
    return std::any_of(programs_.begin(), programs_.end(), [&](const std::string& kept) { return SameKey(kept, key); });
}

bool ExcludeList::IsExcluded(HWND window) const {
    if (programs_.empty() || !window) return false;
    if (Contains(ProgramKeyOf(window))) return true;
    // The owner is often a child (an edit box) or a hidden helper window of the
    // program; the program is known by its top-level window's class.
    const HWND top = ::GetAncestor(window, GA_ROOT);
    return top && top != window && Contains(ProgramKeyOf(top));
}

bool ExcludeList::ExcludesChange(HWND sourceWindow) const {
    if (programs_.empty()) return false;
    return IsExcluded(::GetClipboardOwner()) || IsExcluded(::GetForegroundWindow()) || IsExcluded(sourceWindow);
}

std::string ExcludeList::ToMultiString() const {
    std::string bytes;
    for (const std::string& key : programs_) {
        bytes += key;
        bytes += '\0';
    }
    bytes += '\0';
    return bytes;
}

void ExcludeList::SetFromMultiString(std::string_view bytes) {
    programs_.clear();
    while (!bytes.empty()) {
        const size_t end = std::min(bytes.find('\0'), bytes.size());
        Add(std::string(bytes.substr(0, end)));
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
}
