// Peak heap use of one piece of code. heap_meter.cpp interposes the malloc
// family for the whole benchmark process (the library's buffers, OpenSSL's
// and the C++ runtime's allocations all pass through it) and counts the
// bytes live at once while a measurement runs; otherwise it only forwards.
#pragma once

#include <cstdint>
#include <functional>

namespace quenfold::bench {

// The largest number of heap bytes live at once while `fn` ran, beyond those
// live when it started. Blocks allocated before and released by `fn` count
// from their release on. Not reentrant; call it from one thread at a time.
std::int64_t peak_heap_growth(const std::function<void()>& fn);

}  // namespace quenfold::bench
