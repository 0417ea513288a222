#include "host/host_log.h"

#include "shell/winamp.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* CommandName(WPARAM id) {
    switch (id) {
    case WINAMP_BUTTON1:
        return "Previous";
    case WINAMP_BUTTON2:
        return "Play";
    case WINAMP_BUTTON3:
        return "Pause";
    case WINAMP_BUTTON4:
        return "Stop";
    case WINAMP_BUTTON5:
        return "Next";
    case WINAMP_VOLUMEUP:
        return "Volume Up";
    case WINAMP_VOLUMEDOWN:
        return "Volume Down";
    case WINAMP_FFWD5S:
        return "Forward 5 s";
    case WINAMP_REW5S:
        return "Rewind 5 s";
    case WINAMP_FILE_REPEAT:
        return "Repeat";
    case WINAMP_FILE_SHUFFLE:
        return "Shuffle";
    case WINAMP_FILE_PLAY:
        return "Open files";
    case WINAMP_BUTTON4_CTRL:
        return "Stop after this track";
    case WINAMP_BUTTON4_SHIFT:
        return "Stop with fade-out";
    case WINAMP_BUTTON1_CTRL:
        return "Start of playlist";
    case WINAMP_BUTTON5_CTRL:
        return "End of playlist";
    case WINAMP_MAIN_WINDOW:
        return "Main window";
    case WINAMP_OPTIONS_PLEDIT:
        return "Playlist editor";
    case WINAMP_OPTIONS_EQ:
        return "Equalizer";
    case WINAMP_OPTIONS_AOT:
        return "Always on top";
    case WINAMP_OPTIONS_PREFS:
        return "Preferences";
    default:
        return nullptr;
    }
}

} // namespace

std::string CommandText(UINT message, WPARAM wParam, LPARAM lParam,
                        const std::uint32_t* fullScreenBlock) {
    if (message == WM_COMMAND) {
        if (const char* name = CommandName(wParam))
            return name;
        return "Command " + std::to_string(wParam);
    }
    if (message == WM_USER) {
        switch (lParam) {
        case IPC_SETVOLUME:
            return "Set volume " + std::to_string(wParam);
        case IPC_SETRATING:
            return "Rate " + std::to_string(wParam);
        case IPC_SET_VIS_FS_FLAG:
            return "Set full-screen flag " + std::to_string(wParam);
        case IPC_SET_VIDEO_FULLSCREEN:
            return fullScreenBlock ? "Video full screen " + std::to_string(fullScreenBlock[0])
                                   : std::string("Video full screen (no block)");
        default:
            return "User message " + std::to_string(lParam) + " wParam " + std::to_string(wParam);
        }
    }
    return "Message " + std::to_string(message) + " wParam " + std::to_string(wParam) + " lParam " +
           std::to_string(lParam);
}

THostLog::THostLog() : start_(std::chrono::steady_clock::now()) {}

std::uint32_t THostLog::Elapsed() const {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start_)
                                          .count());
}

const THostCommand& THostLog::AddCommand(UINT message, WPARAM wParam, LPARAM lParam,
                                         const std::uint32_t* fullScreenBlock) {
    const auto now = std::chrono::steady_clock::now();
    const auto ms = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count());
    THostCommand command{now,    ms,     message,
                         wParam, lParam, CommandText(message, wParam, lParam, fullScreenBlock),
                         -1,     {}};
    std::string line = command.Text;
    if (!lastReportSource_.empty()) {
        command.SinceReport = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastReport_).count());
        command.ReportSource = lastReportSource_;
        line.resize(std::max<std::size_t>(line.size() + 2, 16), ' ');
        line += std::to_string(command.SinceReport) + " ms after the last report of " +
                command.ReportSource;
    }
    commands_.push_back(std::move(command));
    Emit(ms, line);
    return commands_.back();
}

void THostLog::NoteReport(const std::string& source) {
    lastReport_ = std::chrono::steady_clock::now();
    lastReportSource_ = source;
}

void THostLog::Note(const std::string& text) {
    Emit(Elapsed(), "-- " + text);
}

std::vector<std::string> THostLog::CommandTexts(std::size_t from) const {
    std::vector<std::string> texts;
    for (std::size_t i = from; i < commands_.size(); ++i)
        texts.push_back(commands_[i].Text);
    return texts;
}

void THostLog::Emit(std::uint32_t milliseconds, const std::string& text) {
    if (!OnLine)
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%8u ms  ", static_cast<unsigned>(milliseconds));
    OnLine(stamp + text);
}
