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

bool RtfItem::ShowInExternalViewer() {
    const std::string path = NewTempFileName(".rtf");
    if (!WriteRtfFile(path)) return false;
    OpenWithShell(path);
    return true;
}

void RtfItem::PutOnClipboard(HWND owner) {
    Bytes content;
    if (GetContent(content)) PutDocumentOnClipboard(owner, "Rich Text Format", {}, content);
}

bool RtfItem::SaveAs() {
    std::string path;
    int choice = 0;
    if (AskSavePath(kRtfChoices, ".rtf", path, choice) && choice == 1) WriteRtfFile(path);
    return true;
}

bool RtfItem::WriteRtfFile(const std::string& path) const { return WriteContentFile(path, {}); }
