#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// Text rules shared by the action text form and kvhid.ini. All of them take any bytes and never
// fail; what is unreadable yields no value.

// Strips control characters and blanks (bytes up to 0x20) from both ends.
std::string_view TrimBlanks(std::string_view text);

// A decimal number with an optional sign that fits in 32 signed bits; anything else (no digits,
// stray characters, a value out of range) is not a number.
std::optional<std::int32_t> ParseDecimal32(std::string_view text);

// One to eight hexadecimal digits of either case, nothing else.
std::optional<std::uint32_t> ParseHex32(std::string_view text);

// The value of the first name=value line whose name equals `name` regardless of ASCII letter
// case. Lines end at CR, LF or CR LF; the value is everything after the line's first "=".
std::optional<std::string_view> SettingsValue(std::string_view content, std::string_view name);
