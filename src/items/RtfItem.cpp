#include "items/RtfItem.h"

#include "items/MarkupFormat.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

const std::vector<SaveChoice> kRtfChoices = {{"RTF Text(*.rtf)", "*.rtf", ".rtf"}};

}  // namespace

RtfItem::RtfItem() : MarkupItem(kRtfItemType, IDS_TYPE_RTF) {}

bool RtfItem::SetRtf(std::string_view block) {
    return SetContent(RtfDocument(block));
}

bool RtfItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return OpenInExternalViewer(temporaryFolder, ".rtf", [this](const std::string& path) { return WriteRtfFile(path); });
}

bool RtfItem::RenderClipboard(ClipboardBlocks& blocks) const {
    Bytes content;
    if (!GetContent(content)) return false;
    AddDocumentBlock(blocks, "Rich Text Format", {}, content);
    return true;
}

bool RtfItem::SaveAs() {
    return SaveContentAs(kRtfChoices, ".rtf", [this](const std::string& path) { return WriteRtfFile(path); });
}

bool RtfItem::WriteRtfFile(const std::string& path) const { return WriteContentFile(path, {}); }
