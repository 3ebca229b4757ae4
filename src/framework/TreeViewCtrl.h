// A thin typed face of a tree-view control: the handle and the calls, no state.
// The names avoid windowsx.h's macros (GetNextSibling, GetFirstChild).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

class TreeViewCtrl {
public:
    explicit TreeViewCtrl(HWND tree = nullptr) noexcept : tree_(tree) {}
    HWND Handle() const noexcept { return tree_; }

    // Inserts after `insertAfter` (TVI_FIRST, TVI_LAST, TVI_SORT or a sibling),
    // with the image as both the normal and the selected one. `children` (0 or
    // 1) says whether the node shows a button, whatever it holds yet; -1 leaves
    // that to the nodes inserted below it.
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const std::string& text, LPARAM data = 0,
                         int image = 0, int children = -1) const {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent ? parent : TVI_ROOT;
        insert.hInsertAfter = insertAfter;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.item.pszText = const_cast<char*>(text.c_str());
        insert.item.lParam = data;
        insert.item.iImage = image;
        insert.item.iSelectedImage = image;
        if (children >= 0) {
            insert.item.mask |= TVIF_CHILDREN;
            insert.item.cChildren = children;
        }
        return reinterpret_cast<HTREEITEM>(
            ::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    bool SetItemChildren(HTREEITEM item, int children) const {
        TVITEMA change = {};
        change.mask = TVIF_CHILDREN;
        change.hItem = item;
        change.cChildren = children;
        return ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change)) != 0;
    }
    // TVE_EXPAND, TVE_COLLAPSE or TVE_TOGGLE.
    bool Expand(HTREEITEM item, UINT action = TVE_EXPAND) const {
        return ::SendMessageA(tree_, TVM_EXPAND, action, reinterpret_cast<LPARAM>(item)) != 0;
    }
    UINT GetItemState(HTREEITEM item, UINT mask) const {
        return static_cast<UINT>(::SendMessageA(tree_, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
    }
    bool DeleteItem(HTREEITEM item) const {
        return ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)) != 0;
    }
    bool DeleteAllItems() const { return DeleteItem(TVI_ROOT); }

    HTREEITEM GetNextItem(HTREEITEM item, UINT relation) const {
        return reinterpret_cast<HTREEITEM>(
            ::SendMessageA(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    HTREEITEM Root() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM Child(HTREEITEM item) const { return GetNextItem(item, TVGN_CHILD); }
    HTREEITEM NextSibling(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXT); }
    HTREEITEM PrevSibling(HTREEITEM item) const { return GetNextItem(item, TVGN_PREVIOUS); }
    HTREEITEM Parent(HTREEITEM item) const { return GetNextItem(item, TVGN_PARENT); }
    HTREEITEM Selection() const { return GetNextItem(nullptr, TVGN_CARET); }
    bool SelectItem(HTREEITEM item) const {
        return ::SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
    }
    bool EnsureVisible(HTREEITEM item) const {
        return ::SendMessageA(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item)) != 0;
    }
    unsigned GetCount() const { return static_cast<unsigned>(::SendMessageA(tree_, TVM_GETCOUNT, 0, 0)); }

    // The label, at most `maxChars` characters.
    std::string GetItemText(HTREEITEM item, int maxChars = 520) const {
        std::string text(static_cast<size_t>(maxChars) + 1, '\0');
        TVITEMA query = {};
        query.mask = TVIF_TEXT;
        query.hItem = item;
        query.pszText = text.data();
        query.cchTextMax = maxChars + 1;
        if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return {};
        text.resize(std::char_traits<char>::length(text.c_str()));
        return text;
    }
    LPARAM GetItemData(HTREEITEM item) const {
        TVITEMA query = {};
        query.mask = TVIF_PARAM;
        query.hItem = item;
        return ::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) ? query.lParam : 0;
    }
    // (image, selected image)
    bool GetItemImage(HTREEITEM item, int& image, int& selectedImage) const {
        TVITEMA query = {};
        query.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        query.hItem = item;
        if (!::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return false;
        image = query.iImage;
        selectedImage = query.iSelectedImage;
        return true;
    }
    bool SetItemImage(HTREEITEM item, int image, int selectedImage) const {
        TVITEMA change = {};
        change.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        change.hItem = item;
        change.iImage = image;
        change.iSelectedImage = selectedImage;
        return ::SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change)) != 0;
    }
    HIMAGELIST SetImageList(HIMAGELIST list, int which = TVSIL_NORMAL) const {
        return reinterpret_cast<HIMAGELIST>(
            ::SendMessageA(tree_, TVM_SETIMAGELIST, which, reinterpret_cast<LPARAM>(list)));
    }
    // The node's row (its label only, when asked), in client coordinates; false
    // while the node is not shown (its parent collapsed).
    bool GetItemRect(HTREEITEM item, RECT& rect, bool labelOnly) const {
        // The request carries the node in the rectangle's first bytes.
        std::memcpy(&rect, &item, sizeof(item));
        return ::SendMessageA(tree_, TVM_GETITEMRECT, labelOnly, reinterpret_cast<LPARAM>(&rect)) != 0;
    }
    HTREEITEM HitTest(POINT clientPoint) const {
        TVHITTESTINFO hit = {};
        hit.pt = clientPoint;
        return reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    }

private:
    HWND tree_;
};
