#include "shell/OptionsDialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "archive/SourceApp.h"
#include "base/Paths.h"
#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "framework/UniqueHandle.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "shell/MainWindowHandle.h"
#include "shell/Settings.h"
#include "SavedSettings.h"
#include "support/ArchiveGenerator.h"
#include "support/DialogAnswerer.h"
#include "support/TempFolder.h"

namespace {

const char kSettingsKey[] = "Software\\Brindlework\\Scrapvault\\1.0\\Settings";
constexpr int kCheckBoxes[] = {IDC_PROCESS_TEXTS,     IDC_PROCESS_HTML,    IDC_PROCESS_RTF,      IDC_PROCESS_IMAGES,
                               IDC_PROCESS_METAFILES, IDC_LOAD_TODAY_ONLY, IDC_LAUNCH_ON_STARTUP};
constexpr int kTextBoxes[] = {IDC_ARCHIVE_FOLDER, IDC_DISK_SIZE_LIMIT, IDC_ITEMS_LIMIT, IDC_HOT_KEY};

// What the open dialog showed, read from the answering thread.
struct SeenDialog {
    std::string title;
    HWND owner = nullptr;
    HICON icon = nullptr;
    std::map<int, bool> checked;
    std::map<int, std::string> text;
    std::vector<int> tabOrder;
    LONG_PTR hotKeyStyle = 0, diskLimitStyle = 0, itemsLimitStyle = 0;
    LRESULT hotKeyLimit = 0;
};

std::string TextOf(HWND dialog, int control) {
    char text[600] = {};
    ::GetDlgItemTextA(dialog, control, text, sizeof(text));
    return text;
}

DialogStep Record(SeenDialog& seen) {
    return DialogAnswerer::Run([&seen](HWND dialog) {
        char title[64] = {};
        ::GetWindowTextA(dialog, title, sizeof(title));
        seen.title = title;
        seen.owner = ::GetWindow(dialog, GW_OWNER);
        seen.icon = reinterpret_cast<HICON>(::SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
        for (int id : kCheckBoxes) seen.checked[id] = ::IsDlgButtonChecked(dialog, id) == BST_CHECKED;
        for (int id : kTextBoxes) seen.text[id] = TextOf(dialog, id);
        HWND first = ::GetDlgItem(dialog, IDC_PROCESS_TEXTS);
        HWND control = first;
        do {
            seen.tabOrder.push_back(::GetDlgCtrlID(control));
            control = ::GetNextDlgTabItem(dialog, control, FALSE);
        } while (control && control != first && seen.tabOrder.size() < 30);
        seen.hotKeyStyle = ::GetWindowLongPtrA(::GetDlgItem(dialog, IDC_HOT_KEY), GWL_STYLE);
        seen.diskLimitStyle = ::GetWindowLongPtrA(::GetDlgItem(dialog, IDC_DISK_SIZE_LIMIT), GWL_STYLE);
        seen.itemsLimitStyle = ::GetWindowLongPtrA(::GetDlgItem(dialog, IDC_ITEMS_LIMIT), GWL_STYLE);
        seen.hotKeyLimit = ::SendDlgItemMessageA(dialog, IDC_HOT_KEY, EM_GETLIMITTEXT, 0, 0);
    });
}

// Waits (3 s at most) until the folder picker's tree has selected the folder
// whose path is given.
DialogStep WaitForPickerSelection(std::string path) {
    path.pop_back();
    const std::string name = path.substr(path.find_last_of('\\') + 1);
    return DialogAnswerer::Run([name](HWND picker) {
        HWND tree = ::FindWindowExA(picker, nullptr, WC_TREEVIEWA, nullptr);
        for (int tries = 0; tree && tries < 150; ++tries, ::Sleep(20)) {
            char text[MAX_PATH] = {};
            TVITEMA item = {};
            item.mask = TVIF_TEXT;
            item.hItem = reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            if (item.hItem && ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) && name == text)
                return;
        }
    });
}

// Typed into a box the way a person does: select what is there, then the keys.
DialogStep Type(int control, std::string keys) {
    return DialogAnswerer::Run([control, keys](HWND dialog) {
        HWND box = ::GetDlgItem(dialog, control);
        ::SendMessageA(box, EM_SETSEL, 0, -1);
        for (char key : keys) ::SendMessageA(box, WM_CHAR, static_cast<unsigned char>(key), 1);
    });
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

// The hot key the shell reads from the saved link; 0 when it cannot be read.
WORD ShortcutHotKey(const std::string& file) {
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> persist;
    WORD hotKey = 0;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
        FAILED(persist->Load(Wide(file).c_str(), STGM_READ)) || FAILED(link->GetHotkey(&hotKey)))
        return 0;
    return hotKey;
}

// A stored value's bytes; empty when it is absent.
std::string StoredValue(const char* name) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    char data[600];
    DWORD size = sizeof(data);
    if (::RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return {};
    return std::string(data, size);
}

std::string DwordBytes(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// The fields the dialog edits, for comparing two records.
auto EditedFields(const Settings& s) {
    return std::make_tuple(s.ArchiveFolder, s.LoadWholeArchive, s.HotKey, s.ProcessTexts, s.ProcessImages, s.ProcessRTF,
                           s.ProcessHTML, s.ProcessMetafiles, s.Startup, s.DiskSizeLimit, s.ItemsLimit);
}

}  // namespace

class OptionsDialogTest : public ::testing::Test {
protected:
    OptionsDialogTest() : saved_(AppSettings()) {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RemoveSavedSettings();
        AppSettings().ArchiveFolder = archive_.Path();
        AppModule().AddMessageLoop(&loop_);
    }
    ~OptionsDialogTest() override {
        frame_.reset();
        SetMainWindowHandle(nullptr);
        AppModule().RemoveMessageLoop();
        AppSettings() = saved_;
        RemoveSavedSettings();
        ::CoUninitialize();
    }

    // The main window with the archive loaded as the settings say; paused, so
    // that no clipboard change of the machine joins the archive meanwhile.
    MainFrame& OpenFrame() {
        frame_ = std::make_unique<MainFrame>();
        EXPECT_TRUE(frame_->CreateMainWindow());
        SetMainWindowHandle(frame_->Handle());
        frame_->LoadArchive();
        ::SendMessageA(frame_->Handle(), WM_COMMAND, ID_FILE_PAUSE, 0);
        return *frame_;
    }

    // Options as the menu runs it; returns when the dialog has closed.
    void ChooseOptions() { ::SendMessageA(frame_->Handle(), WM_COMMAND, ID_VIEW_OPTIONS, 0); }

    TempFolder archive_;
    Settings saved_;
    MessageLoop loop_;
    std::unique_ptr<MainFrame> frame_;
};

TEST_F(OptionsDialogTest, ShowsTheSettingsAndCancelChangesNothing) {
    Settings& settings = AppSettings();
    settings.ProcessHTML = false;
    settings.ProcessMetafiles = false;
    settings.LoadWholeArchive = true;
    settings.ItemsLimit = 25;
    settings.DiskSizeLimit = 7;
    settings.HotKey = "Q";
    MainFrame& frame = OpenFrame();
    const Settings before = settings;

    SeenDialog seen;
    DialogAnswerer answerer;
    answerer.Expect({Record(seen), DialogAnswerer::SetText(IDC_ARCHIVE_FOLDER, archive_ / "elsewhere"),
                     DialogAnswerer::Check(IDC_LOAD_TODAY_ONLY, BST_CHECKED),
                     DialogAnswerer::Check(IDC_PROCESS_TEXTS, BST_UNCHECKED), Type(IDC_HOT_KEY, "z"),
                     Type(IDC_ITEMS_LIMIT, "3"), DialogAnswerer::Click(IDCANCEL)});
    ChooseOptions();
    ASSERT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_EQ("Options", seen.title);
    EXPECT_EQ(frame.Handle(), seen.owner);
    EXPECT_EQ(WindowIcon(frame.Handle()), seen.icon);
    EXPECT_NE(nullptr, seen.icon);
    EXPECT_EQ((std::map<int, bool>{{IDC_PROCESS_TEXTS, true},
                                   {IDC_PROCESS_HTML, false},
                                   {IDC_PROCESS_RTF, true},
                                   {IDC_PROCESS_IMAGES, true},
                                   {IDC_PROCESS_METAFILES, false},
                                   {IDC_LOAD_TODAY_ONLY, false},
                                   {IDC_LAUNCH_ON_STARTUP, true}}),
              seen.checked);
    EXPECT_EQ((std::map<int, std::string>{{IDC_ARCHIVE_FOLDER, archive_.Path()},
                                          {IDC_DISK_SIZE_LIMIT, "7"},
                                          {IDC_ITEMS_LIMIT, "25"},
                                          {IDC_HOT_KEY, "Q"}}),
              seen.text);
    EXPECT_EQ(
        (std::vector<int>{IDC_PROCESS_TEXTS, IDC_PROCESS_HTML, IDC_PROCESS_RTF, IDC_PROCESS_IMAGES,
                          IDC_PROCESS_METAFILES, IDC_ARCHIVE_FOLDER, IDC_BROWSE, IDC_LOAD_TODAY_ONLY,
                          IDC_EXCLUDED_PROGRAMS, IDC_DISK_SIZE_LIMIT, IDC_ITEMS_LIMIT, IDC_LAUNCH_ON_STARTUP, IDC_HOT_KEY, IDOK, IDCANCEL}),
        seen.tabOrder);
    EXPECT_TRUE(seen.hotKeyStyle & ES_UPPERCASE);
    EXPECT_EQ(1, seen.hotKeyLimit);
    EXPECT_TRUE(seen.diskLimitStyle & ES_NUMBER);
    EXPECT_TRUE(seen.itemsLimitStyle & ES_NUMBER);

    // Cancel: the record, the registry and the startup folder are as they were.
    EXPECT_EQ(EditedFields(before), EditedFields(settings));
    EXPECT_EQ("", StoredValue("ArchiveFolder"));
    EXPECT_FALSE(FileExists(Settings::StartupShortcutPath()));
    EXPECT_EQ(archive_.Path(), frame.Archive().Options().folder);
}

TEST_F(OptionsDialogTest, ClearingLoadOnlyTodayReloadsEveryDayFolder) {
    ArchiveShape shape;
    shape.captures = 12;
    shape.days = 3;
    shape.todayShare = 0.4;
    GeneratedArchive written;
    ASSERT_TRUE(GenerateArchive(archive_.Path(), shape, &written));
    ASSERT_LT(0, written.todayItems);
    ASSERT_LT(written.todayItems, written.items);
    MainFrame& frame = OpenFrame();
    ASSERT_EQ(static_cast<size_t>(written.todayItems), frame.Archive().Items().size());
    ASSERT_TRUE(frame.Archive().SelectItemLeaf(frame.Archive().Items()[0].get()));
    ASSERT_NE(nullptr, frame.View().CurrentItem());

    DialogAnswerer answerer;
    // The limits take the value of their leading digits, and no more than there can be.
    answerer.Expect({DialogAnswerer::Check(IDC_LOAD_TODAY_ONLY, BST_UNCHECKED),
                     DialogAnswerer::SetText(IDC_DISK_SIZE_LIMIT, "99999999999"),
                     DialogAnswerer::SetText(IDC_ITEMS_LIMIT, ""), DialogAnswerer::Click(IDOK)});
    ChooseOptions();
    ASSERT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_TRUE(AppSettings().LoadWholeArchive);
    EXPECT_EQ(INT_MAX, AppSettings().DiskSizeLimit);
    EXPECT_EQ(0, AppSettings().ItemsLimit);
    EXPECT_EQ(DwordBytes(1), StoredValue("LoadWholeArchive"));
    EXPECT_EQ(nullptr, frame.View().CurrentItem());
    EXPECT_TRUE(frame.Archive().Options().loadWholeArchive);
    EXPECT_EQ(static_cast<size_t>(written.items), frame.Archive().Items().size());
}

TEST_F(OptionsDialogTest, ALowerCaseHotKeyIsStoredUpperCaseAndTheShortcutCarriesIt) {
    OpenFrame();
    SeenDialog typed;
    DialogAnswerer answerer;
    answerer.Expect({Type(IDC_HOT_KEY, "k"), Record(typed), DialogAnswerer::Click(IDOK)});
    ChooseOptions();
    ASSERT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_EQ("K", typed.text[IDC_HOT_KEY]);
    EXPECT_EQ("K", AppSettings().HotKey);
    EXPECT_EQ(std::string("K", 2), StoredValue("HotKey"));
    EXPECT_EQ(MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT), ShortcutHotKey(Settings::StartupShortcutPath()));
}

TEST_F(OptionsDialogTest, UntickingLaunchOnStartupDeletesTheShortcut) {
    OpenFrame();
    AppSettings().SyncStartupShortcut(true);
    const std::string shortcut = Settings::StartupShortcutPath();
    ASSERT_TRUE(FileExists(shortcut));

    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::Check(IDC_LAUNCH_ON_STARTUP, BST_UNCHECKED), DialogAnswerer::Click(IDOK)});
    ChooseOptions();
    ASSERT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_FALSE(AppSettings().Startup);
    EXPECT_FALSE(FileExists(shortcut));
    EXPECT_EQ(DwordBytes(0), StoredValue("Startup"));
}

TEST_F(OptionsDialogTest, AFolderThatDoesNotExistFallsBackToTheProgramsArchive) {
    // The program's own archive folder (here the test program's), made for this test.
    const std::string fallback = ProgramFolder() + "Archive\\";
    DeleteFolderTree(fallback);
    struct RemoveAfterwards {
        std::string folder;
        ~RemoveAfterwards() { DeleteFolderTree(folder); }
    } removeAfterwards{fallback};
    ArchiveShape shape;
    shape.captures = 3;
    shape.days = 0;  // all of them today
    GeneratedArchive written;
    ASSERT_TRUE(GenerateArchive(fallback, shape, &written));
    ASSERT_LT(0, written.todayItems);
    MainFrame& frame = OpenFrame();
    ASSERT_TRUE(frame.Archive().Items().empty());

    DialogAnswerer answerer;
    answerer.Expect(
        {DialogAnswerer::SetText(IDC_ARCHIVE_FOLDER, archive_ / "no such folder"), DialogAnswerer::Click(IDOK)});
    ChooseOptions();
    ASSERT_TRUE(answerer.WaitForAnswers(1));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_EQ(fallback, AppSettings().ArchiveFolder);
    EXPECT_EQ(fallback + '\0', StoredValue("ArchiveFolder"));
    EXPECT_EQ(fallback, frame.Archive().Options().folder);
    EXPECT_EQ(static_cast<size_t>(written.todayItems), frame.Archive().Items().size());
}

TEST_F(OptionsDialogTest, BrowseStartsAtTheTypedFolderAndCancelKeepsThePick) {
    TempFolder picked;
    std::string typed = picked.Path();
    typed.pop_back();  // as a person types it, without the "\"
    const Settings before = AppSettings();

    SeenDialog afterPick;
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::SetText(IDC_ARCHIVE_FOLDER, typed), DialogAnswerer::Click(IDC_BROWSE)});
    // The shell's picker, taken as soon as it has selected a folder by itself
    // (it fills its tree after it shows; under load that takes a while).
    const DialogScript& picker = answerer.Expect({WaitForPickerSelection(picked.Path()), DialogAnswerer::Click(IDOK)});
    answerer.Expect({Record(afterPick), DialogAnswerer::Click(IDCANCEL)});
    EXPECT_EQ(IDCANCEL, OptionsDialog().Show(nullptr));
    ASSERT_TRUE(answerer.WaitForAnswers(3));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_NE(std::string::npos, picker.seenText.find("Select a folder")) << picker.seenText;
    EXPECT_EQ(picked.Path(), afterPick.text[IDC_ARCHIVE_FOLDER]);
    EXPECT_EQ(EditedFields(before), EditedFields(AppSettings()));
}

TEST_F(OptionsDialogTest, ExcludedProgramsRemovesTheChosenEntryAndOkKeepsTheRest) {
    ExcludeList& excluded = AppSettings().ExcludedPrograms;
    excluded = ExcludeList();
    for (const char* key : {"a.exe|A", "b.exe|B", "c.exe|C"}) ASSERT_TRUE(excluded.Add(key));

    std::vector<std::string> shown;
    DialogAnswerer answerer;
    answerer.Expect({DialogAnswerer::Click(IDC_EXCLUDED_PROGRAMS)});
    const DialogScript& list = answerer.Expect(
        {DialogAnswerer::Run([&shown](HWND dialog) {
             HWND box = ::GetDlgItem(dialog, IDC_EXCLUDED_LIST);
             for (int i = 0; i < ::SendMessageA(box, LB_GETCOUNT, 0, 0); ++i) {
                 char text[64] = {};
                 ::SendMessageA(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
                 shown.push_back(text);
             }
             ::SendMessageA(box, LB_SETCURSEL, 1, 0);
         }),
         DialogAnswerer::Click(IDC_REMOVE_PROGRAM), DialogAnswerer::Click(IDOK)});
    answerer.Expect({DialogAnswerer::Click(IDOK)});
    EXPECT_EQ(IDOK, OptionsDialog().Show(nullptr));
    ASSERT_TRUE(answerer.WaitForAnswers(3));
    EXPECT_EQ(0, answerer.Unexpected());

    EXPECT_EQ("Excluded Programs", list.seenTitle);
    EXPECT_EQ((std::vector<std::string>{"a.exe (A)", "b.exe (B)", "c.exe (C)"}), shown);
    EXPECT_EQ((std::vector<std::string>{"a.exe|A", "c.exe|C"}), excluded.Programs());
    EXPECT_EQ(std::string("a.exe|A\0c.exe|C\0\0", 17), StoredValue("ExcludedPrograms"));
}
