// "PNG" clipboard blocks: the size is read, the picture decoded into DIB rows
// with its alpha, and what was decoded is written again and must read back to
// the same pixels. Each input is tried as it is and, since nearly every change
// to a chunk breaks its checksum, once more with every checksum made right, so
// that changes reach libpng's handling of the chunks themselves.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "items/PngFormat.h"

namespace {

// Larger pictures are allowed (up to the image ceilings) but only their header
// is read here, so that one run stays fast; the unit tests decode large ones.
constexpr size_t kLargestDecoded = 4u * 1024 * 1024;

uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

// Rewrites the CRC of every whole chunk after the signature; true when any changed.
bool FixChecksums(std::vector<uint8_t>& png) {
    bool changed = false;
    size_t offset = 8;
    while (png.size() >= 12 && offset <= png.size() - 12) {
        const uint32_t length = Be32(&png[offset]);
        if (length > png.size() - offset - 12) break;
        uint8_t* crc = &png[offset + 8 + length];
        const uint32_t right = static_cast<uint32_t>(crc32(0, &png[offset + 4], length + 4));
        if (Be32(crc) != right) {
            changed = true;
            for (int i = 0; i < 4; ++i) crc[i] = static_cast<uint8_t>(right >> (24 - 8 * i));
        }
        offset += 12 + size_t{length};
    }
    return changed;
}

void Check(const uint8_t* data, size_t size) {
    uint32_t width = 0, height = 0;
    if (!ReadPngSize({data, size}, width, height)) return;
    if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide) abort();
    const size_t bytes = size_t{width} * height * 4;
    if (bytes > kLargestDecoded) return;
    std::vector<uint8_t> bits(bytes);
    // A size that does not match is refused before anything is written.
    if (DecodePng({data, size}, bits.data(), bytes - 4)) abort();
    if (!DecodePng({data, size}, bits.data(), bytes)) return;

    std::vector<const uint8_t*> rows(height);
    for (uint32_t r = 0; r < height; ++r) rows[r] = bits.data() + size_t{height - 1 - r} * width * 4;
    PngPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels = PngPixels::kBgra;
    picture.rows = rows.data();
    Bytes png;
    if (!EncodePng(picture, png, 1)) abort();
    std::vector<uint8_t> again(bytes);
    if (!DecodePng(png, again.data(), again.size()) || std::memcmp(again.data(), bits.data(), bytes) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(data, size);
    std::vector<uint8_t> fixed(data, data + size);
    if (FixChecksums(fixed)) Check(fixed.data(), fixed.size());
    return 0;
}
