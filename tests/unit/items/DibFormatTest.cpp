#include "items/DibFormat.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/ImageTestHelpers.h"

namespace {

// Committed but never touched, so the pages cost nothing until read.
struct Reserved {
    explicit Reserved(size_t length)
        : size(length),
          bytes(static_cast<uint8_t*>(::VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))) {}
    ~Reserved() {
        if (bytes) ::VirtualFree(bytes, 0, MEM_RELEASE);
    }
    Reserved(const Reserved&) = delete;
    Reserved& operator=(const Reserved&) = delete;
    size_t size;
    uint8_t* bytes;
};

}  // namespace

// One ceiling for every picture: its pixel bits within the item ceiling, its
// pixels within the pixel ceiling, however few bits a pixel has and however few
// bytes of runs describe it.
TEST(DibFormatTest, PicturesUpToTheItemCeilingAreAccepted) {
    const BITMAPINFOHEADER photo = MakeHeader(9000, 8000, 32);
    Reserved block(sizeof(photo) + 288'000'000);
    ASSERT_NE(nullptr, block.bytes);
    std::memcpy(block.bytes, &photo, sizeof(photo));
    PackedDib dib;
    ASSERT_TRUE(ReadPackedDib({block.bytes, block.size}, dib));
    EXPECT_EQ(288'000'000u, dib.bits.size());
    EXPECT_EQ(block.bytes + sizeof(photo), dib.bits.data());
    EXPECT_FALSE(ReadPackedDib({block.bytes, block.size - 1}, dib));

    EXPECT_EQ(kMaxItemDataBytes, ImageBytes(16384, 8192, 32));
    EXPECT_EQ(0u, ImageBytes(16384, 8193, 32));
    // Sixteen megabytes at one bit, but more pixels than any picture may have.
    EXPECT_EQ(0u, ImageBytes(16385, 8192, 1));
    const std::string endOfBitmap("\0\1", 2);
    const std::vector<uint32_t> table(256);
    const std::string tooMany = PackDib(MakeHeader(16385, 8192, 8, BI_RLE8, 0, 2), {}, table, endOfBitmap);
    EXPECT_FALSE(ReadPackedDib({reinterpret_cast<const uint8_t*>(tooMany.data()), tooMany.size()}, dib));
    const std::string atCeiling = PackDib(MakeHeader(16384, 8192, 8, BI_RLE8, 0, 2), {}, table, endOfBitmap);
    EXPECT_TRUE(ReadPackedDib({reinterpret_cast<const uint8_t*>(atCeiling.data()), atCeiling.size()}, dib));
}
