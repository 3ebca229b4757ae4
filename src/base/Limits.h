// The one size ceiling of the archive: what is captured, written and read back.
#pragma once

#include <cstddef>
#include <cstdint>

// Largest data one item holds, uncompressed: a text's UTF-16 bytes, a markup
// document, a metafile's bits, a picture's pixel bits. A clipboard format that
// is larger is not captured (nothing of it is written), and a stored block that
// claims more is refused when read, so what is captured always loads again.
// A 9000 x 8000 photo at 32 bits (288,000,000 bytes) fits.
constexpr uint64_t kMaxItemDataBytes = 512ull * 1024 * 1024;

// Largest picture in pixels: every picture within the byte ceiling at 32 bits,
// so the work of one conversion stays bounded however few bits a pixel has.
constexpr uint64_t kMaxImagePixels = kMaxItemDataBytes / 4;

// Largest record file read into memory: a data field of the ceiling's size that
// did not compress at all (zlib adds a little), plus the other fields.
constexpr uint64_t kMaxRecordFileBytes = kMaxItemDataBytes + kMaxItemDataBytes / 1000 + 64 * 1024;
