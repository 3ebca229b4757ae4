// A captured "HTML Format" block: the HTML document without the format's
// description header, held compressed.
#pragma once

#include <string>
#include <string_view>

#include "items/MarkupItem.h"

class HtmlItem : public MarkupItem {
public:
    HtmlItem();

    // Takes the document between the block's StartHTML and EndHTML offsets, as
    // CfHtmlDocument finds it; a start past the end gives no item (false). An
    // empty document leaves no data.
    bool SetFromCfHtml(std::string_view block);
    bool SetFromCfHtml(const void* block, size_t size) {
        return SetFromCfHtml(std::string_view(static_cast<const char*>(block), block ? size : 0));
    }
    // Stores the text as UTF-8 (up to its first NUL); empty text leaves no data.
    bool SetHtmlText(std::wstring_view text);

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    // "HTML Format": a fresh header, the document and one zero byte.
    bool RenderClipboard(ClipboardBlocks& blocks) const override;
    bool SaveAs() override;

    // The character-set META line (no line break), then the document; no byte-order mark.
    bool WriteHtmlFile(const std::string& path) const;
};
