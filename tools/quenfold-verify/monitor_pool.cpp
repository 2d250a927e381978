#include "monitor_pool.h"

#include <atomic>
#include <new>
#include <system_error>

namespace quenfold::cli::monitor {

Pool::Pool(unsigned threads) {
  const unsigned wanted = threads > 1 ? threads - 1 : 0;
  try {
    helpers_.reserve(wanted);
    for (unsigned k = 1; k <= wanted; ++k) helpers_.emplace_back([this, k] { serve(k); });
  } catch (const std::system_error&) {
    // Fewer threads than asked: the work is the same, only slower.
  } catch (const std::bad_alloc&) {
  }
}

Pool::~Pool() {
  {
    const std::scoped_lock hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : helpers_) t.join();
}

void Pool::serve(unsigned k) {
  std::size_t seen = 0;
  for (;;) {
    const std::function<void(unsigned)>* job = nullptr;
    {
      std::unique_lock hold(lock_);
      wake_.wait(hold, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
    }
    std::exception_ptr failure;
    try {
      (*job)(k);
    } catch (...) {
      failure = std::current_exception();
    }
    const std::scoped_lock hold(lock_);
    if (failure && !failure_) failure_ = failure;
    if (--pending_ == 0) done_.notify_one();
  }
}

void Pool::run(const std::function<void(unsigned)>& job) {
  {
    const std::scoped_lock hold(lock_);
    job_ = &job;
    pending_ = static_cast<unsigned>(helpers_.size());
    failure_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  std::exception_ptr mine;
  try {
    job(0);
  } catch (...) {
    mine = std::current_exception();
  }
  std::unique_lock hold(lock_);
  done_.wait(hold, [&] { return pending_ == 0; });
  job_ = nullptr;
  if (mine) std::rethrow_exception(mine);
  if (failure_) std::rethrow_exception(failure_);
}

void run_two_passes(Pool& pool, std::size_t n, std::size_t chunk,
                    const std::function<void(std::size_t, std::size_t)>& read, const std::function<void()>& between,
                    const std::function<void(std::size_t, std::size_t)>& prove,
                    const std::function<void(std::size_t)>& tick) {
  std::atomic<std::size_t> next{0}, done{0};
  std::vector<std::vector<std::size_t>> taken(pool.size());  // the chunks each thread read
  const auto report = [&](unsigned k, std::size_t begin, std::size_t end) {
    const std::size_t now = done.fetch_add(end - begin, std::memory_order_relaxed) + (end - begin);
    if (k == 0 && tick) tick(now);
  };
  pool.run([&](unsigned k) {
    for (std::size_t begin; (begin = next.fetch_add(chunk, std::memory_order_relaxed)) < n;) {
      const std::size_t end = std::min(n, begin + chunk);
      taken[k].push_back(begin);
      read(begin, end);
      report(k, begin, end);
    }
  });
  between();
  pool.run([&](unsigned k) {
    for (const std::size_t begin : taken[k]) {
      const std::size_t end = std::min(n, begin + chunk);
      prove(begin, end);
      report(k, begin, end);
    }
  });
}

}  // namespace quenfold::cli::monitor
