// The filter's search over the whole archive: the catalog answers for every
// item it holds as the archive has it, loaded or not; what it does not know
// (captures of this run, items changed since the load, a catalog made anew) is
// looked at in memory.
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "archive/Catalog.h"
#include "archive/ItemArchive.h"
#include "base/Paths.h"

namespace {

// The date folders below the archive folder, the newest first; a folder of
// another name last.
std::vector<std::string> DateFoldersNewestFirst(const std::string& folder) {
    std::vector<std::string> dates;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAA& entry) {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && _stricmp(entry.cFileName, "AppData") != 0)
            dates.push_back(entry.cFileName);
    });
    // Date folders are named "d_M_yyyy".
    auto day = [](const std::string& name) {
        int d = 0, m = 0, y = 0;
        return std::sscanf(name.c_str(), "%d_%d_%d", &d, &m, &y) == 3 ? y * 10000 + m * 100 + d : -1;
    };
    std::stable_sort(dates.begin(), dates.end(), [&](const auto& a, const auto& b) { return day(a) > day(b); });
    return dates;
}

}  // namespace

bool ItemArchive::ItemContainsFolded(const ClipItem& item, std::wstring_view folded) {
    if (folded.empty()) return true;
    const std::wstring text = SearchableText(item);
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
    if (text.empty()) return matches;
    search.text = text;
    auto catalog = std::make_unique<Catalog>();
    if (!options_.catalogPath.empty() && catalog->Open(options_.catalogPath)) {
        // Made empty since the load, it knows none of the loaded items.
        search.trusted = !catalog->WasMadeAnew();
        // The folder's listing names the days: asking the catalog which it
        // holds would read its whole index of names at every keystroke.
        search.days = DateFoldersNewestFirst(options_.folder);
        std::reverse(search.days.begin(), search.days.end());
        search.catalog = std::move(catalog);
    }
    // A capture of this run comes after everything the catalog gives.
    const std::wstring folded = FoldCase(text);
    for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
        auto found = cataloged_.find(item->get());
        const bool knownAsIs = search.trusted && found != cataloged_.end() && found->second == (*item)->DataVersion();
        if (!knownAsIs && ItemContainsFolded(**item, folded)) matches.push_back({item->get(), {}});
    }
    return matches;
}

bool ItemArchive::NextFilterDay(FilterSearch& search, std::vector<FilterMatch>& matches) {
    if (search.days.empty() || !search.catalog) {
        // Its file may be deleted or made anew: no connection stays open.
        search.catalog.reset();
        return false;
    }
    const std::string day = std::move(search.days.back());
    search.days.pop_back();
    std::vector<CatalogMatch> entries = search.catalog->MatchingEntriesOfDay(search.text, day);
    // The day's loaded items, looked up afresh: items may have gone meanwhile.
    const std::string folder = options_.folder + day + "\\";
    std::unordered_map<std::string, ClipItem*> loaded;
    for (const auto& item : items_) {
        // Made when asked (see ClipItem::RecordPath): the name is kept apart.
        const std::string path = item->RecordPath();
        if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0)
            loaded.emplace(path.substr(folder.size()), item.get());
    }
    for (CatalogMatch& entry : entries) {
        if (auto found = loaded.find(entry.name); found != loaded.end()) {
            auto known = cataloged_.find(found->second);
            // One not known as it is was looked at in memory.
            if (search.trusted && known != cataloged_.end() && known->second == found->second->DataVersion())
                matches.push_back({found->second, {}});
            continue;
        }
        matches.push_back({nullptr, std::move(entry)});
    }
    return true;
}

std::vector<ItemArchive::FilterMatch> ItemArchive::FilterItems(std::wstring_view text) {
    FilterSearch search;
    std::vector<FilterMatch> matches = StartFilter(text, search);
    while (NextFilterDay(search, matches)) {
    }
    return matches;
}
