// The terminal's clock: the wall clock, optionally running faster from the
// moment the terminal started, from the wall clock's time or a given one (a speed above 1 is meant for tests and demos
// that want the market to move quickly). It never goes backwards.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

namespace brv::paper {

inline int64_t WallMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class Clock {
 public:
  // `start_ms` > 0 sets the clock to that moment at start (a fixed point in
  // the market's time, for tests and demos that need, say, a weekday).
  explicit Clock(double speed, int64_t start_ms = 0)
      : speed_(speed > 0 ? speed : 1.0), wall_start_(WallMs()), start_(start_ms > 0 ? start_ms : wall_start_),
        last_(start_) {}

  int64_t NowMs() {
    int64_t wall = WallMs();
    int64_t now = start_ + int64_t(double(wall - wall_start_) * speed_);
    int64_t prev = last_.load();
    while (now > prev && !last_.compare_exchange_weak(prev, now)) {
    }
    return now > prev ? now : prev;
  }
  int64_t start_ms() const { return start_; }
  double speed() const { return speed_; }

 private:
  double speed_;
  int64_t wall_start_;
  int64_t start_;
  std::atomic<int64_t> last_;
};

}  // namespace brv::paper
