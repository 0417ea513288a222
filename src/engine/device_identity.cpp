#include "engine/device_identity.h"

#include <algorithm>
#include <functional>

#include "engine/settings_text.h"
#include "framework/kv_hex.h"

namespace {

// Ids, usage and ordinal (6), serial, name, instance id, then the path, which keeps any comma it
// may hold.
constexpr std::size_t kFieldsBeforePath = 9;

std::string Hex4(std::uint16_t value) {
    return kvHex(value, 4);
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
    const auto value = ParseHex32(text);
    if (!value || *value > 0xFFFF || text.size() != 4)
        return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

// Texts that may hold any character travel as the settings file's hexadecimal bytes.
std::string HexText(std::string_view text) {
    return HexBytesText(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::optional<std::string> ParseHexText(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(hex, bytes))
        return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

bool THidDeviceIdentity::SameModel(const THidDeviceIdentity& other) const {
    return VendorID == other.VendorID && ProductID == other.ProductID &&
           UsagePage == other.UsagePage && Usage == other.Usage;
}

std::string IdentityText(const THidDeviceIdentity& identity) {
    return Hex4(identity.VendorID) + ',' + Hex4(identity.ProductID) + ',' +
           Hex4(identity.VersionNumber) + ',' + Hex4(identity.UsagePage) + ',' +
           Hex4(identity.Usage) + ',' + std::to_string(identity.Ordinal) + ',' +
           HexText(identity.SerialNumber) + ',' + HexText(identity.Name) + ',' +
           identity.InstanceId + ',' + identity.Path;
}

std::optional<THidDeviceIdentity> ParseIdentity(std::string_view text) {
    std::vector<std::string_view> fields;
    while (fields.size() < kFieldsBeforePath) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        fields.push_back(text.substr(0, comma));
        text.remove_prefix(comma + 1);
    }
    THidDeviceIdentity identity;
    std::uint16_t* const words[] = {&identity.VendorID, &identity.ProductID,
                                    &identity.VersionNumber, &identity.UsagePage, &identity.Usage};
    for (std::size_t i = 0; i < std::size(words); ++i) {
        const auto value = ParseHex16(fields[i]);
        if (!value)
            return std::nullopt;
        *words[i] = *value;
    }
    const auto ordinal = ParseDecimal32(fields[5]);
    auto serial = ParseHexText(fields[6]);
    auto name = ParseHexText(fields[7]);
    if (!ordinal || *ordinal < 0 || !serial || !name || text.empty())
        return std::nullopt;
    identity.Ordinal = *ordinal;
    identity.SerialNumber = std::move(*serial);
    identity.Name = std::move(*name);
    identity.InstanceId = fields[8];
    identity.Path = text;
    return identity;
}

void NumberIdenticalDevices(std::vector<THidDeviceIdentity>& devices) {
    for (THidDeviceIdentity& device : devices)
        device.Ordinal = static_cast<int>(
            std::count_if(devices.begin(), devices.end(), [&](const THidDeviceIdentity& other) {
                return other.SameModel(device) && other.Path < device.Path;
            }));
}

std::vector<int> LocateDevices(const std::vector<THidDeviceIdentity>& remembered,
                               const std::vector<THidDeviceIdentity>& present) {
    std::vector<THidDeviceIdentity> numbered = present;
    NumberIdenticalDevices(numbered);
    std::vector<int> found(remembered.size(), -1);
    std::vector<bool> taken(present.size(), false);

    // One step: every remembered device still unplaced takes the only untaken device that
    // `fits` it; several remembered copies of one identity share their device.
    using TFit =
        std::function<bool(const THidDeviceIdentity& wanted, const THidDeviceIdentity& device)>;
    const auto step = [&](const TFit& fits) {
        for (std::size_t r = 0; r < remembered.size(); ++r) {
            if (found[r] >= 0)
                continue;
            int match = -1;
            for (std::size_t d = 0; d < numbered.size(); ++d) {
                if (taken[d] || !fits(remembered[r], numbered[d]))
                    continue;
                if (match >= 0) { // not the only one: this step cannot tell
                    match = -1;
                    break;
                }
                match = static_cast<int>(d);
            }
            if (match < 0)
                continue;
            for (std::size_t same = r; same < remembered.size(); ++same)
                if (found[same] < 0 && remembered[same] == remembered[r])
                    found[same] = match;
            taken[static_cast<std::size_t>(match)] = true;
        }
    };
    step([](const auto& wanted, const auto& device) { return device.Path == wanted.Path; });
    step([](const auto& wanted, const auto& device) {
        return !wanted.SerialNumber.empty() && device.SerialNumber == wanted.SerialNumber &&
               device.VendorID == wanted.VendorID && device.ProductID == wanted.ProductID;
    });
    step([](const auto& wanted, const auto& device) { return device.SameModel(wanted); });
    step([](const auto& wanted, const auto& device) {
        return device.SameModel(wanted) && device.Ordinal == wanted.Ordinal;
    });
    return found;
}

void PlaceDevices(const std::vector<THidDevicePlace>& places,
                  const std::vector<THidDeviceIdentity>& present) {
    std::vector<THidDeviceIdentity> numbered = present;
    NumberIdenticalDevices(numbered);
    std::vector<THidDeviceIdentity> remembered;
    for (const THidDevicePlace& place : places)
        if (!place.Identity.Path.empty())
            remembered.push_back(place.Identity);
    const std::vector<int> found = LocateDevices(remembered, numbered);
    std::size_t next = 0;
    for (const THidDevicePlace& place : places) {
        // Whatever sits at the position now may stand in for a device that is away, so the
        // position alone is no evidence of which device the binding means.
        if (place.Identity.Path.empty()) {
            place.Away = false;
            continue;
        }
        const int at = found[next++];
        place.Away = at < 0;
        if (at >= 0) {
            place.Index = at;
            place.Identity = numbered[static_cast<std::size_t>(at)];
        }
    }
}
