#include "framework/kv_crc.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[i] = r;
    }
    return table;
}

constexpr auto kCrcTable = MakeCrcTable();

} // namespace

std::uint32_t kvcrc(std::uint32_t accumulator, std::uint8_t byte) {
    return kCrcTable[(accumulator ^ byte) & 0xFF] ^ (accumulator >> 8);
}
