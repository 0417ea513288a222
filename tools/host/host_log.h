#pragma once
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One command message the player window received.
struct THostCommand {
    std::chrono::steady_clock::time_point Received;
    std::uint32_t Milliseconds; // since the log started
    UINT Message;               // WM_COMMAND or WM_USER
    WPARAM WParam;
    LPARAM LParam;
    std::string Text; // in words: "Next", "Set volume 0", "Command 12345"
    // Time from the last input report sent before the command to its arrival, and the device
    // that sent it; -1 and empty when no report was sent yet.
    int SinceReport = -1;
    std::string ReportSource;
};

// The player's message in words, as the stand-in prints it. fullScreenBlock is the block a
// full-screen message points at (four values), or null.
std::string CommandText(UINT message, WPARAM wParam, LPARAM lParam,
                        const std::uint32_t* fullScreenBlock = nullptr);

// What the stand-in received and did, in arrival order, with the time since the log started.
// Lives on the player window's thread; nothing in it is locked.
class THostLog {
public:
    THostLog();

    // Records a command and prints it.
    const THostCommand& AddCommand(UINT message, WPARAM wParam, LPARAM lParam,
                                   const std::uint32_t* fullScreenBlock = nullptr);
    // Prints a line about the stand-in itself (loading, queries, failures); not a command.
    void Note(const std::string& text);
    // Stamps an input report that the simulated device source has just sent; each later command
    // tells how long after the latest such report it arrived.
    void NoteReport(const std::string& source);

    const std::vector<THostCommand>& Commands() const { return commands_; }
    // The words of every command since index from, for short assertions.
    std::vector<std::string> CommandTexts(std::size_t from = 0) const;
    std::uint32_t Elapsed() const;

    // Receives every printed line, already stamped; empty means lines go nowhere.
    std::function<void(const std::string& line)> OnLine;

private:
    void Emit(std::uint32_t milliseconds, const std::string& text);

    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastReport_;
    std::string lastReportSource_;
    std::vector<THostCommand> commands_;
};
