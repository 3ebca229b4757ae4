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
    PrepareChange();
    const std::optional<std::string_view> document = CfHtmlDocument(block);
    if (!document) return false;
    return SetContent(*document);
}

bool HtmlItem::SetHtmlText(std::wstring_view text) {
    PrepareChange();
    text = text.substr(0, text.find(L'\0'));
    if (text.empty()) return true;
    const std::string utf8 = ToMultiByte(text, CP_UTF8);
    // A text that cannot be converted must not pass for an empty one.
    if (utf8.empty()) return false;
    return SetContent(utf8);
}

bool HtmlItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    return OpenInExternalViewer(temporaryFolder, ".htm", [this](const std::string& path) { return WriteHtmlFile(path); });
}

void HtmlItem::PutOnClipboard(HWND owner) {
    Bytes content;
    if (!GetContent(content)) return;
    const std::string header = BuildCfHtmlHeader(content.size());
    if (header.empty()) return;
    PutDocumentOnClipboard(owner, "HTML Format", header, content);
}

bool HtmlItem::SaveAs() {
    return SaveThroughDialog(kHtmlChoices, ".htm",
                             [this](const std::string& path, int) { return WriteHtmlFile(path); });
}

bool HtmlItem::WriteHtmlFile(const std::string& path) const { return WriteContentFile(path, kMetaLine); }
