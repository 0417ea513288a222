#pragma once
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "engine/hid_processor.h"

// Failures show a command by its kvhid.ini word.
inline void PrintTo(const THidCommand& command, std::ostream* out) {
    *out << '"' << HidCommandWord(command) << '"';
}

// An engine that records the commands instead of carrying them out.
class TRecordingProcessor : public THidProcessor {
public:
    void ExecuteAction(std::uint8_t type) override { Executed.push_back(type); }
    void ExecuteCommand(const THidCommand& command) override { Commands.push_back(command); }
    THidAction& Bind(std::uint8_t type, std::uint32_t press, std::int32_t device,
                     std::uint32_t release = kNoCode) {
        THidAction& action = Add(std::make_unique<THidAction>(type));
        action.Patterns[prPress].Code = press, action.Patterns[prRelease].Code = release, action.DeviceIndex = device;
        return action;
    }
    std::vector<std::uint8_t> Executed;
    std::vector<THidCommand> Commands;
};
