#include "shell/MainFrame.h"

#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "archive/Catalog.h"
#include "archive/SourceApp.h"
#include "framework/MessageMap.h"
#include "framework/Module.h"
#include "resources/resource.h"
#include "shell/MainWindowHandle.h"
#include "shell/Settings.h"

const char kMainWindowClass[] = "Scrapvault 1.0 class";

namespace {
// Longest product name, in characters.
constexpr int kMaxProductNameChars = 512;
constexpr DWORD kSearchPreparationSliceMs = 20;
// The framework's ids of a frame's bars.
constexpr UINT kToolBarId = 0xE800;
constexpr UINT kReBarId = 0xE800;
constexpr UINT kStatusBarId = 0xE801;
constexpr UINT kCommandBarId = 0xE802;
constexpr DWORD kBarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | CCS_NODIVIDER;

// The commands whose state follows the selection, and where they appear.
constexpr UpdateUi::Entry kTrackedCommands[] = {
    {ID_FILE_PAUSE, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_FILE_SAVE, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_EDIT_DELETE, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_FILE_SAVE_AS, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_EXTERNAL_VIEWER, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_VIEW_WORD_WRAP, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_VIEW_FONT, UpdateUi::kMenu | UpdateUi::kToolBar},
    {ID_EDIT_COPY, UpdateUi::kMenu | UpdateUi::kToolBar},
};
}  // namespace

MainFrame::MainFrame()
    : updateUi_(kTrackedCommands), taskbarCreatedMessage_(::RegisterWindowMessageA("TaskbarCreated")) {
    HINSTANCE instance = AppModule().Instance();
    // The notification area shows small icons; load that size rather than scale.
    icon_.reset(static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), 0)));
    char name[kMaxProductNameChars + 1] = {};
    ::LoadStringA(instance, IDS_PRODUCT_NAME, name, sizeof(name));
    productName_ = name;
    archive_.SetSizeLimitHook([this] { OnSizeLimitExceeded(); });
    archive_.SetWritesFailingHook([this] { OnWritesFailing(); });
    archive_.SetExcludeList(&AppSettings().ExcludedPrograms);
    archive_.SetGroupByHook([](int mode) { AppSettings().GroupBy = mode; });
    archive_.SetItemLeavingHook(
        [this](ClipItem* item) { return viewPane_.CurrentItem() != item || viewPane_.SetItem(nullptr); });
    archive_.SetItemDepartingHook([this](ClipItem* item) { return KeepDepartingItem(item); });
}

namespace {

// The catalog lives in the user's local application data, never in the
// archive folder: the archive stays plain files to copy, back up and sync.
std::string CatalogPathFor(const std::string& archiveFolder) {
    char local[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, local)))
        return {};
    return Catalog::PathFor(std::string(local) + "\\Scrapvault\\", archiveFolder);
}

}  // namespace

void MainFrame::LoadArchive() {
    const Settings& settings = AppSettings();
    ArchiveOptions options;
    options.folder = settings.ArchiveFolder;
    options.catalogPath = CatalogPathFor(options.folder);
    options.loadWholeArchive = settings.LoadWholeArchive;
    options.readUnknownDaysLater = true;
    options.formats = {settings.ProcessTexts, settings.ProcessImages, settings.ProcessRTF, settings.ProcessHTML,
                       settings.ProcessMetafiles};
    options.diskSizeLimit = settings.DiskSizeLimit;
    options.itemsLimit = settings.ItemsLimit;
    options.fallbackIcon = Handle() ? WindowIcon(Handle()) : icon_.get();
    // Watched from before the load on: nothing that comes meanwhile is missed.
    WatchArchiveFolder(options.folder);
    catalogPercent_ = 0;
    archive_.LoadArchive(options);
    archive_.Rebuild(settings.GroupBy);
    RefreshFilter();
}

MainFrame::~MainFrame() {
    // Still alive (the loop ended some other way): destroy it while the handlers exist.
    if (Handle()) ::DestroyWindow(Handle());
}

bool MainFrame::CreateMainWindow() {
    HINSTANCE instance = AppModule().Instance();
    WNDCLASSEXA windowClass = {};
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.hIcon = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXICON),
                                                        ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                          ::GetSystemMetrics(SM_CXSMICON),
                                                          ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINFRAME);
    windowClass.lpszClassName = kMainWindowClass;
    if (!RegisterWindowClass(windowClass)) return false;
    if (!Create(kMainWindowClass, productName_.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                WS_EX_APPWINDOW | WS_EX_WINDOWEDGE))
        return false;
    RestorePlacement();
    return true;
}

bool MainFrame::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<MainFrame> kMessages[] = {
        msg::Create<&MainFrame::OnCreate>(),
        msg::Destroy<&MainFrame::OnDestroy>(),
        msg::Size<&MainFrame::OnSize>(),
        msg::Raw<&MainFrame::OnMenuSelect>(WM_MENUSELECT),
        msg::Raw<&MainFrame::OnExitMenuLoop>(WM_EXITMENULOOP),
        msg::ContextMenu<&MainFrame::OnContextMenu>(),
        msg::Notify<&MainFrame::OnTreeSelectionChanged>(kGroupTreeId, TVN_SELCHANGEDA),
        msg::Notify<&MainFrame::OnTreeItemDeleted>(kGroupTreeId, TVN_DELETEITEMA),
        msg::Notify<&MainFrame::OnTreeItemExpanding>(kGroupTreeId, TVN_ITEMEXPANDINGA),
        msg::Notify<&MainFrame::OnReBarHeightChange>(kReBarId, RBN_HEIGHTCHANGE),
        msg::Maybe<&MainFrame::OnToolTipText>(WM_NOTIFY),
        msg::Maybe<&MainFrame::OnMeasureItem>(WM_MEASUREITEM),
        msg::Maybe<&MainFrame::OnDrawItem>(WM_DRAWITEM),
        msg::Maybe<&MainFrame::OnShowWindow>(WM_SHOWWINDOW),
        msg::Maybe<&MainFrame::OnActivate>(WM_ACTIVATE),
        msg::Raw<&MainFrame::OnSetFocus>(WM_SETFOCUS),
        msg::SysCommand<&MainFrame::OnSysCommand>(),
        msg::Raw<&MainFrame::OnDrawClipboard>(WM_DRAWCLIPBOARD),
        msg::ChangeCbChain<&MainFrame::OnChangeCbChain>(),
        msg::Raw<&MainFrame::OnNotifyIcon>(kNotifyIconMessage),
        msg::Raw<&MainFrame::OnCapturePending>(kCapturePendingMessage),
        msg::Raw<&MainFrame::OnAfterCapture>(kAfterCaptureMessage),
        msg::Raw<&MainFrame::OnFindAgain>(kFindAgainMessage),
        msg::Maybe<&MainFrame::OnSettingChange>(WM_SETTINGCHANGE),
        msg::Raw<&MainFrame::OnWritesDone>(kWritesDoneMessage),
        msg::Raw<&MainFrame::OnFolderChanged>(kFolderChangedMessage),
        msg::Raw<&MainFrame::OnCatalogProgress>(kCatalogProgressMessage),
        msg::Raw<&MainFrame::OnEndSession>(WM_ENDSESSION),
        msg::Raw<&MainFrame::OnTimer>(WM_TIMER),
        msg::Command<&MainFrame::OnExit>(ID_APP_EXIT),
        msg::Command<&MainFrame::OnPause>(ID_FILE_PAUSE),
        msg::Command<&MainFrame::OnShowMainWindow>(ID_SHOW_MAIN_WINDOW),
        msg::Command<&MainFrame::OnCopy>(ID_EDIT_COPY),
        msg::Command<&MainFrame::OnDelete>(ID_EDIT_DELETE),
        msg::Command<&MainFrame::OnClearAll>(ID_EDIT_CLEAR_ALL),
        msg::Command<&MainFrame::OnSave>(ID_FILE_SAVE),
        msg::Command<&MainFrame::OnSaveAs>(ID_FILE_SAVE_AS),
        msg::Command<&MainFrame::OnExternalViewer>(ID_EXTERNAL_VIEWER),
        msg::Command<&MainFrame::OnGroupByDate>(ID_GROUP_BY_DATE),
        msg::Command<&MainFrame::OnGroupByType>(ID_GROUP_BY_TYPE),
        msg::Command<&MainFrame::OnGroupByApplication>(ID_GROUP_BY_APPLICATION),
        msg::Command<&MainFrame::OnWordWrap>(ID_VIEW_WORD_WRAP),
        msg::Command<&MainFrame::OnFont>(ID_VIEW_FONT),
        msg::Command<&MainFrame::OnOptions>(ID_VIEW_OPTIONS),
        msg::Command<&MainFrame::OnHelp>(ID_HELP_CONTENTS),
        msg::Command<&MainFrame::OnAbout>(ID_APP_ABOUT),
        msg::Command<&MainFrame::OnNeverArchiveProgram>(ID_NEVER_ARCHIVE_PROGRAM),
        msg::InitMenuPopup<&MainFrame::OnInitMenuPopup>(),
        msg::Command<&MainFrame::OnFind>(ID_EDIT_FIND),
        msg::Command<&MainFrame::OnFilter>(ID_EDIT_FILTER),
        msg::Command<&MainFrame::OnFilterBox>(kFilterBoxId),
    };
    if (message == taskbarCreatedMessage_ && message != 0) {
        OnTaskbarCreated();
        result = 0;
        return true;
    }
    // Registered when the dialog is first opened: 0 matches no message before.
    if (message == find_.message && message != 0) {
        result = OnFindNotification(wParam, lParam);
        return true;
    }
    // A command shown disabled does nothing, however it was sent.
    if (message == WM_COMMAND && !CommandEnabled(LOWORD(wParam))) {
        result = 0;
        return true;
    }
    return DispatchMessageTable<MainFrame>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

bool MainFrame::OnCreate(const CREATESTRUCTA&) {
    accelerators_ = ::LoadAcceleratorsA(AppModule().Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (MessageLoop* loop = AppModule().GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    if (!CreateBars()) return false;
    RECT client = {};
    ::GetClientRect(Handle(), &client);
    if (!statusBar_.Create(Handle(), kStatusBarId, IDS_READY)) return false;
    if (!splitter_.CreateSplitter(Handle(), client) || !archive_.CreateTree(splitter_.Handle(), kGroupTreeId) ||
        !viewPane_.CreatePane(splitter_.Handle(), true))
        return false;
    splitter_.SetPanes(archive_.Handle(), viewPane_.Handle());
    Layout();
    // The tree takes a quarter of the width, but never so little that its labels
    // vanish, until the user has placed the bar.
    const int saved = AppSettings().SplitterPosition;
    splitter_.SetPosition(saved > 0 ? saved : std::max<int>(client.right / 4, 180));
    updateUi_.AddToolBar(&toolBar_);
    ::SetWindowTextA(Handle(), productName_.c_str());
    notifyIcon_.Add(Handle(), kNotifyIconMessage, icon_.get(), productName_);
    archive_.SetWriterNotice(Handle(), kWritesDoneMessage);
    archive_.SetCatalogNotice(Handle(), kCatalogProgressMessage);
    JoinClipboardChain();
    // Paused until now: the notification that joining brings is passed on, not captured.
    paused_ = false;
    return true;
}

void MainFrame::OnDestroy() {
    // Unsaved edits are offered for saving before the program ends.
    viewPane_.SetItem(nullptr);
    RememberPlacement();
    if (MessageLoop* loop = AppModule().GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
    notifyIcon_.Remove();
    watcher_.Stop();
    LeaveClipboardChain();
    archive_.SetWriterNotice(nullptr, 0);
    archive_.SetCatalogNotice(nullptr, 0);
    ::PostQuitMessage(0);
}

bool MainFrame::CreateBars() {
    if (!commandBar_.CreateBar(Handle(), kCommandBarId,
                               kBarStyle | TBSTYLE_LIST | TBSTYLE_FLAT | CCS_NORESIZE | CCS_NOPARENTALIGN))
        return false;
    if (!toolBar_.Create(Handle(), IDR_MAINFRAME, kToolBarId,
                         kBarStyle | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN))
        return false;
    commandBar_.SetMenuImages(toolBar_);
    if (!reBar_.Create(Handle(), kReBarId, kBarStyle | RBS_VARHEIGHT | RBS_BANDBORDERS | RBS_AUTOSIZE)) return false;
    return reBar_.AddBand(commandBar_.Handle(), commandBar_.IdealSize(), false) &&
           reBar_.AddBand(toolBar_.Handle(), toolBar_.IdealSize(), true, true) && CreateFilterBox();
}

bool MainFrame::PreTranslateMessage(MSG& message) {
    // The menu bar takes Alt, F10 and the mnemonics first, and every key while
    // it is selected; then the find dialog its own keys.
    if (commandBar_.PreTranslateMessage(message)) return true;
    if (FindDialogMessage(message)) return true;
    if (message.message == WM_KEYDOWN && (FilterKey(message) || SwitchPane(message))) return true;
    if (accelerators_ && Handle()) ::TranslateAcceleratorA(Handle(), accelerators_, &message);
    return false;
}

void MainFrame::OnIdle() {
    if (!Handle()) return;
    RefreshCommandStates();
    // A slice at a time, so the window stays quick; the message brings the next.
    const bool more =
        archive_.ContinueFilter(kSearchPreparationSliceMs) || archive_.PrepareSearch(kSearchPreparationSliceMs);
    // Captures that match join the filter's count, and so do the matches of
    // the search's last slice, after which no message may come for a while.
    if (archive_.Filtering() && archive_.FilterMatchCount() != shownFilterCount_) ShowFilterCount();
    if (more) ::PostMessageA(Handle(), WM_NULL, 0, 0);
}

void MainFrame::UpdateCommandStates() {
    for (const UpdateUi::Entry& entry : updateUi_.Table())
        updateUi_.SetState(entry.command, CommandEnabled(entry.command), CommandChecked(entry.command));
}

void MainFrame::RefreshCommandStates() {
    UpdateCommandStates();
    updateUi_.ApplyToMenu(commandBar_.Menu());
    updateUi_.ApplyToToolBars();
}

bool MainFrame::CommandChecked(UINT command) const {
    switch (command) {
    case ID_FILE_PAUSE:
        return paused_;
    case ID_VIEW_WORD_WRAP:
        return viewPane_.WordWrap();
    default:
        return false;
    }
}

bool MainFrame::CommandEnabled(UINT command) const {
    const ClipItem* shown = viewPane_.CurrentItem();
    switch (command) {
    case ID_FILE_SAVE:
        return viewPane_.IsModified();
    case ID_FILE_SAVE_AS:
    case ID_EXTERNAL_VIEWER:
        return shown != nullptr;
    case ID_VIEW_WORD_WRAP:
        return viewPane_.CanWordWrap();
    case ID_VIEW_FONT:
        return shown && shown->TypeCode() == kRtfItemType;
    case ID_EDIT_DELETE:
    case ID_EDIT_COPY:
        return archive_.SelectionHasRecord();
    default:
        return true;
    }
}

bool MainFrame::OnContextMenu(HWND window, POINT screenPoint) {
    const bool fromKeyboard = screenPoint.x == -1 && screenPoint.y == -1;
    HWND tree = archive_.Handle();
    HWND pane = viewPane_.Handle();
    if (window == tree) {
        TreeViewCtrl control = archive_.Tree();
        HTREEITEM node = nullptr;
        if (fromKeyboard) {
            node = control.Selection();
            RECT row = {};
            if (!node || !control.GetItemRect(node, row, true)) return true;
            screenPoint = {row.left, row.bottom};
            ::ClientToScreen(tree, &screenPoint);
        } else {
            POINT client = screenPoint;
            ::ScreenToClient(tree, &client);
            node = control.HitTest(client);
        }
        if (node) TrackContextMenu(IDR_TREE_CONTEXT, screenPoint);
        return true;
    }
    if (window == pane || ::IsChild(pane, window)) {
        if (fromKeyboard) {
            POINT caret = {};
            HWND viewer = viewPane_.ShownViewer();
            if (!viewer || !::GetCaretPos(&caret)) caret = {};
            screenPoint = caret;
            ::ClientToScreen(viewer ? viewer : pane, &screenPoint);
        }
        TrackContextMenu(IDR_VIEW_CONTEXT, screenPoint);
        return true;
    }
    return false;
}

void MainFrame::TrackContextMenu(UINT menuId, POINT screenPoint) {
    UniqueMenu menu(::LoadMenuA(AppModule().Instance(), MAKEINTRESOURCEA(menuId)));
    HMENU popup = ::GetSubMenu(menu.get(), 0);
    if (!popup) return;
    // Asked here rather than while idle: naming a group's program walks its captures.
    if (menuId == IDR_TREE_CONTEXT)
        ::EnableMenuItem(popup, ID_NEVER_ARCHIVE_PROGRAM,
                         MF_BYCOMMAND | (CanNeverArchiveSelection() ? MF_ENABLED : MF_GRAYED));
    ::TrackPopupMenu(popup, TPM_VERTICAL | TPM_RIGHTBUTTON, screenPoint.x, screenPoint.y, 0, Handle(), nullptr);
}

void MainFrame::OnSize(UINT type, int, int) {
    if (type != SIZE_MINIMIZED) Layout();
}

void MainFrame::Layout() {
    RECT client = {};
    ::GetClientRect(Handle(), &client);
    const int top = reBar_.Layout();
    const int status = statusBar_.Layout();
    ::SetWindowPos(splitter_.Handle(), nullptr, 0, top, client.right, std::max<int>(client.bottom - top - status, 0),
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainFrame::OnReBarHeightChange(const NMHDR&) {
    Layout();
    return 0;
}

bool MainFrame::OnMeasureItem(WPARAM, LPARAM lParam, LRESULT& result) {
    result = TRUE;
    return commandBar_.OnMeasureMenuImage(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
}

bool MainFrame::OnDrawItem(WPARAM, LPARAM lParam, LRESULT& result) {
    result = TRUE;
    return commandBar_.OnDrawMenuImage(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
}

bool MainFrame::OnToolTipText(WPARAM, LPARAM lParam, LRESULT& result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!header || (header->code != TTN_GETDISPINFOA && header->code != TTN_GETDISPINFOW)) return false;
    const std::string text = LoadResourceString(static_cast<UINT>(header->idFrom));
    const size_t tip = text.find('\n');
    const std::string shown = tip == std::string::npos ? std::string() : text.substr(tip + 1);
    // Copied into the structure's own buffer, which outlives this call.
    if (header->code == TTN_GETDISPINFOA) {
        auto& info = *reinterpret_cast<NMTTDISPINFOA*>(lParam);
        lstrcpynA(info.szText, shown.c_str(), sizeof(info.szText));
        info.lpszText = info.szText;
        info.hinst = nullptr;
    } else {
        auto& info = *reinterpret_cast<NMTTDISPINFOW*>(lParam);
        info.szText[0] = L'\0';
        ::MultiByteToWideChar(CP_ACP, 0, shown.c_str(), -1, info.szText, static_cast<int>(std::size(info.szText)));
        info.szText[std::size(info.szText) - 1] = L'\0';
        info.lpszText = info.szText;
        info.hinst = nullptr;
    }
    result = 0;
    return true;
}

LRESULT MainFrame::OnMenuSelect(WPARAM wParam, LPARAM lParam) {
    const UINT item = LOWORD(wParam), flags = HIWORD(wParam);
    // The menu closed, or the item opens a popup or is a separator: no prompt.
    if ((flags == 0xFFFF && !lParam) || (flags & (MF_POPUP | MF_SEPARATOR)))
        statusBar_.ShowReady();
    else
        statusBar_.ShowPrompt(item);
    return 0;
}

LRESULT MainFrame::OnExitMenuLoop(WPARAM, LPARAM) {
    statusBar_.ShowReady();
    return 0;
}

LRESULT MainFrame::OnCatalogProgress(WPARAM, LPARAM) {
    archive_.OnCatalogProgress();
    // Messages posted before the last one may come after it: the builder's own count is the truth.
    const int percent = archive_.CatalogPercent();
    statusBar_.ShowState(percent >= 100 ? std::string() : LoadResourceString(IDS_CATALOGING) + std::to_string(percent) + "%");
    // A filter shown meanwhile searched the days cataloged then: it searches
    // the whole archive again once, not at every step, which would close the
    // groups the user is looking through.
    if (percent >= 100 && std::exchange(catalogPercent_, percent) < 100) RefreshFilter();
    catalogPercent_ = percent;
    return 0;
}

LRESULT MainFrame::OnTreeSelectionChanged(const NMHDR& header) {
    // A rebuild selects the shown item's leaf again once the tree is whole.
    if (archive_.Rebuilding()) return 0;
    NoteFilterChoice(header);
    ShowSelectedItem();
    return 0;
}

void MainFrame::ShowSelectedItem() {
    // Edits that could not be saved keep the pane on their item, and the tree
    // goes back to it, so what is selected is what is shown. The question to
    // save is a modal loop in which no trim may take either item away.
    ClipItem* selected = archive_.SelectedItem();
    if (!archive_.AskHoldingTrim([&] { return viewPane_.SetItem(selected); }))
        archive_.SelectItemLeaf(viewPane_.CurrentItem());
    // The commands follow every selection, the tree's own first one included.
    RefreshCommandStates();
}

LRESULT MainFrame::OnTreeItemDeleted(const NMHDR& header) {
    archive_.OnDeleteItem(reinterpret_cast<const NMTREEVIEWA&>(header));
    return 0;
}

LRESULT MainFrame::OnTreeItemExpanding(const NMHDR& header) {
    archive_.OnItemExpanding(reinterpret_cast<const NMTREEVIEWA&>(header));
    // Zero lets the node expand.
    return 0;
}

void MainFrame::OnInitMenuPopup(HMENU popup, UINT, bool windowMenu) {
    if (windowMenu) return;
    UpdateCommandStates();
    updateUi_.ApplyToMenu(popup);
}

bool MainFrame::OnSysCommand(UINT command, POINT point) {
    // The character of Alt + key arrives in the low word; 0 is Alt or F10 alone,
    // and the space opens the window menu as usual.
    if (command == SC_KEYMENU) return point.x != ' ' && OnKeyMenu(static_cast<WORD>(point.x));
    // Minimising and closing only hide the window; the program ends through Exit.
    if (command != SC_MINIMIZE && command != SC_CLOSE) return false;
    ToggleMainWindow(Handle());
    return true;
}

void MainFrame::OnExit() { ::PostMessageA(Handle(), WM_CLOSE, 0, 0); }

void MainFrame::OnPause() {
    paused_ = !paused_;
    RefreshCommandStates();
}

bool MainFrame::OnKeyMenu(UINT character) {
    // The window menu has no mnemonic of its own here: an unknown key beeps.
    if (commandBar_.OnKeyMenu(character)) return true;
    ::MessageBeep(0);
    return true;
}

void MainFrame::RestorePlacement() {
    RECT saved = AppSettings().WindowRect;
    // A place on a monitor that is no longer there is forgotten.
    if (::IsRectEmpty(&saved) || !::MonitorFromRect(&saved, MONITOR_DEFAULTTONULL)) return;
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (!::GetWindowPlacement(Handle(), &placement)) return;
    placement.rcNormalPosition = saved;
    placement.showCmd = ::IsWindowVisible(Handle()) ? SW_SHOWNORMAL : SW_HIDE;
    ::SetWindowPlacement(Handle(), &placement);
}

void MainFrame::RememberPlacement() const {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (!::GetWindowPlacement(Handle(), &placement)) return;
    Settings& settings = AppSettings();
    settings.WindowRect = placement.rcNormalPosition;
    settings.SplitterPosition = splitter_.Position();
}

bool MainFrame::OnActivate(WPARAM wParam, LPARAM, LRESULT&) {
    // Leaving: the pane that had the keyboard gets it back on return.
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus && ::IsChild(Handle(), focus)) lastFocus_ = focus;
    }
    return false;
}

LRESULT MainFrame::OnSetFocus(WPARAM, LPARAM) {
    // The frame itself takes no keys: the tree, or the pane last used, does.
    HWND target = lastFocus_ && ::IsWindow(lastFocus_) && ::IsChild(Handle(), lastFocus_) &&
                          ::IsWindowVisible(lastFocus_)
                      ? lastFocus_
                      : archive_.Handle();
    if (target) ::SetFocus(target);
    return 0;
}

bool MainFrame::SwitchPane(const MSG& message) {
    // F6 and Tab or Shift+Tab go from the tree to the view and back, as in
    // Explorer; with Ctrl or Alt they are someone else's.
    if (message.wParam != VK_F6 && message.wParam != VK_TAB) return false;
    if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
    HWND tree = archive_.Handle();
    HWND pane = viewPane_.Handle();
    if (message.hwnd == tree) {
        HWND viewer = viewPane_.ShownViewer();
        ::SetFocus(viewer && ::IsWindowVisible(viewer) ? viewer : pane);
        return true;
    }
    if (message.hwnd == pane || ::IsChild(pane, message.hwnd)) {
        ::SetFocus(tree);
        return true;
    }
    return false;
}

bool MainFrame::OnSettingChange(WPARAM wParam, LPARAM lParam, LRESULT&) {
    // Only top-level windows hear of it; the picture views read the wheel's
    // step from the system settings.
    for (HWND view : {viewPane_.Images().Handle(), viewPane_.Metafiles().Handle()})
        if (view) ::SendMessageA(view, WM_SETTINGCHANGE, wParam, lParam);
    return false;
}

bool MainFrame::OnShowWindow(WPARAM shown, LPARAM, LRESULT&) {
    if (!shown) RememberPlacement();
    // Default processing still shows or hides the owned windows.
    return false;
}

void MainFrame::OnShowMainWindow() { ToggleMainWindow(Handle()); }

LRESULT MainFrame::OnNotifyIcon(WPARAM, LPARAM lParam) {
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        ToggleMainWindow(Handle());
        break;
    case WM_RBUTTONDOWN:
        ShowNotifyIconMenu();
        break;
    default:
        break;
    }
    return 0;
}

void MainFrame::OnTaskbarCreated() { notifyIcon_.Add(Handle(), kNotifyIconMessage, icon_.get(), productName_); }

void MainFrame::ShowNotifyIconMenu() {
    UniqueMenu menu(::LoadMenuA(AppModule().Instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU)));
    HMENU popup = ::GetSubMenu(menu.get(), 0);
    if (!popup) return;
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    // Without being the foreground window the menu would not close when the
    // user clicks elsewhere.
    ::SetForegroundWindow(Handle());
    ::TrackPopupMenu(popup, TPM_VERTICAL | TPM_RIGHTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, Handle(), nullptr);
    ::PostMessageA(Handle(), WM_NULL, 0, 0);
}
