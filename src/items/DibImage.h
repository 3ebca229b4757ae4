// The program's one image class: a DIB section in a memory DC, with depth
// conversion, the compact payload form, and BMP and PNG files.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/UniqueHandle.h"
#include "base/Compression.h"
#include "items/DibFormat.h"
#include "items/PngFormat.h"

// The readers of outside data use their own copy of the header (DibFormat.h);
// GDI gets the same bytes.
static_assert(sizeof(DibHeader) == sizeof(BITMAPINFOHEADER));
static_assert(offsetof(DibHeader, biSize) == offsetof(BITMAPINFOHEADER, biSize));
static_assert(offsetof(DibHeader, biWidth) == offsetof(BITMAPINFOHEADER, biWidth));
static_assert(offsetof(DibHeader, biHeight) == offsetof(BITMAPINFOHEADER, biHeight));
static_assert(offsetof(DibHeader, biPlanes) == offsetof(BITMAPINFOHEADER, biPlanes));
static_assert(offsetof(DibHeader, biBitCount) == offsetof(BITMAPINFOHEADER, biBitCount));
static_assert(offsetof(DibHeader, biCompression) == offsetof(BITMAPINFOHEADER, biCompression));
static_assert(offsetof(DibHeader, biSizeImage) == offsetof(BITMAPINFOHEADER, biSizeImage));
static_assert(offsetof(DibHeader, biXPelsPerMeter) == offsetof(BITMAPINFOHEADER, biXPelsPerMeter));
static_assert(offsetof(DibHeader, biYPelsPerMeter) == offsetof(BITMAPINFOHEADER, biYPelsPerMeter));
static_assert(offsetof(DibHeader, biClrUsed) == offsetof(BITMAPINFOHEADER, biClrUsed));
static_assert(offsetof(DibHeader, biClrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));
static_assert(kDibRgb == BI_RGB && kDibRle8 == BI_RLE8 && kDibRle4 == BI_RLE4 && kDibBitFields == BI_BITFIELDS);

// ColorTableSize for a header as GDI holds it.
uint32_t ColorTableSize(const BITMAPINFOHEADER& header);

// Entry i of the program's 256-colour palette as 0xRRGGBB.
uint32_t DefaultPaletteColor(int index);

// A BITMAPINFOHEADER with room for a full colour table.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

class DibImage {
public:
    // An image without pixels yet, whose palette is the default for the depth.
    explicit DibImage(int bitDepth);
    // The source redrawn at another depth, over the default palette of that depth.
    DibImage(int bitDepth, const DibImage& source);
    virtual ~DibImage();
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // Reads a BMP file with a plain 40-byte header (bottom-up or top-down).
    virtual bool LoadBmpFile(const std::string& path);
    // Both delete any file at the path first, whether or not they then write one.
    virtual bool SaveBmp(const std::string& path) const;
    // A palette PNG of 1, 4 or 8 bits with the colour table as PLTE.
    virtual bool SavePng(const std::string& path) const;

    void ReleaseBitmap();
    void SetDefaultPalette();
    bool CreateBlank(int width, int height);
    // Copies a bitmap (a DDB or a DIB section) at this image's depth.
    bool CreateFromBitmap(HBITMAP bitmap);
    // Redraws a DIB at this image's depth. The source must be a 40-byte header
    // followed by its masks (BI_BITFIELDS) and colour table, with bits of the
    // size it describes: clipboard blocks go through ConvertFromPackedDib, which
    // checks them. False when there is no new DIB section or nothing was drawn.
    bool ConvertFrom(const BITMAPINFO* source, const void* bits);
    // A CF_DIB block of `size` bytes from outside the program.
    bool ConvertFromPackedDib(const void* block, size_t size);
    // Header and colour table as held, then the bits compressed.
    bool ToPayload(Bytes& payload) const;
    bool LoadPayload(const void* block, size_t size);
    // A PNG from outside, decoded with its alpha; only for 32-bit images.
    bool LoadPng(const void* block, size_t size);
    // The image as a PNG in memory: palette depths as palette files, deeper ones
    // as RGB, or RGBA when a 32-bit image carries transparency.
    bool ToPng(Bytes& png, int compressionLevel = -1) const;
    // Turns the image upside down in place.
    void FlipRows();

    int BitDepth() const { return bitDepth_; }
    const BITMAPINFOHEADER& Header() const { return info_.header; }
    const RGBQUAD* ColorTable() const { return info_.colors; }
    RGBQUAD* ColorTable() { return info_.colors; }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(&info_); }
    uint8_t* Bits() const { return bits_; }
    // biSizeImage of an image that has pixels, else 0.
    size_t BitsSize() const { return bits_ ? info_.header.biSizeImage : 0; }
    HDC Dc() const { return dc_.get(); }
    HBITMAP Bitmap() const { return bitmap_.get(); }

private:
    // A bottom-up BI_RGB header of this image's depth; the palette is left alone.
    void SetPlainHeader(int width, int height);
    bool CreateSection();
    bool MapToPalette(const BITMAPINFO* source, const void* bits);
    // The rows (and palette) of the image as the PNG writer takes them; false
    // for depths that have no PNG layout.
    bool DescribePng(PngPicture& picture, std::vector<const uint8_t*>& rows, Bytes& palette) const;

    int bitDepth_;
    DibInfo info_{};
    uint8_t* bits_ = nullptr;
    UniqueDc dc_;
    UniqueBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
};
