// "Never Archive This Program" on the tree's menu: the program of a capture, or
// of an application group, joins the exclude list.
#include <windows.h>

#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"

namespace {

// The program the capture names; a record of an earlier build names none, and
// takes its application's, which may have learned it from a window of this run.
std::string ProgramOfCapture(const ItemArchive& archive, const CaptureRecord* capture) {
    if (!capture) return {};
    if (!capture->ProgramKey.empty()) return capture->ProgramKey;
    const SourceApp* app = archive.ApplicationOf(*capture);
    return app ? app->ProgramKey : std::string();
}

}  // namespace

std::string MainFrame::ProgramOfNode(HTREEITEM node) const {
    const NodeRef* ref = archive_.NodeRefOf(node);
    if (!ref) return {};
    if (ref->kind == NodeRef::kCapture) return ProgramOfCapture(archive_, ref->capture);
    if (ref->kind == NodeRef::kItem) return ProgramOfCapture(archive_, archive_.FindCapture(*ref->item));
    if (archive_.GroupBy() != kGroupByApplication) return {};
    // An application group (or a day below one) carries no record; it is named
    // after its captures' title, as the tree groups them. Of the captures with
    // that title, the newest whose program is known names it.
    const TreeViewCtrl tree = archive_.Tree();
    for (HTREEITEM parent = tree.Parent(node); parent; parent = tree.Parent(node)) node = parent;
    const std::string title = tree.GetItemText(node);
    const CaptureRecord* newest = nullptr;
    std::string program;
    for (const auto& [guid, capture] : archive_.Captures()) {
        if (::lstrcmpiA(capture->Title.c_str(), title.c_str()) != 0 || (newest && capture->Order < newest->Order))
            continue;
        std::string key = ProgramOfCapture(archive_, capture.get());
        if (key.empty()) continue;
        newest = capture.get();
        program = std::move(key);
    }
    return program;
}

bool MainFrame::CanNeverArchiveSelection() const {
    const std::string program = ProgramOfNode(archive_.Tree().Selection());
    return !program.empty() && !AppSettings().ExcludedPrograms.Contains(program);
}

void MainFrame::OnNeverArchiveProgram() {
    Settings& settings = AppSettings();
    // Kept at once: the list is the user's word, whatever becomes of this run.
    if (settings.ExcludedPrograms.Add(ProgramOfNode(archive_.Tree().Selection()))) settings.SaveExcludedPrograms();
}
