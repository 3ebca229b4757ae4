// Byte blocks and read-only views of them, as every reader of outside data takes them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;
