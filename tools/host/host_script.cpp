#include "host/host_script.h"

#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/player_window.h"

#include <windows.h>
#include <shlobj.h>

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using TKind = THostStep::TKind;

struct TVerb {
    const char* Name;
    TKind Kind;
};

const TVerb Verbs[] = {
    {"device", TKind::Device},
    {"ini", TKind::Ini},
    {"load", TKind::Load},
    {"config", TKind::Config},
    {"quit", TKind::Quit},
    {"playstate", TKind::PlayState},
    {"fullscreen", TKind::FullScreen},
    {"wait", TKind::Wait},
    {"press", TKind::Press},
    {"hold", TKind::Hold},
    {"release", TKind::Release},
    {"unplug", TKind::Unplug},
    {"plug", TKind::Plug},
    {"expect", TKind::Expect},
};

struct TButton {
    std::vector<THostReport> Press;
    std::vector<THostReport> Release;
};

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
        THostStep step{KindOf(verb), lineNumber_, {}, {}, 0, {}};
        switch (step.Kind) {
        case TKind::Device:
            CheckWordCount(words, 1, SIZE_MAX);
            if (devices_.count(words[0]))
                Fail("device " + words[0] + " is declared twice");
            step.Number = static_cast<int>(devices_.size());
            devices_[words[0]] = step.Number;
            step.Settings.assign(words.begin() + 1, words.end());
            break;
        case TKind::Ini:
            // The line as written, blanks inside kept.
            step.Text = RestOfLine(line, verb);
            break;
        case TKind::Load:
            CheckWordCount(words, 0, 1);
            step.Text = words.empty() ? std::string() : words[0];
            break;
        case TKind::Config:
        case TKind::Quit:
            CheckWordCount(words, 0, 0);
            break;
        case TKind::PlayState:
        case TKind::FullScreen:
        case TKind::Wait:
            CheckWordCount(words, 1, 1);
            step.Number = Number(words[0]);
            break;
        case TKind::Press:
        case TKind::Hold:
        case TKind::Release: {
            CheckWordCount(words, 2, 2);
            step.Number = Device(words[0]);
            const auto button = buttons_.find(words[0] + ' ' + words[1]);
            if (button == buttons_.end())
                Fail("device " + words[0] + " has no button " + words[1]);
            if (step.Kind != TKind::Release)
                step.Reports = button->second.Press;
            if (step.Kind != TKind::Hold)
                step.Reports.insert(step.Reports.end(), button->second.Release.begin(),
                                    button->second.Release.end());
            break;
        }
        case TKind::Unplug:
        case TKind::Plug:
            CheckWordCount(words, 1, 1);
            step.Number = Device(words[0]);
            break;
        case TKind::Expect:
            CheckWordCount(words, 1, SIZE_MAX);
            step.Text = RestOfLine(line, verb);
            break;
        }
        steps_.push_back(std::move(step));
    }

    void ParseButton(const std::vector<std::string>& words) {
        CheckWordCount(words, 3, SIZE_MAX);
        Device(words[0]);
        TButton button;
        auto* reports = &button.Press;
        for (std::size_t i = 2; i < words.size(); ++i) {
            if (words[i] == "release" && reports == &button.Press)
                reports = &button.Release;
            else
                reports->push_back(Report(words[i]));
        }
        if (button.Press.empty())
            Fail("button " + words[1] + " sends nothing when pressed");
        if (!buttons_.emplace(words[0] + ' ' + words[1], std::move(button)).second)
            Fail("button " + words[1] + " is declared twice");
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

    int Device(const std::string& name) const {
        const auto device = devices_.find(name);
        if (device == devices_.end())
            Fail("no device " + name);
        return device->second;
    }

    THostReport Report(const std::string& hex) const {
        if (hex.size() % 2 != 0)
            Fail("report '" + hex + "' has an odd number of digits");
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

    static std::string RestOfLine(const std::string& line, const std::string& verb) {
        const std::size_t start = line.find_first_not_of(" \t", line.find(verb) + verb.size());
        return start == std::string::npos ? std::string() : line.substr(start);
    }

    int lineNumber_ = 0;
    std::vector<THostStep> steps_;
    std::map<std::string, int> devices_;
    std::map<std::string, TButton> buttons_;
};

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
    char folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE))
        throw EkvError("no local application-data folder");
    std::string path = std::string(folder) + "\\HID-Plugin";
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\kvhid.ini";
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
    case TKind::PlayState:
        player_.SetPlayState(step.Number);
        break;
    case TKind::FullScreen:
        player_.SetFullScreen(step.Number != 0);
        break;
    case TKind::Wait:
        PumpMessagesFor(static_cast<DWORD>(step.Number));
        break;
    case TKind::Press:
    case TKind::Hold:
    case TKind::Release:
        for (const THostReport& report : step.Reports)
            Driver().SendReport(step.Number, report);
        break;
    case TKind::Unplug:
    case TKind::Plug:
        Driver().SetPresent(step.Number, step.Kind == TKind::Plug);
        break;
    case TKind::Expect:
        Expect(step.Text);
        break;
    }
}

void THostSession::Load(const std::string& fileName) {
    if (fileName.empty())
        throw EkvError("no plug-in to load");
    Unload();
    if (!settingsLines_.empty())
        WriteSettingsFile(settingsLines_);
    plugin_ = std::make_unique<THostPlugin>(fileName, player_.Handle());
    log_.Note("loaded " + fileName + ": " + plugin_->Description());
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

THostDeviceDriver& THostSession::Driver() {
    if (driver_ == nullptr)
        throw EkvError("this step needs the simulated bus");
    return *driver_;
}
