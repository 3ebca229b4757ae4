// The framing shared by item, capture record and application files: "F", the
// words 1 and 0, then tagged fields (tag letter, 32-bit little-endian length,
// data). Works on bytes only, so it builds and is fuzzed on any system.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/Bytes.h"

constexpr size_t kRecordHeaderBytes = 5;
constexpr size_t kFieldHeaderBytes = 5;

// "F" and the version words 1 and 0.
std::array<uint8_t, kRecordHeaderBytes> RecordHeader();
std::array<uint8_t, kFieldHeaderBytes> FieldHeader(char tag, uint32_t length);

// Whether the file starts with the header: "F" in either case and two words,
// whatever their values.
bool HasRecordHeader(ByteSpan file);

struct RecordField {
    char tag = 0;       // upper case, whatever case the file used
    ByteSpan data;      // what the file holds of the field's data
    bool complete = false;  // false: the file ends before the length it announced
};

// Walks the fields after the header. A field cut short by the end of the file
// is offered once, with what there is of it and `complete` false, and ends the
// walk; fewer than five bytes where a field header should start are the end.
class FieldWalker {
public:
    explicit FieldWalker(ByteSpan file);
    bool Next(RecordField& field);

private:
    ByteSpan rest_;
    bool ended_ = false;
};

// Copies a fixed-width value from the field: at most `width` bytes, fewer when
// the field is shorter; the rest of `out` keeps what it held. Returns the count.
size_t CopyFixed(const RecordField& field, void* out, size_t width);
// Whether the field holds exactly `width` bytes, all present.
bool IsExactly(const RecordField& field, size_t width);
