#include "engine/hid_burst.h"

#include <cstring>

#include "framework/kv_crc.h"

std::uint32_t AddReportToBurst(std::uint32_t code, bool continuesBurst, const std::uint8_t* bytes,
                               std::size_t count) {
    if (!continuesBurst)
        code = kCrcStart;
    for (std::size_t i = 0; i < count; ++i)
        code = kvcrc(code, bytes[i]);
    return code;
}

void THidBurst::Start() {
    code_ = kCrcStart;
    kept_ = true;
    byteCount_ = 0;
    reportCount_ = 0;
}

void THidBurst::Add(const std::uint8_t* bytes, std::size_t count) {
    code_ = AddReportToBurst(code_, true, bytes, count);
    if (!kept_)
        return;
    if (count > kMaxBytes - byteCount_ || reportCount_ == kMaxReports) {
        kept_ = false;
        return;
    }
    if (count > 0)
        std::memcpy(bytes_.data() + byteCount_, bytes, count);
    byteCount_ += count;
    ends_[reportCount_++] = static_cast<std::uint16_t>(byteCount_);
}

bool BurstBytesMatch(std::span<const std::uint8_t> bytes, std::uint32_t code) {
    return !bytes.empty() && bytes.size() <= kMaxBurstBytes &&
           AddReportToBurst(code, false, bytes.data(), bytes.size()) == code;
}

THidBurstPattern THidBurstPattern::Of(std::span<const std::uint8_t> bytes) {
    THidBurstPattern pattern;
    if (bytes.empty())
        return pattern;
    pattern.Code = AddReportToBurst(kNoCode, false, bytes.data(), bytes.size());
    pattern.KeepBytes(bytes);
    return pattern;
}

THidBurstPattern THidBurstPattern::Of(const THidBurst& burst) {
    THidBurstPattern pattern;
    if (burst.ReportCount() == 0 && burst.Kept())
        return pattern;
    pattern.Code = burst.Code();
    if (burst.Kept())
        pattern.KeepBytes(burst.Bytes());
    return pattern;
}

void THidBurstPattern::KeepBytes(std::span<const std::uint8_t> bytes) {
    if (Bytes.empty() && bytes.size() <= kMaxBurstBytes)
        Bytes.assign(bytes.begin(), bytes.end());
}
