#include "views/GroupTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "archive/ItemFile.h"
#include "base/CaptureTime.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "framework/MessageMap.h"
#include "items/MarkupFormat.h"
#include "items/TextItem.h"
#include "support/ArchiveGenerator.h"
#include "support/ClipboardHelper.h"
#include "support/TempFolder.h"

namespace {

// Bytes the process's heaps have handed out and not taken back.
size_t HeapBytesInUse() {
    size_t busy = 0;
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(::GetProcessHeaps(64, heaps), 64);
    for (DWORD i = 0; i < count; ++i) {
        if (!::HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
        ::HeapUnlock(heaps[i]);
    }
    return busy;
}

constexpr UINT kTreeId = 7;

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// The tree's parent, wired as the main window wires it: the selection drives
// the visible pane and deleted nodes take their records along.
class TreeHost : public Window {
public:
    GroupTree tree;
    ViewPane pane;
    int selectionChanges = 0;

    TreeHost() {
        WNDCLASSEXA windowClass = {};
        windowClass.lpszClassName = "SvaultTreeTestHost";
        RegisterWindowClass(windowClass);
        Create("SvaultTreeTestHost", "host", WS_OVERLAPPEDWINDOW, 0, nullptr, nullptr, 0, 0, 600, 400);
        tree.CreateTree(Handle(), kTreeId, RECT{0, 0, 200, 400});
        pane.CreatePane(Handle(), true, RECT{200, 0, 600, 400});
        tree.SetItemLeavingHook([this](ClipItem* item) { return pane.CurrentItem() != item || pane.SetItem(nullptr); });
    }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        static constexpr MessageEntry<TreeHost> kMessages[] = {
            msg::Notify<&TreeHost::OnSelChanged>(kTreeId, TVN_SELCHANGEDA),
            msg::Notify<&TreeHost::OnDeleteItem>(kTreeId, TVN_DELETEITEMA),
            msg::Notify<&TreeHost::OnItemExpanding>(kTreeId, TVN_ITEMEXPANDINGA),
        };
        return DispatchMessageTable<TreeHost>(*this, kMessages, message, wParam, lParam, result) ||
               Window::ProcessMessage(message, wParam, lParam, result);
    }

private:
    LRESULT OnSelChanged(const NMHDR&) {

        ++selectionChanges;
        pane.SetItem(tree.SelectedItem());
        return 0;
    }
    LRESULT OnDeleteItem(const NMHDR& header) {
        tree.OnDeleteItem(reinterpret_cast<const NMTREEVIEWA&>(header));
        return 0;
    }
    LRESULT OnItemExpanding(const NMHDR& header) {
        tree.OnItemExpanding(reinterpret_cast<const NMTREEVIEWA&>(header));
        return 0;
    }
};

class GroupTreeTest : public ::testing::Test {
protected:
    GroupTreeTest() {
        for (const char* name : {"SvaultNotesApp", "SvaultReportApp"}) {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = ::DefWindowProcA;
            windowClass.lpszClassName = name;
            windowClass.hIcon = ::LoadIconA(nullptr, name[6] == 'N' ? IDI_APPLICATION : IDI_WARNING);
            ::RegisterClassA(&windowClass);
        }
        notes_ = ::CreateWindowExA(0, "SvaultNotesApp", "Notes", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
        report_ = ::CreateWindowExA(0, "SvaultReportApp", "Report", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr,
                                    nullptr, nullptr, nullptr);
        options_.folder = folder_.Path();
        options_.loadWholeArchive = true;
        options_.fallbackIcon = ::LoadIconA(nullptr, IDI_QUESTION);
    }
    ~GroupTreeTest() override {
        ::DestroyWindow(notes_);
        ::DestroyWindow(report_);
    }

    void Open(int mode = kGroupByDate) {
        host_.tree.LoadArchive(options_);
        host_.tree.Rebuild(mode);
    }
    // One clipboard change with the formats, captured from the window.
    void Capture(HWND source, const std::map<UINT, std::string>& formats) {
        ASSERT_TRUE(clipboard_.Set(formats));
        ASSERT_TRUE(host_.tree.Capture(source));
        host_.tree.FlushWrites();
    }
    void CaptureText(HWND source, const std::wstring& text) {
        Capture(source, {{CF_UNICODETEXT, Utf16Bytes(text)}});
    }

    // The tree with every node expanded, as text: one line per node, indented
    // by level, with its image named: a type letter, "A1", "A2"... for
    // applications in order of appearance (or, raw, the image's number).
    std::string Dump(bool rawImages = false) {
        names_ = {{0, ""},
                  {host_.tree.TypeImage(kTextItemType), "T"},
                  {host_.tree.TypeImage(kRtfItemType), "R"},
                  {host_.tree.TypeImage(kHtmlItemType), "H"}};
        std::string out;
        DumpLevel(nullptr, 0, rawImages, out);
        return out;
    }
    void DumpLevel(HTREEITEM parent, int depth, bool rawImages, std::string& out) {
        TreeViewCtrl tree = host_.tree.Tree();
        for (HTREEITEM node = parent ? tree.Child(parent) : tree.Root(); node; node = tree.NextSibling(node)) {
            int image = 0, selected = 0;
            tree.GetItemImage(node, image, selected);
            EXPECT_EQ(image, selected);
            if (!names_.count(image)) names_[image] = "A" + std::to_string(names_.size() - 3);
            out += std::string(depth * 2, ' ') + tree.GetItemText(node);
            if (rawImages) out += " [" + std::to_string(image) + "]";
            else if (!names_[image].empty()) out += " [" + names_[image] + "]";
            out += "\n";
            tree.Expand(node);
            DumpLevel(node, depth + 1, rawImages, out);
        }
    }
    // The model, whether or not the control holds it, in Dump's raw form.
    std::string ModelDump() {
        std::string out;
        host_.tree.VisitModel([&](int depth, const std::string& label, int image) {
            out += std::string(depth * 2, ' ') + label + " [" + std::to_string(image) + "]\n";
        });
        return out;
    }
    bool ShowsButton(HTREEITEM node) {
        TVITEMA query = {};
        query.mask = TVIF_CHILDREN;
        query.hItem = node;
        return ::SendMessageA(host_.tree.Handle(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) &&
               query.cChildren != 0;
    }
    // A capture of "Notes" from days ago, as an earlier run left it; its day.
    std::string StoreEarlierCapture(const std::wstring& text, int daysAgo) {
        CaptureRecord old;
        ::CoCreateGuid(&old.CaptureGuid);
        old.Title = "Notes";
        old.CaptureTime = CurrentCaptureTime() - daysAgo;
        CreateFolderPath(folder_.Path() + "AppData\\");
        EXPECT_TRUE(old.WriteFile(MakeUniqueFileName(folder_.Path() + "AppData\\", nullptr, ".se")));
        TextItem item;
        item.SetText(text);
        item.SetCaptureTime(old.CaptureTime);
        item.SetSourceGuid(old.CaptureGuid);
        EXPECT_TRUE(StoreItem(item, folder_.Path()));
        return item.DateText();
    }
    HTREEITEM FindNode(const std::string& path) {
        TreeViewCtrl tree = host_.tree.Tree();
        HTREEITEM node = nullptr;
        size_t start = 0;
        while (start <= path.size()) {
            // Dates hold slashes: levels are parted by '|'.
            const size_t end = std::min(path.find('|', start), path.size());
            const std::string label = path.substr(start, end - start);
            if (node) tree.Expand(node);
            HTREEITEM child = node ? tree.Child(node) : tree.Root();
            while (child && tree.GetItemText(child) != label) child = tree.NextSibling(child);
            if (!child) return nullptr;
            node = child;
            start = end + 1;
        }
        return node;
    }

    TempFolder folder_;
    ArchiveOptions options_;
    ClipboardHelper clipboard_;
    HWND notes_ = nullptr;
    HWND report_ = nullptr;
    TreeHost host_;
    std::map<int, std::string> names_;
};

}  // namespace

TEST_F(GroupTreeTest, CapturesAreGroupedByDateTypeAndApplication) {
    Open();
    CaptureText(notes_, L"a note");
    Capture(report_, {{ClipboardHelper::Register("Rich Text Format"), "{\\rtf1 report}"},
                      {CF_UNICODETEXT, Utf16Bytes(L"report")}});
    const std::string day = host_.tree.Items().front()->DateText();

    const std::string byDate = day + "\n  Notes [A1]\n    Text [T]\n  Report [A2]\n    RTF [R]\n    Text [T]\n";
    // Nodes added as captures arrive stand exactly where a rebuild puts them.
    EXPECT_EQ(byDate, Dump());
    host_.tree.Rebuild(kGroupByDate);
    EXPECT_EQ(byDate, Dump());

    host_.tree.Rebuild(kGroupByType);
    EXPECT_EQ("RTF [R]\n  " + day + "\n    Report [A1]\nText [T]\n  " + day + "\n    Notes [A2]\n    Report [A1]\n",
              Dump());
    host_.tree.Rebuild(kGroupByApplication);
    EXPECT_EQ("Notes [A1]\n  " + day + "\n    Notes [T]\nReport [A2]\n  " + day + "\n    Report [T]\n    Report [R]\n",
              Dump());

    // Without the whole archive there is no date level.
    options_.loadWholeArchive = false;
    Open(kGroupByDate);
    EXPECT_EQ("Notes [A1]\n  Text [T]\nReport [A2]\n  RTF [R]\n  Text [T]\n", Dump());
    // One image per application however many nodes show it.
    EXPECT_EQ(8, ::ImageList_GetImageCount(host_.tree.ImageList()));
}

TEST_F(GroupTreeTest, CapturesWithOneTitleAreTwoNodesByDateAndOneGroupByApplication) {
    options_.loadWholeArchive = false;
    Open();
    CaptureText(notes_, L"first");
    ::SetWindowTextA(report_, "NOTES");
    CaptureText(report_, L"second");
    EXPECT_EQ("Notes [A1]\n  Text [T]\nNOTES [A2]\n  Text [T]\n", Dump());
    // Titles that differ only in case share a group, named after the first.
    host_.tree.Rebuild(kGroupByApplication);
    EXPECT_EQ("Notes [A1]\n  Notes [T]\n  NOTES [T]\n", Dump());
}

TEST_F(GroupTreeTest, DeletingLeavesGroupsAndCopyTakesTheNodesFormats) {
    Open(kGroupByDate);
    CaptureText(notes_, L"a note");
    const std::string html = "<b>report</b>";
    Capture(report_, {{ClipboardHelper::Register("HTML Format"), BuildCfHtmlHeader(html.size()) + html},
                      {CF_UNICODETEXT, Utf16Bytes(L"report")}});
    const std::string day = host_.tree.Items().front()->DateText();

    // A capture node: every format at once; a leaf: that one format alone.
    host_.tree.CopyNode(FindNode(day + "|Report"), clipboard_.Window());
    const std::string text = clipboard_.Get(CF_UNICODETEXT).value_or("");
    EXPECT_EQ(Utf16Bytes(L"report"), text);
    EXPECT_TRUE(clipboard_.Get(ClipboardHelper::Register("HTML Format")));
    host_.tree.CopyNode(FindNode(day + "|Report|HTML"), clipboard_.Window());
    EXPECT_FALSE(clipboard_.Get(CF_UNICODETEXT));
    EXPECT_TRUE(clipboard_.Get(ClipboardHelper::Register("HTML Format")));

    // The right button selects the node under it, so its menu acts on that node.
    HTREEITEM noteLeaf = FindNode(day + "|Notes|Text");
    host_.tree.Tree().EnsureVisible(noteLeaf);
    RECT row = {};
    ASSERT_TRUE(host_.tree.Tree().GetItemRect(noteLeaf, row, true));
    ::SendMessageA(host_.tree.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(row.left + 2, row.top + 2));
    EXPECT_EQ(noteLeaf, host_.tree.Tree().Selection());

    // The shown item leaves the pane before it is destroyed.
    ASSERT_NE(nullptr, host_.pane.CurrentItem());
    const std::string noteFile = host_.pane.CurrentItem()->RecordPath();
    host_.tree.DeleteNode(noteLeaf);
    host_.tree.FlushWrites();  // deletions are queued behind the writes
    EXPECT_FALSE(FileExists(noteFile));
    const ClipItem* shown = host_.pane.CurrentItem();
    EXPECT_TRUE(!shown || std::any_of(host_.tree.Items().begin(), host_.tree.Items().end(),
                                      [&](const auto& item) { return item.get() == shown; }));
    EXPECT_EQ(day + "\n  Notes [A1]\n  Report [A2]\n    HTML [H]\n    Text [T]\n", Dump());

    // A capture node goes with its leaves and its record file.
    host_.tree.DeleteNode(FindNode(day + "|Report"));
    EXPECT_EQ(day + "\n  Notes [A1]\n", Dump());
    EXPECT_TRUE(host_.tree.Items().empty());
    EXPECT_EQ(1u, host_.tree.Captures().size());
    host_.tree.FlushWrites();
    EXPECT_EQ(1u, ListFiles(folder_.Path() + "AppData\\", "*.se").size());
}

TEST_F(GroupTreeTest, ItemsLimitKeepsTheNewestCapturesInEveryMode) {
    for (int mode : {kGroupByDate, kGroupByType}) {
        TempFolder folder;
        options_.folder = folder.Path();
        options_.itemsLimit = 3;
        Open(mode);
        for (int i = 0; i < 5; ++i) {
            CaptureText(i % 2 ? notes_ : report_, L"capture " + std::to_wstring(i));
            // Times count whole seconds: a minute apart each, the first oldest.
            const double time = CurrentCaptureTime() - (5 - i) / 1440.0;
            ClipItem& item = *host_.tree.Items().back();
            item.SetCaptureTime(time);
            host_.tree.FindCapture(item)->CaptureTime = time;
        }
        host_.tree.Trim();
        host_.tree.FlushWrites();
        EXPECT_EQ(3u, host_.tree.Items().size()) << mode;
        EXPECT_EQ(3u, host_.tree.Captures().size()) << mode;
        EXPECT_EQ(3u, ListFiles(folder.Path() + DateFolderName(CurrentCaptureTime()) + "\\").size()) << mode;
        EXPECT_EQ(3u, ListFiles(folder.Path() + "AppData\\", "*.se").size()) << mode;
        for (const auto& item : host_.tree.Items())
            EXPECT_NE(L"capture 0", static_cast<const TextItem&>(*item).Text());
        host_.tree.Clear();
    }
}

TEST_F(GroupTreeTest, ItemsLimitRemovesTheCapturesThatCameFirstWhenTheClockGoesBack) {
    options_.itemsLimit = 3;
    Open(kGroupByType);
    // Each capture an hour earlier than the one before: the clock was set back.
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        CaptureText(notes_, L"capture " + std::to_wstring(i));
        times.push_back(CurrentCaptureTime() - i / 24.0);
        ClipItem& item = *host_.tree.Items().back();
        item.SetCaptureTime(times.back());
        CaptureRecord& record = *host_.tree.FindCapture(item);
        record.CaptureTime = times.back();
        ASSERT_TRUE(record.WriteFile(record.FilePath));
    }
    host_.tree.Trim();
    ASSERT_EQ(3u, host_.tree.Items().size());
    for (int i = 0; i < 3; ++i) {
        const ClipItem& item = *host_.tree.Items()[i];
        EXPECT_EQ(L"capture " + std::to_wstring(i + 2), static_cast<const TextItem&>(item).Text());
        // The times stay as they were stored.
        EXPECT_DOUBLE_EQ(times[i + 2], item.CaptureTime());
    }
    EXPECT_EQ(3u, host_.tree.Captures().size());

    // Loaded again, the captures stand in the order of their times; a new one
    // comes after them all, so the oldest by time goes, not the new capture.
    Open(kGroupByType);
    CaptureText(notes_, L"after the reload");
    ClipItem& fresh = *host_.tree.Items().back();
    fresh.SetCaptureTime(times.back() - 1);
    host_.tree.FindCapture(fresh)->CaptureTime = times.back() - 1;
    host_.tree.Trim();
    std::vector<std::wstring> kept;
    for (const auto& item : host_.tree.Items()) kept.push_back(static_cast<const TextItem&>(*item).Text());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ((std::vector<std::wstring>{L"after the reload", L"capture 2", L"capture 3"}), kept);
}

// A start with today's items in a large archive takes only their records; the
// builder hands over the rest. The captures limit waits for them, then counts
// every capture in the order of their times, this run's after them all.
TEST_F(GroupTreeTest, RecordsHandedOverAfterTheLoadAreTrimmedInTheOrderOfTheirTimes) {
    TempFolder local;
    options_.catalogPath = local / "catalog.db";
    options_.loadWholeArchive = false;
    options_.recordsLaterFrom = 1;
    const std::string appData = folder_.Path() + "AppData\\";
    CreateFolderPath(appData);
    auto store = [&](double time, const std::wstring& text) {
        CaptureRecord record;
        ::CoCreateGuid(&record.CaptureGuid);
        record.Title = "Notes";
        record.CaptureTime = time;
        ASSERT_TRUE(record.WriteFile(MakeUniqueFileName(appData, nullptr, ".se")));
        TextItem item;
        item.SetText(text);
        item.SetCaptureTime(time);
        item.SetSourceGuid(record.CaptureGuid);
        ASSERT_TRUE(StoreItem(item, folder_.Path()));
    };
    const double now = CurrentCaptureTime();
    for (int day = 3; day >= 1; --day) store(now - day, L"day " + std::to_wstring(day));
    store(now - 2 / 1440.0, L"first today");
    store(now - 1 / 1440.0, L"second today");
    Open();  // a first start: the records join the catalog
    host_.tree.WaitForCatalog();
    EXPECT_EQ(5u, host_.tree.Captures().size());

    options_.itemsLimit = 2;
    Open();
    EXPECT_TRUE(host_.tree.LoadPending());
    EXPECT_EQ(2u, host_.tree.Captures().size());
    EXPECT_EQ(2u, host_.tree.Items().size());
    CaptureText(notes_, L"this run");
    host_.tree.WaitForCatalog();
    EXPECT_FALSE(host_.tree.LoadPending());
    std::vector<std::wstring> kept;
    for (const auto& item : host_.tree.Items()) kept.push_back(static_cast<const TextItem&>(*item).Text());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ((std::vector<std::wstring>{L"second today", L"this run"}), kept);
    EXPECT_EQ(5u, host_.tree.Captures().size());
}

TEST_F(GroupTreeTest, FindStartsAfterTheSelectionAndSearchesUtf16Text) {
    options_.loadWholeArchive = false;
    Open();
    CaptureText(notes_, L"東京 first");
    CaptureText(report_, L"second 東京");
    EXPECT_FALSE(host_.tree.FindItem(L"", FR_DOWN));
    ASSERT_TRUE(host_.tree.FindItem(L"東京", FR_DOWN));
    EXPECT_EQ(FindNode("Notes|Text"), host_.tree.Tree().Selection());
    ASSERT_TRUE(host_.tree.FindItem(L"東京", FR_DOWN));
    EXPECT_EQ(FindNode("Report|Text"), host_.tree.Tree().Selection());
    // The selected last leaf itself is not tested again.
    EXPECT_FALSE(host_.tree.FindItem(L"東京", FR_DOWN));
    EXPECT_FALSE(host_.tree.FindItem(L"second", FR_DOWN));
    // Upward from there finds the first.
    EXPECT_TRUE(host_.tree.FindItem(L"first", 0));
    EXPECT_EQ(FindNode("Notes|Text"), host_.tree.Tree().Selection());

    // RTF is searched in the text it shows, whatever its source looks like,
    // before and after the search was prepared.
    ::SetWindowTextA(report_, "Memo");
    Capture(report_, {{ClipboardHelper::Register("Rich Text Format"), "{\\rtf1 sp{\\b li}t w{\\i or}d}"}});
    host_.tree.Tree().SelectItem(nullptr);
    EXPECT_TRUE(host_.tree.FindItem(L"LIT W", FR_DOWN));
    EXPECT_EQ(FindNode("Memo|RTF"), host_.tree.Tree().Selection());
    while (host_.tree.PrepareSearch(20)) {
    }
    host_.tree.Tree().SelectItem(nullptr);
    EXPECT_TRUE(host_.tree.FindItem(L"split word", FR_DOWN | FR_MATCHCASE));
    EXPECT_FALSE(host_.tree.FindItem(L"Split", FR_DOWN | FR_MATCHCASE));
}

TEST_F(GroupTreeTest, ExpandedTreeIsTheWholeArchiveInEveryMode) {
    TempFolder generated;
    ArchiveShape shape;
    shape.captures = 300;
    shape.days = 12;
    ASSERT_TRUE(GenerateArchive(generated.Path(), shape));
    options_.folder = generated.Path();
    std::map<int, std::string> models;
    for (int mode : {kGroupByDate, kGroupByType, kGroupByApplication}) {
        Open(mode);
        // Until something is expanded the control holds the top level alone...
        const std::string model = models[mode] = ModelDump();
        size_t topLevel = 0;
        host_.tree.VisitModel([&](int depth, const std::string&, int) { topLevel += depth == 0; });
        EXPECT_EQ(topLevel, host_.tree.Tree().GetCount()) << mode;
        // ... and expanded it shows every node the rebuild used to insert, in order.
        EXPECT_GT(std::count(model.begin(), model.end(), '\n'), 300) << mode;
        EXPECT_EQ(model, Dump(true)) << mode;
    }

    // A large archive's start shows today's items; the builder hands the
    // other days over, and the tree they make is the same.
    TempFolder local;
    options_.catalogPath = local / "catalog.db";
    Open();
    host_.tree.WaitForCatalog();
    options_.recordsLaterFrom = 1;
    for (int mode : {kGroupByDate, kGroupByType, kGroupByApplication}) {
        Open(mode);
        EXPECT_TRUE(host_.tree.LoadPending()) << mode;
        host_.tree.WaitForCatalog();
        EXPECT_EQ(models[mode], Dump(true)) << mode;
    }
}

TEST_F(GroupTreeTest, DeleteTrimAndFindReachGroupsNeverExpanded) {
    Open(kGroupByDate);
    int minutesAgo = 3;
    for (const auto& [source, text] :
         {std::pair{notes_, L"first needle"}, {report_, L"second needle"}, {notes_, L"third"}}) {
        CaptureText(source, text);
        // A minute apart, the first oldest, so a reload keeps their order.
        CaptureRecord& record = *host_.tree.FindCapture(*host_.tree.Items().back());
        record.CaptureTime = CurrentCaptureTime() - minutesAgo-- / 1440.0;
        ASSERT_TRUE(record.WriteFile(record.FilePath));
    }
    const std::string day = host_.tree.Items().front()->DateText();
    auto selectedText = [&] {
        const ClipItem* item = host_.tree.SelectedItem();
        return item ? static_cast<const TextItem&>(*item).Text() : L"";
    };

    // Find goes through the groups in the tree's order and opens the way to what it finds.
    Open(kGroupByDate);
    TreeViewCtrl tree = host_.tree.Tree();
    ASSERT_EQ(1u, tree.GetCount());
    EXPECT_TRUE(ShowsButton(tree.Root()));
    ASSERT_TRUE(host_.tree.FindItem(L"needle", FR_DOWN));
    EXPECT_EQ(L"first needle", selectedText());
    ASSERT_TRUE(host_.tree.FindItem(L"needle", FR_DOWN));
    EXPECT_EQ(L"second needle", selectedText());
    EXPECT_EQ(FindNode(day + "|Report|Text"), tree.Selection());

    // A capture node takes its leaves along, whether or not they were ever shown.
    Open(kGroupByDate);
    tree.Expand(tree.Root());
    ASSERT_EQ(4u, tree.GetCount());
    std::string reportFile;
    for (const auto& item : host_.tree.Items())
        if (static_cast<const TextItem&>(*item).Text() == L"second needle") reportFile = item->RecordPath();
    HTREEITEM report = tree.GetNextItem(tree.GetNextItem(tree.Child(tree.Root()), TVGN_NEXT), TVGN_NEXT);
    ASSERT_EQ("Report", tree.GetItemText(report));
    ASSERT_TRUE(host_.tree.DeleteNode(report));
    host_.tree.FlushWrites();  // deletions are queued behind the writes
    EXPECT_FALSE(FileExists(reportFile));
    EXPECT_EQ(2u, host_.tree.Items().size());
    EXPECT_EQ(2u, host_.tree.Captures().size());

    // The trim takes items from groups never expanded out of the model alone; so
    // does a capture that arrives under one.
    options_.itemsLimit = 1;
    Open(kGroupByDate);
    EXPECT_EQ(1u, tree.GetCount());
    ASSERT_EQ(1u, host_.tree.Items().size());
    EXPECT_EQ(L"third", static_cast<const TextItem&>(*host_.tree.Items().front()).Text());
    CaptureText(notes_, L"fourth");
    host_.tree.Trim();
    EXPECT_EQ(1u, tree.GetCount());
    ASSERT_EQ(1u, host_.tree.Items().size());
    EXPECT_EQ(L"fourth", static_cast<const TextItem&>(*host_.tree.Items().front()).Text());
    EXPECT_EQ(day + "\n  Notes [A1]\n    Text [T]\n", Dump());
}

// With a catalog, Find reads only the items it may find the text in, and finds
// what it found without: in cataloged items, in RTF by its shown text, and in
// items captured or changed since the load.
TEST_F(GroupTreeTest, FindThroughTheCatalogFindsWhatItFoundWithout) {
    TempFolder local;
    options_.loadWholeArchive = false;
    options_.catalogPath = local / "catalog.db";
    Open();
    CaptureText(notes_, L"東京 first");
    ::SetWindowTextA(report_, "Memo");
    Capture(report_, {{ClipboardHelper::Register("Rich Text Format"), "{\\rtf1 sp{\\b li}t w{\\i or}d}"}});
    host_.tree.Clear();
    Open();  // catalogs them
    ::SetWindowTextA(report_, "Report");
    CaptureText(report_, L"second 東京");
    ASSERT_TRUE(host_.tree.FindItem(L"東京", FR_DOWN));
    EXPECT_EQ(FindNode("Notes|Text"), host_.tree.Tree().Selection());
    ASSERT_TRUE(host_.tree.FindItem(L"東京", FR_DOWN));
    EXPECT_EQ(FindNode("Report|Text"), host_.tree.Tree().Selection());
    host_.tree.Tree().SelectItem(nullptr);
    EXPECT_TRUE(host_.tree.FindItem(L"LIT W", FR_DOWN));
    EXPECT_EQ(FindNode("Memo|RTF"), host_.tree.Tree().Selection());
    host_.tree.Tree().SelectItem(nullptr);
    EXPECT_FALSE(host_.tree.FindItem(L"nowhere", FR_DOWN));
}

// The filter shows the matches of every day, loaded or not, grouped by day,
// with the captures that match as they arrive; leaving it brings back the tree
// and the selection, or keeps the match chosen, and nothing else it read.
TEST_F(GroupTreeTest, FilterShowsEveryDaysMatchesAndLeavingRestoresTheTree) {
    TempFolder local;
    options_.catalogPath = local / "catalog.db";
    const std::string oldDay = StoreEarlierCapture(L"Old N\u00e9edle", 3);
    Open();  // the whole archive once, so the catalog holds it
    CaptureText(notes_, L"today's n\u00c9EDLE");
    CaptureText(report_, L"other");
    options_.loadWholeArchive = false;
    Open();
    // The old day is cataloged in the background.
    host_.tree.WaitForCatalog();
    const std::string today = host_.tree.Items().front()->DateText();
    const size_t loaded = host_.tree.Items().size();
    TreeViewCtrl tree = host_.tree.Tree();
    tree.SelectItem(FindNode("Report|Text"));
    auto selectedText = [&] {
        const ClipItem* item = host_.tree.SelectedItem();
        return item ? static_cast<const TextItem&>(*item).Text() : L"";
    };

    host_.tree.SetFilter(L"n\u00c9edle");
    EXPECT_EQ(2u, host_.tree.FilterMatchCount());
    EXPECT_TRUE(FindNode(oldDay + "|Notes|Text"));
    EXPECT_TRUE(FindNode(today + "|Notes|Text"));
    EXPECT_FALSE(FindNode(today + "|Report"));
    CaptureText(report_, L"late N\u00e9EDLE");
    CaptureText(report_, L"no match");
    EXPECT_EQ(3u, host_.tree.FilterMatchCount());
    EXPECT_TRUE(FindNode(today + "|Report|Text"));
    // A capture deleted among the matches leaves its other items, and its record.
    ::SetWindowTextA(report_, "Pair");
    Capture(report_, {{CF_UNICODETEXT, Utf16Bytes(L"pair n\u00e9edle")},
                      {ClipboardHelper::Register("Rich Text Format"), "{\\rtf1 no match}"}});
    auto rtf = [&]() -> const ClipItem* {
        for (const auto& item : host_.tree.Items())
            if (item->TypeCode() == kRtfItemType) return item.get();
        return nullptr;
    };
    ASSERT_TRUE(rtf());
    ASSERT_TRUE(host_.tree.DeleteNode(FindNode(today + "|Pair")));
    ASSERT_TRUE(rtf());
    EXPECT_TRUE(host_.tree.FindCapture(*rtf()));
    host_.tree.EndFilter(nullptr);
    EXPECT_EQ(L"other", selectedText());
    EXPECT_EQ(loaded + 3, host_.tree.Items().size());

    // The match chosen stays, from its day.
    host_.tree.SetFilter(L"old");
    ASSERT_TRUE(host_.tree.SelectFirstMatch());
    EXPECT_EQ(L"Old N\u00e9edle", selectedText());
    host_.tree.EndFilter(host_.tree.SelectedItem());
    EXPECT_EQ(L"Old N\u00e9edle", selectedText());
    EXPECT_EQ(loaded + 4, host_.tree.Items().size());

    // Past the most the tree holds, matches are only counted.
    host_.tree.FlushWrites();
    host_.tree.OnWritesDone();  // the catalog knows every capture
    host_.tree.SetMostFilterMatchesShown(1);
    host_.tree.SetFilter(L"N\u00e9edle");
    while (host_.tree.ContinueFilter(50)) {
    }
    EXPECT_EQ(3u, host_.tree.FilterMatchCount());
    EXPECT_EQ(1u, host_.tree.FilterShownCount());
}

// A match deleted from the filter's tree before the builder hands its day over
// does not come back with the day, nor does its capture.
TEST_F(GroupTreeTest, AMatchDeletedBeforeItsDayArrivesStaysDeleted) {
    TempFolder local;
    options_.catalogPath = local / "catalog.db";
    options_.readUnknownDaysLater = true;
    const std::string oldDay = StoreEarlierCapture(L"old needle", 3);
    StoreEarlierCapture(L"other", 3);
    Open();
    // The builder has cataloged the day, and handed it over to no one yet.
    ::Sleep(500);
    host_.tree.SetFilter(L"needle");
    ASSERT_TRUE(host_.tree.DeleteNode(FindNode(oldDay + "|Notes")));
    host_.tree.EndFilter(nullptr);
    host_.tree.FlushWrites();
    host_.tree.WaitForCatalog();
    ASSERT_EQ(1u, host_.tree.Items().size());
    EXPECT_EQ(L"other", static_cast<const TextItem&>(*host_.tree.Items()[0]).Text());
    EXPECT_EQ(1u, host_.tree.Captures().size());
}

// Memory follows what is shown, not what the archive holds: with a catalog, a
// whole archive loaded and its tree built costs the model a few hundred bytes a
// capture, with its items and their nodes, and no item's text.
TEST_F(GroupTreeTest, ACaptureCostsTheModelAFewHundredBytes) {
    TempFolder generated, local;
    ArchiveShape shape;
    shape.captures = 1000;
    shape.days = 12;
    ASSERT_TRUE(GenerateArchive(generated.Path(), shape));
    options_.folder = generated.Path();
    options_.catalogPath = local / "catalog.db";
    // The first load makes the catalog, and whatever is made once a run.
    Open();
    host_.tree.WaitForCatalog();
    host_.tree.Clear();
    const size_t before = HeapBytesInUse();
    Open();
    host_.tree.WaitForCatalog();
    while (host_.tree.PrepareSearch(20)) {
    }
    const size_t perCapture = (HeapBytesInUse() - before) / host_.tree.Captures().size();
    EXPECT_LT(perCapture, 1200u);
    std::printf("heap per capture, with its items and nodes: %zu bytes\n", perCapture);
}
