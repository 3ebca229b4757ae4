// "PNG" clipboard blocks: the size is read, the picture decoded into DIB rows
// with its alpha, and what was decoded is written again and must read back to
// the same pixels.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "items/PngFormat.h"

namespace {

// Larger pictures are allowed (up to the image ceilings) but only their header
// is read here, so that one run stays fast; the unit tests decode large ones.
constexpr size_t kLargestDecoded = 4u * 1024 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t width = 0, height = 0;
    if (!ReadPngSize({data, size}, width, height)) return 0;
    if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide) abort();
    const size_t bytes = size_t{width} * height * 4;
    if (bytes > kLargestDecoded) return 0;
    std::vector<uint8_t> bits(bytes);
    // A size that does not match is refused before anything is written.
    if (DecodePng({data, size}, bits.data(), bytes - 4)) abort();
    if (!DecodePng({data, size}, bits.data(), bytes)) return 0;

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
    return 0;
}
