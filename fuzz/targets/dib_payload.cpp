// Stored pictures read back from item files: the header and table are located
// inside the payload, and the bits inflate into a block of exactly the size the
// header gives, as DibImage::LoadPayload does.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/Compression.h"
#include "items/DibFormat.h"

namespace {

// Larger pictures are allowed (up to the item ceiling) but only the header is
// read for them here, so that one run stays fast; the unit tests load large ones.
constexpr uint32_t kLargestInflated = 16u * 1024 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DibPayload payload;
    if (!ReadDibPayload({data, size}, payload)) return 0;
    const DibHeader& h = payload.header;
    if (!IsPlainHeader(h) || payload.colors.size() != size_t{ColorTableSize(h)} * 4 ||
        sizeof(DibHeader) + payload.colors.size() + payload.bits.size() != size ||
        payload.bits.data() != data + sizeof(DibHeader) + payload.colors.size())
        abort();
    if (h.biSizeImage > kLargestInflated) return 0;
    // Exactly the size: a stream that writes one byte more is caught.
    std::unique_ptr<uint8_t[]> bits(new uint8_t[h.biSizeImage]);
    DecompressExact(payload.bits.data(), payload.bits.size(), bits.get(), h.biSizeImage);
    return 0;
}
