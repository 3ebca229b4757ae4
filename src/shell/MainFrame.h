// The program's one top-level window: member of the clipboard-viewer chain that
// turns clipboard changes into captures, owner of the notification-area icon and
// of the archive, and router of the commands. It lives hidden until shown.
#pragma once

#include <windows.h>

#include <string>

#include "framework/CommandBar.h"
#include "framework/MessageLoop.h"
#include "framework/ReBar.h"
#include "framework/Splitter.h"
#include "framework/StatusBar.h"
#include "framework/ToolBar.h"
#include "framework/UniqueHandle.h"
#include "framework/UpdateUi.h"
#include "archive/FolderWatcher.h"
#include "framework/Window.h"
#include "shell/FindState.h"
#include "shell/NotificationIcon.h"
#include "views/GroupTree.h"
#include "views/ViewPane.h"

// A top-level window of this class is how a running copy is found.
extern const char kMainWindowClass[];
// The notification-area icon reports its mouse events with this message.
constexpr UINT kNotifyIconMessage = WM_USER + 100;
// Posted to itself: a change noticed while a capture ran is looked at once the
// capture is over, and the size check and trim run once the notification that
// brought a capture has been handled.
constexpr UINT kCapturePendingMessage = WM_APP + 1;
constexpr UINT kAfterCaptureMessage = WM_APP + 2;
// Posted to itself after OK in a Find wrap question: the search runs again.
constexpr UINT kFindAgainMessage = WM_APP + 3;
// Posted by the archive's writer thread when it has finished writing files.
constexpr UINT kWritesDoneMessage = WM_APP + 10;
// Posted by the archive's catalog builder as the catalog grows (wParam: how far
// it is, in per cent) and when it is complete (100): what searches the
// catalog may find more now.
constexpr UINT kCatalogProgressMessage = WM_APP + 11;
// Posted by the folder watcher when files of the archive folder changed.
constexpr UINT kFolderChangedMessage = WM_APP + 12;
// Control id of the archive tree.
constexpr UINT kGroupTreeId = 1;
// Control id of the filter box on the rebar.
constexpr UINT kFilterBoxId = 0xE803;

class MainFrame : public Window, public MessageFilter, public IdleHandler {
public:
    MainFrame();
    ~MainFrame() override;

    // Creates the window, hidden; false when that fails.
    bool CreateMainWindow();

    GroupTree& Archive() { return archive_; }
    ViewPane& View() { return viewPane_; }
    Splitter& Split() { return splitter_; }
    StatusBar& Status() { return statusBar_; }
    CommandBar& MenuBar() { return commandBar_; }
    ToolBar& Tools() { return toolBar_; }
    ReBar& Bands() { return reBar_; }
    const UpdateUi& CommandStates() const { return updateUi_; }
    // (Re)loads the archive with what the settings say and shows it grouped as they say.
    void LoadArchive();
    bool Paused() const { return paused_; }
    HWND NextViewer() const { return nextViewer_; }

    // Claims the keys of the menu bar in keyboard mode and the messages of the
    // open Find dialog, which handles them itself. Others: translates the
    // accelerators without claiming the message, so the key also reaches the
    // focused window (Delete relies on that).
    bool PreTranslateMessage(MSG& message) override;
    void OnIdle() override;

    const FindState& Find() const { return find_; }

    // Runs the filter box's query again (the catalog has grown, or the archive
    // was loaded anew); nothing when the box is empty.
    void RefreshFilter();
    HWND FilterBox() const { return filterBox_; }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    bool OnCreate(const CREATESTRUCTA& create);
    void OnDestroy();
    bool OnSysCommand(UINT command, POINT point);
    void OnInitMenuPopup(HMENU popup, UINT position, bool windowMenu);
    void OnExit();
    void OnPause();
    void OnShowMainWindow();
    // The notification-area icon.
    LRESULT OnNotifyIcon(WPARAM wParam, LPARAM lParam);
    void ShowNotifyIconMenu();
    // The shell announces a new notification area (it started late, or again
    // after a crash); the icon is added anew, or the program could not be reached.
    void OnTaskbarCreated();
    // Records the tracked commands' states for the menus and the toolbar.
    void UpdateCommandStates();
    // ... and brings the menu bar and the toolbar in line with them.
    void RefreshCommandStates();
    // Whether a command may run now; the commands without a rule always may.
    bool CommandEnabled(UINT command) const;
    bool CommandChecked(UINT command) const;
    bool CreateBars();
    void OnSize(UINT type, int width, int height);
    void Layout();
    LRESULT OnReBarHeightChange(const NMHDR&);
    // The tooltip of a toolbar button: the text after "\n" of its command's string.
    bool OnToolTipText(WPARAM, LPARAM lParam, LRESULT& result);
    // The images beside the menu items.
    bool OnMeasureItem(WPARAM, LPARAM lParam, LRESULT& result);
    bool OnDrawItem(WPARAM, LPARAM lParam, LRESULT& result);
    // Alt, F10 and Alt with a mnemonic reach the command bar.
    bool OnKeyMenu(UINT character);
    // The window comes back where the user left it, with its splitter bar.
    void RestorePlacement();
    void RememberPlacement() const;
    bool OnShowWindow(WPARAM shown, LPARAM, LRESULT&);
    // F6 and Tab move the keyboard between the tree and the view.
    bool SwitchPane(const MSG& message);
    bool OnSettingChange(WPARAM wParam, LPARAM lParam, LRESULT&);
    // The keyboard goes back to the pane that had it when the window was left.
    bool OnActivate(WPARAM wParam, LPARAM, LRESULT&);
    LRESULT OnSetFocus(WPARAM, LPARAM);
    // The prompt of the highlighted menu item in the status bar, "Ready" after.
    LRESULT OnMenuSelect(WPARAM wParam, LPARAM lParam);
    LRESULT OnExitMenuLoop(WPARAM, LPARAM);
    // The catalog grows in the background: its progress in the status bar.
    LRESULT OnCatalogProgress(WPARAM percent, LPARAM);
    // The menu of a tree node or of the view, at the pointer or, from the
    // keyboard, at the selected node or the caret.
    bool OnContextMenu(HWND window, POINT screenPoint);
    void TrackContextMenu(UINT menuId, POINT screenPoint);
    LRESULT OnTreeSelectionChanged(const NMHDR& header);
    // The view shows the selected item, unless its edits keep it on its own.
    void ShowSelectedItem();
    LRESULT OnTreeItemDeleted(const NMHDR& header);
    LRESULT OnTreeItemExpanding(const NMHDR& header);

    // The commands on the archive and the view (MainFrameCommands.cpp).
    void OnCopy();
    void OnDelete();
    void OnClearAll();
    void OnSave();
    void OnSaveAs();
    void OnExternalViewer();
    void OnGroupByDate();
    void OnGroupByType();
    void OnGroupByApplication();
    void Regroup(int mode);
    void OnWordWrap();
    void OnFont();
    void OnOptions();
    void OnHelp();
    void OnAbout();

    // The exclude list from the tree (MainFrameExclude.cpp).
    // The program of a capture node, an item leaf or an application group;
    // empty when none is known.
    std::string ProgramOfNode(HTREEITEM node) const;
    bool CanNeverArchiveSelection() const;
    void OnNeverArchiveProgram();

    // The clipboard-viewer chain and capture (MainFrameClipboard.cpp).
    void JoinClipboardChain();
    void LeaveClipboardChain();
    LRESULT OnDrawClipboard(WPARAM wParam, LPARAM lParam);
    void OnChangeCbChain(HWND leaving, HWND next);
    // A notice of a change: captured at once, or after the capture that runs.
    void OnClipboardChange();
    LRESULT OnCapturePending(WPARAM, LPARAM);
    void RunCapture(HWND source, CaptureMode mode);
    // Wine's bridge to X11 cannot take a change from an X11 program while a
    // capture holds the clipboard open, and does not try again: once captures
    // have settled, it is asked once to look at the X11 clipboard again.
    void ArmSettleCheck();
    LRESULT OnTimer(WPARAM id, LPARAM);
    // The window a change is attributed to (null: "Unknown Application"); false
    // when the change is the program's own copy.
    bool SourceOfChange(HWND& source) const;
    LRESULT OnAfterCapture(WPARAM, LPARAM);
    LRESULT OnWritesDone(WPARAM, LPARAM);
    // The archive's hook for captures that a full disk keeps from being stored.
    void OnWritesFailing();
    LRESULT OnEndSession(WPARAM ending, LPARAM);
    // The archive's size hook: the warning, never more than one at a time.
    void OnSizeLimitExceeded();
    void PostOnce(bool& posted, UINT message);

    // The archive folder shared with other machines (MainFrameWatch.cpp).
    // Watches the archive folder for other programs' changes.
    void WatchArchiveFolder(const std::string& folder);
    LRESULT OnFolderChanged(WPARAM, LPARAM);
    // The shown item's file was deleted elsewhere: true when the view's edits
    // keep it as a new item; otherwise the view lets go of it.
    bool KeepDepartingItem(ClipItem* item);

    // The filter box (MainFrameFilter.cpp).
    bool CreateFilterBox();
    void OnFilter();
    void OnFilterBox(UINT code, HWND);
    // Esc, Enter, Down and Tab in the box; Enter and Esc in the tree while it
    // shows a filter's matches. True when the key was taken.
    bool FilterKey(const MSG& message);
    // Shows the whole tree again (keeping the match the user chose) and empties the box.
    void ClearFilter();
    // A selection the user made among the matches is the one kept.
    void NoteFilterChoice(const NMHDR& header);
    void ShowFilterCount();

    // Find (MainFrameFind.cpp).
    void OnFind();
    LRESULT OnFindNotification(WPARAM wParam, LPARAM lParam);
    LRESULT OnFindAgain(WPARAM, LPARAM);
    // Searches with the text and choices kept; asks to start again when nothing is left.
    void RunFind();
    // Keeps the open dialog's text and choices as its controls show them.
    void KeepFindChoices();
    void CloseFindDialog();
    // True when the message was the open Find dialog's own.
    bool FindDialogMessage(MSG& message);

    CommandBar commandBar_;
    ToolBar toolBar_;
    ReBar reBar_;
    UpdateUi updateUi_;
    StatusBar statusBar_;
    Splitter splitter_;
    GroupTree archive_;
    ViewPane viewPane_;
    HWND nextViewer_ = nullptr;
    HWND lastFocus_ = nullptr;
    UniqueIcon icon_;
    std::string productName_;
    bool paused_ = true;
    // Loaded from the resources; freed with the module.
    HACCEL accelerators_ = nullptr;
    NotificationIcon notifyIcon_;
    const UINT taskbarCreatedMessage_;
    // A capture waits inside GetClipboardData while other programs render their
    // data; notifications that arrive meanwhile must not start another.
    bool capturing_ = false;
    bool changePending_ = false;
    HWND pendingSource_ = nullptr;
    bool capturePosted_ = false;
    // The bridge was asked to look again: its next notice may be of the clipboard
    // already captured.
    bool refillExpected_ = false;
    DWORD refillAskedAt_ = 0;
    bool afterCapturePosted_ = false;
    bool warningOpen_ = false;
    // Sequence number of the clipboard the last capture took (0: none).
    DWORD capturedSequence_ = 0;
    FindState find_;
    FolderWatcher watcher_;
    // Changed paths not looked at yet: a few at a time, so that a capture due
    // meanwhile is not kept waiting behind a sync engine's burst.
    FolderWatcher::Changes folderPending_;

    // A child of the rebar, destroyed with it.
    HWND filterBox_ = nullptr;
    // The match the user selected in the filter's tree; null for none.
    const ClipItem* filterChoice_ = nullptr;
    size_t shownFilterCount_ = 0;
    // How far the catalog's builder was at its last notice.
    int catalogPercent_ = 0;
};
