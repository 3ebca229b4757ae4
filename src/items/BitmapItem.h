// A captured bitmap, held as a DibImage payload of the clipboard image's own depth.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "items/ClipItem.h"
#include "base/Compression.h"

class DibImage;

class BitmapItem : public ClipItem {
public:
    BitmapItem();
    ~BitmapItem() override { BitmapItem::ReleaseData(); }

    // Takes a CF_DIB block of `size` bytes: redrawn at its own depth as plain
    // BI_RGB bits. False (and no data) when it cannot be made into an image.
    bool SetFromDib(const void* dib, size_t size);
    // Takes a "PNG" block of `size` bytes: stored as a 32-bit image with its
    // alpha. False (and no data) when it is not a readable picture.
    bool SetFromPng(const void* png, size_t size);
    // The payload; empty also when it cannot be read back (see EnsureData).
    const Bytes& Payload() const;
    bool HasData() const { return !Payload().empty(); }

    bool ShowInExternalViewer(const std::string& temporaryFolder) override;
    // Places the image as CF_DIB, from which the system offers the other bitmap
    // formats, and as "PNG", which carries transparency to programs that read it.
    bool RenderClipboard(ClipboardBlocks& blocks) const override;
    bool ContainsText(const char*, unsigned) override { return false; }
    bool SaveAs() override;
    void ReleaseData() override;
    ItemPayload WriterPayload() const override;
    size_t DataBytes() const override { return payload_ ? payload_->size() : 0; }
    bool ReadData(ByteSpan data) override;

    // The save choices, 1-based: BMP at 1, 4, 8, 24, 32 bits, PNG at 1, 4, 8 bits.
    bool WriteImageFile(const std::string& path, int choice) const;

private:
    bool TakePayload(DibImage& image);

    // Replaced, never changed in place: a queued write may share it.
    std::shared_ptr<const Bytes> payload_;
};
