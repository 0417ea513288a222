#pragma once
// The device simulator: serves simulated HID devices to the library doubles and to whatever
// opens their paths. One TSimBus may exist per process at a time; it publishes its fixture
// through the TRELVON_SIM_FIXTURE environment variable, which the doubles read.
//
// A device path is a message-mode named pipe; one message is one input report, always exactly
// the device's input report length (shorter reports are padded with zeros, longer ones cut).
// Each open of the path gets its own pipe instance and its own copy of every report sent after
// it connected, as each handle of a real HID device does. A report finding an instance whose
// previous report is still unread is dropped for that instance.
#include <windows.h>
#include <hidusage.h>
#include <hidpi.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/kv_handle.h"
#include "sim/sim_fixture.h"

enum class TSimAccess { ReadWrite, ReadOnly, WriteOnly, None };

using TSimReport = std::vector<std::uint8_t>;

// The description of one simulated device.
struct TSimDevice {
    // HID strings; nullopt: the device has none.
    std::optional<std::wstring> Product = L"Trelvon Remote";
    std::optional<std::wstring> Manufacturer = L"Trelvon Devices";
    std::optional<std::wstring> SerialNumber;
    std::uint16_t VendorID = 0x1209, ProductID = 0x0001, VersionNumber = 0x0100;
    std::uint16_t UsagePage = 0x0c, Usage = 0x01;
    std::uint16_t InputReportLength = 8, OutputReportLength = 0, FeatureReportLength = 0;
    // Indexed by HIDP_REPORT_TYPE (HidP_Input, HidP_Output, HidP_Feature).
    std::vector<HIDP_BUTTON_CAPS> ButtonCaps[3];
    std::vector<HIDP_VALUE_CAPS> ValueCaps[3];
    TSimAccess Access = TSimAccess::ReadWrite;
    // The HID queries that fail on this device.
    bool NoPreparsedData = false, NoAttributes = false, NoCaps = false;

    // What the device setup services know. DriverKey and PdoName are made up when nullopt.
    std::optional<std::string> Description = "HID-compliant consumer control device";
    std::optional<std::string> SetupManufacturer = "(Standard system devices)";
    std::optional<std::string> DriverKey, PdoName;
    std::optional<std::string> Service = "HidUsb";
    std::string InstanceId; // made up when empty
    std::vector<std::string> BusChildren;
    // The hardware key and its values; SymbolicName defaults to the device path.
    bool HasRegistryKey = true;
    std::optional<std::string> SymbolicName, PortName;
    bool FoundPerDevice = true;
    TSimDetailFault DetailFault = TSimDetailFault::None;
    bool LieAboutSizes = false;
};

class TSimBus {
public:
    TSimBus();
    ~TSimBus();
    TSimBus(const TSimBus&) = delete;
    TSimBus& operator=(const TSimBus&) = delete;

    // A device present from the start, listed after the ones before it and not announced;
    // returns its id (1, 2, ... in the order of the calls). Adding the same description twice
    // gives two devices with their own paths and instance ids, serial number or not.
    int AddDevice(const TSimDevice& device);
    // A hot-plugged device, listed at `position` among the present devices (0: first; beyond
    // the end: last) and announced as an arrival.
    int InsertDevice(const TSimDevice& device, std::size_t position);
    // The device's current path and instance id: both may change when it moves.
    std::string DevicePath(int id) const;
    std::string InstanceId(int id) const;
    // The device's index among the present devices in enumeration order; -1 when absent.
    int ListPosition(int id) const;

    // Unplugging closes every open instance of the device (a pending read fails with
    // ERROR_BROKEN_PIPE), makes new opens fail and leaves the device out of present-only
    // enumerations. Plug brings it back under the same path. Both are announced.
    void Unplug(int id);
    void Plug(int id);
    // The device is unplugged and comes back on another USB port: a new path, and a new
    // instance id unless it has a serial number (the system keeps the instance id of such a
    // device across ports); ids, strings and its place in the enumeration order stay. It comes
    // back on the announcing thread once its removal is out: WaitForAnnouncements sees it back.
    void MoveDevice(int id);
    // Sleep: the suspend broadcast first, then every present device goes away without device
    // notifications. Resume brings them back, as new device nodes with arrivals announced
    // (`newNodes`) or at their old paths without notifications, then the resume broadcast.
    // Both take effect in announcement order, on the announcing thread: the system lets the
    // windows answer the suspend broadcast before it sleeps. WaitForAnnouncements sees them done.
    void Suspend();
    void Resume(bool newNodes);

    // Announcements go out in order on a thread of their own, after the change they announce is
    // visible, so that the caller may own the windows that receive them. Waits until all queued
    // ones are delivered, serving the messages sent to the calling thread's windows meanwhile.
    bool WaitForAnnouncements(std::chrono::milliseconds timeout) const;

    // Lets only the next `opens` opens of the device succeed (-1: any number); later ones fail
    // while the device stays listed, as a device that refuses to be opened does.
    void LimitOpens(int id, int opens);

    // Input reports, to every instance connected when the report is due.
    void SendInput(int id, const TSimReport& report,
                   std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // `count` reports, `perSecond` of them per second, cycling through `reports`.
    void StreamInput(int id, const std::vector<TSimReport>& reports, unsigned perSecond,
                     unsigned count);
    // Reports that reached at least one instance.
    std::size_t InputReportsDelivered(int id) const;

    // Output reports written by clients, in arrival order, one per write.
    std::vector<TSimReport> OutputReports(int id) const;
    bool WaitForOutputReports(int id, std::size_t count, std::chrono::milliseconds timeout) const;

    // Instances a client holds open. A client of a read-only device that closed its handle is
    // noticed only at the next report.
    std::size_t Connections(int id) const;
    bool WaitForConnections(int id, std::size_t count, std::chrono::milliseconds timeout) const;

    // Capability records for fixtures.
    static HIDP_BUTTON_CAPS ButtonRange(USHORT usagePage, USHORT usageMin, USHORT usageMax,
                                        UCHAR reportId = 0);
    static HIDP_VALUE_CAPS Value(USHORT usagePage, USHORT usage, USHORT bitSize,
                                 UCHAR reportId = 0);

private:
    struct TInstance;
    struct TDeviceState;
    struct TScheduled;

    void Run();
    void Execute(std::function<void()> command) const;
    void OpenDevice(TDeviceState& device);
    void CloseDevice(TDeviceState& device);
    void AddInstance(TDeviceState& device);
    void CloseInstance(TInstance& instance);
    void Service(TDeviceState& device);
    // Marks the instances a client has just connected to before a report goes out, so that
    // a client that opened the device a moment ago gets it.
    void NoticeConnections(TDeviceState& device);
    void Deliver(TDeviceState& device, const TSimReport& report);
    void PublishFixture();
    TDeviceState& Device(int id) const;
    int NewDevice(const TSimDevice& info, std::size_t position);
    // Gives the device a path and instance id for its current port and writes its hardware key.
    void PlaceOnPort(TDeviceState& device);
    // Closes the device and drops its scheduled reports; tells whether it was present.
    bool TakeAway(TDeviceState& device);
    // Queues a step for the announcer thread; AnnounceDevice queues the interface notice
    // (DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE) and DBT_DEVNODES_CHANGED.
    void Announce(std::function<void()> step);
    void AnnounceDevice(WPARAM event, const std::string& path);
    void RunAnnouncer();

    std::string fixturePath_;
    unsigned serial_ = 0;
    std::vector<std::unique_ptr<TDeviceState>> devices_; // by id
    std::vector<int> order_;                             // ids in enumeration order
    std::vector<int> asleep_;                            // the devices a suspend took away
    std::vector<TScheduled> schedule_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::vector<std::function<void()>> commands_;
    mutable unsigned commandsDone_ = 0;
    HANDLE wake_ = nullptr;
    bool stop_ = false;
    std::thread worker_;

    mutable std::mutex announceMutex_;
    std::condition_variable announceWake_;
    std::deque<std::function<void()>> announcements_;
    TkvHandle announced_; // set while no announcement is queued or being delivered
    bool stopAnnouncer_ = false;
    std::thread announcer_;
};
