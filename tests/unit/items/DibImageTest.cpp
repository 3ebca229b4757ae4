#include "items/DibImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <functional>
#include <random>

#include "support/ImageTestHelpers.h"
#include "support/TempFolder.h"

namespace {

// A 24-bit image whose pixel (x, stored row y) has colour(x, y) as 0xRRGGBB.
void Fill24(DibImage& image, int width, int height, const std::function<uint32_t(int, int)>& colour) {
    ASSERT_TRUE(image.CreateBlank(width, height));
    const size_t row = static_cast<size_t>(RowBytes(width, 24));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            uint8_t* p = image.Bits() + y * row + x * 3;
            p[0] = c & 0xFF;
            p[1] = (c >> 8) & 0xFF;
            p[2] = (c >> 16) & 0xFF;
        }
    }
}

uint32_t Pixel24(const DibImage& image, int x, int y) {
    const size_t row = static_cast<size_t>(RowBytes(image.Header().biWidth, 24));
    const uint8_t* p = image.Bits() + y * row + x * 3;
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

uint32_t Pixel32(const DibImage& image, int x, int y) {
    uint32_t v;
    std::memcpy(&v, image.Bits() + (static_cast<size_t>(y) * image.Header().biWidth + x) * 4, 4);
    return v;
}

int IndexAt(const DibImage& image, int x, int y) {
    const BITMAPINFOHEADER& h = image.Header();
    return PixelIndex(image.Bits() + y * static_cast<size_t>(RowBytes(h.biWidth, h.biBitCount)), x, h.biBitCount);
}

std::string Rgb24Row(const std::vector<uint32_t>& colours) {
    std::string row;
    for (uint32_t c : colours) {
        row += static_cast<char>(c & 0xFF);
        row += static_cast<char>((c >> 8) & 0xFF);
        row += static_cast<char>((c >> 16) & 0xFF);
    }
    row.resize((row.size() + 3) / 4 * 4, '\0');
    return row;
}

// Checks that every pixel of a palette image uses an entry at the smallest
// distance from the source colour.
void ExpectNearestEverywhere(const DibImage& target, const DibImage& source) {
    const uint32_t entries = ColorTableSize(target.Header());
    int wrong = 0;
    for (int y = 0; y < source.Header().biHeight; ++y) {
        for (int x = 0; x < source.Header().biWidth; ++x) {
            const uint32_t c = Pixel24(source, x, y);
            int best = INT_MAX;
            for (uint32_t i = 0; i < entries; ++i) best = std::min(best, ColorDistance(c, EntryColor(target.ColorTable()[i])));
            const int index = IndexAt(target, x, y);
            ASSERT_LT(static_cast<uint32_t>(index), entries);
            if (ColorDistance(c, EntryColor(target.ColorTable()[index])) != best) ++wrong;
        }
    }
    EXPECT_EQ(0, wrong) << "pixels not mapped to a nearest entry at " << target.Header().biBitCount << " bits";
}

}  // namespace

TEST(DibImageTest, DefaultPalettesFollowTheirPattern) {
    DibImage mono(1);
    EXPECT_EQ(0x000000u, EntryColor(mono.ColorTable()[0]));
    EXPECT_EQ(0xFFFFFFu, EntryColor(mono.ColorTable()[1]));

    // Sixteen colours get only the first fifteen entries; the last keeps what it had.
    DibImage sixteen(4);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(DefaultPaletteColor(i), EntryColor(sixteen.ColorTable()[i])) << i;
    EXPECT_EQ(0x000000u, EntryColor(sixteen.ColorTable()[15]));
    sixteen.ColorTable()[15] = RGBQUAD{1, 2, 3, 0};
    sixteen.SetDefaultPalette();
    EXPECT_EQ(0x030201u, EntryColor(sixteen.ColorTable()[15]));

    DibImage full(8);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(DefaultPaletteColor(i), EntryColor(full.ColorTable()[i])) << i;

    // Named colours, then 24 hues x 5 brightness levels (pure hue, then a tint
    // halfway to the level's grey), then greys.
    const uint32_t named[10] = {0xFFFFFF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF,
                                0x0000FF, 0xFF00FF, 0x000000, 0x808080, 0xC0C0C0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(named[i], DefaultPaletteColor(i)) << i;
    const int levels[5] = {0xFF, 0xA5, 0x7F, 0x4C, 0x26};
    for (int hue = 0; hue < 24; ++hue) {
        const int sector = hue / 4;                  // 60 degrees each
        const double f = (hue % 4) / 4.0;             // position inside the sector
        for (int l = 0; l < 5; ++l) {
            const int v = levels[l];
            const int rise = static_cast<int>(v * f), fall = static_cast<int>(v * (1 - f));
            const int pure[6][3] = {{v, rise, 0}, {fall, v, 0}, {0, v, rise}, {0, fall, v}, {rise, 0, v}, {v, 0, fall}};
            const int* p = pure[sector];
            const int index = 10 + hue * 10 + l * 2;
            for (int tint = 0; tint < 2; ++tint) {
                const uint32_t c = DefaultPaletteColor(index + tint);
                const int got[3] = {int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)};
                for (int ch = 0; ch < 3; ++ch) {
                    const int want = tint ? (p[ch] + v) / 2 : p[ch];
                    // The in-between channel of the table is rounded where this truncates.
                    EXPECT_NEAR(want, got[ch], 1) << "entry " << index + tint << " channel " << ch;
                }
            }
        }
    }
    const uint32_t greys[6] = {0x000000, 0x2D2D2D, 0x5B5B5B, 0x898989, 0xB7B7B7, 0xB3B3B3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(greys[i], DefaultPaletteColor(250 + i));

    DibImage deep(24);
    EXPECT_EQ(0u, EntryColor(deep.ColorTable()[0]));
}

TEST(DibImageTest, RowBytesAndColorTableSize) {
    EXPECT_EQ(12u, RowBytes(3, 24));
    EXPECT_EQ(4u, RowBytes(3, 1));
    EXPECT_EQ(4u, RowBytes(32, 1));
    EXPECT_EQ(8u, RowBytes(33, 1));
    EXPECT_EQ(4u, RowBytes(1, 32));
    // No 32-bit wrap-around for the widest header.
    EXPECT_EQ(uint64_t{0x7FFFFFFF} * 4, RowBytes(INT_MAX, 32));

    EXPECT_EQ(20u, ColorTableSize(MakeHeader(1, 1, 8, BI_RGB, 20)));
    EXPECT_EQ(0u, ColorTableSize(MakeHeader(1, 1, 24)));
    EXPECT_EQ(2u, ColorTableSize(MakeHeader(1, 1, 1)));
    EXPECT_EQ(16u, ColorTableSize(MakeHeader(1, 1, 4)));
    EXPECT_EQ(256u, ColorTableSize(MakeHeader(1, 1, 8)));
    EXPECT_EQ(0u, ColorTableSize(MakeHeader(1, 1, 0, BI_RGB, 7)));
}

// GDI (Wine's at least) rounds colours to five bits per channel before choosing
// a palette entry; the image's own matching must find the nearest entry exactly.
TEST(DibImageTest, ConvertingToPaletteDepthsPicksTheNearestEntry) {
    DibImage source(24);
    Fill24(source, 64, 64, [](int x, int y) {
        const int i = y * 64 + x;
        return uint32_t(((i % 16) * 16 + 7) << 16 | (((i / 16) % 16) * 16 + 3) << 8 | ((i / 256) * 16 + 11));
    });

    DibImage eight(8, source);
    ASSERT_NE(nullptr, eight.Bits());
    const BITMAPINFOHEADER& h = eight.Header();
    EXPECT_EQ(40u, h.biSize);
    EXPECT_EQ(8, h.biBitCount);
    EXPECT_EQ(DWORD(BI_RGB), h.biCompression);
    EXPECT_EQ(0u, h.biClrUsed);
    EXPECT_EQ(64, h.biWidth);
    EXPECT_EQ(64, h.biHeight);
    EXPECT_EQ(64u * 64u, h.biSizeImage);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(DefaultPaletteColor(i), EntryColor(eight.ColorTable()[i]));
    ExpectNearestEverywhere(eight, source);

    DibImage sixteen(4, source);
    ASSERT_NE(nullptr, sixteen.Bits());
    EXPECT_EQ(32u * 64u, sixteen.Header().biSizeImage);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(DefaultPaletteColor(i), EntryColor(sixteen.ColorTable()[i]));
    EXPECT_EQ(0x000000u, EntryColor(sixteen.ColorTable()[15]));
    ExpectNearestEverywhere(sixteen, source);

    DibImage mono(1, source);
    ASSERT_NE(nullptr, mono.Bits());
    ExpectNearestEverywhere(mono, source);

    // Colours that are palette entries come out as their first occurrence.
    DibImage exact(24);
    Fill24(exact, 15, 1, [](int x, int) { return DefaultPaletteColor(x); });
    DibImage exact8(8, exact);
    const int firstOf[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 11, 12, 13, 14};
    for (int x = 0; x < 15; ++x) EXPECT_EQ(firstOf[x], IndexAt(exact8, x, 0)) << x;

    // Deeper targets keep the colours.
    DibImage back(24, exact8);
    for (int x = 0; x < 15; ++x) EXPECT_EQ(DefaultPaletteColor(x), Pixel24(back, x, 0));
}

// Palette targets are filled a band of rows at a time; rows must land in place
// across band edges, for bottom-up, top-down and run-length sources alike.
TEST(DibImageTest, LargeImagesAreMatchedBandByBand) {
    const int width = 1024, height = 1100;  // more than one band of a million pixels
    // No two rows alike, so a row drawn into the wrong place shows.
    auto entryAt = [](int x, int yFromTop) { return (x / 8 * (1 + yFromTop / 256) + yFromTop * 7) % 256; };
    std::string bottomUp, topDown;
    for (int stored = 0; stored < height; ++stored) {
        std::string row, flippedRow;
        for (int x = 0; x < width; ++x) {
            const uint32_t c = DefaultPaletteColor(entryAt(x, height - 1 - stored));
            const uint32_t f = DefaultPaletteColor(entryAt(x, stored));
            row += {static_cast<char>(c), static_cast<char>(c >> 8), static_cast<char>(c >> 16)};
            flippedRow += {static_cast<char>(f), static_cast<char>(f >> 8), static_cast<char>(f >> 16)};
        }
        bottomUp += row;
        topDown += flippedRow;
    }
    auto expectPicture = [&](const DibImage& image, const char* what) {
        ASSERT_NE(nullptr, image.Bits()) << what;
        ASSERT_EQ(height, image.Header().biHeight) << what;
        int wrong = 0;
        for (int stored = 0; stored < height; ++stored)
            for (int x = 0; x < width; ++x)
                if (EntryColor(image.ColorTable()[image.Bits()[stored * width + x]]) !=
                    DefaultPaletteColor(entryAt(x, height - 1 - stored)))
                    ++wrong;
        EXPECT_EQ(0, wrong) << what;
    };

    const std::string plainBlock = PackDib(MakeHeader(width, height, 24), {}, {}, bottomUp);
    DibImage plain(8);
    EXPECT_TRUE(plain.ConvertFromPackedDib(plainBlock.data(), plainBlock.size()));
    expectPicture(plain, "bottom-up");

    const std::string topDownBlock = PackDib(MakeHeader(width, -height, 24), {}, {}, topDown);
    DibImage flipped(8);
    EXPECT_TRUE(flipped.ConvertFromPackedDib(topDownBlock.data(), topDownBlock.size()));
    expectPicture(flipped, "top-down");

    // The same picture as runs of eight equal pixels over the default table.
    std::string runs;
    for (int stored = 0; stored < height; ++stored) {
        for (int x = 0; x < width; x += 8) {
            runs += static_cast<char>(8);
            runs += static_cast<char>(entryAt(x, height - 1 - stored));
        }
        runs += std::string("\0\0", 2);
    }
    runs += std::string("\0\1", 2);
    std::vector<uint32_t> table(256);
    for (int i = 0; i < 256; ++i) table[i] = DefaultPaletteColor(i);
    const std::string runBlock =
        PackDib(MakeHeader(width, height, 8, BI_RLE8, 0, static_cast<DWORD>(runs.size())), {}, table, runs);
    DibImage decoded(8);
    EXPECT_TRUE(decoded.ConvertFromPackedDib(runBlock.data(), runBlock.size()));
    expectPicture(decoded, "run-length");
}

TEST(DibImageTest, OwnPaletteSurvivesConversionToFewerColours) {
    DibImage source(8);
    ASSERT_TRUE(source.CreateBlank(16, 2));
    for (int i = 0; i < 256; ++i) {
        // Sixteen far-apart colours first, then colours just beside them.
        const int base = i % 16;
        const int nudge = i < 16 ? 0 : 3 + i / 16;
        source.ColorTable()[i] = RGBQUAD{static_cast<BYTE>((base % 4) * 70 + nudge),
                                         static_cast<BYTE>(255 - base * 16), static_cast<BYTE>(base * 16), 0};
    }
    for (int x = 0; x < 16; ++x) {
        source.Bits()[x] = static_cast<uint8_t>(x);            // stored row 0: the first sixteen
        source.Bits()[16 + x] = static_cast<uint8_t>(x + 16 * (1 + x % 15));  // row 1: their neighbours
    }

    DibImage four(4, source);
    ASSERT_NE(nullptr, four.Bits());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(EntryColor(source.ColorTable()[i]), EntryColor(four.ColorTable()[i])) << i;
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(x, IndexAt(four, x, 0));
        EXPECT_EQ(x, IndexAt(four, x, 1));
    }

    DibImage mono(1, source);
    ASSERT_NE(nullptr, mono.Bits());
    EXPECT_EQ(EntryColor(source.ColorTable()[0]), EntryColor(mono.ColorTable()[0]));
    EXPECT_EQ(EntryColor(source.ColorTable()[1]), EntryColor(mono.ColorTable()[1]));
}

TEST(DibImageTest, PackedDibsOfEveryLayoutAreRedrawnAsPlainBits) {
    // The reference picture, bottom row first.
    const std::vector<std::vector<uint32_t>> picture = {
        {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
        {0x123456, 0x000000, 0xABCDEF, 0x808080},
        {0x00FFFF, 0xFF00FF, 0xFFFF00, 0x102030},
    };
    std::string bottomUp, topDown;
    for (const auto& row : picture) bottomUp += Rgb24Row(row);
    for (auto it = picture.rbegin(); it != picture.rend(); ++it) topDown += Rgb24Row(*it);
    auto expectPicture = [&](const DibImage& image, const char* what) {
        ASSERT_NE(nullptr, image.Bits()) << what;
        EXPECT_EQ(4, image.Header().biWidth) << what;
        EXPECT_EQ(3, image.Header().biHeight) << what;
        EXPECT_EQ(DWORD(BI_RGB), image.Header().biCompression) << what;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                const uint32_t got = image.Header().biBitCount == 32 ? Pixel32(image, x, y) : Pixel24(image, x, y);
                EXPECT_EQ(picture[y][x], got) << what << " at " << x << "," << y;
            }
    };

    DibImage plain(24);
    const std::string plainBlock = PackDib(MakeHeader(4, 3, 24), {}, {}, bottomUp);
    EXPECT_TRUE(plain.ConvertFromPackedDib(plainBlock.data(), plainBlock.size()));
    expectPicture(plain, "24-bit");

    DibImage flipped(24);
    const std::string topDownBlock = PackDib(MakeHeader(4, -3, 24), {}, {}, topDown);
    EXPECT_TRUE(flipped.ConvertFromPackedDib(topDownBlock.data(), topDownBlock.size()));
    expectPicture(flipped, "top-down");

    // BITMAPV4HEADER: the bits follow the 108-byte header.
    BITMAPINFOHEADER v4 = MakeHeader(4, 3, 24);
    v4.biSize = sizeof(BITMAPV4HEADER);
    const std::string v4Block = PackDib(v4, {}, {}, bottomUp);
    DibImage fromV4(24);
    EXPECT_TRUE(fromV4.ConvertFromPackedDib(v4Block.data(), v4Block.size()));
    expectPicture(fromV4, "V4 header");

    // 32 bits with masks in a BITMAPV5HEADER; alpha set everywhere.
    std::string pixels32;
    for (const auto& row : picture)
        for (uint32_t c : row) {
            const uint32_t v = 0xFF000000 | c;
            pixels32.append(reinterpret_cast<const char*>(&v), 4);
        }
    BITMAPINFOHEADER v5 = MakeHeader(4, 3, 32, BI_BITFIELDS);
    v5.biSize = sizeof(BITMAPV5HEADER);
    const uint32_t v5Masks[5] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 0x73524742 /* sRGB */};
    const std::string v5Block =
        PackDib(v5, {}, {}, pixels32, std::string(reinterpret_cast<const char*>(v5Masks), sizeof(v5Masks)));
    DibImage fromV5(32);
    EXPECT_TRUE(fromV5.ConvertFromPackedDib(v5Block.data(), v5Block.size()));
    EXPECT_EQ(32, fromV5.Header().biBitCount);
    EXPECT_EQ(0u, ColorTableSize(fromV5.Header()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(picture[y][x], Pixel32(fromV5, x, y));

    // 32 bits with the masks after a 40-byte header, in red-green-blue byte order.
    std::string rgbx;
    for (const auto& row : picture)
        for (uint32_t c : row) {
            const uint32_t v = ((c >> 16) & 0xFF) | (c & 0xFF00) | ((c & 0xFF) << 16);
            rgbx.append(reinterpret_cast<const char*>(&v), 4);
        }
    const std::string maskedBlock =
        PackDib(MakeHeader(4, 3, 32, BI_BITFIELDS), {0x000000FF, 0x0000FF00, 0x00FF0000}, {}, rgbx);
    DibImage masked(32);
    EXPECT_TRUE(masked.ConvertFromPackedDib(maskedBlock.data(), maskedBlock.size()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(picture[y][x], Pixel32(masked, x, y) & 0xFFFFFF);

    // 16 bits 5-6-5 become 5-5-5.
    const uint16_t pixels565[4] = {0xFFFF, 0xF800, 0x07E0, 0x001F};
    const std::string block565 = PackDib(MakeHeader(4, 1, 16, BI_BITFIELDS), {0xF800, 0x07E0, 0x001F}, {},
                                         std::string(reinterpret_cast<const char*>(pixels565), 8));
    DibImage from565(16);
    EXPECT_TRUE(from565.ConvertFromPackedDib(block565.data(), block565.size()));
    ASSERT_NE(nullptr, from565.Bits());
    EXPECT_EQ(DWORD(BI_RGB), from565.Header().biCompression);
    const uint16_t* out555 = reinterpret_cast<const uint16_t*>(from565.Bits());
    EXPECT_EQ(0x7FFF, out555[0]);
    EXPECT_EQ(0x7C00, out555[1]);
    EXPECT_EQ(0x03E0, out555[2]);
    EXPECT_EQ(0x001F, out555[3]);
}

TEST(DibImageTest, RunLengthAndLongColourTablesAreDecoded) {
    const std::vector<uint32_t> table = {0x102030, 0xF0E0D0, 0x00FF80, 0x8000FF};
    // RLE8, 4 x 3: a run row, a row with a skip (delta), an absolute row.
    const uint8_t rle8[] = {2, 1, 1, 2, 1, 3, 0, 0,        //
                            2, 3, 0, 2, 2, 0, 0, 0,        //
                            0, 4, 3, 2, 1, 0, 0, 1};
    const std::string rle8Block = PackDib(MakeHeader(4, 3, 8, BI_RLE8, 4, sizeof(rle8)), {}, table,
                                          std::string(reinterpret_cast<const char*>(rle8), sizeof(rle8)));
    DibImage eight(8);
    EXPECT_TRUE(eight.ConvertFromPackedDib(rle8Block.data(), rle8Block.size()));
    ASSERT_NE(nullptr, eight.Bits());
    EXPECT_EQ(DWORD(BI_RGB), eight.Header().biCompression);
    EXPECT_EQ(0u, eight.Header().biClrUsed);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(table[i], EntryColor(eight.ColorTable()[i]));
    EXPECT_EQ(DefaultPaletteColor(4), EntryColor(eight.ColorTable()[4]));
    const int want8[3][4] = {{1, 1, 2, 3}, {3, 3, 0, 0}, {3, 2, 1, 0}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(want8[y][x], IndexAt(eight, x, y)) << x << "," << y;

    // RLE4, 4 x 2, with a run of alternating pixels and an absolute run of three.
    const uint8_t rle4[] = {4, 0x12, 0, 0, 0, 3, 0x30, 0x10, 1, 0x20, 0, 1};
    const std::string rle4Block = PackDib(MakeHeader(4, 2, 4, BI_RLE4, 4, sizeof(rle4)), {}, table,
                                          std::string(reinterpret_cast<const char*>(rle4), sizeof(rle4)));
    DibImage four(4);
    EXPECT_TRUE(four.ConvertFromPackedDib(rle4Block.data(), rle4Block.size()));
    ASSERT_NE(nullptr, four.Bits());
    const int want4[2][4] = {{1, 2, 1, 2}, {3, 0, 1, 2}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(want4[y][x], IndexAt(four, x, y)) << x << "," << y;

    // A runs block that stops without an end mark is still read safely.
    const std::string cutRuns = PackDib(MakeHeader(4, 3, 8, BI_RLE8, 4, 6), {}, table,
                                        std::string(reinterpret_cast<const char*>(rle8), 6));
    DibImage cut(8);
    EXPECT_TRUE(cut.ConvertFromPackedDib(cutRuns.data(), cutRuns.size()));
    EXPECT_EQ(2, IndexAt(cut, 2, 0));

    // 300 colours announced: the bits start after all of them, the first 256 are used.
    std::vector<uint32_t> longTable(300);
    for (int i = 0; i < 300; ++i) longTable[i] = (uint32_t(i) * 0x010307) & 0xFFFFFF;
    longTable[255] = 0xFEDCBA;
    const std::string longBlock =
        PackDib(MakeHeader(4, 1, 8, BI_RGB, 300), {}, longTable, std::string("\x05\xFF\x00\x80", 4));
    DibImage many(8);
    EXPECT_TRUE(many.ConvertFromPackedDib(longBlock.data(), longBlock.size()));
    ASSERT_NE(nullptr, many.Bits());
    for (int i = 0; i < 256; ++i) EXPECT_EQ(longTable[i], EntryColor(many.ColorTable()[i]));
    EXPECT_EQ(0xFEDCBAu, EntryColor(many.ColorTable()[IndexAt(many, 1, 0)]));
    EXPECT_EQ(longTable[5], EntryColor(many.ColorTable()[IndexAt(many, 0, 0)]));
    EXPECT_EQ(longTable[0x80], EntryColor(many.ColorTable()[IndexAt(many, 3, 0)]));
}

TEST(DibImageTest, HostilePackedDibsAreRefused) {
    const std::string pixels(64, '\x11');
    auto block = [&](BITMAPINFOHEADER h, const std::string& bits = std::string(64, '\x11')) {
        return PackDib(h, {}, {}, bits);
    };
    BITMAPINFOHEADER core = MakeHeader(4, 4, 24);
    core.biSize = 12;
    BITMAPINFOHEADER odd = MakeHeader(4, 4, 32, BI_BITFIELDS);
    odd.biSize = 44;
    BITMAPINFOHEADER tooLong = MakeHeader(4, 4, 24);
    tooLong.biSize = 4000;
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"shorter than a header", block(MakeHeader(4, 4, 24)).substr(0, 39)},
        {"core header", block(core)},
        {"header longer than the block", std::string(reinterpret_cast<const char*>(&tooLong), 40) + pixels},
        {"bit-field masks nowhere", block(odd)},
        {"zero width", block(MakeHeader(0, 4, 24))},
        {"negative width", block(MakeHeader(-4, 4, 24))},
        {"zero height", block(MakeHeader(4, 0, 24))},
        {"most negative height", block(MakeHeader(4, INT_MIN, 24))},
        {"no bit count", block(MakeHeader(4, 4, 0))},
        {"seven bits", block(MakeHeader(4, 4, 7))},
        {"64 bits", block(MakeHeader(4, 4, 64))},
        {"JPEG", block(MakeHeader(4, 4, 24, BI_JPEG))},
        {"PNG", block(MakeHeader(4, 4, 24, BI_PNG))},
        {"unknown compression", block(MakeHeader(4, 4, 24, 0x31545844))},
        {"bit fields at 24 bits", block(MakeHeader(4, 4, 24, BI_BITFIELDS))},
        {"RLE8 at 4 bits", block(MakeHeader(4, 4, 4, BI_RLE8, 0, 8))},
        {"RLE4 at 8 bits", block(MakeHeader(4, 4, 8, BI_RLE4, 0, 8))},
        {"top-down runs", block(MakeHeader(4, -4, 8, BI_RLE8, 0, 8))},
        {"runs of no length", block(MakeHeader(4, 4, 8, BI_RLE8, 0, 0))},
        {"runs past the block", block(MakeHeader(4, 4, 8, BI_RLE8, 0, 100000))},
        {"runs for too many pixels", block(MakeHeader(20000, 20000, 8, BI_RLE8, 0, 8))},
        {"bits one byte short", block(MakeHeader(4, 4, 32), std::string(63, '\x11'))},
        {"rows wider than 32 bits can count", block(MakeHeader(INT_MAX, 3, 32))},
        {"rows times height past 64 bits", block(MakeHeader(INT_MAX, INT_MAX, 32))},
        {"a billion pixels", block(MakeHeader(0x8000, 0x8000, 1))},
        {"colour table past the block", block(MakeHeader(4, 4, 8, BI_RGB, 0x40000000))},
        {"colour count at its maximum", block(MakeHeader(4, 4, 8, BI_RGB, 0xFFFFFFFF))},
        {"table leaves no room for bits", PackDib(MakeHeader(4, 4, 8, BI_RGB, 20), {}, std::vector<uint32_t>(20), "")},
    };
    for (const Case& c : cases) {
        DibImage image(24);
        EXPECT_FALSE(image.ConvertFromPackedDib(c.bytes.data(), c.bytes.size())) << c.what;
        EXPECT_EQ(nullptr, image.Bits()) << c.what;
    }
    DibImage image(24);
    EXPECT_FALSE(image.ConvertFromPackedDib(nullptr, 100));
}

// Random damage to real blocks: every block is either refused or gives a
// consistent image that survives the payload round trip.
TEST(DibImageTest, DamagedBlocksAreRefusedOrConsistent) {
    std::vector<std::string> bases;
    std::string bits24;
    for (int i = 0; i < 6 * 5 * 3 + 2 * 5; ++i) bits24 += static_cast<char>(i * 7);
    bases.push_back(PackDib(MakeHeader(6, 5, 24), {}, {}, bits24.substr(0, RowBytes(6, 24) * 5)));
    bases.push_back(PackDib(MakeHeader(5, -4, 8, BI_RGB, 20), {}, std::vector<uint32_t>(20, 0x336699), std::string(32, '\x07')));
    bases.push_back(PackDib(MakeHeader(7, 3, 32, BI_BITFIELDS), {0xFF0000, 0xFF00, 0xFF}, {}, std::string(84, '\x5A')));
    const uint8_t rle8[] = {2, 1, 1, 2, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1};
    bases.push_back(PackDib(MakeHeader(4, 2, 8, BI_RLE8, 4, sizeof(rle8)), {}, {1, 2, 3, 4},
                            std::string(reinterpret_cast<const char*>(rle8), sizeof(rle8))));
    bases.push_back(PackDib(MakeHeader(9, 2, 1), {}, {0, 0xFFFFFF}, std::string(8, '\xA5')));

    std::mt19937 random(20240601);
    const uint32_t boundary[] = {0, 1, 2, 3, 4, 8, 12, 40, 124, 255, 256, 257, 0x7FFF, 0xFFFF, 0x7FFFFFFF,
                                 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE};
    int accepted = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string block = bases[round % bases.size()];
        const int kind = random() % 3;
        if (kind == 0) {
            block.resize(random() % (block.size() + 1));
        } else if (kind == 1) {
            for (int n = 1 + random() % 3; n > 0; --n) block[random() % std::min<size_t>(block.size(), 60)] = static_cast<char>(random());
        } else {
            const size_t field = (random() % 10) * 4;  // a 32-bit-aligned header field
            const uint32_t value = boundary[random() % (sizeof(boundary) / sizeof(boundary[0]))];
            std::memcpy(block.data() + field, &value, 4);
        }
        // Keep run-length pictures small enough for a quick test; the limit itself
        // is checked above.
        BITMAPINFOHEADER h;
        std::memcpy(&h, block.data(), std::min(block.size(), sizeof(h)));
        if (block.size() >= sizeof(h) && (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) &&
            int64_t{h.biWidth} * std::abs(int64_t{h.biHeight}) > (1 << 16))
            continue;

        DibImage image(24);
        if (!image.ConvertFromPackedDib(block.data(), block.size())) {
            EXPECT_EQ(nullptr, image.Bits());
            continue;
        }
        ++accepted;
        const BITMAPINFOHEADER& out = image.Header();
        ASSERT_EQ(40u, out.biSize);
        ASSERT_EQ(DWORD(BI_RGB), out.biCompression);
        ASSERT_GT(out.biHeight, 0);
        ASSERT_EQ(RowBytes(out.biWidth, 24) * out.biHeight, out.biSizeImage);
        Bytes payload;
        ASSERT_TRUE(image.ToPayload(payload));
        DibImage back(0);
        ASSERT_TRUE(back.LoadPayload(payload.data(), payload.size()));
        ASSERT_EQ(0, std::memcmp(back.Bits(), image.Bits(), out.biSizeImage));
    }
    EXPECT_GT(accepted, 50);
}

TEST(DibImageTest, PayloadRoundTripAndHostilePayloads) {
    DibImage image(8);
    ASSERT_TRUE(image.CreateBlank(5, 3));
    for (DWORD i = 0; i < image.Header().biSizeImage; ++i) image.Bits()[i] = static_cast<uint8_t>(i * 13);
    image.ColorTable()[3] = RGBQUAD{9, 8, 7, 0};

    Bytes payload;
    ASSERT_TRUE(image.ToPayload(payload));
    // Header and table as held, then the bits as a plain zlib stream.
    ASSERT_GT(payload.size(), 40u + 1024u);
    EXPECT_EQ(0, std::memcmp(payload.data(), &image.Header(), 40));
    EXPECT_EQ(0, std::memcmp(payload.data() + 40, image.ColorTable(), 1024));
    std::string bits(image.Header().biSizeImage, '\0');
    uLongf size = static_cast<uLongf>(bits.size());
    ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(bits.data()), &size, payload.data() + 1064, payload.size() - 1064));
    EXPECT_EQ(bits.size(), size);
    EXPECT_EQ(0, std::memcmp(bits.data(), image.Bits(), bits.size()));

    DibImage back(0);
    ASSERT_TRUE(back.LoadPayload(payload.data(), payload.size()));
    EXPECT_EQ(0, back.BitDepth());
    EXPECT_EQ(8, back.Header().biBitCount);
    EXPECT_EQ(0x070809u, EntryColor(back.ColorTable()[3]));
    EXPECT_EQ(0, std::memcmp(back.Bits(), image.Bits(), image.Header().biSizeImage));

    // Damaged payloads: the header, the table or the bits do not agree.
    auto withHeader = [&](const std::function<void(BITMAPINFOHEADER&)>& change) {
        Bytes p = payload;
        BITMAPINFOHEADER h;
        std::memcpy(&h, p.data(), 40);
        change(h);
        std::memcpy(p.data(), &h, 40);
        return p;
    };
    auto withBits = [&](size_t length) {
        std::string raw(length, '\x42');
        Bytes compressed;
        CompressBlock(raw.data(), raw.size(), compressed);
        Bytes p(1064 + compressed.size());
        std::memcpy(p.data(), payload.data(), 1064);
        std::memcpy(p.data() + 1064, compressed.data(), compressed.size());
        return p;
    };
    Bytes corrupt = payload;
    corrupt[1064 + 5] ^= 0xFF;
    corrupt[1064 + 6] ^= 0x5A;
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"empty", {}},
        {"header cut short", Bytes(payload.begin(), payload.begin() + 39)},
        {"table cut short", Bytes(payload.begin(), payload.begin() + 500)},
        {"no bits", Bytes(payload.begin(), payload.begin() + 1064)},
        {"bits shorter than the image", withBits(image.Header().biSizeImage - 1)},
        {"bits longer than the image", withBits(image.Header().biSizeImage + 1)},
        {"bits corrupt", corrupt},
        {"bits cut short", Bytes(payload.begin(), payload.end() - 3)},
        {"longer header", withHeader([](auto& h) { h.biSize = 124; })},
        {"core header", withHeader([](auto& h) { h.biSize = 12; })},
        {"run-length", withHeader([](auto& h) { h.biCompression = BI_RLE8; })},
        {"bit fields", withHeader([](auto& h) { h.biCompression = BI_BITFIELDS; })},
        {"seven bits", withHeader([](auto& h) { h.biBitCount = 7; })},
        {"two planes", withHeader([](auto& h) { h.biPlanes = 2; })},
        {"zero width", withHeader([](auto& h) { h.biWidth = 0; })},
        {"top-down", withHeader([](auto& h) { h.biHeight = -3; })},
        {"300 colours", withHeader([](auto& h) { h.biClrUsed = 300; })},
        {"colour count overflowing", withHeader([](auto& h) { h.biClrUsed = 0x40000001; })},
        {"image size too small for the rows", withHeader([](auto& h) { h.biSizeImage = 4; })},
        {"image size larger than the rows", withHeader([](auto& h) { h.biSizeImage = 100; })},
        {"huge picture", withHeader([](auto& h) {
             h.biWidth = 0x10000;
             h.biHeight = 0x10000;
             h.biSizeImage = 0;
         })},
    };
    for (const Case& c : cases) {
        DibImage loaded(0);
        EXPECT_FALSE(loaded.LoadPayload(c.bytes.data(), c.bytes.size())) << c.what;
        EXPECT_EQ(nullptr, loaded.Bits()) << c.what;
    }
    // A 4-bit payload may not carry more colours than four bits can index.
    DibImage four(4);
    ASSERT_TRUE(four.CreateBlank(2, 2));
    Bytes fourPayload;
    ASSERT_TRUE(four.ToPayload(fourPayload));
    DibImage check(0);
    EXPECT_TRUE(check.LoadPayload(fourPayload.data(), fourPayload.size()));
    reinterpret_cast<BITMAPINFOHEADER*>(fourPayload.data())->biClrUsed = 20;
    EXPECT_FALSE(check.LoadPayload(fourPayload.data(), fourPayload.size()));
}

TEST(DibImageTest, BmpFilesHaveTheirLayoutAndReadBack) {
    TempFolder folder;
    DibImage eight(8);
    ASSERT_TRUE(eight.CreateBlank(5, 3));
    for (DWORD i = 0; i < eight.Header().biSizeImage; ++i) eight.Bits()[i] = static_cast<uint8_t>(200 + i);
    ASSERT_TRUE(eight.SaveBmp(folder / "eight.bmp"));
    const std::string file8 = ReadFileBytes(folder / "eight.bmp");
    ASSERT_EQ(1078u + 24u, file8.size());
    EXPECT_EQ("BM", file8.substr(0, 2));
    EXPECT_EQ(file8.size(), U32At(file8, 2));
    EXPECT_EQ(0u, U32At(file8, 6));
    EXPECT_EQ(1078u, U32At(file8, 10));
    EXPECT_EQ(0, std::memcmp(file8.data() + 14, &eight.Header(), 40));
    EXPECT_EQ(0, std::memcmp(file8.data() + 54, eight.ColorTable(), 1024));
    EXPECT_EQ(0, std::memcmp(file8.data() + 1078, eight.Bits(), 24));

    DibImage deep(24);
    Fill24(deep, 3, 2, [](int x, int y) { return uint32_t(0x102030 * (x + 1) + y); });
    ASSERT_TRUE(deep.SaveBmp(folder / "deep.bmp"));
    const std::string file24 = ReadFileBytes(folder / "deep.bmp");
    ASSERT_EQ(54u + 24u, file24.size());
    EXPECT_EQ(54u, U32At(file24, 10));
    EXPECT_EQ(0, std::memcmp(file24.data() + 54, deep.Bits(), 24));

    DibImage loaded(0);
    ASSERT_TRUE(loaded.LoadBmpFile(folder / "eight.bmp"));
    EXPECT_EQ(0, std::memcmp(&loaded.Header(), &eight.Header(), 40));
    EXPECT_EQ(0, std::memcmp(loaded.Bits(), eight.Bits(), 24));
    ASSERT_TRUE(loaded.LoadBmpFile(folder / "deep.bmp"));
    EXPECT_EQ(0x102030u, Pixel24(loaded, 0, 0));

    // A top-down file is read the right way up; biSizeImage 0 is allowed.
    std::string topDown = file24;
    int32_t negative = -2;
    std::memcpy(topDown.data() + 14 + 8, &negative, 4);
    std::memset(topDown.data() + 14 + 20, 0, 4);
    std::memcpy(topDown.data() + 54, file24.data() + 54 + 12, 12);
    std::memcpy(topDown.data() + 54 + 12, file24.data() + 54, 12);
    ASSERT_TRUE(WriteFileBytes(folder / "topdown.bmp", topDown));
    ASSERT_TRUE(loaded.LoadBmpFile(folder / "topdown.bmp"));
    EXPECT_EQ(2, loaded.Header().biHeight);
    EXPECT_EQ(0, std::memcmp(loaded.Bits(), deep.Bits(), 24));

    // Writing without pixels still removes the old file.
    DibImage empty(8);
    EXPECT_FALSE(empty.SaveBmp(folder / "eight.bmp"));
    EXPECT_FALSE(FileExists(folder / "eight.bmp"));

    auto patched = [&](size_t offset, uint32_t value) {
        std::string f = file8;
        std::memcpy(f.data() + offset, &value, 4);
        return f;
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"not BM", "XM" + file8.substr(2)},
        {"offset inside the file header", patched(10, 20)},
        {"gap larger than the bitmap info", patched(10, 14 + 1064 + 4)},
        {"bits cut short", file8.substr(0, file8.size() - 1)},
        {"V5 header", patched(14, 124)},
        {"colour table longer than the gap", patched(14 + 32, 300)},
        {"huge width", patched(14 + 4, 0x7FFFFFFF)},
        {"run-length", patched(14 + 16, BI_RLE8)},
        {"header only", file8.substr(0, 30)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(folder / "bad.bmp", c.bytes));
        DibImage bad(0);
        EXPECT_FALSE(bad.LoadBmpFile(folder / "bad.bmp")) << c.what;
        EXPECT_EQ(nullptr, bad.Bits()) << c.what;
    }
    DibImage missing(0);
    EXPECT_FALSE(missing.LoadBmpFile(folder / "none.bmp"));
}

TEST(DibImageTest, PngFilesArePaletteImagesTopRowFirst) {
    TempFolder folder;
    DibImage mono(1);
    ASSERT_TRUE(mono.CreateBlank(10, 3));
    const uint8_t rows[3][4] = {{0xF0, 0x40, 0, 0}, {0x0F, 0x80, 0, 0}, {0xAA, 0xC0, 0, 0}};
    std::memcpy(mono.Bits(), rows, sizeof(rows));
    ASSERT_TRUE(mono.SavePng(folder / "mono.png"));
    const DecodedPng png = ReadPng(folder / "mono.png");
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(10u, png.width);
    EXPECT_EQ(3u, png.height);
    EXPECT_EQ(1, png.bitDepth);
    EXPECT_EQ(3, png.colorType);
    EXPECT_EQ((std::vector<uint32_t>{0x000000, 0xFFFFFF}), png.palette);
    ASSERT_EQ(3u, png.rows.size());
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(2u, png.rows[r].size());
        EXPECT_EQ(rows[2 - r][0], png.rows[r][0]) << r;
        EXPECT_EQ(rows[2 - r][1] & 0xC0, png.rows[r][1] & 0xC0) << r;
    }

    DibImage source(24);
    Fill24(source, 7, 2, [](int x, int) { return DefaultPaletteColor(x * 20); });
    DibImage eight(8, source);
    ASSERT_TRUE(eight.SavePng(folder / "eight.png"));
    const DecodedPng png8 = ReadPng(folder / "eight.png");
    ASSERT_TRUE(png8.ok);
    EXPECT_EQ(8, png8.bitDepth);
    EXPECT_EQ(3, png8.colorType);
    ASSERT_EQ(256u, png8.palette.size());
    for (int i = 0; i < 256; ++i) EXPECT_EQ(DefaultPaletteColor(i), png8.palette[i]);
    for (int x = 0; x < 7; ++x) EXPECT_EQ(DefaultPaletteColor(x * 20), png8.palette[png8.rows[0][x]]);

    DibImage four(4, source);
    ASSERT_TRUE(four.SavePng(folder / "four.png"));
    const DecodedPng png4 = ReadPng(folder / "four.png");
    ASSERT_TRUE(png4.ok);
    EXPECT_EQ(4, png4.bitDepth);
    EXPECT_EQ(16u, png4.palette.size());

    // Deeper images are not PNG material here: nothing is left at the path.
    ASSERT_TRUE(WriteFileBytes(folder / "deep.png", "old"));
    EXPECT_FALSE(source.SavePng(folder / "deep.png"));
    EXPECT_FALSE(FileExists(folder / "deep.png"));
    DibImage empty(8);
    EXPECT_FALSE(empty.SavePng(folder / "empty.png"));
}

TEST(DibImageTest, CopiesBitmapsAndFlipsRows) {
    // A 32-bit DIB section copied at 24 bits.
    BITMAPINFO info = {};
    info.bmiHeader = MakeHeader(3, 2, 32);
    void* raw = nullptr;
    UniqueBitmap section(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
    ASSERT_TRUE(section);
    const uint32_t colours[6] = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x010203};
    std::memcpy(raw, colours, sizeof(colours));
    DibImage copy(24);
    ASSERT_TRUE(copy.CreateFromBitmap(section.get()));
    EXPECT_EQ(3, copy.Header().biWidth);
    EXPECT_EQ(2, copy.Header().biHeight);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(colours[i], Pixel24(copy, i % 3, i / 3)) << i;

    // A monochrome device bitmap (an icon mask) copied at 1 bit.
    const uint16_t maskRows[2] = {0x00F0, 0x000F};  // device rows are word-aligned, top row first
    UniqueBitmap mask(::CreateBitmap(8, 2, 1, 1, maskRows));
    ASSERT_TRUE(mask);
    DibImage maskCopy(1);
    ASSERT_TRUE(maskCopy.CreateFromBitmap(mask.get()));
    EXPECT_EQ(0x0F, maskCopy.Bits()[0]);  // bottom row first
    EXPECT_EQ(0xF0, maskCopy.Bits()[4]);

    // A bitmap held by another DC cannot be read.
    UniqueDc holder(::CreateCompatibleDC(nullptr));
    HGDIOBJ previous = ::SelectObject(holder.get(), section.get());
    DibImage blocked(24);
    EXPECT_FALSE(blocked.CreateFromBitmap(section.get()));
    ::SelectObject(holder.get(), previous);
    EXPECT_FALSE(blocked.CreateFromBitmap(nullptr));

    DibImage odd(8);
    ASSERT_TRUE(odd.CreateBlank(3, 3));
    for (int y = 0; y < 3; ++y) std::memset(odd.Bits() + y * 4, 'a' + y, 4);
    odd.FlipRows();
    EXPECT_EQ(std::string("ccccbbbbaaaa"), std::string(reinterpret_cast<char*>(odd.Bits()), 12));
}
