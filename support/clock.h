#pragma once
// The local date and time, behind a seam so that tests fix the date.
namespace orx {

struct LocalDateTime {
  int year = 1980;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

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
