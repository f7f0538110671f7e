#include "support/clock.h"

#include <ctime>

namespace orx {

LocalDateTime LocalTimeOf(std::time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::uint16_t DosTime(const LocalDateTime& time) {
  if (time.year < 1980) return 0;
  if (time.year > 2107) return static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
  return static_cast<std::uint16_t>((time.hour << 11) | (time.minute << 5) | (time.second / 2));
}

std::uint16_t DosDate(const LocalDateTime& time) {
  if (time.year < 1980) return static_cast<std::uint16_t>((1 << 5) | 1);
  if (time.year > 2107) return static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
  return static_cast<std::uint16_t>(((time.year - 1980) << 9) | (time.month << 5) | time.day);
}

LocalDateTime SystemClock::Now() const { return LocalTimeOf(std::time(nullptr)); }

}  // namespace orx
