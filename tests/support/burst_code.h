#pragma once
// The code the engine gives a burst, heard through the same THidBurst as dispatch and learning.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "engine/hid_burst.h"

// A burst of these reports in this order, each padded with zeros to `reportLength` bytes as a
// device of that report length delivers it; 0 keeps every report as it is.
inline std::uint32_t BurstCode(std::initializer_list<std::vector<std::uint8_t>> reports,
                               std::size_t reportLength = 0) {
    THidBurst burst;
    burst.Start();
    for (std::vector<std::uint8_t> report : reports) {
        if (report.size() < reportLength)
            report.resize(reportLength);
        burst.Add(report.data(), report.size());
    }
    return burst.Code();
}

// A burst of one report of these bytes.
inline std::uint32_t BurstCode(std::string_view bytes) {
    return BurstCode({std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
}
