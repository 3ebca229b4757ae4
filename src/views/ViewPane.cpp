#include "views/ViewPane.h"

#include "archive/ItemFile.h"
#include "base/CodePage.h"
#include "framework/MessageMap.h"
#include "framework/Module.h"
#include "items/ClipItem.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

const char kViewPaneClass[] = "SvaultViewPane";

bool ViewPane::CreatePane(HWND parent, bool visible, const RECT& rect) {
    WNDCLASSEXA windowClass = {};
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kViewPaneClass;
    if (!RegisterWindowClass(windowClass)) return false;
    const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0);
    return Create(kViewPaneClass, "", style, 0, parent, nullptr, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top) != nullptr;
}

bool ViewPane::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<ViewPane> kMessages[] = {
        msg::Create<&ViewPane::OnCreate>(),
        msg::Size<&ViewPane::OnSize>(),
    };
    return DispatchMessageTable<ViewPane>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

bool ViewPane::OnCreate(const CREATESTRUCTA&) {
    RECT client = {};
    ::GetClientRect(Handle(), &client);
    return rtfEditor_.CreateEditor(Handle(), client) && imageView_.CreateView(Handle(), client) &&
           htmlEditor_.CreateEditor(Handle(), client) && metafileView_.CreateView(Handle(), client) &&
           textEditor_.CreateEditor(Handle(), client);
}

void ViewPane::PlaceViewers(int width, int height, UINT flags) {
    for (HWND child : {rtfEditor_.Handle(), imageView_.Handle(), htmlEditor_.Handle(), metafileView_.Handle(),
                       textEditor_.Handle()})
        ::SetWindowPos(child, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE | flags);
}

bool ViewPane::OnSize(UINT, int width, int height) {
    PlaceViewers(width, height, 0);
    return true;
}

ItemEditor* ViewPane::EditorFor(int typeCode) {
    switch (typeCode) {
    case kTextItemType:
        return &textEditor_;
    case kRtfItemType:
        return &rtfEditor_;
    case kHtmlItemType:
        return &htmlEditor_;
    default:
        return nullptr;
    }
}

const ItemEditor* ViewPane::EditorFor(int typeCode) const { return const_cast<ViewPane*>(this)->EditorFor(typeCode); }

HWND ViewPane::ViewerFor(int typeCode) {
    if (ItemEditor* editor = EditorFor(typeCode)) return editor->Handle();
    if (typeCode == kBitmapItemType) return imageView_.Handle();
    if (typeCode == kMetafileItemType) return metafileView_.Handle();
    return nullptr;
}

HWND ViewPane::ShownViewer() const {
    if (current_ && unreadable_) return textEditor_.Handle();
    return current_ ? const_cast<ViewPane*>(this)->ViewerFor(current_->TypeCode()) : nullptr;
}

bool ViewPane::SetItem(ClipItem* item) {
    // The item shown already: its edits stay as they are.
    if (item && item == current_) return true;
    if (current_ && IsModified()) {
        const std::string text = LoadResourceString(IDS_SAVE_CHANGES);
        const std::string caption = LoadResourceString(IDS_PRODUCT_NAME);
        // What was typed must not be lost for a file that could not be written.
        if (::MessageBoxA(Handle(), text.c_str(), caption.c_str(), MB_OKCANCEL) == IDOK && !Save()) return false;
    }
    current_ = item;
    RECT client = {};
    ::GetClientRect(Handle(), &client);
    PlaceViewers(client.right, client.bottom, SWP_HIDEWINDOW);
    // Data that cannot be read back is never shown (nor later saved) as empty.
    unreadable_ = item && !item->EnsureData();
    const ClipItem* shown = unreadable_ ? nullptr : item;
    textEditor_.SetReadOnly(false);
    imageView_.Load(shown);
    metafileView_.Load(shown);
    if (ItemEditor* editor = shown ? EditorFor(shown->TypeCode()) : nullptr) unreadable_ = !editor->Load(shown);
    if (unreadable_) textEditor_.ShowNotice(ToWide(LoadResourceString(IDS_ITEM_UNREADABLE_VIEW), CP_ACP));
    if (item) {
        if (HWND viewer = ShownViewer())
            ::SetWindowPos(viewer, nullptr, 0, 0, client.right, client.bottom,
                           SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }
    return true;
}

bool ViewPane::IsModified() const {
    if (unreadable_) return false;
    const ItemEditor* editor = current_ ? EditorFor(current_->TypeCode()) : nullptr;
    return editor && editor->IsModified();
}

bool ViewPane::Save() {
    if (!current_ || unreadable_) return false;
    ItemEditor* editor = EditorFor(current_->TypeCode());
    if (!editor || !editor->Store(current_)) return false;
    if (WriteItemFile(*current_, current_->RecordPath())) return true;
    // The item holds the edits, but its file does not: they count as unsaved.
    editor->SetModified(true);
    ReportSaveFailure(current_->RecordPath());
    return false;
}

bool ViewPane::KeepEdits() {
    if (!IsModified()) return false;
    ItemEditor* editor = EditorFor(current_->TypeCode());
    if (!editor->Store(current_)) return false;
    editor->SetModified(false);
    return true;
}

bool ViewPane::FindText(const std::wstring& text, unsigned flags) {
    ItemEditor* editor = current_ ? EditorFor(current_->TypeCode()) : nullptr;
    return editor && editor->FindText(text, flags);
}

void ViewPane::ToggleWordWrap() {
    wordWrap_ = !wordWrap_;
    rtfEditor_.SetWordWrap(wordWrap_);
    htmlEditor_.SetWordWrap(wordWrap_);
    textEditor_.SetWordWrap(wordWrap_);
}

bool ViewPane::CanWordWrap() const { return current_ && EditorFor(current_->TypeCode()); }

void ViewPane::ChangeFont() {
    if (ItemEditor* editor = current_ ? EditorFor(current_->TypeCode()) : nullptr) editor->ChangeFont();
}
