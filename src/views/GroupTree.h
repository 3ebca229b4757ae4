// The archive as a tree, grouped by date, type or application: the left pane of
// the main window and, at the same time, the live archive, so every item that
// joins or leaves the archive joins or leaves the tree. The tree is whole in the
// model; the control holds a node's children only once it has been expanded (or
// something in it selected), as inserting a large archive takes seconds.
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
    // Asked before an item is destroyed, so whatever shows it lets go; false
    // when it would not (edits the user wants kept could not be saved): the
    // item then stays, and so does everything the same command would remove.
    void SetItemLeavingHook(std::function<bool(ClipItem*)> hook) { itemLeavingHook_ = std::move(hook); }
    // Asked before an item whose file was deleted elsewhere leaves, so whatever
    // shows it lets go; true when it is to stay as a new item of its capture
    // instead (it holds edits the user has not saved). Asks nothing.
    void SetItemDepartingHook(std::function<bool(ClipItem*)> hook) { itemDepartingHook_ = std::move(hook); }
    // Brings the archive and the tree in line with what other programs changed
    // in the folder: arrivals join, items whose files went leave (and captures
    // left without items), without touching the disk; then trims, as the
    // captures limit counts every machine's captures.
    void ApplyFolderChanges(FolderChanges changes);
    // Runs a question to the user (a modal loop) with the trim held off until
    // it is answered, so no node or item goes from under the asker; returns its answer.
    bool AskHoldingTrim(const std::function<bool()>& question);
    // Whether such a question is open.
    bool Asking() const { return asking_ > 0; }

    // Fills the tree anew in the mode (a GroupMode), selects the leaf of the
    // item that was selected again, then trims. The control gets the top level.
    void Rebuild(int mode);
    int GroupBy() const { return groupBy_; }
    // True while a rebuild empties and refills the control: its selection
    // changes then are not the user's.
    bool Rebuilding() const { return rebuilding_; }
    virtual void AddItemNode(ClipItem* item);
    // The same for many at once, in the order given.
    void AddItemNodes(const std::vector<ClipItem*>& items);
    // The same one by one, with the control's drawing held off meanwhile.
    void AddItemNodesOneByOne(const std::vector<ClipItem*>& items);
    // Deletes an item leaf, or a capture node with its leaves, from the tree,
    // the archive and the disk; other nodes are left alone. False when the
    // hook kept an item: nothing is deleted then.
    virtual bool DeleteNode(HTREEITEM node);
    // A node's identity across a modal loop, in which its handle may be
    // deleted and handed to a new node; 0 for none. NodeById finds it again.
    unsigned long long NodeId(HTREEITEM node) const;
    HTREEITEM NodeById(unsigned long long id) const;
    virtual void SaveNodeAs(HTREEITEM node);
    // Empties the clipboard, then puts the node's item, or every item of the
    // capture, on it.
    virtual void CopyNode(HTREEITEM node, HWND owner);
    // Deletes what falls outside the captures limit, the captures that came
    // first. Stops, deleting nothing, when the hook keeps an item.
    void TrimToLimit();

    ClipItem* SelectedItem() const;
    // Selects the leaf of the item, inserting it and the nodes above it into the
    // control where they are not yet; false when the tree has no such leaf.
    bool SelectItemLeaf(const ClipItem* item);
    bool SelectionHasRecord() const;
    // Searches the items after the selected node (FR_DOWN: downward) for the
    // text and selects the first that holds it.
    bool FindItem(const std::wstring& text, unsigned flags);
    // Works out, ahead of the first search, the text that RTF items show (which
    // takes the rich edit control some milliseconds each), for at most the
    // budget; true while some remain. The owner calls it while idle. With a
    // catalog there is nothing to do: a search asks it which items may hold
    // the text and loads only those, and memory keeps no item's text.
    bool PrepareSearch(DWORD budgetMs);
    // The parent's TVN_DELETEITEM: the node's record goes with it.
    void OnDeleteItem(const NMTREEVIEWA& info);
    // The parent's TVN_ITEMEXPANDING: a node expanded the first time gets its
    // children in the control.
    void OnItemExpanding(const NMTREEVIEWA& info);
    // Every node of the model, each before its children and in the control's
    // order, whether or not the control holds it yet: its depth, label and image.
    void VisitModel(const std::function<void(int depth, const std::string& label, int image)>& visit) const;

    // Null for a node the tree does not know.
    const NodeRef* NodeRefOf(HTREEITEM node) const;
    HIMAGELIST ImageList() const { return imageList_.get(); }
    int TypeImage(int typeCode) const;

    // The filter (GroupTreeFilter.cpp). Shows only the captures with an item
    // whose text contains the text, in any case, from the whole archive whatever
    // is loaded, grouped in the current mode with a date level; the newest
    // matches first, the rest added by ContinueFilter. The selection before the
    // first filter is kept for EndFilter. An empty text is EndFilter(nullptr).
    void SetFilter(const std::wstring& text);
    // Searches the days not yet searched and adds matches not yet shown, for at
    // most the budget; true while some remain. The owner calls it while idle.
    bool ContinueFilter(DWORD budgetMs);
    // Shows the whole tree again and selects `chosen` (an item the filter
    // showed: it stays, in the archive and the tree, even from a day not
    // loaded) or, without one, the item selected before the filter.
    void EndFilter(const ClipItem* chosen);
    bool Filtering() const { return !filterText_.empty(); }
    // The items the filter found so far, and those of them the tree shows or
    // is still to show: the newest, up to a limit.
    size_t FilterMatchCount() const { return filterShown_.size() + filterUnshown_; }
    size_t FilterShownCount() const { return filterShown_.size(); }
    // A query of a letter or two matches most of a large archive, and an item
    // and a node for each would cost every keystroke the time of letting them
    // go: past this many, matches are counted only.
    void SetMostFilterMatchesShown(size_t most) { mostShown_ = most; }
    // Selects the first match's leaf; false when there is none.
    bool SelectFirstMatch();

    void Clear() override;
    void OnItemAdded(ClipItem* item) override;
    void OnItemsLoaded(const std::vector<ClipItem*>& items) override;
    void Trim() override { TrimToLimit(); }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Node;
    // A label with its sort key: one for each distinct label, shared by its nodes.
    using LabelEntry = std::pair<const std::string, std::string>;
    // Fills the tree anew in the mode and selects the item's leaf; a filter's
    // keystroke keeps the images it has.
    void RebuildSelecting(int mode, const ClipItem* selected, bool freshImages = true);
    // The filter's match, made into an item (owned by the filter) when it is of
    // a day not loaded; null when it cannot be.
    ClipItem* FilterItemAt(size_t index);
    // The matches show at once under the first group, when it holds few enough.
    void OpenFirstGroup();
    // An item the filter read for itself joins the archive (it then stays).
    void AdoptFilterItem(const ClipItem* item);
    // Moves the filter's own items, but `keep`, into `leaving` once whatever
    // shows them has let go; one it cannot let go of joins the archive.
    void ReleaseFilterItems(const ClipItem* keep, std::vector<std::unique_ptr<ClipItem>>& leaving);
    Node* AddChild(Node* parent, const std::string& label, NodeRef ref, int image);
    Node* FindOrAddGroup(Node* parent, const std::string& label, int image);
    Node* FindOrAddCapture(Node* parent, CaptureRecord& capture, int image);
    // Puts a node of the model into the control at its place among its siblings.
    void InsertIntoControl(Node& node);
    // Gives the control the node's children, once.
    void Fill(Node& node);
    void InsertChildren(Node& node);
    // The node's handle, after putting it and the nodes above it into the control.
    HTREEITEM Reveal(Node& node);
    // The node's button follows whether the model gives it children.
    void ShowChildren(const Node& node);
    // Takes the node and everything below it out of the model.
    void ForgetNode(HTREEITEM handle);
    void ForgetNode(Node* node);
    void ForgetAll();
    // Out of the control, where it was inserted, and out of the model.
    void RemoveNode(Node& node);
    Node* NodeOf(HTREEITEM handle) const;
    Node* FindLeaf(Node& node, const ClipItem* item) const;
    void CollectCaptureNodes(Node& node, const CaptureRecord* record, std::vector<Node*>& found) const;
    bool LetGoOf(const std::vector<ClipItem*>& items);
    bool DeleteItemLeaf(Node& leaf);
    bool DeleteCaptureNode(Node& capture);
    bool TrimOnce();
    void CreateImageList();
    int ApplicationImage(const CaptureRecord& capture);
    const LabelEntry* LabelOf(const std::string& label);
    // Puts every node's children in the control's order after a rebuild.
    void SortChildren(Node& node);
    bool Visit(Node& node, const std::wstring& text, unsigned flags, HTREEITEM selected, bool& started);
    // False only when the item's shown text cannot hold the search text, which
    // spares loading it into the search pane; the pane decides the rest.
    bool MayContain(ClipItem& item, const std::wstring& text, unsigned flags);
    // The text an RTF item shows, worked out once per content.
    const std::wstring& RtfShownText(RtfItem& item);
    bool Expired(const ClipItem& item, unsigned long long lastOrder) const;
    void CollectExpired(Node& node, unsigned long long lastOrder, std::vector<Node*>& leaves,
                        std::vector<Node*>& captures);
    LRESULT OnRightButtonDown(WPARAM, LPARAM lParam);
    void OnDestroy();

    // The filter's text, folded (empty: no filter), the items it found, newest
    // first (the first filterAdded_ are in the model), those it read from days
    // not loaded, and the selection before it.
    std::wstring filterText_;
    std::vector<FilterMatch> filterShown_;
    // The days still to search, newest first.
    FilterSearch filterSearch_;
    size_t filterAdded_ = 0;
    // Matches found past the most the tree holds: counted only.
    size_t filterUnshown_ = 0;
    size_t mostShown_ = 2000;
    std::unordered_map<const ClipItem*, std::unique_ptr<ClipItem>> filterItems_;
    const ClipItem* beforeFilter_ = nullptr;
    bool trimHeld_ = false;

    int groupBy_ = kGroupByDate;
    std::function<void(int)> groupByHook_;
    std::function<bool(ClipItem*)> itemLeavingHook_;
    std::function<bool(ClipItem*)> itemDepartingHook_;
    UniqueImageList imageList_;
    int typeImages_[5] = {};
    std::map<ApplicationKey, int> applicationImages_;
    int fallbackImage_ = -1;
    ViewPane searchPane_;
    // The whole tree, with the indexes that find a group by its label and a
    // capture node by its GUID without asking the control, and the nodes the
    // control holds by their handles.
    std::unique_ptr<Node> root_;
    std::unordered_map<HTREEITEM, Node*> nodes_;
    // Labels with their sort keys; never emptied, as nodes point into it.
    std::unordered_map<std::string, std::string> sortKeys_;
    struct ShownText {
        uint64_t revision = 0;
        std::wstring text;
    };
    std::unordered_map<const ClipItem*, ShownText> rtfTexts_;
    size_t preparedItems_ = 0;
    // While a find runs: the items that may hold its text; null for all.
    const std::unordered_set<const ClipItem*>* findCandidates_ = nullptr;
    // A rebuild collects the whole model first and inserts its top level at the end.
    bool deferInsert_ = false;
    // While AddItemNodes runs: the nodes not filled that it appended to, with
    // how many children each had before.
    std::unordered_map<Node*, size_t>* batchTails_ = nullptr;
    // How many holds of the control's drawing are open (see RedrawHeld).
    int redrawHeld_ = 0;
    bool rebuilding_ = false;
    unsigned long long lastNodeId_ = 0;
    // Questions open (their modal loops deliver captures), a trim running, and
    // a trim asked for meanwhile, posted to run once they are over.
    int asking_ = 0;
    bool trimming_ = false;
    bool trimPosted_ = false;
};
