// A captured text, held as UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "items/ClipItem.h"

class TextItem : public ClipItem {
public:
    TextItem();
    ~TextItem() override { TextItem::ReleaseData(); }

    // Takes the text up to its first NUL; empty text leaves the item without text.
    bool SetText(std::wstring_view text);
    const std::wstring& Text() const {
        EnsureData();
        return text_;
    }
    bool HasText() const { return !Text().empty(); }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    void PutOnClipboard(HWND owner) override;
    bool ContainsText(const char*, unsigned) override { return false; }
    bool SaveAs() override;
    void ReleaseData() override;
    bool WriteData(RecordFileWriter& file) const override;
    bool ReadData(ByteSpan data) override;
    // Large texts are only counted: a text is usable whenever its block inflates.
    bool LoadData(ByteSpan data) override;
    size_t DataBytes() const override { return text_.size() * sizeof(wchar_t); }

    // The three save choices: 1 ANSI, 2 UTF-16 little-endian, 3 UTF-8; no byte-order mark.
    bool WriteTextFile(const std::string& path, int choice) const;

private:
    // Takes the UTF-16 bytes of a decompressed block.
    bool SetTextBytes(const Bytes& bytes);

    std::wstring text_;
};
