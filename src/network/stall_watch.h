// The stall rule of a body: at least minBytes in every window of windowMs, the windows one after
// another from the first read. A line that sends a byte now and then never trips a receive limit,
// which each byte restarts; this ends it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace brivon {

class StallWatch {
 public:
  // windowMs 0: no rule.
  StallWatch(DWORD windowMs, uint64_t minBytes, ULONGLONG start)
      : windowMs_(windowMs), minBytes_(minBytes), windowStart_(start) {}

  void Count(uint64_t bytes) { bytes_ += bytes; }

  // Whether a window ended by now with fewer than minBytes; otherwise moves on to the window now
  // falls in.
  bool StalledBy(ULONGLONG now) {
    if (windowMs_ == 0) return false;
    while (now - windowStart_ >= windowMs_) {
      if (bytes_ < minBytes_) return true;
      windowStart_ += windowMs_;
      bytes_ = 0;
    }
    return false;
  }

  // How long a wait may last from now before the rule is broken: to this window's end while it
  // lacks bytes, else to the next one's. INFINITE without a rule.
  DWORD WaitLimit(ULONGLONG now) const {
    if (windowMs_ == 0) return INFINITE;
    ULONGLONG end = windowStart_ + windowMs_;
    if (bytes_ >= minBytes_) end += windowMs_;
    return end > now ? static_cast<DWORD>(end - now) : 0;
  }

 private:
  DWORD windowMs_;
  uint64_t minBytes_;
  ULONGLONG windowStart_;
  uint64_t bytes_ = 0;
};

}  // namespace brivon
