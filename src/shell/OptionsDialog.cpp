#include "shell/OptionsDialog.h"

#include <objbase.h>
#include <shlobj.h>

#include <climits>

#include "archive/SourceApp.h"
#include "base/Paths.h"
#include "framework/UniqueHandle.h"
#include "framework/WindowPlacement.h"
#include "resources/resource.h"
#include "shell/ExcludedProgramsDialog.h"
#include "shell/MainWindowHandle.h"
#include "shell/Settings.h"

namespace {

// Longest text read back from a box, in characters.
constexpr int kMaxBoxChars = 512;

// The value of the text's leading decimal digits: 0 when it starts with none.
int LeadingDigitsValue(const std::string& text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        // A digits-only box still takes a pasted number of any length; a limit
        // that large means "as much as there can be", not whatever it wraps to.
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

// The picker needs COM on this thread; the program's start has it already, and
// then this only counts one more use.
class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_;
};

int CALLBACK SelectStartFolder(HWND picker, UINT message, LPARAM, LPARAM folder) {
    if (message == BFFM_INITIALIZED && folder && *reinterpret_cast<const char*>(folder)) {
        ::SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, folder);
        // Wine's picker may still be filling its tree at this point and then
        // lose the selection; asked again once the picker is idle, it keeps it.
        // The path outlives the picker, so posting a pointer to it is safe.
        ::PostMessageA(picker, BFFM_SETSELECTIONA, TRUE, folder);
    }
    return 0;
}

}  // namespace

bool BrowseForFolder(HWND owner, std::string& path) {
    ComApartment com;
    const std::string start = path;
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = "Select a folder";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = SelectStartFolder;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    UniqueCoTaskMem chosen(::SHBrowseForFolderA(&info));
    if (!chosen) return false;

    char folder[MAX_PATH] = {};
    if (!::SHGetPathFromIDListA(static_cast<PCIDLIST_ABSOLUTE>(chosen.get()), folder)) return false;
    path = WithTrailingBackslash(folder);
    return true;
}

OptionsDialog::OptionsDialog() : ModalDialog(IDD_OPTIONS) {}

int OptionsDialog::Show(HWND owner) { return DoModal(owner) == IDOK ? IDOK : IDCANCEL; }

bool OptionsDialog::OnInitDialog(LPARAM) {
    const Settings& settings = AppSettings();
    SetChecked(IDC_PROCESS_TEXTS, settings.ProcessTexts);
    SetChecked(IDC_PROCESS_HTML, settings.ProcessHTML);
    SetChecked(IDC_PROCESS_RTF, settings.ProcessRTF);
    SetChecked(IDC_PROCESS_IMAGES, settings.ProcessImages);
    SetChecked(IDC_PROCESS_METAFILES, settings.ProcessMetafiles);
    SetChecked(IDC_LOAD_TODAY_ONLY, !settings.LoadWholeArchive);
    SetChecked(IDC_LAUNCH_ON_STARTUP, settings.Startup);
    excluded_ = settings.ExcludedPrograms;
    HWND dialog = Handle();
    ::SetDlgItemTextA(dialog, IDC_ARCHIVE_FOLDER, settings.ArchiveFolder.c_str());
    ::SetDlgItemTextA(dialog, IDC_ITEMS_LIMIT, std::to_string(settings.ItemsLimit).c_str());
    ::SetDlgItemTextA(dialog, IDC_DISK_SIZE_LIMIT, std::to_string(settings.DiskSizeLimit).c_str());
    ::SetDlgItemTextA(dialog, IDC_HOT_KEY, settings.HotKey.c_str());
    ::SendDlgItemMessageA(dialog, IDC_HOT_KEY, EM_LIMITTEXT, 1, 0);

    CenterWindow(dialog);
    if (HICON icon = WindowIcon(MainWindowHandle()))
        ::SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    return true;
}

bool OptionsDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<OptionsDialog> kMessages[] = {
        msg::Command<&OptionsDialog::OnOk>(IDOK),
        msg::Command<&OptionsDialog::OnBrowse>(IDC_BROWSE),
        msg::Command<&OptionsDialog::OnExcludedPrograms>(IDC_EXCLUDED_PROGRAMS),
    };
    return DispatchMessageTable<OptionsDialog>(*this, kMessages, message, wParam, lParam, result) ||
           ModalDialog::ProcessMessage(message, wParam, lParam, result);
}

void OptionsDialog::OnOk() {
    Settings& settings = AppSettings();
    settings.ProcessTexts = Checked(IDC_PROCESS_TEXTS);
    settings.ProcessImages = Checked(IDC_PROCESS_IMAGES);
    settings.ProcessHTML = Checked(IDC_PROCESS_HTML);
    settings.ProcessRTF = Checked(IDC_PROCESS_RTF);
    settings.ProcessMetafiles = Checked(IDC_PROCESS_METAFILES);
    settings.SetArchiveFolder(ControlText(IDC_ARCHIVE_FOLDER));
    settings.LoadWholeArchive = !Checked(IDC_LOAD_TODAY_ONLY);
    settings.ItemsLimit = LeadingDigitsValue(ControlText(IDC_ITEMS_LIMIT));
    settings.DiskSizeLimit = LeadingDigitsValue(ControlText(IDC_DISK_SIZE_LIMIT));
    settings.HotKey = ControlText(IDC_HOT_KEY).substr(0, 1);
    settings.Startup = Checked(IDC_LAUNCH_ON_STARTUP);
    settings.ExcludedPrograms = excluded_;
    // The shortcut carries the hot key: it is made anew so that a changed key takes effect.
    settings.SyncStartupShortcut(settings.Startup);
    settings.Save();
    End(IDOK);
}

void OptionsDialog::OnBrowse(UINT notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) return;
    std::string folder = ControlText(IDC_ARCHIVE_FOLDER);
    if (BrowseForFolder(Handle(), folder)) ::SetDlgItemTextA(Handle(), IDC_ARCHIVE_FOLDER, folder.c_str());
}

void OptionsDialog::OnExcludedPrograms(UINT notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) return;
    ExcludedProgramsDialog(excluded_).Show(Handle());
}

std::string OptionsDialog::ControlText(int control) const {
    char text[kMaxBoxChars + 1] = {};
    ::GetDlgItemTextA(Handle(), control, text, sizeof(text));
    return text;
}

bool OptionsDialog::Checked(int control) const { return ::IsDlgButtonChecked(Handle(), control) == BST_CHECKED; }

void OptionsDialog::SetChecked(int control, bool checked) const {
    ::CheckDlgButton(Handle(), control, checked ? BST_CHECKED : BST_UNCHECKED);
}
