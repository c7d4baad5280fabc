// Interface version word: major (bits 25-30), flag (24), year (12-23),
// month (8-11), day (3-7), serial (0-2). Bit 31 is never set by packing.
#include <cstdint>

#include "interface/export.h"

namespace {

constexpr std::uint32_t kMaxMajor = 63;
constexpr std::uint32_t kMaxFlag = 1;
constexpr std::uint32_t kMaxYear = 4095;
constexpr std::uint32_t kMaxMonth = 15;
constexpr std::uint32_t kMaxDay = 31;
constexpr std::uint32_t kMaxSerial = 7;

constexpr std::uint32_t kMajorShift = 25;
constexpr std::uint32_t kFlagShift = 24;
constexpr std::uint32_t kYearShift = 12;
constexpr std::uint32_t kMonthShift = 8;
constexpr std::uint32_t kDayShift = 3;

// Compatibility is decided by the major field alone.
constexpr std::uint32_t kMajorMask = kMaxMajor << kMajorShift;

constexpr std::uint32_t packVersion(std::uint32_t major, std::uint32_t flag, std::uint32_t year,
                                    std::uint32_t month, std::uint32_t day, std::uint32_t serial) {
    return (major << kMajorShift) | (flag << kFlagShift) | (year << kYearShift) |
           (month << kMonthShift) | (day << kDayShift) | serial;
}

// The module's own version: 0.0, 2008-04-20, serial 0.
constexpr std::uint32_t kModuleVersion = packVersion(0, 0, 2008, 4, 20, 0);
static_assert(kModuleVersion == 0x007D84A0u);

}  // namespace

extern "C" {

TAVRINE_ENTRY int ZOLT_CALL ZOLT_MakeInterfaceVersion(uint32_t* out, uint32_t /*reserved*/,
                                                      uint32_t major, uint32_t flag, uint32_t year,
                                                      uint32_t month, uint32_t day,
                                                      uint32_t serial) noexcept {
    if (out == nullptr) return 0;
    if (major > kMaxMajor || flag > kMaxFlag || year > kMaxYear || month > kMaxMonth ||
        day > kMaxDay || serial > kMaxSerial) {
        return 0;
    }
    *out = packVersion(major, flag, year, month, day, serial);
    return 1;
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_GetInterfaceVersion(uint32_t* out, uint32_t /*reserved*/) noexcept {
    if (out == nullptr) return 0;
    *out = kModuleVersion;
    return 1;
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_VerifyInterfaceVersion(uint32_t version,
                                                        uint32_t /*reserved*/) noexcept {
    return (version & kMajorMask) == 0 ? 1 : 0;
}

}  // extern "C"
