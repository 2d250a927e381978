// The binary ladders: the fixed sequences of label versions that a
// greatest-version search and a monitoring proof show rung by rung.
#pragma once

#include <cstdint>
#include <vector>

namespace quenfold::keytrans {

// 0, 1, 3, 7, ... up to the first 2^i - 1 above `target`, then a binary
// search between the last two for `target`. Always contains `target`.
std::vector<std::uint64_t> binary_ladder(std::uint64_t target);

// binary_ladder(version) without the values above `version`, order kept.
std::vector<std::uint64_t> monitoring_ladder(std::uint64_t version);

}  // namespace quenfold::keytrans
