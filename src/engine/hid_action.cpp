#include "engine/hid_action.h"

#include <cstdio>

#include "engine/settings_text.h"
#include "framework/kv_crc.h"

namespace {

constexpr const char* kActionNames[kHidActionTypeCount] = {
    "Unknown",     "Play/Pause", "Next",     "Previous", "Stop",  "Volume Up",
    "Volume Down", "Forward",    "Backward", "Play",     "Pause", "Full Screen",
    "Eject",       "Mute",       "Shuffle",  "Repeat",
};

// Positions of the fields in the text form (0-based).
constexpr std::size_t kPressAt = 1;
constexpr std::size_t kReleaseAt = 9;
constexpr std::size_t kDeviceAt = 17;
constexpr std::size_t kCodeDigits = 8;

// Like taking a substring that may run past the end: what exists of it, possibly nothing.
std::string_view Field(std::string_view text, std::size_t at, std::size_t count) {
    return at < text.size() ? text.substr(at, count) : std::string_view{};
}

} // namespace

const char* HidActionName(std::uint8_t type) {
    return type < kHidActionTypeCount ? kActionNames[type] : "";
}

bool IsRepeatingHidAction(std::uint8_t type) {
    return type < kHidActionTypeCount && ((kRepeatingHidActions >> type) & 1) != 0;
}

bool IsRepeatTimeAllowed(std::int64_t milliseconds) {
    return milliseconds >= kShortestRepeatMs && milliseconds <= kLongestRepeatMs;
}

void THidAction::Assign(const THidAction& source) {
    ActionType = source.ActionType;
    PressCode = source.PressCode;
    ReleaseCode = source.ReleaseCode;
    AltPressCode = source.AltPressCode;
    AltReleaseCode = source.AltReleaseCode;
    DeviceIndex = source.DeviceIndex;
    RepeatDelayMs = source.RepeatDelayMs;
    RepeatIntervalMs = source.RepeatIntervalMs;
    Device = source.Device;
    DeviceAway = source.DeviceAway;
}

void THidAction::ResetCodes() {
    PressCode = ReleaseCode = AltPressCode = AltReleaseCode = kNoCode;
}

void THidAction::AddCodeByte(std::uint8_t byte, bool toPress) {
    std::uint32_t& code = toPress ? PressCode : ReleaseCode;
    code = kvcrc(code, byte);
}

bool THidAction::IsAssigned() const {
    return PressCode != kNoCode && DeviceIndex != -1 && ActionType != atUnknown;
}

bool THidAction::Matches(std::uint32_t code) const {
    if (Pressed && IsRepeatable() && ReleaseCode != kNoCode)
        return code == ReleaseCode || (AltReleaseCode != kNoCode && code == AltReleaseCode);
    return code == PressCode || (AltPressCode != kNoCode && code == AltPressCode);
}

std::string THidAction::ToText() const {
    // Letter, two codes of 8 digits and at most 11 characters of device index.
    // The length comes from the formatter: a type that wraps to a NUL letter must not cut the
    // text short.
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%c%08X%08X%d", static_cast<char>('A' + ActionType),
                      static_cast<unsigned>(PressCode), static_cast<unsigned>(ReleaseCode),
                      static_cast<int>(DeviceIndex));
    return std::string(text, static_cast<std::size_t>(length));
}

void THidAction::FromText(std::string_view text) {
    // A character below 'A' wraps to a type above 15, which loading then drops; an empty text
    // counts as a NUL letter and wraps the same way.
    const unsigned char letter = text.empty() ? 0 : static_cast<unsigned char>(text.front());
    ActionType = static_cast<std::uint8_t>(letter - 'A');
    PressCode = ParseHex32(Field(text, kPressAt, kCodeDigits)).value_or(kNoCode);
    ReleaseCode = ParseHex32(Field(text, kReleaseAt, kCodeDigits)).value_or(kNoCode);
    DeviceIndex = ParseDecimal32(Field(text, kDeviceAt, std::string_view::npos)).value_or(-1);
}
