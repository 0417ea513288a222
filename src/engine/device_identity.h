#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the plug-in remembers of a device so that it finds the device again when its position in
// the system's list changes: another USB port, another device plugged in before it, a reboot
// that enumerates in another order, or a new device node after sleep.
struct THidDeviceIdentity {
    std::string Path; // the device interface path
    std::uint16_t VendorID = 0, ProductID = 0, VersionNumber = 0;
    std::uint16_t UsagePage = 0, Usage = 0; // of the top-level collection
    std::string SerialNumber;               // empty when the device has none
    std::string InstanceId;
    std::string Name; // what lists show for the device while it is away
    // Its place among the devices of the same ids and usage, in path order, when it was saved.
    int Ordinal = 0;

    bool operator==(const THidDeviceIdentity&) const = default;
    // Same vendor, product, usage page and usage: copies of one model look alike.
    bool SameModel(const THidDeviceIdentity& other) const;
};

// The kvhid.ini form: ids and usage in hexadecimal, the ordinal in decimal, the serial number and
// the name in hexadecimal bytes (they may hold any character), then the instance id and the path,
// all separated by commas. Instance ids hold no commas; the path, last, may.
std::string IdentityText(const THidDeviceIdentity& identity);
// None for a text that is not in that form, whatever it holds.
std::optional<THidDeviceIdentity> ParseIdentity(std::string_view text);

// Fills each device's Ordinal from the list it is in.
void NumberIdenticalDevices(std::vector<THidDeviceIdentity>& devices);

// Where each remembered device is in `present` now, or -1 when it is not there. Tried in this
// order, each step only among devices no earlier step gave away: the exact path; the serial
// number with vendor and product; the only device of the same model; the same ordinal among
// devices of the same model.
std::vector<int> LocateDevices(const std::vector<THidDeviceIdentity>& remembered,
                               const std::vector<THidDeviceIdentity>& present);

// A binding to a device as the engine keeps it: the position in the list, the identity it
// remembers, and whether that device is away.
struct THidDevicePlace {
    std::int32_t& Index;
    THidDeviceIdentity& Identity;
    bool& Away;
};

// Puts every place on its device in `present`, the devices listed now in list order. A device
// found again gives its position and its identity as it is now, so a new path is saved next
// time; one not found leaves its place away, keeping the position for kvhid.ini, and never
// re-pointed at whatever device now holds that position. A place that remembers no device (from
// a file of an older version) keeps its stored position and stays without an identity: it is
// served by whatever device holds that position, as older versions served it, until a burst
// that completes one of its actions tells which device it is (THidProcessor::CompleteBurst).
void PlaceDevices(const std::vector<THidDevicePlace>& places,
                  const std::vector<THidDeviceIdentity>& present);
