#include "engine/hid_action.h"

#include "engine/settings_text.h"
#include "framework/kv_hex.h"

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

// The words of kvhid.ini and the names of the commands, by kind; Rate and Menu add their number.
struct TCommandText {
    THidCommandKind Kind;
    std::string_view Word;
    const char* Name;
};
constexpr TCommandText kCommandTexts[] = {
    {THidCommandKind::StopAfterTrack, "stop-after-track", "Stop after this track"},
    {THidCommandKind::StopFade, "stop-fade", "Stop with fade-out"},
    {THidCommandKind::PlaylistStart, "playlist-start", "Start of playlist"},
    {THidCommandKind::PlaylistEnd, "playlist-end", "End of playlist"},
    {THidCommandKind::MainWindow, "main-window", "Main window"},
    {THidCommandKind::PlaylistWindow, "playlist-window", "Playlist editor"},
    {THidCommandKind::EqualizerWindow, "equalizer-window", "Equalizer"},
    {THidCommandKind::AlwaysOnTop, "always-on-top", "Always on top"},
    {THidCommandKind::Preferences, "preferences", "Preferences"},
    {THidCommandKind::Rate, "rate:", "Rate "},
    {THidCommandKind::Menu, "menu:", "Menu command "},
};

const TCommandText* CommandText(THidCommandKind kind) {
    for (const TCommandText& text : kCommandTexts)
        if (text.Kind == kind)
            return &text;
    return nullptr;
}

bool HasNumber(THidCommandKind kind) {
    return kind == THidCommandKind::Rate || kind == THidCommandKind::Menu;
}

// Digits only: no sign, no blanks, nothing a later version might mean otherwise.
std::optional<std::uint32_t> CommandNumber(std::string_view digits, std::uint32_t lowest,
                                           std::uint32_t highest) {
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

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

std::optional<THidCommand> ParseHidCommand(std::string_view word) {
    for (const TCommandText& text : kCommandTexts) {
        if (!HasNumber(text.Kind)) {
            if (word == text.Word)
                return THidCommand{text.Kind, 0};
            continue;
        }
        if (!word.starts_with(text.Word))
            continue;
        const auto number =
            text.Kind == THidCommandKind::Rate
                ? CommandNumber(word.substr(text.Word.size()), 0, kHighestRating)
                : CommandNumber(word.substr(text.Word.size()), kFirstMenuCommand, kLastMenuCommand);
        if (!number)
            return std::nullopt;
        return THidCommand{text.Kind, *number};
    }
    return std::nullopt;
}

std::string HidCommandWord(const THidCommand& command) {
    const TCommandText* text = CommandText(command.Kind);
    if (text == nullptr)
        return {};
    std::string word(text->Word);
    return HasNumber(command.Kind) ? word + std::to_string(command.Number) : word;
}

std::string HidCommandName(const THidCommand& command) {
    const TCommandText* text = CommandText(command.Kind);
    if (text == nullptr)
        return {};
    return HasNumber(command.Kind) ? text->Name + std::to_string(command.Number)
                                   : std::string(text->Name);
}

void THidAction::Assign(const THidAction& source) {
    ActionType = source.ActionType;
    Command = source.Command;
    Patterns = source.Patterns;
    DeviceIndex = source.DeviceIndex;
    RepeatDelayMs = source.RepeatDelayMs;
    RepeatIntervalMs = source.RepeatIntervalMs;
    Device = source.Device;
    DeviceAway = source.DeviceAway;
}

std::string THidAction::ActionName() const {
    return HasCommand() ? HidCommandName(Command) : HidActionName(ActionType);
}

bool THidAction::IsAssigned() const {
    return PressCode() != kNoCode && DeviceIndex != -1 && IsChosen();
}

bool THidAction::AwaitsRelease() const {
    return Pressed && IsRepeatable() && ReleaseCode() != kNoCode;
}

bool StandsFor(std::span<const THidBurstPattern, 2> patterns, std::uint32_t code) {
    // The main code as the action line gives it; an alternate only once learned.
    return code == patterns[0].Code || (patterns[1].Learned() && code == patterns[1].Code);
}

std::string THidAction::ToText() const {
    // Letter, two codes of 8 digits and the device index. A type that wraps to a NUL letter
    // keeps it: the text is never cut short.
    return std::string(1, static_cast<char>('A' + ActionType)) + kvHex(PressCode(), 8) +
           kvHex(ReleaseCode(), 8) + std::to_string(DeviceIndex);
}

void THidAction::FromText(std::string_view text) {
    // A character below 'A' wraps to a type above 15, which loading then drops; an empty text
    // counts as a NUL letter and wraps the same way.
    const unsigned char letter = text.empty() ? 0 : static_cast<unsigned char>(text.front());
    ActionType = static_cast<std::uint8_t>(letter - 'A');
    Patterns[prPress].Code = ParseHex32(Field(text, kPressAt, kCodeDigits)).value_or(kNoCode);
    Patterns[prRelease].Code = ParseHex32(Field(text, kReleaseAt, kCodeDigits)).value_or(kNoCode);
    DeviceIndex = ParseDecimal32(Field(text, kDeviceAt, std::string_view::npos)).value_or(-1);
}
