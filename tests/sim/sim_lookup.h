#pragma once
// Lookups shared by the library doubles.
#include "sim/sim_fixture.h"

#include <windows.h>

// The fixture record of the device that a handle was opened on, if the fixture still lists it.
std::optional<TSimFixtureDevice> SimDeviceOfHandle(HANDLE handle);
