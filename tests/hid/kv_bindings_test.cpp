#include "hid/kv_hid_w32.h"

#include "sim/sim_bus.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace {

using namespace std::chrono_literals;

// Which file stands in for which library; an empty file name is an absent library.
std::map<std::string, std::string> libraryFiles;

std::string VariantPath(const std::string& file) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe);
    path.resize(path.find_last_of('\\'));
    return path + "\\..\\sim\\variants\\" + file;
}

HMODULE VariantLoader(const char* name) {
    auto it = libraryFiles.find(name);
    if (it == libraryFiles.end())
        return LoadSystemLibrary(name);
    return it->second.empty() ? nullptr : LoadLibraryA(VariantPath(it->second).c_str());
}

class Bindings : public testing::Test {
protected:
    void Use(std::map<std::string, std::string> files) {
        libraryFiles = std::move(files);
        SetLibraryLoader(&VariantLoader);
    }
    bool Loaded(const char* file) { return GetModuleHandleA(file) != nullptr; }
    TBindingReset reset_;
};

template <typename T> bool From(HMODULE module, const char* name, T pointer) {
    return pointer != nullptr && reinterpret_cast<void*>(pointer) ==
                                     reinterpret_cast<void*>(GetProcAddress(module, name));
}

TEST_F(Bindings, SetupApiResolvesEverythingFromOneModule) {
    ASSERT_TRUE(SetupApiLoaded());
    const TkvSetupApi& api = SetupApi();
    EXPECT_EQ(api.CmModule, api.SetupApiModule);
    EXPECT_EQ(api.CfgMgrModule, nullptr);
    EXPECT_TRUE(From(api.SetupApiModule, "CM_Get_Device_ID_ListA", api.CM_Get_Device_ID_ListA));
    EXPECT_NE(api.SetupDiRemoveDevice, nullptr);
    EXPECT_TRUE(SetupApiLoaded()); // loaded once, stays loaded
}

TEST_F(Bindings, WithoutLocateInSetupApiEveryCmEntryComesFromCfgMgr32) {
    Use({{"SetupAPI.dll", "setupapi_nocm.dll"}});
    ASSERT_TRUE(SetupApiLoaded());
    const TkvSetupApi& api = SetupApi();
    ASSERT_NE(api.CfgMgrModule, nullptr);
    EXPECT_EQ(api.CmModule, api.CfgMgrModule);
    HMODULE cm = api.CfgMgrModule;
    // The variant still exports the other CM functions; they must not be taken from it.
    EXPECT_TRUE(From(cm, "CM_Locate_DevNodeA", api.CM_Locate_DevNodeA));
    EXPECT_TRUE(
        From(cm, "CM_Get_DevNode_Registry_PropertyA", api.CM_Get_DevNode_Registry_PropertyA));
    EXPECT_TRUE(From(cm, "CM_Get_Parent", api.CM_Get_Parent));
    EXPECT_TRUE(From(cm, "CM_Get_Device_ID_List_SizeA", api.CM_Get_Device_ID_List_SizeA));
    EXPECT_TRUE(From(cm, "CM_Get_Device_ID_ListA", api.CM_Get_Device_ID_ListA));
    EXPECT_TRUE(From(cm, "CM_Get_Child", api.CM_Get_Child));
    EXPECT_TRUE(From(cm, "CM_Get_Sibling", api.CM_Get_Sibling));
    EXPECT_TRUE(From(cm, "CM_Request_Device_EjectA", api.CM_Request_Device_EjectA));
    EXPECT_TRUE(From(api.SetupApiModule, "SetupDiGetClassDevsA", api.SetupDiGetClassDevsA));
}

TEST_F(Bindings, AMissingRequiredEntryUnloadsBothLibrariesAndTheNextCallRetries) {
    Use({{"SetupAPI.dll", "setupapi_nocm.dll"}, {"cfgmgr32.dll", "cfgmgr32_partial.dll"}});
    EXPECT_FALSE(SetupApiLoaded());
    EXPECT_EQ(SetupApi().SetupApiModule, nullptr);
    EXPECT_EQ(SetupApi().SetupDiGetClassDevsA, nullptr);
    EXPECT_FALSE(Loaded("setupapi_nocm.dll"));
    EXPECT_FALSE(Loaded("cfgmgr32_partial.dll"));

    Use({{"SetupAPI.dll", "setupapi_noreq.dll"}});
    EXPECT_FALSE(SetupApiLoaded());
    EXPECT_FALSE(Loaded("setupapi_noreq.dll"));

    Use({{"SetupAPI.dll", "setupapi_nocm.dll"}, {"cfgmgr32.dll", ""}});
    EXPECT_FALSE(SetupApiLoaded());

    Use({});
    EXPECT_TRUE(SetupApiLoaded());
}

TEST_F(Bindings, OptionalEntriesMayBeMissing) {
    Use({{"SetupAPI.dll", "setupapi_noopt.dll"}});
    ASSERT_TRUE(SetupApiLoaded());
    EXPECT_EQ(SetupApi().SetupDiRemoveDevice, nullptr);
    EXPECT_EQ(SetupApi().SetupDiUnremoveDevice, nullptr);
    EXPECT_EQ(SetupApi().SetupDiOpenDeviceInfoA, nullptr);
    EXPECT_EQ(SetupApi().CM_Request_Device_EjectA, nullptr);
}

TEST_F(Bindings, WithoutSetupApiNothingIsEnumerated) {
    TSimBus bus;
    bus.AddDevice(TSimDevice{});
    Use({{"SetupAPI.dll", ""}});
    std::vector<std::unique_ptr<TkvDevice>> list;
    EXPECT_FALSE(SetupApiLoaded());
    EXPECT_NO_THROW(EnumerateDevices(nullptr, true, true, true, list));
    EXPECT_TRUE(list.empty());
}

TEST_F(Bindings, WithoutHidDllEveryWrapperGivesItsNeutralAnswer) {
    TSimBus bus;
    int id = bus.AddDevice(TSimDevice{});
    TkvHandle device = OpenDevice(bus.DevicePath(id), 0, false);
    Use({{"HID.DLL", ""}});
    EXPECT_FALSE(HidLoaded());
    GUID guid{};
    HidGetHidGuid(guid);
    EXPECT_EQ(guid.Data1, 0u);
    EXPECT_EQ(HidGetProductString(device.Get()), "");
    EXPECT_EQ(HidGetManufacturerString(device.Get()), "");
    EXPECT_EQ(HidGetSerialNumberString(device.Get()), "");
    EXPECT_EQ(HidGetPreparsedData(device.Get()), nullptr);
    TkvHiddAttributes attributes;
    EXPECT_FALSE(HidGetAttributes(device.Get(), attributes));
    HIDP_CAPS caps{};
    EXPECT_EQ(HidGetCaps(nullptr, caps), HIDP_STATUS_NULL);
    EXPECT_FALSE(HidFreePreparsedData(nullptr));
    USHORT length = 0;
    EXPECT_EQ(HidGetButtonCaps(HidP_Input, nullptr, length, nullptr), HIDP_STATUS_NULL);
    EXPECT_EQ(HidGetValueCaps(HidP_Input, nullptr, length, nullptr), HIDP_STATUS_NULL);

    Use({});
    EXPECT_TRUE(HidLoaded()); // a failed load is tried again
    EXPECT_EQ(HidGetProductString(device.Get()), "Trelvon Remote");
}

TEST_F(Bindings, AMissingHidFunctionAffectsOnlyItsWrapper) {
    TSimBus bus;
    TSimDevice info;
    info.ValueCaps[HidP_Input] = {TSimBus::Value(1, 0x30, 8)};
    info.ButtonCaps[HidP_Input] = {TSimBus::ButtonRange(9, 1, 3)};
    int id = bus.AddDevice(info);
    TkvHandle device = OpenDevice(bus.DevicePath(id), 0, false);
    Use({{"HID.DLL", "hid_partial.dll"}});
    EXPECT_EQ(HidGetProductString(device.Get()), "");
    EXPECT_EQ(HidGetManufacturerString(device.Get()), "Trelvon Devices");
    PHIDP_PREPARSED_DATA data = HidGetPreparsedData(device.Get());
    ASSERT_NE(data, nullptr);
    HIDP_BUTTON_CAPS buttons[1]{};
    HIDP_VALUE_CAPS values[1]{};
    USHORT length = 1;
    EXPECT_EQ(HidGetButtonCaps(HidP_Input, buttons, length, data), HIDP_STATUS_NULL);
    EXPECT_EQ(HidGetValueCaps(HidP_Input, values, length, data), HIDP_STATUS_SUCCESS);
    EXPECT_TRUE(HidFreePreparsedData(data));
}

class HidQueries : public testing::Test {
protected:
    TkvHandle Open(const TSimDevice& info) {
        int id = bus_.AddDevice(info);
        return OpenDevice(bus_.DevicePath(id), 0, false);
    }
    long PreparsedAlive() {
        auto count = reinterpret_cast<LONG(WINAPI*)()>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("hid.dll"), "TrelvonSimPreparsedCount")));
        return count ? count() : -1;
    }
    TBindingReset reset_;
    TSimBus bus_;
};

TEST_F(HidQueries, StringsShorterThanThreeCharactersCountAsAbsent) {
    TSimDevice info;
    info.Product = L"AB";
    info.Manufacturer = L"ABC";
    info.SerialNumber.reset();
    TkvHandle device = Open(info);
    EXPECT_EQ(HidGetProductString(device.Get()), "");
    EXPECT_EQ(HidGetManufacturerString(device.Get()), "ABC");
    EXPECT_EQ(HidGetSerialNumberString(device.Get()), "");
}

TEST_F(HidQueries, AStringFillingTheWholeBufferIsCutAtItsEnd) {
    TSimDevice info;
    info.Product = std::wstring(1500, L'x'); // 3000 bytes: no room for a terminator
    info.SerialNumber = L"S-0001";
    TkvHandle device = Open(info);
    EXPECT_EQ(HidGetProductString(device.Get()), std::string(1024, 'x'));
    EXPECT_EQ(HidGetSerialNumberString(device.Get()), "S-0001");
}

TEST_F(HidQueries, AttributesFillTheTenByteRecordOnly) {
    TSimDevice info;
    info.VendorID = 0x046d;
    info.ProductID = 0xc52b;
    info.VersionNumber = 0x1201;
    TkvHandle device = Open(info);
    struct {
        TkvHiddAttributes Attributes;
        std::uint8_t Guard[2] = {0xEE, 0xEE};
    } record;
    ASSERT_TRUE(HidGetAttributes(device.Get(), record.Attributes));
    EXPECT_EQ(record.Attributes.Size, 10u);
    EXPECT_EQ(record.Attributes.VendorID, 0x046d);
    EXPECT_EQ(record.Attributes.ProductID, 0xc52b);
    EXPECT_EQ(record.Attributes.VersionNumber, 0x1201);
    EXPECT_EQ(record.Guard[0], 0xEE);
    EXPECT_EQ(record.Guard[1], 0xEE);
}

TEST_F(HidQueries, CapabilitiesAndTheirRecords) {
    TSimDevice info;
    info.UsagePage = 0x0c;
    info.InputReportLength = 5;
    info.FeatureReportLength = 3;
    info.ButtonCaps[HidP_Input] = {TSimBus::ButtonRange(0x0c, 0xb5, 0xb7, 1),
                                   TSimBus::ButtonRange(9, 1, 2, 1)};
    info.ValueCaps[HidP_Feature] = {TSimBus::Value(0xff00, 1, 16, 2)};
    TkvHandle device = Open(info);
    PHIDP_PREPARSED_DATA data = HidGetPreparsedData(device.Get());
    ASSERT_NE(data, nullptr);
    HIDP_CAPS caps{};
    ASSERT_EQ(HidGetCaps(data, caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0x0c);
    EXPECT_EQ(caps.InputReportByteLength, 5);
    EXPECT_EQ(caps.OutputReportByteLength, 0);
    EXPECT_EQ(caps.FeatureReportByteLength, 3);
    EXPECT_EQ(caps.NumberInputButtonCaps, 2);
    EXPECT_EQ(caps.NumberInputDataIndices, 5);
    EXPECT_EQ(caps.NumberFeatureValueCaps, 1);

    HIDP_BUTTON_CAPS buttons[2]{};
    USHORT length = 2;
    EXPECT_EQ(HidGetButtonCaps(HidP_Input, buttons, length, data), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(buttons[0].Range.UsageMax, 0xb7);
    EXPECT_EQ(buttons[1].UsagePage, 9);
    HIDP_VALUE_CAPS values[1]{};
    length = 1;
    EXPECT_EQ(HidGetValueCaps(HidP_Feature, values, length, data), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(values[0].BitSize, 16);
    EXPECT_EQ(values[0].ReportID, 2);

    EXPECT_EQ(PreparsedAlive(), 1);
    EXPECT_TRUE(HidFreePreparsedData(data));
    EXPECT_EQ(PreparsedAlive(), 0);
}

TEST_F(HidQueries, DevicesThatFailTheQuery) {
    TSimDevice info;
    info.NoPreparsedData = true;
    TkvHandle noData = Open(info);
    EXPECT_EQ(HidGetPreparsedData(noData.Get()), nullptr);

    info = TSimDevice{};
    info.NoAttributes = true;
    TkvHandle noAttributes = Open(info);
    TkvHiddAttributes attributes;
    EXPECT_FALSE(HidGetAttributes(noAttributes.Get(), attributes));

    info = TSimDevice{};
    info.NoCaps = true;
    TkvHandle noCaps = Open(info);
    PHIDP_PREPARSED_DATA data = HidGetPreparsedData(noCaps.Get());
    HIDP_CAPS caps{};
    EXPECT_NE(HidGetCaps(data, caps), HIDP_STATUS_SUCCESS);
    HidFreePreparsedData(data);

    GUID guid{};
    HidGetHidGuid(guid);
    EXPECT_EQ(guid.Data1, 0x4d1e55b2u);
}

} // namespace
