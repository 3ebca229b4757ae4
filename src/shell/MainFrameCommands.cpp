// The commands on the archive tree and the view pane.
#include "shell/MainFrame.h"

#include "resources/resource.h"
#include "shell/OptionsDialog.h"
#include "shell/AboutDialog.h"
#include "shell/HelpFile.h"
#include "shell/Settings.h"
#include "shell/WarningDialog.h"

void MainFrame::OnCopy() {
    if (HTREEITEM node = archive_.Tree().Selection()) archive_.CopyNode(node, Handle());
}

void MainFrame::OnDelete() {
    // The Del key also reaches the view, where it deletes text, not the item.
    HWND focus = ::GetFocus();
    HWND pane = viewPane_.Handle();
    if (focus && (focus == pane || ::GetParent(focus) == pane)) return;
    if (!archive_.SelectionHasRecord()) return;
    HTREEITEM node = archive_.Tree().Selection();
    if (!node) return;
    WarningDialog confirm(IDS_CONFIRM_DELETE);
    if (confirm.Show(Handle(), WarningDialog::kOkCancel) == IDOK) archive_.DeleteNode(node);
}

void MainFrame::OnClearAll() {
    WarningDialog confirm(IDS_CONFIRM_CLEAR);
    if (confirm.Show(Handle(), WarningDialog::kOkCancel) != IDOK) return;
    viewPane_.SetItem(nullptr);
    archive_.EraseAll();
}

void MainFrame::OnSave() {
    if (viewPane_.IsModified()) viewPane_.Save();
}

void MainFrame::OnSaveAs() {
    if (HTREEITEM node = archive_.Tree().Selection()) archive_.SaveNodeAs(node);
}

void MainFrame::OnExternalViewer() {
    if (ClipItem* item = archive_.SelectedItem()) item->ShowInExternalViewer(AppSettings().TempFolder);
}

void MainFrame::OnGroupByDate() { archive_.Rebuild(kGroupByDate); }
void MainFrame::OnGroupByType() { archive_.Rebuild(kGroupByType); }
void MainFrame::OnGroupByApplication() { archive_.Rebuild(kGroupByApplication); }

void MainFrame::OnWordWrap() {
    viewPane_.ToggleWordWrap();
    RefreshCommandStates();
}

void MainFrame::OnFont() {
    if (viewPane_.CurrentItem() && viewPane_.CurrentItem()->TypeCode() == kRtfItemType) viewPane_.ChangeFont();
}

void MainFrame::OnOptions() {
    HWND owner = ::GetActiveWindow();
    OptionsDialog options;
    if (options.Show(owner ? owner : Handle()) != IDOK) return;
    // The folder, the day range or the formats may have changed: the archive is
    // read afresh, and the view must not keep an item that is about to go.
    viewPane_.SetItem(nullptr);
    LoadArchive();
}

void MainFrame::OnHelp() { OpenHelpFile(Handle()); }

void MainFrame::OnAbout() {
    AboutDialog about;
    about.Show(::GetActiveWindow());
}
