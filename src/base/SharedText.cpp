#include "base/SharedText.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "base/RecordFile.h"

namespace {

struct TextPool {
    std::mutex mutex;
    // Keyed by a view of the pooled text itself.
    std::unordered_map<std::string_view, std::weak_ptr<const std::string>> texts;
};

// Never destroyed: texts held by static objects may go after it would have.
TextPool& Pool() {
    static TextPool* pool = new TextPool;
    return *pool;
}

void Release(const std::string* text) {
    {
        TextPool& pool = Pool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        // The entry may meanwhile name a new copy of the same text.
        auto found = pool.texts.find(*text);
        if (found != pool.texts.end() && found->first.data() == text->data()) pool.texts.erase(found);
    }
    delete text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads `digits` hex digits; false on anything else.
bool ReadHex(std::string_view text, size_t& at, int digits, unsigned long long& value) {
    value = 0;
    for (int i = 0; i < digits; ++i, ++at) {
        const int digit = at < text.size() ? HexDigit(text[at]) : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" at `at`.
bool ReadGuid(std::string_view text, size_t at, GUID& guid) {
    unsigned long long value = 0;
    if (!ReadHex(text, at, 8, value)) return false;
    guid.Data1 = static_cast<unsigned long>(value);
    if (text[at++] != '-' || !ReadHex(text, at, 4, value)) return false;
    guid.Data2 = static_cast<unsigned short>(value);
    if (text[at++] != '-' || !ReadHex(text, at, 4, value)) return false;
    guid.Data3 = static_cast<unsigned short>(value);
    if (text[at++] != '-') return false;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && text[at++] != '-') return false;
        if (!ReadHex(text, at, 2, value)) return false;
        guid.Data4[i] = static_cast<unsigned char>(value);
    }
    return true;
}

}  // namespace

SharedText::SharedText(std::string_view text) {
    if (text.empty()) return;
    TextPool& pool = Pool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto found = pool.texts.find(text);
    if (found != pool.texts.end()) {
        if (auto shared = found->second.lock()) {
            text_ = std::move(shared);
            return;
        }
        // Its last holder is letting go: the copy made here takes its place.
        pool.texts.erase(found);
    }
    auto* copy = new std::string(text);
    text_ = std::shared_ptr<const std::string>(copy, Release);
    pool.texts.emplace(std::string_view(*copy), text_);
}

const std::string& SharedText::Empty() {
    static const std::string empty;
    return empty;
}

bool GuidLess::operator()(const GUID& a, const GUID& b) const {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    return std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) < 0;
}

StoredPath::StoredPath(std::string_view path) {
    const size_t slash = path.rfind('\\');
    const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
    // [letter] "-" GUID "-" extension, as MakeUniqueFileName makes them.
    const size_t dash = !name.empty() && name[0] != '-' ? 1 : 0;
    constexpr size_t kGuidChars = 36;
    if (slash != std::string_view::npos && name.size() >= dash + kGuidChars + 2 && name[dash] == '-' &&
        name[dash + kGuidChars + 1] == '-' && name.size() - (dash + kGuidChars + 2) < sizeof(extension_) &&
        ReadGuid(name, dash + 1, guid_)) {
        prefix_ = dash ? name[0] : 0;
        const std::string_view extension = name.substr(dash + kGuidChars + 2);
        std::memcpy(extension_, extension.data(), extension.size());
        head_ = path.substr(0, slash + 1);
        guidName_ = true;
        // Only a name that reads back exactly (the case of its digits) is kept so.
        if (str() == path) return;
    }
    *this = StoredPath();
    head_ = path;
}

std::string StoredPath::str() const {
    if (!guidName_) return head_.str();
    std::string text = head_.str();
    if (prefix_) text += prefix_;
    std::string guid = GuidText(guid_);
    guid.front() = '-';
    guid.back() = '-';
    text += guid;
    text += extension_;
    return text;
}
