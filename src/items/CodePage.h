// UTF-16 text to and from a code page (the ANSI code page or UTF-8).
#pragma once

#include <string>
#include <string_view>

// Characters the code page lacks become its default character (no look-alike
// substitutes). Empty in, empty out.
std::string ToMultiByte(std::wstring_view text, unsigned codePage);
std::wstring ToWide(std::string_view bytes, unsigned codePage);
