#include "engine/hid_processor.h"

#include <algorithm>
#include <bitset>
#include <utility>

#include "engine/settings_file.h"
#include "engine/settings_keys.h"
#include "engine/settings_text.h"
#include "framework/kv_error.h"

namespace {

// A repeating action whose press was seen and whose release is awaited; device and mode play no
// part, so a hold goes on repeating across a reopen of the devices.
bool HeldForRepeat(const THidAction& action) {
    return action.Pressed && action.ReleaseCode() != kNoCode && action.IsRepeatable() &&
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

} // namespace

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
    // An action with a command is of that command's kind, not an Unknown one.
    for (const auto& action : actions_)
        if (action->ActionType == type && !action->HasCommand())
            return action.get();
    return nullptr;
}

THidAction& THidActionList::ActionForType(std::uint8_t type) {
    if (const THidAction* action = FirstActionOfType(type))
        return const_cast<THidAction&>(*action);
    return Add(std::make_unique<THidAction>(type));
}

void THidActionList::MatchDevices(const std::vector<THidDeviceIdentity>& present) {
    present_ = present;
    NumberIdenticalDevices(present_);
    PlaceDevices(DevicePlaces(), present_);
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
    // A button held while the list is replaced (OK in the dialog) stays held: the same binding
    // in the new list takes its hold over, so that its release burst still ends it.
    for (const auto& held : actions_) {
        if (!held->Pressed)
            continue;
        for (const auto& fresh : copy) {
            if (fresh->Pressed || fresh->ActionType != held->ActionType ||
                fresh->Command != held->Command || fresh->PressCode() != held->PressCode() ||
                fresh->ReleaseCode() != held->ReleaseCode() ||
                fresh->DeviceIndex != held->DeviceIndex)
                continue;
            fresh->Pressed = true;
            fresh->HeldSince = held->HeldSince;
            fresh->NextRepeat = held->NextRepeat;
            break;
        }
    }
    actions_ = std::move(copy);
}

void THidActionList::KeepIdentifiedDevices(const THidActionList& source) {
    for (const auto& action : actions_) {
        if (!action->Device.Path.empty())
            continue;
        for (const auto& known : source.actions_) {
            if (known->Device.Path.empty() || known->DeviceAway ||
                known->DeviceIndex != action->DeviceIndex ||
                known->ActionType != action->ActionType || known->Command != action->Command ||
                known->PressCode() != action->PressCode() ||
                known->ReleaseCode() != action->ReleaseCode())
                continue;
            action->Device = known->Device;
            break;
        }
    }
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
    unreadSettingsPath_.clear();
    try {
        THidSettingsStore& store = PlatformSettingsStore();
        const std::string path = ResolveSettingsPath(fileName);
        std::string content;
        if (!store.ReadWhole(path, content)) {
            if (store.Exists(path)) {
                unreadSettingsPath_ = path;
                SettingsWarning("trelvon: " + path +
                                " cannot be read; it is kept as .bak at the next save");
            }
            return false;
        }
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
        if (result.Path == unreadSettingsPath_ && store.Exists(result.Path)) {
            if (!store.Replace(result.Path, result.Path + ".bak")) {
                result.Reason = "The file could not be read when the player started, and it cannot "
                                "be kept as .bak: " +
                                store.LastErrorText();
                return result;
            }
        }
        unreadSettingsPath_.clear();
        result.Saved = WriteSettingsFile(store, result.Path, SettingsText());
        if (!result.Saved)
            result.Reason = store.LastErrorText();
    } catch (const std::exception& error) {
        result.Reason = error.what();
    }
    return result;
}

void THidProcessor::ReadSettingsText(std::string_view content) {
    THidSettingsContent read = ParseSettings(content, supportedActions_);
    for (auto& action : read.Actions)
        Add(std::move(action));
    deviceIndex_ = read.File.DeviceIndex;
    chosenDevice_ = read.File.ChosenDevice;
    chosenDeviceAway_ = false;
    extendedMode_ = read.File.ExtendedMode;
    quickResponse_ = read.File.QuickResponse;
}

std::string THidProcessor::SettingsText() const {
    return FormatSettings({deviceIndex_, chosenDevice_, extendedMode_, quickResponse_}, actions_);
}

void THidProcessor::ExecuteAction(std::uint8_t) {}

void THidProcessor::ExecuteCommand(const THidCommand&) {
    ExecuteAction(atUnknown);
}

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

template <class TTest>
THidAction* THidProcessor::FirstLiveAction(std::int32_t device, TTest&& test) const {
    // Simple mode serves one binding per command: the one the Simple page edits. One pass with
    // the types seen so far, as this runs for every report. Each command beyond the types is a
    // kind of its own; whether an earlier action has it is asked only of a candidate.
    std::bitset<256> seenTypes;
    for (auto at = actions_.begin(); at != actions_.end(); ++at) {
        const THidAction& action = **at;
        const bool command = action.HasCommand();
        bool first = command || !seenTypes.test(action.ActionType);
        if (!command)
            seenTypes.set(action.ActionType);
        if (action.DeviceIndex != device || action.DeviceAway)
            continue;
        if (command && !extendedMode_)
            first = std::none_of(actions_.begin(), at, [&](const auto& earlier) {
                return earlier->HasCommand() && earlier->Command == action.Command;
            });
        if ((extendedMode_ || first) && test(action))
            return at->get();
    }
    return nullptr;
}

THidAction* THidProcessor::FindAction(std::uint32_t code, std::int32_t device) {
    return FirstLiveAction(device,
                           [code](const THidAction& action) { return action.Matches(code); });
}

bool THidProcessor::CompletesAtOnce(const THidBurst& burst, std::int32_t device) const {
    if (!quickResponse_ || !burst.Kept())
        return false;
    const std::span<const std::uint8_t> running = burst.Bytes();
    bool equalsOne = false;
    // Whether one awaited burst leaves the running one undecided.
    const auto undecidedBy = [&](const THidBurstPattern& awaited) {
        if (!awaited.Learned())
            return false; // awaits nothing it could ever match
        if (awaited.Bytes.empty())
            return true; // only the silence can tell whether this one's burst is running
        if (awaited.Bytes.size() < running.size() ||
            !std::equal(running.begin(), running.end(), awaited.Bytes.begin()))
            return false;
        if (awaited.Bytes.size() > running.size())
            return true; // the running burst may go on to become this one
        equalsOne = true;
        return false;
    };
    // An alternate burst counts exactly like the main one.
    const THidAction* undecided = FirstLiveAction(device, [&](const THidAction& action) {
        return std::any_of(action.Awaited().begin(), action.Awaited().end(), undecidedBy);
    });
    return undecided == nullptr && equalsOne;
}

void THidProcessor::CompleteBurst(const THidBurst& burst, std::int32_t device) {
    THidAction* action = FindAction(burst.Code(), device);
    if (action == nullptr) {
        CompleteTap(burst, device);
        return;
    }
    IdentifyDevice(*action, device);
    // An action loaded without its bytes learns them here, and ends at once from its next burst.
    if (burst.Kept()) {
        const auto awaited = action->Awaited();
        (burst.Code() == awaited[0].Code ? awaited[0] : awaited[1]).KeepBytes(burst.Bytes());
    }
    RunAction(action);
}

void THidProcessor::CompleteTap(const THidBurst& burst, std::int32_t device) {
    if (!burst.Kept())
        return;
    const std::span<const std::uint8_t> bytes = burst.Bytes();
    // Each cut between two reports could part the press burst from the release burst.
    for (std::size_t reports = 1; reports < burst.ReportCount(); ++reports) {
        const std::size_t cut = burst.ReportEnd(reports);
        const std::span<const std::uint8_t> pressBytes = bytes.first(cut);
        const std::span<const std::uint8_t> releaseBytes = bytes.subspan(cut);
        const std::uint32_t press = AddReportToBurst(0, false, pressBytes.data(), cut);
        const std::uint32_t release =
            AddReportToBurst(0, false, releaseBytes.data(), releaseBytes.size());
        // An alternate code counts like the main one; only the main codes' bytes are kept.
        THidAction* action = FirstLiveAction(device, [&](const THidAction& candidate) {
            return candidate.IsRepeatable() && !candidate.AwaitsRelease() &&
                   StandsFor(candidate.PatternsOf(false), press) &&
                   StandsFor(candidate.PatternsOf(true), release);
        });
        if (action == nullptr)
            continue;
        IdentifyDevice(*action, device);
        if (action->PressCode() == press && action->ReleaseCode() == release) {
            action->Patterns[prPress].KeepBytes(pressBytes);
            action->Patterns[prRelease].KeepBytes(releaseBytes);
        }
        // Left released before the commands run: they may wait for the player, and the action
        // must not be touched after that.
        action->Pressed = false;
        const std::uint8_t type = action->ActionType;
        ExecuteAction(type);
        ExecuteAction(type);
        ScheduleRepeat();
        return;
    }
}

void THidProcessor::CompleteBurst(std::uint32_t code, std::int32_t device) {
    THidAction* action = FindAction(code, device);
    if (action != nullptr)
        IdentifyDevice(*action, device);
    RunAction(action);
}

void THidProcessor::IdentifyDevice(const THidAction& action, std::int32_t device) {
    if (!action.Device.Path.empty() || device < 0 ||
        static_cast<std::size_t>(device) >= present_.size())
        return;
    const THidDeviceIdentity& identity = present_[static_cast<std::size_t>(device)];
    if (identity.Path.empty())
        return; // listed but unreadable: nothing to find it again by
    for (const THidDevicePlace& place : DevicePlaces())
        if (place.Identity.Path.empty() && place.Index == device)
            place.Identity = identity;
}

void THidProcessor::RunAction(THidAction* action) {
    if (action == nullptr || !action->IsChosen())
        return;
    if (action->HasCommand()) {
        // Never repeats, so nothing of the action is needed once the command runs.
        ExecuteCommand(THidCommand(action->Command));
        return;
    }
    const std::uint8_t type = action->ActionType;
    const bool toggles = action->IsRepeatable() && action->ReleaseCode() != kNoCode;
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
