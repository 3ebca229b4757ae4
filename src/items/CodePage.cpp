#include "items/CodePage.h"

#include <windows.h>

#include <limits>

std::string ToMultiByte(std::wstring_view text, unsigned codePage) {
    if (text.empty() || text.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 4)) return {};
    const int units = static_cast<int>(text.size());
    // Without WC_NO_BEST_FIT_CHARS the system puts look-alikes in place of missing
    // characters (Greek alpha becomes "a", infinity "8"), silently changing the text;
    // the default character at least shows that something was lost. UTF-8 loses
    // nothing and takes no flags.
    const DWORD flags = codePage == CP_UTF8 || codePage == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    int size = ::WideCharToMultiByte(codePage, flags, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string bytes(size, '\0');
    size = ::WideCharToMultiByte(codePage, flags, text.data(), units, bytes.data(), size, nullptr, nullptr);
    bytes.resize(size > 0 ? size : 0);
    return bytes;
}

std::wstring ToWide(std::string_view bytes, unsigned codePage) {
    if (bytes.empty() || bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 2)) return {};
    const int length = static_cast<int>(bytes.size());
    int units = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring text(units, L'\0');
    units = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), units);
    text.resize(units > 0 ? units : 0);
    return text;
}
