#include "items/MarkupFormat.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::string_view kVersionLine = "Version:1.0\n";
constexpr std::string_view kStartHtml = "StartHTML:";
constexpr std::string_view kEndHtml = "EndHTML:";
constexpr std::string_view kStartFragment = "StartFragment:";
constexpr std::string_view kEndFragment = "EndFragment:";
// Each number takes ten digits and a line feed.
constexpr size_t kHeaderLength = kVersionLine.size() + kStartHtml.size() + kEndHtml.size() +
                                 kStartFragment.size() + kEndFragment.size() + 4 * 11;
static_assert(kHeaderLength == 100);
constexpr uint64_t kLargestTenDigits = 9'999'999'999ull;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string TenDigits(uint64_t value) {
    std::string digits(10, '0');
    for (size_t i = digits.size(); i-- > 0; value /= 10) digits[i] = static_cast<char>('0' + value % 10);
    return digits;
}

}  // namespace

std::optional<size_t> HeaderOffset(std::string_view block, std::string_view keyword) {
    const size_t found = block.find(keyword);
    if (found == std::string_view::npos) return std::nullopt;
    size_t at = found + keyword.size();
    while (at < block.size() && !IsDigit(block[at])) {
        if (block[at] == '\r' || block[at] == '\n') return std::nullopt;
        ++at;
    }
    if (at == block.size() || block[at - 1] == '-') return std::nullopt;
    size_t value = 0;
    for (; at < block.size() && IsDigit(block[at]); ++at)
        value = std::min(value * 10 + static_cast<size_t>(block[at] - '0'), block.size() + 1);
    return value;
}

std::optional<std::string_view> CfHtmlDocument(std::string_view block) {
    block = block.substr(0, block.find('\0'));
    const size_t start = HeaderOffset(block, "StartHTML").value_or(0);
    const size_t end = std::min(HeaderOffset(block, "EndHTML").value_or(block.size()), block.size());
    if (start > end) return std::nullopt;
    return block.substr(start, end - start);
}

std::string BuildCfHtmlHeader(size_t documentLength) {
    if (documentLength > kLargestTenDigits - kHeaderLength) return {};
    const std::string start = TenDigits(kHeaderLength);
    const std::string end = TenDigits(kHeaderLength + documentLength);
    std::string header;
    header.reserve(kHeaderLength);
    header.append(kVersionLine);
    header.append(kStartHtml).append(start).append("\n");
    header.append(kEndHtml).append(end).append("\n");
    header.append(kStartFragment).append(start).append("\n");
    header.append(kEndFragment).append(end).append("\n");
    return header;
}

std::string_view RtfDocument(std::string_view block) { return block.substr(0, block.find('\0')); }
