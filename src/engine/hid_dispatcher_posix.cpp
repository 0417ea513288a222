// Outside Windows there are no HID ports: the engine keeps its rules and serves no devices.
#include "engine/hid_processor.h"

std::unique_ptr<THidDispatcher> CreateHidDispatcher(THidProcessor&) {
    return nullptr;
}
