// The HID port's device list and its device records, on the simulated bus.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/kv_error.h"
#include "port_test_support.h"

namespace {

using TkvHidDeviceListTest = PortTest;

std::string Lines(const TkvRecordingLog& log) {
    std::string text;
    for (const std::string& line : log.Texts())
        text += line + "|\n";
    return text;
}

TEST_F(TkvHidDeviceListTest, ListsDevicesUnderTheirHidNamesOrTheirDescriptions) {
    TSimDevice named;
    named.Product = L"Media Remote";
    named.Manufacturer = L"Quorivex";
    named.SerialNumber = L"SN-0042";
    named.VendorID = 0x1234;
    named.ProductID = 0x5678;
    named.VersionNumber = 0x0210;
    TSimDevice unnamed;
    unnamed.Product.reset();
    unnamed.Manufacturer.reset(); // the setup services' manufacturer must not show through
    unnamed.Description = "USB Input Device";
    TSimDevice shortName;
    shortName.Product = L"AB";
    shortName.Description = "HID Keyboard Device";
    bus_.AddDevice(named);
    bus_.AddDevice(unnamed);
    bus_.AddDevice(shortName);

    TkvDeviceItems items;
    Port().GetDeviceList(&items);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Text, "Media Remote");
    EXPECT_EQ(items[1].Text, "USB Input Device");
    EXPECT_EQ(items[2].Text, "HID Keyboard Device");

    const TkvHidDevice* first = Port().GetHidDevice(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Manufacturer, "Quorivex");
    EXPECT_EQ(first->SerialNumber, "SN-0042");
    EXPECT_EQ(first->VendorID(), 0x1234);
    EXPECT_EQ(first->ProductID(), 0x5678);
    EXPECT_EQ(first->VersionNumber(), 0x0210);
    EXPECT_EQ(first->Attributes.Size, 10u);
    EXPECT_EQ(first->Description, "HID-compliant consumer control device");
    EXPECT_EQ(first->Index, 0);
    EXPECT_EQ(first->Owner, &Port());
    EXPECT_EQ(Port().GetHidDevice(1)->Manufacturer, "");
    EXPECT_EQ(Port().GetHidDevice(2)->Index, 2);
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(Port().GetHidDevice(i)->fPpd, nullptr);
    EXPECT_EQ(PreparsedDataHeld(), 0);
}

TEST_F(TkvHidDeviceListTest, FallsBackToTheInterfacesWhenNoDeviceIsFoundPerDevice) {
    TSimDevice info;
    info.FoundPerDevice = false;
    const int id = bus_.AddDevice(info);
    Port().DeviceListChanged();
    ASSERT_EQ(Port().DeviceCount(), 1);
    const TkvHidDevice& device = *Port().GetHidDevice(0);
    EXPECT_EQ(device.DevicePath, bus_.DevicePath(id));
    EXPECT_EQ(device.InstanceId, "");
    EXPECT_EQ(device.RegistryPath, "");
    EXPECT_EQ(device.DevInst, 0u);
    EXPECT_EQ(device.FriendlyName, "Trelvon Remote");
    EXPECT_TRUE(
        LogHas("kvHID: DiEnumInstalledDevices() returns 0, trying enum interfaces only ..."));
}

TEST_F(TkvHidDeviceListTest, LeavesOutDevicesThatFailTheQueryAndLogsEveryStep) {
    TSimDevice good;
    TSimDevice noPreparsed;
    noPreparsed.Product = L"No Preparsed";
    noPreparsed.NoPreparsedData = true;
    TSimDevice noAttributes;
    noAttributes.Product = L"No Attributes";
    noAttributes.NoAttributes = true;
    TSimDevice noCaps;
    noCaps.Product = L"No Caps";
    noCaps.NoCaps = true;
    TSimDevice unopenable; // the interface cannot be read; its symbolic name leads nowhere
    unopenable.DetailFault = TSimDetailFault::OtherError;
    unopenable.SymbolicName = "\\\\.\\pipe\\trelvon-nowhere";
    TSimDevice last;
    last.Product = L"Last Remote";
    const int goodId = bus_.AddDevice(good);
    const int noPreparsedId = bus_.AddDevice(noPreparsed);
    const int noAttributesId = bus_.AddDevice(noAttributes);
    const int noCapsId = bus_.AddDevice(noCaps);
    bus_.AddDevice(unopenable);
    const int lastId = bus_.AddDevice(last);

    Port().DeviceListChanged();
    ASSERT_EQ(Port().DeviceCount(), 2);
    EXPECT_EQ(Port().GetHidDevice(1)->FriendlyName, "Last Remote");
    EXPECT_EQ(Port().GetHidDevice(1)->DevicePath, bus_.DevicePath(lastId));
    EXPECT_EQ(PreparsedDataHeld(), 0);

    const auto path = [&](int id) { return bus_.DevicePath(id); };
    const std::vector<std::string> expected{
        "kvHID: DeviceListLoad ...",
        "kvHID: Get detail info for device (intf) list: 6 ",
        "kvHID: Open device OK " + path(goodId) + " ",
        "kvHID: Load device info: Trelvon Remote  OK!",
        "kvHID: Open device OK " + path(noPreparsedId) + " ",
        "kvHID: ERROR: dev.fPpd = 0 ",
        "kvHID: Load device info: No Preparsed  FAILED!",
        "kvHID: Open device OK " + path(noAttributesId) + " ",
        "kvHID: ERROR: not HidD_GetAttributes",
        "kvHID: Load device info: No Attributes  FAILED!",
        "kvHID: Open device OK " + path(noCapsId) + " ",
        "kvHID: ERROR: HidP_GetCaps() <> HIDP_STATUS_SUCCESS",
        "kvHID: Load device info: No Caps  FAILED!",
        "kvHID: Open device FAILED \\\\.\\pipe\\trelvon-nowhere ",
        "kvHID: Load device info:   FAILED!",
        "kvHID: Open device OK " + path(lastId) + " ",
        "kvHID: Load device info: Last Remote  OK!",
        "kvHID: Detected devices: 2 ",
    };
    EXPECT_EQ(log_.Texts(), expected) << Lines(log_);
    const auto lines = log_.Lines();
    EXPECT_EQ(lines.front().Level, 1);
    EXPECT_EQ(lines[1].Level, 2);
    EXPECT_EQ(lines.back().Level, 1);
}

TEST_F(TkvHidDeviceListTest, LoadsEmptyWithoutDevices) {
    Port().DeviceListChanged();
    EXPECT_EQ(Port().DeviceCount(), 0);
    EXPECT_EQ(Port().CurrentDevice(), nullptr);
    EXPECT_TRUE(LogHas("kvHID: Detected devices: 0 "));
}

TEST_F(TkvHidDeviceListTest, KeepsTheCapabilityTablesOfEachReportType) {
    TSimDevice info;
    info.UsagePage = 0x0c;
    info.Usage = 0x01;
    info.InputReportLength = 5;
    info.FeatureReportLength = 3;
    info.ButtonCaps[HidP_Input] = {TSimBus::ButtonRange(0x0c, 0x20, 0x2f, 1),
                                   TSimBus::ButtonRange(0x09, 1, 8, 2)};
    info.ValueCaps[HidP_Input] = {TSimBus::Value(0x01, 0x30, 8, 1)};
    info.ValueCaps[HidP_Feature] = {TSimBus::Value(0xff00, 0x01, 16, 3),
                                    TSimBus::Value(0xff00, 0x02, 16, 3)};
    bus_.AddDevice(info);
    Port().DeviceListChanged();
    ASSERT_EQ(Port().DeviceCount(), 1);
    const TkvHidDevice& device = *Port().GetHidDevice(0);

    EXPECT_EQ(device.UsagePage(), 0x0c);
    EXPECT_EQ(device.Usage(), 0x01);
    EXPECT_EQ(device.ReportLength(0), 0);
    EXPECT_EQ(device.ReportLength(1), 5);
    EXPECT_EQ(device.ReportLength(2), 3);
    EXPECT_EQ(device.ReportLength(7), 3);
    EXPECT_EQ(device.CapsCount(hckInputButton), 2);
    EXPECT_EQ(device.CapsCount(hckInputValue), 1);
    EXPECT_EQ(device.CapsCount(hckOutputButton), 0);
    EXPECT_EQ(device.CapsCount(hckFeatureValue), 2);
    EXPECT_EQ(device.CapsCount(9), 0);

    const HIDP_BUTTON_CAPS second = device.ButtonCaps(1, hckInputButton);
    EXPECT_EQ(std::memcmp(&second, &info.ButtonCaps[HidP_Input][1], sizeof second), 0);
    const HIDP_VALUE_CAPS feature = device.ValueCaps(1, hckFeatureValue);
    EXPECT_EQ(std::memcmp(&feature, &info.ValueCaps[HidP_Feature][1], sizeof feature), 0);
    EXPECT_EQ(device.ValueCaps(0, hckInputValue).NotRange.Usage, 0x30);
    EXPECT_TRUE(device.OutputButtonCaps.empty());
    EXPECT_TRUE(device.OutputValueCaps.empty());
    EXPECT_TRUE(device.FeatureButtonCaps.empty());

    const auto outOfRange = [](const auto& call) {
        try {
            call();
        } catch (const EkvError& error) {
            return std::string(error.what()) == "Index is out of range";
        }
        return false;
    };
    EXPECT_TRUE(outOfRange([&] { device.ButtonCaps(0, hckOutputButton); }));
    EXPECT_TRUE(outOfRange([&] { device.ButtonCaps(2, hckInputButton); }));
    EXPECT_TRUE(outOfRange([&] { device.ButtonCaps(-1, hckInputButton); }));
    EXPECT_TRUE(outOfRange([&] { device.ValueCaps(1, hckInputValue); }));
    EXPECT_TRUE(outOfRange([&] { device.ValueCaps(0, hckOutputValue); }));
    // A button kind given to ValueCaps is checked against two button records but reads the
    // one-record value table: still refused rather than read past the table.
    EXPECT_TRUE(outOfRange([&] { device.ValueCaps(1, hckInputButton); }));
}

TEST(UsagePageNames, NameTheKnownPagesAndNothingElse) {
    EXPECT_EQ(UsagePageName(0), "Undefined");
    EXPECT_EQ(UsagePageName(6), "Unknown");
    EXPECT_EQ(UsagePageName(12), "Consumer");
    EXPECT_EQ(UsagePageName(16), "Unicode");
    EXPECT_EQ(UsagePageName(20), "Alphanumeric");
    EXPECT_EQ(UsagePageName(21), "Unknown");
    EXPECT_EQ(UsagePageName(65280), "Unknown");
}

// --- DeviceIndex and CurrentDevice ---

TEST_F(TkvHidDeviceListTest, AFreshPortHasIndexZeroAndNoDeviceUntilTheFirstLoad) {
    bus_.AddDevice(TSimDevice{});
    bus_.AddDevice(TSimDevice{});
    EXPECT_EQ(Port().DeviceIndex(), 0);
    EXPECT_EQ(Port().CurrentDevice(), nullptr);
    Port().DeviceListChanged();
    EXPECT_EQ(Port().CurrentDevice(), Port().GetHidDevice(0));
    Port().SetDeviceIndex(1);
    EXPECT_EQ(Port().CurrentDevice(), Port().GetHidDevice(1));
    Port().SetDeviceIndex(-1);
    EXPECT_EQ(Port().CurrentDevice(), nullptr);
    EXPECT_EQ(Port().DeviceIndex(), -1);
}

TEST_F(TkvHidDeviceListTest, AReloadReselectsTheKeptIndexOrLeavesNoDevice) {
    bus_.AddDevice(TSimDevice{});
    const int second = bus_.AddDevice(TSimDevice{});
    Port().DeviceListChanged();
    Port().SetDeviceIndex(1);
    Port().DeviceListChanged();
    ASSERT_NE(Port().CurrentDevice(), nullptr);
    EXPECT_EQ(Port().CurrentDevice(), Port().GetHidDevice(1)); // the new record, not the freed one
    EXPECT_EQ(Port().CurrentDevice()->DevicePath, bus_.DevicePath(second));

    Port().SetDeviceIndex(3);
    Port().DeviceListChanged();
    EXPECT_EQ(Port().DeviceIndex(), 3);
    EXPECT_EQ(Port().CurrentDevice(), nullptr);
    try {
        Port().SetActive(true);
        FAIL() << "opened without a device";
    } catch (const EkvError& error) {
        EXPECT_STREQ(error.what(), "Active device is not selected");
    }
    EXPECT_FALSE(Port().Active());
    EXPECT_TRUE(LogHas("Fatal Error: 16, 2, Active device is not selected"));

    // A device gone from the list takes the selection with it.
    Port().SetDeviceIndex(1);
    bus_.Unplug(second);
    Port().DeviceListChanged();
    EXPECT_EQ(Port().DeviceCount(), 1);
    EXPECT_EQ(Port().DeviceIndex(), 1);
    EXPECT_EQ(Port().CurrentDevice(), nullptr);
}

struct TNotices {
    TkvHid* Port = nullptr;
    int Changes = 0;
    int NestedReloads = 0;
    void Notify(TkvBaseIO*, std::int32_t code) {
        if (code != nfDeviceChanged)
            return;
        ++Changes;
        if (Port->ListLoading()) { // a listener reloading from inside the load
            ++NestedReloads;
            Port->DeviceListChanged();
        }
    }
};

TEST_F(TkvHidDeviceListTest, AReloadFromInsideTheLoadReturnsAtOnceWithoutNotice) {
    bus_.AddDevice(TSimDevice{});
    TNotices notices{&Port()};
    Port().AddNotify(MakeNotifyEvent<&TNotices::Notify>(&notices));
    Port().DeviceListChanged();
    // One notice from re-selecting index 0 inside the load, one for the finished change; the
    // nested reload adds neither a notice nor a load.
    EXPECT_EQ(notices.NestedReloads, 1);
    EXPECT_EQ(notices.Changes, 2);
    EXPECT_FALSE(Port().ListLoading());
    std::size_t loads = 0;
    for (const std::string& line : log_.Texts())
        loads += line == "kvHID: DeviceListLoad ..." ? 1 : 0;
    EXPECT_EQ(loads, 1u);
    Port().RemoveNotify(MakeNotifyEvent<&TNotices::Notify>(&notices));
}

} // namespace
