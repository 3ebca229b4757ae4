#include "items/HtmlItem.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "archive/ItemFile.h"
#include "base/CodePage.h"
#include "items/MarkupFormat.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/GuardedBlock.h"
#include "support/ItemFileBytes.h"
#include "support/TempFolder.h"

namespace {

const std::string kMetaLine = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=UTF-8\">";

std::string Content(const MarkupItem& item) {
    Bytes bytes;
    if (!item.GetContent(bytes)) return "<damaged>";
    return std::string(bytes.begin(), bytes.end());
}

// A block laid out the way a browser writes one: header, padding up to StartHTML,
// the document up to EndHTML, and something after it that is not part of it.
std::string BrowserBlock(const std::string& document) {
    std::string header =
        "Version:0.9\r\nStartHTML:0000000105\r\nEndHTML:0000000300\r\n"
        "StartFragment:0000000141\r\nEndFragment:0000000264\r\n";
    header.resize(105, ' ');
    std::string body = document;
    body.resize(195, ' ');
    return header + body + "<!-- after EndHTML -->";
}

}  // namespace

TEST(HtmlItemTest, TakesTheDocumentBetweenStartHtmlAndEndHtml) {
    const std::string document = "<html><body><!--StartFragment--><b>bold</b><!--EndFragment--></body></html>";
    const std::string block = BrowserBlock(document);
    HtmlItem item;
    ASSERT_TRUE(item.SetFromCfHtml(block + '\0' + "beyond the terminator"));
    EXPECT_EQ(block.substr(105, 195), Content(item));
    EXPECT_EQ(195u, Content(item).size());

    // No EndHTML: up to the end of the block. No StartHTML: from its first byte.
    ASSERT_TRUE(item.SetFromCfHtml("Version:1.0\nStartHTML:0000000033\n<p>to the end</p>"));
    EXPECT_EQ("<p>to the end</p>", Content(item));
    const std::string headless = "Version:1.0\nEndHTML:0000000026\n<p>cut</p>";
    ASSERT_TRUE(item.SetFromCfHtml(headless));
    EXPECT_EQ(headless.substr(0, 26), Content(item));

    // The block Wine builds from an X11 text/html selection.
    const std::string wine =
        "Version:0.9\nStartHTML:0000000100\nEndHTML:0000000134\nStartFragment:0000000112\n"
        "EndFragment:0000000120\n<html><body><i>x</i></body></html>";
    ASSERT_EQ(100u, wine.find("<html>"));
    ASSERT_EQ(134u, wine.size());
    ASSERT_TRUE(item.SetFromCfHtml(wine));
    EXPECT_EQ("<html><body><i>x</i></body></html>", Content(item));
}

TEST(HtmlItemTest, CopiesBackAsOneFreshlyHeadedBlock) {
    HtmlItem item;
    ASSERT_TRUE(item.SetHtmlText(L"<br/>"));
    ClipboardHelper clipboard;
    const UINT htmlFormat = ClipboardHelper::Register("HTML Format");
    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    EXPECT_EQ(std::vector<UINT>{htmlFormat}, clipboard.Formats());
    const std::string expected =
        "Version:1.0\nStartHTML:0000000100\nEndHTML:0000000105\nStartFragment:0000000100\nEndFragment:0000000105\n"
        "<br/>" + std::string(1, '\0');
    ASSERT_EQ(106u, expected.size());
    EXPECT_EQ(expected, clipboard.Get(htmlFormat).value_or("<missing>"));

    // What goes out reads back as the same document.
    HtmlItem again;
    ASSERT_TRUE(again.SetFromCfHtml(expected));
    EXPECT_EQ("<br/>", Content(again));

    // Without data: the header alone, still 100 bytes, and its zero.
    ASSERT_TRUE(clipboard.Empty());
    HtmlItem().PutOnClipboard(clipboard.Window());
    const std::string empty = clipboard.Get(htmlFormat).value_or("<missing>");
    EXPECT_EQ(101u, empty.size());
    EXPECT_EQ(BuildCfHtmlHeader(0) + '\0', empty);
    EXPECT_NE(std::string::npos, empty.find("EndHTML:0000000100\n"));
    EXPECT_EQ(100u, BuildCfHtmlHeader(123456789).size());
    EXPECT_EQ("", BuildCfHtmlHeader(9'999'999'950ull));  // would not fit ten digits
}

TEST(HtmlItemTest, SavingWritesTheMetaLineFirstAndNoByteOrderMark) {
    TempFolder folder;
    HtmlItem item;
    ASSERT_TRUE(item.SetHtmlText(L"<p>d\u00E9j\u00E0 vu</p>"));
    const std::string utf8 = "<p>d\xC3\xA9j\xC3\xA0 vu</p>";

    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "page.txt"),
                     DialogAnswerer::Click(IDOK)});
    EXPECT_TRUE(item.SaveAs());
    EXPECT_EQ(1, answerer.Answered());
    const std::string saved = ReadFileBytes(folder / "page.htm");
    EXPECT_EQ(67u, kMetaLine.size());
    EXPECT_EQ(kMetaLine + utf8, saved);
    EXPECT_EQ("<META", saved.substr(0, 5));
    EXPECT_FALSE(FileExists(folder / "page.txt"));

    ASSERT_TRUE(HtmlItem().WriteHtmlFile(folder / "empty.htm"));
    EXPECT_EQ(kMetaLine, ReadFileBytes(folder / "empty.htm"));
}

TEST(HtmlItemTest, SetHtmlTextStoresUtf8AndContainsTextSearchesIt) {
    const std::wstring text = L"<p>Gr\u00FC\u00DFe \u20AC \u041C\u0438\u0440 \U0001F600</p>";
    HtmlItem item;
    ASSERT_TRUE(item.SetHtmlText(text));
    const std::string content = Content(item);
    EXPECT_EQ("<p>Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xD0\x9C\xD0\xB8\xD1\x80 \xF0\x9F\x98\x80</p>", content);
    EXPECT_EQ(text, ToWide(content, CP_UTF8));

    EXPECT_TRUE(item.ContainsText("Gr\xFC\xDF" "e", 0));  // ANSI ü and ß
    EXPECT_TRUE(item.ContainsText("\x80", 0));            // ANSI euro sign
    EXPECT_TRUE(item.ContainsText("<p>", 0));
    EXPECT_FALSE(item.ContainsText("GR", 0));
    EXPECT_FALSE(item.ContainsText("", 0));
    EXPECT_FALSE(HtmlItem().ContainsText("p", 0));

    // Text ends at its first NUL; empty text leaves no data and no "B" field.
    ASSERT_TRUE(item.SetHtmlText(std::wstring(L"<i>a</i>\0<hidden>", 17)));
    EXPECT_EQ("<i>a</i>", Content(item));
    ASSERT_TRUE(item.SetHtmlText(L""));
    EXPECT_FALSE(item.HasData());
    TempFolder archive;
    ASSERT_TRUE(StoreItem(item, archive.Path()));
    EXPECT_EQ(48u, ReadFileBytes(item.RecordPath()).size());
}

TEST(HtmlItemTest, RoundTripsThroughItsItemFile) {
    TempFolder archive;
    HtmlItem item;
    ASSERT_TRUE(item.SetFromCfHtml(BrowserBlock("<html><body>\xE2\x9C\x93 stored</body></html>")));
    const std::string document = Content(item);
    const GUID source = {0xCAFEBABE, 1, 2, {9, 8, 7, 6, 5, 4, 3, 2}};
    item.SetSourceGuid(source);
    ASSERT_TRUE(StoreItem(item, archive.Path()));
    EXPECT_EQ(".ht", item.RecordPath().substr(item.RecordPath().size() - 3));

    const auto stored = FieldData(ReadFileBytes(item.RecordPath()), 'B');
    ASSERT_TRUE(stored);
    EXPECT_EQ(item.DataSize(), stored->size());

    auto back = CreateItemOfType(kHtmlItemType);
    ASSERT_TRUE(back);
    ASSERT_TRUE(ReadItemFile(*back, item.RecordPath()));
    EXPECT_EQ(document, Content(static_cast<HtmlItem&>(*back)));
    EXPECT_EQ(item.CaptureTime(), back->CaptureTime());
    EXPECT_TRUE(IsEqualGUID(source, back->SourceGuid()));

    // A ".ht" file is not read into another class.
    auto wrongClass = CreateItemOfType(kRtfItemType);
    EXPECT_FALSE(ReadItemFile(*wrongClass, item.RecordPath()));

    const std::string shortFile = archive / "short.ht";
    ASSERT_TRUE(WriteFileBytes(shortFile, ItemFileWithData(kHtmlItemType, stored->substr(0, stored->size() - 1),
                                                           static_cast<uint32_t>(stored->size()))));
    HtmlItem shortItem;
    EXPECT_FALSE(ReadItemFile(shortItem, shortFile));
    EXPECT_FALSE(shortItem.HasData());
}

TEST(HtmlItemTest, HostileClipboardBlocksNeverReachOutsideTheBlock) {
    struct Case {
        const char* block;
        bool accepted;
        std::optional<std::string> document;  // when accepted
    };
    const Case cases[] = {
        // Offsets without digits, or negative, count as missing.
        {"Version:1.0\nStartHTML:", true, "Version:1.0\nStartHTML:"},
        {"StartHTML:\nEndHTML:0000000021\n<p>", true, "StartHTML:\nEndHTML:00"},
        {"StartHTML:-1\nEndHTML:-1\n<p>x</p>", true, "StartHTML:-1\nEndHTML:-1\n<p>x</p>"},
        {"StartHTML:abc\nEndHTML:0000000005\n", true, "Start"},
        // A number on the next line is not the keyword's.
        {"StartHTML:\n0000000005 <p>", true, "StartHTML:\n0000000005 <p>"},
        // An end past the block is held to the block.
        {"StartHTML:0000000040\nEndHTML:0000009999\n<p>", true, "<p>"},
        {"StartHTML:0000000001\nEndHTML:99999999999999999999999999", true,
         "tartHTML:0000000001\nEndHTML:99999999999999999999999999"},
        // A start past the block, or past the end, gives no item.
        {"StartHTML:0000009999\n<p>", false, std::nullopt},
        {"StartHTML:99999999999999999999999999999999\n", false, std::nullopt},
        {"StartHTML:0000000040\nEndHTML:0000000020\n<p>reversed</p>", false, std::nullopt},
        // Keywords cut off by the end of the memory.
        {"Version:1.0\nStartHTM", true, "Version:1.0\nStartHTM"},
        {"Version:1.0\nEndHTML", true, "Version:1.0\nEndHTML"},
        {"StartHTML:0000000029\nEndHTML:", true, ""},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        GuardedBlock block(c.block);
        ASSERT_TRUE(block.IsValid());
        HtmlItem item;
        ASSERT_TRUE(item.SetFromCfHtml("<old/>"));
        EXPECT_EQ(c.accepted, item.SetFromCfHtml(block.View())) << c.block;
        if (c.accepted) {
            EXPECT_EQ(*c.document, Content(item)) << c.block;
        } else {
            EXPECT_FALSE(item.HasData()) << c.block;
        }
    }

    // Generated blocks: header pieces with random numbers and random bytes, no
    // terminator. Whatever is taken is a piece of the block itself.
    std::mt19937 random(20050331);
    const std::string pieces[] = {"StartHTML:", "EndHTML:", "StartFragment:", "\n", "\r\n",
                                  "-",          ":",        "<p>",            std::string(1, '\0')};
    for (int round = 0; round < 500; ++round) {
        std::string bytes;
        const int parts = 1 + random() % 12;
        for (int p = 0; p < parts; ++p) {
            switch (random() % 3) {
            case 0: bytes += pieces[random() % 9]; break;
            case 1: bytes += std::to_string(random() % 100000); break;
            default: bytes += static_cast<char>(random() % 256); break;
            }
        }
        GuardedBlock block(bytes);
        ASSERT_TRUE(block.IsValid());
        HtmlItem item;
        if (item.SetFromCfHtml(block.View())) {
            EXPECT_NE(std::string::npos, bytes.find(Content(item))) << round;
        } else {
            EXPECT_FALSE(item.HasData()) << round;
        }
    }
}

TEST(HtmlItemTest, DamagedItemFilesAreRejectedOrHarmless) {
    TempFolder folder;
    const std::string path = folder / "hostile.ht";
    HtmlItem item;

    const size_t before = PeakResidentBytes();
    ASSERT_TRUE(WriteFileBytes(path, ItemFileWithData(kHtmlItemType, "x", 0xFFFFFFFFu)));
    EXPECT_FALSE(ReadItemFile(item, path));
    EXPECT_LT(PeakResidentBytes() - before, 64u * 1024 * 1024);

    // Not a zlib stream: held, but copying, saving and searching do nothing.
    ASSERT_TRUE(WriteFileBytes(path, ItemFileWithData(kHtmlItemType, "<html>plain</html>")));
    ASSERT_TRUE(ReadItemFile(item, path));
    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    EXPECT_TRUE(clipboard.Formats().empty());
    EXPECT_FALSE(item.WriteHtmlFile(folder / "damaged.htm"));
    EXPECT_FALSE(FileExists(folder / "damaged.htm"));
    EXPECT_FALSE(item.ContainsText("plain", 0));

    // A saved file is not replaced by a damaged item's nothing.
    ASSERT_TRUE(WriteFileBytes(folder / "kept.htm", "<p>kept</p>"));
    EXPECT_FALSE(item.WriteHtmlFile(folder / "kept.htm"));
    EXPECT_EQ("<p>kept</p>", ReadFileBytes(folder / "kept.htm"));
}
