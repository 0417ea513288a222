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
