#include "views/ViewPane.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/ItemFile.h"
#include "archive/ItemWriter.h"
#include "framework/UniqueHandle.h"
#include "items/BitmapItem.h"
#include "items/HtmlItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

std::wstring EditorText(HWND editor) {
    // The control is an ANSI window: its UTF-16 text is asked for by code page.
    wchar_t text[4096] = {};
    GETTEXTEX request = {sizeof(text), GT_DEFAULT, 1200, nullptr, nullptr};
    ::SendMessageA(editor, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(text));
    return text;
}

CHARRANGE Selection(HWND editor) {
    CHARRANGE range = {};
    ::SendMessageA(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range;
}

// Typing: a replacement of the selection, which marks the control modified.
void Type(HWND editor, const wchar_t* text) {
    ::SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

class ViewPaneTest : public ::testing::Test {
protected:
    ViewPaneTest() {
        owner_.reset(::CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                       nullptr));
        pane_.CreatePane(owner_.get(), true, RECT{0, 0, 300, 200});
    }

    // A text item with its file in the test's folder.
    std::unique_ptr<TextItem> StoredText(const std::wstring& text, const std::string& name) {
        auto item = std::make_unique<TextItem>();
        item->SetText(text);
        EXPECT_TRUE(WriteItemFile(*item, folder_ / name));
        return item;
    }
    HWND Editor(int type) { return pane_.EditorFor(type)->Handle(); }

    TempFolder folder_;
    UniqueWindow owner_;
    ViewPane pane_;
};

}  // namespace

TEST_F(ViewPaneTest, EditsAreSavedOnOkDroppedOnCancelAndKeptWhenTheFileCannotBeWritten) {
    auto first = StoredText(L"first", "a.tx");
    auto second = StoredText(L"second", "b.tx");
    pane_.SetItem(first.get());
    EXPECT_EQ(Editor(kTextItemType), pane_.ShownViewer());
    EXPECT_FALSE(pane_.IsModified());
    Type(Editor(kTextItemType), L"edited ");
    EXPECT_TRUE(pane_.IsModified());

    DialogAnswerer answerer;
    DialogScript& prompt = answerer.Expect({DialogAnswerer::Click(IDOK)});
    EXPECT_TRUE(pane_.SetItem(second.get()));
    EXPECT_NE(std::string::npos, prompt.seenText.find("The data has changed. Do you want to save changes?"));
    EXPECT_EQ(L"edited first", first->Text());
    TextItem reread;
    ASSERT_TRUE(ReadItemFile(reread, first->RecordPath()));
    EXPECT_EQ(L"edited first", reread.Text());
    EXPECT_EQ(L"second", EditorText(Editor(kTextItemType)));

    // Cancel: the item keeps what it had and the next item shows its own text.
    Type(Editor(kTextItemType), L"dropped ");
    answerer.Expect({DialogAnswerer::Click(IDCANCEL)});
    EXPECT_TRUE(pane_.SetItem(first.get()));
    EXPECT_EQ(L"second", second->Text());
    EXPECT_EQ(L"edited first", EditorText(Editor(kTextItemType)));
    EXPECT_FALSE(pane_.IsModified());

    // A file that cannot be written: the user is told, and nothing typed is lost.
    first->SetRecordPath(folder_ / "missing\\a.tx");
    Type(Editor(kTextItemType), L"kept ");
    answerer.Expect({DialogAnswerer::Click(IDOK)});
    DialogScript& failure = answerer.Expect({DialogAnswerer::Click(IDOK)});
    EXPECT_FALSE(pane_.SetItem(second.get()));
    EXPECT_NE(std::string::npos, failure.seenText.find("missing\\a.tx"));
    EXPECT_EQ(first.get(), pane_.CurrentItem());
    EXPECT_TRUE(pane_.IsModified());
    EXPECT_EQ(L"kept edited first", EditorText(Editor(kTextItemType)));
    EXPECT_EQ(0, answerer.Unexpected());
}

TEST_F(ViewPaneTest, MarkupIsShownToItsLastCharacterAndHtmlIsEditedAsUtf16Source) {
    RtfItem rtf;
    ASSERT_TRUE(rtf.SetRtf(std::string_view("{\\rtf1\\ansi first line\\par last words}")));
    pane_.SetItem(&rtf);
    EXPECT_EQ(Editor(kRtfItemType), pane_.ShownViewer());
    const std::wstring rtfText = EditorText(Editor(kRtfItemType));
    EXPECT_EQ(L"last words", rtfText.substr(rtfText.size() - 10));

    HtmlItem html;
    const std::wstring source = L"<p>Grüße aus 東京</p>";
    ASSERT_TRUE(html.SetHtmlText(source));
    html.SetRecordPath(folder_ / "c.ht");
    pane_.SetItem(&html);
    EXPECT_EQ(source, EditorText(Editor(kHtmlItemType)));
    ::SendMessageA(Editor(kHtmlItemType), EM_SETSEL, 0, -1);
    Type(Editor(kHtmlItemType), L"<i>ß</i>");
    ASSERT_TRUE(pane_.Save());
    Bytes content;
    ASSERT_TRUE(html.GetContent(content));
    EXPECT_EQ("<i>\xC3\x9F</i>", std::string(content.begin(), content.end()));

    // Clearing everything leaves the item without data, and its file says so.
    ::SendMessageA(Editor(kHtmlItemType), EM_SETSEL, 0, -1);
    Type(Editor(kHtmlItemType), L"");
    ASSERT_TRUE(pane_.Save());
    EXPECT_FALSE(html.HasData());
    HtmlItem reread;
    ASSERT_TRUE(ReadItemFile(reread, html.RecordPath()));
    EXPECT_FALSE(reread.HasData());
}

TEST_F(ViewPaneTest, SearchStartsPastTheSelectionStartAndAMissMovesTheCaret) {
    auto item = StoredText(L"abc abc", "a.tx");
    pane_.SetItem(item.get());
    HWND editor = Editor(kTextItemType);
    ::SendMessageA(editor, EM_SETSEL, 0, 0);
    EXPECT_FALSE(pane_.FindText(L"", FR_DOWN));
    ASSERT_TRUE(pane_.FindText(L"abc", FR_DOWN));
    EXPECT_EQ(0, Selection(editor).cpMin);
    ASSERT_TRUE(pane_.FindText(L"abc", FR_DOWN));
    EXPECT_EQ(4, Selection(editor).cpMin);
    EXPECT_FALSE(pane_.FindText(L"abc", FR_DOWN | FR_MATCHCASE));
    EXPECT_EQ(0, Selection(editor).cpMax);
    ::SendMessageA(editor, EM_SETSEL, 2, 2);
    EXPECT_FALSE(pane_.FindText(L"zzz", 0));
    EXPECT_EQ(7, Selection(editor).cpMin);

    // A picture has no text to search, though the text editor keeps its own.
    BitmapItem picture;
    pane_.SetItem(&picture);
    EXPECT_EQ(pane_.Images().Handle(), pane_.ShownViewer());
    EXPECT_FALSE(pane_.FindText(L"abc", FR_DOWN));
    EXPECT_EQ(L"abc abc", EditorText(editor));
}

TEST_F(ViewPaneTest, WordWrapHoldsForAllThreeEditors) {
    std::wstring spaced;
    for (int i = 0; i < 100; ++i) spaced += L"word ";
    auto text = StoredText(spaced, "a.tx");
    RtfItem rtf;
    rtf.SetRtf("{\\rtf1 " + std::string(spaced.begin(), spaced.end()) + "}");
    pane_.SetItem(text.get());
    EXPECT_TRUE(pane_.CanWordWrap());
    auto lines = [&](int type) { return ::SendMessageA(Editor(type), EM_GETLINECOUNT, 0, 0); };
    EXPECT_EQ(1, lines(kTextItemType));
    pane_.ToggleWordWrap();
    EXPECT_TRUE(pane_.WordWrap());
    EXPECT_LT(1, lines(kTextItemType));
    pane_.SetItem(&rtf);
    EXPECT_LT(1, lines(kRtfItemType));
    HtmlItem html;
    html.SetHtmlText(spaced);
    pane_.SetItem(&html);
    EXPECT_LT(1, lines(kHtmlItemType));
    pane_.ToggleWordWrap();
    EXPECT_EQ(1, lines(kHtmlItemType));
}

TEST(RtfFontDialogTest, WhatIsMixedInTheSelectionIsLeftOpenBothWays) {
    CHARFORMAT2A mixed = {};
    mixed.cbSize = sizeof(mixed);
    // Size and face are the same over the selection; bold, script and effects are not.
    mixed.dwMask = CFM_SIZE | CFM_FACE | CFM_ITALIC | CFM_COLOR;
    mixed.yHeight = 240;
    mixed.crTextColor = RGB(1, 2, 3);
    lstrcpyA(mixed.szFaceName, "Arial");
    const FontDialogStart start = FontDialogFromCharFormat(mixed, 96);
    EXPECT_EQ(-16, start.font.lfHeight);
    EXPECT_STREQ("Arial", start.font.lfFaceName);
    EXPECT_EQ(DWORD{CF_NOSTYLESEL | CF_NOSCRIPTSEL}, start.flags);
    EXPECT_EQ(RGB(1, 2, 3), start.color);

    LOGFONTA chosen = start.font;
    chosen.lfWeight = FW_BOLD;
    CHOOSEFONTA answer = {};
    answer.lpLogFont = &chosen;
    answer.iPointSize = 120;
    answer.rgbColors = RGB(4, 5, 6);
    answer.Flags = CF_EFFECTS | CF_NOFACESEL | CF_NOSCRIPTSEL;
    const CHARFORMAT2A format = CharFormatFromFontDialog(answer);
    EXPECT_EQ(DWORD{CFM_BOLD | CFM_ITALIC | CFM_SIZE | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_COLOR | CFM_OFFSET},
              format.dwMask);
    EXPECT_EQ(DWORD{CFE_BOLD}, format.dwEffects);
    EXPECT_EQ(240, format.yHeight);
    EXPECT_EQ(RGB(4, 5, 6), format.crTextColor);
}

// An item whose file is deleted, locked or damaged once it was shown: the view
// says so, read-only; Copy keeps the clipboard, Save As writes nothing, and
// nothing is ever saved over the file.
TEST_F(ViewPaneTest, AnItemWhoseFileCannotBeReadIsNeverTakenForEmpty) {
    ItemWriter writer;
    ClipboardHelper clipboard;
    auto other = StoredText(L"other", "other.tx");
    const std::wstring text(20000, L'k');
    for (const char* damage : {"deleted", "locked", "garbage"}) {
        SCOPED_TRACE(damage);
        TextItem item;
        ASSERT_TRUE(item.SetText(text));
        const std::string path = folder_ / (std::string(damage) + ".tx");
        writer.QueueItem(item, path);
        writer.Flush();
        ASSERT_TRUE(item.IsDataOnDisk());
        pane_.SetItem(&item);
        EXPECT_FALSE(pane_.IsUnreadable());
        pane_.SetItem(other.get());
        item.LeaveDataOnDisk();

        const std::string original = ReadFileBytes(path);
        UniqueFile lock;
        const std::string kind = damage;
        if (kind == "deleted") {
            ASSERT_TRUE(::DeleteFileA(path.c_str()));
        } else if (kind == "locked") {
            lock.reset(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock);
        } else {
            ASSERT_TRUE(WriteFileBytes(path, std::string(300, 'g')));
        }

        ASSERT_TRUE(pane_.SetItem(&item));
        EXPECT_TRUE(pane_.IsUnreadable());
        EXPECT_EQ(Editor(kTextItemType), pane_.ShownViewer());
        EXPECT_NE(std::wstring::npos, EditorText(Editor(kTextItemType)).find(L"cannot be read"));
        EXPECT_TRUE(::GetWindowLongA(Editor(kTextItemType), GWL_STYLE) & ES_READONLY);
        EXPECT_FALSE(pane_.IsModified());
        EXPECT_FALSE(pane_.Save());
        EXPECT_FALSE(WriteItemFile(item, path));

        ASSERT_TRUE(clipboard.Set({{CF_UNICODETEXT, std::string("k\0e\0p\0t\0\0\0", 10)}}));
        const ClipItem* unreadable = nullptr;
        EXPECT_FALSE(CopyItemsToClipboard({&item}, clipboard.Window(), &unreadable));
        EXPECT_EQ(&item, unreadable);
        EXPECT_EQ(std::string("k\0e\0p\0t\0\0\0", 10), clipboard.Get(CF_UNICODETEXT).value_or(""));

        DialogAnswerer answerer;
        DialogScript& told = answerer.Expect({DialogAnswerer::Click(IDOK)});
        EXPECT_FALSE(item.SaveAs());
        EXPECT_NE(std::string::npos, told.seenText.find("cannot be read")) << told.seenText;
        EXPECT_FALSE(item.WriteTextFile(folder_ / "saved.txt", 1));
        EXPECT_FALSE(FileExists(folder_ / "saved.txt"));

        lock.reset();
        const std::string left = kind == "deleted" ? "" : kind == "locked" ? original : std::string(300, 'g');
        EXPECT_EQ(left, ReadFileBytes(path));
        pane_.SetItem(nullptr);
    }
}
