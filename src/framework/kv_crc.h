#pragma once
#include <cstdint>

// One step of the reflected CRC-32 (polynomial 0xEDB88320). Codes start at 0xFFFFFFFF and are
// never inverted at the end, so they stay compatible with codes already stored in kvhid.ini.
std::uint32_t kvcrc(std::uint32_t accumulator, std::uint8_t byte);

inline constexpr std::uint32_t kCrcStart = 0xFFFFFFFFu;
