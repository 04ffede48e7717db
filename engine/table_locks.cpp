#include "engine/table_locks.h"

#include <chrono>
#include <thread>

namespace kura {

void TLockRetryRules::Wait(std::uint32_t ms) const {
  if (Pause) {
    Pause(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TryRepeatedly(const TLockRetryRules& rules, std::uint32_t tries, std::uint32_t pauseMs,
                   const std::function<bool()>& attempt) {
  if (tries == 0) tries = 1;
  for (std::uint32_t done = 1;; ++done) {
    if (attempt()) return true;
    if (done >= tries) return false;
    rules.Wait(pauseMs);
  }
}

}  // namespace kura
