// The frame's bars and the states of its commands, read the way a user sees
// them: in the menus, on the toolbar, on the keyboard.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "items/TextItem.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"
#include "support/ClipboardHelper.h"
#include "support/DialogAnswerer.h"
#include "support/ImageTestHelpers.h"
#include "support/TempFolder.h"

namespace {

void Capture(MainFrame& frame, UINT format, const std::string& bytes) {
    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Set({{format, bytes}}));
    ASSERT_TRUE(frame.Archive().Capture(nullptr));
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// The tracked commands that are enabled, each read from the menu bar's menu and
// from the toolbar, which must agree.
std::string EnabledCommands(MainFrame& frame) {
    frame.OnIdle();
    static constexpr std::pair<UINT, const char*> kShown[] = {
        {ID_EDIT_COPY, "copy "},      {ID_EDIT_DELETE, "delete "},  {ID_FILE_SAVE, "save "},
        {ID_FILE_SAVE_AS, "saveas "}, {ID_EXTERNAL_VIEWER, "viewer "}, {ID_VIEW_WORD_WRAP, "wrap "},
        {ID_VIEW_FONT, "font "}};
    std::string enabled;
    for (const auto& [command, name] : kShown) {
        const bool inMenu = !(::GetMenuState(frame.MenuBar().Menu(), command, MF_BYCOMMAND) & MF_GRAYED);
        const bool onToolBar = ::SendMessageA(frame.Tools().Handle(), TB_ISBUTTONENABLED, command, 0) != 0;
        EXPECT_EQ(inMenu, onToolBar) << name;
        if (inMenu) enabled += name;
    }
    return enabled;
}

// Popups the frame was asked to fill, in order, seen in front of its procedure.
std::vector<HMENU> gPopups;
WNDPROC gFrameProcedure = nullptr;
LRESULT CALLBACK RecordPopups(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITMENUPOPUP) gPopups.push_back(reinterpret_cast<HMENU>(wParam));
    return ::CallWindowProcA(gFrameProcedure, window, message, wParam, lParam);
}

// Keys for the open menu's loop, one per timer tick; the last tick closes it.
std::vector<WPARAM> gMenuKeys;
HWND gKeyTarget = nullptr;
bool gFirstItemSelected = false;
void CALLBACK TypeIntoMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!gPopups.empty() && gPopups.size() == 1)
        gFirstItemSelected = (::GetMenuState(gPopups[0], 0, MF_BYPOSITION) & MF_HILITE) != 0;
    if (gMenuKeys.empty()) {
        ::KillTimer(nullptr, timer);
        ::EndMenu();
        return;
    }
    ::PostMessageA(gKeyTarget, WM_KEYDOWN, gMenuKeys.front(), 0);
    gMenuKeys.erase(gMenuKeys.begin());
}

}  // namespace

class MainFrameBarsTest : public ::testing::Test {
protected:
    MainFrameBarsTest() : saved_(AppSettings()) {
        AppSettings().ArchiveFolder = archive_.Path();
        AppModule().AddMessageLoop(&loop_);
    }
    ~MainFrameBarsTest() override {
        AppModule().RemoveMessageLoop();
        AppSettings() = saved_;
    }

    TempFolder archive_;
    Settings saved_;
    MessageLoop loop_;
};

TEST_F(MainFrameBarsTest, TheRebarCarriesTheMenuAndTheToolbarInTheirOrderWithTooltips) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    // The command bar is the only menu.
    EXPECT_EQ(nullptr, ::GetMenu(frame.Handle()));
    HWND menuBar = frame.MenuBar().Handle();
    std::vector<std::string> menus;
    for (int i = 0; i < ::SendMessageA(menuBar, TB_BUTTONCOUNT, 0, 0); ++i) {
        char text[64] = {};
        ::SendMessageA(menuBar, TB_GETBUTTONTEXTA, i + 1, reinterpret_cast<LPARAM>(text));
        menus.push_back(text);
    }
    EXPECT_EQ((std::vector<std::string>{"&File", "&Edit", "&View", "&Help"}), menus);

    HWND toolBar = frame.Tools().Handle();
    std::vector<UINT> buttons;
    for (int i = 0; i < ::SendMessageA(toolBar, TB_BUTTONCOUNT, 0, 0); ++i) {
        TBBUTTON button = {};
        ::SendMessageA(toolBar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
        buttons.push_back(button.fsStyle & BTNS_SEP ? 0 : static_cast<UINT>(button.idCommand));
    }
    EXPECT_EQ((std::vector<UINT>{ID_FILE_PAUSE, 0, ID_EDIT_DELETE, ID_FILE_SAVE_AS, ID_FILE_SAVE, ID_EDIT_COPY, 0,
                                 ID_GROUP_BY_APPLICATION, ID_GROUP_BY_DATE, ID_GROUP_BY_TYPE, 0, ID_EDIT_FIND, 0,
                                 ID_VIEW_FONT, ID_VIEW_WORD_WRAP, ID_EXTERNAL_VIEWER, 0, ID_VIEW_OPTIONS,
                                 ID_HELP_CONTENTS}),
              buttons);

    HWND reBar = frame.Bands().Handle();
    ASSERT_EQ(3, ::SendMessageA(reBar, RB_GETBANDCOUNT, 0, 0));
    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_CHILD | RBBIM_STYLE;
    ::SendMessageA(reBar, RB_GETBANDINFOA, 0, reinterpret_cast<LPARAM>(&band));
    EXPECT_EQ(menuBar, band.hwndChild);
    ::SendMessageA(reBar, RB_GETBANDINFOA, 1, reinterpret_cast<LPARAM>(&band));
    EXPECT_EQ(toolBar, band.hwndChild);
    EXPECT_TRUE(band.fStyle & RBBS_BREAK);
    // The filter box beside the toolbar, with its cue.
    ::SendMessageA(reBar, RB_GETBANDINFOA, 2, reinterpret_cast<LPARAM>(&band));
    EXPECT_EQ(frame.FilterBox(), band.hwndChild);
    EXPECT_FALSE(band.fStyle & RBBS_BREAK);
    wchar_t cue[32] = {};
    ::SendMessageW(frame.FilterBox(), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), std::size(cue));
    EXPECT_STREQ(L"Filter", cue);

    // Rebar on top, status bar at the bottom, the panes in between.
    RECT bands = {}, split = {}, status = {};
    ::GetWindowRect(reBar, &bands);
    ::GetWindowRect(frame.Split().Handle(), &split);
    ::GetWindowRect(frame.Status().Handle(), &status);
    EXPECT_EQ(bands.bottom, split.top);
    EXPECT_EQ(split.bottom, status.top);
    EXPECT_GT(bands.bottom - bands.top, 30);

    // A button's tooltip is the text after "\n" of its command's string.
    for (auto [command, tip] : {std::pair<UINT, std::string>{ID_EDIT_FIND, "Find"},
                                {ID_EDIT_COPY, "Copy to Clipboard"}, {ID_APP_ABOUT, ""}}) {
        NMTTDISPINFOA info = {};
        info.hdr = {toolBar, command, TTN_GETDISPINFOA};
        ::SendMessageA(frame.Handle(), WM_NOTIFY, command, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(tip, info.lpszText ? info.lpszText : "?");
    }
}

TEST_F(MainFrameBarsTest, CommandStatesFollowTheSelectionInTheMenusAndOnTheToolbar) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    // Pause shows its check mark in the menu and on the toolbar.
    frame.OnIdle();
    EXPECT_TRUE(::GetMenuState(frame.MenuBar().Menu(), ID_FILE_PAUSE, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(::SendMessageA(frame.Tools().Handle(), TB_ISBUTTONCHECKED, ID_FILE_PAUSE, 0));

    ASSERT_NO_FATAL_FAILURE(Capture(frame, CF_UNICODETEXT, Utf16Bytes(L"plain")));
    ASSERT_NO_FATAL_FAILURE(Capture(frame, ClipboardHelper::Register("Rich Text Format"), "{\\rtf1 {\\b rich}}"));
    const std::string pixels(4 * 4 * 4, '\x7f');
    ASSERT_NO_FATAL_FAILURE(Capture(frame, CF_DIB, PackDib(MakeHeader(4, 4, 32), {}, {}, pixels)));
    GroupTree& tree = frame.Archive();
    ASSERT_EQ(3u, tree.Items().size());
    TreeViewCtrl control = tree.Tree();

    control.SelectItem(nullptr);
    EXPECT_EQ("", EnabledCommands(frame));
    // Today only: by date the roots are the captures.
    ASSERT_TRUE(control.SelectItem(control.Root()));
    EXPECT_EQ("copy delete ", EnabledCommands(frame));
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_GROUP_BY_TYPE, 0);
    EXPECT_EQ(kGroupByType, AppSettings().GroupBy);
    ASSERT_TRUE(control.SelectItem(control.Root()));
    EXPECT_EQ("", EnabledCommands(frame)) << "a type group";

    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[0].get()));
    EXPECT_EQ("copy delete saveas viewer wrap ", EnabledCommands(frame));
    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[1].get()));
    EXPECT_EQ("copy delete saveas viewer wrap font ", EnabledCommands(frame));
    ::SendMessageW(frame.View().ShownViewer(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_EQ("copy delete save saveas viewer wrap font ", EnabledCommands(frame));
    frame.View().EditorFor(kRtfItemType)->SetModified(false);
    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[2].get()));
    EXPECT_EQ("copy delete saveas viewer ", EnabledCommands(frame));

    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_GROUP_BY_APPLICATION, 0);
    EXPECT_EQ(kGroupByApplication, AppSettings().GroupBy);
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_GROUP_BY_DATE, 0);
    EXPECT_EQ(kGroupByDate, AppSettings().GroupBy);
}

TEST_F(MainFrameBarsTest, TheKeyboardReachesEveryMenuThroughTheCommandBar) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    CommandBar& bar = frame.MenuBar();
    HWND window = frame.Handle();
    auto hot = [&] { return static_cast<int>(::SendMessageA(bar.Handle(), TB_GETHOTITEM, 0, 0)); };
    auto key = [&](WPARAM virtualKey) {
        MSG message = {window, WM_KEYDOWN, virtualKey, 0, 0, {}};
        return loop_.PreTranslateMessage(message);
    };

    // Alt (or F10) alone: the first menu is selected, the arrows move along the bar.
    ::SendMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, 0);
    EXPECT_TRUE(bar.KeyboardMode());
    EXPECT_EQ(0, hot());
    EXPECT_TRUE(key(VK_RIGHT));
    EXPECT_EQ(1, hot());
    EXPECT_TRUE(key(VK_LEFT));
    EXPECT_TRUE(key(VK_LEFT));
    EXPECT_EQ(3, hot());
    EXPECT_TRUE(key(VK_ESCAPE));
    EXPECT_FALSE(bar.KeyboardMode());
    EXPECT_FALSE(key(VK_RIGHT)) << "the key is the focused window's again";

    // Alt+V opens View with its first item selected; Right moves on to Help;
    // Escape there goes back to the bar, at Help.
    gFrameProcedure = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPopups)));
    gPopups.clear();
    gMenuKeys = {VK_RIGHT, VK_ESCAPE};
    gKeyTarget = window;
    gFirstItemSelected = false;
    ::SetTimer(nullptr, 0, 150, TypeIntoMenu);
    ::SendMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, 'v');
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFrameProcedure));
    HMENU menu = bar.Menu();
    EXPECT_EQ((std::vector<HMENU>{::GetSubMenu(menu, 2), ::GetSubMenu(menu, 3)}), gPopups);
    EXPECT_TRUE(gFirstItemSelected);
    EXPECT_TRUE(bar.KeyboardMode());
    EXPECT_EQ(3, hot());
    EXPECT_TRUE(key(VK_ESCAPE));
    // A key that is no menu's mnemonic opens nothing.
    EXPECT_EQ(-1, bar.MenuOfMnemonic('q'));
    EXPECT_EQ(1, bar.MenuOfMnemonic('e'));
}

TEST_F(MainFrameBarsTest, TheWindowAndItsSplitterComeBackWhereTheyWereLeft) {
    const RECT placed = {120, 90, 820, 590};
    {
        MainFrame frame;
        ASSERT_TRUE(frame.CreateMainWindow());
        ::SetWindowPos(frame.Handle(), nullptr, placed.left, placed.top, placed.right - placed.left,
                       placed.bottom - placed.top, SWP_NOZORDER | SWP_NOACTIVATE);
        frame.Split().SetPosition(260);
        ::DestroyWindow(frame.Handle());
    }
    EXPECT_TRUE(::EqualRect(&placed, &AppSettings().WindowRect));
    EXPECT_EQ(260, AppSettings().SplitterPosition);

    MainFrame again;
    ASSERT_TRUE(again.CreateMainWindow());
    RECT shown = {};
    ::GetWindowRect(again.Handle(), &shown);
    EXPECT_TRUE(::EqualRect(&placed, &shown));
    EXPECT_EQ(260, again.Split().Position());

    // A place no monitor shows any more is not used.
    AppSettings().WindowRect = {-30000, -30000, -29000, -29500};
    MainFrame elsewhere;
    ASSERT_TRUE(elsewhere.CreateMainWindow());
    ::GetWindowRect(elsewhere.Handle(), &shown);
    EXPECT_GT(shown.left, -20000);
}

TEST_F(MainFrameBarsTest, DeleteFollowsTheFocusAndExitOffersToSaveEdits) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    HWND window = frame.Handle();
    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(Capture(frame, CF_UNICODETEXT, Utf16Bytes(L"keep this")));
    ASSERT_NO_FATAL_FAILURE(Capture(frame, CF_UNICODETEXT, Utf16Bytes(L"remove this")));
    GroupTree& tree = frame.Archive();
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);

    // The focus in the text: Del edits the text and the tree keeps its item.
    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[0].get()));
    HWND editor = frame.View().ShownViewer();
    ::SetFocus(editor);
    ::SendMessageA(editor, EM_SETSEL, 0, 0);
    {
        DialogAnswerer answerer;
        MSG del = {editor, WM_KEYDOWN, VK_DELETE, 0x01530001, 0, {}};
        EXPECT_FALSE(loop_.PreTranslateMessage(del));
        ::TranslateMessage(&del);
        ::DispatchMessageA(&del);
        EXPECT_EQ(0, answerer.Unexpected());
    }
    EXPECT_EQ(2u, tree.Items().size());
    EXPECT_TRUE(frame.View().IsModified());
    char text[64] = {};
    ::GetWindowTextA(editor, text, sizeof(text));
    EXPECT_STREQ("eep this", text);

    // The focus in the tree: the question, and the item goes on OK.
    {
        DialogAnswerer answerer;
        answerer.Expect({DialogAnswerer::Click(IDCANCEL)});  // drop the edits
        ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[1].get()));
        EXPECT_EQ(1, answerer.Answered());
    }
    ::SetFocus(tree.Handle());
    {
        DialogAnswerer answerer;
        DialogScript& question = answerer.Expect({DialogAnswerer::Click(IDOK)});
        ::SendMessageA(window, WM_COMMAND, ID_EDIT_DELETE, 0);
        EXPECT_NE(std::string::npos, question.seenText.find("Are you sure you want to remove the item?"));
    }
    ASSERT_EQ(1u, tree.Items().size());

    // Exit with edits in the view asks whether to save them, and OK writes them.
    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[0].get()));
    ::SendMessageW(frame.View().ShownViewer(), EM_SETSEL, 0, 1);
    ::SendMessageW(frame.View().ShownViewer(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"K"));
    {
        DialogAnswerer answerer;
        DialogScript& question = answerer.Expect({DialogAnswerer::Click(IDOK)});
        ::SendMessageA(window, WM_COMMAND, ID_APP_EXIT, 0);
        MSG message = {};
        while (::IsWindow(window) && ::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
        EXPECT_NE(std::string::npos, question.seenText.find("The data has changed. Do you want to save changes?"));
    }
    EXPECT_FALSE(::IsWindow(window));
    MainFrame reopened;
    ASSERT_TRUE(reopened.CreateMainWindow());
    reopened.LoadArchive();
    ASSERT_EQ(1u, reopened.Archive().Items().size());
    ASSERT_TRUE(reopened.Archive().SelectItemLeaf(reopened.Archive().Items()[0].get()));
    ::GetWindowTextA(reopened.View().ShownViewer(), text, sizeof(text));
    EXPECT_STREQ("Keep this", text);
}

// The filter box from the keyboard: Ctrl+E reaches it, the status bar counts
// the matches, Del edits the text, Down goes to the first match, Enter in the
// tree keeps it and leaves the filter, Esc empties the box and then leaves it.
TEST_F(MainFrameBarsTest, TheFilterBoxNarrowsTheTreeAndItsKeysLeadInAndOut) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    HWND window = frame.Handle();
    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);
    for (const wchar_t* text : {L"alpha one", L"beta two", L"Alpha three"})
        ASSERT_NO_FATAL_FAILURE(Capture(frame, CF_UNICODETEXT, Utf16Bytes(text)));
    GroupTree& tree = frame.Archive();
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[1].get()));
    HWND box = frame.FilterBox();
    auto press = [&](HWND target, WPARAM key) {
        MSG down = {target, WM_KEYDOWN, key, 0x00000001, 0, {}};
        if (loop_.PreTranslateMessage(down)) return true;
        ::TranslateMessage(&down);
        ::DispatchMessageW(&down);
        return false;
    };
    auto shownText = [&] {
        const ClipItem* item = frame.View().CurrentItem();
        return item ? static_cast<const TextItem&>(*item).Text() : L"";
    };

    ::SendMessageA(window, WM_COMMAND, ID_EDIT_FILTER, 0);
    EXPECT_EQ(box, ::GetFocus());
    ::SetWindowTextW(box, L"ALPHA");
    EXPECT_EQ("2 items match", frame.Status().Text());
    {
        DialogAnswerer answerer;
        ::SendMessageW(box, EM_SETSEL, 0, 0);
        EXPECT_FALSE(press(box, VK_DELETE));
        EXPECT_EQ(0, answerer.Unexpected());
    }
    EXPECT_EQ(3u, tree.Items().size());
    EXPECT_EQ("2 items match", frame.Status().Text());  // "LPHA"
    EXPECT_TRUE(press(box, VK_DOWN));
    EXPECT_EQ(tree.Handle(), ::GetFocus());
    EXPECT_EQ(L"Alpha three", shownText());
    EXPECT_TRUE(press(tree.Handle(), VK_RETURN));
    EXPECT_FALSE(tree.Filtering());
    EXPECT_EQ(0, ::GetWindowTextLengthW(box));
    EXPECT_EQ("Ready", frame.Status().Text());
    EXPECT_EQ(L"Alpha three", shownText());

    ::SetFocus(box);
    ::SetWindowTextW(box, L"nothing like it");
    EXPECT_EQ("No items match", frame.Status().Text());
    EXPECT_EQ(L"", shownText());
    EXPECT_TRUE(press(box, VK_ESCAPE));
    EXPECT_EQ(0, ::GetWindowTextLengthW(box));
    EXPECT_EQ(box, ::GetFocus());
    EXPECT_EQ(L"Alpha three", shownText());
    EXPECT_TRUE(press(box, VK_ESCAPE));
    EXPECT_EQ(tree.Handle(), ::GetFocus());

    // Past the matches the tree shows, the idle slices count the rest, and the
    // status bar has the last slice's too.
    tree.FlushWrites();
    tree.OnWritesDone();  // the catalog knows every capture
    tree.SetMostFilterMatchesShown(1);
    ::SetWindowTextW(box, L"alpha");
    for (int slice = 0; slice < 50 && tree.FilterMatchCount() < 2; ++slice) frame.OnIdle();
    EXPECT_EQ("2 items match; the newest 1 are shown", frame.Status().Text());
}
