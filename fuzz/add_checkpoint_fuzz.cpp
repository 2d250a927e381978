// The witness's add-checkpoint checks (C2SP tlog-witness): a byte saying
// whether the witness stored a checkpoint, its size and root, the log's
// origin and keys, and the request body. Seeds are requests a witness
// accepts (200), from nothing stored and from a stored checkpoint with a
// consistency proof, so mutations reach the old size line, the proof lines,
// the checkpoint note and the consistency proof.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quenfold/add_checkpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  std::optional<quenfold::WitnessState> stored;
  const bool has_stored = (in.u8() & 1) != 0;
  const std::uint64_t stored_size = in.u64();
  const auto root = in.field();
  if (has_stored) {
    quenfold::WitnessState s;
    s.size = stored_size;
    std::copy_n(root.begin(), std::min(root.size(), s.root.size()), s.root.begin());
    stored = s;
  }
  const std::string origin = in.text();
  std::vector<std::string> keys;
  for (const auto& k : in.list()) keys.emplace_back(k.begin(), k.end());
  const std::string request = in.text();
  auto list = quenfold::VerifierList::parse(std::span<const std::string>(keys));
  if (!list) return 0;
  const quenfold::CheckpointVerifier log(origin, std::move(*list));
  const auto r = quenfold::check_add_checkpoint(stored, log, request);
  (void)r.conflict_body();
  (void)r.cosignature_v1_message(1);
  return 0;
}
