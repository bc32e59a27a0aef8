// Timing for the benchmarks: the best of several runs, since the machines are
// shared and the slowest runs say more about the neighbours than about the code.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace qmx::bench {

// The shortest wall time, in seconds, of `runs` runs of work, each after an
// untimed setup.
inline double bestSeconds(int runs, const std::function<void()>& work,
                          const std::function<void()>& setup = {}) {
  using Clock = std::chrono::steady_clock;
  double best = 1e99;
  for (int i = 0; i < runs; ++i) {
    if (setup) setup();
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace qmx::bench
