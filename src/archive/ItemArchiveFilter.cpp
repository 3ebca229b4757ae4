// The filter's search over the whole archive: the catalog answers for every
// item it holds as the archive has it, loaded or not; what it does not know
// (captures of this run, items changed since the load, a catalog made anew) is
// looked at in memory.
#include <unordered_map>

#include "archive/Catalog.h"
#include "archive/ItemArchive.h"

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

std::vector<ItemArchive::FilterMatch> ItemArchive::FilterItems(std::wstring_view text) {
    std::vector<FilterMatch> matches;
    if (text.empty()) return matches;
    Catalog catalog;
    const bool cataloged = !options_.catalogPath.empty() && catalog.Open(options_.catalogPath);
    // Made empty since the load, it knows none of the loaded items.
    const bool trusted = cataloged && !catalog.WasMadeAnew();
    std::vector<CatalogMatch> entries;
    if (cataloged) entries = catalog.MatchingEntries(text);
    // Loaded items by their path within the folder, as the catalog names them.
    std::unordered_map<std::string_view, ClipItem*> loaded;
    loaded.reserve(items_.size());
    const size_t prefix = options_.folder.size();
    for (const auto& item : items_) {
        const std::string& path = item->RecordPath();
        if (path.size() > prefix && path.compare(0, prefix, options_.folder) == 0)
            loaded.emplace(std::string_view(path).substr(prefix), item.get());
    }
    auto knownAsIs = [&](const ClipItem* item) {
        auto found = cataloged_.find(item);
        return trusted && found != cataloged_.end() && found->second == item->DataVersion();
    };
    // A capture of this run comes after everything the catalog gave.
    const std::wstring folded = FoldCase(text);
    for (auto item = items_.rbegin(); item != items_.rend(); ++item)
        if (!knownAsIs(item->get()) && ItemContainsFolded(**item, folded)) matches.push_back({item->get(), {}});
    matches.reserve(matches.size() + entries.size());
    std::string relative;
    for (CatalogMatch& entry : entries) {
        relative.assign(entry.folder).append("\\").append(entry.name);
        if (auto found = loaded.find(relative); found != loaded.end()) {
            if (knownAsIs(found->second)) matches.push_back({found->second, {}});
            continue;
        }
        matches.push_back({nullptr, std::move(entry)});
    }
    return matches;
}
