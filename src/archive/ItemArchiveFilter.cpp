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
    const bool onDisk = item.IsDataOnDisk();
    const std::wstring text = SearchableText(item);
    // Read back for the look only: a filter over every loaded item holds none.
    if (onDisk) item.LeaveDataOnDisk();
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

std::vector<ItemArchive::FilterMatch> ItemArchive::StartFilter(std::wstring_view text, FilterSearch& search) {
    std::vector<FilterMatch> matches;
    search = {};
    search.cursor.done = true;
    if (text.empty()) return matches;
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
    // A capture of this run comes after everything the catalog gives.
    const std::wstring folded = FoldCase(text);
    for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
        auto found = cataloged_.find(item->get());
        const bool knownAsIs = filterTrusted_ && filterCatalog_ && found != cataloged_.end() &&
                               found->second == (*item)->DataVersion();
        if (knownAsIs) continue;
        search.lookedAt.push_back(item->get());
        if (ItemContainsFolded(**item, folded)) matches.push_back({item->get(), {}});
    }
    std::sort(search.lookedAt.begin(), search.lookedAt.end());
    return matches;
}

bool ItemArchive::NextFilterMatches(FilterSearch& search, std::vector<FilterMatch>& matches, double budgetMs,
                                    size_t enough) {
    if (search.cursor.done || !filterCatalog_) return false;
    // A keystroke's first step shows the newest matches at once; the steps
    // that complete the search pass over what the trigram index rules out.
    if (search.steps++ == 1) filterCatalog_->NarrowToTrigrams(search.text, search.cursor);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double, std::milli>(budgetMs));
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
