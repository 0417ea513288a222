#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// A press or release code that has not been captured. It happens to equal the CRC start value;
// nothing may rely on that: a burst in which nothing was heard is no pattern at all.
inline constexpr std::uint32_t kNoCode = 0xFFFFFFFFu;
// The longest press or release burst whose bytes an action keeps; a longer one is known by its
// code only.
inline constexpr std::size_t kMaxBurstBytes = 256;

// The burst code after one more report: a report that opens a burst starts from the CRC start
// value, one that continues it goes on from `code`; its bytes are added in order.
std::uint32_t AddReportToBurst(std::uint32_t code, bool continuesBurst, const std::uint8_t* bytes,
                               std::size_t count);

// The open burst of one device: its code, and while they fit, its bytes and where each of its
// reports ends. Fixed storage, so that adding a report never allocates. Dispatch and learning
// both hear bursts through it, so a learned code is the code dispatch computes.
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

// True when `bytes` can stand for the burst of `code`: 1 to kMaxBurstBytes bytes whose code it is.
bool BurstBytesMatch(std::span<const std::uint8_t> bytes, std::uint32_t code);

// One learned burst of a button: the code that stands for it, and its bytes when they are known
// (empty otherwise). Knowing the bytes lets a burst end as soon as it equals them.
struct THidBurstPattern {
    std::uint32_t Code = kNoCode;
    std::vector<std::uint8_t> Bytes;

    // The pattern of a burst of these bytes, or of a burst as it was heard; the bytes are kept
    // when they are all known and fit in kMaxBurstBytes. Nothing heard is no pattern.
    static THidBurstPattern Of(std::span<const std::uint8_t> bytes);
    static THidBurstPattern Of(const THidBurst& burst);

    bool Learned() const { return Code != kNoCode; }
    // Takes the bytes of a burst of this code when none are known yet and they fit.
    void KeepBytes(std::span<const std::uint8_t> bytes);
    bool operator==(const THidBurstPattern&) const = default;
};
