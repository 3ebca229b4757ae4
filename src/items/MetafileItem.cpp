#include "items/MetafileItem.h"

#include <limits>
#include <new>
#include <vector>

#include "base/Limits.h"
#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "items/MetafileFormat.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

const std::vector<SaveChoice> kMetafileChoices = {{"Metafile (*.emf)", "*.emf", ".emf"}};

}  // namespace

MetafileItem::MetafileItem() : ClipItem(kMetafileItemType, IDS_TYPE_METAFILE) {}

bool MetafileItem::SetMetafile(HENHMETAFILE metafile) {
    PrepareChange();
    if (!metafile) return false;
    // What could not be read back is not taken at all.
    if (::GetEnhMetaFileBits(metafile, 0, nullptr) > kMaxItemDataBytes) return false;
    metafile_.reset(::CopyEnhMetaFileA(metafile, nullptr));
    Bytes bits;
    if (GetBits(bits) && IsSoundEnhMetaFile(bits.data(), bits.size())) return true;
    ReleaseData();
    return false;
}

size_t MetafileItem::DataBytes() const { return metafile_ ? ::GetEnhMetaFileBits(metafile_.get(), 0, nullptr) : 0; }

bool MetafileItem::GetBits(Bytes& bits) const {
    bits.clear();
    if (!metafile_) return false;
    const UINT size = ::GetEnhMetaFileBits(metafile_.get(), 0, nullptr);
    if (size == 0) return false;
    try {
        bits.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bits.resize(::GetEnhMetaFileBits(metafile_.get(), size, bits.data()));
    return !bits.empty();
}

bool MetafileItem::WriteEmfFile(const std::string& path) const {
    Bytes bits;
    return EnsureData() && GetBits(bits) && WriteWholeFile(path, bits.data(), bits.size());
}

bool MetafileItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return OpenInExternalViewer(temporaryFolder, ".emf", [this](const std::string& path) { return WriteEmfFile(path); });
}

bool MetafileItem::RenderClipboard(ClipboardBlocks& blocks) const {
    if (!EnsureData()) return false;
    // Without a metafile there is nothing to place (a null handle would promise
    // data that nobody renders).
    if (metafile_) blocks.AddMetafile(UniqueEnhMetaFile(::CopyEnhMetaFileA(metafile_.get(), nullptr)));
    return true;
}

bool MetafileItem::SaveAs() {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return SaveThroughDialog(kMetafileChoices, ".emf",
                             [this](const std::string& path, int) { return WriteEmfFile(path); });
}

ItemPayload MetafileItem::WriterPayload() const {
    if (!metafile_) return {};
    auto bits = std::make_shared<Bytes>();
    // Bits that cannot be had make a write that fails.
    GetBits(*bits);
    const size_t bytes = bits->size();
    return {[bits = std::shared_ptr<const Bytes>(std::move(bits))](RecordFileWriter& file) {
                Bytes block;
                if (bits->empty() || !CompressBlock(bits->data(), bits->size(), block) ||
                    block.size() > std::numeric_limits<uint32_t>::max())
                    return false;
                return file.Field('B', block.data(), block.size());
            },
            bytes};
}

bool MetafileItem::ReadData(ByteSpan data) {
    PrepareChange();
    Bytes bits;
    if (!DecompressBlock(data.data(), data.size(), bits)) return false;
    if (!IsSoundEnhMetaFile(bits.data(), bits.size())) return false;
    metafile_.reset(::SetEnhMetaFileBits(static_cast<UINT>(bits.size()), bits.data()));
    return static_cast<bool>(metafile_);
}
