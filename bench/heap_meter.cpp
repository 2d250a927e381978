#include "heap_meter.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>

// Sanitizers bring their own allocator; the meter is then absent and every
// measurement reads 0.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUENFOLD_HEAP_METER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUENFOLD_HEAP_METER 0
#endif
#endif
#ifndef QUENFOLD_HEAP_METER
#define QUENFOLD_HEAP_METER 1
#endif

namespace {

// Off except during a measurement, so that other benchmarks (2-thread
// throughput included) only read a flag that nobody writes.
std::atomic<bool> g_on{false};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

[[maybe_unused]] void count_in(void* p) noexcept {
  if (p == nullptr || !g_on.load(std::memory_order_relaxed)) return;
  const auto n = static_cast<std::int64_t>(malloc_usable_size(p));
  const std::int64_t now = g_live.fetch_add(n, std::memory_order_relaxed) + n;
  std::int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

[[maybe_unused]] void count_out(void* p) noexcept {
  if (p == nullptr || !g_on.load(std::memory_order_relaxed)) return;
  g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
}

}  // namespace

#if QUENFOLD_HEAP_METER
// glibc's own entry points, which its malloc family forwards to.
extern "C" {
void* __libc_malloc(std::size_t);
void __libc_free(void*);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n) noexcept {
  void* p = __libc_malloc(n);
  count_in(p);
  return p;
}
void free(void* p) noexcept {
  count_out(p);
  __libc_free(p);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
  void* p = __libc_calloc(n, size);
  count_in(p);
  return p;
}
void* realloc(void* p, std::size_t n) noexcept {
  count_out(p);
  void* q = __libc_realloc(p, n);
  count_in(q != nullptr || n == 0 ? q : p);  // on failure the old block lives on
  return q;
}
void* memalign(std::size_t alignment, std::size_t n) noexcept {
  void* p = __libc_memalign(alignment, n);
  count_in(p);
  return p;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept { return memalign(alignment, n); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) noexcept {
  void* p = memalign(alignment, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}  // extern "C"
#endif

namespace quenfold::bench {

std::int64_t peak_heap_growth(const std::function<void()>& fn) {
  g_live.store(0);
  g_peak.store(0);
  g_on.store(true);
  fn();
  g_on.store(false);
  return g_peak.load();
}

}  // namespace quenfold::bench
