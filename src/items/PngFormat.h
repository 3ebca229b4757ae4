// PNG pictures read from byte spans into DIB pixels, and written from DIB rows,
// through libpng. Knows no windows, so it also builds natively (for fuzzing);
// DibImage makes the images and files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Bytes.h"

// Limits on what a PNG from outside may make the reader do. Its pixels are
// further held to the image ceilings of DibFormat.h (ImageBytes at 32 bits).
constexpr uint32_t kMaxPngSide = 65535;
// Ancillary chunks are skipped, never decompressed or kept, but libpng still
// counts and bounds the ones it looks at.
constexpr uint32_t kMaxPngChunks = 128;
constexpr size_t kMaxPngChunkBytes = 4u * 1024 * 1024;
// What may be read after the last row: the end of the pixel stream and the
// closing chunks. libpng inflates a stream that goes on past its rows to its
// end; this bounds that work (about a thousand times this many bytes at most).
constexpr size_t kMaxPngBytesAfterImage = 64u * 1024;

// The size a PNG announces, when it is a PNG whose picture is within the limits.
bool ReadPngSize(ByteSpan png, uint32_t& width, uint32_t& height);

// Decodes the picture into 32-bit pixels with their alpha (blue, green, red,
// alpha, not premultiplied), laid out as a bottom-up DIB: `bits` must be exactly
// width * height * 4 bytes. Palette, grey, 16-bit, transparency-chunk and
// interlaced pictures are all read; gamma and colour profiles are not applied.
// False, with `bits` partly written, for anything damaged, truncated or past
// the limits.
bool DecodePng(ByteSpan png, uint8_t* bits, size_t size);

// How the rows handed to EncodePng are laid out.
enum class PngPixels {
    kPalette,  // 1, 4 or 8 bits of palette index, packed from the high bit
    kBgr,      // 3 bytes a pixel
    kBgrx,     // 4 bytes a pixel, the fourth not written
    kBgra,     // 4 bytes a pixel, the fourth written as alpha
};

struct PngPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    PngPixels pixels = PngPixels::kBgr;
    int paletteBits = 8;               // kPalette: the file's bit depth
    std::span<const uint8_t> palette;  // kPalette: red, green, blue of each entry
    const uint8_t* const* rows = nullptr;  // `height` rows, top first
};

// Receives the file's bytes in order; false stops the writing.
using PngSink = bool (*)(void* context, const uint8_t* data, size_t size);

// Writes the picture with libpng's default filters, at its default compression
// level unless one (0-9) is given. Only the chunks the picture needs are written.
bool EncodePng(const PngPicture& picture, PngSink sink, void* context, int compressionLevel = -1);
bool EncodePng(const PngPicture& picture, Bytes& png, int compressionLevel = -1);
