#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/hid_action.h"

// The burst code after one more report: a report that opens a burst starts from the CRC start
// value, one that continues it goes on from `code`; its bytes are added in order.
std::uint32_t AddReportToBurst(std::uint32_t code, bool continuesBurst, const std::uint8_t* bytes,
                               std::size_t count);

// The open burst of one device: its code, and while they fit, its bytes and where each of its
// reports ends. Fixed storage, so that adding a report never allocates.
class THidBurst {
public:
    // Room for a press burst and its release burst read as one, a tap.
    static constexpr std::size_t kMaxBytes = 2 * kMaxBurstBytes;
    static constexpr std::size_t kMaxReports = 64;

    // A new, empty burst.
    void Start();
    // The code always; bytes and report ends while both fit.
    void Add(const std::uint8_t* bytes, std::size_t count);

    std::uint32_t Code() const { return code_; }
    // False once the burst has outgrown its storage: then only the code is known.
    bool Kept() const { return kept_; }
    std::span<const std::uint8_t> Bytes() const { return {bytes_.data(), byteCount_}; }
    std::size_t ReportCount() const { return reportCount_; }
    // The byte count of the burst's first `reports` reports.
    std::size_t ReportEnd(std::size_t reports) const { return ends_[reports - 1]; }

private:
    std::uint32_t code_ = kNoCode;
    bool kept_ = true;
    std::size_t byteCount_ = 0;
    std::size_t reportCount_ = 0;
    std::array<std::uint8_t, kMaxBytes> bytes_{};
    std::array<std::uint16_t, kMaxReports> ends_{};
};
