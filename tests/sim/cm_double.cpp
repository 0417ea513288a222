// Stand-in for the configuration manager functions, exported by both the setupapi.dll and the
// cfgmgr32.dll doubles. Only the device ID lists carry data.
#define CMAPI
#include "sim/sim_fixture.h"

#include <windows.h>
#include <cfgmgr32.h>

#include <cstring>

namespace {

// The real size query answers an upper bound, so the doubles leave some slack too.
constexpr ULONG ListSlack = 8;

std::optional<TSimFixtureDevice> DeviceOfInstance(PCSTR instanceId) {
    if (!instanceId)
        return std::nullopt;
    for (auto& device : ReadSimFixture())
        if (lstrcmpiA(device.InstanceId.c_str(), instanceId) == 0)
            return device;
    return std::nullopt;
}

std::string RelatedList(const TSimFixtureDevice& device, ULONG flags) {
    std::string list;
    if (flags & CM_GETIDLIST_FILTER_BUSRELATIONS)
        for (const auto& child : device.BusChildren)
            list += child + '\0';
    return list + '\0';
}

} // namespace

extern "C" {

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeA(PULONG length, PCSTR filter, ULONG flags) {
    auto device = DeviceOfInstance(filter);
    if (!device)
        return CR_NO_SUCH_DEVNODE;
    *length = device->LieAboutSizes
                  ? 0x10000000
                  : static_cast<ULONG>(RelatedList(*device, flags).size()) + ListSlack;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_ListA(PCSTR filter, PZZSTR buffer, ULONG length, ULONG flags) {
    auto device = DeviceOfInstance(filter);
    if (!device)
        return CR_NO_SUCH_DEVNODE;
    std::string list = RelatedList(*device, flags);
    if (length < list.size())
        return CR_BUFFER_SMALL;
    memcpy(buffer, list.data(), list.size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST, DEVINSTID_A, ULONG) {
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyA(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG) {
    return CR_NO_SUCH_VALUE;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST, DEVINST, ULONG) {
    return CR_NO_SUCH_DEVNODE;
}
CONFIGRET WINAPI CM_Get_Child(PDEVINST, DEVINST, ULONG) {
    return CR_NO_SUCH_DEVNODE;
}
CONFIGRET WINAPI CM_Get_Sibling(PDEVINST, DEVINST, ULONG) {
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Request_Device_EjectA(DEVINST, PPNP_VETO_TYPE, LPSTR, ULONG, ULONG) {
    return CR_FAILURE;
}

} // extern "C"
