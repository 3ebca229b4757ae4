#include "items/BitmapItem.h"

#include <cstring>
#include <new>
#include <vector>

#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/DibImage.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

struct ImageChoice {
    SaveChoice save;
    int depth;
    bool png;
};

const ImageChoice kImageChoices[] = {
    {{" Monochrome Bitmap (*.bmp)", "*.bmp ", ".bmp"}, 1, false},
    {{" 16 Color Bitmap (*.bmp)", "*.bmp", ".bmp"}, 4, false},
    {{" 256 Color Bitmap (*.bmp)", "*.bmp", ".bmp"}, 8, false},
    {{" 24-bit Bitmap (*.bmp)", "*.bmp", ".bmp"}, 24, false},
    {{" 32-bit Bitmap (*.bmp)", "*.bmp", ".bmp"}, 32, false},
    {{" Monochrome PNG (*.png)", "*.png", ".png"}, 1, true},
    {{" 16 Color PNG (*.png)", "*.png", ".png"}, 4, true},
    {{" 256 Color PNG (*.png)", "*.png", ".png"}, 8, true},
};
// zlib's fastest level: a copy of a large picture must not keep the user waiting.
constexpr int kClipboardPngLevel = 1;

constexpr int kChoiceCount = static_cast<int>(sizeof(kImageChoices) / sizeof(kImageChoices[0]));

std::vector<SaveChoice> SaveChoices() {
    std::vector<SaveChoice> choices;
    for (const ImageChoice& c : kImageChoices) choices.push_back(c.save);
    return choices;
}

}  // namespace

BitmapItem::BitmapItem() : ClipItem(kBitmapItemType, IDS_TYPE_BITMAP) {}

const Bytes kNoPayload;

void BitmapItem::ReleaseData() { payload_.reset(); }

const Bytes& BitmapItem::Payload() const {
    EnsureData();
    return payload_ ? *payload_ : kNoPayload;
}

bool BitmapItem::TakePayload(DibImage& image) {
    Bytes payload;
    if (!image.ToPayload(payload)) return false;
    payload_ = std::make_shared<const Bytes>(std::move(payload));
    return true;
}

bool BitmapItem::SetFromDib(const void* dib, size_t size) {
    PrepareChange();
    if (!dib || size < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    DibImage image(header.biBitCount);
    // A block that drew no lines still leaves its blank image, which is kept.
    image.ConvertFromPackedDib(dib, size);
    if (!image.Bits()) return false;
    return TakePayload(image);
}

bool BitmapItem::SetFromPng(const void* png, size_t size) {
    PrepareChange();
    DibImage image(32);
    if (!image.LoadPng(png, size)) return false;
    return TakePayload(image);
}

ItemPayload BitmapItem::WriterPayload() const {
    // An item without data has no "B" field, like every other item class.
    if (!payload_ || payload_->empty()) return {};
    return {[payload = payload_](RecordFileWriter& file) { return file.Field('B', payload->data(), payload->size()); },
            payload_->size()};
}

bool BitmapItem::ReadData(ByteSpan data) {
    PrepareChange();
    payload_ = std::make_shared<const Bytes>(data.begin(), data.end());
    // The image is rebuilt once to find out whether the data is usable.
    DibImage check(0);
    if (check.LoadPayload(payload_->data(), payload_->size())) return true;
    // Unusable data is not kept for a later copy, view or save to trip over.
    ReleaseData();
    return false;
}

bool BitmapItem::WriteImageFile(const std::string& path, int choice) const {
    if (choice < 1 || choice > kChoiceCount || !EnsureData()) return false;
    const ImageChoice& target = kImageChoices[choice - 1];
    DibImage image(0);
    if (!image.LoadPayload(Payload().data(), Payload().size())) return false;
    if (image.Header().biBitCount == target.depth)
        return target.png ? image.SavePng(path) : image.SaveBmp(path);
    // Both still delete an existing file when the conversion made no image.
    DibImage converted(target.depth, image);
    return target.png ? converted.SavePng(path) : converted.SaveBmp(path);
}

bool BitmapItem::SaveAs() {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return SaveThroughDialog(SaveChoices(), ".bmp",
                             [this](const std::string& path, int choice) { return WriteImageFile(path, choice); });
}

bool BitmapItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    DibImage image(0);
    if (!image.LoadPayload(Payload().data(), Payload().size())) return false;
    return OpenInExternalViewer(temporaryFolder, ".bmp", [&image](const std::string& path) { return image.SaveBmp(path); });
}

namespace {

// A copy of the bytes in movable global memory, as the clipboard takes them.
UniqueGlobal ToGlobal(const void* data, size_t size) {
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) return memory;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return UniqueGlobal();
        std::memcpy(lock.data(), data, size);
    }
    return memory;
}

// The image as a packed DIB: header, colour table, bits.
UniqueGlobal PackedDibOf(const DibImage& image) {
    const size_t tableBytes = size_t{ColorTableSize(image.Header())} * sizeof(RGBQUAD);
    const size_t bitsBytes = image.BitsSize();
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + tableBytes + bitsBytes));
    if (!memory) return memory;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return UniqueGlobal();
        auto* out = static_cast<uint8_t*>(lock.data());
        std::memcpy(out, &image.Header(), sizeof(BITMAPINFOHEADER));
        std::memcpy(out + sizeof(BITMAPINFOHEADER), image.ColorTable(), tableBytes);
        std::memcpy(out + sizeof(BITMAPINFOHEADER) + tableBytes, image.Bits(), bitsBytes);
    }
    return memory;
}

// The image as a PNG file, or nothing when it cannot be made. It is made while
// the user waits for the copy, so it is compressed for speed.
UniqueGlobal PngOf(const DibImage& image) {
    try {
        Bytes png;
        if (!image.ToPng(png, kClipboardPngLevel)) return UniqueGlobal();
        return ToGlobal(png.data(), png.size());
    } catch (const std::bad_alloc&) {
        return UniqueGlobal();
    }
}

}  // namespace

bool BitmapItem::RenderClipboard(ClipboardBlocks& blocks) const {
    // Both blocks are made before the clipboard is opened, so other programs
    // are not kept from it while the PNG is compressed.
    if (!EnsureData()) return false;
    DibImage image(0);
    if (!image.LoadPayload(Payload().data(), Payload().size())) return true;
    UniqueGlobal dib = PackedDibOf(image);
    if (!dib) return true;
    blocks.Add(CF_DIB, std::move(dib));
    // Beside the bitmap, for programs that read transparency from PNG only.
    static const UINT pngFormat = ::RegisterClipboardFormatA("PNG");
    blocks.Add(pngFormat, PngOf(image));
    return true;
}
