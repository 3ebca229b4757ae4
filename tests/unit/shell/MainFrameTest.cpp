#include "shell/MainFrame.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "archive/ProgramKey.h"
#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "framework/UniqueHandle.h"
#include "resources/resource.h"
#include "shell/Settings.h"
#include "support/ClipboardHelper.h"
#include "SavedSettings.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

bool HasNotificationIcon(HWND window) {
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uFlags = NIF_TIP;
    std::snprintf(data.szTip, sizeof(data.szTip), "%s", "Scrapvault");
    return ::Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool PauseChecked(HMENU menu) { return (::GetMenuState(menu, ID_FILE_PAUSE, MF_BYCOMMAND) & MF_CHECKED) != 0; }

// Commands that reach the frame's window, seen from in front of its own procedure.
std::vector<UINT> gCommands;
WNDPROC gFrameProc = nullptr;
// Commands are only recorded, not carried out.
LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COMMAND) return ::CallWindowProcA(gFrameProc, window, message, wParam, lParam);
    gCommands.push_back(LOWORD(wParam));
    return 0;
}

// A change captured by hand (the frame is paused by the tests that use it).
void CaptureText(MainFrame& frame, const std::wstring& text) {
    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Set({{CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()),
                                                            (text.size() + 1) * sizeof(wchar_t))}}));
    ASSERT_TRUE(frame.Archive().Capture(nullptr));
}

}  // namespace

class MainFrameTest : public ::testing::Test {
protected:
    MainFrameTest() : savedFolder_(AppSettings().ArchiveFolder) {
        AppSettings().ArchiveFolder = archive_.Path();
        AppModule().AddMessageLoop(&loop_);
    }
    ~MainFrameTest() override {
        AppModule().RemoveMessageLoop();
        AppSettings().ArchiveFolder = savedFolder_;
    }

    TempFolder archive_;
    std::string savedFolder_;
    MessageLoop loop_;
};

TEST_F(MainFrameTest, PauseIsCheckedInTheMainMenuAndTheIconMenu) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    HWND window = frame.Handle();
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_FALSE(frame.Paused());
    EXPECT_TRUE(HasNotificationIcon(window));

    UniqueMenu trayMenu(::LoadMenuA(AppModule().Instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU)));
    HMENU trayPopup = ::GetSubMenu(trayMenu.get(), 0);
    ASSERT_NE(nullptr, trayPopup);

    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);
    EXPECT_TRUE(frame.Paused());
    EXPECT_TRUE(PauseChecked(frame.MenuBar().Menu()));
    ::SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(trayPopup), 0);
    EXPECT_TRUE(PauseChecked(trayPopup));

    // The tray menu's Pause is the same command.
    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);
    EXPECT_FALSE(frame.Paused());
    EXPECT_FALSE(PauseChecked(frame.MenuBar().Menu()));
    ::SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(trayPopup), 0);
    EXPECT_FALSE(PauseChecked(trayPopup));
}

TEST_F(MainFrameTest, IconComesBackWhenTheShellStartsANewNotificationArea) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    HWND window = frame.Handle();
    // A shell that restarts has lost every icon.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &data));
    ASSERT_FALSE(HasNotificationIcon(window));

    ::SendMessageA(window, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(HasNotificationIcon(window));
    ::DestroyWindow(window);
    EXPECT_FALSE(HasNotificationIcon(window));
}

TEST_F(MainFrameTest, AcceleratorsProduceCommandsWithoutSwallowingTheKey) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    HWND window = frame.Handle();
    frame.LoadArchive();

    // Del with no modifier is an accelerator (the frame registered itself as a
    // filter), but with nothing selected its command is disabled: no question.
    MSG key = {window, WM_KEYDOWN, VK_DELETE, 0x00530001, 0, {}};
    {
        DialogAnswerer answerer;
        EXPECT_FALSE(loop_.PreTranslateMessage(key));
        EXPECT_EQ(0, answerer.Unexpected());
    }
    gCommands.clear();
    gFrameProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordCommands)));
    // Paused, past the recorder: the item is captured by hand, not by the chain.
    ::CallWindowProcA(gFrameProc, window, WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, L"item"));
    ASSERT_TRUE(frame.Archive().SelectItemLeaf(frame.Archive().Items()[0].get()));
    EXPECT_FALSE(loop_.PreTranslateMessage(key));
    EXPECT_EQ(std::vector<UINT>{ID_EDIT_DELETE}, gCommands);
    MSG plain = {window, WM_KEYDOWN, 'Q', 0x00100001, 0, {}};
    EXPECT_FALSE(loop_.PreTranslateMessage(plain));
    EXPECT_EQ(1u, gCommands.size());

    // Gone with its window: the loop no longer asks it.
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFrameProc));
    ::DestroyWindow(window);
    gCommands.clear();
    EXPECT_FALSE(loop_.PreTranslateMessage(key));
    EXPECT_TRUE(gCommands.empty());
}

TEST_F(MainFrameTest, DestroyingLeavesTheChainRemovesTheIconAndEndsTheLoop) {
    // A viewer of this test joins first and becomes the frame's next viewer.
    UniqueWindow viewer(::CreateWindowExA(0, "STATIC", "viewer", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                          nullptr));
    HWND previousHead = ::SetClipboardViewer(viewer.get());

    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    HWND window = frame.Handle();
    EXPECT_EQ(viewer.get(), frame.NextViewer());
    EXPECT_EQ(window, ::GetClipboardViewer());

    ::DestroyWindow(window);
    EXPECT_EQ(nullptr, frame.Handle());
    EXPECT_EQ(viewer.get(), ::GetClipboardViewer());
    EXPECT_FALSE(HasNotificationIcon(window));
    MSG quit = {};
    ASSERT_TRUE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, quit.wParam);

    ::ChangeClipboardChain(viewer.get(), previousHead);
}

// The system may end the process as soon as the session's end is told: what
// was captured is on disk by then, not still queued for the writer.
TEST_F(MainFrameTest, TheEndOfTheSessionWritesWhatWasCaptured) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    // Text that compresses poorly, to take the writer a while.
    std::wstring text(4 << 20, L' ');
    unsigned seed = 1;
    for (wchar_t& c : text) c = static_cast<wchar_t>(L'a' + ((seed = seed * 1103515245u + 12345u) >> 16) % 26);
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, text));
    ::SendMessageA(frame.Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(FileExists(frame.Archive().Items()[0]->RecordPath()));
}

TEST_F(MainFrameTest, TheTreeSelectionDrivesTheViewAndStaysWithEditsThatCouldNotBeSaved) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    // Captured by hand, not by the chain.
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, L"one"));
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, L"two"));
    GroupTree& tree = frame.Archive();
    ClipItem* first = tree.Items()[0].get();
    ClipItem* second = tree.Items()[1].get();
    ASSERT_TRUE(tree.SelectItemLeaf(first));
    EXPECT_EQ(first, frame.View().CurrentItem());

    HWND editor = frame.View().EditorFor(kTextItemType)->Handle();
    ::SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed "));
    first->SetRecordPath(archive_ / "gone\\item.tx");
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::Click(IDOK)});  // save the changes?
    answerer.Expect({DialogAnswerer::Click(IDOK)});  // could not be saved
    ASSERT_TRUE(tree.SelectItemLeaf(second));
    EXPECT_EQ(first, frame.View().CurrentItem());
    EXPECT_EQ(first, tree.SelectedItem());
    EXPECT_TRUE(frame.View().IsModified());
    // The answerer counts a dialog just after posting its click.
    EXPECT_TRUE(answerer.WaitForAnswers(2, 2000));
    frame.View().EditorFor(kTextItemType)->SetModified(false);
}

namespace {
// The context menu the frame tracks, read while it is open and then closed.
HMENU gShownPopup = nullptr;
std::vector<std::pair<UINT, bool>> gShownItems;  // command and whether enabled
LRESULT CALLBACK RecordPopups(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = ::CallWindowProcA(gFrameProc, window, message, wParam, lParam);
    if (message == WM_INITMENUPOPUP) gShownPopup = reinterpret_cast<HMENU>(wParam);
    return result;
}
void CALLBACK ReadAndCloseMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    gShownItems.clear();
    for (int i = 0; gShownPopup && i < ::GetMenuItemCount(gShownPopup); ++i) {
        const UINT id = ::GetMenuItemID(gShownPopup, i);
        if (id != 0 && id != static_cast<UINT>(-1))
            gShownItems.push_back({id, !(::GetMenuState(gShownPopup, id, MF_BYCOMMAND) & MF_GRAYED)});
    }
    ::EndMenu();
}
std::vector<std::pair<UINT, bool>> ContextMenuOf(HWND frame, HWND window, POINT point) {
    gShownPopup = nullptr;
    gShownItems.clear();
    ::SetTimer(nullptr, 0, 200, ReadAndCloseMenu);
    ::SendMessageA(frame, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(point.x, point.y));
    return gShownItems;
}
}  // namespace

TEST_F(MainFrameTest, ContextMenusShowTheCommandsStatesAndADisabledCommandDoesNothing) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, L"menu"));
    ASSERT_TRUE(frame.Archive().SelectItemLeaf(frame.Archive().Items()[0].get()));
    gFrameProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(frame.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPopups)));

    // From the keyboard, at the selected node: everything for an item leaf.
    using Items = std::vector<std::pair<UINT, bool>>;
    EXPECT_EQ((Items{{ID_EDIT_COPY, true},
                     {ID_FILE_SAVE_AS, true},
                     {ID_EDIT_FIND, true},
                     {ID_EXTERNAL_VIEWER, true},
                     {ID_EDIT_DELETE, true},
                     {ID_NEVER_ARCHIVE_PROGRAM, false}}),  // no program to name
              ContextMenuOf(frame.Handle(), frame.Archive().Handle(), POINT{-1, -1}));
    // The view's menu for a text: nothing to save, no font.
    HWND editor = frame.View().EditorFor(kTextItemType)->Handle();
    EXPECT_EQ((Items{{ID_EDIT_COPY, true},
                     {ID_FILE_SAVE, false},
                     {ID_FILE_SAVE_AS, true},
                     {ID_EXTERNAL_VIEWER, true},
                     {ID_EDIT_FIND, true},
                     {ID_VIEW_FONT, false},
                     {ID_VIEW_WORD_WRAP, true}}),
              ContextMenuOf(frame.Handle(), editor, POINT{-1, -1}));

    // Nothing selected: no node menu, and a disabled command does nothing,
    // whatever sends it.
    frame.Archive().Tree().SelectItem(nullptr);
    EXPECT_TRUE(ContextMenuOf(frame.Handle(), frame.Archive().Handle(), POINT{-1, -1}).empty());
    ::SetWindowLongPtrA(frame.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFrameProc));
    ASSERT_EQ(nullptr, frame.View().CurrentItem());
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_VIEW_WORD_WRAP, 0);
    EXPECT_FALSE(frame.View().WordWrap());
    ASSERT_TRUE(frame.Archive().SelectItemLeaf(frame.Archive().Items()[0].get()));
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_VIEW_WORD_WRAP, 0);
    EXPECT_TRUE(frame.View().WordWrap());
}

namespace {

// A window of a program of its own (a class of its own in this process).
UniqueWindow ProgramWindow(const char* className, const char* title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    ::RegisterClassA(&windowClass);
    return UniqueWindow(::CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                                          windowClass.hInstance, nullptr));
}

void CaptureTextFrom(MainFrame& frame, HWND source, const std::wstring& text) {
    ClipboardHelper clipboard;
    ASSERT_TRUE(clipboard.Set({{CF_UNICODETEXT, std::string(reinterpret_cast<const char*>(text.c_str()),
                                                            (text.size() + 1) * sizeof(wchar_t))}}));
    frame.Archive().Capture(source);
}

}  // namespace

TEST_F(MainFrameTest, ACaptureOfAnEarlierRunCanBeExcludedOnceItsProgramHasEnded) {
    RemoveSavedSettings();
    const ExcludeList saved = AppSettings().ExcludedPrograms;
    AppSettings().ExcludedPrograms = ExcludeList();
    UniqueWindow viewer = ProgramWindow("NeverArchive Viewer", "Viewer");
    const std::string program = ProgramKeyOf(viewer.get());
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureTextFrom(frame, viewer.get(), L"from the viewer"));
    // Its window gone, the capture is known from its files alone.
    viewer.reset();
    frame.LoadArchive();
    frame.Archive().Rebuild(kGroupByDate);
    TreeViewCtrl tree = frame.Archive().Tree();
    HTREEITEM capture = tree.Root();
    while (capture && tree.GetItemText(capture) != "Viewer") capture = tree.NextSibling(capture);
    ASSERT_TRUE(capture && tree.SelectItem(capture));
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_NEVER_ARCHIVE_PROGRAM, 0);
    EXPECT_EQ(std::vector<std::string>{program}, AppSettings().ExcludedPrograms.Programs());
    AppSettings().ExcludedPrograms = saved;
    RemoveSavedSettings();
}

TEST_F(MainFrameTest, NeverArchiveThisProgramExcludesTheProgramOfAnApplicationOrACapture) {
    RemoveSavedSettings();
    const ExcludeList saved = AppSettings().ExcludedPrograms;
    AppSettings().ExcludedPrograms = ExcludeList();
    UniqueWindow editor = ProgramWindow("NeverArchive Editor", "Editor");
    UniqueWindow browser = ProgramWindow("NeverArchive Browser", "Browser");
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureTextFrom(frame, editor.get(), L"from the editor"));
    ASSERT_NO_FATAL_FAILURE(CaptureTextFrom(frame, browser.get(), L"from the browser"));
    ASSERT_EQ(2u, frame.Archive().Items().size());
    gFrameProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(frame.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPopups)));
    const auto neverArchiveEnabled = [&] {
        for (const auto& [id, enabled] : ContextMenuOf(frame.Handle(), frame.Archive().Handle(), POINT{-1, -1}))
            if (id == ID_NEVER_ARCHIVE_PROGRAM) return enabled;
        return false;
    };

    // The editor's application group.
    frame.Archive().Rebuild(kGroupByApplication);
    TreeViewCtrl tree = frame.Archive().Tree();
    HTREEITEM group = tree.Root();
    while (group && tree.GetItemText(group) != "Editor") group = tree.NextSibling(group);
    ASSERT_TRUE(group && tree.SelectItem(group));
    EXPECT_TRUE(neverArchiveEnabled());
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_NEVER_ARCHIVE_PROGRAM, 0);
    EXPECT_EQ(std::vector<std::string>{ProgramKeyOf(editor.get())}, AppSettings().ExcludedPrograms.Programs());
    EXPECT_FALSE(neverArchiveEnabled());  // excluded already

    // The browser's capture node, grouped by date (today's stand at the top).
    frame.Archive().Rebuild(kGroupByDate);
    HTREEITEM capture = tree.Root();
    while (capture && tree.GetItemText(capture) != "Browser") capture = tree.NextSibling(capture);
    ASSERT_TRUE(capture && tree.SelectItem(capture));
    EXPECT_TRUE(neverArchiveEnabled());
    ::SetWindowLongPtrA(frame.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFrameProc));
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_NEVER_ARCHIVE_PROGRAM, 0);

    // Kept in the settings at once, and heeded by the next capture.
    Settings stored;
    stored.Load();
    EXPECT_EQ((std::vector<std::string>{ProgramKeyOf(editor.get()), ProgramKeyOf(browser.get())}),
              stored.ExcludedPrograms.Programs());
    ASSERT_NO_FATAL_FAILURE(CaptureTextFrom(frame, editor.get(), L"not kept"));
    EXPECT_EQ(2u, frame.Archive().Items().size());
    AppSettings().ExcludedPrograms = saved;
    RemoveSavedSettings();
}

TEST_F(MainFrameTest, TheStatusBarShowsTheMenuPromptAndThenReady) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    EXPECT_EQ("Ready", frame.Status().Text());
    HMENU menu = frame.MenuBar().Menu();
    ::SendMessageA(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(ID_EDIT_COPY, MF_HILITE),
                   reinterpret_cast<LPARAM>(menu));
    EXPECT_EQ("Places the item or the group to the Clipboard.", frame.Status().Text());
    // A command whose string has no tooltip part shows all of it.
    ::SendMessageA(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(ID_APP_ABOUT, MF_HILITE), reinterpret_cast<LPARAM>(menu));
    EXPECT_EQ("Displays the program information and copyright", frame.Status().Text());
    ::SendMessageA(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ("Ready", frame.Status().Text());
}

// The catalog's progress stands where "Ready" does, and waits while a menu
// prompt is shown; it goes once the catalog is complete.
TEST_F(MainFrameTest, TheCatalogsProgressGivesWayToMenuPromptsAndGoesWhenDone) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.Status().ShowState("Cataloging the archive: 40%");
    EXPECT_EQ("Cataloging the archive: 40%", frame.Status().Text());
    HMENU menu = frame.MenuBar().Menu();
    ::SendMessageA(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(ID_EDIT_COPY, MF_HILITE),
                   reinterpret_cast<LPARAM>(menu));
    frame.Status().ShowState("Cataloging the archive: 50%");
    EXPECT_EQ("Places the item or the group to the Clipboard.", frame.Status().Text());
    ::SendMessageA(frame.Handle(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ("Cataloging the archive: 50%", frame.Status().Text());
    // No build runs: the catalog counts as complete.
    ::SendMessageA(frame.Handle(), kCatalogProgressMessage, 100, 0);
    EXPECT_EQ("Ready", frame.Status().Text());
}

// The first of two texts is edited in the view and its file cannot be written:
// the view keeps it when the user answers OK to saving, and so must every command
// that would destroy it.
class KeptEditsTest : public MainFrameTest {
protected:
    KeptEditsTest() {
        RemoveSavedSettings();
        AppSettings().ItemsLimit = 1;
    }
    ~KeptEditsTest() override {
        frame_.View().EditorFor(kTextItemType)->SetModified(false);
        ::DestroyWindow(frame_.Handle());
        AppSettings().ItemsLimit = 0;
        RemoveSavedSettings();
    }
    void SetUp() override {
        ASSERT_TRUE(frame_.CreateMainWindow());
        frame_.LoadArchive();
        ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
        ASSERT_NO_FATAL_FAILURE(CaptureText(frame_, L"one"));
        ASSERT_NO_FATAL_FAILURE(CaptureText(frame_, L"two"));
        edited_ = frame_.Archive().Items()[0].get();
        ASSERT_TRUE(frame_.Archive().SelectItemLeaf(edited_));
        HWND editor = frame_.View().EditorFor(kTextItemType)->Handle();
        ::SendMessageW(editor, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed "));
        edited_->SetRecordPath(archive_ / "gone\\item.tx");
    }
    // Save the changes? OK; they could not be saved: OK.
    void ExpectRefusedSave() {
        answerer_.Expect({DialogAnswerer::Click(IDOK)});
        answerer_.Expect({DialogAnswerer::Click(IDOK)});
    }
    void ExpectKept(int answers) {
        EXPECT_TRUE(answerer_.WaitForAnswers(answers, 2000));
        EXPECT_EQ(0, answerer_.Unexpected());
        ASSERT_EQ(2u, frame_.Archive().Items().size());
        EXPECT_EQ(edited_, frame_.Archive().Items()[0].get());
        EXPECT_EQ(edited_, frame_.View().CurrentItem());
        EXPECT_EQ(edited_, frame_.Archive().SelectedItem());
        EXPECT_TRUE(frame_.View().IsModified());
    }

    MainFrame frame_;
    ClipItem* edited_ = nullptr;
    DialogAnswerer answerer_;
};

TEST_F(KeptEditsTest, DeleteStopsAndItsQuestionIsOwnedByTheMainWindow) {
    HWND owner = nullptr;
    answerer_.Expect({DialogAnswerer::Run([&](HWND dialog) { owner = ::GetWindow(dialog, GW_OWNER); }),
                      DialogAnswerer::Click(IDOK)});
    ExpectRefusedSave();
    ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_EDIT_DELETE, 0);
    ExpectKept(3);
    EXPECT_EQ(frame_.Handle(), owner);
}

TEST_F(KeptEditsTest, ATrimDueWhileDeleteAsksWaitsAndStopsToo) {
    // A capture's trim comes due while the question is open; it would take the
    // very item the question is about.
    HWND frame = frame_.Handle();
    answerer_.Expect({DialogAnswerer::Run([frame](HWND) { ::PostMessageA(frame, kAfterCaptureMessage, 0, 0); }),
                      DialogAnswerer::Click(IDOK)});
    ExpectRefusedSave();  // asked by Delete
    ExpectRefusedSave();  // asked by the trim, once Delete is over
    ::SendMessageA(frame, WM_COMMAND, ID_EDIT_DELETE, 0);
    EXPECT_TRUE(answerer_.WaitForAnswers(5, 3000));
    ExpectKept(5);
}

TEST_F(KeptEditsTest, ClearStops) {
    answerer_.Expect({DialogAnswerer::Click(IDOK)});
    ExpectRefusedSave();
    ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_EDIT_CLEAR_ALL, 0);
    ExpectKept(3);
}

TEST_F(KeptEditsTest, OptionsDoNotReloadTheArchive) {
    answerer_.Expect({DialogAnswerer::Click(IDOK)});
    ExpectRefusedSave();
    ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_VIEW_OPTIONS, 0);
    ExpectKept(3);
}

TEST_F(KeptEditsTest, TheTrimStops) {
    ExpectRefusedSave();
    frame_.Archive().Trim();
    ExpectKept(2);
    EXPECT_EQ(2u, frame_.Archive().Captures().size());
}

TEST_F(KeptEditsTest, RegroupingSelectsTheShownItemAgainAndStopsItsTrim) {
    ExpectRefusedSave();
    ::SendMessageA(frame_.Handle(), WM_COMMAND, ID_GROUP_BY_TYPE, 0);
    ExpectKept(2);
    EXPECT_EQ(kGroupByType, frame_.Archive().GroupBy());

    // Without edits to keep, the leaf is selected again in every mode (and the trim goes on).
    frame_.View().EditorFor(kTextItemType)->SetModified(false);
    AppSettings().ItemsLimit = 0;
    frame_.View().SetItem(nullptr);
    frame_.LoadArchive();
    ClipItem* second = frame_.Archive().Items()[0].get();
    ASSERT_TRUE(frame_.Archive().SelectItemLeaf(second));
    for (UINT command : {ID_GROUP_BY_APPLICATION, ID_GROUP_BY_DATE}) {
        ::SendMessageA(frame_.Handle(), WM_COMMAND, command, 0);
        EXPECT_EQ(second, frame_.Archive().SelectedItem()) << command;
        EXPECT_EQ(second, frame_.View().CurrentItem()) << command;
        EXPECT_TRUE(frame_.CommandStates().Enabled(ID_FILE_SAVE_AS)) << command;
    }
}

namespace {
void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    MSG message;
    while (::GetTickCount() - start < ms) {
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        ::Sleep(10);
    }
}
}  // namespace

TEST_F(MainFrameTest, TheFirstSelectionCountsAndTheKeyboardAndTheRightButtonReachBothPanes) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    frame.LoadArchive();
    ::SendMessageA(frame.Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
    ASSERT_NO_FATAL_FAILURE(CaptureText(frame, L"one"));
    GroupTree& tree = frame.Archive();
    ::ShowWindow(frame.Handle(), SW_SHOW);
    ::SetFocus(tree.Handle());
    PumpFor(200);
    // The tree selects its first node when it first takes the keyboard.
    ASSERT_NE(nullptr, tree.Tree().Selection());
    EXPECT_TRUE(frame.CommandStates().Enabled(ID_EDIT_COPY));
    EXPECT_TRUE(frame.CommandStates().Enabled(ID_EDIT_DELETE));

    ASSERT_TRUE(tree.SelectItemLeaf(tree.Items()[0].get()));
    HWND editor = frame.View().EditorFor(kTextItemType)->Handle();
    for (WPARAM key : {VK_F6, VK_TAB}) {
        ::SetFocus(tree.Handle());
        MSG toView = {tree.Handle(), WM_KEYDOWN, key, 0x00010001, 0, {}};
        EXPECT_TRUE(loop_.PreTranslateMessage(toView)) << key;
        EXPECT_EQ(editor, ::GetFocus()) << key;
        MSG toTree = {editor, WM_KEYDOWN, key, 0x00010001, 0, {}};
        EXPECT_TRUE(loop_.PreTranslateMessage(toTree)) << key;
        EXPECT_EQ(tree.Handle(), ::GetFocus()) << key;
    }

    // A right click on a node leaves the view for the tree, where the menu's Delete and Find act.
    ::SetFocus(editor);
    RECT row = {};
    ASSERT_TRUE(tree.Tree().GetItemRect(tree.Tree().Selection(), row, true));
    ::SendMessageA(tree.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(row.left + 2, row.top + 2));
    EXPECT_EQ(tree.Handle(), ::GetFocus());
}

namespace {
int gSettingChanges = 0;
WNDPROC gViewProc = nullptr;
LRESULT CALLBACK CountSettingChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTINGCHANGE) ++gSettingChanges;
    return ::CallWindowProcA(gViewProc, window, message, wParam, lParam);
}
}  // namespace

TEST_F(MainFrameTest, ThePictureViewsHearOfChangedSystemSettings) {
    MainFrame frame;
    ASSERT_TRUE(frame.CreateMainWindow());
    gSettingChanges = 0;
    for (HWND view : {frame.View().Images().Handle(), frame.View().Metafiles().Handle()}) {
        gViewProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountSettingChanges)));
    }
    ::SendMessageA(frame.Handle(), WM_SETTINGCHANGE, SPI_SETWHEELSCROLLLINES, 0);
    EXPECT_EQ(2, gSettingChanges);
}
