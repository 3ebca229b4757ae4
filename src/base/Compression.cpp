#include "base/Compression.h"

#include <zlib.h>

#include "base/AllocationCheck.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

// zlib counts in uInt; feed larger inputs in slices.
constexpr size_t kSlice = std::numeric_limits<uInt>::max() / 2;

}  // namespace

bool CompressBlock(const void* data, size_t length, Bytes& block, int level) {
    block.clear();
    // zlib counts in uLong, which is 32 bits on Windows.
    if (length > std::numeric_limits<uLong>::max() / 2) return false;
    // 12 + 1.02 x length is the customary working size; compressBound is what is
    // certain to be enough.
    uLong capacity = std::max<uLong>(static_cast<uLong>(12 + static_cast<size_t>(1.02 * static_cast<double>(length))),
                                     compressBound(static_cast<uLong>(length)));
    CheckAllocation(capacity);
    Bytes work(capacity);
    uLongf produced = capacity;
    if (compress2(work.data(), &produced, static_cast<const Bytef*>(data), static_cast<uLong>(length), level) != Z_OK)
        return false;
    work.resize(produced);
    work.shrink_to_fit();
    block = std::move(work);
    return true;
}

namespace {

// Counting runs through a scratch buffer of this size on the stack.
constexpr size_t kScratch = 64 * 1024;

// Inflates the whole stream. With `out` null the bytes are only counted, written
// one after the other into `scratch` (kScratch bytes) and wrapping round, so it
// holds all of them when there are no more than kScratch; otherwise `capacity`
// bytes of room are at `out`. False when the stream is corrupt, cut short, or
// holds more than `capacity` bytes.
bool Inflate(const void* block, size_t length, uint8_t* out, size_t capacity, size_t& produced, uint8_t* scratch) {
    produced = 0;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    struct EndGuard {
        z_stream* s;
        ~EndGuard() { inflateEnd(s); }
    } guard{&stream};

    const Bytef* input = static_cast<const Bytef*>(block);
    size_t inputLeft = length;
    for (;;) {
        if (stream.avail_in == 0 && inputLeft > 0) {
            stream.next_in = const_cast<Bytef*>(input);
            stream.avail_in = static_cast<uInt>(std::min(inputLeft, kSlice));
            input += stream.avail_in;
            inputLeft -= stream.avail_in;
        }
        uInt room;
        if (!out) {
            const size_t used = produced % kScratch;
            stream.next_out = scratch + used;
            room = static_cast<uInt>(kScratch - used);
        } else if (produced < capacity) {
            stream.next_out = out + produced;
            room = static_cast<uInt>(std::min(capacity - produced, kSlice));
        } else {
            // Probing with one byte whether a full block is really the end.
            stream.next_out = scratch;
            room = 1;
        }
        stream.avail_out = room;
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        if (produced > capacity) return false;
        if (status == Z_STREAM_END) return true;
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft == 0) return false;  // cut short
        if (status != Z_OK && status != Z_BUF_ERROR) return false;
    }
}

}  // namespace

bool DecompressBlock(const void* block, size_t length, Bytes& bytes, size_t ceiling) {
    bytes.clear();
    if (!block || length == 0) return false;
    // The stream is first only counted, so that a damaged or hostile stream costs
    // time but no memory, then run again into a block of exactly the right size.
    // (Growing a buffer by doubling, as zlib's own one-shot use suggests, would take
    // up to twice the ceiling before a stream that claims gigabytes is given up.)
    // Most blocks, texts above all, fit the counting run's scratch buffer: they
    // are taken from there and inflated once.
    uint8_t scratch[kScratch];
    size_t size = 0;
    if (!Inflate(block, length, nullptr, ceiling, size, scratch)) return false;
    Bytes out;
    try {
        CheckAllocation(size);
        if (size <= kScratch) {
            out.assign(scratch, scratch + size);
            bytes = std::move(out);
            return true;
        }
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t produced = 0;
    if (!Inflate(block, length, out.data(), size, produced, scratch) || produced != size) return false;
    bytes = std::move(out);
    return true;
}

bool InflatedSize(const void* block, size_t length, size_t& size, size_t ceiling) {
    size = 0;
    if (!block || length == 0) return false;
    uint8_t scratch[kScratch];
    return Inflate(block, length, nullptr, ceiling, size, scratch);
}

bool DecompressExact(const void* block, size_t length, void* out, size_t expected) {
    if (!block || length == 0 || expected > std::numeric_limits<uLong>::max()) return false;
    if (expected == 0) {
        Bytes scratch;
        return DecompressBlock(block, length, scratch, 1) && scratch.empty();
    }
    uLongf produced = static_cast<uLongf>(expected);
    if (length > std::numeric_limits<uLong>::max()) return false;
    int status = uncompress(static_cast<Bytef*>(out), &produced, static_cast<const Bytef*>(block),
                            static_cast<uLong>(length));
    return status == Z_OK && produced == expected;
}
