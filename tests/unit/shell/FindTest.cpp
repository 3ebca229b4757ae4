// The main frame's Find: the real modeless find dialog driven from the test's
// thread, the wrap questions answered from the answerer's.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/ImageTestHelpers.h"
#include "support/TempFolder.h"

namespace {

using Range = std::pair<LONG, LONG>;

Range Selection(HWND editor) {
    CHARRANGE range = {};
    ::SendMessageW(editor, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return {range.cpMin, range.cpMax};
}

std::wstring BoxText(HWND dialog) {
    wchar_t text[600] = {};
    ::GetDlgItemTextW(dialog, edt1, text, 600);
    return text;
}

}  // namespace

class FindTest : public ::testing::Test {
protected:
    FindTest() : savedFolder_(AppSettings().ArchiveFolder) {
        AppSettings().ArchiveFolder = archive_.Path();
        AppModule().AddMessageLoop(&loop_);
    }
    ~FindTest() override {
        if (frame_.Handle()) ::DestroyWindow(frame_.Handle());
        AppModule().RemoveMessageLoop();
        AppSettings().ArchiveFolder = savedFolder_;
    }
    void SetUp() override {
        ASSERT_TRUE(frame_.CreateMainWindow());
        frame_.LoadArchive();
        // Captures are made by hand, not by the chain.
        ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
        // The keyboard focus decides the mode; it needs a shown window.
        ::ShowWindow(frame_.Handle(), SW_SHOW);
    }

    void Capture(const std::map<UINT, std::string>& formats) {
        ClipboardHelper clipboard;
        ASSERT_TRUE(clipboard.Set(formats));
        ASSERT_TRUE(frame_.Archive().Capture(nullptr));
    }
    void CaptureText(const std::wstring& text) {
        Capture({{CF_UNICODETEXT,
                  std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t))}});
    }
    ClipItem* Item(size_t index) { return frame_.Archive().Items()[index].get(); }
    HWND Editor() { return frame_.View().EditorFor(kTextItemType)->Handle(); }

    // The Find command with the keyboard focus on `focus`; the dialog it opened (or kept).
    HWND FindFrom(HWND focus) {
        ::SetFocus(focus);
        ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_EDIT_FIND, 0);
        return frame_.Find().dialog;
    }
    // Messages pass through the program's loop filters, as in the running program.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000) {
        const DWORD start = ::GetTickCount();
        for (;;) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (loop_.PreTranslateMessage(message)) continue;
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            if (done()) return true;
            if (::GetTickCount() - start > timeoutMs) return false;
            ::Sleep(10);
        }
    }
    // Types the text into the dialog's box and presses Find Next; a question
    // the search asks is answered by the answerer meanwhile.
    void FindNext(HWND dialog, const std::wstring& text) {
        ::SendDlgItemMessageW(dialog, edt1, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        ::SendDlgItemMessageW(dialog, IDOK, BM_CLICK, 0, 0);
    }

    TempFolder archive_;
    std::string savedFolder_;
    MessageLoop loop_;
    MainFrame frame_;
};

TEST_F(FindTest, TheDialogOpensEmptyAndDownwardAndReopensWithTheLastTextAndOptions) {
    EXPECT_EQ(0u, frame_.Find().message);
    HWND dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_EQ(::RegisterWindowMessageW(FINDMSGSTRINGW), frame_.Find().message);
    EXPECT_EQ(frame_.Handle(), ::GetWindow(dialog, GW_OWNER));
    EXPECT_EQ(L"", BoxText(dialog));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dialog, rad2));
    EXPECT_EQ(BST_UNCHECKED, ::IsDlgButtonChecked(dialog, chx2));
    // A second Find keeps the open dialog.
    EXPECT_EQ(dialog, FindFrom(frame_.Archive().Handle()));

    {
        DialogAnswerer answerer(dialog);
        answerer.Expect({DialogAnswerer::Click(IDCANCEL)});  // no more items: start again?
        ::CheckRadioButton(dialog, rad1, rad2, rad1);
        ::CheckDlgButton(dialog, chx2, BST_CHECKED);
        FindNext(dialog, L"東京 nowhere");
        EXPECT_TRUE(answerer.WaitForAnswers(1));
    }
    // Cancel in the question closed the dialog.
    EXPECT_EQ(nullptr, frame_.Find().dialog);
    EXPECT_FALSE(::IsWindow(dialog));

    dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_EQ(L"東京 nowhere", BoxText(dialog));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dialog, rad1));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dialog, chx2));
}

TEST_F(FindTest, InTheViewEachFindNextSelectsTheNextOccurrenceThenAsksToStartAgain) {
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"one needle, two needle"));
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(Item(0)));
    HWND dialog = FindFrom(Editor());
    ASSERT_TRUE(::IsWindow(dialog));
    DialogAnswerer answerer(dialog);

    FindNext(dialog, L"needle");
    EXPECT_EQ((Range{4, 10}), Selection(Editor()));
    FindNext(dialog, L"needle");
    EXPECT_EQ((Range{16, 22}), Selection(Editor()));

    DialogScript& again = answerer.Expect({DialogAnswerer::Click(IDOK)});
    FindNext(dialog, L"needle");
    EXPECT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(LoadResourceString(IDS_FIND_VIEW_WRAP), again.seenText);
    EXPECT_EQ("Scrapvault", again.seenTitle);
    // The search runs again once the question has gone.
    EXPECT_TRUE(PumpUntil([&] { return Selection(Editor()) == Range{4, 10}; }));

    FindNext(dialog, L"needle");
    answerer.Expect({DialogAnswerer::Click(IDCANCEL)});
    FindNext(dialog, L"needle");
    EXPECT_TRUE(answerer.WaitForAnswers(2));
    EXPECT_EQ(nullptr, frame_.Find().dialog);
    EXPECT_FALSE(::IsWindow(dialog));
}

TEST_F(FindTest, InTheTreeTheSearchStartsAfterTheSelectionAndStartsAgainFromTheTop) {
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"an apple pie"));
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"no fruit"));
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"an apple tart"));
    GroupTree& tree = frame_.Archive();
    ASSERT_EQ(nullptr, tree.Tree().Selection());
    HWND dialog = FindFrom(tree.Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_FALSE(frame_.Find().searchInView);
    DialogAnswerer answerer(dialog);

    // The first matching leaf from the top, shown with the occurrence selected.
    FindNext(dialog, L"apple");
    ClipItem* first = tree.SelectedItem();
    ASSERT_TRUE(first == Item(0) || first == Item(2));
    EXPECT_EQ(first, frame_.View().CurrentItem());
    EXPECT_EQ((Range{3, 8}), Selection(Editor()));
    EXPECT_EQ(tree.Handle(), ::GetFocus());

    // The selected leaf is not tested again.
    FindNext(dialog, L"apple");
    ClipItem* second = tree.SelectedItem();
    EXPECT_TRUE(second == Item(0) || second == Item(2));
    EXPECT_NE(first, second);
    EXPECT_EQ((Range{3, 8}), Selection(Editor()));

    DialogScript& again = answerer.Expect({DialogAnswerer::Click(IDOK)});
    FindNext(dialog, L"apple");
    EXPECT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(LoadResourceString(IDS_FIND_TREE_WRAP), again.seenText);
    EXPECT_TRUE(PumpUntil([&] { return tree.SelectedItem() == first; }));
    EXPECT_EQ(first, frame_.View().CurrentItem());
    EXPECT_EQ(0, answerer.Unexpected());
}

TEST_F(FindTest, ABitmapMatchesNeitherByItsApplicationNorByItsDate) {
    ASSERT_NO_FATAL_FAILURE(Capture({{CF_DIB, PackDib(MakeHeader(2, 2, 24), {}, {}, std::string(16, '\x7f'))}}));
    ASSERT_EQ(1u, frame_.Archive().Items().size());
    ASSERT_EQ(kBitmapItemType, Item(0)->TypeCode());
    HWND dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    {
        // Gone before the next one watches: two watchers would race for one box.
        DialogAnswerer answerer(dialog);
        // Nothing found anywhere: every OK searches again and asks again.
        answerer.Expect({DialogAnswerer::Click(IDOK)});
        answerer.Expect({DialogAnswerer::Click(IDCANCEL)});
        FindNext(dialog, L"Unknown Application");
        EXPECT_TRUE(PumpUntil([&] { return answerer.Answered() == 2 && !frame_.Find().dialog; }));
        EXPECT_EQ(nullptr, frame_.Archive().SelectedItem());
    }

    dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    DialogAnswerer dateAnswerer(dialog);
    dateAnswerer.Expect({DialogAnswerer::Click(IDCANCEL)});
    const std::string date = Item(0)->DateText();
    ASSERT_FALSE(date.empty());
    FindNext(dialog, std::wstring(date.begin(), date.end()));
    EXPECT_TRUE(dateAnswerer.WaitForAnswers(1));
    EXPECT_EQ(nullptr, frame_.Archive().SelectedItem());
}

TEST_F(FindTest, TextOutsideTheAnsiCodePageIsTypedAndFoundInTheViewAndInTheTree) {
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"nothing here"));
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"in 東京 today"));
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(Item(1)));
    HWND dialog = FindFrom(Editor());
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_TRUE(frame_.Find().searchInView);

    // Typed through the program's own loop, the characters reach the box whole.
    HWND box = ::GetDlgItem(dialog, edt1);
    ::SetFocus(box);
    ::PostMessageW(box, WM_CHAR, L'東', 1);
    ::PostMessageW(box, WM_CHAR, L'京', 1);
    ::PostQuitMessage(0);
    loop_.Run();
    ASSERT_EQ(L"東京", BoxText(dialog));
    ::SendDlgItemMessageW(dialog, IDOK, BM_CLICK, 0, 0);
    EXPECT_EQ((Range{3, 5}), Selection(Editor()));

    // A Find command with the dialog open only changes the mode.
    frame_.Archive().Tree().SelectItem(nullptr);
    EXPECT_EQ(dialog, FindFrom(frame_.Archive().Handle()));
    EXPECT_FALSE(frame_.Find().searchInView);
    FindNext(dialog, L"東京");
    EXPECT_EQ(Item(1), frame_.Archive().SelectedItem());
    EXPECT_EQ((Range{3, 5}), Selection(Editor()));
}

TEST_F(FindTest, TheDialogTakesItsKeysTabMovesEscCloses) {
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"keep me"));
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(Item(0)));
    HWND dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    DialogAnswerer answerer(dialog);
    HWND box = ::GetDlgItem(dialog, edt1);
    ::SetFocus(box);

    MSG tab = {box, WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {}};
    EXPECT_TRUE(loop_.PreTranslateMessage(tab));
    HWND moved = ::GetFocus();
    EXPECT_NE(box, moved);
    EXPECT_TRUE(::IsChild(dialog, moved));

    // Del in the box edits the box; the frame's Delete (enabled: a leaf is
    // selected) does not run.
    ::SetFocus(box);
    MSG del = {box, WM_KEYDOWN, VK_DELETE, 0x01530001, 0, {}};
    EXPECT_TRUE(loop_.PreTranslateMessage(del));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(0, answerer.Unexpected());
    EXPECT_EQ(1u, frame_.Archive().Items().size());

    MSG esc = {box, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    EXPECT_TRUE(loop_.PreTranslateMessage(esc));
    EXPECT_TRUE(PumpUntil([&] { return !frame_.Find().dialog; }));
    EXPECT_FALSE(::IsWindow(dialog));
    // Closed, the dialog no longer takes the frame's keys.
    MSG key = {frame_.Archive().Handle(), WM_KEYDOWN, 'Q', 0x00100001, 0, {}};
    EXPECT_FALSE(loop_.PreTranslateMessage(key));
}

TEST_F(FindTest, TheUsersChoicesOutliveTheDialogsNotificationsAndCtrlFBringsTheDialogBack) {
    ASSERT_NO_FATAL_FAILURE(CaptureText(L"one needle"));
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(Item(0)));
    HWND dialog = FindFrom(Editor());
    ASSERT_TRUE(::IsWindow(dialog));
    // The dialog clears the flags in the record whenever one of its controls
    // notifies it, as its box does when it takes the focus back after a question.
    const DialogStep boxNotifies = DialogAnswerer::Run([dialog](HWND) {
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(edt1, EN_SETFOCUS),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, edt1)));
    });
    {
        DialogAnswerer answerer(dialog);
        FindNext(dialog, L"needle");
        EXPECT_EQ((Range{4, 10}), Selection(Editor()));
        answerer.Expect({boxNotifies, DialogAnswerer::Click(IDOK)});
        FindNext(dialog, L"needle");
        EXPECT_TRUE(answerer.WaitForAnswers(1));
        // OK searched again from the top.
        EXPECT_TRUE(PumpUntil([&] { return Selection(Editor()) == Range{4, 10}; }));
        answerer.Expect({boxNotifies, DialogAnswerer::Click(IDCANCEL)});
        FindNext(dialog, L"needle");
        EXPECT_TRUE(answerer.WaitForAnswers(2));
    }
    ASSERT_EQ(nullptr, frame_.Find().dialog);

    // Reopened, downward as the user left it.
    dialog = FindFrom(frame_.Archive().Handle());
    ASSERT_TRUE(::IsWindow(dialog));
    EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dialog, rad2));
    EXPECT_EQ(L"needle", BoxText(dialog));

    // Behind the main window (a tree search activates it), Ctrl+F brings it back.
    ::SetActiveWindow(frame_.Handle());
    ASSERT_NE(dialog, ::GetActiveWindow());
    EXPECT_EQ(dialog, FindFrom(frame_.Archive().Handle()));
    EXPECT_EQ(dialog, ::GetActiveWindow());
}
