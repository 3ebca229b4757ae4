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
    const std::wstring& Text() const { return text_; }
    bool HasText() const { return !text_.empty(); }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    void PutOnClipboard(HWND owner) override;
    bool ContainsText(const char*, unsigned) override { return false; }
    bool SaveAs() override;
    void ReleaseData() override;
    bool WriteData(RecordFileWriter& file) override;
    bool ReadData(ByteSpan data) override;

    // The three save choices: 1 ANSI, 2 UTF-16 little-endian, 3 UTF-8; no byte-order mark.
    bool WriteTextFile(const std::string& path, int choice) const;

private:
    std::wstring text_;
};
