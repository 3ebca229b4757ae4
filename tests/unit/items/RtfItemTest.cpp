#include "items/RtfItem.h"

#include <gtest/gtest.h>

#include <random>

#include "archive/ItemFile.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/GuardedBlock.h"
#include "support/ItemFileBytes.h"
#include "support/TempFolder.h"

namespace {

// "naïve" in UTF-8, as a program that writes RTF from UTF-8 text might leave it.
const std::string kRtf = "{\\rtf1\\ansi{\\fonttbl\\f0 Arial;}\\f0 caf\\'e9 na\xC3\xAFve\\par}";

std::string Content(const MarkupItem& item) {
    Bytes bytes;
    if (!item.GetContent(bytes)) return "<damaged>";
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(RtfItemTest, TakesTheBlockUpToItsFirstZeroCopiesBackOneByteLongerSavesExactly) {
    const std::string block = kRtf + std::string("\0rest of the global block", 25);
    RtfItem item;
    ASSERT_TRUE(item.SetRtf(block));
    EXPECT_EQ(kRtf, Content(item));

    ClipboardHelper clipboard;
    const UINT rtfFormat = ClipboardHelper::Register("Rich Text Format");
    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    EXPECT_EQ(std::vector<UINT>{rtfFormat}, clipboard.Formats());  // no plain text goes with it
    EXPECT_EQ(kRtf + '\0', clipboard.Get(rtfFormat).value_or("<missing>"));

    // Searched as UTF-8 source, control words included.
    EXPECT_TRUE(item.ContainsText("na\xEFve", 0));       // ANSI ï, stored as C3 AF
    EXPECT_FALSE(item.ContainsText("na\xC3\xAFve", 0));  // those bytes read as ANSI are other letters
    EXPECT_TRUE(item.ContainsText("\\fonttbl", 0));
    EXPECT_FALSE(item.ContainsText("CAF", 0));

    TempFolder folder;
    ASSERT_TRUE(item.WriteRtfFile(folder / "exact.rtf"));
    EXPECT_EQ(kRtf, ReadFileBytes(folder / "exact.rtf"));  // N bytes: no zero, no header

    // A block that starts with its zero is an empty RTF: no data, one zero byte
    // back on the clipboard, an empty file.
    RtfItem empty;
    ASSERT_TRUE(empty.SetRtf(std::string("\0{\\rtf1 hidden}", 15)));
    EXPECT_FALSE(empty.HasData());
    EXPECT_TRUE(empty.SetRtf({}));
    ASSERT_TRUE(clipboard.Empty());
    empty.PutOnClipboard(clipboard.Window());
    EXPECT_EQ(std::string(1, '\0'), clipboard.Get(rtfFormat).value_or("<missing>"));
    ASSERT_TRUE(empty.WriteRtfFile(folder / "empty.rtf"));
    EXPECT_TRUE(FileExists(folder / "empty.rtf"));
    EXPECT_EQ("", ReadFileBytes(folder / "empty.rtf"));
}

TEST(RtfItemTest, RoundTripsThroughItsItemFile) {
    TempFolder archive;
    RtfItem item;
    ASSERT_TRUE(item.SetRtf(kRtf));
    const GUID source = {0x1234ABCD, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};
    item.SetSourceGuid(source);
    item.SetCaptureTime(38442.5);
    ASSERT_TRUE(StoreItem(item, archive.Path()));
    EXPECT_EQ(archive.Path() + "31_3_2005\\", item.RecordPath().substr(0, archive.Path().size() + 10));
    EXPECT_EQ(".rt", item.RecordPath().substr(item.RecordPath().size() - 3));

    // "B" holds the compressed block exactly as the item holds it.
    const std::string file = ReadFileBytes(item.RecordPath());
    const auto stored = FieldData(file, 'B');
    ASSERT_TRUE(stored);
    EXPECT_EQ(item.DataSize(), stored->size());
    Bytes plain;
    ASSERT_TRUE(DecompressBlock(stored->data(), stored->size(), plain));
    EXPECT_EQ(kRtf, std::string(plain.begin(), plain.end()));

    auto back = CreateItemOfType(kRtfItemType);
    ASSERT_TRUE(back);
    ASSERT_TRUE(ReadItemFile(*back, item.RecordPath()));
    EXPECT_EQ(kRtf, Content(static_cast<RtfItem&>(*back)));
    EXPECT_EQ(38442.5, back->CaptureTime());
    EXPECT_TRUE(IsEqualGUID(source, back->SourceGuid()));

    // An empty item has no "B" field and reads back empty.
    RtfItem empty;
    ASSERT_TRUE(StoreItem(empty, archive.Path()));
    EXPECT_EQ(48u, ReadFileBytes(empty.RecordPath()).size());
    RtfItem emptyBack;
    ASSERT_TRUE(ReadItemFile(emptyBack, empty.RecordPath()));
    EXPECT_FALSE(emptyBack.HasData());

    // "B" data shorter than its stated length fails the read and leaves no data.
    const std::string shortFile = archive / "short.rt";
    ASSERT_TRUE(WriteFileBytes(shortFile, ItemFileWithData(kRtfItemType, stored->substr(0, stored->size() - 3),
                                                           static_cast<uint32_t>(stored->size()))));
    RtfItem shortItem;
    EXPECT_FALSE(ReadItemFile(shortItem, shortFile));
    EXPECT_FALSE(shortItem.HasData());
}

TEST(RtfItemTest, SaveAsWritesTheTypedNameWithTheRtfExtension) {
    TempFolder folder;
    RtfItem item;
    ASSERT_TRUE(item.SetRtf(kRtf));
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "notes.doc"),
                     DialogAnswerer::Click(IDOK)});
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "cancelled.rtf"),
                     DialogAnswerer::Click(IDCANCEL)});
    EXPECT_TRUE(item.SaveAs());
    EXPECT_TRUE(item.SaveAs());
    EXPECT_EQ(2, answerer.Answered());
    EXPECT_EQ(kRtf, ReadFileBytes(folder / "notes.rtf"));
    EXPECT_FALSE(FileExists(folder / "notes.doc"));
    EXPECT_FALSE(FileExists(folder / "cancelled.rtf"));
}

TEST(RtfItemTest, HostileBlocksAndItemFilesAreBoundedOrRejected) {
    // Clipboard blocks without a terminating zero end where the memory ends; the
    // guard page behind each one faults on any read past it.
    std::mt19937 random(1234);
    for (size_t size : {0u, 1u, 7u, 100u, 4000u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>('!' + random() % 90);
        GuardedBlock block(bytes);
        ASSERT_TRUE(block.IsValid());
        RtfItem item;
        ASSERT_TRUE(item.SetRtf(block.View().data(), block.View().size()));  // as the capture passes it
        EXPECT_EQ(bytes, Content(item));
    }

    // Every cut of a good file fails or gives no RTF; a file with a flipped byte
    // fails or holds a block that gives the whole RTF or nothing (zlib's checksum).
    // The damaged files every markup item shares are tried in HtmlItemTest.
    TempFolder folder;
    const std::string path = folder / "hostile.rt";
    RtfItem good;
    ASSERT_TRUE(good.SetRtf(kRtf));
    ASSERT_TRUE(WriteItemFile(good, path));
    const std::string whole = ReadFileBytes(path);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        ASSERT_TRUE(WriteFileBytes(path, whole.substr(0, cut)));
        RtfItem cutItem;
        if (ReadItemFile(cutItem, path)) {
            EXPECT_EQ("", Content(cutItem)) << "cut at " << cut;
        }
    }
    for (int round = 0; round < 200; ++round) {
        std::string damaged = whole;
        damaged[48 + random() % (damaged.size() - 48)] ^= static_cast<char>(1 + random() % 255);
        ASSERT_TRUE(WriteFileBytes(path, damaged));
        RtfItem damagedItem;
        if (!ReadItemFile(damagedItem, path)) continue;
        Bytes content;
        if (damagedItem.GetContent(content)) {
            // Nothing when the flip hit the "B" tag itself.
            const std::string got(content.begin(), content.end());
            EXPECT_TRUE(got == kRtf || (got.empty() && !damagedItem.HasData())) << round;
        } else {
            EXPECT_FALSE(damagedItem.WriteRtfFile(folder / "out.rtf")) << round;
        }
    }
}
