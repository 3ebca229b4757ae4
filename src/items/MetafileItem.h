// A captured enhanced metafile, held as the item's own in-memory copy and
// stored compressed in its item file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/UniqueHandle.h"
#include "items/ClipItem.h"
#include "base/Compression.h"

class MetafileItem : public ClipItem {
public:
    MetafileItem();

    // Keeps a copy of the metafile; the caller keeps its own handle. False, and no
    // metafile, when the copy fails or its bytes are not a sound metafile (an item
    // that could not be read back from its file is better not captured at all).
    bool SetMetafile(HENHMETAFILE metafile);
    // The item's own metafile, borrowed; null without one.
    HENHMETAFILE Metafile() const { return EnsureData() ? metafile_.get() : nullptr; }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    // A new copy goes to the clipboard as CF_ENHMETAFILE; the item keeps its own.
    bool RenderClipboard(ClipboardBlocks& blocks) const override;
    bool ContainsText(const char*, unsigned) override { return false; }
    bool SaveAs() override;
    void ReleaseData() override { metafile_.reset(); }
    // The metafile's bytes (a copy, compressed on the writer thread); nothing
    // without a metafile.
    ItemPayload WriterPayload() const override;
    size_t DataBytes() const override;
    // Decompressed, checked with IsSoundEnhMetaFile, then made into a metafile.
    bool ReadData(ByteSpan data) override;

    // The plain EMF file content, as GetEnhMetaFileBits gives it. False (and no
    // file) without a metafile.
    bool WriteEmfFile(const std::string& path) const;

private:
    bool GetBits(Bytes& bits) const;

    UniqueEnhMetaFile metafile_;
};
