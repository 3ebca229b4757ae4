#include "items/MetafileItem.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <algorithm>
#include <functional>
#include <random>

#include "archive/ItemFile.h"
#include "framework/ScopeGuards.h"
#include "items/MetafileFormat.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/ItemFileBytes.h"
#include "support/TempFolder.h"

namespace {

using UniqueRegion = UniqueHandle<handle_traits::NullEmpty<HRGN, handle_traits::DeleteGdiObject>>;

// A drawing with a description, a pen, a brush and a font, so that its records
// create, select and delete objects.
UniqueEnhMetaFile DrawMetafile() {
    const RECT frame = {0, 0, 4000, 2000};  // hundredths of a millimetre
    HDC dc = ::CreateEnhMetaFileA(nullptr, nullptr, &frame, "Scrapvault test\0Drawing\0");
    if (!dc) return UniqueEnhMetaFile();
    {
        UniquePen pen(::CreatePen(PS_SOLID, 3, RGB(200, 30, 30)));
        UniqueBrush brush(::CreateSolidBrush(RGB(20, 90, 200)));
        UniqueFont font(::CreateFontA(-24, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial"));
        HGDIOBJ oldPen = ::SelectObject(dc, pen.get());
        HGDIOBJ oldBrush = ::SelectObject(dc, brush.get());
        HGDIOBJ oldFont = ::SelectObject(dc, font.get());
        ::Rectangle(dc, 10, 10, 150, 70);
        ::Ellipse(dc, 40, 20, 120, 60);
        ::TextOutA(dc, 12, 75, "metafile", 8);
        ::SelectObject(dc, oldFont);
        ::SelectObject(dc, oldBrush);
        ::SelectObject(dc, oldPen);
    }
    return UniqueEnhMetaFile(::CloseEnhMetaFile(dc));
}

// A drawing with a record of every kind whose contents the check reads: text,
// lines and curves, bitmaps drawn and used as brushes, regions, a font, a
// palette, a comment and gradients.
UniqueEnhMetaFile DrawEveryCheckedRecord() {
    const RECT frame = {0, 0, 4000, 3000};
    HDC dc = ::CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr);
    if (!dc) return UniqueEnhMetaFile();
    {
        UniqueFont font(::CreateFontA(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial"));
        ScopedSelect selectedFont(dc, font.get());
        const INT dx[3] = {8, 9, 10};
        ::ExtTextOutW(dc, 5, 30, ETO_OPAQUE, nullptr, L"abc", 3, dx);
    }
    POINT line[3] = {{10, 10}, {60, 40}, {100, 10}};
    ::Polyline(dc, line, 3);  // small coordinates: 16-bit points
    POINT wide[3] = {{10, 10}, {70000, 40}, {100, 10}};
    ::Polyline(dc, wide, 3);
    POINT figures[6] = {{0, 0}, {10, 0}, {10, 10}, {20, 20}, {30, 20}, {30, 30}};
    const INT counts[2] = {3, 3};
    ::PolyPolygon(dc, figures, counts, 2);
    const BYTE types[3] = {PT_MOVETO, PT_LINETO, PT_LINETO};
    ::PolyDraw(dc, line, types, 3);

    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t pixels[24];
    for (int i = 0; i < 24; ++i) pixels[i] = static_cast<uint8_t>(i * 10);
    ::StretchDIBits(dc, 120, 10, 30, 20, 0, 0, 3, 2, pixels, &info, DIB_RGB_COLORS, SRCCOPY);
    ::SetDIBitsToDevice(dc, 160, 10, 3, 2, 0, 0, 0, 2, pixels, &info, DIB_RGB_COLORS);
    {
        UniqueDc memory(::CreateCompatibleDC(dc));
        BITMAPINFO sectionInfo = {};
        sectionInfo.bmiHeader = {sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* raw = nullptr;
        UniqueBitmap section(::CreateDIBSection(memory.get(), &sectionInfo, DIB_RGB_COLORS, &raw, nullptr, 0));
        UniqueBitmap mask(::CreateBitmap(4, 4, 1, 1, nullptr));
        if (!raw || !mask) return UniqueEnhMetaFile(::CloseEnhMetaFile(dc));
        std::memset(raw, 0x7F, 64);
        ScopedSelect selectedSection(memory.get(), section.get());
        ::BitBlt(dc, 0, 0, 4, 4, memory.get(), 0, 0, SRCCOPY);
        ::StretchBlt(dc, 10, 0, 8, 8, memory.get(), 0, 0, 4, 4, SRCCOPY);
        ::MaskBlt(dc, 20, 0, 4, 4, memory.get(), 0, 0, mask.get(), 0, 0, MAKEROP4(SRCCOPY, PATCOPY));
        const POINT corners[3] = {{30, 0}, {34, 1}, {29, 4}};
        ::PlgBlt(dc, corners, memory.get(), 0, 0, 4, 4, mask.get(), 0, 0);
        ::GdiAlphaBlend(dc, 40, 0, 4, 4, memory.get(), 0, 0, 4, 4, BLENDFUNCTION{AC_SRC_OVER, 0, 128, 0});
        ::GdiTransparentBlt(dc, 50, 0, 4, 4, memory.get(), 0, 0, 4, 4, RGB(0x7F, 0x7F, 0x7F));
    }
    {
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD colors[2];
            uint32_t rows[8];
        } packed = {{sizeof(BITMAPINFOHEADER), 8, 8, 1, 1, BI_RGB, 0, 0, 0, 0, 0}, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {}};
        for (int i = 0; i < 8; ++i) packed.rows[i] = 0xAAu >> (i % 2);
        UniqueBrush pattern(::CreateDIBPatternBrushPt(&packed, DIB_RGB_COLORS));
        ScopedSelect selectedPattern(dc, pattern.get());
        ::Rectangle(dc, 0, 10, 20, 20);
        const WORD monoRows[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
        UniqueBitmap mono(::CreateBitmap(8, 8, 1, 1, monoRows));
        UniqueBrush monoBrush(::CreatePatternBrush(mono.get()));
        ScopedSelect selectedMono(dc, monoBrush.get());
        ::Rectangle(dc, 20, 10, 40, 20);
    }
    {
        UniqueRegion region(::CreateRectRgn(0, 0, 50, 50));
        UniqueRegion ellipse(::CreateEllipticRgn(10, 10, 80, 60));
        ::CombineRgn(region.get(), region.get(), ellipse.get(), RGN_OR);
        UniqueBrush brush(::CreateSolidBrush(RGB(1, 2, 3)));
        ::FillRgn(dc, region.get(), brush.get());
        ::FrameRgn(dc, region.get(), brush.get(), 2, 2);
        ::InvertRgn(dc, region.get());
        ::PaintRgn(dc, region.get());
        ::ExtSelectClipRgn(dc, region.get(), RGN_AND);
        ::ExtSelectClipRgn(dc, nullptr, RGN_COPY);
    }
    {
        struct {
            WORD version, entries;
            PALETTEENTRY colors[1];
        } palette = {0x300, 1, {{1, 2, 3, 0}}};
        UniquePalette made(::CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette)));
        HPALETTE previous = ::SelectPalette(dc, made.get(), FALSE);
        ::SelectPalette(dc, previous, FALSE);
    }
    TRIVERTEX vertices[3] = {{0, 0, 0xFF00, 0, 0, 0}, {20, 20, 0, 0xFF00, 0, 0}, {0, 20, 0, 0, 0xFF00, 0}};
    GRADIENT_TRIANGLE triangle = {0, 1, 2};
    ::GdiGradientFill(dc, vertices, 3, &triangle, 1, GRADIENT_FILL_TRIANGLE);
    ::GdiComment(dc, 8, reinterpret_cast<const BYTE*>("comment!"));
    return UniqueEnhMetaFile(::CloseEnhMetaFile(dc));
}

std::string BitsOf(HENHMETAFILE metafile) {
    const UINT size = ::GetEnhMetaFileBits(metafile, 0, nullptr);
    std::string bits(size, '\0');
    bits.resize(::GetEnhMetaFileBits(metafile, size, reinterpret_cast<BYTE*>(bits.data())));
    return bits;
}

std::string CompressedText(const std::string& bytes) {
    Bytes block;
    if (!CompressBlock(bytes.data(), bytes.size(), block)) return {};
    return std::string(block.begin(), block.end());
}

bool IsSound(const std::string& bits) {
    return IsSoundEnhMetaFile(reinterpret_cast<const uint8_t*>(bits.data()), bits.size());
}

uint32_t Get32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void Set32(std::string& bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

// Offsets of the records of the type, walking a sound metafile.
std::vector<size_t> RecordsOfType(const std::string& bits, uint32_t type) {
    std::vector<size_t> found;
    for (size_t at = 0; at + 8 <= bits.size() && Get32(bits, at + 4) >= 8; at += Get32(bits, at + 4))
        if (Get32(bits, at) == type) found.push_back(at);
    return found;
}

// Puts a record before the end record, keeping the header's counts right.
void InsertBeforeEnd(std::string& bits, const std::string& record) {
    const std::vector<size_t> ends = RecordsOfType(bits, EMR_EOF);
    ASSERT_EQ(1u, ends.size());
    bits.insert(ends[0], record);
    Set32(bits, offsetof(ENHMETAHEADER, nBytes), static_cast<uint32_t>(bits.size()));
    Set32(bits, offsetof(ENHMETAHEADER, nRecords), Get32(bits, offsetof(ENHMETAHEADER, nRecords)) + 1);
}

// Cuts the record at `at` down to `size` bytes; the records still tile the block.
void ShrinkRecord(std::string& bits, size_t at, uint32_t size) {
    bits.erase(at + size, Get32(bits, at + 4) - size);
    Set32(bits, at + 4, size);
    Set32(bits, offsetof(ENHMETAHEADER, nBytes), static_cast<uint32_t>(bits.size()));
}

std::string Words(std::initializer_list<uint32_t> words) {
    std::string out;
    for (uint32_t w : words) out += LittleEndian32(w);
    return out;
}

bool ReadsBack(const std::string& bytes, const std::string& path) {
    if (!WriteFileBytes(path, ItemFileWithData(kMetafileItemType, CompressedText(bytes)))) return false;
    MetafileItem item;
    const bool read = ReadItemFile(item, path);
    EXPECT_EQ(read, item.Metafile() != nullptr);
    return read;
}

}  // namespace

TEST(MetafileItemTest, SavesTheBytesOfItsOwnCopyAsEmf) {
    TempFolder folder;
    MetafileItem item;
    std::string original;
    {
        UniqueEnhMetaFile drawn = DrawMetafile();
        ASSERT_TRUE(drawn);
        original = BitsOf(drawn.get());
        ASSERT_TRUE(item.SetMetafile(drawn.get()));
        EXPECT_NE(drawn.get(), item.Metafile());
    }  // the caller's handle is gone; the item's copy stays
    ASSERT_TRUE(item.Metafile());
    EXPECT_EQ(original, BitsOf(item.Metafile()));
    EXPECT_TRUE(IsSound(original));  // what GDI itself writes passes the check

    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "drawing.png"),
                     DialogAnswerer::Click(IDOK)});
    EXPECT_TRUE(item.SaveAs());
    EXPECT_EQ(1, answerer.Answered());
    EXPECT_EQ(BitsOf(item.Metafile()), ReadFileBytes(folder / "drawing.emf"));
    EXPECT_FALSE(FileExists(folder / "drawing.png"));

    // The saved file is a metafile any reader opens.
    UniqueEnhMetaFile reopened(::GetEnhMetaFileA((folder / "drawing.emf").c_str()));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(original, BitsOf(reopened.get()));

    EXPECT_FALSE(item.SetMetafile(nullptr));
    EXPECT_FALSE(item.Metafile());
    EXPECT_FALSE(item.WriteEmfFile(folder / "none.emf"));
    EXPECT_FALSE(FileExists(folder / "none.emf"));
    EXPECT_FALSE(item.ContainsText("metafile", 0));
}

TEST(MetafileItemTest, RoundTripsThroughItsItemFileAndSavesTheSameFile) {
    TempFolder archive;
    UniqueEnhMetaFile drawn = DrawMetafile();
    ASSERT_TRUE(drawn);
    MetafileItem item;
    ASSERT_TRUE(item.SetMetafile(drawn.get()));
    ASSERT_TRUE(item.WriteEmfFile(archive / "before.emf"));
    ASSERT_TRUE(StoreItem(item, archive.Path()));
    EXPECT_EQ(".mt", item.RecordPath().substr(item.RecordPath().size() - 3));

    // "B" is the metafile's bytes, compressed.
    const auto stored = FieldData(ReadFileBytes(item.RecordPath()), 'B');
    ASSERT_TRUE(stored);
    Bytes plain;
    ASSERT_TRUE(DecompressBlock(stored->data(), stored->size(), plain));
    EXPECT_EQ(ReadFileBytes(archive / "before.emf"), std::string(plain.begin(), plain.end()));

    auto back = CreateItemOfType(kMetafileItemType);
    ASSERT_TRUE(back);
    ASSERT_TRUE(ReadItemFile(*back, item.RecordPath()));
    auto& metafile = static_cast<MetafileItem&>(*back);
    ASSERT_TRUE(metafile.WriteEmfFile(archive / "after.emf"));
    EXPECT_EQ(ReadFileBytes(archive / "before.emf"), ReadFileBytes(archive / "after.emf"));

    // Without a metafile no "B" is written, and the file reads back empty.
    MetafileItem empty;
    ASSERT_TRUE(StoreItem(empty, archive.Path()));
    EXPECT_EQ(48u, ReadFileBytes(empty.RecordPath()).size());
    MetafileItem emptyBack;
    ASSERT_TRUE(ReadItemFile(emptyBack, empty.RecordPath()));
    EXPECT_FALSE(emptyBack.Metafile());

    const std::string shortFile = archive / "short.mt";
    ASSERT_TRUE(WriteFileBytes(shortFile, ItemFileWithData(kMetafileItemType, stored->substr(0, stored->size() - 2),
                                                           static_cast<uint32_t>(stored->size()))));
    MetafileItem shortItem;
    EXPECT_FALSE(ReadItemFile(shortItem, shortFile));
    EXPECT_FALSE(shortItem.Metafile());
}

TEST(MetafileItemTest, EachCopyOnTheClipboardOutlivesTheItem) {
    UniqueEnhMetaFile drawn = DrawMetafile();
    ASSERT_TRUE(drawn);
    const std::string original = BitsOf(drawn.get());
    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Empty());
    {
        MetafileItem item;
        ASSERT_TRUE(item.SetMetafile(drawn.get()));
        item.PutOnClipboard(clipboard.Window());
        item.PutOnClipboard(clipboard.Window());  // replaces the first copy, not the item's own
        EXPECT_EQ(original, BitsOf(item.Metafile()));
    }
    const auto formats = clipboard.Formats();
    EXPECT_NE(formats.end(), std::find(formats.begin(), formats.end(), static_cast<UINT>(CF_ENHMETAFILE)));
    bool open = false;
    for (int attempt = 0; attempt < 100 && !open; ++attempt) {
        open = ::OpenClipboard(clipboard.Window()) != FALSE;
        if (!open) ::Sleep(10);
    }
    ASSERT_TRUE(open);
    auto onClipboard = static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE));
    const std::string placed = onClipboard ? BitsOf(onClipboard) : std::string();
    ::CloseClipboard();
    EXPECT_EQ(original, placed);

    // An item without a metafile places nothing.
    ASSERT_TRUE(clipboard.Empty());
    MetafileItem().PutOnClipboard(clipboard.Window());
    EXPECT_TRUE(clipboard.Formats().empty());
}

TEST(MetafileItemTest, BytesThatAreNotASoundMetafileAreRejected) {
    TempFolder folder;
    const std::string path = folder / "hostile.mt";
    UniqueEnhMetaFile drawn = DrawMetafile();
    ASSERT_TRUE(drawn);
    const std::string good = BitsOf(drawn.get());
    ASSERT_TRUE(ReadsBack(good, path));

    const size_t second = Get32(good, 4);  // the record after the header
    // A record that names no object, so only the framing checks can catch it.
    const std::vector<size_t> rectangles = RecordsOfType(good, EMR_RECTANGLE);
    ASSERT_FALSE(rectangles.empty());
    const size_t plain = rectangles[0];
    const std::vector<size_t> pens = RecordsOfType(good, EMR_CREATEPEN);
    const std::vector<size_t> deletes = RecordsOfType(good, EMR_DELETEOBJECT);
    const std::vector<size_t> selects = RecordsOfType(good, EMR_SELECTOBJECT);
    const std::vector<size_t> ends = RecordsOfType(good, EMR_EOF);
    ASSERT_FALSE(pens.empty());
    ASSERT_FALSE(deletes.empty());
    ASSERT_FALSE(selects.empty());
    ASSERT_EQ(1u, ends.size());
    const uint16_t handles = static_cast<uint16_t>(Get32(good, offsetof(ENHMETAHEADER, nHandles)) & 0xFFFF);

    using Mutation = std::function<void(std::string&)>;
    const std::pair<const char*, Mutation> hostile[] = {
        {"wrong signature", [](std::string& b) { Set32(b, offsetof(ENHMETAHEADER, dSignature), 0x20202020); }},
        {"first record not a header", [](std::string& b) { Set32(b, 0, EMR_EOF); }},
        {"claims more bytes", [](std::string& b) { Set32(b, offsetof(ENHMETAHEADER, nBytes), Get32(b, 48) + 4); }},
        {"claims fewer bytes", [](std::string& b) { Set32(b, offsetof(ENHMETAHEADER, nBytes), Get32(b, 48) - 4); }},
        {"cut in half", [](std::string& b) { b.resize(b.size() / 2 & ~size_t{3}); }},
        {"record of size 0", [&](std::string& b) { Set32(b, plain + 4, 0); }},
        {"record of size 4", [&](std::string& b) { Set32(b, plain + 4, 4); }},
        {"record of unaligned size", [&](std::string& b) { Set32(b, plain + 4, 30); }},
        {"record past the end", [&](std::string& b) { Set32(b, plain + 4, 0x7FFFFFF0); }},
        {"second header", [&](std::string& b) { Set32(b, second, EMR_HEADER); }},
        {"no end record", [&](std::string& b) { Set32(b, ends[0], EMR_SETBKMODE); }},
        {"record after the end",
         [](std::string& b) {
             b += LittleEndian32(EMR_SAVEDC) + LittleEndian32(8);
             Set32(b, offsetof(ENHMETAHEADER, nBytes), static_cast<uint32_t>(b.size()));
         }},
        {"description outside",
         [](std::string& b) { Set32(b, offsetof(ENHMETAHEADER, offDescription), static_cast<uint32_t>(b.size())); }},
        {"no handle table", [](std::string& b) { b[offsetof(ENHMETAHEADER, nHandles)] = b[57] = 0; }},
        {"pen into a slot past the table", [&](std::string& b) { Set32(b, pens[0] + 8, handles); }},
        {"delete of a stock object", [&](std::string& b) { Set32(b, deletes[0] + 8, 0x80000000u | BLACK_PEN); }},
        {"select past the table", [&](std::string& b) { Set32(b, selects[0] + 8, 0x7FFFFFFF); }},
        {"palette outside the end record", [&](std::string& b) { Set32(b, ends[0] + 8, 1000); }},
        {"header only", [](std::string& b) { b.resize(Get32(b, 4)); Set32(b, 48, static_cast<uint32_t>(b.size())); }},
    };
    for (const auto& [what, mutate] : hostile) {
        std::string bits = good;
        mutate(bits);
        EXPECT_FALSE(IsSound(bits)) << what;
        EXPECT_FALSE(ReadsBack(bits, path)) << what;
    }

    // Selecting a stock object is what GDI writes itself; it stays acceptable.
    std::string stock = good;
    Set32(stock, selects[0] + 8, 0x80000000u | BLACK_PEN);
    EXPECT_TRUE(IsSound(stock));

    // Bytes that are no metafile at all, and blocks that are no zlib stream.
    std::mt19937 random(14);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    EXPECT_FALSE(ReadsBack(noise, path));
    EXPECT_FALSE(ReadsBack(std::string(8 * 1024 * 1024, '\0'), path));
    EXPECT_FALSE(ReadsBack("", path));
    for (const std::string& data : {noise, std::string()}) {
        ASSERT_TRUE(WriteFileBytes(path, ItemFileWithData(kMetafileItemType, data)));
        MetafileItem item;
        EXPECT_FALSE(ReadItemFile(item, path));
    }

    // A length far past the end of the file fails without being reserved.
    const size_t before = PeakResidentBytes();
    ASSERT_TRUE(WriteFileBytes(path, ItemFileWithData(kMetafileItemType, CompressedText(good), 0xFFFFFF00u)));
    MetafileItem huge;
    EXPECT_FALSE(ReadItemFile(huge, path));
    EXPECT_LT(PeakResidentBytes() - before, 64u * 1024 * 1024);

    // Random words changed anywhere: whatever passes the check is exactly as long
    // as it claims, so GDI copies it back whole.
    for (int round = 0; round < 300; ++round) {
        std::string bits = good;
        Set32(bits, 4 * (random() % (bits.size() / 4)), random() % 3 ? random() % 256 : random());
        if (!IsSound(bits)) continue;
        UniqueEnhMetaFile made(::SetEnhMetaFileBits(static_cast<UINT>(bits.size()),
                                                    reinterpret_cast<const BYTE*>(bits.data())));
        ASSERT_TRUE(made) << round;
        EXPECT_EQ(bits, BitsOf(made.get())) << round;
    }
}

// GDI plays what the check accepts, trusting the offsets and counts inside the
// records and the headers of the bitmaps they carry. One hostile record of each
// kind, taken from a drawing GDI recorded (a few GDI does not write here are
// written by hand), is rejected; the drawing itself is accepted.
TEST(MetafileItemTest, RecordsWhoseContentsReachOutsideThemAreRejected) {
    TempFolder folder;
    UniqueEnhMetaFile drawn = DrawEveryCheckedRecord();
    ASSERT_TRUE(drawn);
    std::string good = BitsOf(drawn.get());
    const uint32_t slot = (Get32(good, offsetof(ENHMETAHEADER, nHandles)) & 0xFFFF) - 1;
    ASSERT_GE(slot, 1u);
    constexpr uint32_t kSmallTextOut = 108;  // EMR_SMALLTEXTOUT
    // A geometric pen with a user style of two dashes, and no pattern bitmap.
    InsertBeforeEnd(good, Words({EMR_EXTCREATEPEN, 60, slot, 0, 0, 0, 0, PS_GEOMETRIC | PS_USERSTYLE, 2, BS_SOLID,
                                 0x102030, 0, 2, 3, 1}));
    // One string "ab" with its spacing.
    InsertBeforeEnd(good, Words({EMR_POLYTEXTOUTW, 92, 0, 0, 0, 0, GM_COMPATIBLE, 0, 0, 1,  //
                                 5, 5, 2, 80, 0, 0, 0, 0, 0, 84, 0x00620061, 7, 7}));
    // "ab" in one byte a character, without bounds.
    InsertBeforeEnd(good, Words({kSmallTextOut, 40, 5, 5, 2, 0x100 | 0x200, GM_COMPATIBLE, 0, 0, 0x6261}));
    ASSERT_TRUE(IsSound(good));
    EXPECT_TRUE(ReadsBack(good, folder / "every.mt"));

    using Mutation = std::function<void(std::string&, size_t)>;
    auto set = [](size_t field, uint32_t value) -> Mutation {
        return [=](std::string& b, size_t at) { Set32(b, at + field, value); };
    };
    auto add = [](size_t field, uint32_t amount) -> Mutation {
        return [=](std::string& b, size_t at) { Set32(b, at + field, Get32(b, at + field) + amount); };
    };
    // An offset field set to the record's own size: what it locates starts past the end.
    auto pastEnd = [](size_t field) -> Mutation {
        return [=](std::string& b, size_t at) { Set32(b, at + field, Get32(b, at + 4)); };
    };
    // A field of the bitmap header that the record's offBmi field locates.
    auto inBitmap = [](size_t offBmiField, size_t headerField, uint32_t value) -> Mutation {
        return [=](std::string& b, size_t at) { Set32(b, at + Get32(b, at + offBmiField) + headerField, value); };
    };
    auto shrink = [](uint32_t size) -> Mutation { return [=](std::string& b, size_t at) { ShrinkRecord(b, at, size); }; };
    struct Case {
        const char* what;
        uint32_t type;
        Mutation mutate;
    };
    const Case cases[] = {
        {"16-bit points overflowing", EMR_POLYLINE16, set(24, 0x40000000)},
        {"points overflowing", EMR_POLYLINE, set(24, 0x20000000)},
        {"figure counts not adding up", EMR_POLYPOLYGON16, add(32, 1)},
        {"figure count overflowing", EMR_POLYPOLYGON16, set(24, 0xFFFFFFFF)},
        {"point types past the record", EMR_POLYDRAW16, add(24, 1)},
        {"string past the record", EMR_EXTTEXTOUTW, pastEnd(48)},
        {"characters overflowing", EMR_EXTTEXTOUTW, set(44, 0x80000000)},
        {"vertical spacing missing", EMR_EXTTEXTOUTW, set(52, ETO_PDY)},
        {"more strings than the record holds", EMR_POLYTEXTOUTW, set(36, 2)},
        {"spacing of a string past the record", EMR_POLYTEXTOUTW, pastEnd(40 + 36)},
        {"small text past the record", kSmallTextOut, set(16, 1000)},
        {"font shorter than a LOGFONTW", EMR_EXTCREATEFONTINDIRECTW, shrink(100)},
        {"palette entries past the record", EMR_CREATEPALETTE, add(12, 2u << 16)},  // palNumEntries + 2
        {"region rectangles overflowing", EMR_FILLRGN, set(32 + 8, 0x10000000)},
        {"region data past the record", EMR_EXTSELECTCLIPRGN, pastEnd(8)},
        {"region without its header", EMR_PAINTRGN, set(24, 16)},
        {"comment past the record", EMR_GDICOMMENT, set(8, 0xFFFFFFFC)},
        {"pen style entries overflowing", EMR_EXTCREATEPEN, set(48, 0x40000000)},
        {"pen pattern header past the record", EMR_EXTCREATEPEN,
         [](std::string& b, size_t at) {
             Set32(b, at + 12, Get32(b, at + 4));
             Set32(b, at + 16, 40);
         }},
        {"bits past the record", EMR_STRETCHDIBITS, pastEnd(56)},
        {"picture taller than its bits", EMR_STRETCHDIBITS, inBitmap(48, 8, 3)},
        {"more scan lines than bits", EMR_SETDIBITSTODEVICE, set(72, 3)},
        {"bits size overflowing", EMR_BITBLT, set(96, 0xFFFFFFF0)},
        {"header offset overflowing", EMR_STRETCHBLT, set(84, 0xFFFFFFFC)},
        {"mask header size past the record", EMR_MASKBLT, set(116, 0x7FFFFFFF)},
        {"mask bits past the record", EMR_PLGBLT, pastEnd(132)},
        {"source wider than its bits", EMR_ALPHABLEND, inBitmap(84, 4, 1000)},
        {"header cut by the record's end", EMR_TRANSPARENTBLT,
         [](std::string& b, size_t at) { Set32(b, at + 84, Get32(b, at + 4) - 8); }},
        {"pattern colours overflowing", EMR_CREATEDIBPATTERNBRUSHPT, inBitmap(16, 32, 0x40000000)},
        {"mono pattern without bits", EMR_CREATEMONOBRUSH, set(28, 0)},
        {"gradient corner past the vertices", EMR_GRADIENTFILL, set(36 + 3 * 16, 3)},
        {"record shorter than its fixed part", EMR_CREATEBRUSHINDIRECT, shrink(16)},
    };
    for (const Case& c : cases) {
        const std::vector<size_t> found = RecordsOfType(good, c.type);
        ASSERT_FALSE(found.empty()) << c.what;
        std::string bits = good;
        c.mutate(bits, found[0]);
        EXPECT_FALSE(IsSound(bits)) << c.what;
    }
}
