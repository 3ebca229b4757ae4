#include "items/DibImage.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/ScopeGuards.h"
#include "items/PngFormat.h"

namespace {

// The program's palette: named colours, 24 hues at five brightness levels each
// with a half-saturated tint, then greys.
constexpr uint32_t kPalette[256] = {
    0xFFFFFF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF, 0xFF00FF, 0x000000,
    0x808080, 0xC0C0C0, 0xFF0000, 0xFF7F7F, 0xA50000, 0xA55252, 0x7F0000, 0x7F3F3F,
    0x4C0000, 0x4C2626, 0x260000, 0x261313, 0xFF3F00, 0xFF9F7F, 0xA52900, 0xA56752,
    0x7F1F00, 0x7F4F3F, 0x4C1300, 0x4C2F26, 0x260900, 0x261713, 0xFF7F00, 0xFFBF7F,
    0xA55200, 0xA57C52, 0x7F3F00, 0x7F5F3F, 0x4C2600, 0x4C3926, 0x261300, 0x261C13,
    0xFFBF00, 0xFFDF7F, 0xA57C00, 0xA59152, 0x7F5F00, 0x7F6F3F, 0x4C3900, 0x4C4226,
    0x261C00, 0x262113, 0xFFFF00, 0xFFFF7F, 0xA5A500, 0xA5A552, 0x7F7F00, 0x7F7F3F,
    0x4C4C00, 0x4C4C26, 0x262600, 0x262613, 0xBFFF00, 0xDFFF7F, 0x7CA500, 0x91A552,
    0x5F7F00, 0x6F7F3F, 0x394C00, 0x424C26, 0x1C2600, 0x212613, 0x7FFF00, 0xBFFF7F,
    0x52A500, 0x7CA552, 0x3F7F00, 0x5F7F3F, 0x264C00, 0x394C26, 0x132600, 0x1C2613,
    0x3FFF00, 0x9FFF7F, 0x29A500, 0x67A552, 0x1F7F00, 0x4F7F3F, 0x134C00, 0x2F4C26,
    0x092600, 0x172613, 0x00FF00, 0x7FFF7F, 0x00A500, 0x52A552, 0x007F00, 0x3F7F3F,
    0x004C00, 0x264C26, 0x002600, 0x132613, 0x00FF3F, 0x7FFF9F, 0x00A529, 0x52A567,
    0x007F1F, 0x3F7F4F, 0x004C13, 0x264C2F, 0x002609, 0x132617, 0x00FF7F, 0x7FFFBF,
    0x00A552, 0x52A57C, 0x007F3F, 0x3F7F5F, 0x004C26, 0x264C39, 0x002613, 0x13261C,
    0x00FFBF, 0x7FFFDF, 0x00A57C, 0x52A591, 0x007F5F, 0x3F7F6F, 0x004C39, 0x264C42,
    0x00261C, 0x132621, 0x00FFFF, 0x7FFFFF, 0x00A5A5, 0x52A5A5, 0x007F7F, 0x3F7F7F,
    0x004C4C, 0x264C4C, 0x002626, 0x132626, 0x00BFFF, 0x7FDFFF, 0x007CA5, 0x5291A5,
    0x005F7F, 0x3F6F7F, 0x00394C, 0x26424C, 0x001C26, 0x132126, 0x007FFF, 0x7FBFFF,
    0x0052A5, 0x527CA5, 0x003F7F, 0x3F5F7F, 0x00264C, 0x26394C, 0x001326, 0x131C26,
    0x003FFF, 0x7F9FFF, 0x0029A5, 0x5267A5, 0x001F7F, 0x3F4F7F, 0x00134C, 0x262F4C,
    0x000926, 0x131726, 0x0000FF, 0x7F7FFF, 0x0000A5, 0x5252A5, 0x00007F, 0x3F3F7F,
    0x00004C, 0x26264C, 0x000026, 0x131326, 0x3F00FF, 0x9F7FFF, 0x2900A5, 0x6752A5,
    0x1F007F, 0x4F3F7F, 0x13004C, 0x2F264C, 0x090026, 0x171326, 0x7F00FF, 0xBF7FFF,
    0x5200A5, 0x7C52A5, 0x3F007F, 0x5F3F7F, 0x26004C, 0x39264C, 0x130026, 0x1C1326,
    0xBF00FF, 0xDF7FFF, 0x7C00A5, 0x9152A5, 0x5F007F, 0x6F3F7F, 0x39004C, 0x42264C,
    0x1C0026, 0x211326, 0xFF00FF, 0xFF7FFF, 0xA500A5, 0xA552A5, 0x7F007F, 0x7F3F7F,
    0x4C004C, 0x4C264C, 0x260026, 0x261326, 0xFF00BF, 0xFF7FDF, 0xA5007C, 0xA55291,
    0x7F005F, 0x7F3F6F, 0x4C0039, 0x4C2642, 0x26001C, 0x261321, 0xFF007F, 0xFF7FBF,
    0xA50052, 0xA5527C, 0x7F003F, 0x7F3F5F, 0x4C0026, 0x4C2639, 0x260013, 0x26131C,
    0xFF003F, 0xFF7F9F, 0xA50029, 0xA55267, 0x7F001F, 0x7F3F4F, 0x4C0013, 0x4C262F,
    0x260009, 0x261317, 0x000000, 0x2D2D2D, 0x5B5B5B, 0x898989, 0xB7B7B7, 0xB3B3B3,
};

// Palette targets are filled from a 32-bit copy of the source drawn this many
// pixels at a time, so that large images need no second full-size copy.
constexpr int kBandPixels = 1 << 20;

// What a band pixel holds when a run-length source skipped it (GDI writes
// colours with a zero top byte).
constexpr uint32_t kUntouched = 0xFF000000;

// The same 40 bytes, as the windows-free readers take them.
DibHeader ToDibHeader(const BITMAPINFOHEADER& header) {
    DibHeader copy;
    std::memcpy(&copy, &header, sizeof(copy));
    return copy;
}

RGBQUAD ToRgbQuad(uint32_t rgb) {
    return RGBQUAD{static_cast<BYTE>(rgb), static_cast<BYTE>(rgb >> 8), static_cast<BYTE>(rgb >> 16), 0};
}

// Finds the table entry nearest to a colour (squared distance in red, green
// and blue; the lowest index among equals). GDI only approximates this, so the
// program matches palette targets itself. Answers are cached per colour.
class NearestColor {
public:
    NearestColor(const RGBQUAD* table, uint32_t count)
        : table_(table), count_(std::max<uint32_t>(1, std::min<uint32_t>(count, 256))),
          keys_(kSlots, kEmpty), values_(kSlots, 0) {}

    uint8_t operator()(uint32_t rgb) {
        const size_t slot = ((rgb * 2654435761u) >> 16) & (kSlots - 1);
        if (keys_[slot] == rgb) return values_[slot];
        const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
        uint32_t best = 0;
        int bestDistance = INT_MAX;
        for (uint32_t i = 0; i < count_ && bestDistance > 0; ++i) {
            const int dr = table_[i].rgbRed - r, dg = table_[i].rgbGreen - g, db = table_[i].rgbBlue - b;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        keys_[slot] = rgb;
        values_[slot] = static_cast<uint8_t>(best);
        return values_[slot];
    }

private:
    static constexpr size_t kSlots = 1 << 16;
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;  // no colour has a top byte
    const RGBQUAD* table_;
    uint32_t count_;
    std::vector<uint32_t> keys_;
    std::vector<uint8_t> values_;
};

void SetPixelIndex(uint8_t* row, int x, int bits, uint8_t index) {
    switch (bits) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& byte = row[x / 2];
        byte = (x % 2) ? static_cast<uint8_t>((byte & 0xF0) | (index & 0x0F))
                       : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
        break;
    }
    case 1: {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (x % 8));
        row[x / 8] = (index & 1) ? (row[x / 8] | mask) : (row[x / 8] & ~mask);
        break;
    }
    default:
        break;
    }
}

// A source normalised for GDI: a 40-byte header, then the masks or the colour
// table. Clipboard blocks are copied into this so GDI never reads their header.
struct PackedSource {
    BITMAPINFOHEADER header;
    uint32_t extra[3 + 256];
};

void AppendBytes(Bytes& out, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

bool WriteToFile(void* file, const uint8_t* data, size_t size) {
    return std::fwrite(data, 1, size, static_cast<FILE*>(file)) == size;
}

// Whether the fourth bytes of 32-bit pixels are transparency worth writing:
// GDI leaves them 0 in an image without alpha, and an opaque picture has 255
// everywhere; anything else is transparency.
bool HasAlpha(const uint8_t* bits, size_t size) {
    if (size < 4) return false;
    const uint8_t first = bits[3];
    if (first != 0 && first != 255) return true;
    for (size_t i = 7; i < size; i += 4)
        if (bits[i] != first) return true;
    return false;
}

bool ReadExactly(HANDLE file, void* data, DWORD length) {
    DWORD read = 0;
    return ::ReadFile(file, data, length, &read, nullptr) && read == length;
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

}  // namespace

uint32_t ColorTableSize(const BITMAPINFOHEADER& header) { return ColorTableSize(ToDibHeader(header)); }

uint32_t DefaultPaletteColor(int index) { return (index >= 0 && index < 256) ? kPalette[index] : 0; }

DibImage::DibImage(int bitDepth) : bitDepth_(bitDepth), dc_(::CreateCompatibleDC(nullptr)) {
    SetDefaultPalette();
    if (dc_) ::SetStretchBltMode(dc_.get(), COLORONCOLOR);
}

DibImage::DibImage(int bitDepth, const DibImage& source) : DibImage(bitDepth) {
    if (source.Bits()) ConvertFrom(source.Info(), source.Bits());
}

DibImage::~DibImage() { ReleaseBitmap(); }

void DibImage::ReleaseBitmap() {
    if (previous_) {
        ::SelectObject(dc_.get(), previous_);
        previous_ = nullptr;
    }
    bitmap_.reset();
    bits_ = nullptr;
}

void DibImage::SetDefaultPalette() {
    switch (bitDepth_) {
    case 1:
        info_.colors[0] = ToRgbQuad(0x000000);
        info_.colors[1] = ToRgbQuad(0xFFFFFF);
        break;
    case 4:
        // Fifteen, not sixteen: the last entry keeps what it had (black when new).
        for (int i = 0; i < 15; ++i) info_.colors[i] = ToRgbQuad(kPalette[i]);
        break;
    case 8:
        for (int i = 0; i < 256; ++i) info_.colors[i] = ToRgbQuad(kPalette[i]);
        break;
    default:
        break;
    }
}

bool DibImage::CreateSection() {
    if (!dc_ || !IsPlainHeader(ToDibHeader(info_.header))) return false;
    void* bits = nullptr;
    UniqueBitmap section(::CreateDIBSection(dc_.get(), Info(), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits) return false;
    HGDIOBJ previous = ::SelectObject(dc_.get(), section.get());
    if (!previous || previous == HGDI_ERROR) return false;
    previous_ = previous;
    bitmap_ = std::move(section);
    bits_ = static_cast<uint8_t*>(bits);
    return true;
}

void DibImage::SetPlainHeader(int width, int height) {
    BITMAPINFOHEADER& h = info_.header;
    h = {};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitDepth_);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(ImageBytes(width, height, bitDepth_));
}

bool DibImage::CreateBlank(int width, int height) {
    ReleaseBitmap();
    SetPlainHeader(width, height);
    SetDefaultPalette();
    return CreateSection();
}

bool DibImage::CreateFromBitmap(HBITMAP bitmap) {
    ReleaseBitmap();
    DIBSECTION section = {};
    if (!bitmap || ::GetObjectA(bitmap, sizeof(section), &section) == 0) return false;
    const int width = section.dsBm.bmWidth;
    const int height = std::abs(section.dsBm.bmHeight);
    if (!CreateBlank(width, height)) return false;
    UniqueDc source(::CreateCompatibleDC(dc_.get()));
    if (!source) return false;
    // A bitmap that is selected into another DC cannot be read from here.
    HGDIOBJ previous = ::SelectObject(source.get(), bitmap);
    if (!previous || previous == HGDI_ERROR) return false;
    const BOOL copied = ::BitBlt(dc_.get(), 0, 0, width, height, source.get(), 0, 0, SRCCOPY);
    ::SelectObject(source.get(), previous);
    ::GdiFlush();
    return copied != FALSE;
}

bool DibImage::ConvertFrom(const BITMAPINFO* source, const void* bits) {
    ReleaseBitmap();
    if (!source || !bits) return false;
    const BITMAPINFOHEADER& s = source->bmiHeader;
    if (s.biSize != sizeof(BITMAPINFOHEADER) || s.biWidth <= 0 || s.biHeight == 0 || s.biHeight == INT_MIN)
        return false;
    const int width = s.biWidth;
    // Top-down sources are drawn the right way up into a bottom-up image.
    const int height = std::abs(s.biHeight);

    SetPlainHeader(width, height);

    // The source's colours replace the first entries of this image's palette;
    // the rest keep the default (ConvertFrom itself never resets the palette).
    const uint32_t colors = std::min<uint32_t>(ColorTableSize(s), 256);
    if (colors > 0) {
        const RGBQUAD* table = source->bmiColors + (s.biCompression == BI_BITFIELDS ? 3 : 0);
        std::memcpy(info_.colors, table, colors * sizeof(RGBQUAD));
    }

    if (!CreateSection()) return false;
    if (bitDepth_ <= 8) return MapToPalette(source, bits);
    const int lines = ::StretchDIBits(dc_.get(), 0, 0, width, height, 0, 0, width, height, bits, source,
                                      DIB_RGB_COLORS, SRCCOPY);
    ::GdiFlush();
    if (bitDepth_ == 32) {
        // A plain 32-bit image has no alpha; GDI may have carried the source's
        // fourth byte over when the layouts matched.
        for (DWORD i = 3; i < info_.header.biSizeImage; i += 4) bits_[i] = 0;
    }
    return lines > 0;
}

bool DibImage::MapToPalette(const BITMAPINFO* source, const void* bits) {
    const int width = info_.header.biWidth;
    const int height = info_.header.biHeight;
    const uint64_t rowBytes = RowBytes(width, bitDepth_);
    const int bandRows = std::clamp(kBandPixels / width, 1, height);

    BITMAPINFO bandInfo = {};
    bandInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bandInfo.bmiHeader.biWidth = width;
    bandInfo.bmiHeader.biHeight = -bandRows;  // top-down: band row r is image row top + r
    bandInfo.bmiHeader.biPlanes = 1;
    bandInfo.bmiHeader.biBitCount = 32;
    bandInfo.bmiHeader.biCompression = BI_RGB;
    UniqueDc bandDc(::CreateCompatibleDC(dc_.get()));
    if (!bandDc) return false;
    void* bandBits = nullptr;
    UniqueBitmap band(::CreateDIBSection(bandDc.get(), &bandInfo, DIB_RGB_COLORS, &bandBits, nullptr, 0));
    if (!band || !bandBits) return false;
    ScopedSelect selected(bandDc.get(), band.get());
    ::SetStretchBltMode(bandDc.get(), COLORONCOLOR);

    const DWORD compression = source->bmiHeader.biCompression;
    const bool runLength = compression == BI_RLE8 || compression == BI_RLE4;
    auto* pixels = static_cast<uint32_t*>(bandBits);
    const size_t bandPixels = static_cast<size_t>(width) * static_cast<size_t>(bandRows);
    NearestColor nearest(info_.colors, ColorTableSize(info_.header));
    for (int top = 0; top < height; top += bandRows) {
        std::fill(pixels, pixels + bandPixels, runLength ? kUntouched : 0);
        // The whole image is drawn shifted up; GDI clips it to the band.
        const int lines = ::StretchDIBits(bandDc.get(), 0, -top, width, height, 0, 0, width, height, bits, source,
                                          DIB_RGB_COLORS, SRCCOPY);
        ::GdiFlush();
        if (lines <= 0) {
            std::memset(bits_, 0, info_.header.biSizeImage);
            return false;
        }
        const int rows = std::min(bandRows, height - top);
        for (int r = 0; r < rows; ++r) {
            const uint32_t* in = pixels + static_cast<size_t>(r) * width;
            uint8_t* out = bits_ + static_cast<size_t>(height - 1 - (top + r)) * rowBytes;
            for (int x = 0; x < width; ++x) {
                // Pixels a run-length source skips stay index 0, as if GDI had drawn them.
                const uint8_t index = (runLength && in[x] == kUntouched) ? 0 : nearest(in[x] & 0xFFFFFF);
                SetPixelIndex(out, x, bitDepth_, index);
            }
        }
    }
    return true;
}

bool DibImage::ConvertFromPackedDib(const void* block, size_t size) {
    ReleaseBitmap();
    if (!block) return false;
    PackedDib dib;
    if (!ReadPackedDib({static_cast<const uint8_t*>(block), size}, dib)) return false;
    // GDI is handed a copy of the normalised header, never the block's own.
    PackedSource source = {};
    std::memcpy(&source.header, &dib.header, sizeof(source.header));
    std::memcpy(source.extra, dib.extra, sizeof(source.extra));

    const void* pixels = dib.bits.data();
    Bytes runs;
    if (dib.header.biCompression == BI_RLE8 || dib.header.biCompression == BI_RLE4) {
        // An end-of-bitmap mark after the runs stops a decoder that would read on.
        AppendBytes(runs, dib.bits.data(), dib.bits.size());
        runs.push_back(0);
        runs.push_back(1);
        pixels = runs.data();
        source.header.biSizeImage = static_cast<DWORD>(runs.size());
    }
    return ConvertFrom(reinterpret_cast<const BITMAPINFO*>(&source), pixels);
}

namespace {

constexpr int kFastestLevel = 1;

}  // namespace

bool DibImage::ToPayload(Bytes& payload) const {
    payload.clear();
    if (!bits_) return false;
    Bytes compressed;
    // A picture is compressed while the next change may be waiting: zlib's
    // fastest level takes a third of the default's time for files some 5 % larger.
    if (!CompressBlock(bits_, info_.header.biSizeImage, compressed, kFastestLevel)) return false;
    const size_t tableBytes = size_t{ColorTableSize(info_.header)} * sizeof(RGBQUAD);
    payload.reserve(sizeof(BITMAPINFOHEADER) + tableBytes + compressed.size());
    AppendBytes(payload, &info_.header, sizeof(BITMAPINFOHEADER));
    AppendBytes(payload, info_.colors, tableBytes);
    AppendBytes(payload, compressed.data(), compressed.size());
    return true;
}

bool DibImage::LoadPayload(const void* block, size_t size) {
    ReleaseBitmap();
    if (!block) return false;
    DibPayload payload;
    if (!ReadDibPayload({static_cast<const uint8_t*>(block), size}, payload)) return false;
    std::memcpy(&info_.header, &payload.header, sizeof(info_.header));
    std::memcpy(info_.colors, payload.colors.data(), payload.colors.size());
    if (!CreateSection()) return false;
    // The bits must be exactly as long as the header says: shorter would leave
    // part of the image undefined, longer would not fit.
    if (!DecompressExact(payload.bits.data(), payload.bits.size(), bits_, info_.header.biSizeImage)) {
        ReleaseBitmap();
        return false;
    }
    return true;
}

void DibImage::FlipRows() {
    if (!bits_) return;
    const size_t rowBytes = static_cast<size_t>(RowBytes(info_.header.biWidth, info_.header.biBitCount));
    const int height = info_.header.biHeight;
    std::vector<uint8_t> row(rowBytes);
    for (int i = 0; i < height / 2; ++i) {
        uint8_t* a = bits_ + static_cast<size_t>(i) * rowBytes;
        uint8_t* b = bits_ + static_cast<size_t>(height - 1 - i) * rowBytes;
        std::memcpy(row.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row.data(), rowBytes);
    }
}

bool DibImage::SaveBmp(const std::string& path) const {
    ::DeleteFileA(path.c_str());
    if (!bits_) return false;
    const uint32_t tableBytes = ColorTableSize(info_.header) * sizeof(RGBQUAD);
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableBytes;
    fileHeader.bfSize = fileHeader.bfOffBits + info_.header.biSizeImage;
    // A file cut short (a full disk) is reported, not passed off as written.
    return WriteAll(file.get(), &fileHeader, sizeof(fileHeader)) &&
           WriteAll(file.get(), &info_.header, sizeof(BITMAPINFOHEADER)) &&
           WriteAll(file.get(), info_.colors, tableBytes) &&
           WriteAll(file.get(), bits_, info_.header.biSizeImage);
}

bool DibImage::DescribePng(PngPicture& picture, std::vector<const uint8_t*>& rows, Bytes& palette) const {
    const int depth = info_.header.biBitCount;
    const int width = info_.header.biWidth;
    const int height = info_.header.biHeight;
    picture = {};
    picture.width = static_cast<uint32_t>(width);
    picture.height = static_cast<uint32_t>(height);
    switch (depth) {
    case 1:
    case 4:
    case 8: {
        const uint32_t colors = ColorTableSize(info_.header);
        palette.clear();
        for (uint32_t i = 0; i < colors; ++i) {
            palette.push_back(info_.colors[i].rgbRed);
            palette.push_back(info_.colors[i].rgbGreen);
            palette.push_back(info_.colors[i].rgbBlue);
        }
        picture.pixels = PngPixels::kPalette;
        picture.paletteBits = depth;
        picture.palette = palette;
        break;
    }
    case 24:
        picture.pixels = PngPixels::kBgr;
        break;
    case 32:
        picture.pixels = HasAlpha(bits_, info_.header.biSizeImage) ? PngPixels::kBgra : PngPixels::kBgrx;
        break;
    default:
        return false;
    }
    // PNG rows run top to bottom, DIB rows bottom to top; the bytes that pad a
    // stored row to a multiple of four are not written.
    const size_t rowBytes = static_cast<size_t>(RowBytes(width, depth));
    rows.resize(height);
    for (int r = 0; r < height; ++r) rows[r] = bits_ + static_cast<size_t>(height - 1 - r) * rowBytes;
    picture.rows = rows.data();
    return true;
}

bool DibImage::SavePng(const std::string& path) const {
    ::DeleteFileA(path.c_str());
    if (!bits_) return false;
    // Save As offers palette files only.
    const int depth = info_.header.biBitCount;
    if (depth != 1 && depth != 4 && depth != 8) return false;
    PngPicture picture;
    std::vector<const uint8_t*> rows;
    Bytes palette;
    if (!DescribePng(picture, rows, palette)) return false;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    return EncodePng(picture, WriteToFile, file.get());
}

bool DibImage::ToPng(Bytes& png, int compressionLevel) const {
    png.clear();
    if (!bits_) return false;
    // 5-5-5 pixels have no PNG layout; they are widened first.
    if (info_.header.biBitCount == 16) {
        DibImage wide(24, *this);
        return wide.ToPng(png, compressionLevel);
    }
    PngPicture picture;
    std::vector<const uint8_t*> rows;
    Bytes palette;
    return DescribePng(picture, rows, palette) && EncodePng(picture, png, compressionLevel);
}

bool DibImage::LoadPng(const void* block, size_t size) {
    ReleaseBitmap();
    if (!block || bitDepth_ != 32) return false;
    const ByteSpan png(static_cast<const uint8_t*>(block), size);
    uint32_t width = 0, height = 0;
    if (!ReadPngSize(png, width, height)) return false;
    SetPlainHeader(static_cast<int>(width), static_cast<int>(height));
    if (!CreateSection()) return false;
    if (!DecodePng(png, bits_, info_.header.biSizeImage)) {
        ReleaseBitmap();
        return false;
    }
    return true;
}

bool DibImage::LoadBmpFile(const std::string& path) {
    ReleaseBitmap();
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    BITMAPFILEHEADER fileHeader;
    if (!ReadExactly(file.get(), &fileHeader, sizeof(fileHeader)) || fileHeader.bfType != 0x4D42) return false;
    // Header and colour table must fit the bitmap info; a longer header or a gap
    // before the bits is not read.
    if (fileHeader.bfOffBits < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) ||
        fileHeader.bfOffBits - sizeof(BITMAPFILEHEADER) > sizeof(DibInfo))
        return false;
    const uint32_t infoBytes = fileHeader.bfOffBits - sizeof(BITMAPFILEHEADER);
    DibInfo loaded = {};
    if (!ReadExactly(file.get(), &loaded, infoBytes)) return false;

    BITMAPINFOHEADER& h = loaded.header;
    const bool topDown = h.biHeight < 0 && h.biHeight != INT_MIN;
    if (topDown) h.biHeight = -h.biHeight;
    // BI_RGB files may leave biSizeImage 0.
    if (h.biSizeImage == 0 && h.biCompression == BI_RGB)
        h.biSizeImage = static_cast<DWORD>(ImageBytes(h.biWidth, h.biHeight, h.biBitCount));
    if (!IsPlainHeader(ToDibHeader(h))) return false;
    if (sizeof(BITMAPINFOHEADER) + ColorTableSize(h) * sizeof(RGBQUAD) > infoBytes) return false;

    info_ = loaded;
    if (!CreateSection()) return false;
    if (!ReadExactly(file.get(), bits_, info_.header.biSizeImage)) {
        ReleaseBitmap();
        return false;
    }
    if (topDown) FlipRows();
    return true;
}
