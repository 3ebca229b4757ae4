#include "support/ImageTestHelpers.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

std::string PackDib(const BITMAPINFOHEADER& header, const std::vector<uint32_t>& masks,
                    const std::vector<uint32_t>& table, const std::string& bits, const std::string& extraHeader) {
    std::string out(reinterpret_cast<const char*>(&header), sizeof(header));
    if (header.biSize > sizeof(header)) {
        std::string extra = extraHeader;
        extra.resize(header.biSize - sizeof(header), '\0');
        out += extra;
    }
    for (uint32_t m : masks) out.append(reinterpret_cast<const char*>(&m), 4);
    for (uint32_t c : table) out.append(reinterpret_cast<const char*>(&c), 4);
    return out + bits;
}

BITMAPINFOHEADER MakeHeader(int width, int height, int bits, DWORD compression, DWORD clrUsed, DWORD sizeImage) {
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    h.biCompression = compression;
    h.biClrUsed = clrUsed;
    h.biSizeImage = sizeImage;
    return h;
}

int ColorDistance(uint32_t a, uint32_t b) {
    const int dr = int((a >> 16) & 0xFF) - int((b >> 16) & 0xFF);
    const int dg = int((a >> 8) & 0xFF) - int((b >> 8) & 0xFF);
    const int db = int(a & 0xFF) - int(b & 0xFF);
    return dr * dr + dg * dg + db * db;
}

int PixelIndex(const uint8_t* row, int x, int bits) {
    switch (bits) {
    case 8:
        return row[x];
    case 4:
        return (x % 2) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    default:
        return -1;
    }
}

namespace {

void ReadError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ReadWarning(png_structp, png_const_charp) {}

bool DecodeInto(FILE* file, DecodedPng& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ReadError, ReadWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.colorType = png_get_color_type(png, info);
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &palette, &count) & PNG_INFO_PLTE) {
        for (int i = 0; i < count; ++i)
            out.palette.push_back((uint32_t{palette[i].red} << 16) | (uint32_t{palette[i].green} << 8) |
                                  palette[i].blue);
    }
    const size_t rowBytes = png_get_rowbytes(png, info);
    out.rows.assign(out.height, std::vector<uint8_t>(rowBytes));
    for (uint32_t r = 0; r < out.height; ++r) png_read_row(png, out.rows[r].data(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

DecodedPng ReadPng(const std::string& path) {
    DecodedPng out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return out;
    out.ok = DecodeInto(file, out);
    std::fclose(file);
    return out;
}

std::string Be32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (24 - 8 * i));
    return out;
}

std::string PngChunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return Be32(static_cast<uint32_t>(data.size())) + body + Be32(static_cast<uint32_t>(crc));
}

std::string PngIhdr(uint32_t width, uint32_t height, int bitDepth, int colorType, int interlace) {
    std::string data = Be32(width) + Be32(height);
    data += static_cast<char>(bitDepth);
    data += static_cast<char>(colorType);
    data += '\0';  // deflate
    data += '\0';  // adaptive filters
    data += static_cast<char>(interlace);
    return PngChunk("IHDR", data);
}

std::string Zlib(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
             static_cast<uLong>(bytes.size()));
    out.resize(length);
    return out;
}

std::string MakePng(uint32_t width, uint32_t height, int bitDepth, int colorType, const std::vector<std::string>& rows,
                    const std::string& before, bool interlaced) {
    std::string raw;
    if (!interlaced) {
        for (const std::string& row : rows) raw += '\0' + row;
    } else {
        // Adam7: seven passes over ever finer grids, each a small image of its own.
        static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
        static const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
        const size_t pixelBytes = height ? rows[0].size() / width : 0;
        for (int pass = 0; pass < 7; ++pass) {
            if (x0[pass] >= static_cast<int>(width)) continue;
            for (uint32_t y = y0[pass]; y < height; y += dy[pass]) {
                raw += '\0';
                for (uint32_t x = x0[pass]; x < width; x += dx[pass]) raw += rows[y].substr(x * pixelBytes, pixelBytes);
            }
        }
    }
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    return signature + PngIhdr(width, height, bitDepth, colorType, interlaced ? 1 : 0) + before +
           PngChunk("IDAT", Zlib(raw)) + PngChunk("IEND", "");
}

uint32_t U32At(const std::string& bytes, size_t offset) {
    uint32_t v = 0;
    if (offset + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

uint16_t U16At(const std::string& bytes, size_t offset) {
    uint16_t v = 0;
    if (offset + 2 <= bytes.size()) std::memcpy(&v, bytes.data() + offset, 2);
    return v;
}
