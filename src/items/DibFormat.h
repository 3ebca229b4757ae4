// Device-independent bitmaps read from byte spans: the header, colour table and
// pixel block that a clipboard block or a stored payload describes, checked
// before anything uses them. Knows no windows, so it also builds natively (for
// fuzzing); DibImage does the drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Limits.h"

// The 40 bytes every DIB begins with, laid out exactly as BITMAPINFOHEADER
// (DibImage.h checks that the two agree).
struct DibHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(DibHeader) == 40);

// biCompression values the program reads.
constexpr uint32_t kDibRgb = 0;
constexpr uint32_t kDibRle8 = 1;
constexpr uint32_t kDibRle4 = 2;
constexpr uint32_t kDibBitFields = 3;

// The header at the start of `bytes`, which must hold at least 40 bytes.
DibHeader ReadDibHeader(const uint8_t* bytes);

// Colour-table entries a header announces: biClrUsed when set, else 2, 16 or 256
// for 1, 4 and 8 bits and none for deeper images. Not limited: callers that copy
// a table check it against what they have room for.
uint32_t ColorTableSize(const DibHeader& header);

// Bytes in one stored row: the bits padded to a multiple of four bytes. Computed
// in 64 bits so that no width overflows it.
uint64_t RowBytes(int64_t width, int bits);

// 1, 4, 8, 16, 24 or 32 bits per pixel.
bool IsValidDibDepth(int bits);

// Bytes of a width x height image at the depth; 0 when the description is not
// usable or past the ceilings (kMaxImagePixels pixels, kMaxItemDataBytes bytes).
uint64_t ImageBytes(int64_t width, int64_t height, int bits);

// A header of the form the program itself writes: 40 bytes, bottom-up, BI_RGB,
// a colour table only for palette depths and never longer than the depth can
// index, and biSizeImage equal to the rows it describes.
bool IsPlainHeader(const DibHeader& header);

// A clipboard DIB made ready for drawing: a 40-byte header (whatever header the
// block had), then the masks or the colour table, and where the bits are.
struct PackedDib {
    // biSize 40, biPlanes 1, biClrImportant 0; biClrUsed is the number of colours
    // kept in `extra`; biSizeImage is the length of `bits`. biHeight keeps its
    // sign (top-down blocks stay top-down).
    DibHeader header;
    // BI_BITFIELDS: the three masks. Palette depths: the colours the depth can
    // index. The two never come together.
    uint32_t extra[3 + 256];
    // Uncompressed: exactly the rows the header describes. Run-length: the
    // biSizeImage bytes of runs the block announced (not necessarily ended).
    std::span<const uint8_t> bits;
};

// Reads a CF_DIB or CF_DIBV5 block. Headers longer than 40 bytes (V4, V5) are
// read through biSize; top-down rows, BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS
// (16 and 32 bits) are accepted. False when anything announced does not lie
// inside the block or the picture is past the ceilings.
bool ReadPackedDib(std::span<const uint8_t> block, PackedDib& dib);

// A stored picture: a plain header, its colour table, then the bits compressed.
struct DibPayload {
    DibHeader header;
    std::span<const uint8_t> colors;  // ColorTableSize(header) entries of four bytes
    std::span<const uint8_t> bits;    // a zlib stream of header.biSizeImage bytes
};

// False when the header is not plain or the table does not fit; the bits are
// only located, not inflated.
bool ReadDibPayload(std::span<const uint8_t> payload, DibPayload& out);
