#include "host/host_sim_driver.h"

#include "framework/kv_error.h"

#include <charconv>

namespace {

// Only the doubles export this; the system's hid.dll does not.
const char SimMarkerExport[] = "TrelvonSimPreparsedCount";

std::uint16_t HexWord(const std::string& key, const std::string& value) {
    unsigned number = 0;
    const auto [end, error] =
        std::from_chars(value.data(), value.data() + value.size(), number, 16);
    if (error != std::errc() || end != value.data() + value.size() || number > 0xFFFF)
        throw EkvError("device setting " + key + "=" + value + " is no 16-bit hexadecimal number");
    return static_cast<std::uint16_t>(number);
}

std::wstring Wide(std::string text) {
    // Script words hold no blanks; underscores stand for them.
    for (char& c : text)
        if (c == '_')
            c = ' ';
    return std::wstring(text.begin(), text.end());
}

void CheckDoublesInUse() {
    char path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const std::string hid = std::string(path, length < MAX_PATH ? length : 0) + "\\hid.dll";
    HMODULE module = LoadLibraryA(hid.c_str());
    const bool simulated = module != nullptr && GetProcAddress(module, SimMarkerExport) != nullptr;
    if (module != nullptr)
        FreeLibrary(module);
    if (!simulated)
        throw EkvError("the simulated HID bus is not in use: copy the doubles "
                       "(build/win32/tests/sim/*.dll) into system32 and run with "
                       "WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n");
}

} // namespace

TSimDevice HostSimDevice(const std::vector<std::string>& settings) {
    TSimDevice device;
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos)
            throw EkvError("device setting '" + setting + "' is no key=value");
        const std::string key = setting.substr(0, equals), value = setting.substr(equals + 1);
        if (key == "name")
            device.Product = Wide(value);
        else if (key == "manufacturer")
            device.Manufacturer = Wide(value);
        else if (key == "serial")
            device.SerialNumber = Wide(value);
        else if (key == "vid")
            device.VendorID = HexWord(key, value);
        else if (key == "pid")
            device.ProductID = HexWord(key, value);
        else if (key == "version")
            device.VersionNumber = HexWord(key, value);
        else if (key == "usagepage")
            device.UsagePage = HexWord(key, value);
        else if (key == "usage")
            device.Usage = HexWord(key, value);
        else if (key == "length") {
            int length = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (error != std::errc() || end != value.data() + value.size() || length < 1 ||
                length > 0xFFFF)
                throw EkvError("device setting length=" + value + " is no report length");
            device.InputReportLength = static_cast<std::uint16_t>(length);
        } else
            throw EkvError("unknown device setting '" + key + "'");
    }
    return device;
}

THostSimDriver::THostSimDriver() {
    CheckDoublesInUse();
}

void THostSimDriver::AddDevice(int device, const std::vector<std::string>& settings) {
    InsertDevice(device, SIZE_MAX, settings, false);
}

void THostSimDriver::SendReport(int device, const THostReport& report) {
    bus_.SendInput(BusId(device), report);
}

void THostSimDriver::SetPresent(int device, bool present) {
    if (present)
        bus_.Plug(BusId(device));
    else
        bus_.Unplug(BusId(device));
}

void THostSimDriver::InsertDevice(int device, std::size_t position,
                                  const std::vector<std::string>& settings) {
    InsertDevice(device, position, settings, true);
}

void THostSimDriver::InsertDevice(int device, std::size_t position,
                                  const std::vector<std::string>& settings, bool hotPlugged) {
    if (device != static_cast<int>(ids_.size()))
        throw EkvError("devices are added in the order of their numbers");
    const TSimDevice info = HostSimDevice(settings);
    ids_.push_back(hotPlugged ? bus_.InsertDevice(info, position) : bus_.AddDevice(info));
}

void THostSimDriver::MoveDevice(int device) {
    bus_.MoveDevice(BusId(device));
}

void THostSimDriver::Suspend() {
    bus_.Suspend();
}

void THostSimDriver::Resume(bool newNodes) {
    bus_.Resume(newNodes);
}

bool THostSimDriver::WaitForAnnouncements(DWORD milliseconds) {
    return bus_.WaitForAnnouncements(std::chrono::milliseconds(milliseconds));
}

int THostSimDriver::BusId(int device) const {
    if (device < 0 || device >= static_cast<int>(ids_.size()))
        throw EkvError("no device " + std::to_string(device) + " on the bus");
    return ids_[static_cast<std::size_t>(device)];
}
