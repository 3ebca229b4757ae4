// Enhanced metafiles read from byte spans: whether a block is safe to hand to
// GDI. Knows no windows, so it also builds natively (for fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

// Whether the bytes are safe to hand to SetEnhMetaFileBits and to play: a header
// record with the signature whose byte count is the block's, a chain of records
// that tiles the block exactly and ends with EMR_EOF, description and palette
// inside their records, object handle indices inside the handle table, every
// record of a known type at least as long as its fixed part, and inside the
// records that carry them, the offsets and counts of their arrays, strings,
// regions and bitmaps (with bitmap headers that agree with their bits). GDI
// trusts all of these and reads, writes or loops outside the block when they
// lie. Records of types it does not know are passed as they are.
bool IsSoundEnhMetaFile(const uint8_t* bytes, size_t size);
