// The monitor's threads: the calling thread and helpers kept for the whole
// run, which verify each window in two passes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quenfold::cli::monitor {

class Pool {
 public:
  // The calling thread and up to threads - 1 helpers. A helper the system
  // cannot start (no memory for its stack, a limit on threads) is done
  // without: the run goes on with the threads that started.
  explicit Pool(unsigned threads);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // The threads that run each job, the calling one included.
  unsigned size() const noexcept { return static_cast<unsigned>(helpers_.size()) + 1; }

  // Runs job(k) once on each thread, k from 0 (the calling thread) to
  // size() - 1, and returns when every one has returned. The first
  // exception a job threw is rethrown here.
  void run(const std::function<void(unsigned)>& job);

 private:
  void serve(unsigned k);

  std::vector<std::thread> helpers_;
  std::mutex lock_;
  std::condition_variable wake_, done_;
  const std::function<void(unsigned)>* job_ = nullptr;
  std::size_t generation_ = 0;
  unsigned pending_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

// Runs read(begin, end) over chunks of [0, n), then between() on the
// calling thread, then prove(begin, end) over the same chunks. Reads are
// handed out as threads ask for them, so an expensive item (a checkpoint's
// signatures) does not hold up the others; each thread proves the chunks it
// read, whose items are still in its cache and whose allocations go back to
// its own allocator arena. tick(items done), when given, is called from the
// calling thread between its chunks.
void run_two_passes(Pool& pool, std::size_t n, std::size_t chunk,
                    const std::function<void(std::size_t, std::size_t)>& read, const std::function<void()>& between,
                    const std::function<void(std::size_t, std::size_t)>& prove,
                    const std::function<void(std::size_t)>& tick);

}  // namespace quenfold::cli::monitor
