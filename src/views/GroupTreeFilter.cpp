// The filter box's tree: only the captures with an item whose text holds what
// was typed, from the whole archive. Items of days not loaded are read for the
// filter alone and let go of with it, but for the one the user chose.
#include <algorithm>
#include <utility>

#include "archive/Catalog.h"
#include "views/GroupTree.h"

namespace {

// What a keystroke searches before the tree shows the matches: enough to fill
// it, in at most a few tens of milliseconds.
constexpr size_t kFirstShown = 500;
constexpr double kFirstSearchMs = 25;

}  // namespace

void GroupTree::AdoptFilterItem(const ClipItem* item) {
    auto owned = filterItems_.find(item);
    if (owned == filterItems_.end()) return;
    items_.push_back(std::move(owned->second));
    NoteItemsChanged();
    filterItems_.erase(owned);
}

void GroupTree::ReleaseFilterItems(const ClipItem* keep, std::vector<std::unique_ptr<ClipItem>>& leaving) {
    AdoptFilterItem(keep);
    for (auto& [item, owned] : filterItems_) {
        // The view may show it, with edits it cannot save: it stays then.
        if (!LetGoOf({owned.get()})) {
            items_.push_back(std::move(owned));
            NoteItemsChanged();
            continue;
        }
        if (searchPane_.CurrentItem() == item) searchPane_.SetItem(nullptr);
        rtfTexts_.erase(item);
        leaving.push_back(std::move(owned));
    }
    filterItems_.clear();
}

void GroupTree::SetFilter(const std::wstring& text) {
    if (text.empty()) {
        EndFilter(nullptr);
        return;
    }
    const ClipItem* selected = SelectedItem();
    if (!Filtering()) beforeFilter_ = selected;
    // The newest first, until there is a screenful or the keystroke's time
    // is up; ContinueFilter searches the rest.
    StartFilter(text, filterSearch_);
    std::vector<FilterMatch> matches;
    NextFilterMatches(filterSearch_, matches, kFirstSearchMs, std::min(kFirstShown, mostShown_));
    // An item read for the last query and found again stays the same object, so
    // the view and the selection keep it while the user types on.
    std::unordered_map<const ClipItem*, std::unique_ptr<ClipItem>> kept;
    if (!filterItems_.empty()) {
        std::unordered_map<std::string, const ClipItem*> earlier;
        for (const auto& [item, owned] : filterItems_) earlier.emplace(item->RecordPath(), item);
        for (FilterMatch& match : matches) {
            if (match.loaded) continue;
            auto found = earlier.find(PathOf(match.entry));
            if (found == earlier.end()) continue;
            auto owned = filterItems_.find(found->second);
            match.loaded = owned->second.get();
            kept.emplace(found->second, std::move(owned->second));
            filterItems_.erase(owned);
        }
    }
    // Destroyed once no node points to them any more.
    std::vector<std::unique_ptr<ClipItem>> leaving;
    ReleaseFilterItems(nullptr, leaving);
    filterItems_ = std::move(kept);
    filterText_ = FoldCase(text);
    filterShown_ = std::move(matches);
    filterUnshown_ = 0;
    RebuildSelecting(groupBy_, selected, false);
    OpenFirstGroup();
}

ClipItem* GroupTree::FilterItemAt(size_t index) {
    FilterMatch& match = filterShown_[index];
    if (!match.loaded) {
        std::unique_ptr<ClipItem> item = ItemOf(match.entry);
        if (!item) return nullptr;
        match.loaded = item.get();
        match.entry = {};
        filterItems_.emplace(item.get(), std::move(item));
    }
    return match.loaded;
}

bool GroupTree::ContinueFilter(DWORD budgetMs) {
    if (!Filtering()) return false;
    const DWORD start = ::GetTickCount();
    // The slice's nodes go in with the control's drawing held off: under a
    // group the filter opened, it laid the group out anew for each, and the
    // count grew by a hundred a second.
    std::vector<ClipItem*> adding;
    bool more = true;
    while (more && ::GetTickCount() - start < budgetMs) {
        const double left = budgetMs - (::GetTickCount() - start);
        if (filterAdded_ < filterShown_.size()) {
            adding.push_back(FilterItemAt(filterAdded_++));
        } else if (filterShown_.size() < mostShown_) {
            if (!NextFilterMatches(filterSearch_, filterShown_, left, std::min<size_t>(200, mostShown_ - filterShown_.size())))
                more = filterAdded_ < filterShown_.size();
        } else {
            std::vector<FilterMatch> beyond;
            more = NextFilterMatches(filterSearch_, beyond, left);
            filterUnshown_ += beyond.size();
        }
    }
    AddItemNodesOneByOne(adding);
    return more;
}

void GroupTree::EndFilter(const ClipItem* chosen) {
    if (!Filtering()) return;
    // The day of a match the filter read for itself may have been handed
    // over meanwhile: the archive's own item of that file is the one chosen.
    if (chosen && filterItems_.count(chosen))
        if (const ClipItem* loaded = LoadedItemAt(chosen->RecordPath())) chosen = loaded;
    const ClipItem* selected = chosen;
    if (!selected && std::any_of(Items().begin(), Items().end(),
                                 [&](const auto& item) { return item.get() == beforeFilter_; }))
        selected = beforeFilter_;
    std::vector<std::unique_ptr<ClipItem>> leaving;
    ReleaseFilterItems(chosen, leaving);
    filterText_.clear();
    filterShown_.clear();
    filterSearch_ = {};
    EndFilterSearch();
    filterAdded_ = 0;
    filterUnshown_ = 0;
    beforeFilter_ = nullptr;
    RebuildSelecting(groupBy_, selected);
    if (std::exchange(trimHeld_, false)) TrimToLimit();
}

void GroupTree::OnItemAdded(ClipItem* item) {
    if (Filtering()) {
        // Tested in memory: the catalog may not have it yet.
        if (!item) return;
        // Whether or not it matches, the catalog may come to know it later in
        // the search: decided here, it counts once.
        filterSearch_.NoteLookedAt(item);
        if (!ItemContainsFolded(*item, filterText_)) return;
        filterShown_.insert(filterShown_.begin(), FilterMatch{item, {}});
        ++filterAdded_;
    }
    AddItemNode(item);
}

void GroupTree::OnItemsLoaded(const std::vector<ClipItem*>& items) {
    // Not new captures: a filter finds them in the catalog, and its end
    // builds the whole tree anew.
    if (Filtering()) return;
    AddItemNodes(items);
}
