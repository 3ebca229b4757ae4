#include "base/RecordFormat.h"

#include <algorithm>
#include <cstring>

std::array<uint8_t, kRecordHeaderBytes> RecordHeader() { return {'F', 1, 0, 0, 0}; }

std::array<uint8_t, kFieldHeaderBytes> FieldHeader(char tag, uint32_t length) {
    return {static_cast<uint8_t>(tag), static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
}

bool HasRecordHeader(ByteSpan file) {
    return file.size() >= kRecordHeaderBytes && (file[0] == 'F' || file[0] == 'f');
}

FieldWalker::FieldWalker(ByteSpan file)
    : rest_(file.size() >= kRecordHeaderBytes ? file.subspan(kRecordHeaderBytes) : ByteSpan()) {}

bool FieldWalker::Next(RecordField& field) {
    if (ended_ || rest_.size() < kFieldHeaderBytes) return false;
    const uint8_t tag = rest_[0];
    const uint32_t length = static_cast<uint32_t>(rest_[1]) | static_cast<uint32_t>(rest_[2]) << 8 |
                            static_cast<uint32_t>(rest_[3]) << 16 | static_cast<uint32_t>(rest_[4]) << 24;
    rest_ = rest_.subspan(kFieldHeaderBytes);
    field.tag = (tag >= 'a' && tag <= 'z') ? static_cast<char>(tag - 'a' + 'A') : static_cast<char>(tag);
    field.complete = length <= rest_.size();
    field.data = rest_.first(std::min<size_t>(length, rest_.size()));
    rest_ = rest_.subspan(field.data.size());
    if (!field.complete) ended_ = true;
    return true;
}

size_t CopyFixed(const RecordField& field, void* out, size_t width) {
    const size_t count = std::min(width, field.data.size());
    if (count) std::memcpy(out, field.data.data(), count);
    return count;
}

bool IsExactly(const RecordField& field, size_t width) { return field.complete && field.data.size() == width; }
