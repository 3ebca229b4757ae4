// The right-hand pane: five stacked viewers, of which only the one suiting the
// shown item is visible; the three editors keep edits until they are saved.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Window.h"
#include "views/ImageView.h"
#include "views/ItemEditor.h"
#include "views/MetafileView.h"

class ClipItem;

extern const char kViewPaneClass[];

class ViewPane : public Window {
public:
    // The visible pane of the main window, or the hidden one the tree searches with.
    bool CreatePane(HWND parent, bool visible, const RECT& rect = {});

    // Shows the item (or nothing). Unsaved edits of the item shown are offered
    // for saving first; false when the user chose to save and they could not
    // be written: the pane then stays on its item with the edits. An item whose
    // file cannot be read is shown as a notice saying so, read-only.
    bool SetItem(ClipItem* item);
    // Whether the item shown could not be read: nothing can be saved over it.
    bool IsUnreadable() const { return unreadable_; }
    ClipItem* CurrentItem() const { return current_; }
    bool IsModified() const;
    // Puts the edits into the item and rewrites its item file. A file that
    // cannot be written is reported to the user and the edits stay unsaved.
    bool Save();
    // Puts unsaved edits into the item shown without writing its file (which
    // went elsewhere); false when there were none to keep.
    bool KeepEdits();
    bool FindText(const std::wstring& text, unsigned flags);
    void ToggleWordWrap();
    bool WordWrap() const { return wordWrap_; }
    bool CanWordWrap() const;
    void ChangeFont();

    // The viewer showing the item now, or null.
    HWND ShownViewer() const;
    // The editor of a type code; null for the picture types.
    ItemEditor* EditorFor(int typeCode);
    ImageView& Images() { return imageView_; }
    MetafileView& Metafiles() { return metafileView_; }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    bool OnCreate(const CREATESTRUCTA& create);
    bool OnSize(UINT type, int width, int height);
    // Every viewer at (0, 0) with the size, its stacking order kept.
    void PlaceViewers(int width, int height, UINT flags);
    const ItemEditor* EditorFor(int typeCode) const;
    HWND ViewerFor(int typeCode);

    ClipItem* current_ = nullptr;
    bool unreadable_ = false;
    bool wordWrap_ = false;
    RtfEditor rtfEditor_;
    ImageView imageView_;
    HtmlEditor htmlEditor_;
    MetafileView metafileView_;
    TextEditor textEditor_;
};
