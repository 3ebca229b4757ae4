#include "items/TextItem.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/CaptureTime.h"
#include "framework/UniqueHandle.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Saves the item through the real save dialog, choosing the type list entry
// (0-based) and typing the name, as a user would.
void SaveWithChoice(TextItem& item, int typeIndex, const std::string& typedName) {
    DialogAnswerer answerer;
    DialogScript& script = answerer.Expect({
        DialogAnswerer::SelectCombo(DialogAnswerer::kSaveFileType, typeIndex),
        DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, typedName),
        DialogAnswerer::Click(IDOK),
    });
    EXPECT_TRUE(item.SaveAs());
    EXPECT_TRUE(script.answered);
    EXPECT_EQ(0, answerer.Unexpected()) << "a prompt appeared after the save dialog";
}

}  // namespace

TEST(TextItemTest, SaveAsWritesTheChosenEncodingUnderTheChosenExtension) {
    TempFolder folder;
    TextItem item;
    ASSERT_TRUE(item.SetText(L"abc"));

    SaveWithChoice(item, 0, folder / "ansi.txt");
    SaveWithChoice(item, 1, folder / "unicode.txt");
    SaveWithChoice(item, 2, folder / "utf8.txt");
    EXPECT_EQ("abc", ReadFileBytes(folder / "ansi.txt"));
    EXPECT_EQ(std::string("a\0b\0c\0", 6), ReadFileBytes(folder / "unicode.txt"));
    EXPECT_EQ("abc", ReadFileBytes(folder / "utf8.txt"));

    // The typed extension gives way to the entry's; the prompt concerns the name
    // as typed, so the existing notes.txt is replaced without one.
    ASSERT_TRUE(WriteFileBytes(folder / "notes.txt", "old contents"));
    SaveWithChoice(item, 0, folder / "notes.doc");
    EXPECT_EQ("abc", ReadFileBytes(folder / "notes.txt"));
    EXPECT_FALSE(FileExists(folder / "notes.doc"));

    // A typed name that exists is the dialog's to confirm.
    {
        DialogAnswerer answerer;
        answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "notes.txt"),
                         DialogAnswerer::Click(IDOK)});
        DialogScript& prompt = answerer.Expect({DialogAnswerer::Click(IDYES)});
        ASSERT_TRUE(WriteFileBytes(folder / "notes.txt", "old contents"));
        EXPECT_TRUE(item.SaveAs());
        EXPECT_TRUE(prompt.answered);
        EXPECT_EQ("abc", ReadFileBytes(folder / "notes.txt"));
    }

    // UTF-8 of text beyond ASCII, still without a byte-order mark.
    ASSERT_TRUE(item.SetText(L"\u00e9\u03b1"));
    SaveWithChoice(item, 2, folder / "utf8b.txt");
    EXPECT_EQ("\xC3\xA9\xCE\xB1", ReadFileBytes(folder / "utf8b.txt"));

    // An item without text gives an empty file.
    TextItem empty;
    SaveWithChoice(empty, 1, folder / "empty.txt");
    EXPECT_TRUE(FileExists(folder / "empty.txt"));
    EXPECT_EQ("", ReadFileBytes(folder / "empty.txt"));
}

TEST(TextItemTest, CancelledSaveWritesNothing) {
    TempFolder folder;
    TextItem item;
    item.SetText(L"abc");
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, folder / "never.txt"),
                     DialogAnswerer::Click(IDCANCEL)});
    EXPECT_TRUE(item.SaveAs());
    EXPECT_TRUE(ListFiles(folder.Path()).empty());
}

TEST(TextItemTest, ExternalViewerGetsAnAnsiFileInTheTempFolder) {
    TempFolder folder;
    TextItem item;
    // e-acute is in code page 1252; Greek alpha and the CJK character are not.
    item.SetText(L"caf\u00e9 \u03b1\u4e2d!");
    EXPECT_TRUE(item.ShowInExternalViewer(folder.Path()));

    const auto files = ListFiles(folder.Path(), "*.txt");
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("caf\xE9 ?" "?!", ReadFileBytes(folder / files[0]));
    // Named like every other file the program makes: a GUID with its braces as "-".
    EXPECT_EQ(42u, files[0].size());
    EXPECT_EQ('-', files[0][0]);
    EXPECT_EQ("-.txt", files[0].substr(37));
}

TEST(TextItemTest, ClipboardGetsOnlyUnicodeTextFromTheProgram) {
    ClipboardHelper clipboard;
    const std::wstring text = L"Gr\u00fc\u00dfe \u03b1\u03b2";
    TextItem item;
    item.SetText(text);

    // The caller empties the clipboard; the item only adds its format. A CF_TEXT
    // already there survives, so the program did not set CF_TEXT itself.
    ASSERT_TRUE(clipboard.Set({{CF_TEXT, std::string("sentinel", 9)}}));
    item.PutOnClipboard(clipboard.Window());
    auto ansi = clipboard.Get(CF_TEXT);
    ASSERT_TRUE(ansi.has_value());
    EXPECT_STREQ("sentinel", ansi->c_str());
    auto unicode = clipboard.Get(CF_UNICODETEXT);
    ASSERT_TRUE(unicode.has_value());
    EXPECT_EQ(Utf16Bytes(text) + std::string(2, '\0'), unicode->substr(0, (text.size() + 1) * 2));

    // From an empty clipboard: whatever else is listed is the system's own
    // rendering of the UTF-16 text.
    ASSERT_TRUE(clipboard.Empty());
    item.PutOnClipboard(clipboard.Window());
    const auto formats = clipboard.Formats();
    ASSERT_FALSE(formats.empty());
    EXPECT_EQ(static_cast<UINT>(CF_UNICODETEXT), formats[0]);
    for (UINT format : formats) {
        EXPECT_TRUE(format == CF_UNICODETEXT || format == CF_TEXT || format == CF_OEMTEXT || format == CF_LOCALE)
            << "unexpected format " << format;
    }
    ansi = clipboard.Get(CF_TEXT);
    ASSERT_TRUE(ansi.has_value());
    char converted[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, converted, sizeof(converted), nullptr, nullptr);
    EXPECT_STREQ(converted, ansi->c_str());
}

TEST(TextItemTest, ASaveThatCannotBeWrittenIsReportedNamingTheFile) {
    TempFolder folder;
    const std::string target = folder / "locked.txt";
    ASSERT_TRUE(WriteFileBytes(target, "old"));
    TextItem item;
    item.SetText(L"abc");
    {
        // Another program has the file open and lets nobody else in.
        UniqueFile locked(::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        DialogAnswerer answerer;
        answerer.Expect({DialogAnswerer::SetText(DialogAnswerer::kSaveFileName, target), DialogAnswerer::Click(IDOK)});
        answerer.Expect({DialogAnswerer::Click(IDYES)});  // replace the existing file
        DialogScript& report = answerer.Expect({DialogAnswerer::Click(IDOK)});
        EXPECT_FALSE(item.SaveAs());
        EXPECT_NE(std::string::npos, report.seenText.find(target)) << report.seenText;
        EXPECT_EQ(0, answerer.Unexpected());
    }
    EXPECT_EQ("old", ReadFileBytes(target));
}

// The date an item shows is made from its time when asked: items of many days,
// asked in turn, each give their own day's date, and the type's name.
TEST(TextItemTest, EachItemGivesItsOwnDayAndTheTypesName) {
    std::vector<std::unique_ptr<TextItem>> items;
    for (int day = 0; day < 9; ++day) {
        items.push_back(std::make_unique<TextItem>());
        items.back()->SetCaptureTime(46000.5 + day * 1.0);
    }
    for (int round = 0; round < 2; ++round)
        for (size_t i = 0; i < items.size(); ++i) {
            SYSTEMTIME local = {};
            ASSERT_TRUE(CaptureTimeToLocal(items[i]->CaptureTime(), local));
            char expected[100] = {};
            ASSERT_GT(::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, expected, sizeof(expected)), 0);
            EXPECT_EQ(expected, items[i]->DateText()) << i;
            EXPECT_EQ("Text", items[i]->TypeName());
        }
    TextItem timeless;
    timeless.SetCaptureTime(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ("", timeless.DateText());
}
