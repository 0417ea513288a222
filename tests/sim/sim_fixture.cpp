#include "sim/sim_fixture.h"

#include <windows.h>

#include <cstdio>
#include <sstream>

namespace {

std::string Hex(const void* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out.empty() ? "-" : out;
}

std::vector<std::uint8_t> Unhex(const std::string& text) {
    std::vector<std::uint8_t> out;
    if (text == "-")
        return out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string HexText(const std::string& s) {
    return Hex(s.data(), s.size());
}
std::string HexWide(const std::wstring& s) {
    return Hex(s.data(), s.size() * sizeof(wchar_t));
}
std::string UnhexText(const std::string& h) {
    auto b = Unhex(h);
    return std::string(b.begin(), b.end());
}
std::wstring UnhexWide(const std::string& h) {
    auto b = Unhex(h);
    std::wstring out(b.size() / 2, L'\0');
    if (!out.empty())
        memcpy(out.data(), b.data(), out.size() * 2);
    return out;
}

// Serialises the readers and the writer of one process's fixture file.
class TFixtureLock {
public:
    TFixtureLock() {
        char name[64];
        snprintf(name, sizeof name, "trelvon-sim-fixture-%lu", GetCurrentProcessId());
        mutex_ = CreateMutexA(nullptr, FALSE, name);
        if (mutex_)
            WaitForSingleObject(mutex_, INFINITE);
    }
    ~TFixtureLock() {
        if (mutex_) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
    }
    TFixtureLock(const TFixtureLock&) = delete;
    TFixtureLock& operator=(const TFixtureLock&) = delete;

private:
    HANDLE mutex_ = nullptr;
};

} // namespace

std::string SimFixtureText(const std::vector<TSimFixtureDevice>& devices) {
    std::ostringstream out;
    auto optText = [&](const char* key, const std::optional<std::string>& v) {
        if (v)
            out << key << ' ' << HexText(*v) << '\n';
    };
    auto optWide = [&](const char* key, const std::optional<std::wstring>& v) {
        if (v)
            out << key << ' ' << HexWide(*v) << '\n';
    };
    for (const auto& d : devices) {
        out << "device " << d.Id << '\n';
        out << "path " << HexText(d.Path) << '\n';
        out << "flags " << d.Present << ' ' << d.FoundPerDevice << ' '
            << static_cast<int>(d.DetailFault) << ' ' << d.LieAboutSizes << ' ' << d.NoPreparsedData
            << ' ' << d.NoAttributes << ' ' << d.NoCaps << ' ' << d.HasRegistryKey << '\n';
        out << "ids " << d.VendorID << ' ' << d.ProductID << ' ' << d.VersionNumber << '\n';
        optWide("product", d.Product);
        optWide("manufacturer", d.Manufacturer);
        optWide("serial", d.SerialNumber);
        out << "caps " << Hex(d.Caps.data(), d.Caps.size()) << '\n';
        for (int t = 0; t < 3; ++t) {
            out << "buttons " << t << ' ' << Hex(d.ButtonCaps[t].data(), d.ButtonCaps[t].size())
                << '\n';
            out << "values " << t << ' ' << Hex(d.ValueCaps[t].data(), d.ValueCaps[t].size())
                << '\n';
        }
        optText("desc", d.Description);
        optText("mfg", d.SetupManufacturer);
        optText("driver", d.DriverKey);
        optText("service", d.Service);
        optText("pdo", d.PdoName);
        out << "instance " << HexText(d.InstanceId) << '\n';
        for (const auto& child : d.BusChildren)
            out << "child " << HexText(child) << '\n';
    }
    return out.str();
}

std::vector<TSimFixtureDevice> ParseSimFixture(const std::string& text) {
    std::vector<TSimFixtureDevice> devices;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "device") {
            devices.emplace_back();
            words >> devices.back().Id;
            continue;
        }
        if (devices.empty())
            continue;
        auto& d = devices.back();
        std::string value;
        if (key == "flags") {
            int fault = 0;
            words >> d.Present >> d.FoundPerDevice >> fault >> d.LieAboutSizes >>
                d.NoPreparsedData >> d.NoAttributes >> d.NoCaps >> d.HasRegistryKey;
            d.DetailFault = static_cast<TSimDetailFault>(fault);
        } else if (key == "ids") {
            words >> d.VendorID >> d.ProductID >> d.VersionNumber;
        } else if (key == "buttons" || key == "values") {
            int type = 0;
            words >> type >> value;
            if (type >= 0 && type < 3)
                (key == "buttons" ? d.ButtonCaps : d.ValueCaps)[type] = Unhex(value);
        } else {
            words >> value;
            if (key == "path")
                d.Path = UnhexText(value);
            else if (key == "product")
                d.Product = UnhexWide(value);
            else if (key == "manufacturer")
                d.Manufacturer = UnhexWide(value);
            else if (key == "serial")
                d.SerialNumber = UnhexWide(value);
            else if (key == "caps")
                d.Caps = Unhex(value);
            else if (key == "desc")
                d.Description = UnhexText(value);
            else if (key == "mfg")
                d.SetupManufacturer = UnhexText(value);
            else if (key == "driver")
                d.DriverKey = UnhexText(value);
            else if (key == "service")
                d.Service = UnhexText(value);
            else if (key == "pdo")
                d.PdoName = UnhexText(value);
            else if (key == "instance")
                d.InstanceId = UnhexText(value);
            else if (key == "child")
                d.BusChildren.push_back(UnhexText(value));
        }
    }
    return devices;
}

void WriteSimFixture(const std::string& path, const std::vector<TSimFixtureDevice>& devices) {
    std::string text = SimFixtureText(devices);
    TFixtureLock lock;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<TSimFixtureDevice> ReadSimFixture() {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(SimFixtureVariable, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    std::string text;
    {
        TFixtureLock lock;
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return {};
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            text.append(chunk, got);
        CloseHandle(file);
    }
    return ParseSimFixture(text);
}

std::string SimDeviceKeyPath(const std::string& instanceId) {
    return "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId + "\\Device Parameters";
}

std::string SimPathStem(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/");
    std::string stem = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = stem.find('.');
    if (dot != std::string::npos)
        stem.resize(dot);
    for (auto& c : stem)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return stem;
}
