#include "items/BitmapItem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/ImageTestHelpers.h"
#include "archive/ItemFile.h"
#include "items/DibImage.h"
#include "items/PngFormat.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

BITMAPINFOHEADER PayloadHeader(const BitmapItem& item) {
    BITMAPINFOHEADER h = {};
    if (item.Payload().size() >= sizeof(h)) std::memcpy(&h, item.Payload().data(), sizeof(h));
    return h;
}

// The picture every save choice is checked against: 6 x 4 pixels of palette
// colours that every depth can show exactly (1 bit: black and white only).
uint32_t PictureColour(int x, int y) {
    static const uint32_t colours[] = {0xFFFFFF, 0x000000, 0xFF0000, 0x0000FF, 0x00FF00, 0x808080};
    return colours[(x + y) % 6];
}

std::string Picture24() {
    std::string bits;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const uint32_t c = PictureColour(x, y);
            bits += static_cast<char>(c & 0xFF);
            bits += static_cast<char>((c >> 8) & 0xFF);
            bits += static_cast<char>((c >> 16) & 0xFF);
        }
        bits.resize(bits.size() + 2, '\0');  // 18 bytes padded to 20
    }
    return bits;
}

// An item file's "B" field starts after the header and the Y, D and G fields.
constexpr size_t kDataFieldOffset = 48;

}  // namespace

TEST(BitmapItemTest, CaptureStoresTheImageAtItsOwnDepth) {
    BitmapItem item;
    EXPECT_EQ(kBitmapItemType, item.TypeCode());
    EXPECT_EQ("Bitmap", item.TypeName());
    EXPECT_FALSE(item.HasData());

    // Twenty colours of its own: stored with a full table, its own colours first.
    std::vector<uint32_t> own(20);
    for (int i = 0; i < 20; ++i) own[i] = 0x0A0B0C + 0x0B0905 * i;
    std::string indices;
    for (int i = 0; i < 8; ++i) indices += static_cast<char>(i * 2 + 1);
    const std::string dib8 = PackDib(MakeHeader(4, 2, 8, BI_RGB, 20), {}, own, indices);
    ASSERT_TRUE(item.SetFromDib(dib8.data(), dib8.size()));
    BITMAPINFOHEADER h = PayloadHeader(item);
    EXPECT_EQ(40u, h.biSize);
    EXPECT_EQ(8, h.biBitCount);
    EXPECT_EQ(DWORD(BI_RGB), h.biCompression);
    EXPECT_EQ(0u, h.biClrUsed);
    EXPECT_EQ(0u, h.biClrImportant);
    EXPECT_EQ(0, h.biXPelsPerMeter);
    EXPECT_EQ(8u, h.biSizeImage);
    DibImage stored(0);
    ASSERT_TRUE(stored.LoadPayload(item.Payload().data(), item.Payload().size()));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(own[i], EntryColor(stored.ColorTable()[i])) << i;
    for (int i = 20; i < 256; ++i) EXPECT_EQ(DefaultPaletteColor(i), EntryColor(stored.ColorTable()[i])) << i;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(own[i * 2 + 1], EntryColor(stored.ColorTable()[stored.Bits()[i]])) << i;

    // A 24-bit image keeps its bytes.
    const std::string bits = Picture24();
    const std::string dib24 = PackDib(MakeHeader(6, 4, 24), {}, {}, bits);
    ASSERT_TRUE(item.SetFromDib(dib24.data(), dib24.size()));
    ASSERT_TRUE(stored.LoadPayload(item.Payload().data(), item.Payload().size()));
    EXPECT_EQ(24, stored.Header().biBitCount);
    EXPECT_EQ(bits, std::string(reinterpret_cast<char*>(stored.Bits()), stored.BitsSize()));

    // A block that is no image leaves the item without data.
    const std::string bad = PackDib(MakeHeader(6, 4, 24), {}, {}, bits.substr(1));
    EXPECT_FALSE(item.SetFromDib(bad.data(), bad.size()));
    EXPECT_FALSE(item.HasData());
    EXPECT_FALSE(item.SetFromDib(nullptr, 0));
}

TEST(BitmapItemTest, CopyingBackPlacesOnePlainDib) {
    ClipboardHelper clipboard;
    // 32 bits with explicit masks (as Wine offers X11 images) and a set alpha byte.
    std::string pixels;
    for (int i = 0; i < 15; ++i) {
        const uint32_t v = 0xFF000000u | (0x010203u * (i + 1));
        pixels.append(reinterpret_cast<const char*>(&v), 4);
    }
    const std::string dib = PackDib(MakeHeader(5, 3, 32, BI_BITFIELDS), {0xFF0000, 0xFF00, 0xFF}, {}, pixels);
    BitmapItem item;
    ASSERT_TRUE(item.SetFromDib(dib.data(), dib.size()));
    const BITMAPINFOHEADER h = PayloadHeader(item);
    EXPECT_EQ(32, h.biBitCount);
    EXPECT_EQ(DWORD(BI_RGB), h.biCompression);
    EXPECT_EQ(60u, h.biSizeImage);

    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    const auto copied = clipboard.Get(CF_DIB);
    ASSERT_TRUE(copied.has_value());
    ASSERT_EQ(40u + 60u, copied->size());  // no masks, no table
    BITMAPINFOHEADER back;
    std::memcpy(&back, copied->data(), 40);
    EXPECT_EQ(0, std::memcmp(&back, &h, 40));
    for (int i = 0; i < 15; ++i) EXPECT_EQ(0x010203u * (i + 1), U32At(*copied, 40 + i * 4)) << i;
    // Whatever else is listed is the PNG beside it, or what the system makes
    // from CF_DIB itself.
    const UINT png = ClipboardHelper::Register("PNG");
    for (UINT format : clipboard.Formats())
        EXPECT_TRUE(format == CF_DIB || format == png || format == CF_BITMAP || format == CF_DIBV5 ||
                    format == CF_PALETTE)
            << "format " << format;

    // A palette image goes out with its 256 entries.
    std::string indices(8, '\x03');
    const std::string dib8 = PackDib(MakeHeader(8, 1, 8, BI_RGB, 20), {}, std::vector<uint32_t>(20, 0x445566), indices);
    BitmapItem eight;
    ASSERT_TRUE(eight.SetFromDib(dib8.data(), dib8.size()));
    ASSERT_TRUE(clipboard.Empty());
    eight.PutOnClipboard(clipboard.Window());
    const auto copied8 = clipboard.Get(CF_DIB);
    ASSERT_TRUE(copied8.has_value());
    EXPECT_EQ(40u + 1024u + 8u, copied8->size());

    // An item without data places nothing.
    BitmapItem empty;
    ASSERT_TRUE(clipboard.Empty());
    empty.PutOnClipboard(clipboard.Window());
    EXPECT_TRUE(clipboard.Formats().empty());
}

TEST(BitmapItemTest, APngKeepsItsAlphaAndGoesBackAsDibAndPng) {
    // 3 x 2: an opaque, a half transparent and a fully transparent pixel in each row.
    const uint8_t alpha[] = {0xFF, 0x80, 0x00};
    std::vector<std::string> rows(2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            rows[y] += {static_cast<char>(0x10 * x + 0x40 * y), '\x22', '\x99', static_cast<char>(alpha[x])};
    const std::string png = MakePng(3, 2, 8, 6, rows);
    BitmapItem item;
    ASSERT_TRUE(item.SetFromPng(png.data(), png.size()));
    const BITMAPINFOHEADER h = PayloadHeader(item);
    EXPECT_EQ(32, h.biBitCount);
    EXPECT_EQ(2, h.biHeight);
    EXPECT_EQ(24u, h.biSizeImage);
    DibImage stored(0);
    ASSERT_TRUE(stored.LoadPayload(item.Payload().data(), item.Payload().size()));
    // Bottom row first; blue, green, red, alpha.
    const std::string expected = std::string("\x99\x22\x40\xFF\x99\x22\x50\x80\x99\x22\x60\x00", 12) +
                                 std::string("\x99\x22\x00\xFF\x99\x22\x10\x80\x99\x22\x20\x00", 12);
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(stored.Bits()), 24));

    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    const auto dib = clipboard.Get(CF_DIB);
    ASSERT_TRUE(dib.has_value());
    ASSERT_GE(dib->size(), 40u + 24u);
    EXPECT_EQ(expected, dib->substr(40, 24));
    const auto copied = clipboard.Get(ClipboardHelper::Register("PNG"));
    ASSERT_TRUE(copied.has_value());
    EXPECT_EQ(6, (*copied)[25]) << "RGBA";
    std::vector<uint8_t> decoded(24);
    ASSERT_TRUE(DecodePng({reinterpret_cast<const uint8_t*>(copied->data()), copied->size()}, decoded.data(), 24));
    EXPECT_EQ(expected, std::string(decoded.begin(), decoded.end()));

    // A picture without transparency goes out as an RGB PNG of the same pixels.
    const std::string dib24 = PackDib(MakeHeader(6, 4, 24, BI_RGB, 0, 80), {}, {}, Picture24());
    BitmapItem opaque;
    ASSERT_TRUE(opaque.SetFromDib(dib24.data(), dib24.size()));
    ASSERT_TRUE(clipboard.Empty());
    opaque.PutOnClipboard(clipboard.Window());
    const auto rgb = clipboard.Get(ClipboardHelper::Register("PNG"));
    ASSERT_TRUE(rgb.has_value());
    EXPECT_EQ(2, (*rgb)[25]) << "RGB";
    std::vector<uint8_t> pixels(6 * 4 * 4);
    ASSERT_TRUE(DecodePng({reinterpret_cast<const uint8_t*>(rgb->data()), rgb->size()}, pixels.data(), pixels.size()));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint8_t* p = pixels.data() + (y * 6 + x) * 4;  // bottom-up, as the DIB was
            const uint32_t colour = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
            EXPECT_EQ(PictureColour(x, y), colour) << x << "," << y;
            EXPECT_EQ(0xFF, p[3]);
        }

    // A damaged PNG gives no data.
    BitmapItem damaged;
    EXPECT_FALSE(damaged.SetFromPng(png.data(), png.size() - 20));
    EXPECT_FALSE(damaged.HasData());
}

TEST(BitmapItemTest, EverySaveChoiceWritesItsFormat) {
    TempFolder folder;
    const std::string bits = Picture24();
    const std::string dib = PackDib(MakeHeader(6, 4, 24), {}, {}, bits);
    BitmapItem item;
    ASSERT_TRUE(item.SetFromDib(dib.data(), dib.size()));

    DialogAnswerer answerer;
    for (int choice = 1; choice <= 8; ++choice) {
        // The typed extension is replaced by the chosen entry's.
        answerer.Expect({DialogAnswerer::SelectCombo(DialogAnswerer::kSaveFileType, choice - 1),
                         DialogAnswerer::SetText(DialogAnswerer::kSaveFileName,
                                                 folder / ("choice" + std::to_string(choice) + ".doc")),
                         DialogAnswerer::Click(IDOK)});
        EXPECT_TRUE(item.SaveAs());
    }
    EXPECT_EQ(8, answerer.Answered());

    const int bmpDepths[5] = {1, 4, 8, 24, 32};
    for (int choice = 1; choice <= 5; ++choice) {
        const std::string file = ReadFileBytes(folder / ("choice" + std::to_string(choice) + ".bmp"));
        ASSERT_GT(file.size(), 54u) << choice;
        const int depth = bmpDepths[choice - 1];
        const uint32_t table = depth <= 8 ? 4u << depth : 0;
        EXPECT_EQ("BM", file.substr(0, 2));
        EXPECT_EQ(depth, U16At(file, 14 + 14)) << choice;
        EXPECT_EQ(54 + table, U32At(file, 10)) << choice;
        EXPECT_EQ(54 + table + RowBytes(6, depth) * 4, file.size()) << choice;
        // Decode the pixels through the file's own table and compare colours.
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                const uint8_t* row = reinterpret_cast<const uint8_t*>(file.data()) + 54 + table + y * RowBytes(6, depth);
                uint32_t colour;
                if (depth <= 8) {
                    colour = U32At(file, 54 + 4 * PixelIndex(row, x, depth)) & 0xFFFFFF;
                } else {
                    const uint8_t* p = row + x * depth / 8;
                    colour = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
                }
                const uint32_t want = depth == 1 ? (ColorDistance(PictureColour(x, y), 0) <
                                                            ColorDistance(PictureColour(x, y), 0xFFFFFF)
                                                        ? 0x000000
                                                        : 0xFFFFFF)
                                                 : PictureColour(x, y);
                EXPECT_EQ(want, colour) << "choice " << choice << " at " << x << "," << y;
            }
    }
    // Saved at its own depth, the captured bytes are unchanged.
    EXPECT_EQ(bits, ReadFileBytes(folder / "choice4.bmp").substr(54));

    const int pngDepths[3] = {1, 4, 8};
    for (int choice = 6; choice <= 8; ++choice) {
        const DecodedPng png = ReadPng(folder / ("choice" + std::to_string(choice) + ".png"));
        ASSERT_TRUE(png.ok) << choice;
        EXPECT_EQ(pngDepths[choice - 6], png.bitDepth);
        EXPECT_EQ(3, png.colorType);
        EXPECT_EQ(6u, png.width);
        EXPECT_EQ(4u, png.height);
        EXPECT_EQ(size_t{1} << png.bitDepth, png.palette.size());
        if (png.bitDepth == 1) continue;
        for (uint32_t r = 0; r < 4; ++r)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(PictureColour(x, 3 - r), png.palette[PixelIndex(png.rows[r].data(), x, png.bitDepth)]);
    }
    const DecodedPng png8 = ReadPng(folder / "choice8.png");
    for (int i = 0; i < 256 && png8.palette.size() == 256; ++i) EXPECT_EQ(DefaultPaletteColor(i), png8.palette[i]);
    EXPECT_FALSE(FileExists(folder / "choice1.doc"));

    // Cancelling writes nothing.
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "cancelled"),
                     DialogAnswerer::Click(IDCANCEL)});
    EXPECT_TRUE(item.SaveAs());
    EXPECT_FALSE(FileExists(folder / "cancelled.bmp"));
}

TEST(BitmapItemTest, ItemFilesRoundTripAndDamagedFilesFail) {
    TempFolder folder;
    std::string indices;
    for (int i = 0; i < 12; ++i) indices += static_cast<char>(i);
    const std::string dib = PackDib(MakeHeader(4, 3, 8), {}, std::vector<uint32_t>(256, 0x102030), indices);
    BitmapItem item;
    ASSERT_TRUE(item.SetFromDib(dib.data(), dib.size()));
    ASSERT_TRUE(StoreItem(item, folder.Path()));
    const std::string path = item.RecordPath();
    ASSERT_EQ(".db", path.substr(path.size() - 3));

    auto created = CreateItemOfType(kBitmapItemType);
    ASSERT_NE(nullptr, created);
    ASSERT_TRUE(ReadItemFile(*created, path));
    auto* read = dynamic_cast<BitmapItem*>(created.get());
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(item.Payload(), read->Payload());

    const std::string file = ReadFileBytes(path);
    ASSERT_EQ('B', file[kDataFieldOffset]);
    ASSERT_EQ(item.Payload().size(), U32At(file, kDataFieldOffset + 1));
    auto expectRejected = [&](const std::string& bytes, const char* what) {
        ASSERT_TRUE(WriteFileBytes(folder / "damaged.db", bytes));
        BitmapItem damaged;
        EXPECT_FALSE(ReadItemFile(damaged, folder / "damaged.db")) << what;
        EXPECT_FALSE(damaged.HasData()) << what;
    };
    auto withLength = [&](uint32_t length) {
        std::string f = file;
        std::memcpy(f.data() + kDataFieldOffset + 1, &length, 4);
        return f;
    };
    expectRejected(file.substr(0, file.size() - 1), "data shorter than its length");
    expectRejected(withLength(0xFFFFFFFF), "length of 4 GB");
    expectRejected(withLength(0), "no data");
    std::string corrupt = file;
    corrupt[file.size() - 4] ^= 0x3C;  // inside the zlib check value
    expectRejected(corrupt, "bits that do not decompress");
    std::string colours = file;
    const uint32_t many = 300;
    std::memcpy(colours.data() + kDataFieldOffset + 5 + 32, &many, 4);
    expectRejected(colours, "more colours than the table holds");

    // Random damage anywhere: each file is refused or gives a usable image.
    std::mt19937 random(77);
    int accepted = 0;
    for (int round = 0; round < 150; ++round) {
        std::string f = file;
        if (round % 3 == 0) {
            f.resize(random() % f.size());
        } else {
            for (int n = 1 + random() % 4; n > 0; --n) f[random() % f.size()] = static_cast<char>(random());
        }
        ASSERT_TRUE(WriteFileBytes(folder / "fuzzed.db", f));
        BitmapItem fuzzed;
        if (!ReadItemFile(fuzzed, folder / "fuzzed.db")) continue;
        ++accepted;
        if (!fuzzed.HasData()) continue;  // the data field itself was lost
        DibImage image(0);
        EXPECT_TRUE(image.LoadPayload(fuzzed.Payload().data(), fuzzed.Payload().size()));
    }
    EXPECT_GT(accepted, 0);
}

TEST(BitmapItemTest, ExternalViewerGetsABmpOfTheItemsDepth) {
    TempFolder folder;
    const std::string dib = PackDib(MakeHeader(3, 2, 8), {}, std::vector<uint32_t>(256, 0x808080), std::string(8, '\x01'));
    BitmapItem item;
    ASSERT_TRUE(item.SetFromDib(dib.data(), dib.size()));
    EXPECT_TRUE(item.ShowInExternalViewer(folder.Path()));
    const auto files = ListFiles(folder.Path(), "*.bmp");
    ASSERT_EQ(1u, files.size());
    const std::string file = ReadFileBytes(folder / files[0]);
    EXPECT_EQ(8, U16At(file, 28));
    EXPECT_EQ(1078u + 8u, file.size());

    BitmapItem empty;
    EXPECT_FALSE(empty.ShowInExternalViewer(folder.Path()));
    EXPECT_EQ(1u, ListFiles(folder.Path(), "*.bmp").size());
}
