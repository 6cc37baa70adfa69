// Running one piece of work on several threads at once: the calling thread takes part,
// so a count of one runs it serially with no thread started. The work itself hands
// out its items (an atomic counter) and keeps their results apart, so that what it
// produces does not depend on the number of threads.
#pragma once
#include <algorithm>
#include <thread>
#include <vector>

namespace kaven {

// The threads a computation uses: `requested` when positive, otherwise every core.
inline int thread_count(int requested) {
  return requested > 0 ? requested : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Calls work() on `threads` threads (this one among them) and returns when all are done.
template <typename Work>
void run_on_threads(int threads, Work& work) {
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back([&work] { work(); });
  work();
  for (std::thread& th : pool) th.join();
}

}  // namespace kaven
