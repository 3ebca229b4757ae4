// A captured "Rich Text Format" block: the RTF source, held compressed.
#pragma once

#include <string>
#include <string_view>

#include "items/MarkupItem.h"

class RtfItem : public MarkupItem {
public:
    RtfItem();

    // Takes the RTF as RtfDocument finds it: up to the first zero byte or the end
    // of the block. An empty text leaves the item without data and succeeds.
    bool SetRtf(std::string_view block);
    bool SetRtf(const void* block, size_t size) {
        return SetRtf(std::string_view(static_cast<const char*>(block), block ? size : 0));
    }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    // "Rich Text Format": the RTF and one zero byte; no plain-text form goes with it.
    bool RenderClipboard(ClipboardBlocks& blocks) const override;
    bool SaveAs() override;

    // The RTF bytes exactly, without a terminating zero.
    bool WriteRtfFile(const std::string& path) const;
};
