#include "items/MetafileItem.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <algorithm>
#include <functional>
#include <random>

#include "archive/ItemFile.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/ItemFileBytes.h"
#include "support/TempFolder.h"

namespace {

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
