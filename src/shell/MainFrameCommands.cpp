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
    // The Del key also reaches the view and the filter box, where it deletes
    // text, not the item.
    HWND focus = ::GetFocus();
    HWND pane = viewPane_.Handle();
    if (focus && (focus == pane || ::GetParent(focus) == pane || focus == filterBox_)) return;
    if (!archive_.SelectionHasRecord()) return;
    const unsigned long long node = archive_.NodeId(archive_.Tree().Selection());
    if (!node) return;
    // Owned by the main window, so it stays in front of it and disables it.
    WarningDialog confirm(IDS_CONFIRM_DELETE);
    if (!archive_.AskHoldingTrim([&] { return confirm.Show(Handle(), WarningDialog::kOkCancel) == IDOK; })) return;
    // Captures arrived while the question was open: the node is looked up again.
    // A view that keeps its item (edits that could not be saved) stops the delete.
    if (HTREEITEM handle = archive_.NodeById(node)) archive_.DeleteNode(handle);
}

void MainFrame::OnClearAll() {
    WarningDialog confirm(IDS_CONFIRM_CLEAR);
    const bool erase = archive_.AskHoldingTrim([&] {
        return confirm.Show(Handle(), WarningDialog::kOkCancel) == IDOK && viewPane_.SetItem(nullptr);
    });
    // The view keeps an item whose edits could not be saved: nothing is erased.
    if (erase) {
        archive_.EraseAll();
        RefreshFilter();
    }
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

void MainFrame::OnGroupByDate() { Regroup(kGroupByDate); }
void MainFrame::OnGroupByType() { Regroup(kGroupByType); }
void MainFrame::OnGroupByApplication() { Regroup(kGroupByApplication); }

void MainFrame::Regroup(int mode) {
    archive_.Rebuild(mode);
    // The shown item's leaf is selected again; where the tree has none, the
    // view follows the tree rather than show an item nothing points to.
    if (viewPane_.CurrentItem() != archive_.SelectedItem()) ShowSelectedItem();
}

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
    // read afresh, and the view must not keep an item that is about to go. Edits
    // that could not be saved keep it: the reload waits for the next Options.
    if (!archive_.AskHoldingTrim([&] { return viewPane_.SetItem(nullptr); })) return;
    LoadArchive();
}

void MainFrame::OnHelp() { OpenHelpFile(Handle()); }

void MainFrame::OnAbout() {
    AboutDialog about;
    about.Show(::GetActiveWindow());
}
