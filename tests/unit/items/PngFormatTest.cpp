#include "items/PngFormat.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ImageTestHelpers.h"

namespace {

constexpr int kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;

ByteSpan Span(const std::string& bytes) { return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}; }

// 0xAARRGGBB of pixel (x, y), y from the top, as DecodePng left it.
struct Decoded {
    bool ok = false;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bits;
    uint32_t At(uint32_t x, uint32_t y) const {
        const uint8_t* p = bits.data() + (size_t{height - 1 - y} * width + x) * 4;
        return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
};

Decoded Decode(const std::string& png) {
    Decoded out;
    if (!ReadPngSize(Span(png), out.width, out.height)) return out;
    out.bits.resize(size_t{out.width} * out.height * 4);
    out.ok = DecodePng(Span(png), out.bits.data(), out.bits.size());
    return out;
}

// The picture of the RGBA tests: every channel changes across it, alpha too.
uint32_t Argb(uint32_t x, uint32_t y) {
    const uint32_t a = (10 + 40 * x + 30 * y) & 0xFF, r = (x * 50) & 0xFF, g = (y * 80) & 0xFF,
                   b = (200 + 246 * x + 236 * y) & 0xFF;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

std::vector<std::string> RgbaRows(uint32_t width, uint32_t height) {
    std::vector<std::string> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = Argb(x, y);
            rows[y] += {static_cast<char>(c >> 16), static_cast<char>(c >> 8), static_cast<char>(c),
                        static_cast<char>(c >> 24)};
        }
    return rows;
}

// A 16-bit sample that scales to exactly `v` at 8 bits.
std::string Sample16(int v) { return {static_cast<char>(v), static_cast<char>(v)}; }

// A deflate stream of `segments` times `segmentBytes` zero bytes, made without
// holding them: each segment is flushed so that the next may repeat it.
std::string ZeroStream(size_t segmentBytes, int segments) {
    z_stream z = {};
    deflateInit(&z, Z_BEST_COMPRESSION);
    std::string zeros(segmentBytes, '\0');
    std::string segment(segmentBytes / 100 + 1024, '\0');
    // The two-byte zlib header comes out with the first segment.
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(segment.data());
    z.avail_out = static_cast<uInt>(segment.size());
    deflate(&z, Z_FULL_FLUSH);
    segment.resize(segment.size() - z.avail_out);
    deflateEnd(&z);
    const std::string repeated = segment.substr(2);
    std::string out = segment;
    for (int i = 1; i < segments; ++i) out += repeated;
    out += std::string("\x03\x00", 2);  // an empty final block; the checksum never comes
    return out;
}

std::string Signature() { return std::string("\x89PNG\r\n\x1a\n", 8); }

}  // namespace

TEST(PngFormatTest, EveryColourTypeDepthAndInterlacingBecomesBgraWithAlpha) {
    // A 2-bit palette whose transparency chunk covers the first two entries.
    std::string palette = std::string("\xFF\x00\x00", 3) + std::string("\x00\xFF\x00", 3) +
                          std::string("\x00\x00\xFF", 3) + std::string("\x10\x20\x30", 3);
    const std::string paletteChunks = PngChunk("PLTE", palette) + PngChunk("tRNS", std::string("\x00\x80", 2));
    const Decoded indexed = Decode(MakePng(4, 1, 2, kPalette, {std::string("\x1B", 1)}, paletteChunks));
    ASSERT_TRUE(indexed.ok);
    EXPECT_EQ(0x00FF0000u, indexed.At(0, 0));
    EXPECT_EQ(0x8000FF00u, indexed.At(1, 0));
    EXPECT_EQ(0xFF0000FFu, indexed.At(2, 0));
    EXPECT_EQ(0xFF102030u, indexed.At(3, 0));

    // 4-bit grey widens to 8 bits (15 is white), opaque.
    const Decoded grey = Decode(MakePng(2, 1, 4, kGrey, {std::string("\xF3", 1)}));
    ASSERT_TRUE(grey.ok);
    EXPECT_EQ(0xFFFFFFFFu, grey.At(0, 0));
    EXPECT_EQ(0xFF333333u, grey.At(1, 0));

    // 16-bit grey with alpha and 16-bit RGB scale to 8 bits.
    const Decoded greyAlpha = Decode(MakePng(1, 1, 16, kGreyAlpha, {Sample16(0x40) + Sample16(0xC0)}));
    ASSERT_TRUE(greyAlpha.ok);
    EXPECT_EQ(0xC0404040u, greyAlpha.At(0, 0));
    const Decoded deep = Decode(MakePng(1, 1, 16, kRgb, {Sample16(0x12) + Sample16(0x34) + Sample16(0x56)}));
    ASSERT_TRUE(deep.ok);
    EXPECT_EQ(0xFF123456u, deep.At(0, 0));

    // RGBA keeps its alpha; rows are stored bottom-up, blue first.
    const Decoded rgba = Decode(MakePng(5, 3, 8, kRgba, RgbaRows(5, 3)));
    ASSERT_TRUE(rgba.ok);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(Argb(x, y), rgba.At(x, y)) << x << "," << y;
    EXPECT_EQ(Argb(0, 2) & 0xFF, rgba.bits[0]);

    // Interlaced rows come out in place, as in the same picture without interlacing.
    const Decoded interlaced = Decode(MakePng(9, 10, 8, kRgba, RgbaRows(9, 10), {}, true));
    const Decoded plain = Decode(MakePng(9, 10, 8, kRgba, RgbaRows(9, 10)));
    ASSERT_TRUE(interlaced.ok);
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.bits, interlaced.bits);

    // Text and other chunks are passed over.
    const std::string text = PngChunk("tEXt", std::string("Comment\0hello", 13)) +
                             PngChunk("zTXt", std::string("Big\0\0", 5) + Zlib(std::string(1 << 20, 'x')));
    const Decoded withText = Decode(MakePng(9, 10, 8, kRgba, RgbaRows(9, 10), text));
    ASSERT_TRUE(withText.ok);
    EXPECT_EQ(plain.bits, withText.bits);
}

TEST(PngFormatTest, DamagedTruncatedAndHostilePicturesAreRefused) {
    const std::string good = MakePng(40, 30, 8, kRgba, RgbaRows(40, 30));
    ASSERT_TRUE(Decode(good).ok);
    std::vector<uint8_t> bits(40 * 30 * 4);
    EXPECT_FALSE(DecodePng(Span(good), bits.data(), bits.size() - 4)) << "a buffer of another size";
    EXPECT_FALSE(DecodePng(Span(good), nullptr, bits.size()));

    // Cut inside the pixels, or before the header ends.
    EXPECT_FALSE(Decode(good.substr(0, good.size() - 40)).ok);
    uint32_t w = 0, h = 0;
    EXPECT_FALSE(ReadPngSize(Span(good.substr(0, 20)), w, h));
    EXPECT_FALSE(ReadPngSize({}, w, h));
    EXPECT_FALSE(ReadPngSize(Span(std::string("BM not a png at all")), w, h));

    // A checksum that does not match, in the header or in the pixel chunk.
    std::string badHeader = good;
    badHeader[8 + 8 + 13] ^= 0x01;
    EXPECT_FALSE(Decode(badHeader).ok);
    std::string badPixels = good;
    badPixels[good.size() - 12 - 1] ^= 0x01;  // the IDAT's CRC, just before IEND
    EXPECT_FALSE(Decode(badPixels).ok);

    // 100000 x 100000: past the side limit, refused from the header alone.
    const std::string huge = Signature() + PngIhdr(100000, 100000, 8, kRgba) +
                             PngChunk("IDAT", Zlib(std::string(1000, '\0'))) + PngChunk("IEND", "");
    EXPECT_FALSE(ReadPngSize(Span(huge), w, h));
    EXPECT_FALSE(Decode(huge).ok);

    // A decompression bomb: 12000 x 12000 grey (144 MB of zeros in about 150
    // kilobytes) is past the pixel ceiling and is refused before any inflating.
    const std::string bomb = Signature() + PngIhdr(12000, 12000, 8, kGrey) +
                             PngChunk("IDAT", ZeroStream(size_t{12001} * 1000, 12)) + PngChunk("IEND", "");
    EXPECT_FALSE(ReadPngSize(Span(bomb), w, h));

    // A small picture whose pixel stream goes on for a gigabyte of zeros: libpng
    // would inflate all of it after the rows; it stops soon and the picture is refused.
    const std::string endless = Signature() + PngIhdr(8, 8, 8, kGrey) +
                                PngChunk("IDAT", ZeroStream(size_t{4} << 20, 256)) + PngChunk("IEND", "");
    ASSERT_GT(endless.size(), kMaxPngBytesAfterImage);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(Decode(endless).ok);
    EXPECT_LT(::GetTickCount() - start, 3000u);
    // A little surplus after the rows, as some writers leave, is still a picture.
    const std::string surplus = Signature() + PngIhdr(8, 8, 8, kGrey) +
                                PngChunk("IDAT", Zlib(std::string(9 * 8 + 500, '\0'))) + PngChunk("IEND", "");
    EXPECT_TRUE(Decode(surplus).ok);
}
