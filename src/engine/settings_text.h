#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Text rules shared by the action text form and kvhid.ini. All of them take any bytes and never
// fail; what is unreadable yields no value.

// Strips control characters and blanks (bytes up to 0x20) from both ends.
std::string_view TrimBlanks(std::string_view text);

// A decimal number with an optional sign that fits in 32 signed bits; anything else (no digits,
// stray characters, a value out of range) is not a number.
std::optional<std::int32_t> ParseDecimal32(std::string_view text);

// One to eight hexadecimal digits of either case, nothing else.
std::optional<std::uint32_t> ParseHex32(std::string_view text);

// Pairs of hexadecimal digits of either case; false, with `bytes` in any state, for anything
// else.
bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes);
// Two capital hexadecimal digits per byte.
std::string HexBytesText(const std::vector<std::uint8_t>& bytes);

// The name=value lines of a kvhid.ini text, read in one pass; the text must outlive the map.
// Lines end at CR, LF or CR LF; a value is everything after its line's first "=". Names compare
// regardless of ASCII letter case, and of several lines with one name the first counts.
class TSettingsValues {
public:
    explicit TSettingsValues(std::string_view content);
    std::optional<std::string_view> Value(std::string_view name) const;
    // Calls `visit` with every name, as written in the text, in no particular order.
    template <class TVisit> void ForEachName(TVisit&& visit) const {
        for (const auto& value : values_)
            visit(value.first);
    }

private:
    struct TFoldedHash {
        std::size_t operator()(std::string_view name) const;
    };
    struct TFoldedEqual {
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::unordered_map<std::string_view, std::string_view, TFoldedHash, TFoldedEqual> values_;
};
