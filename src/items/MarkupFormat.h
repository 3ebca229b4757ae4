// The clipboard's markup formats read from byte spans: the description header
// of "HTML Format" and the zero byte that ends "Rich Text Format". Knows no
// windows, so it also builds natively (for fuzzing).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The offset a header keyword announces: the first run of digits on the keyword's
// own line. Nothing when the keyword is missing, when its line has no digits, or
// when the number is negative (writers use -1 for "none"). A number past the
// block is saturated just past it, which keeps it out of range without overflow.
std::optional<size_t> HeaderOffset(std::string_view block, std::string_view keyword);

// The document of an "HTML Format" block: the bytes between its StartHTML and
// EndHTML offsets, as a piece of the block. The block ends at its first zero
// byte or at the end of the view, whichever comes first. A missing offset, or
// one without digits or negative, means the start or the end of the block; an
// end past the block is held to the block; a start past the end gives nothing.
std::optional<std::string_view> CfHtmlDocument(std::string_view block);

// The 100-byte description header for a document of `documentLength` bytes
// that follows it directly; empty when the length does not fit ten digits.
std::string BuildCfHtmlHeader(size_t documentLength);

// The RTF of a "Rich Text Format" block: up to its first zero byte, or up to the
// end of the block when it has none (clipboard memory is not trusted to be
// terminated).
std::string_view RtfDocument(std::string_view block);
