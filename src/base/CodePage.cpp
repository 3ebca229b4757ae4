#include "base/CodePage.h"

#include <algorithm>

#include <windows.h>

#include <limits>

#include "base/RecordFields.h"

unsigned ResolveCodePage(unsigned codePage, unsigned ansi, unsigned oem) {
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
        return ansi;
    case CP_OEMCP:
        return oem;
    default:
        return codePage;
    }
}

unsigned long NoBestFitFlags(unsigned codePage) {
    switch (codePage) {
    // UTF-8 and GB18030 lose nothing and take no such flag; the others reject
    // every flag, and with it the whole conversion.
    case CP_UTF8: case CP_UTF7: case 54936:
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
        return 0;
    default:
        return codePage >= 57002 && codePage <= 57011 ? 0 : WC_NO_BEST_FIT_CHARS;
    }
}

std::string ToMultiByte(std::wstring_view text, unsigned codePage) {
    if (text.empty() || text.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 4)) return {};
    const int units = static_cast<int>(text.size());
    // Without WC_NO_BEST_FIT_CHARS the system puts look-alikes in place of missing
    // characters (Greek alpha becomes "a", infinity "8"), silently changing the text;
    // the default character at least shows that something was lost. Where the ANSI
    // code page is UTF-8 nothing is missing, and the flag would fail every call.
    const unsigned resolved = ResolveCodePage(codePage, ::GetACP(), ::GetOEMCP());
    const DWORD flags = NoBestFitFlags(resolved);
    int size = ::WideCharToMultiByte(resolved, flags, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string bytes(size, '\0');
    size = ::WideCharToMultiByte(resolved, flags, text.data(), units, bytes.data(), size, nullptr, nullptr);
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

std::string AnsiToUtf8(const std::string& ansi) { return ToMultiByte(ToWide(ansi, CP_ACP), CP_UTF8); }

std::string Utf8ToAnsi(std::string_view utf8) {
    // Plain ASCII is the same in every ANSI code page: most titles and
    // program keys are, and a start converts a hundred thousand of them.
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string ansi = ascii ? std::string(utf8) : ToMultiByte(ToWide(utf8, CP_UTF8), CP_ACP);
    if (ansi.size() > kMaxTitleChars) ansi.resize(kMaxTitleChars);
    return ansi;
}
