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

ItemArchive::FilterMatches ItemArchive::FilterItems(std::wstring_view text) {
    FilterMatches matches;
    if (text.empty()) return matches;
    Catalog catalog;
    const bool cataloged = !options_.catalogPath.empty() && catalog.Open(options_.catalogPath);
    // Made empty since the load, it knows none of the loaded items.
    const bool trusted = cataloged && !catalog.WasMadeAnew();
    std::vector<Catalog::Match> entries;
    if (cataloged) entries = catalog.MatchingEntries(text);
    std::unordered_map<std::string, ClipItem*> byPath;
    byPath.reserve(items_.size());
    for (const auto& item : items_)
        if (!item->RecordPath().empty()) byPath.emplace(item->RecordPath(), item.get());
    auto knownAsIs = [&](const ClipItem* item) {
        auto found = cataloged_.find(item);
        return trusted && found != cataloged_.end() && found->second == item->DataVersion();
    };
    std::string path;
    for (const Catalog::Match& entry : entries) {
        path.assign(options_.folder).append(entry.folder).append("\\").append(entry.name);
        if (auto loaded = byPath.find(path); loaded != byPath.end()) {
            if (knownAsIs(loaded->second)) matches.items.push_back(loaded->second);
            continue;
        }
        // The file stays the truth: the item reads its data from it when used.
        std::unique_ptr<ClipItem> item = CreateItemOfType(entry.type);
        if (!item) continue;
        item->SetStore(&writer_);
        item->SetRecordPath(path);
        item->SetCaptureTime(entry.time);
        item->SetSourceGuid(entry.guid);
        item->LeaveDataOnDisk();
        matches.items.push_back(item.get());
        matches.unloaded.push_back(std::move(item));
    }
    // A capture of this run comes after everything the catalog gave.
    std::vector<ClipItem*> unknown;
    for (const auto& item : items_)
        if (!knownAsIs(item.get())) unknown.push_back(item.get());
    const std::wstring folded = FoldCase(text);
    std::vector<ClipItem*> found;
    for (auto item = unknown.rbegin(); item != unknown.rend(); ++item)
        if (ItemContainsFolded(**item, folded)) found.push_back(*item);
    matches.items.insert(matches.items.begin(), found.begin(), found.end());
    return matches;
}
