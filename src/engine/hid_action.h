#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/device_identity.h"
#include "engine/hid_burst.h"

// The player commands a button can stand for. The numbers are stored in kvhid.ini (as the letter
// 'A' + number), so they never change.
enum THidActionType : std::uint8_t {
    atUnknown = 0, // command not chosen yet; never fires
    atPlayPause = 1,
    atNext = 2,
    atPrevious = 3,
    atStop = 4,
    atVolumeUp = 5,
    atVolumeDown = 6,
    atForward = 7,
    atBackward = 8,
    atPlay = 9,
    atPause = 10,
    atFullScreen = 11,
    atEject = 12,
    atMute = 13,
    atShuffle = 14,
    atRepeat = 15,
};

inline constexpr int kHidActionTypeCount = 16;
// Sets of action types: bit n stands for type n.
inline constexpr std::uint16_t kAllHidActions = 0xFFFF;
inline constexpr std::uint16_t kRepeatingHidActions = 0x01E0; // Volume Up/Down, Forward, Backward
// A held repeating action first repeats after its delay, then once per interval. Both lie in
// this range; the default is what every action did before they could be set.
inline constexpr std::uint32_t kDefaultRepeatMs = 500;
inline constexpr std::uint32_t kShortestRepeatMs = 100;
inline constexpr std::uint32_t kLongestRepeatMs = 2000;
// Repeating ends this long after the press, whatever the timing: with the default timing that
// is 64 repeats.
inline constexpr std::uint32_t kLongestHoldMs = 32000;

// Display name of an action type as lists and captions show it; empty for types above 15.
const char* HidActionName(std::uint8_t type);
// True for the types that repeat while their button is held.
bool IsRepeatingHidAction(std::uint8_t type);

// True for a delay or interval the action edit dialog accepts and kvhid.ini keeps.
bool IsRepeatTimeAllowed(std::int64_t milliseconds);

// Player commands beyond the sixteen types. Older versions know nothing of them, so an action
// that runs one is stored as an Unknown action (which they never fire) and names its command in
// a key of its own, by a word rather than a number, so that later versions can add commands.
enum class THidCommandKind : std::uint8_t {
    None,
    StopAfterTrack,
    StopFade,
    PlaylistStart,
    PlaylistEnd,
    MainWindow,
    PlaylistWindow,
    EqualizerWindow,
    AlwaysOnTop,
    Preferences,
    Rate, // Number: the rating, 0 to 5
    Menu, // Number: the player's menu command, kFirstMenuCommand to kLastMenuCommand
};
inline constexpr std::uint32_t kHighestRating = 5;
inline constexpr std::uint32_t kFirstMenuCommand = 40000;
inline constexpr std::uint32_t kLastMenuCommand = 65535;

struct THidCommand {
    THidCommandKind Kind = THidCommandKind::None;
    std::uint32_t Number = 0; // only for Rate and Menu; 0 for the others
    bool IsSet() const { return Kind != THidCommandKind::None; }
    bool operator==(const THidCommand&) const = default;
};

// The command a kvhid.ini word names ("stop-after-track", "rate:3", "menu:40001"), or none for
// anything else, a number out of its range included.
std::optional<THidCommand> ParseHidCommand(std::string_view word);
// The word kvhid.ini keeps; empty for no command.
std::string HidCommandWord(const THidCommand& command);
// As lists and captions show it: "Stop after this track", "Rate 3", "Menu command 40001".
std::string HidCommandName(const THidCommand& command);

// The bursts an action knows its button by: the press and the release, each followed by its
// alternate. The order is that of THidAction::Patterns.
enum THidPatternRole : std::uint8_t {
    prPress = 0,
    prAltPress = 1,
    prRelease = 2,
    prAltRelease = 3,
};
inline constexpr int kHidPatternRoles = 4;

// True when `code` is the code of the main pattern of a press or release, or of its learned
// alternate.
bool StandsFor(std::span<const THidBurstPattern, 2> patterns, std::uint32_t code);

// One button of one HID device bound to one player command. The button is known only by the
// CRC-32 codes of the report bytes it sends on press and, for repeating commands, on release.
// A remote that flips a toggle bit on every new press sends one of two bursts each time: the
// alternate patterns hold the other one, and either burst stands for the button.
class THidAction {
public:
    THidAction() = default;
    explicit THidAction(std::uint8_t actionType) : ActionType(actionType) {}
    // Copies would carry the run-time Pressed flag along; Assign is the one way to copy.
    THidAction(const THidAction&) = delete;
    THidAction& operator=(const THidAction&) = delete;

    std::uint8_t ActionType = atUnknown;
    // By THidPatternRole. The main press and release codes are those of the action line; the
    // alternates come from the second press of two-press learning.
    std::array<THidBurstPattern, kHidPatternRoles> Patterns;
    std::int32_t DeviceIndex = -1; // position in the HID port's device list; -1 = none
    // A command beyond the types; counts only while ActionType is Unknown, as it is stored.
    THidCommand Command;
    std::uint32_t RepeatDelayMs = kDefaultRepeatMs;
    std::uint32_t RepeatIntervalMs = kDefaultRepeatMs;
    // The device the button belongs to, so that it is found again wherever the system lists it
    // next; an empty Path until the device was seen (an action of an older kvhid.ini).
    THidDeviceIdentity Device;
    // Run-time: the remembered device is not present. The action waits for it and matches
    // nothing; DeviceIndex keeps the position it had, which is what kvhid.ini gets meanwhile.
    bool DeviceAway = false;
    // Run-time only, never saved or copied. While learning: the press is being heard when true.
    // While dispatching: the press of a repeating action was seen and its release is awaited.
    bool Pressed = false;
    // Run-time only: while held, when the press ran and when the next repeat is due, by the
    // engine's clock.
    std::uint32_t HeldSince = 0;
    std::uint32_t NextRepeat = 0;

    // Copies type, command, patterns, device (with its identity and presence) and timing; the
    // run-time fields stay as they are.
    void Assign(const THidAction& source);
    // The codes of the action line.
    std::uint32_t PressCode() const { return Patterns[prPress].Code; }
    std::uint32_t ReleaseCode() const { return Patterns[prRelease].Code; }
    // The press pattern and its alternate, or the release pattern and its alternate.
    std::span<THidBurstPattern, 2> PatternsOf(bool release) {
        return std::span<THidBurstPattern, 2>(Patterns.data() + (release ? prRelease : prPress), 2);
    }
    std::span<const THidBurstPattern, 2> PatternsOf(bool release) const {
        return std::span<const THidBurstPattern, 2>(
            Patterns.data() + (release ? prRelease : prPress), 2);
    }
    // The command's name for an action with one, else the type's.
    std::string ActionName() const;
    bool HasCommand() const { return ActionType == atUnknown && Command.IsSet(); }
    // A type or a command is chosen: the action has something to run.
    bool IsChosen() const { return ActionType != atUnknown || HasCommand(); }
    // Forgets every pattern.
    void ResetCodes() { Patterns = {}; }
    bool IsAssigned() const;
    bool IsRepeatable() const { return IsRepeatingHidAction(ActionType); }
    // A held repeating action waits for its release burst; everything else for its press.
    bool AwaitsRelease() const;
    // The patterns of the awaited burst: its main one, then its alternate.
    std::span<const THidBurstPattern, 2> Awaited() const { return PatternsOf(AwaitsRelease()); }
    std::span<THidBurstPattern, 2> Awaited() { return PatternsOf(AwaitsRelease()); }
    // The awaited code, or its alternate, which counts exactly like it.
    bool Matches(std::uint32_t code) const { return StandsFor(Awaited(), code); }

    // kvhid.ini form: type letter, press and release code as 8 capital hex digits each, device
    // index in decimal, e.g. "CCADBBE3DFFFFFFFF0".
    std::string ToText() const;
    // Never fails: unreadable codes become kNoCode, an unreadable device index -1.
    void FromText(std::string_view text);
};
