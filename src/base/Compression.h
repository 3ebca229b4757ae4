// Whole-block zlib compression of item data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/Bytes.h"
#include "base/Limits.h"

// Largest block DecompressBlock produces: a stored stream that claims more is
// damaged or hostile, and the read fails instead of eating memory.
constexpr size_t kMaxDecompressedBytes = static_cast<size_t>(kMaxItemDataBytes);

// zlib stream of the bytes, at zlib's default level unless another (1 fastest to
// 9 smallest) is asked for. An empty input still gives a stream.
bool CompressBlock(const void* data, size_t length, Bytes& block, int level = -1);

// The bytes a zlib stream holds, in a block of exactly their size. A stream that
// holds more than `ceiling` bytes, is cut short or is corrupt fails, having cost
// no more memory than a small scratch buffer.
bool DecompressBlock(const void* block, size_t length, Bytes& bytes, size_t ceiling = kMaxDecompressedBytes);

// How many bytes the stream holds, found without keeping them; false as for
// DecompressBlock.
bool InflatedSize(const void* block, size_t length, size_t& size, size_t ceiling = kMaxDecompressedBytes);

// For streams whose size is known in advance (image bits): succeeds only when
// the stream holds exactly `expected` bytes, which are written to `out`.
bool DecompressExact(const void* block, size_t length, void* out, size_t expected);
