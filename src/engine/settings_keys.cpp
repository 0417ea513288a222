#include "engine/settings_keys.h"

#include <algorithm>

#include "engine/settings_file.h"
#include "engine/settings_text.h"
#include "framework/kv_hex.h"

namespace {

// Values shorter than this are skipped: they cannot hold a letter and a code.
constexpr std::size_t kShortestActionText = 3;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kActionPrefix = "Action";
constexpr std::string_view kPositionMark = "NN";

std::string ActionLineKey(int position) {
    return (position < 10 ? "Action0" : "Action") + std::to_string(position);
}

// --- the file's own keys ---

std::int32_t NumberOr(std::string_view value, std::int32_t missing) {
    return ParseDecimal32(value).value_or(missing);
}

void ReadHidIndex(std::string_view value, THidFileSettings& settings) {
    settings.DeviceIndex = NumberOr(value, 0);
}
std::optional<std::string> WriteHidIndex(const THidFileSettings& settings) {
    return std::to_string(settings.DeviceIndex);
}

void ReadMode(std::string_view value, THidFileSettings& settings) {
    settings.ExtendedMode = NumberOr(value, 0) != 0;
}
std::optional<std::string> WriteMode(const THidFileSettings& settings) {
    return settings.ExtendedMode ? "-1" : "0";
}

void ReadQuickResponse(std::string_view value, THidFileSettings& settings) {
    settings.QuickResponse = NumberOr(value, 1) != 0;
}
std::optional<std::string> WriteQuickResponse(const THidFileSettings& settings) {
    return settings.QuickResponse ? std::nullopt : std::optional<std::string>("0");
}

// A missing or unreadable identity is none: then the position is used, as for a file of an
// older version.
THidDeviceIdentity StoredIdentity(std::string_view value) {
    return ParseIdentity(value).value_or(THidDeviceIdentity{});
}
std::optional<std::string> IdentityValue(const THidDeviceIdentity& device) {
    return device.Path.empty() ? std::nullopt : std::optional<std::string>(IdentityText(device));
}

void ReadChosenDevice(std::string_view value, THidFileSettings& settings) {
    settings.ChosenDevice = StoredIdentity(value);
}
std::optional<std::string> WriteChosenDevice(const THidFileSettings& settings) {
    return IdentityValue(settings.ChosenDevice);
}

// --- the keys of one action ---

bool ReadActionLine(std::string_view value, std::string_view, THidAction& action) {
    if (value.size() < kShortestActionText)
        return false;
    action.FromText(value);
    return true;
}
std::optional<std::string> WriteActionLine(const THidAction& action) {
    // A type that wraps to a blank letter loses it here, as it always did.
    return std::string(TrimBlanks(action.ToText()));
}

bool ReadActionDevice(std::string_view value, std::string_view, THidAction& action) {
    action.Device = StoredIdentity(value);
    return true;
}
std::optional<std::string> WriteActionDevice(const THidAction& action) {
    return IdentityValue(action.Device);
}

// An alternate code has exactly the action line's form; anything else is no code.
template <THidPatternRole Role>
bool ReadAlternateCode(std::string_view value, std::string_view, THidAction& action) {
    action.Patterns[Role].Code = value.size() == 8 ? ParseHex32(value).value_or(kNoCode) : kNoCode;
    return true;
}
template <THidPatternRole Role>
std::optional<std::string> WriteAlternateCode(const THidAction& action) {
    const THidBurstPattern& pattern = action.Patterns[Role];
    return pattern.Learned() ? std::optional<std::string>(kvHex(pattern.Code, 8)) : std::nullopt;
}

template <std::uint32_t THidAction::*Time>
bool ReadRepeatTime(std::string_view value, std::string_view, THidAction& action) {
    const auto milliseconds = ParseDecimal32(value);
    action.*Time = milliseconds && IsRepeatTimeAllowed(*milliseconds)
                       ? static_cast<std::uint32_t>(*milliseconds)
                       : kDefaultRepeatMs;
    return true;
}
template <std::uint32_t THidAction::*Time>
std::optional<std::string> WriteRepeatTime(const THidAction& action) {
    return action.*Time == kDefaultRepeatMs
               ? std::nullopt
               : std::optional<std::string>(std::to_string(action.*Time));
}

bool ReadCommand(std::string_view value, std::string_view key, THidAction& action) {
    if (value.empty())
        return true;
    // Only an Unknown action takes a command: an older version reads the action line alone, and
    // a line it would run as a type of its own must do the same here.
    const auto command = ParseHidCommand(value);
    if (command && action.ActionType == atUnknown)
        action.Command = *command;
    else
        SettingsWarning("trelvon: " + std::string(key) + " in kvhid.ini " +
                        (command ? "belongs to an action with a type of its own"
                                 : "names no command this version knows") +
                        " and is ignored");
    return true;
}
std::optional<std::string> WriteCommand(const THidAction& action) {
    return action.HasCommand() ? std::optional<std::string>(HidCommandWord(action.Command))
                               : std::nullopt;
}

// Bytes that are no burst of the pattern's code are left out with a warning; the action works
// from its code alone, as before.
template <THidPatternRole Role>
bool ReadBurstBytes(std::string_view value, std::string_view key, THidAction& action) {
    THidBurstPattern& pattern = action.Patterns[Role];
    if (value.empty())
        return true;
    if (ParseHexBytes(value, pattern.Bytes) && BurstBytesMatch(pattern.Bytes, pattern.Code))
        return true;
    pattern.Bytes.clear();
    SettingsWarning("trelvon: " + std::string(key) +
                    " in kvhid.ini does not match its action and is ignored");
    return true;
}
template <THidPatternRole Role>
std::optional<std::string> WriteBurstBytes(const THidAction& action) {
    const std::vector<std::uint8_t>& bytes = action.Patterns[Role].Bytes;
    return bytes.empty() ? std::nullopt : std::optional<std::string>(HexBytesText(bytes));
}

constexpr THidFileKeyRules FileKey(void (*read)(std::string_view, THidFileSettings&),
                                   std::optional<std::string> (*write)(const THidFileSettings&)) {
    return {read, write};
}
constexpr THidActionKeyRules ActionKey(bool (*read)(std::string_view, std::string_view,
                                                    THidAction&),
                                       std::optional<std::string> (*write)(const THidAction&)) {
    return {read, write};
}

template <THidPatternRole Role> constexpr THidActionKeyRules AlternateCodeKey() {
    return {ReadAlternateCode<Role>, WriteAlternateCode<Role>};
}
template <std::uint32_t THidAction::*Time> constexpr THidActionKeyRules RepeatTimeKey() {
    return {ReadRepeatTime<Time>, WriteRepeatTime<Time>};
}
template <THidPatternRole Role> constexpr THidActionKeyRules BurstBytesKey() {
    return {ReadBurstBytes<Role>, WriteBurstBytes<Role>};
}

// Read and written in this order: an action's line first, since its other keys depend on its
// type and codes, and the bytes after the alternate codes they must match.
// clang-format off: a row per line
constexpr THidSettingsKey kSettingsKeys[] = {
    {"HidIndex", "always", "always", FileKey(ReadHidIndex, WriteHidIndex)},
    {"Mode", "always", "always", FileKey(ReadMode, WriteMode)},
    {"QuickResponse", "quick response", "when off", FileKey(ReadQuickResponse, WriteQuickResponse)},
    {"HidDevice", "device identity", "once the device is known",
     FileKey(ReadChosenDevice, WriteChosenDevice)},
    {"ActionNN", "always", "always", ActionKey(ReadActionLine, WriteActionLine)},
    {"ActionNNDevice", "device identity", "once the device is known",
     ActionKey(ReadActionDevice, WriteActionDevice)},
    {"ActionNNAltPress", "two-press learning", "when learned", AlternateCodeKey<prAltPress>()},
    {"ActionNNAltRelease", "two-press learning", "when learned", AlternateCodeKey<prAltRelease>()},
    {"ActionNNRepeatDelay", "repeat timing", "when not 500",
     RepeatTimeKey<&THidAction::RepeatDelayMs>()},
    {"ActionNNRepeatInterval", "repeat timing", "when not 500",
     RepeatTimeKey<&THidAction::RepeatIntervalMs>()},
    {"ActionNNCommand", "more commands", "for an Unknown action with a command",
     ActionKey(ReadCommand, WriteCommand)},
    {"ActionNNPressBytes", "quick response", "when known", BurstBytesKey<prPress>()},
    {"ActionNNReleaseBytes", "quick response", "when known", BurstBytesKey<prRelease>()},
    {"ActionNNAltPressBytes", "two-press learning", "when known", BurstBytesKey<prAltPress>()},
    {"ActionNNAltReleaseBytes", "two-press learning", "when known", BurstBytesKey<prAltRelease>()},
};
// clang-format on

// The positions whose action line the text holds, in order. A file holds a few of the
// kMaxActions possible lines, so they are found among its names rather than asked for one by one.
std::vector<int> ActionLinePositions(const TSettingsValues& values) {
    std::vector<int> positions;
    values.ForEachName([&](std::string_view name) {
        if (name.size() <= kActionPrefix.size())
            return;
        for (std::size_t i = 0; i < kActionPrefix.size(); ++i)
            if ((name[i] | 0x20) != (kActionPrefix[i] | 0x20))
                return;
        const std::string_view digits = name.substr(kActionPrefix.size());
        const auto position = ParseDecimal32(digits);
        // Exactly the form the writer uses: two digits below 10, no leading zero above.
        if (position && *position >= 0 && *position < kMaxActions &&
            ActionLineKey(*position).substr(kActionPrefix.size()) == digits)
            positions.push_back(*position);
    });
    std::sort(positions.begin(), positions.end());
    return positions;
}

std::string_view ValueOf(const TSettingsValues& values, std::string_view name) {
    return TrimBlanks(values.Value(name).value_or(""));
}

// The lines of the keys with rules of one kind that have something to write of `source`, each
// with the name `nameOf` gives its key.
template <class TRules, class TSource, class TNameOf>
std::string KeyLines(const TSource& source, TNameOf&& nameOf) {
    std::string text;
    for (const THidSettingsKey& key : kSettingsKeys)
        if (const auto* rules = std::get_if<TRules>(&key.Rules))
            if (const auto value = rules->Write(source))
                text += std::string(nameOf(key)) + "=" + *value + "\r\n";
    return text;
}

} // namespace

std::string THidSettingsKey::NameAt(int position) const {
    return ActionLineKey(position) +
           std::string(Name.substr(kActionPrefix.size() + kPositionMark.size()));
}

std::span<const THidSettingsKey> SettingsKeys() {
    return kSettingsKeys;
}

THidSettingsContent ParseSettings(std::string_view text, std::uint16_t supportedActions) {
    // An editor may have saved the file with a UTF-8 mark, which would hide the first name.
    if (text.starts_with(kUtf8Mark))
        text.remove_prefix(kUtf8Mark.size());
    const TSettingsValues values(text);
    THidSettingsContent content;
    const auto supported = [&](std::uint8_t type) {
        return type < kHidActionTypeCount && ((supportedActions >> type) & 1) != 0;
    };
    for (const int position : ActionLinePositions(values)) {
        auto action = std::make_unique<THidAction>();
        bool kept = true;
        // An action of a type this engine does not run is dropped before its other keys are
        // read, so they cannot warn about it.
        for (const THidSettingsKey& key : kSettingsKeys) {
            const auto* rules = std::get_if<THidActionKeyRules>(&key.Rules);
            if (rules == nullptr)
                continue;
            const std::string name = key.NameAt(position);
            kept =
                rules->Read(ValueOf(values, name), name, *action) && supported(action->ActionType);
            if (!kept)
                break;
        }
        if (kept)
            content.Actions.push_back(std::move(action));
    }
    for (const THidSettingsKey& key : kSettingsKeys)
        if (const auto* rules = std::get_if<THidFileKeyRules>(&key.Rules))
            rules->Read(ValueOf(values, key.Name), content.File);
    return content;
}

std::string FormatSettings(const THidFileSettings& file,
                           std::span<const std::unique_ptr<THidAction>> actions) {
    std::string text =
        KeyLines<THidFileKeyRules>(file, [](const THidSettingsKey& key) { return key.Name; });
    const int count = std::min(static_cast<int>(actions.size()), kMaxActions);
    for (int position = 0; position < count; ++position)
        text += FormatActionSettings(position, *actions[static_cast<std::size_t>(position)]);
    return text;
}

std::string FormatActionSettings(int position, const THidAction& action) {
    return KeyLines<THidActionKeyRules>(
        action, [position](const THidSettingsKey& key) { return key.NameAt(position); });
}
