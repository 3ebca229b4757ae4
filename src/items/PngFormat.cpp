#include "items/PngFormat.h"

#include <png.h>

#include <cstring>
#include <new>
#include <vector>

#include "items/DibFormat.h"

namespace {

// libpng reports errors by jumping back to the setjmp of the function that
// drives it; the default handlers would also print them.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Where the reader is in its byte span. Plain data: it lives in a frame that
// libpng may leave by longjmp.
struct PngInput {
    const uint8_t* data;
    size_t size;
    size_t offset;
    // Once the last row is being read: how many more bytes may be.
    bool budgeted;
    size_t budget;
};

void ReadFromSpan(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > input->size - input->offset) png_error(png, "truncated");
    if (input->budgeted) {
        if (length > input->budget) png_error(png, "too much after the image");
        input->budget -= length;
    }
    std::memcpy(out, input->data + input->offset, length);
    input->offset += length;
}

// Asks libpng for 8-bit blue, green, red, alpha, whatever the file holds, and
// gives the number of passes the rows are read in.
int RequestBgra(png_structp png, png_infop info) {
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (transparency) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !transparency) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return passes;
}

// Reads every row of every pass into place. With the last row libpng also
// inflates whatever the pixel stream holds beyond the picture, however much
// that is: from there on only that row and a little more may be read.
void ReadRows(png_structp png, PngInput* input, png_bytepp rows, png_uint_32 height, int passes,
              size_t fileRowBytes) {
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            if (pass == passes - 1 && y == height - 1) {
                input->budgeted = true;
                input->budget = fileRowBytes + kMaxPngBytesAfterImage;
            }
            png_read_row(png, rows[y], nullptr);
        }
    }
}

// Reads the header and, when `rows` is given, the picture into them (each row
// width * 4 bytes; the width and height must be the ones given). Kept free of
// C++ objects with destructors: libpng leaves it by longjmp.
bool ReadPng(PngInput* input, png_uint_32* width, png_uint_32* height, png_bytepp rows) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, input, ReadFromSpan);
    png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
    png_set_chunk_cache_max(png, kMaxPngChunks);
    png_set_chunk_malloc_max(png, kMaxPngChunkBytes);
    // Text, profiles, gamma and the rest play no part in the pixels kept: they
    // are skipped unread, so no compressed text or profile is ever inflated.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png, info);

    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    if (ImageBytes(w, h, 32) == 0) png_error(png, "picture too large");
    if (!rows) {
        *width = w;
        *height = h;
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    if (w != *width || h != *height) png_error(png, "not the picture expected");
    // A row as stored in the file (with its filter byte), before any transformation.
    const size_t fileRowBytes = png_get_rowbytes(png, info) + 1;
    const int passes = RequestBgra(png, info);
    if (png_get_bit_depth(png, info) != 8 || png_get_channels(png, info) != 4 ||
        png_get_rowbytes(png, info) != size_t{w} * 4)
        png_error(png, "unexpected row layout");
    ReadRows(png, input, rows, h, passes, fileRowBytes);
    // The closing chunks are read so that a damaged end (its checksums) fails.
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// Where the writer sends its bytes.
struct PngOutput {
    PngSink sink;
    void* context;
};

void WriteToSink(png_structp png, png_bytep data, size_t length) {
    auto* output = static_cast<PngOutput*>(png_get_io_ptr(png));
    if (!output->sink(output->context, data, length)) png_error(png, "write failed");
}

void FlushNothing(png_structp) {}

// Kept free of C++ objects with destructors: libpng leaves it by longjmp.
bool WritePng(const PngPicture* picture, PngOutput* output, int compressionLevel) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, output, WriteToSink, FlushNothing);
    if (compressionLevel >= 0) png_set_compression_level(png, compressionLevel);
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    if (picture->pixels == PngPixels::kPalette) {
        colorType = PNG_COLOR_TYPE_PALETTE;
        bitDepth = picture->paletteBits;
    } else if (picture->pixels == PngPixels::kBgra) {
        colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    }
    png_set_IHDR(png, info, picture->width, picture->height, bitDepth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(picture->palette.data()),
                     static_cast<int>(picture->palette.size() / 3));
    png_write_info(png, info);
    if (colorType != PNG_COLOR_TYPE_PALETTE) png_set_bgr(png);
    // On writing, a filler is the byte dropped from each pixel.
    if (picture->pixels == PngPixels::kBgrx) png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, const_cast<png_bytepp>(picture->rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Called from inside libpng, so no exception may leave it.
bool AppendToBytes(void* context, const uint8_t* data, size_t size) {
    try {
        auto* out = static_cast<Bytes*>(context);
        out->insert(out->end(), data, data + size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

bool ReadPngSize(ByteSpan png, uint32_t& width, uint32_t& height) {
    PngInput input = {png.data(), png.size(), 0, false, 0};
    png_uint_32 w = 0, h = 0;
    if (!png.data() || !ReadPng(&input, &w, &h, nullptr)) return false;
    width = w;
    height = h;
    return true;
}

bool DecodePng(ByteSpan png, uint8_t* bits, size_t size) {
    uint32_t width = 0, height = 0;
    if (!bits || !ReadPngSize(png, width, height) || size != size_t{width} * height * 4) return false;
    // PNG rows run top to bottom, DIB rows bottom to top.
    std::vector<png_bytep> rows(height);
    for (uint32_t r = 0; r < height; ++r) rows[r] = bits + size_t{height - 1 - r} * width * 4;
    PngInput input = {png.data(), png.size(), 0, false, 0};
    png_uint_32 w = width, h = height;
    return ReadPng(&input, &w, &h, rows.data());
}

bool EncodePng(const PngPicture& picture, PngSink sink, void* context, int compressionLevel) {
    if (!sink || !picture.rows || picture.width == 0 || picture.height == 0) return false;
    if (picture.pixels == PngPixels::kPalette) {
        const int bits = picture.paletteBits;
        if (bits != 1 && bits != 4 && bits != 8) return false;
        const size_t entries = picture.palette.size() / 3;
        if (entries == 0 || entries > (size_t{1} << bits)) return false;
    }
    PngOutput output = {sink, context};
    return WritePng(&picture, &output, compressionLevel > 9 ? 9 : compressionLevel);
}

bool EncodePng(const PngPicture& picture, Bytes& png, int compressionLevel) {
    png.clear();
    if (EncodePng(picture, AppendToBytes, &png, compressionLevel)) return true;
    png.clear();
    return false;
}
