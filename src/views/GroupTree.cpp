#include "views/GroupTree.h"

#include <algorithm>
#include <optional>
#include <set>

#include "base/CaptureTime.h"
#include "base/CodePage.h"
#include "base/RecordFile.h"
#include "framework/MessageMap.h"
#include "framework/Module.h"
#include "framework/ScopeGuards.h"
#include "items/HtmlItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"
#include "resources/resource.h"

// A whole archive makes a node for every capture and item: a node keeps its
// label and sort key as one shared entry, and the indexes only where it has
// groups or capture nodes below it.
struct GroupTree::Node {
    const LabelEntry* text = nullptr;
    NodeRef ref;
    HTREEITEM handle = nullptr;
    Node* parent = nullptr;
    unsigned long long id = 0;
    int image = 0;
    // The control holds the children: always at the root, elsewhere from the
    // node's first expansion on.
    bool filled = false;
    // In the control's order (SortsBefore), equal ones in the order they came.
    // A rebuild appends, and sorts once at the end.
    std::vector<std::unique_ptr<Node>> children;
    struct Index {
        // Group children by their label with case ignored, capture nodes by record.
        std::unordered_map<std::wstring, Node*> groups;
        std::unordered_map<const CaptureRecord*, Node*> captures;
    };
    std::unique_ptr<Index> index;

    const std::string& Label() const { return text->first; }
    const std::string& SortKey() const { return text->second; }
    // A capture's time for its node and its items' leaves; 0 for a group.
    double Time() const {
        return ref.capture ? ref.capture->CaptureTime : ref.item ? ref.item->CaptureTime() : 0;
    }
    Index& Indexes() {
        if (!index) index = std::make_unique<Index>();
        return *index;
    }
};

namespace {

// Posted to the tree: a trim asked for while a question was open runs now.
constexpr UINT kTrimMessage = WM_APP + 40;
// Matches put into a filter's tree at once; the rest follow while idle.
constexpr size_t kFilterFirstShown = 500;
// A group opened by itself inserts its children into the control at once.
constexpr size_t kFilterOpenedChildren = 200;

// Labels that differ only in letter case name one group.
std::wstring GroupKey(const std::string& label) {
    std::wstring key = ToWide(label, CP_ACP);
    if (!key.empty()) ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return key;
}

// A match of the editors' search, in either case, is a match here too.
bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view wanted) {
    static const std::vector<wchar_t> upper = [] {
        std::vector<wchar_t> table(65536);
        for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<wchar_t>(i);
        ::CharUpperBuffW(table.data() + 1, static_cast<DWORD>(table.size() - 1));
        return table;
    }();
    auto same = [&](wchar_t a, wchar_t b) { return a == b || upper[a] == upper[b]; };
    return std::search(text.begin(), text.end(), wanted.begin(), wanted.end(), same) != text.end();
}

bool CanHoldText(const ClipItem& item) {
    const int type = item.TypeCode();
    return type == kTextItemType || type == kRtfItemType || type == kHtmlItemType;
}

}  // namespace

GroupTree::GroupTree() { ForgetAll(); }

GroupTree::~GroupTree() {
    ForgetAll();
    // While the object is whole: the control reports its nodes as it goes.
    if (Handle()) ::DestroyWindow(Handle());
}

bool GroupTree::CreateTree(HWND parent, UINT id, const RECT& rect) {
    HWND tree = ::CreateWindowExA(0, WC_TREEVIEWA, "",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TVS_HASBUTTONS |
                                      TVS_HASLINES | TVS_LINESATROOT | TVS_DISABLEDRAGDROP | TVS_SHOWSELALWAYS |
                                      TVS_TRACKSELECT | TVS_INFOTIP,
                                  rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), AppModule().Instance(), nullptr);
    if (!tree) return false;
    if (!Attach(tree) || !searchPane_.CreatePane(tree, false)) {
        ::DestroyWindow(tree);
        return false;
    }
    return true;
}

bool GroupTree::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<GroupTree> kMessages[] = {
        msg::Raw<&GroupTree::OnRightButtonDown>(WM_RBUTTONDOWN),
        msg::Destroy<&GroupTree::OnDestroy>(),
    };
    if (message == kTrimMessage) {
        trimPosted_ = false;
        TrimToLimit();
        result = 0;
        return true;
    }
    if (DispatchMessageTable<GroupTree>(*this, kMessages, message, wParam, lParam, result)) {
        // The control still needs its own WM_DESTROY.
        if (message == WM_DESTROY) result = CallBaseProcedure(message, wParam, lParam);
        return true;
    }
    return Window::ProcessMessage(message, wParam, lParam, result);
}

void GroupTree::OnDestroy() {
    Tree().SetImageList(nullptr);
}

LRESULT GroupTree::OnRightButtonDown(WPARAM, LPARAM lParam) {
    // The node under the pointer is what the context menu acts on, and the
    // tree the window its Delete and Find act in.
    ::SetFocus(Handle());
    if (HTREEITEM node = Tree().HitTest(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) Tree().SelectItem(node);
    return 0;
}

GroupTree::Node* GroupTree::NodeOf(HTREEITEM handle) const {
    auto found = nodes_.find(handle);
    return found == nodes_.end() ? nullptr : found->second;
}

unsigned long long GroupTree::NodeId(HTREEITEM handle) const {
    const Node* node = NodeOf(handle);
    return node ? node->id : 0;
}

HTREEITEM GroupTree::NodeById(unsigned long long id) const {
    if (id == 0) return nullptr;
    for (const auto& [handle, node] : nodes_)
        if (node->id == id) return handle;
    return nullptr;
}

const NodeRef* GroupTree::NodeRefOf(HTREEITEM handle) const {
    Node* node = NodeOf(handle);
    return node ? &node->ref : nullptr;
}

const GroupTree::LabelEntry* GroupTree::LabelOf(const std::string& label) {
    auto cached = sortKeys_.find(label);
    if (cached != sortKeys_.end()) return &*cached;
    // The control's own sorted insertion compares labels in the user's locale;
    // a sort key gives the same order with a plain byte comparison.
    const std::wstring wide = ToWide(label, CP_ACP);
    std::string key;
    const int size = ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY, wide.c_str(), static_cast<int>(wide.size()),
                                    nullptr, 0);
    if (size > 0) {
        key.resize(static_cast<size_t>(size));
        ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY, wide.c_str(), static_cast<int>(wide.size()),
                       reinterpret_cast<LPWSTR>(key.data()), size);
        // The key ends with a zero byte that would make a prefix sort after its extension.
        while (!key.empty() && key.back() == '\0') key.pop_back();
    }
    // Labels the locale sees as equal keep a stable order among themselves.
    key += '\0';
    key += label;
    return &*sortKeys_.emplace(label, key).first;
}

namespace {

// The control's order: by label in the user's locale, and captures of one
// label by their time (a filter's newest first, as it finds them). Files are
// listed in no order of their own, so the order in which they are read (a
// whole load, or a day at a time) must not decide which of two same-titled
// captures comes first.
struct SortsBefore {
    bool newestFirst = false;
    template <typename NodePtr>
    bool operator()(const NodePtr& a, const NodePtr& b) const {
        const int order = a->SortKey().compare(b->SortKey());
        if (order != 0) return order < 0;
        return newestFirst ? a->Time() > b->Time() : a->Time() < b->Time();
    }
};

// Holds the control's drawing off while many nodes come or go (the outermost
// hold lets it draw again): else it lays out all of its items anew for each
// node, which took seconds for a hundred under a large top level.
class RedrawHeld {
public:
    RedrawHeld(HWND tree, int& depth) : tree_(tree), depth_(depth) {
        if (depth_++ == 0) ::SendMessageA(tree_, WM_SETREDRAW, FALSE, 0);
    }
    ~RedrawHeld() {
        if (--depth_ != 0) return;
        ::SendMessageA(tree_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(tree_, nullptr, TRUE);
    }
    RedrawHeld(const RedrawHeld&) = delete;
    RedrawHeld& operator=(const RedrawHeld&) = delete;

private:
    HWND tree_;
    int& depth_;
};

// Where a node goes among its siblings: after those that sort equal.
template <typename NodePtr>
auto FirstAfter(std::vector<NodePtr>& siblings, const NodePtr& node, SortsBefore order) {
    return std::upper_bound(siblings.begin(), siblings.end(), node, order);
}

}  // namespace

void GroupTree::SortChildren(Node& node) {
    std::stable_sort(node.children.begin(), node.children.end(), SortsBefore{Filtering()});
    for (auto& child : node.children) SortChildren(*child);
}

GroupTree::Node* GroupTree::AddChild(Node* parent, const std::string& label, NodeRef ref, int image) {
    auto node = std::make_unique<Node>();
    node->text = LabelOf(label);
    node->ref = ref;
    node->image = image;
    node->parent = parent;
    node->id = ++lastNodeId_;
    Node* added = node.get();
    // After the siblings that sort equal, as the control's sorted insertion
    // does; a rebuild sorts them all at its end, and a batch those of each
    // node the control has not filled (inserting each into a large group's
    // children would move them all thousands of times).
    if (batchTails_ && !parent->filled) {
        batchTails_->emplace(parent, parent->children.size());
        parent->children.push_back(std::move(node));
        return added;
    }
    if (deferInsert_)
        parent->children.push_back(std::move(node));
    else
        parent->children.insert(FirstAfter(parent->children, node, SortsBefore{Filtering()}), std::move(node));
    if (!deferInsert_) {
        // Under a node never expanded only the model changes; its button shows there is more.
        if (parent->filled) InsertIntoControl(*added);
        if (parent->children.size() == 1) ShowChildren(*parent);
    }
    return added;
}

void GroupTree::InsertIntoControl(Node& node) {
    Node* parent = node.parent;
    auto self = std::find_if(parent->children.begin(), parent->children.end(),
                             [&](const auto& child) { return child.get() == &node; });
    HTREEITEM after = TVI_FIRST;
    if (self != parent->children.begin()) after = (*std::prev(self))->handle;
    node.handle = Tree().InsertItem(parent->handle, after, node.Label(), reinterpret_cast<LPARAM>(&node), node.image,
                                    node.children.empty() ? 0 : 1);
    if (node.handle) nodes_[node.handle] = &node;
}

void GroupTree::InsertChildren(Node& node) {
    for (auto& child : node.children) {
        child->handle = Tree().InsertItem(node.handle, TVI_LAST, child->Label(), reinterpret_cast<LPARAM>(child.get()),
                                          child->image, child->children.empty() ? 0 : 1);
        if (child->handle) nodes_[child->handle] = child.get();
    }
}

void GroupTree::Fill(Node& node) {
    if (node.filled || !node.handle) return;
    node.filled = true;
    InsertChildren(node);
}

HTREEITEM GroupTree::Reveal(Node& node) {
    if (!node.handle && node.parent) {
        if (node.parent != root_.get()) Reveal(*node.parent);
        Fill(*node.parent);
    }
    return node.handle;
}

void GroupTree::ShowChildren(const Node& node) {
    // Set either way: a node inserted with a button keeps it, even empty,
    // until told otherwise.
    if (node.handle) Tree().SetItemChildren(node.handle, node.children.empty() ? 0 : 1);
}

void GroupTree::OnItemExpanding(const NMTREEVIEWA& info) {
    if (!(info.action & TVE_EXPAND)) return;
    if (Node* node = NodeOf(info.itemNew.hItem)) Fill(*node);
}

void GroupTree::VisitModel(const std::function<void(int, const std::string&, int)>& visit) const {
    std::function<void(const Node&, int)> walk = [&](const Node& node, int depth) {
        for (const auto& child : node.children) {
            visit(depth, child->Label(), child->image);
            walk(*child, depth + 1);
        }
    };
    walk(*root_, 0);
}

GroupTree::Node* GroupTree::FindOrAddGroup(Node* parent, const std::string& label, int image) {
    std::wstring key = GroupKey(label);
    auto& groups = parent->Indexes().groups;
    auto found = groups.find(key);
    if (found != groups.end()) return found->second;
    Node* group = AddChild(parent, label, NodeRef{}, image);
    groups.emplace(std::move(key), group);
    return group;
}

GroupTree::Node* GroupTree::FindOrAddCapture(Node* parent, CaptureRecord& capture, int image) {
    auto& captures = parent->Indexes().captures;
    auto found = captures.find(&capture);
    if (found != captures.end()) return found->second;
    Node* node = AddChild(parent, capture.Title, NodeRef{NodeRef::kCapture, &capture, nullptr}, image);
    captures.emplace(&capture, node);
    return node;
}

int GroupTree::TypeImage(int typeCode) const {
    switch (typeCode) {
    case kBitmapItemType:
        return typeImages_[0];
    case kTextItemType:
        return typeImages_[1];
    case kHtmlItemType:
        return typeImages_[2];
    case kRtfItemType:
        return typeImages_[3];
    case kMetafileItemType:
        return typeImages_[4];
    default:
        return 0;
    }
}

void GroupTree::CreateImageList() {
    Tree().SetImageList(nullptr);
    imageList_.reset(::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 8, 8));
    applicationImages_.clear();
    fallbackImage_ = -1;
    std::fill(std::begin(typeImages_), std::end(typeImages_), 0);
    if (!imageList_) return;
    HINSTANCE instance = AppModule().Instance();
    // Image 0, for nodes without a picture of their own.
    UniqueBitmap blank(static_cast<HBITMAP>(
        ::LoadImageA(instance, MAKEINTRESOURCEA(IDB_TREE_BLANK), IMAGE_BITMAP, 16, 16, LR_CREATEDIBSECTION)));
    ::ImageList_Add(imageList_.get(), blank.get(), nullptr);
    const UINT typeIcons[5] = {IDI_TYPE_BITMAP, IDI_TYPE_TEXT, IDI_TYPE_HTML, IDI_TYPE_RTF, IDI_TYPE_METAFILE};
    for (int i = 0; i < 5; ++i) {
        UniqueIcon icon(static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(typeIcons[i]), IMAGE_ICON, 16, 16, 0)));
        typeImages_[i] = icon ? ::ImageList_ReplaceIcon(imageList_.get(), -1, icon.get()) : 0;
        if (typeImages_[i] < 0) typeImages_[i] = 0;
    }
    Tree().SetImageList(imageList_.get());
}

int GroupTree::ApplicationImage(const CaptureRecord& capture) {
    if (!imageList_) return 0;
    // One image per application, and one for all that show the program's icon.
    const ApplicationKey key = ApplicationKeyOf(capture);
    auto cached = applicationImages_.find(key);
    if (cached != applicationImages_.end()) return cached->second;
    const SourceApp* app = ApplicationOf(capture);
    if (app && app->Icon()) {
        const int image = ::ImageList_ReplaceIcon(imageList_.get(), -1, app->Icon());
        if (image >= 0) applicationImages_[key] = image;
        return std::max(image, 0);
    }
    if (fallbackImage_ < 0 && Options().fallbackIcon)
        fallbackImage_ = ::ImageList_ReplaceIcon(imageList_.get(), -1, Options().fallbackIcon);
    return std::max(fallbackImage_, 0);
}

void GroupTree::Rebuild(int mode) {
    // The user stays where they were: on the leaf of the item shown.
    RebuildSelecting(mode, SelectedItem());
}

void GroupTree::RebuildSelecting(int mode, const ClipItem* selected, bool freshImages) {
    groupBy_ = mode;
    if (groupByHook_) groupByHook_(mode);
    rebuilding_ = true;
    ForgetAll();
    Tree().DeleteAllItems();
    if (freshImages || !imageList_) CreateImageList();
    // Items may have left the list meanwhile: the preparation looks at all again.
    preparedItems_ = 0;
    // Collected whole, and the top level inserted in order: each insertion then
    // lands at the end. The rest waits until its group is expanded.
    std::optional<RedrawHeld> held(std::in_place, Handle(), redrawHeld_);
    deferInsert_ = true;
    if (Filtering()) {
        for (filterAdded_ = 0; filterAdded_ < std::min(filterShown_.size(), kFilterFirstShown); ++filterAdded_)
            AddItemNode(FilterItemAt(filterAdded_));
    } else {
        for (const auto& item : Items()) AddItemNode(item.get());
    }
    deferInsert_ = false;
    SortChildren(*root_);
    InsertChildren(*root_);
    held.reset();
    rebuilding_ = false;
    SelectItemLeaf(selected);
    Trim();
}

void GroupTree::AddItemNodes(const std::vector<ClipItem*>& items) {
    if (items.empty()) return;
    std::unordered_map<Node*, size_t> tails;
    batchTails_ = &tails;
    // Some go into the control: under the top level, or a group the user
    // opened; and the new parents' buttons, which Wine's control lays out anew
    // for each while it draws (a first start's records held the window 1.5 s
    // a turn for a hundred captures of today).
    RedrawHeld held(Handle(), redrawHeld_);
    for (ClipItem* item : items) AddItemNode(item);
    batchTails_ = nullptr;
    for (auto& [parent, sorted] : tails) {
        auto& children = parent->children;
        const auto tail = children.begin() + static_cast<ptrdiff_t>(sorted);
        // Stable both: the new ones after the siblings that sort equal, in the order they came.
        std::stable_sort(tail, children.end(), SortsBefore{Filtering()});
        std::inplace_merge(children.begin(), tail, children.end(), SortsBefore{Filtering()});
        if (sorted == 0) ShowChildren(*parent);
    }
}

void GroupTree::AddItemNodesOneByOne(const std::vector<ClipItem*>& items) {
    if (items.empty()) return;
    RedrawHeld held(Handle(), redrawHeld_);
    for (ClipItem* item : items) AddItemNode(item);
}

void GroupTree::AddItemNode(ClipItem* item) {
    CaptureRecord* capture = item ? FindCapture(*item) : nullptr;
    if (!capture) return;
    // A filter finds items of any day.
    const bool wholeArchive = Options().loadWholeArchive || Filtering();
    const std::string noLevel;
    const std::string& date = wholeArchive ? item->DateText() : noLevel;
    const int typeImage = TypeImage(item->TypeCode());
    const NodeRef leafRef{NodeRef::kItem, nullptr, item};
    Node* parent = root_.get();
    switch (groupBy_) {
    case kGroupByType:
        parent = FindOrAddGroup(parent, item->TypeName(), typeImage);
        if (!date.empty()) parent = FindOrAddGroup(parent, date, 0);
        AddChild(parent, capture->Title, leafRef, ApplicationImage(*capture));
        break;
    case kGroupByApplication:
        parent = FindOrAddGroup(parent, capture->Title, ApplicationImage(*capture));
        if (!date.empty()) parent = FindOrAddGroup(parent, date, 0);
        AddChild(parent, capture->Title, leafRef, typeImage);
        break;
    default:
        if (!date.empty()) parent = FindOrAddGroup(parent, date, 0);
        parent = FindOrAddCapture(parent, *capture, ApplicationImage(*capture));
        AddChild(parent, item->TypeName(), leafRef, typeImage);
        break;
    }
}

void GroupTree::ForgetNode(HTREEITEM handle) { ForgetNode(NodeOf(handle)); }

void GroupTree::ForgetNode(Node* node) {
    if (!node || !node->parent) return;
    std::vector<Node*> pending = {node};
    while (!pending.empty()) {
        Node* next = pending.back();
        pending.pop_back();
        if (!next->handle) continue;
        nodes_.erase(next->handle);
        if (next->filled)
            for (auto& child : next->children) pending.push_back(child.get());
    }
    Node* parent = node->parent;
    if (parent->index) {
        auto& groups = parent->index->groups;
        for (auto group = groups.begin(); group != groups.end(); ++group)
            if (group->second == node) {
                groups.erase(group);
                break;
            }
        if (node->ref.kind == NodeRef::kCapture) parent->index->captures.erase(node->ref.capture);
    }
    auto first = std::lower_bound(parent->children.begin(), parent->children.end(), node->SortKey(),
                                  [](const auto& child, const std::string& key) { return child->SortKey() < key; });
    for (auto child = first; child != parent->children.end(); ++child)
        if (child->get() == node) {
            parent->children.erase(child);
            break;
        }
    if (parent->children.empty()) ShowChildren(*parent);
}

void GroupTree::ForgetAll() {
    nodes_.clear();
    root_ = std::make_unique<Node>();
    root_->filled = true;
}

void GroupTree::RemoveNode(Node& node) {
    if (HTREEITEM handle = node.handle) {
        Tree().DeleteItem(handle);
        // Forgotten already when the parent passed TVN_DELETEITEM on.
        ForgetNode(handle);
    } else {
        ForgetNode(&node);
    }
}

void GroupTree::OnDeleteItem(const NMTREEVIEWA& info) { ForgetNode(info.itemOld.hItem); }

bool GroupTree::AskHoldingTrim(const std::function<bool()>& question) {
    ++asking_;
    const bool answer = question();
    --asking_;
    return answer;
}

bool GroupTree::LetGoOf(const std::vector<ClipItem*>& items) {
    if (!itemLeavingHook_) return true;
    return AskHoldingTrim([&] {
        return std::all_of(items.begin(), items.end(), [&](ClipItem* item) { return itemLeavingHook_(item); });
    });
}

bool GroupTree::DeleteItemLeaf(Node& leaf) {
    ClipItem* item = leaf.ref.item;
    if (!LetGoOf({item})) return false;
    RemoveNode(leaf);
    if (searchPane_.CurrentItem() == item) searchPane_.SetItem(nullptr);
    rtfTexts_.erase(item);
    if (Filtering()) {
        // Deleted like any item: its file and its catalog entry go.
        AdoptFilterItem(item);
        filterShown_.erase(std::find_if(filterShown_.begin(), filterShown_.end(),
                                        [&](const FilterMatch& match) { return match.loaded == item; }));
        filterAdded_ = std::min(filterAdded_, filterShown_.size());
    }
    RemoveItem(item);
    return true;
}

bool GroupTree::DeleteNode(HTREEITEM handle) {
    const Node* node = NodeOf(handle);
    if (!node || node->ref.kind == NodeRef::kGroup) return true;
    // The items are let go of first, while nothing is gone; the question that
    // may take runs a modal loop, after which the node is looked up again.
    const unsigned long long id = node->id;
    std::vector<ClipItem*> items;
    if (node->ref.kind == NodeRef::kItem) items.push_back(node->ref.item);
    for (const auto& child : node->children)
        if (child->ref.kind == NodeRef::kItem) items.push_back(child->ref.item);
    if (!LetGoOf(items)) return false;
    Node* found = NodeOf(NodeById(id));
    if (!found) return true;
    return found->ref.kind == NodeRef::kItem ? DeleteItemLeaf(*found) : DeleteCaptureNode(*found);
}

bool GroupTree::DeleteCaptureNode(Node& capture) {
    // The leaves of the model, whether or not the control holds them.
    std::vector<Node*> leaves;
    for (const auto& child : capture.children)
        if (child->ref.kind == NodeRef::kItem) leaves.push_back(child.get());
    for (Node* leaf : leaves)
        if (!DeleteItemLeaf(*leaf)) return false;
    const CaptureRecord& record = *capture.ref.capture;
    const GUID guid = record.CaptureGuid;
    // A filter shows only the items that match: the record stays while the
    // capture may have others, loaded or in a day not loaded.
    const bool othersMayStay =
        Filtering() && ((!Options().loadWholeArchive &&
                         DateFolderName(record.CaptureTime) != DateFolderName(CurrentCaptureTime())) ||
                        std::any_of(Items().begin(), Items().end(),
                                    [&](const auto& item) { return item->SourceGuid() == guid; }));
    RemoveNode(capture);
    if (!othersMayStay) RemoveCapture(guid);
    return true;
}

void GroupTree::SaveNodeAs(HTREEITEM handle) {
    const NodeRef* ref = NodeRefOf(handle);
    if (ref && ref->kind == NodeRef::kItem) ref->item->SaveAs();
}

void GroupTree::CopyNode(HTREEITEM handle, HWND owner) {
    std::vector<const ClipItem*> items;
    if (const Node* node = NodeOf(handle); node && node->ref.kind == NodeRef::kItem) {
        items.push_back(node->ref.item);
    } else if (node && node->ref.kind == NodeRef::kCapture) {
        for (const auto& child : node->children)
            if (child->ref.kind == NodeRef::kItem) items.push_back(child->ref.item);
    }
    // Every item's data is read before the clipboard is touched: one that
    // cannot be read leaves the user's clipboard as it was.
    const ClipItem* unreadable = nullptr;
    if (!CopyItemsToClipboard(items, owner, &unreadable)) ReportUnreadableItem(*unreadable);
}

ClipItem* GroupTree::SelectedItem() const {
    const NodeRef* ref = Handle() ? NodeRefOf(Tree().Selection()) : nullptr;
    return ref && ref->kind == NodeRef::kItem ? ref->item : nullptr;
}

GroupTree::Node* GroupTree::FindLeaf(Node& node, const ClipItem* item) const {
    for (const auto& child : node.children) {
        if (child->ref.kind == NodeRef::kItem && child->ref.item == item) return child.get();
        if (Node* found = FindLeaf(*child, item)) return found;
    }
    return nullptr;
}

void GroupTree::CollectCaptureNodes(Node& node, const CaptureRecord* record, std::vector<Node*>& found) const {
    if (!node.index) return;
    if (auto capture = node.index->captures.find(record); capture != node.index->captures.end())
        found.push_back(capture->second);
    for (const auto& [label, group] : node.index->groups) CollectCaptureNodes(*group, record, found);
}

void GroupTree::ApplyFolderChanges(FolderChanges changes) {
    // Files travel in any order: nodes shown before their application arrived
    // carry the fallback icon until the tree is built anew.
    const std::vector<ApplicationKey> applications = AddApplications(std::move(changes.applications));
    const std::set<ApplicationKey> arrived(applications.begin(), applications.end());
    bool rebuild = false;
    for (const auto& [key, record] : Captures())
        if (arrived.count(ApplicationKeyOf(*record))) {
            rebuild = true;
            break;
        }
    const size_t capturesBefore = Captures().size();
    AddArrivals(std::move(changes.records), std::move(changes.items));
    const bool capturesCame = Captures().size() > capturesBefore;

    std::set<GUID, GuidLess> emptied;
    for (ClipItem* item : changes.departedItems) {
        if (itemDepartingHook_ && itemDepartingHook_(item)) {
            StoreAnew(*item);
            continue;
        }
        emptied.insert(item->SourceGuid());
        if (Node* leaf = FindLeaf(*root_, item)) RemoveNode(*leaf);
        if (searchPane_.CurrentItem() == item) searchPane_.SetItem(nullptr);
        rtfTexts_.erase(item);
        ForgetItem(item);
    }
    for (const GUID& guid : changes.departedRecords) emptied.insert(guid);
    // A capture goes once none of its items is left; one whose record went
    // while items stay keeps it in memory (their files may be on their way out).
    for (const auto& item : Items()) emptied.erase(item->SourceGuid());
    for (const GUID& key : emptied) {
        auto record = Captures().find(key);
        if (record == Captures().end()) continue;
        const GUID guid = record->second->CaptureGuid;
        std::vector<Node*> nodes;
        CollectCaptureNodes(*root_, record->second.get(), nodes);
        for (Node* node : nodes) RemoveNode(*node);
        ForgetCapture(guid);
    }
    // The limit counts every machine's captures; the trim runs as after a capture.
    if (rebuild)
        Rebuild(groupBy_);
    else if (capturesCame)
        Trim();
}

bool GroupTree::SelectItemLeaf(const ClipItem* item) {
    Node* leaf = item ? FindLeaf(*root_, item) : nullptr;
    HTREEITEM handle = leaf ? Reveal(*leaf) : nullptr;
    return handle && Tree().SelectItem(handle);
}

bool GroupTree::SelectFirstMatch() {
    Node* node = root_.get();
    while (node && node->ref.kind != NodeRef::kItem)
        node = node->children.empty() ? nullptr : node->children.front().get();
    HTREEITEM handle = node ? Reveal(*node) : nullptr;
    if (!handle) return false;
    Tree().EnsureVisible(handle);
    return Tree().SelectItem(handle);
}

void GroupTree::OpenFirstGroup() {
    if (root_->children.empty()) return;
    Node& first = *root_->children.front();
    if (!first.handle || first.children.size() > kFilterOpenedChildren) return;
    // Filled here rather than by the parent's notice, which a host may not pass on.
    Fill(first);
    Tree().Expand(first.handle);
}

bool GroupTree::SelectionHasRecord() const {
    const NodeRef* ref = Handle() ? NodeRefOf(Tree().Selection()) : nullptr;
    return ref && ref->kind != NodeRef::kGroup;
}

bool GroupTree::Expired(const ClipItem& item, unsigned long long lastOrder) const {
    const CaptureRecord* capture = FindCapture(item);
    return capture && capture->Order <= lastOrder;
}

void GroupTree::CollectExpired(Node& node, unsigned long long lastOrder, std::vector<Node*>& leaves,
                               std::vector<Node*>& captures) {
    for (auto& child : node.children) {
        CollectExpired(*child, lastOrder, leaves, captures);
        if (child->ref.kind == NodeRef::kItem && Expired(*child->ref.item, lastOrder))
            leaves.push_back(child.get());
        else if (child->ref.kind == NodeRef::kCapture && child->ref.capture->Order <= lastOrder)
            captures.push_back(child.get());
    }
}

void GroupTree::TrimToLimit() {
    // Inside a question's modal loop (the trim's own included) nothing may go
    // from under the asker: the trim runs once the loop is over.
    // A filter's tree holds only some of the archive: the trim waits for the whole.
    if (Filtering()) {
        trimHeld_ = true;
        return;
    }
    if (asking_ > 0 || trimming_) {
        if (!trimPosted_ && Handle()) trimPosted_ = ::PostMessageA(Handle(), kTrimMessage, 0, 0) != FALSE;
        return;
    }
    trimming_ = true;
    TrimOnce();
    trimming_ = false;
}

bool GroupTree::TrimOnce() {
    if (Options().itemsLimit <= 0 || !TrimCutoff()) return true;
    // The view may show an item that goes: it lets go first, before anything is
    // deleted, or the trim stops (the next capture tries again)...
    std::vector<Node*> leaves, captureNodes;
    CollectExpired(*root_, TrimCutoff()->Order, leaves, captureNodes);
    std::vector<ClipItem*> items;
    for (Node* leaf : leaves) items.push_back(leaf->ref.item);
    if (!LetGoOf(items)) return false;
    // ... and what goes is worked out again, as captures came meanwhile.
    const CaptureRecord* cutoff = TrimCutoff();
    if (!cutoff) return true;
    const unsigned long long lastOrder = cutoff->Order;
    leaves.clear();
    captureNodes.clear();
    CollectExpired(*root_, lastOrder, leaves, captureNodes);
    std::set<GUID, GuidLess> emptied;
    RedrawHeld held(Handle(), redrawHeld_);
    // Deleting a leaf leaves every other node where it is.
    for (Node* leaf : leaves) {
        emptied.insert(leaf->ref.item->SourceGuid());
        if (!DeleteItemLeaf(*leaf)) return false;
    }
    for (Node* capture : captureNodes)
        if (!DeleteCaptureNode(*capture)) return false;
    // Grouped by type or application the tree has no capture nodes; the record
    // of a capture whose every item was trimmed goes too, or the count never falls.
    for (const auto& item : Items()) emptied.erase(item->SourceGuid());
    for (const GUID& key : emptied) {
        auto record = Captures().find(key);
        if (record != Captures().end() && record->second->Order <= lastOrder)
            RemoveCapture(record->second->CaptureGuid);
    }
    return true;
}

const std::wstring& GroupTree::RtfShownText(RtfItem& item) {
    ShownText& shown = rtfTexts_[&item];
    if (shown.revision != item.Revision()) {
        searchPane_.SetItem(&item);
        // An item whose file cannot be read has no text now; it is read again next time.
        const bool readable = !searchPane_.IsUnreadable();
        shown.revision = readable ? item.Revision() : 0;
        shown.text = readable ? searchPane_.EditorFor(kRtfItemType)->ShownText() : std::wstring();
    }
    return shown.text;
}

bool GroupTree::PrepareSearch(DWORD budgetMs) {
    if (!Options().catalogPath.empty()) return false;
    const DWORD start = ::GetTickCount();
    const auto& items = Items();
    for (; preparedItems_ < items.size(); ++preparedItems_) {
        if (::GetTickCount() - start >= budgetMs) return true;
        ClipItem& item = *items[preparedItems_];
        if (item.TypeCode() == kRtfItemType) RtfShownText(static_cast<RtfItem&>(item));
    }
    // The pane must not keep an item that may be deleted later.
    searchPane_.SetItem(nullptr);
    return false;
}

bool GroupTree::MayContain(ClipItem& item, const std::wstring& text, unsigned flags) {
    std::wstring html;
    std::wstring_view shown;
    switch (item.TypeCode()) {
    case kTextItemType:
        shown = static_cast<TextItem&>(item).Text();
        break;
    case kHtmlItemType: {
        Bytes content;
        static_cast<HtmlItem&>(item).GetContent(content);
        html = ToWide(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()), CP_UTF8);
        shown = html;
        break;
    }
    case kRtfItemType:
        // The catalog found the text in it: the pane decides, without the shown
        // text of every candidate kept.
        if (findCandidates_) return true;
        shown = RtfShownText(static_cast<RtfItem&>(item));
        break;
    default:
        return false;
    }
    if (flags & FR_MATCHCASE) return shown.find(text) != std::wstring_view::npos;
    return ContainsIgnoringCase(shown, text);
}

bool GroupTree::Visit(Node& node, const std::wstring& text, unsigned flags, HTREEITEM selected, bool& started) {
    if (node.ref.kind == NodeRef::kItem && started && CanHoldText(*node.ref.item) &&
        (!findCandidates_ || findCandidates_->count(node.ref.item)) && MayContain(*node.ref.item, text, flags)) {
        searchPane_.SetItem(node.ref.item);
        if (searchPane_.FindText(text, flags | FR_DOWN)) {
            TreeViewCtrl tree = Tree();
            HTREEITEM handle = Reveal(node);
            tree.EnsureVisible(handle);
            tree.SelectItem(handle);
            ::SetFocus(Handle());
            return true;
        }
    }
    if (!selected || node.handle == selected) started = true;
    auto visitChild = [&](auto& child) { return Visit(*child, text, flags, selected, started); };
    if (flags & FR_DOWN)
        return std::any_of(node.children.begin(), node.children.end(), visitChild);
    return std::any_of(node.children.rbegin(), node.children.rend(), visitChild);
}

bool GroupTree::FindItem(const std::wstring& text, unsigned flags) {
    if (text.empty() || !Handle()) return false;
    bool started = false;
    // The catalog rules out the items that cannot hold the text, without
    // reading them (their shown text is then never made).
    auto candidates = ItemsThatMayContain(text);
    // What a filter read from days not loaded is in no list of the catalog's.
    if (candidates)
        for (const auto& [item, owned] : filterItems_) candidates->insert(item);
    findCandidates_ = candidates ? &*candidates : nullptr;
    const bool found = Visit(*root_, text, flags, Tree().Selection(), started);
    findCandidates_ = nullptr;
    // The hidden pane must not keep an item that may be deleted later.
    searchPane_.SetItem(nullptr);
    return found;
}

void GroupTree::Clear() {
    ForgetAll();
    filterText_.clear();
    filterShown_.clear();
    filterSearch_ = {};
    filterAdded_ = 0;
    filterItems_.clear();
    beforeFilter_ = nullptr;
    rtfTexts_.clear();
    preparedItems_ = 0;
    if (Handle()) {
        searchPane_.SetItem(nullptr);
        Tree().DeleteAllItems();
    }
    ItemArchive::Clear();
}
