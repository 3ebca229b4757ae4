// CF_DIB and CF_DIBV5 blocks from the clipboard: whatever ReadPackedDib accepts
// points only into the block and describes exactly the bits it points at.
#include <cstdint>
#include <cstdlib>

#include "items/DibFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PackedDib dib;
    if (!ReadPackedDib({data, size}, dib)) return 0;
    const DibHeader& h = dib.header;
    if (dib.bits.data() < data || dib.bits.size() > size || dib.bits.data() - data > static_cast<ptrdiff_t>(size - dib.bits.size()))
        abort();
    // GDI reads every byte of the bits; so does this (AddressSanitizer watches).
    volatile uint8_t sum = 0;
    for (uint8_t b : dib.bits) sum = static_cast<uint8_t>(sum + b);

    if (h.biSize != sizeof(DibHeader) || h.biPlanes != 1 || h.biSizeImage != dib.bits.size() || h.biWidth <= 0)
        abort();
    if (h.biBitCount <= 8 ? h.biClrUsed > (1u << h.biBitCount) : h.biClrUsed != 0) abort();
    const int64_t height = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
    const uint64_t image = ImageBytes(h.biWidth, height, h.biBitCount);
    if (image == 0) abort();
    if ((h.biCompression == kDibRgb || h.biCompression == kDibBitFields) && dib.bits.size() != image) abort();
    return 0;
}
