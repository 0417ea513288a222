#pragma once
#include <cstdint>
#include <string>

// `value` as exactly `digits` capital hexadecimal digits (the lowest ones of a longer value).
// The plug-in formats its numbers with this and std::to_string rather than the printf family,
// whose mingw implementation would be the largest single part of the shipped DLL.
inline std::string kvHex(std::uint32_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[value & 15];
    return text;
}
