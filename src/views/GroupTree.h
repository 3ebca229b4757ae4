// The archive as a tree, grouped by date, type or application: the left pane of
// the main window and, at the same time, the live archive, so every item that
// joins or leaves the archive joins or leaves the tree.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "archive/ItemArchive.h"
#include "framework/TreeViewCtrl.h"
#include "framework/UniqueHandle.h"
#include "framework/Window.h"
#include "views/ViewPane.h"

class RtfItem;

// The grouping modes, as the settings store them.
enum GroupMode : int {
    kGroupByDate = 1,
    kGroupByType = 2,
    kGroupByApplication = 3,
};

// What a node stands for: a group carries nothing, a capture node one clipboard
// change, a leaf one item.
struct NodeRef {
    enum Kind { kGroup, kCapture, kItem };
    Kind kind = kGroup;
    CaptureRecord* capture = nullptr;
    ClipItem* item = nullptr;
};

class GroupTree : public ItemArchive, public Window {
public:
    GroupTree();
    ~GroupTree() override;

    // Creates the tree control as a visible child of the parent.
    bool CreateTree(HWND parent, UINT id, const RECT& rect = {});
    TreeViewCtrl Tree() const { return TreeViewCtrl(Handle()); }

    // Told the mode every rebuild stores, for the settings.
    void SetGroupByHook(std::function<void(int)> hook) { groupByHook_ = std::move(hook); }
    // Told just before an item is destroyed, so whatever shows it lets go.
    void SetItemLeavingHook(std::function<void(ClipItem*)> hook) { itemLeavingHook_ = std::move(hook); }

    // Fills the tree anew in the mode (a GroupMode), then trims.
    void Rebuild(int mode);
    int GroupBy() const { return groupBy_; }
    virtual void AddItemNode(ClipItem* item);
    // Deletes an item leaf, or a capture node with its leaves, from the tree,
    // the archive and the disk; other nodes are left alone.
    virtual void DeleteNode(HTREEITEM node);
    virtual void SaveNodeAs(HTREEITEM node);
    // Empties the clipboard, then puts the node's item, or every item of the
    // capture, on it.
    virtual void CopyNode(HTREEITEM node, HWND owner);
    // Deletes what falls outside the captures limit.
    void TrimToLimit();

    ClipItem* SelectedItem() const;
    // Selects the leaf of the item; false when the tree shows no such leaf.
    bool SelectItemLeaf(const ClipItem* item);
    bool SelectionHasRecord() const;
    // Searches the items after the selected node (FR_DOWN: downward) for the
    // text and selects the first that holds it.
    bool FindItem(const std::wstring& text, unsigned flags);
    // Works out, ahead of the first search, the text that RTF items show (which
    // takes the rich edit control some milliseconds each), for at most the
    // budget; true while some remain. The owner calls it while idle.
    bool PrepareSearch(DWORD budgetMs);
    // The parent's TVN_DELETEITEM: the node's record goes with it.
    void OnDeleteItem(const NMTREEVIEWA& info);

    // Null for a node the tree does not know.
    const NodeRef* NodeRefOf(HTREEITEM node) const;
    HIMAGELIST ImageList() const { return imageList_.get(); }
    int TypeImage(int typeCode) const;

    void Clear() override;
    void OnItemAdded(ClipItem* item) override { AddItemNode(item); }
    void Trim() override { TrimToLimit(); }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Node;
    Node* AddChild(Node* parent, const std::string& label, NodeRef ref, int image);
    Node* FindOrAddGroup(Node* parent, const std::string& label, int image);
    Node* FindOrAddCapture(Node* parent, CaptureRecord& capture, int image);
    // Puts a node of the model into the control at its place among its siblings.
    void InsertIntoControl(Node& node);
    void InsertSubtree(Node& node);
    // Takes the node and everything below it out of the model.
    void ForgetNode(HTREEITEM handle);
    void ForgetAll();
    Node* NodeOf(HTREEITEM handle) const;
    void DeleteItemLeaf(HTREEITEM handle, ClipItem* item);
    void CreateImageList();
    int ApplicationImage(const CaptureRecord& capture);
    std::string SortKey(const std::string& label);
    bool Visit(Node& node, const std::wstring& text, unsigned flags, HTREEITEM selected, bool& started);
    // False only when the item's shown text cannot hold the search text, which
    // spares loading it into the search pane; the pane decides the rest.
    bool MayContain(ClipItem& item, const std::wstring& text, unsigned flags);
    // The text an RTF item shows, worked out once per content.
    const std::wstring& RtfShownText(RtfItem& item);
    void CollectExpired(Node& node, double bound, std::vector<HTREEITEM>& leaves, std::vector<HTREEITEM>& captures);
    LRESULT OnRightButtonDown(WPARAM, LPARAM lParam);
    void OnDestroy();

    int groupBy_ = kGroupByDate;
    std::function<void(int)> groupByHook_;
    std::function<void(ClipItem*)> itemLeavingHook_;
    UniqueImageList imageList_;
    int typeImages_[5] = {};
    std::map<WORD, int> applicationImages_;
    int fallbackImage_ = -1;
    ViewPane searchPane_;
    // The tree as the control shows it, with the indexes that find a group by its
    // label and a capture node by its GUID without asking the control.
    std::unique_ptr<Node> root_;
    std::unordered_map<HTREEITEM, Node*> nodes_;
    std::unordered_map<std::string, std::string> sortKeys_;
    struct ShownText {
        uint64_t revision = 0;
        std::wstring text;
    };
    std::unordered_map<const ClipItem*, ShownText> rtfTexts_;
    size_t preparedItems_ = 0;
    // A rebuild collects the whole model first and inserts it in order at the end.
    bool deferInsert_ = false;
};
