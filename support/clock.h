#pragma once
// The local date and time, behind a seam so that tests fix the date.
#include <cstdint>
#include <ctime>

namespace orx {

struct LocalDateTime {
  int year = 1980;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The local time of a moment; 1980-01-01 00:00 when it has none.
LocalDateTime LocalTimeOf(std::time_t moment);

// The MS-DOS time and date words of a local time (years before 1980 give
// 1980-01-01 00:00, after 2107 the end of 2107; seconds round down to even).
std::uint16_t DosTime(const LocalDateTime& time);
std::uint16_t DosDate(const LocalDateTime& time);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};

class FixedClock final : public Clock {
 public:
  explicit FixedClock(LocalDateTime now) : now_(now) {}
  LocalDateTime Now() const override { return now_; }

 private:
  LocalDateTime now_;
};

}  // namespace orx
