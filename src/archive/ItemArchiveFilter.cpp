// The filter's search over the whole archive: the catalog answers for every
// item it holds as the archive has it, loaded or not; what it does not know
// (captures of this run, items changed since the load, a catalog made anew) is
// looked at in memory.
#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "archive/Catalog.h"
#include "archive/ItemArchive.h"
#include "base/Paths.h"

namespace {

// The date folders below the archive folder.
std::unordered_set<std::string> DateFolders(const std::string& folder) {
    std::unordered_set<std::string> dates;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && _stricmp(entry.cFileName, "AppData") != 0)
            dates.insert(entry.cFileName);
    });
    return dates;
}

}  // namespace

bool ItemArchive::ItemContainsFolded(ClipItem& item, std::wstring_view folded) {
    if (folded.empty()) return true;
    // Read back for the look only: a filter over every loaded item holds none.
    const std::wstring text = PeekSearchableText(item);
    return !text.empty() && FoldCase(text).find(folded) != std::wstring::npos;
}

std::string ItemArchive::PathOf(const CatalogMatch& entry) const {
    return options_.folder + entry.folder + "\\" + entry.name;
}

std::unique_ptr<ClipItem> ItemArchive::ItemOf(const CatalogMatch& entry) {
    // The file stays the truth: the item reads its data from it when used.
    std::unique_ptr<ClipItem> item = CreateItemOfType(entry.type);
    if (!item) return nullptr;
    item->SetStore(&writer_);
    item->SetRecordPath(PathOf(entry));
    item->SetCaptureTime(entry.time);
    item->SetSourceGuid(entry.guid);
    item->LeaveDataOnDisk();
    return item;
}

void ItemArchive::StartFilter(std::wstring_view text, FilterSearch& search) {
    search = {};
    search.cursor.done = true;
    if (text.empty()) return;
    search.text = text;
    if (!filterCatalog_ && !options_.catalogPath.empty()) {
        // Opening costs a keystroke's worth of time under Wine: once a filter.
        auto catalog = std::make_unique<Catalog>();
        if (catalog->Open(options_.catalogPath)) {
            // Made empty since the load, it knows none of the loaded items.
            filterTrusted_ = !catalog->WasMadeAnew();
            filterCatalog_ = std::move(catalog);
        }
    }
    if (filterCatalog_) {
        search.cursor = {};
        search.days = DateFolders(options_.folder);
    }
    for (const auto& item : items_) {
        auto found = cataloged_.find(item.get());
        if (filterTrusted_ && filterCatalog_ && found != cataloged_.end() && found->second == item->DataVersion())
            continue;
        search.toLook.push_back(item.get());
    }
    search.toLookAt = itemsRemoved_;
    search.lookedAt.assign(search.toLook.begin(), search.toLook.end());
    std::sort(search.lookedAt.begin(), search.lookedAt.end());
}

bool ItemArchive::LookInMemory(FilterSearch& search, std::vector<FilterMatch>& matches, const TimeUp& timeUp,
                               size_t& enough) {
    if (search.toLook.empty()) return true;
    if (search.toLookAt != itemsRemoved_) {
        // Only the addresses are compared: an item deleted meanwhile is gone.
        std::unordered_set<const ClipItem*> held;
        for (const auto& item : items_) held.insert(item.get());
        search.toLook.erase(std::remove_if(search.toLook.begin(), search.toLook.end(),
                                           [&](const ClipItem* item) { return !held.count(item); }),
                            search.toLook.end());
        search.toLookAt = itemsRemoved_;
    }
    const std::wstring folded = FoldCase(search.text);
    size_t found = 0;
    while (!search.toLook.empty() && found < enough) {
        ClipItem* item = search.toLook.back();
        search.toLook.pop_back();
        if (ItemContainsFolded(*item, folded)) {
            matches.push_back({item, {}});
            ++found;
        }
        if (timeUp()) break;
    }
    enough -= found;
    return search.toLook.empty();
}

bool ItemArchive::NextFilterMatches(FilterSearch& search, std::vector<FilterMatch>& matches, double budgetMs,
                                    size_t enough) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double, std::milli>(budgetMs));
    // A capture of this run, or one the catalog does not know yet, comes
    // before everything the catalog gives.
    if (!LookInMemory(search, matches, [&] { return Clock::now() >= end; }, enough)) return true;
    if (search.cursor.done || !filterCatalog_) return false;
    if (enough == 0) return true;
    // A keystroke's first step shows the newest matches at once; the steps
    // that complete the search pass over what the trigram index rules out.
    if (search.steps++ == 1) filterCatalog_->NarrowToTrigrams(search.text, search.cursor);
    size_t looked = 0;
    std::vector<CatalogMatch> entries = filterCatalog_->MatchingFrom(search.text, search.cursor, [&](size_t found) {
        // The clock is asked now and then: an entry takes a microsecond or two.
        return found < enough && (++looked % 32 != 0 || Clock::now() < end);
    });
    // Items may have come or gone since the last step.
    const auto& loadedByPath = LoadedByPath();
    std::string path;
    for (CatalogMatch& entry : entries) {
        // The entry of a day folder deleted elsewhere has no file left.
        if (!search.days.count(entry.folder)) continue;
        path = entry.folder + "\\" + entry.name;
        if (auto found = loadedByPath.find(path); found != loadedByPath.end()) {
            ClipItem* item = found->second;
            if (std::binary_search(search.lookedAt.begin(), search.lookedAt.end(), item)) continue;
            // One loaded since, as the catalog does not know it, is looked at in memory.
            auto known = cataloged_.find(item);
            if ((filterTrusted_ && known != cataloged_.end() && known->second == item->DataVersion()) ||
                ItemContainsFolded(*item, FoldCase(search.text)))
                matches.push_back({item, {}});
            continue;
        }
        matches.push_back({nullptr, std::move(entry)});
    }
    return !search.cursor.done;
}

void ItemArchive::EndFilterSearch() {
    filterCatalog_.reset();
    ReleaseLoadedByPath();
}
