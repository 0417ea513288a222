// The simulator runs only on systems that have the Vista file and I/O functions.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "sim/sim_bus.h"

#include <dbt.h>

#include "framework/kv_error.h"
#include "framework/kv_handle.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

using TClock = std::chrono::steady_clock;

constexpr DWORD PipeBufferBytes = 4096;
// Spare listening instances per device, so that opens in quick succession never find the
// pipe busy while the worker is still replacing the instances earlier opens took. A real device
// takes any number of opens; with four, a loaded machine now and then let a run of open/close
// cycles outpace the worker.
constexpr std::size_t SpareInstances = 8;

std::atomic<bool> busExists{false};

// How long an announcement waits for one window, as the system waits for a busy application.
constexpr UINT AnnounceTimeoutMs = 5000;

// GUID_DEVINTERFACE_HID, the interface class of every HID device.
constexpr GUID HidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

BOOL CALLBACK CollectOwnWindow(HWND window, LPARAM windows) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// To every top-level window of this process, hidden ones too, as the system broadcasts.
void Broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    std::vector<HWND> windows;
    EnumWindows(CollectOwnWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, AnnounceTimeoutMs,
                            &result);
    }
}

// The system sends the interface notice only to windows registered for the HID class; the
// registrations are user32's and out of the simulator's sight, so every top-level window of the
// process gets it. A program's registered window is a top-level one, so it is among them.
void BroadcastDeviceChange(WPARAM event, const std::string& path) {
    const std::wstring name(path.begin(), path.end());
    const std::size_t bytes =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint64_t> storage((bytes + 7) / 8);
    auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    notice->dbcc_size = static_cast<DWORD>(bytes);
    notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    notice->dbcc_classguid = HidInterfaceClass;
    std::memcpy(notice->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    Broadcast(WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice));
    Broadcast(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

void DeleteHardwareKey(const std::string& instanceId) {
    if (instanceId.empty())
        return;
    // Leaf first; parents shared with other devices stay until they are empty.
    std::string path = SimDeviceKeyPath(instanceId);
    for (int level = 0; level < 4; ++level) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
        path.resize(path.find_last_of('\\'));
    }
}

TkvHandle NewEvent() {
    return TkvHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

std::string TempPath(const std::string& name) {
    char directory[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, directory);
    return std::string(directory, length < MAX_PATH ? length : 0) + name;
}

TSimReport Normalised(const TSimReport& report, std::size_t length) {
    TSimReport out(report.begin(), report.begin() + std::min(report.size(), length));
    out.resize(length, 0);
    return out;
}

void AppendBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
    auto* bytes = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

} // namespace

struct TSimBus::TInstance {
    TkvHandle Pipe;
    TkvHandle ConnectEvent = NewEvent(), ReadEvent = NewEvent(), WriteEvent = NewEvent();
    OVERLAPPED ConnectOv{}, ReadOv{}, WriteOv{};
    bool Connecting = false, Connected = false, ReadPending = false, WritePending = false;
    std::vector<std::uint8_t> ReadBuffer = std::vector<std::uint8_t>(PipeBufferBytes);
    TSimReport WriteBuffer;
};

struct TSimBus::TDeviceState {
    TSimDevice Info;
    TSimFixtureDevice Record;
    std::vector<std::unique_ptr<TInstance>> Instances;
    TkvHandle LockedFile; // the path of a device that grants no access
    std::vector<TSimReport> Outputs;
    std::size_t Delivered = 0;
    std::size_t ConnectionCount = 0;
    int OpensLeft = -1; // listening instances still to be made; -1: no limit
    unsigned Port = 0;  // how often the device moved to another port
};

struct TSimBus::TScheduled {
    TClock::time_point When;
    int Id;
    std::vector<TSimReport> Reports;
    unsigned Next = 0, Remaining = 1;
    TClock::duration Interval{};
};

TSimBus::TSimBus() {
    if (busExists.exchange(true))
        throw EkvError("only one simulated bus may exist at a time");
    static std::atomic<unsigned> serials{0};
    serial_ = ++serials;
    char name[64];
    snprintf(name, sizeof name, "trelvon-sim-%lu-%u.fixture", GetCurrentProcessId(), serial_);
    fixturePath_ = TempPath(name);
    PublishFixture();
    SetEnvironmentVariableA(SimFixtureVariable, fixturePath_.c_str());
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    worker_ = std::thread([this] { Run(); });
    announced_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    announcer_ = std::thread([this] { RunAnnouncer(); });
    // The thread's message queue, desktop and window state come with its first window calls;
    // made before the bus is handed out, they do not count as handles a test's cycles left.
    WaitForSingleObject(announced_.Get(), INFINITE);
}

TSimBus::~TSimBus() {
    {
        std::lock_guard lock(announceMutex_);
        announcements_.clear();
        stopAnnouncer_ = true;
    }
    announceWake_.notify_all();
    // An announcement under way may be waiting for a window of this thread.
    WaitForAnnouncements(std::chrono::minutes(1));
    announcer_.join();
    Execute([this] {
        for (auto& device : devices_)
            CloseDevice(*device);
        stop_ = true;
    });
    worker_.join();
    CloseHandle(wake_);
    for (auto& device : devices_)
        if (device->Record.HasRegistryKey)
            DeleteHardwareKey(device->Record.InstanceId);
    SetEnvironmentVariableA(SimFixtureVariable, nullptr);
    DeleteFileA(fixturePath_.c_str());
    busExists = false;
}

int TSimBus::NewDevice(const TSimDevice& info, std::size_t position) {
    int id = 0;
    Execute([&] {
        auto device = std::make_unique<TDeviceState>();
        id = static_cast<int>(devices_.size()) + 1;
        device->Info = info;
        TSimFixtureDevice& r = device->Record;
        r.Id = id;
        char name[96];
        r.FoundPerDevice = info.FoundPerDevice;
        r.DetailFault = info.DetailFault;
        r.LieAboutSizes = info.LieAboutSizes;
        r.Product = info.Product;
        r.Manufacturer = info.Manufacturer;
        r.SerialNumber = info.SerialNumber;
        r.VendorID = info.VendorID;
        r.ProductID = info.ProductID;
        r.VersionNumber = info.VersionNumber;
        r.NoPreparsedData = info.NoPreparsedData;
        r.NoAttributes = info.NoAttributes;
        r.NoCaps = info.NoCaps;

        HIDP_CAPS caps{};
        caps.UsagePage = info.UsagePage;
        caps.Usage = info.Usage;
        caps.InputReportByteLength = info.InputReportLength;
        caps.OutputReportByteLength = info.OutputReportLength;
        caps.FeatureReportByteLength = info.FeatureReportLength;
        caps.NumberLinkCollectionNodes = 1;
        USHORT* counts[3][3] = {
            {&caps.NumberInputButtonCaps, &caps.NumberInputValueCaps, &caps.NumberInputDataIndices},
            {&caps.NumberOutputButtonCaps, &caps.NumberOutputValueCaps,
             &caps.NumberOutputDataIndices},
            {&caps.NumberFeatureButtonCaps, &caps.NumberFeatureValueCaps,
             &caps.NumberFeatureDataIndices}};
        for (int t = 0; t < 3; ++t) {
            *counts[t][0] = static_cast<USHORT>(info.ButtonCaps[t].size());
            *counts[t][1] = static_cast<USHORT>(info.ValueCaps[t].size());
            unsigned indices = 0;
            for (const auto& b : info.ButtonCaps[t]) {
                AppendBytes(r.ButtonCaps[t], &b, sizeof b);
                indices += b.IsRange ? b.Range.DataIndexMax - b.Range.DataIndexMin + 1 : 1;
            }
            for (const auto& v : info.ValueCaps[t]) {
                AppendBytes(r.ValueCaps[t], &v, sizeof v);
                indices += v.IsRange ? v.Range.DataIndexMax - v.Range.DataIndexMin + 1 : 1;
            }
            *counts[t][2] = static_cast<USHORT>(indices);
        }
        AppendBytes(r.Caps, &caps, sizeof caps);

        r.Description = info.Description;
        r.SetupManufacturer = info.SetupManufacturer;
        r.Service = info.Service;
        snprintf(name, sizeof name, "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\%04d", id);
        r.DriverKey = info.DriverKey ? *info.DriverKey : std::string(name);
        snprintf(name, sizeof name, "\\Device\\%08lu", 0x00000070ul + id);
        r.PdoName = info.PdoName ? *info.PdoName : std::string(name);
        r.BusChildren = info.BusChildren;
        r.HasRegistryKey = info.HasRegistryKey;
        PlaceOnPort(*device);
        // The position counts present devices only, as the list a program enumerates does.
        auto at = order_.begin();
        for (std::size_t present = 0; at != order_.end(); ++at)
            if (Device(*at).Record.Present && present++ == position)
                break;
        order_.insert(at, id);
        devices_.push_back(std::move(device));
        OpenDevice(*devices_.back());
        PublishFixture();
    });
    return id;
}

int TSimBus::AddDevice(const TSimDevice& info) {
    return NewDevice(info, SIZE_MAX);
}

int TSimBus::InsertDevice(const TSimDevice& info, std::size_t position) {
    const int id = NewDevice(info, position);
    AnnounceDevice(DBT_DEVICEARRIVAL, DevicePath(id));
    return id;
}

void TSimBus::PlaceOnPort(TDeviceState& device) {
    const TSimDevice& info = device.Info;
    TSimFixtureDevice& r = device.Record;
    char name[160], port[16] = "";
    if (device.Port > 0)
        snprintf(port, sizeof port, "-p%u", device.Port);
    if (info.Access == TSimAccess::None) {
        snprintf(name, sizeof name, "trelvon-sim-%lu-%u-%d%s.dev", GetCurrentProcessId(), serial_,
                 r.Id, port);
        r.Path = TempPath(name);
    } else {
        snprintf(name, sizeof name, "\\\\.\\pipe\\trelvon-sim-%lu-%u-%d%s", GetCurrentProcessId(),
                 serial_, r.Id, port);
        r.Path = name;
    }
    const std::string oldInstance = r.InstanceId;
    if (r.InstanceId.empty() || !info.SerialNumber) {
        snprintf(name, sizeof name, "TRELVONSIM\\VID_%04X&PID_%04X\\%lu_%u_%d", info.VendorID,
                 info.ProductID, GetCurrentProcessId(), serial_, r.Id);
        r.InstanceId = (info.InstanceId.empty() ? std::string(name) : info.InstanceId) + port;
    }
    if (!info.HasRegistryKey)
        return;
    if (oldInstance != r.InstanceId)
        DeleteHardwareKey(oldInstance);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SimDeviceKeyPath(r.InstanceId).c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    std::string symbolic = info.SymbolicName ? *info.SymbolicName : r.Path;
    RegSetValueExA(key, "SymbolicName", 0, REG_SZ, reinterpret_cast<const BYTE*>(symbolic.c_str()),
                   static_cast<DWORD>(symbolic.size() + 1));
    if (info.PortName)
        RegSetValueExA(key, "PortName", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(info.PortName->c_str()),
                       static_cast<DWORD>(info.PortName->size() + 1));
    RegCloseKey(key);
}

std::string TSimBus::DevicePath(int id) const {
    std::lock_guard lock(mutex_);
    return Device(id).Record.Path;
}

std::string TSimBus::InstanceId(int id) const {
    std::lock_guard lock(mutex_);
    return Device(id).Record.InstanceId;
}

int TSimBus::ListPosition(int id) const {
    std::lock_guard lock(mutex_);
    int position = 0;
    for (int other : order_) {
        const bool present = Device(other).Record.Present;
        if (other == id)
            return present ? position : -1;
        position += present ? 1 : 0;
    }
    return -1;
}

bool TSimBus::TakeAway(TDeviceState& device) {
    const bool present = device.Record.Present;
    CloseDevice(device);
    std::erase_if(schedule_, [&](const TScheduled& s) { return s.Id == device.Record.Id; });
    return present;
}

void TSimBus::Unplug(int id) {
    std::string path;
    bool present = false;
    Execute([&] {
        TDeviceState& device = Device(id);
        path = device.Record.Path;
        present = TakeAway(device);
        PublishFixture();
    });
    if (present)
        AnnounceDevice(DBT_DEVICEREMOVECOMPLETE, path);
}

void TSimBus::MoveDevice(int id) {
    Unplug(id);
    // Back on the other port once the removal is out, as a hand moving a plug is slower.
    Announce([this, id] {
        std::string path;
        Execute([&] {
            TDeviceState& device = Device(id);
            ++device.Port;
            PlaceOnPort(device);
            OpenDevice(device);
            PublishFixture();
            path = device.Record.Path;
        });
        BroadcastDeviceChange(DBT_DEVICEARRIVAL, path);
    });
}

void TSimBus::Suspend() {
    Announce([this] {
        Broadcast(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        Execute([this] {
            for (int id : order_)
                if (TakeAway(Device(id)))
                    asleep_.push_back(id);
            PublishFixture();
        });
    });
}

void TSimBus::Resume(bool newNodes) {
    Announce([this, newNodes] {
        std::vector<std::string> arrivals;
        Execute([&] {
            for (int id : asleep_) {
                TDeviceState& device = Device(id);
                if (device.Record.Present)
                    continue; // plugged in by hand meanwhile
                if (newNodes) {
                    ++device.Port;
                    PlaceOnPort(device);
                }
                OpenDevice(device);
                arrivals.push_back(device.Record.Path);
            }
            asleep_.clear();
            PublishFixture();
        });
        if (newNodes)
            for (const std::string& path : arrivals)
                BroadcastDeviceChange(DBT_DEVICEARRIVAL, path);
        Broadcast(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    });
}

bool TSimBus::WaitForAnnouncements(std::chrono::milliseconds timeout) const {
    const auto end = TClock::now() + timeout;
    HANDLE idle = announced_.Get();
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now());
        const DWORD result = MsgWaitForMultipleObjects(
            1, &idle, FALSE, static_cast<DWORD>(std::max<long long>(0, left.count())),
            QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result != WAIT_OBJECT_0 + 1)
            return false;
        // Peeking delivers the sent messages; posted ones stay queued for their loop.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void TSimBus::Announce(std::function<void()> step) {
    {
        std::lock_guard lock(announceMutex_);
        announcements_.push_back(std::move(step));
        ResetEvent(announced_.Get());
    }
    announceWake_.notify_all();
}

void TSimBus::AnnounceDevice(WPARAM event, const std::string& path) {
    Announce([event, path] { BroadcastDeviceChange(event, path); });
}

void TSimBus::RunAnnouncer() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    std::vector<HWND> windows;
    EnumWindows(CollectOwnWindow, reinterpret_cast<LPARAM>(&windows));
    DestroyWindow(
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    std::unique_lock lock(announceMutex_);
    SetEvent(announced_.Get());
    while (true) {
        announceWake_.wait(lock, [this] { return stopAnnouncer_ || !announcements_.empty(); });
        if (stopAnnouncer_)
            break;
        auto step = std::move(announcements_.front());
        announcements_.pop_front();
        lock.unlock();
        try {
            step();
        } catch (...) {
            // Nothing may escape the thread: it would end the whole test program.
        }
        lock.lock();
        if (announcements_.empty())
            SetEvent(announced_.Get());
    }
    SetEvent(announced_.Get());
}

void TSimBus::LimitOpens(int id, int opens) {
    Execute([&] {
        TDeviceState& device = Device(id);
        device.OpensLeft = opens;
        // Every listening instance is an open that would succeed: start the count afresh.
        for (auto& instance : device.Instances)
            if (!instance->Connected)
                CloseInstance(*instance);
        Service(device);
    });
}

void TSimBus::Plug(int id) {
    std::string path;
    bool absent = false;
    Execute([&] {
        TDeviceState& device = Device(id);
        absent = !device.Record.Present;
        if (absent)
            OpenDevice(device);
        PublishFixture();
        path = device.Record.Path;
    });
    if (absent)
        AnnounceDevice(DBT_DEVICEARRIVAL, path);
}

void TSimBus::SendInput(int id, const TSimReport& report, std::chrono::milliseconds delay) {
    Execute([&] {
        Device(id);
        schedule_.push_back({TClock::now() + delay, id, {report}});
    });
}

void TSimBus::StreamInput(int id, const std::vector<TSimReport>& reports, unsigned perSecond,
                          unsigned count) {
    if (reports.empty() || perSecond == 0 || count == 0)
        return;
    Execute([&] {
        Device(id);
        TScheduled s{TClock::now(), id, reports};
        s.Remaining = count;
        s.Interval =
            std::chrono::duration_cast<TClock::duration>(std::chrono::seconds(1)) / perSecond;
        schedule_.push_back(std::move(s));
    });
}

std::size_t TSimBus::InputReportsDelivered(int id) const {
    std::lock_guard lock(mutex_);
    return Device(id).Delivered;
}

std::vector<TSimReport> TSimBus::OutputReports(int id) const {
    std::lock_guard lock(mutex_);
    return Device(id).Outputs;
}

bool TSimBus::WaitForOutputReports(int id, std::size_t count,
                                   std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return Device(id).Outputs.size() >= count; });
}

std::size_t TSimBus::Connections(int id) const {
    std::lock_guard lock(mutex_);
    return Device(id).ConnectionCount;
}

bool TSimBus::WaitForConnections(int id, std::size_t count,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return Device(id).ConnectionCount == count; });
}

HIDP_BUTTON_CAPS TSimBus::ButtonRange(USHORT usagePage, USHORT usageMin, USHORT usageMax,
                                      UCHAR reportId) {
    HIDP_BUTTON_CAPS caps{};
    caps.UsagePage = usagePage;
    caps.ReportID = reportId;
    caps.IsRange = TRUE;
    caps.Range.UsageMin = usageMin;
    caps.Range.UsageMax = usageMax;
    caps.Range.DataIndexMin = 0;
    caps.Range.DataIndexMax = static_cast<USHORT>(usageMax - usageMin);
    return caps;
}

HIDP_VALUE_CAPS TSimBus::Value(USHORT usagePage, USHORT usage, USHORT bitSize, UCHAR reportId) {
    HIDP_VALUE_CAPS caps{};
    caps.UsagePage = usagePage;
    caps.ReportID = reportId;
    caps.BitSize = bitSize;
    caps.ReportCount = 1;
    caps.LogicalMax = (1 << std::min<USHORT>(bitSize, 30)) - 1;
    caps.NotRange.Usage = usage;
    return caps;
}

// --- worker thread -------------------------------------------------------------------------

TSimBus::TDeviceState& TSimBus::Device(int id) const {
    if (id < 1 || id > static_cast<int>(devices_.size()))
        throw EkvError("no simulated device with this id");
    return *devices_[static_cast<std::size_t>(id - 1)];
}

void TSimBus::Execute(std::function<void()> command) const {
    std::unique_lock lock(mutex_);
    unsigned ticket = commandsDone_ + static_cast<unsigned>(commands_.size()) + 1;
    std::exception_ptr failure;
    commands_.push_back([&command, &failure] {
        try {
            command();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    SetEvent(wake_);
    changed_.wait(lock, [&] { return commandsDone_ >= ticket; });
    if (failure)
        std::rethrow_exception(failure);
}

void TSimBus::Run() {
    while (true) {
        std::vector<HANDLE> waits{wake_};
        DWORD timeout = INFINITE;
        {
            std::unique_lock lock(mutex_);
            while (!commands_.empty()) {
                auto command = std::move(commands_.front());
                commands_.erase(commands_.begin());
                command(); // runs with the lock held: the state it touches is the bus's
                ++commandsDone_;
                changed_.notify_all();
            }
            if (stop_)
                return;
            for (auto& device : devices_)
                Service(*device);
            auto now = TClock::now();
            for (std::size_t i = 0; i < schedule_.size();) {
                TScheduled& s = schedule_[i];
                if (s.When > now) {
                    ++i;
                    continue;
                }
                Deliver(Device(s.Id), s.Reports[s.Next++ % s.Reports.size()]);
                s.When += s.Interval;
                if (--s.Remaining == 0)
                    schedule_.erase(schedule_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            for (const auto& s : schedule_) {
                auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(s.When - now);
                timeout = std::min<DWORD>(timeout,
                                          static_cast<DWORD>(std::max<long long>(0, wait.count())));
            }
            for (auto& device : devices_)
                for (auto& instance : device->Instances) {
                    if (instance->Connecting)
                        waits.push_back(instance->ConnectEvent.Get());
                    if (instance->ReadPending)
                        waits.push_back(instance->ReadEvent.Get());
                    if (instance->WritePending)
                        waits.push_back(instance->WriteEvent.Get());
                }
            changed_.notify_all();
        }
        if (waits.size() > MAXIMUM_WAIT_OBJECTS) {
            waits.resize(MAXIMUM_WAIT_OBJECTS);
            timeout = std::min<DWORD>(timeout, 2);
        }
        WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeout);
    }
}

void TSimBus::OpenDevice(TDeviceState& device) {
    device.Record.Present = true;
    if (device.Info.Access == TSimAccess::None) {
        // Holding the file without sharing refuses every open that asks for data access,
        // while an open for no access (a query handle) still succeeds.
        device.LockedFile.Reset(CreateFileA(device.Record.Path.c_str(),
                                            GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return;
    }
    while (device.Instances.size() < SpareInstances && device.OpensLeft != 0)
        AddInstance(device);
}

void TSimBus::CloseDevice(TDeviceState& device) {
    device.Record.Present = false;
    for (auto& instance : device.Instances)
        CloseInstance(*instance);
    device.Instances.clear();
    device.ConnectionCount = 0;
    device.LockedFile.Reset();
}

void TSimBus::AddInstance(TDeviceState& device) {
    // The pipe's direction is the access a client can get: the server's outbound is the
    // client's read.
    DWORD direction = PIPE_ACCESS_DUPLEX;
    if (device.Info.Access == TSimAccess::ReadOnly)
        direction = PIPE_ACCESS_OUTBOUND;
    else if (device.Info.Access == TSimAccess::WriteOnly)
        direction = PIPE_ACCESS_INBOUND;
    auto instance = std::make_unique<TInstance>();
    instance->Pipe.Reset(
        CreateNamedPipeA(device.Record.Path.c_str(), direction | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, PipeBufferBytes, PipeBufferBytes, 0, nullptr));
    if (!instance->Pipe)
        return;
    instance->ConnectOv.hEvent = instance->ConnectEvent.Get();
    if (ConnectNamedPipe(instance->Pipe.Get(), &instance->ConnectOv))
        instance->Connected = true;
    else if (GetLastError() == ERROR_IO_PENDING)
        instance->Connecting = true;
    else if (GetLastError() == ERROR_PIPE_CONNECTED)
        instance->Connected = true;
    else
        return;
    if (device.OpensLeft > 0)
        --device.OpensLeft;
    device.Instances.push_back(std::move(instance));
}

void TSimBus::CloseInstance(TInstance& instance) {
    // The overlapped records and buffers must outlive the operations on them.
    for (OVERLAPPED* ov : {&instance.ConnectOv, &instance.ReadOv, &instance.WriteOv}) {
        bool pending = (ov == &instance.ConnectOv && instance.Connecting) ||
                       (ov == &instance.ReadOv && instance.ReadPending) ||
                       (ov == &instance.WriteOv && instance.WritePending);
        if (!pending)
            continue;
        CancelIoEx(instance.Pipe.Get(), ov);
        DWORD ignored = 0;
        GetOverlappedResult(instance.Pipe.Get(), ov, &ignored, TRUE);
    }
    instance.Connecting = instance.ReadPending = instance.WritePending = false;
    instance.Pipe.Reset();
}

void TSimBus::Service(TDeviceState& device) {
    bool inbound = device.Info.Access != TSimAccess::ReadOnly;
    for (auto& instance : device.Instances) {
        TInstance& in = *instance;
        DWORD bytes = 0;
        if (in.Connecting && HasOverlappedIoCompleted(&in.ConnectOv)) {
            in.Connecting = false;
            if (GetOverlappedResult(in.Pipe.Get(), &in.ConnectOv, &bytes, FALSE))
                in.Connected = true;
            else
                CloseInstance(in);
        }
        if (in.WritePending && HasOverlappedIoCompleted(&in.WriteOv)) {
            in.WritePending = false;
            if (!GetOverlappedResult(in.Pipe.Get(), &in.WriteOv, &bytes, FALSE))
                CloseInstance(in);
        }
        // Output reports: keep one read outstanding on every connected instance.
        while (in.Pipe && in.Connected && inbound) {
            if (in.ReadPending) {
                if (!HasOverlappedIoCompleted(&in.ReadOv))
                    break;
                in.ReadPending = false;
                BOOL ok = GetOverlappedResult(in.Pipe.Get(), &in.ReadOv, &bytes, FALSE);
                if (!ok && GetLastError() != ERROR_MORE_DATA) {
                    CloseInstance(in);
                    break;
                }
                device.Outputs.emplace_back(in.ReadBuffer.begin(), in.ReadBuffer.begin() + bytes);
            }
            in.ReadOv = OVERLAPPED{};
            in.ReadOv.hEvent = in.ReadEvent.Get();
            if (!ReadFile(in.Pipe.Get(), in.ReadBuffer.data(),
                          static_cast<DWORD>(in.ReadBuffer.size()), nullptr, &in.ReadOv) &&
                GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
                CloseInstance(in);
                break;
            }
            in.ReadPending = true;
        }
    }
    std::erase_if(device.Instances, [](const auto& in) { return !in->Pipe; });
    device.ConnectionCount =
        static_cast<std::size_t>(std::count_if(device.Instances.begin(), device.Instances.end(),
                                               [](const auto& in) { return in->Connected; }));
    if (device.Record.Present && device.Info.Access != TSimAccess::None)
        while (device.Instances.size() - device.ConnectionCount < SpareInstances &&
               device.OpensLeft != 0)
            AddInstance(device);
}

void TSimBus::NoticeConnections(TDeviceState& device) {
    // A set connect event is a completed connect, even before the overlapped record says so.
    // One wait without timeout finds them all, where a call per listening instance would cost
    // a round trip each on every report.
    std::vector<HANDLE> events;
    std::vector<TInstance*> listening;
    for (auto& instance : device.Instances)
        if (instance->Pipe && instance->Connecting) {
            events.push_back(instance->ConnectEvent.Get());
            listening.push_back(instance.get());
        }
    while (!events.empty()) {
        const DWORD signalled =
            WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, 0);
        const std::size_t index = signalled - WAIT_OBJECT_0;
        if (index >= events.size())
            break;
        listening[index]->Connecting = false;
        listening[index]->Connected = true;
        events.erase(events.begin() + static_cast<std::ptrdiff_t>(index));
        listening.erase(listening.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void TSimBus::Deliver(TDeviceState& device, const TSimReport& report) {
    if (device.Info.Access == TSimAccess::WriteOnly || device.Info.Access == TSimAccess::None ||
        device.Info.InputReportLength == 0)
        return;
    TSimReport message = Normalised(report, device.Info.InputReportLength);
    NoticeConnections(device);
    bool reached = false;
    for (auto& instance : device.Instances) {
        TInstance& in = *instance;
        if (!in.Pipe || !in.Connected || in.WritePending)
            continue;
        in.WriteBuffer = message;
        in.WriteOv = OVERLAPPED{};
        in.WriteOv.hEvent = in.WriteEvent.Get();
        if (WriteFile(in.Pipe.Get(), in.WriteBuffer.data(),
                      static_cast<DWORD>(in.WriteBuffer.size()), nullptr, &in.WriteOv)) {
            reached = true;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            in.WritePending = true;
            reached = true;
        } else {
            CloseInstance(in);
        }
    }
    if (reached)
        ++device.Delivered;
    Service(device);
}

void TSimBus::PublishFixture() {
    std::vector<TSimFixtureDevice> records;
    for (int id : order_)
        records.push_back(Device(id).Record);
    WriteSimFixture(fixturePath_, records);
}
