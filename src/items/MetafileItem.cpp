#include "items/MetafileItem.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "base/Limits.h"
#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

const std::vector<SaveChoice> kMetafileChoices = {{"Metafile (*.emf)", "*.emf", ".emf"}};

// Records that name a slot of the playback handle table. GDI indexes its table
// with these values as they stand: creating and deleting write the slot, the
// others read it; only reads may name a stock object (high bit set).
enum class HandleUse { kWrite, kRead };
struct HandleField {
    uint32_t type;
    uint32_t offset;  // of the index in the record
    HandleUse use;
};
constexpr HandleField kHandleFields[] = {
    {EMR_CREATEPEN, 8, HandleUse::kWrite},
    {EMR_EXTCREATEPEN, 8, HandleUse::kWrite},
    {EMR_CREATEBRUSHINDIRECT, 8, HandleUse::kWrite},
    {EMR_CREATEMONOBRUSH, 8, HandleUse::kWrite},
    {EMR_CREATEDIBPATTERNBRUSHPT, 8, HandleUse::kWrite},
    {EMR_EXTCREATEFONTINDIRECTW, 8, HandleUse::kWrite},
    {EMR_CREATEPALETTE, 8, HandleUse::kWrite},
    {EMR_CREATECOLORSPACE, 8, HandleUse::kWrite},
    {EMR_CREATECOLORSPACEW, 8, HandleUse::kWrite},
    {EMR_DELETEOBJECT, 8, HandleUse::kWrite},
    {EMR_DELETECOLORSPACE, 8, HandleUse::kWrite},
    {EMR_SELECTOBJECT, 8, HandleUse::kRead},
    {EMR_SELECTPALETTE, 8, HandleUse::kRead},
    {EMR_SETPALETTEENTRIES, 8, HandleUse::kRead},
    {EMR_RESIZEPALETTE, 8, HandleUse::kRead},
    {EMR_SETCOLORSPACE, 8, HandleUse::kRead},
    // After the bounds rectangle and the region data size.
    {EMR_FILLRGN, 28, HandleUse::kRead},
    {EMR_FRAMERGN, 28, HandleUse::kRead},
};

constexpr uint32_t kStockObjectFlag = 0x80000000u;
// The first version of the header ends before the pixel-format fields.
constexpr size_t kSmallestHeader = offsetof(ENHMETAHEADER, cbPixelFormat);

uint32_t ReadU32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

bool HandleIndexFits(const HandleField& field, uint32_t index, uint32_t handles) {
    if (field.use == HandleUse::kRead) return (index & kStockObjectFlag) || index < handles;
    // Slot 0 is the metafile itself.
    return index != 0 && index < handles;
}

}  // namespace

bool IsSoundEnhMetaFile(const uint8_t* bytes, size_t size) {
    if (!bytes || size < kSmallestHeader || size % 4 != 0 || size > std::numeric_limits<uint32_t>::max())
        return false;
    ENHMETAHEADER header = {};
    std::memcpy(&header, bytes, std::min(size, sizeof(header)));
    if (header.iType != EMR_HEADER || header.dSignature != ENHMETA_SIGNATURE || header.nBytes != size) return false;
    if (header.nSize < kSmallestHeader || header.nSize % 4 != 0 || header.nSize > size) return false;
    // Bytes past the header's own size belong to the next record.
    if (header.nSize < sizeof(header))
        std::memset(reinterpret_cast<uint8_t*>(&header) + header.nSize, 0, sizeof(header) - header.nSize);
    if (header.nHandles == 0) return false;  // slot 0 always holds the metafile

    const auto inside = [size](uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; };
    if (header.nDescription && header.offDescription &&
        !inside(header.offDescription, uint64_t{header.nDescription} * sizeof(wchar_t)))
        return false;
    if (header.cbPixelFormat && header.offPixelFormat && !inside(header.offPixelFormat, header.cbPixelFormat))
        return false;

    size_t offset = 0;
    bool ended = false;
    while (offset < size) {
        if (ended || size - offset < sizeof(EMR)) return false;
        const uint8_t* record = bytes + offset;
        const uint32_t type = ReadU32(record);
        const uint32_t length = ReadU32(record + 4);
        if (length < sizeof(EMR) || length % 4 != 0 || length > size - offset) return false;
        // The header comes first and only there.
        if ((offset == 0) != (type == EMR_HEADER)) return false;
        if (type == EMR_EOF) {
            if (length < sizeof(EMREOF)) return false;
            const uint32_t entries = ReadU32(record + offsetof(EMREOF, nPalEntries));
            const uint32_t at = ReadU32(record + offsetof(EMREOF, offPalEntries));
            if (entries && (at > length || uint64_t{entries} * sizeof(PALETTEENTRY) > length - at)) return false;
            ended = true;
        }
        for (const HandleField& field : kHandleFields) {
            if (field.type != type) continue;
            if (length < field.offset + sizeof(uint32_t)) return false;
            if (!HandleIndexFits(field, ReadU32(record + field.offset), header.nHandles)) return false;
        }
        offset += length;
    }
    return ended;
}

MetafileItem::MetafileItem() : ClipItem(kMetafileItemType, IDS_TYPE_METAFILE) {}

bool MetafileItem::SetMetafile(HENHMETAFILE metafile) {
    ReleaseData();
    if (!metafile) return false;
    // What could not be read back is not taken at all.
    if (::GetEnhMetaFileBits(metafile, 0, nullptr) > kMaxItemDataBytes) return false;
    metafile_.reset(::CopyEnhMetaFileA(metafile, nullptr));
    Bytes bits;
    if (GetBits(bits) && IsSoundEnhMetaFile(bits.data(), bits.size())) return true;
    ReleaseData();
    return false;
}

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
    return GetBits(bits) && WriteWholeFile(path, bits.data(), bits.size());
}

bool MetafileItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    return OpenInExternalViewer(temporaryFolder, ".emf", [this](const std::string& path) { return WriteEmfFile(path); });
}

void MetafileItem::PutOnClipboard(HWND owner) {
    // Without a metafile there is nothing to place (a null handle would promise
    // data that nobody renders).
    if (!metafile_) return;
    ClipboardSession clipboard(owner);
    if (!clipboard.IsOpen()) return;
    UniqueEnhMetaFile copy(::CopyEnhMetaFileA(metafile_.get(), nullptr));
    if (copy && ::SetClipboardData(CF_ENHMETAFILE, copy.get())) copy.release();  // the clipboard's now
}

bool MetafileItem::SaveAs() {
    return SaveThroughDialog(kMetafileChoices, ".emf",
                             [this](const std::string& path, int) { return WriteEmfFile(path); });
}

bool MetafileItem::WriteData(RecordFileWriter& file) {
    if (!metafile_) return true;
    Bytes bits, block;
    if (!GetBits(bits) || !CompressBlock(bits.data(), bits.size(), block) ||
        block.size() > std::numeric_limits<uint32_t>::max())
        return false;
    return file.Field('B', block.data(), block.size());
}

bool MetafileItem::ReadData(ByteSpan data) {
    ReleaseData();
    Bytes bits;
    if (!DecompressBlock(data.data(), data.size(), bits)) return false;
    if (!IsSoundEnhMetaFile(bits.data(), bits.size())) return false;
    metafile_.reset(::SetEnhMetaFileBits(static_cast<UINT>(bits.size()), bits.data()));
    return static_cast<bool>(metafile_);
}
