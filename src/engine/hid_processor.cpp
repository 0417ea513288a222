#include "engine/hid_processor.h"

#include <algorithm>
#include <utility>

#include "engine/settings_file.h"
#include "engine/settings_text.h"
#include "framework/kv_crc.h"
#include "framework/kv_error.h"
#include "framework/kv_hex.h"

namespace {

// Only these positions are stored; later actions live in memory only.
constexpr int kStoredActions = 32;
// Values shorter than this are skipped: they cannot hold a letter and a code.
constexpr std::size_t kShortestActionText = 3;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string ActionKey(int position) {
    return (position < 10 ? "Action0" : "Action") + std::to_string(position);
}

// Where a device identity is stored: beside HidIndex, and beside each action line. Older
// versions read neither and go by the positions alone.
constexpr std::string_view kChosenDeviceKey = "HidDevice";
constexpr std::string_view kActionDeviceSuffix = "Device";

// A stored identity, or none for a missing or unreadable one: then the position is used, as
// for a file of an older version.
THidDeviceIdentity StoredIdentity(const TSettingsValues& values, std::string_view key) {
    const auto text = values.Value(key);
    return text ? ParseIdentity(TrimBlanks(*text)).value_or(THidDeviceIdentity{})
                : THidDeviceIdentity{};
}

std::string IdentityLine(std::string_view key, const THidDeviceIdentity& device) {
    return device.Path.empty() ? std::string()
                               : std::string(key) + "=" + IdentityText(device) + "\r\n";
}

// A repeating action whose press was seen and whose release is awaited; device and mode play no
// part, so a hold goes on repeating across a reopen of the devices.
bool HeldForRepeat(const THidAction& action) {
    return action.Pressed && action.ReleaseCode != kNoCode && action.IsRepeatable() &&
           action.IsAssigned();
}

// Clock values wrap after 49 days; differences of less than 24 days order them.
bool Reached(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

// Held, and its next repeat still falls within the longest hold.
bool RepeatPending(const THidAction& action) {
    return HeldForRepeat(action) && action.NextRepeat - action.HeldSince <= kLongestHoldMs;
}

// The keys that older versions do not read, after the ActionNN line they belong to: only what
// differs from the default, so a file without such settings is written as it always was.
void ReadActionKeys(const TSettingsValues& values, const std::string& key, THidAction& action) {
    const auto text = [&](const char* suffix) {
        return TrimBlanks(values.Value(key + suffix).value_or(""));
    };
    // Exactly the action line's form; anything else is no code.
    const auto code = [&](const char* suffix) {
        const std::string_view digits = text(suffix);
        return digits.size() == 8 ? ParseHex32(digits).value_or(kNoCode) : kNoCode;
    };
    const auto time = [&](const char* suffix) {
        const auto value = ParseDecimal32(text(suffix));
        return value && IsRepeatTimeAllowed(*value) ? static_cast<std::uint32_t>(*value)
                                                    : kDefaultRepeatMs;
    };
    action.AltPressCode = code("AltPress");
    action.AltReleaseCode = code("AltRelease");
    action.RepeatDelayMs = time("RepeatDelay");
    action.RepeatIntervalMs = time("RepeatInterval");
}

std::string ActionKeysText(const std::string& key, const THidAction& action) {
    std::string text;
    const auto add = [&](const char* suffix, const std::string& value) {
        text += key + suffix + "=" + value + "\r\n";
    };
    if (action.AltPressCode != kNoCode)
        add("AltPress", kvHex(action.AltPressCode, 8));
    if (action.AltReleaseCode != kNoCode)
        add("AltRelease", kvHex(action.AltReleaseCode, 8));
    if (action.RepeatDelayMs != kDefaultRepeatMs)
        add("RepeatDelay", std::to_string(action.RepeatDelayMs));
    if (action.RepeatIntervalMs != kDefaultRepeatMs)
        add("RepeatInterval", std::to_string(action.RepeatIntervalMs));
    return text;
}

} // namespace

std::uint32_t AddReportToBurst(std::uint32_t code, bool continuesBurst, const std::uint8_t* bytes,
                               std::size_t count) {
    if (!continuesBurst)
        code = kCrcStart;
    for (std::size_t i = 0; i < count; ++i)
        code = kvcrc(code, bytes[i]);
    return code;
}

THidProcessor::THidProcessor() : dispatcher_(CreateHidDispatcher(*this)) {}

THidProcessor::~THidProcessor() = default;

const THidAction& THidActionList::Actions(int index) const {
    if (index < 0 || index >= Count())
        throw EkvError("List index out of bounds (" + std::to_string(index) + ")");
    return *actions_[static_cast<std::size_t>(index)];
}

THidAction& THidActionList::Actions(int index) {
    return const_cast<THidAction&>(std::as_const(*this).Actions(index));
}

THidAction& THidActionList::Add(std::unique_ptr<THidAction> action) {
    if (!action)
        throw EkvError("No action to add");
    actions_.push_back(std::move(action));
    return *actions_.back();
}

std::unique_ptr<THidAction> THidActionList::Delete(int index) {
    Actions(index); // range check
    const auto at = actions_.begin() + index;
    std::unique_ptr<THidAction> action = std::move(*at);
    actions_.erase(at);
    return action;
}

void THidActionList::Clear() {
    actions_.clear();
}

const THidAction* THidActionList::FirstActionOfType(std::uint8_t type) const {
    for (const auto& action : actions_)
        if (action->ActionType == type)
            return action.get();
    return nullptr;
}

THidAction& THidActionList::ActionForType(std::uint8_t type) {
    if (const THidAction* action = FirstActionOfType(type))
        return const_cast<THidAction&>(*action);
    return Add(std::make_unique<THidAction>(type));
}

void THidActionList::MatchDevices(const std::vector<THidDeviceIdentity>& present) {
    PlaceDevices(DevicePlaces(), present);
}

std::vector<THidDevicePlace> THidActionList::DevicePlaces() {
    std::vector<THidDevicePlace> places;
    for (const auto& action : actions_)
        places.push_back({action->DeviceIndex, action->Device, action->DeviceAway});
    return places;
}

std::vector<THidDevicePlace> THidProcessor::DevicePlaces() {
    std::vector<THidDevicePlace> places = THidActionList::DevicePlaces();
    places.push_back({deviceIndex_, chosenDevice_, chosenDeviceAway_});
    return places;
}

void THidActionList::AssignActions(const THidActionList& source) {
    if (&source == this)
        return;
    std::vector<std::unique_ptr<THidAction>> copy;
    copy.reserve(source.actions_.size());
    for (const auto& action : source.actions_)
        copy.emplace_back(std::make_unique<THidAction>())->Assign(*action);
    actions_ = std::move(copy);
}

bool THidProcessor::SupportsAction(std::uint8_t type) const {
    return type < kHidActionTypeCount && ((supportedActions_ >> type) & 1) != 0;
}

std::string THidProcessor::DefaultSettingsPath() const {
    return ::DefaultSettingsPath(settingsFileName_);
}

std::string THidProcessor::ResolveSettingsPath(const std::string& fileName) const {
    return TrimBlanks(fileName).empty() ? DefaultSettingsPath() : fileName;
}

bool THidProcessor::LoadSettings(const std::string& fileName) {
    Clear();
    try {
        std::string content;
        if (!PlatformSettingsStore().ReadWhole(ResolveSettingsPath(fileName), content))
            return false;
        ReadSettingsText(content);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

THidSaveResult THidProcessor::SaveSettings(const std::string& fileName) {
    THidSaveResult result;
    result.Path = TrimBlanks(fileName).empty() ? settingsFileName_ : fileName;
    try {
        result.Path = ResolveSettingsPath(fileName);
        THidSettingsStore& store = PlatformSettingsStore();
        result.Saved = WriteSettingsFile(store, result.Path, SettingsText());
        if (!result.Saved)
            result.Reason = store.LastErrorText();
    } catch (const std::exception& error) {
        result.Reason = error.what();
    }
    return result;
}

void THidProcessor::ReadSettingsText(std::string_view content) {
    // An editor may have saved the file with a UTF-8 mark, which would hide the first name.
    if (content.starts_with(kUtf8Mark))
        content.remove_prefix(kUtf8Mark.size());
    const TSettingsValues values(content);
    for (int position = 0; position < kStoredActions; ++position) {
        const std::string_view value = TrimBlanks(values.Value(ActionKey(position)).value_or(""));
        if (value.size() < kShortestActionText)
            continue;
        auto action = std::make_unique<THidAction>();
        action->FromText(value);
        action->Device =
            StoredIdentity(values, ActionKey(position) + std::string(kActionDeviceSuffix));
        ReadActionKeys(values, ActionKey(position), *action);
        if (SupportsAction(action->ActionType))
            Add(std::move(action));
    }
    const auto number = [&](std::string_view name) {
        return ParseDecimal32(TrimBlanks(values.Value(name).value_or("")));
    };
    deviceIndex_ = number("HidIndex").value_or(0);
    chosenDevice_ = StoredIdentity(values, kChosenDeviceKey);
    chosenDeviceAway_ = false;
    extendedMode_ = number("Mode").value_or(0) != 0;
}

std::string THidProcessor::SettingsText() const {
    std::string text = "HidIndex=" + std::to_string(deviceIndex_) + "\r\n";
    text += extendedMode_ ? "Mode=-1\r\n" : "Mode=0\r\n";
    text += IdentityLine(kChosenDeviceKey, chosenDevice_);
    for (int position = 0; position < Count() && position < kStoredActions; ++position) {
        const THidAction& action = Actions(position);
        const std::string key = ActionKey(position);
        text += key + "=" + std::string(TrimBlanks(action.ToText())) + "\r\n";
        text += IdentityLine(key + std::string(kActionDeviceSuffix), action.Device);
        text += ActionKeysText(key, action);
    }
    return text;
}

void THidProcessor::ExecuteAction(std::uint8_t) {}

std::uint32_t THidProcessor::Now() const {
    // Without a dispatcher no repeat timer ticks, and the time of a hold does not matter.
    return dispatcher_ ? dispatcher_->Now() : 0;
}

void THidProcessor::OpenDevices() {
    if (dispatcher_)
        dispatcher_->OpenDevices();
}

void THidProcessor::CloseDevices() {
    // Held actions stay held: after a reopen their next burst is still taken as the release.
    StopRepeat();
    if (dispatcher_)
        dispatcher_->CloseDevices();
}

void THidProcessor::ReopenDevices() {
    CloseDevices();
    OpenDevices();
}

std::map<std::int32_t, std::string> THidProcessor::UnopenedDevices() const {
    return dispatcher_ ? dispatcher_->UnopenedDevices() : std::map<std::int32_t, std::string>{};
}

THidAction* THidProcessor::FindAction(std::uint32_t code, std::int32_t device) {
    for (const auto& action : actions_) {
        if (action->DeviceIndex != device || action->DeviceAway || !action->Matches(code))
            continue;
        // Simple mode serves one binding per command: the one the Simple page edits.
        if (extendedMode_ || FirstActionOfType(action->ActionType) == action.get())
            return action.get();
    }
    return nullptr;
}

void THidProcessor::CompleteBurst(std::uint32_t code, std::int32_t device) {
    THidAction* action = FindAction(code, device);
    if (action == nullptr || action->ActionType == atUnknown)
        return;
    const std::uint8_t type = action->ActionType;
    const bool toggles = action->IsRepeatable() && action->ReleaseCode != kNoCode;
    // Toggled and scheduled before the command runs: the command may wait for the player, and
    // the action must not be touched after anything outside the engine had a chance to edit the
    // list.
    const bool nowHeld = toggles && (action->Pressed = !action->Pressed);
    if (nowHeld) {
        action->HeldSince = Now();
        action->NextRepeat = action->HeldSince + action->RepeatDelayMs;
    }
    ExecuteAction(type);
    if (toggles)
        ScheduleRepeat();
}

void THidProcessor::RepeatTick() {
    const std::uint32_t now = Now();
    // By position: a command may wait for the player, and the list is read afresh each step.
    for (int i = 0; i < Count(); ++i) {
        THidAction& action = Actions(i);
        if (!RepeatPending(action) || !Reached(now, action.NextRepeat))
            continue;
        // On a schedule of its own, so a late tick does not shift the later ones; a tick late
        // by more than an interval catches up by one command, not by a flurry.
        action.NextRepeat += action.RepeatIntervalMs;
        if (Reached(now, action.NextRepeat))
            action.NextRepeat = now + action.RepeatIntervalMs;
        ExecuteAction(action.ActionType);
    }
    ScheduleRepeat();
}

void THidProcessor::ScheduleRepeat() {
    const std::uint32_t now = Now();
    std::optional<std::uint32_t> dueIn;
    for (const auto& action : actions_) {
        if (!RepeatPending(*action))
            continue;
        const std::uint32_t left = Reached(now, action->NextRepeat) ? 0 : action->NextRepeat - now;
        dueIn = dueIn ? std::min(*dueIn, left) : left;
    }
    repeating_ = dueIn.has_value();
    if (dispatcher_)
        dispatcher_->SetRepeatTimer(dueIn);
}

void THidProcessor::StopRepeat() {
    repeating_ = false;
    if (dispatcher_)
        dispatcher_->SetRepeatTimer(std::nullopt);
}

void THidProcessor::ReleaseDevice(std::int32_t device) {
    for (const auto& action : actions_)
        if (action->DeviceIndex == device)
            action->Pressed = false;
    ScheduleRepeat();
}
