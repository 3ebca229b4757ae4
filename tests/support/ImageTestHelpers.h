// Building clipboard-style DIB blocks and reading PNG files back, for the image tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A packed DIB: the header (biSize bytes of it; V4/V5 fields after the first
// 40 come from `extraHeader`), then `masks` and `table`, then `bits`.
std::string PackDib(const BITMAPINFOHEADER& header, const std::vector<uint32_t>& masks,
                    const std::vector<uint32_t>& table, const std::string& bits,
                    const std::string& extraHeader = {});

BITMAPINFOHEADER MakeHeader(int width, int height, int bits, DWORD compression = BI_RGB, DWORD clrUsed = 0,
                            DWORD sizeImage = 0);


// Squared distance of two 0xRRGGBB colours.
int ColorDistance(uint32_t a, uint32_t b);
// 0xRRGGBB of a colour-table entry.
inline uint32_t EntryColor(const RGBQUAD& q) {
    return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
}

// Index of pixel x in a 1-, 4- or 8-bit row.
int PixelIndex(const uint8_t* row, int x, int bits);

struct DecodedPng {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = -1;
    std::vector<uint32_t> palette;           // 0xRRGGBB
    std::vector<std::vector<uint8_t>> rows;  // raw rows as stored (packed), top first
};
// Decodes with libpng, no transformations.
DecodedPng ReadPng(const std::string& path);

// PNG files put together byte by byte, without libpng, so that the reader is
// not only tested against its own writer and damaged files can be made.
// One chunk: big-endian length, type, data, CRC.
std::string PngChunk(const std::string& type, const std::string& data);
std::string PngIhdr(uint32_t width, uint32_t height, int bitDepth, int colorType, int interlace = 0);
// The zlib stream of the bytes.
std::string Zlib(const std::string& bytes);
// Signature, IHDR, `before` (chunks placed before the pixels), one IDAT holding
// the rows (each `rows` entry a packed row without its filter byte; Adam7 passes
// are cut from them when interlaced, for depths of 8 bits and more), IEND.
std::string MakePng(uint32_t width, uint32_t height, int bitDepth, int colorType, const std::vector<std::string>& rows,
                    const std::string& before = {}, bool interlaced = false);
// Big-endian 32-bit value, as PNG stores numbers.
std::string Be32(uint32_t value);

// Little-endian fields of a byte string.
uint32_t U32At(const std::string& bytes, size_t offset);
uint16_t U16At(const std::string& bytes, size_t offset);
