#include "host/host_script.h"

#include "engine/hid_action.h"
#include "engine/settings_file.h"
#include "engine/settings_keys.h"
#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/player_window.h"
#include "shell/winamp.h"
#include "support/win_test_support.h"

#include <windows.h>

#include <cctype>
#include <chrono>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace {

using TKind = THostStep::TKind;

struct TVerb {
    const char* Name;
    TKind Kind;
};

const TVerb Verbs[] = {
    {"device", TKind::Device},       {"ini", TKind::Ini},
    {"load", TKind::Load},           {"config", TKind::Config},
    {"quit", TKind::Quit},           {"uninstall", TKind::Uninstall},
    {"playstate", TKind::PlayState}, {"fullscreen", TKind::FullScreen},
    {"wait", TKind::Wait},           {"press", TKind::Press},
    {"hold", TKind::Hold},           {"release", TKind::Release},
    {"unplug", TKind::Unplug},       {"plug", TKind::Plug},
    {"insert", TKind::Insert},       {"move", TKind::Move},
    {"suspend", TKind::Suspend},     {"resume", TKind::Resume},
    {"volume", TKind::Volume},       {"expect", TKind::Expect},
    {"spacing", TKind::Spacing},     {"silence", TKind::Silence},
    {"answer", TKind::Answer},
};

// The buttons an `answer` step names.
const std::map<std::string, int> AnswerButtons = {
    {"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};

// What a simulated device sends unless its declaration says otherwise.
constexpr std::size_t DefaultReportLength = 8;

struct TButton {
    std::vector<THostReport> Press;
    std::vector<THostReport> Release;
};

struct TDeclaredDevice {
    int Number;
    std::size_t ReportLength;
    bool Present = true;
    bool Asleep = false; // taken away by a suspend, back at the resume
};

// How long a step that changes the bus serves messages for its announcements at most.
constexpr auto AnnouncementBound = std::chrono::seconds(10);

bool SameWords(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "ActionNN=...", not one of the keys that go with it.
bool IsActionLine(const std::string& line) {
    return line.size() >= 9 && SameWords(line.substr(0, 6), "action") && line[8] == '=';
}

class TScriptParser {
public:
    std::vector<THostStep> Parse(const std::string& text) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            ++lineNumber_;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ParseLine(line);
        }
        return std::move(steps_);
    }

private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw EkvError("line " + std::to_string(lineNumber_) + ": " + why);
    }

    void ParseLine(const std::string& line) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.empty() || words[0][0] == '#')
            return;
        const std::string verb = words[0];
        words.erase(words.begin());
        if (verb == "button")
            return ParseButton(words);
        if (verb == "bind" || verb == "bindcode")
            return ParseBind(line, words, verb == "bind");
        THostStep step{KindOf(verb), lineNumber_, {}, {}, 0, {}, {}};
        switch (step.Kind) {
        case TKind::Device:
        case TKind::Insert: {
            const bool insert = step.Kind == TKind::Insert;
            CheckWordCount(words, insert ? 2 : 1, SIZE_MAX);
            if (devices_.count(words[0]))
                Fail("device " + words[0] + " is declared twice");
            step.Number = static_cast<int>(devices_.size());
            step.Text = words[0];
            step.Position = insert ? static_cast<std::size_t>(Number(words[1])) : SIZE_MAX;
            step.Settings.assign(words.begin() + (insert ? 2 : 1), words.end());
            devices_[words[0]] = {step.Number, ReportLength(step.Settings)};
            // The bus lists a new device before the present one now at its position.
            auto at = busOrder_.begin();
            for (std::size_t present = 0; at != busOrder_.end(); ++at)
                if (devices_.at(*at).Present && present++ == step.Position)
                    break;
            busOrder_.insert(at, words[0]);
            break;
        }
        case TKind::Ini:
            // The line as written, blanks inside kept.
            step.Text = RestOfLine(line);
            if (IsActionLine(step.Text))
                ++actionLines_;
            break;
        case TKind::Load:
            CheckWordCount(words, 0, 1);
            step.Text = words.empty() ? std::string() : words[0];
            break;
        case TKind::Config:
        case TKind::Quit:
        case TKind::Uninstall:
            CheckWordCount(words, 0, 0);
            break;
        case TKind::PlayState:
        case TKind::FullScreen:
        case TKind::Volume:
        case TKind::Wait:
        case TKind::Spacing:
        case TKind::Silence:
            CheckWordCount(words, 1, 1);
            step.Number = Number(words[0]);
            break;
        case TKind::Press:
        case TKind::Hold:
        case TKind::Release: {
            CheckWordCount(words, 2, 2);
            step.Number = Device(words[0]).Number;
            step.Text = words[0];
            step.Button = words[1];
            const TButton& button = Button(words[0], words[1]);
            if (step.Kind != TKind::Release)
                step.Reports = button.Press;
            if (step.Kind != TKind::Hold)
                step.Reports.insert(step.Reports.end(), button.Release.begin(),
                                    button.Release.end());
            break;
        }
        case TKind::Unplug:
        case TKind::Plug:
        case TKind::Move:
            CheckWordCount(words, 1, 1);
            step.Number = Device(words[0]).Number;
            step.Text = words[0];
            if (step.Kind != TKind::Move)
                devices_.at(words[0]).Present = step.Kind == TKind::Plug;
            else
                devices_.at(words[0]).Present = true;
            break;
        case TKind::Suspend:
            CheckWordCount(words, 0, 0);
            for (auto& [name, device] : devices_) {
                device.Asleep = device.Present;
                device.Present = false;
            }
            break;
        case TKind::Resume:
            CheckWordCount(words, 0, 1);
            if (!words.empty() && words[0] != "samepaths")
                Fail("resume takes only samepaths");
            step.Number = words.empty() ? 1 : 0;
            for (auto& [name, device] : devices_)
                device.Present = device.Present || std::exchange(device.Asleep, false);
            break;
        case TKind::Expect:
            CheckWordCount(words, 1, SIZE_MAX);
            step.Text = RestOfLine(line);
            break;
        case TKind::Answer: {
            CheckWordCount(words, 1, 1);
            const auto button = AnswerButtons.find(words[0]);
            if (button == AnswerButtons.end())
                Fail("answer takes ok, cancel, yes or no");
            step.Text = words[0];
            step.Number = button->second;
            break;
        }
        }
        steps_.push_back(std::move(step));
    }

    void ParseButton(const std::vector<std::string>& words) {
        CheckWordCount(words, 3, SIZE_MAX);
        const std::size_t length = Device(words[0]).ReportLength;
        TButton button;
        auto* reports = &button.Press;
        for (std::size_t i = 2; i < words.size(); ++i) {
            if (words[i] == "release" && reports == &button.Press)
                reports = &button.Release;
            else
                reports->push_back(Report(words[i], length));
        }
        if (button.Press.empty())
            Fail("button " + words[1] + " sends nothing when pressed");
        if (!buttons_.emplace(words[0] + ' ' + words[1], std::move(button)).second)
            Fail("button " + words[1] + " is declared twice");
    }

    // The plug-in codes the bytes exactly as the device delivers them, whole reports included,
    // so the codes are computed over the padded reports that the bus sends.
    void ParseBind(const std::string& line, const std::vector<std::string>& words, bool withBytes) {
        CheckWordCount(words, 3, SIZE_MAX);
        const TDeclaredDevice& device = Device(words[0]);
        const TButton& button = Button(words[0], words[1]);
        const std::string name = RestOfLine(line, 3);
        const int type = HostActionType(name);
        const std::optional<THidCommand> command = HostCommand(name);
        if (type < 0 && !command)
            Fail("no action '" + name + "'");
        THidAction action(static_cast<std::uint8_t>(type < 0 ? atUnknown : type));
        action.Command = command.value_or(THidCommand{});
        action.DeviceIndex = ListPosition(words[0]);
        const bool repeating = action.IsRepeatable();
        THidBurst press, release;
        press.Start();
        release.Start();
        const auto addReports = [&](const std::vector<THostReport>& reports, THidBurst& burst) {
            for (THostReport report : reports) {
                report.resize(device.ReportLength, 0);
                burst.Add(report.data(), report.size());
            }
        };
        // Only a repeating action tells its release apart; otherwise it ends the press burst.
        addReports(button.Press, press);
        addReports(button.Release, repeating ? release : press);
        action.Patterns[prPress] = THidBurstPattern::Of(press);
        action.Patterns[prRelease] = THidBurstPattern::Of(release);
        // Without bytes it is a button as an older version learned it.
        if (!withBytes)
            for (THidBurstPattern& pattern : action.Patterns)
                pattern.Bytes.clear();
        const std::string lines = FormatActionSettings(static_cast<int>(actionLines_++), action);
        for (std::size_t at = 0, end; (end = lines.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            steps_.push_back({TKind::Ini, lineNumber_, lines.substr(at, end - at), {}, 0, {}, {}});
    }

    TKind KindOf(const std::string& verb) const {
        for (const TVerb& known : Verbs)
            if (verb == known.Name)
                return known.Kind;
        Fail("unknown step '" + verb + "'");
    }

    void CheckWordCount(const std::vector<std::string>& words, std::size_t least,
                        std::size_t most) const {
        if (words.size() < least || words.size() > most)
            Fail("wrong number of words");
    }

    int Number(const std::string& word) const {
        int value = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || end != word.data() + word.size() || value < 0)
            Fail("'" + word + "' is no number");
        return value;
    }

    const TDeclaredDevice& Device(const std::string& name) const {
        const auto device = devices_.find(name);
        if (device == devices_.end())
            Fail("no device " + name);
        return device->second;
    }

    const TButton& Button(const std::string& device, const std::string& name) const {
        const auto button = buttons_.find(device + ' ' + name);
        if (button == buttons_.end())
            Fail("device " + device + " has no button " + name);
        return button->second;
    }

    // The device's index among the present ones in bus order: its place in the plug-in's list.
    int ListPosition(const std::string& name) const {
        if (!Device(name).Present)
            Fail("device " + name + " is not on the bus");
        int position = 0;
        for (const std::string& other : busOrder_) {
            if (other == name)
                break;
            position += devices_.at(other).Present ? 1 : 0;
        }
        return position;
    }

    std::size_t ReportLength(const std::vector<std::string>& settings) const {
        for (const std::string& setting : settings)
            if (setting.rfind("length=", 0) == 0) {
                const int length = Number(setting.substr(7));
                if (length == 0)
                    Fail("a device needs reports of at least one byte");
                return static_cast<std::size_t>(length);
            }
        return DefaultReportLength;
    }

    THostReport Report(const std::string& hex, std::size_t length) const {
        if (hex.size() % 2 != 0)
            Fail("report '" + hex + "' has an odd number of digits");
        if (hex.size() / 2 > length)
            Fail("report '" + hex + "' is longer than the device's " + std::to_string(length) +
                 "-byte reports");
        THostReport report;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            unsigned value = 0;
            const auto [end, error] =
                std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
            if (error != std::errc() || end != hex.data() + i + 2)
                Fail("report '" + hex + "' is no hexadecimal");
            report.push_back(static_cast<std::uint8_t>(value));
        }
        return report;
    }

    // The line after its first `words` words, blanks inside kept.
    static std::string RestOfLine(const std::string& line, int words = 1) {
        std::size_t at = 0;
        for (int i = 0; i < words; ++i) {
            at = line.find_first_not_of(" \t", at);
            at = line.find_first_of(" \t", at);
        }
        const std::size_t start = line.find_first_not_of(" \t", at);
        return start == std::string::npos ? std::string() : line.substr(start);
    }

    int lineNumber_ = 0;
    unsigned actionLines_ = 0;
    std::vector<THostStep> steps_;
    std::map<std::string, TDeclaredDevice> devices_;
    std::vector<std::string> busOrder_; // device names in the bus's enumeration order
    std::map<std::string, TButton> buttons_;
};

const char* StepVerb(TKind kind) {
    for (const TVerb& known : Verbs)
        if (kind == known.Kind)
            return known.Name;
    return "";
}

void WriteSettingsFile(const std::vector<std::string>& lines) {
    const std::string path = HostSettingsPath();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
        file << line << "\r\n";
    if (!file.flush())
        throw EkvError("cannot write " + path);
}

} // namespace

std::vector<THostStep> ParseHostScript(const std::string& text) {
    return TScriptParser().Parse(text);
}

std::string HostSettingsPath() {
    return DefaultSettingsPath("kvhid.ini");
}

int HostActionType(const std::string& name) {
    for (int type = 0; type < kHidActionTypeCount; ++type)
        if (SameWords(name, HidActionName(static_cast<std::uint8_t>(type))))
            return type;
    return -1;
}

std::optional<THidCommand> HostCommand(const std::string& name) {
    constexpr std::string_view menu = "menu command ";
    if (name.size() > menu.size() && SameWords(name.substr(0, menu.size()), std::string(menu)))
        return ParseHidCommand("menu:" + name.substr(menu.size()));
    for (auto kind = THidCommandKind::StopAfterTrack; kind <= THidCommandKind::Rate;
         kind = static_cast<THidCommandKind>(static_cast<int>(kind) + 1))
        for (std::uint32_t number = 0;
             number <= (kind == THidCommandKind::Rate ? kHighestRating : 0); ++number)
            if (SameWords(name, HidCommandName({kind, number})))
                return THidCommand{kind, number};
    return std::nullopt;
}

THostSession::THostSession(TPlayerWindow& player, THostLog& log, std::string pluginFileName,
                           THostDeviceDriver* driver)
    : player_(player), log_(log), pluginFileName_(std::move(pluginFileName)), driver_(driver),
      expected_(log.Commands().size()) {}

THostSession::~THostSession() {
    Unload();
}

void THostSession::Run(const std::vector<THostStep>& steps) {
    for (const THostStep& step : steps) {
        try {
            Run(step);
        } catch (const EkvError& error) {
            throw EkvError("line " + std::to_string(step.Line) + ": " + error.what());
        }
    }
}

void THostSession::Run(const THostStep& step) {
    switch (step.Kind) {
    case TKind::Device:
        Driver().AddDevice(step.Number, step.Settings);
        break;
    case TKind::Ini:
        settingsLines_.push_back(step.Text);
        settingsPending_ = true;
        break;
    case TKind::Load:
        Load(step.Text.empty() ? pluginFileName_ : step.Text);
        break;
    case TKind::Config:
        if (!plugin_)
            throw EkvError("config without a plug-in");
        log_.Note("config()");
        plugin_->Config();
        break;
    case TKind::Quit:
        Unload();
        break;
    case TKind::Uninstall:
        Uninstall();
        break;
    case TKind::PlayState:
        player_.SetPlayState(step.Number);
        break;
    case TKind::FullScreen:
        player_.SetFullScreen(step.Number != 0);
        break;
    case TKind::Volume:
        player_.SetVolume(static_cast<WPARAM>(step.Number));
        break;
    case TKind::Wait:
        PumpMessagesFor(static_cast<DWORD>(step.Number));
        break;
    case TKind::Spacing:
        spacing_ = static_cast<DWORD>(step.Number);
        break;
    case TKind::Press:
    case TKind::Hold:
    case TKind::Release:
        log_.Note(step.Text + ": " + StepVerb(step.Kind) + " " + step.Button);
        for (std::size_t i = 0; i < step.Reports.size(); ++i) {
            // The plug-in's windows live on this thread: the gap is served, not slept.
            if (i > 0)
                PumpMessagesFor(spacing_);
            Driver().SendReport(step.Number, step.Reports[i]);
            log_.NoteReport(step.Text);
        }
        break;
    case TKind::Unplug:
    case TKind::Plug:
        log_.Note(step.Text + ": " + StepVerb(step.Kind));
        Driver().SetPresent(step.Number, step.Kind == TKind::Plug);
        AwaitAnnouncements();
        break;
    case TKind::Insert:
        log_.Note(step.Text + ": " + StepVerb(step.Kind));
        Driver().InsertDevice(step.Number, step.Position, step.Settings);
        AwaitAnnouncements();
        break;
    case TKind::Move:
        log_.Note(step.Text + ": " + StepVerb(step.Kind));
        Driver().MoveDevice(step.Number);
        AwaitAnnouncements();
        break;
    case TKind::Suspend:
        log_.Note(StepVerb(step.Kind));
        Driver().Suspend();
        AwaitAnnouncements();
        break;
    case TKind::Resume:
        log_.Note(StepVerb(step.Kind));
        Driver().Resume(step.Number != 0);
        AwaitAnnouncements();
        break;
    case TKind::Expect:
        Expect(step.Text);
        break;
    case TKind::Silence:
        ExpectSilence(static_cast<DWORD>(step.Number));
        break;
    case TKind::Answer:
        if (!boxAnswer_) {
            // From here on every message box of this thread is logged with its text and
            // answered at once with the button of the latest `answer` step.
            boxAnswer_ = std::make_unique<TMessageBoxCatcher>();
            if (!boxAnswer_->Hooked())
                throw EkvError("SetWindowsHookEx failed with error " +
                               std::to_string(GetLastError()));
            boxAnswer_->OnBox = [this](const TMessageBoxCatcher::Box& box) {
                log_.Note("message box: " + box.Text + " -> " + boxAnswerName_);
            };
        }
        boxAnswer_->SetAnswer(step.Number);
        boxAnswerName_ = step.Text;
        break;
    }
}

void THostSession::Load(const std::string& fileName) {
    if (fileName.empty())
        throw EkvError("no plug-in to load");
    Unload();
    if (settingsPending_)
        WriteSettingsFile(settingsLines_);
    settingsPending_ = false;
    plugin_ = std::make_unique<THostPlugin>(fileName, player_.Handle());
    log_.Note("loaded " + fileName + ": " + plugin_->Description());
}

void THostSession::Uninstall() {
    if (!plugin_)
        throw EkvError("uninstall without a plug-in");
    // The player's preferences window is the hook's parent; the stand-in has only its main one.
    const int answer = plugin_->Uninstall(player_.Handle());
    log_.Note("uninstall() returned " + std::to_string(answer));
    if (answer != GEN_PLUGIN_UNINSTALL_NOW)
        return;
    const std::string fileName = plugin_->FileName();
    Unload();
    // The installer's uninstaller, which the hook may have started, deletes the file too once it
    // is free, and may be first.
    if (!DeleteFileA(fileName.c_str())) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            throw EkvError("cannot delete " + fileName + ": error " + std::to_string(error));
        log_.Note(fileName + " was already deleted");
        return;
    }
    log_.Note("deleted " + fileName);
}

void THostSession::Unload() {
    if (!plugin_)
        return;
    log_.Note("quit()");
    plugin_.reset();
}

void THostSession::Expect(const std::string& words) {
    if (!player_.WaitForCommands(expected_ + 1, expectTimeout_))
        throw EkvError("expected " + words + ", but no command came");
    const std::string& received = log_.Commands()[expected_++].Text;
    if (received != words)
        throw EkvError("expected " + words + ", but got " + received);
}

void THostSession::ExpectSilence(DWORD milliseconds) {
    if (player_.WaitForCommands(expected_ + 1, milliseconds))
        throw EkvError("expected no command, but got " + log_.Commands()[expected_].Text);
}

void THostSession::AwaitAnnouncements() {
    // Sent messages are served while waiting, posted ones (the plug-in's own hand-overs) between.
    const auto deadline = std::chrono::steady_clock::now() + AnnouncementBound;
    while (!Driver().WaitForAnnouncements(10)) {
        PumpMessagesFor(0);
        if (std::chrono::steady_clock::now() > deadline)
            throw EkvError("the bus's announcements were not delivered");
    }
}

THostDeviceDriver& THostSession::Driver() {
    if (driver_ == nullptr)
        throw EkvError("this step needs the simulated bus");
    return *driver_;
}
