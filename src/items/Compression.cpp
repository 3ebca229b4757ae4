#include "items/Compression.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {

constexpr size_t kInitialWorkingBuffer = 200000;

// zlib counts in uInt; feed larger inputs in slices.
constexpr size_t kSlice = std::numeric_limits<uInt>::max() / 2;

}  // namespace

bool CompressBlock(const void* data, size_t length, Bytes& block) {
    block.clear();
    // The working size of the original program, which zlib's bound never exceeds
    // by much; compressBound is what is certain to be enough.
    uLong capacity = std::max<uLong>(static_cast<uLong>(12 + static_cast<size_t>(1.02 * static_cast<double>(length))),
                                     compressBound(static_cast<uLong>(length)));
    if (length > std::numeric_limits<uLong>::max() / 2) return false;
    Bytes work(capacity);
    uLongf produced = capacity;
    if (compress(work.data(), &produced, static_cast<const Bytef*>(data), static_cast<uLong>(length)) != Z_OK)
        return false;
    work.resize(produced);
    work.shrink_to_fit();
    block = std::move(work);
    return true;
}

bool DecompressBlock(const void* block, size_t length, Bytes& bytes, size_t ceiling) {
    bytes.clear();
    if (!block || length == 0) return false;

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    struct EndGuard {
        z_stream* s;
        ~EndGuard() { inflateEnd(s); }
    } guard{&stream};

    const Bytef* input = static_cast<const Bytef*>(block);
    size_t inputLeft = length;
    Bytes out(std::min(kInitialWorkingBuffer, ceiling));
    size_t produced = 0;
    for (;;) {
        if (produced == out.size()) {
            if (out.size() >= ceiling) return false;
            out.resize(std::min(out.size() * 2, ceiling));
        }
        if (stream.avail_in == 0 && inputLeft > 0) {
            stream.next_in = const_cast<Bytef*>(input);
            stream.avail_in = static_cast<uInt>(std::min(inputLeft, kSlice));
            input += stream.avail_in;
            inputLeft -= stream.avail_in;
        }
        stream.next_out = out.data() + produced;
        stream.avail_out = static_cast<uInt>(std::min(out.size() - produced, kSlice));
        const uInt before = stream.avail_out;
        int status = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
        if (status == Z_STREAM_END) break;
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft == 0) return false;  // cut short
        if (status != Z_OK && status != Z_BUF_ERROR) return false;
    }
    out.resize(produced);
    bytes = std::move(out);
    return true;
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
