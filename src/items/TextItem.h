// A captured text, held as UTF-16.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "items/ClipItem.h"

class TextItem : public ClipItem {
public:
    TextItem();
    ~TextItem() override { TextItem::ReleaseData(); }

    // Takes the text up to its first NUL; empty text leaves the item without text.
    bool SetText(std::wstring_view text);
    // The text; empty also when it was left on disk and cannot be read back:
    // a use that must tell the two apart asks EnsureData first.
    const std::wstring& Text() const;
    bool HasText() const { return !Text().empty(); }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    bool RenderClipboard(ClipboardBlocks& blocks) const override;
    bool ContainsText(const char*, unsigned) override { return false; }
    bool SaveAs() override;
    void ReleaseData() override;
    ItemPayload WriterPayload() const override;
    bool ReadData(ByteSpan data) override;
    // Large texts are only counted: a text is usable whenever its block inflates.
    bool LoadData(ByteSpan data) override;
    size_t DataBytes() const override { return text_ ? text_->size() * sizeof(wchar_t) : 0; }

    // The three save choices: 1 ANSI, 2 UTF-16 little-endian, 3 UTF-8; no byte-order mark.
    // Writes nothing (false) when the text cannot be read back.
    bool WriteTextFile(const std::string& path, int choice) const;

private:
    // Takes the UTF-16 bytes of a decompressed block.
    bool SetTextBytes(const Bytes& bytes);

    // Replaced, never changed in place: a queued write may share it.
    std::shared_ptr<const std::wstring> text_;
};
