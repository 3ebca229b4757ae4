// Base of the RTF and HTML items: a markup document held as one zlib block, in
// memory as in the item file, and searched as UTF-8 bytes.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "items/ClipItem.h"
#include "base/Compression.h"
#include "items/SaveDialog.h"

class MarkupItem : public ClipItem {
public:
    // The document's bytes. An item without data gives true and no bytes; a block
    // that does not decompress (a damaged item file) gives false.
    bool GetContent(Bytes& content) const;
    bool HasData() const { return EnsureData() && block_; }
    // Bytes of the compressed block.
    uint32_t DataSize() const { return EnsureData() && block_ ? static_cast<uint32_t>(block_->size()) : 0; }
    // Changes with every change of the content, and is never the same for two
    // items: what was worked out from a content can be kept until it changes.
    // Leaving memory and being read back unchanged is no change.
    uint64_t Revision() const { return revision_; }

    // Case-sensitive search of the document, control words and tags included, for
    // the ANSI text converted to UTF-8. An empty text or document is never found.
    bool ContainsText(const char* text, unsigned flags) override;
    void ReleaseData() override;
    ItemPayload WriterPayload() const override;
    size_t DataBytes() const override { return block_ ? block_->size() : 0; }
    // Takes the block as stored; it is only decompressed when used.
    bool ReadData(ByteSpan data) override;

protected:
    MarkupItem(int32_t typeCode, unsigned typeNameId);

    // Compresses the document into the item; an empty one leaves it without data.
    bool SetContent(std::string_view document);
    // Adds the registered format's block: `header`, the document, one zero byte.
    static void AddDocumentBlock(ClipboardBlocks& blocks, const char* formatName, std::string_view header,
                                 const Bytes& document);
    // Writes `preamble` and the document to a user file. A damaged or unreadable
    // document writes nothing, so an existing file of that name is left as it was.
    bool WriteContentFile(const std::string& path, std::string_view preamble) const;
    // The save dialog, unless the data cannot be read (the user is told).
    bool SaveContentAs(const std::vector<SaveChoice>& choices, const char* extension,
                       const std::function<bool(const std::string&)>& write);

private:
    void NextRevision();

    // Replaced, never changed in place: a queued write may share it.
    std::shared_ptr<const Bytes> block_;
    uint64_t revision_ = 0;
    // The block's checksum: a block read back unchanged keeps the revision.
    uint32_t blockSum_ = 0;
};
