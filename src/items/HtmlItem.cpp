#include "items/HtmlItem.h"

#include <optional>

#include "base/CodePage.h"
#include "items/MarkupFormat.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

constexpr std::string_view kMetaLine = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=UTF-8\">";

const std::vector<SaveChoice> kHtmlChoices = {{"HTML (*.htm)", "*.htm", ".htm"}};

}  // namespace

HtmlItem::HtmlItem() : MarkupItem(kHtmlItemType, IDS_TYPE_HTML) {}

bool HtmlItem::SetFromCfHtml(std::string_view block) {
    const std::optional<std::string_view> document = CfHtmlDocument(block);
    if (!document) {
        SetContent({});
        return false;
    }
    return SetContent(*document);
}

bool HtmlItem::SetHtmlText(std::wstring_view text) {
    text = text.substr(0, text.find(L'\0'));
    const std::string utf8 = ToMultiByte(text, CP_UTF8);
    // A text that cannot be converted must not pass for an empty one.
    if (utf8.empty() && !text.empty()) {
        SetContent({});
        return false;
    }
    return SetContent(utf8);
}

bool HtmlItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return OpenInExternalViewer(temporaryFolder, ".htm", [this](const std::string& path) { return WriteHtmlFile(path); });
}

bool HtmlItem::RenderClipboard(ClipboardBlocks& blocks) const {
    Bytes content;
    if (!GetContent(content)) return false;
    const std::string header = BuildCfHtmlHeader(content.size());
    if (!header.empty()) AddDocumentBlock(blocks, "HTML Format", header, content);
    return true;
}

bool HtmlItem::SaveAs() {
    return SaveContentAs(kHtmlChoices, ".htm", [this](const std::string& path) { return WriteHtmlFile(path); });
}

bool HtmlItem::WriteHtmlFile(const std::string& path) const { return WriteContentFile(path, kMetaLine); }
