// UTF-16 text to and from a code page (the ANSI code page or UTF-8).
#pragma once

#include <string>
#include <string_view>

// Characters the code page lacks become its default character (no look-alike
// substitutes). Empty in, empty out.
std::string ToMultiByte(std::wstring_view text, unsigned codePage);
std::wstring ToWide(std::string_view bytes, unsigned codePage);

// The code page a conversion really uses: CP_ACP, CP_OEMCP and CP_THREAD_ACP
// resolved to the system's (`ansi` and `oem` stand for the system's ones).
unsigned ResolveCodePage(unsigned codePage, unsigned ansi, unsigned oem);
// The WideCharToMultiByte flags a code page takes: WC_NO_BEST_FIT_CHARS where it
// is allowed, nothing for UTF-8, GB18030 and the others that reject every flag.
unsigned long NoBestFitFlags(unsigned resolvedCodePage);

// Window titles are ANSI in memory and UTF-8 on disk; at most kMaxTitleChars are kept.
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(std::string_view utf8);
