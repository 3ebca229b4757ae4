#include "base/Compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

TEST(CompressionTest, RoundTripIsPlainZlib) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    Bytes block;
    ASSERT_TRUE(CompressBlock(text.data(), text.size(), block));

    // Any zlib reader can take the stored stream.
    std::string plain(text.size(), '\0');
    uLongf size = static_cast<uLongf>(plain.size());
    ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(plain.data()), &size, block.data(), block.size()));
    EXPECT_EQ(text, plain);

    Bytes back;
    ASSERT_TRUE(DecompressBlock(block.data(), block.size(), back));
    EXPECT_EQ(text, std::string(back.begin(), back.end()));
}

TEST(CompressionTest, LargeOutputRoundTrips) {
    std::string big(1'000'000, 'x');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
    Bytes block;
    ASSERT_TRUE(CompressBlock(big.data(), big.size(), block));
    Bytes back;
    ASSERT_TRUE(DecompressBlock(block.data(), block.size(), back));
    EXPECT_EQ(big.size(), back.size());
    EXPECT_TRUE(std::equal(big.begin(), big.end(), back.begin()));
}

TEST(CompressionTest, SizesAroundTheScratchBufferRoundTrip) {
    // Small blocks are inflated once into a 64 KiB scratch buffer, larger ones
    // counted there (wrapping round) and inflated again.
    for (size_t size : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{3 * 65536 + 5}}) {
        std::string data(size, '\0');
        uint32_t state = static_cast<uint32_t>(size);
        for (char& c : data) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
        Bytes block, back;
        ASSERT_TRUE(CompressBlock(data.data(), data.size(), block));
        ASSERT_TRUE(DecompressBlock(block.data(), block.size(), back)) << size;
        EXPECT_TRUE(std::string(back.begin(), back.end()) == data) << size;
        EXPECT_FALSE(DecompressBlock(block.data(), block.size(), back, size - 1)) << size;
    }
}

TEST(CompressionTest, HostileStreamsFailCleanly) {
    // A stream that expands far past the ceiling stops there.
    std::string zeros(8 * 1024 * 1024, '\0');
    Bytes bomb;
    ASSERT_TRUE(CompressBlock(zeros.data(), zeros.size(), bomb));
    Bytes out;
    EXPECT_FALSE(DecompressBlock(bomb.data(), bomb.size(), out, 1024 * 1024));
    EXPECT_TRUE(out.empty());

    // The ceiling itself is allowed, one byte more is not.
    const std::string exact(100000, 'z');
    Bytes block;
    ASSERT_TRUE(CompressBlock(exact.data(), exact.size(), block));
    EXPECT_TRUE(DecompressBlock(block.data(), block.size(), out, exact.size()));
    EXPECT_EQ(exact.size(), out.size());
    EXPECT_FALSE(DecompressBlock(block.data(), block.size(), out, exact.size() - 1));
    EXPECT_TRUE(out.empty());

    // Cut short, corrupt, or empty.
    EXPECT_FALSE(DecompressBlock(bomb.data(), bomb.size() / 2, out));
    Bytes corrupt = bomb;
    corrupt[corrupt.size() / 2] ^= 0xFF;
    corrupt[2] ^= 0x55;
    EXPECT_FALSE(DecompressBlock(corrupt.data(), corrupt.size(), out));
    EXPECT_FALSE(DecompressBlock(nullptr, 0, out));
    const char garbage[] = "not a zlib stream at all";
    EXPECT_FALSE(DecompressBlock(garbage, sizeof(garbage), out));
}

TEST(CompressionTest, ExactSizeMustMatch) {
    const std::string text(5000, 'q');
    Bytes block;
    ASSERT_TRUE(CompressBlock(text.data(), text.size(), block));
    std::string out(5000, '\0');
    EXPECT_TRUE(DecompressExact(block.data(), block.size(), out.data(), out.size()));
    EXPECT_EQ(text, out);
    std::string small(4000, '\0');
    EXPECT_FALSE(DecompressExact(block.data(), block.size(), small.data(), small.size()));
    std::string large(6000, '\0');
    EXPECT_FALSE(DecompressExact(block.data(), block.size(), large.data(), large.size()));
}
