#include "items/DibFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>

DibHeader ReadDibHeader(const uint8_t* bytes) {
    DibHeader header;
    std::memcpy(&header, bytes, sizeof(header));
    return header;
}

uint32_t ColorTableSize(const DibHeader& header) {
    if (header.biBitCount == 0) return 0;
    if (header.biClrUsed != 0) return header.biClrUsed;
    switch (header.biBitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

uint64_t RowBytes(int64_t width, int bits) {
    if (width <= 0 || bits <= 0) return 0;
    return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bits) + 31) & ~uint64_t{31}) / 8;
}

bool IsValidDibDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

uint64_t ImageBytes(int64_t width, int64_t height, int bits) {
    if (width <= 0 || height <= 0 || !IsValidDibDepth(bits)) return 0;
    if (static_cast<uint64_t>(height) > kMaxImagePixels / static_cast<uint64_t>(width)) return 0;
    const uint64_t row = RowBytes(width, bits);
    if (row > kMaxItemDataBytes || static_cast<uint64_t>(height) > kMaxItemDataBytes / row) return 0;
    return row * static_cast<uint64_t>(height);
}

bool IsPlainHeader(const DibHeader& h) {
    if (h.biSize != sizeof(DibHeader) || h.biPlanes != 1 || h.biCompression != kDibRgb) return false;
    const uint64_t bytes = ImageBytes(h.biWidth, h.biHeight, h.biBitCount);
    if (bytes == 0 || bytes != h.biSizeImage) return false;
    const uint32_t colors = ColorTableSize(h);
    return h.biBitCount <= 8 ? colors <= (1u << h.biBitCount) : colors == 0;
}

bool ReadPackedDib(std::span<const uint8_t> block, PackedDib& dib) {
    if (block.size() < sizeof(DibHeader)) return false;
    const uint8_t* bytes = block.data();
    const size_t size = block.size();
    DibHeader h = ReadDibHeader(bytes);

    // Later header versions (V4, V5) begin with the same 40 bytes; their colour
    // table and bits come after the whole header.
    const uint32_t headerSize = h.biSize;
    if (headerSize < sizeof(DibHeader) || headerSize > size) return false;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<int32_t>::min()) return false;
    const bool topDown = h.biHeight < 0;
    const int bits = h.biBitCount;
    switch (h.biCompression) {
    case kDibRgb:
        if (!IsValidDibDepth(bits)) return false;
        break;
    case kDibRle8:
        if (bits != 8 || topDown) return false;
        break;
    case kDibRle4:
        if (bits != 4 || topDown) return false;
        break;
    case kDibBitFields:
        // The masks follow a 40-byte header and are part of every longer one;
        // either way they are the 12 bytes at offset 40.
        if ((bits != 16 && bits != 32) || (headerSize != 40 && headerSize < 52)) return false;
        break;
    default:
        return false;
    }
    // Run-length blocks say how large their picture is without carrying it; the
    // same ceilings keep a few bytes from claiming a huge one.
    const int64_t height = topDown ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    const uint64_t imageBytes = ImageBytes(h.biWidth, height, bits);
    if (imageBytes == 0) return false;

    const uint32_t colors = ColorTableSize(h);
    const uint64_t maskBytes = (h.biCompression == kDibBitFields && headerSize == 40) ? 12 : 0;
    const uint64_t tableOffset = headerSize + maskBytes;
    const uint64_t offset = tableOffset + uint64_t{4} * colors;
    if (offset > size) return false;
    const uint64_t available = size - offset;

    uint64_t length = imageBytes;
    if (h.biCompression == kDibRle8 || h.biCompression == kDibRle4) {
        length = h.biSizeImage;
        if (length == 0) return false;
    }
    if (length > available) return false;

    dib = {};
    h.biSize = sizeof(DibHeader);
    h.biPlanes = 1;
    h.biClrImportant = 0;
    h.biSizeImage = static_cast<uint32_t>(length);
    if (h.biCompression == kDibBitFields) std::memcpy(dib.extra, bytes + 40, 12);
    // Only as many colours as the depth can index are kept; a table announced
    // longer still counts for where the bits begin. Deeper images' optional
    // tables play no part in drawing them.
    const uint32_t kept = bits <= 8 ? std::min<uint32_t>(colors, 1u << bits) : 0;
    h.biClrUsed = kept;
    if (kept > 0) std::memcpy(dib.extra, bytes + tableOffset, size_t{kept} * 4);
    dib.header = h;
    dib.bits = block.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
    return true;
}

bool ReadDibPayload(std::span<const uint8_t> payload, DibPayload& out) {
    if (payload.size() < sizeof(DibHeader)) return false;
    const DibHeader header = ReadDibHeader(payload.data());
    if (!IsPlainHeader(header)) return false;
    // A plain header's table has at most 256 entries.
    const size_t tableBytes = size_t{ColorTableSize(header)} * 4;
    if (payload.size() - sizeof(DibHeader) < tableBytes) return false;
    out.header = header;
    out.colors = payload.subspan(sizeof(DibHeader), tableBytes);
    out.bits = payload.subspan(sizeof(DibHeader) + tableBytes);
    return true;
}
