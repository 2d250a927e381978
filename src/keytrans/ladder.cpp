#include "keytrans/ladder.h"

#include <algorithm>
#include <limits>

namespace quenfold::keytrans {

std::vector<std::uint64_t> binary_ladder(std::uint64_t target) {
  std::vector<std::uint64_t> out;
  // Doubling phase: 2^i - 1 for i = 0, 1, ... until one exceeds the target.
  // 2^64 - 1 is the largest representable value; a target equal to it ends
  // the phase there with no value above it.
  for (unsigned i = 0;; ++i) {
    const std::uint64_t v = i >= 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << i) - 1;
    out.push_back(v);
    if (v > target || i >= 64) break;
  }
  if (out.back() <= target) return out;
  std::uint64_t lo = out[out.size() - 2];
  std::uint64_t hi = out.back();
  // Binary phase: lo <= target < hi throughout.
  while (lo + 1 < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    out.push_back(mid);
    if (target < mid) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return out;
}

std::vector<std::uint64_t> monitoring_ladder(std::uint64_t version) {
  auto out = binary_ladder(version);
  std::erase_if(out, [version](std::uint64_t v) { return v > version; });
  return out;
}

}  // namespace quenfold::keytrans
