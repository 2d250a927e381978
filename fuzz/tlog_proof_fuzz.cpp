// C2SP tlog-proof texts through the C++ API: the proof text, the origin, the
// verifier keys, a byte that says whether the last field is the leaf hash or
// the entry, and that field. The text is parsed; when the keys parse, the
// proof is verified. Seeds are valid proofs for their keys and leaves, so
// mutations reach the header, extra, index and hash lines, the checkpoint
// note and the inclusion proof.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quenfold/tlog_proof.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  const std::string text = in.text();
  const std::string origin = in.text();
  std::vector<std::string> keys;
  for (const auto& k : in.list()) keys.emplace_back(k.begin(), k.end());
  const bool entry = (in.u8() & 1) != 0;
  const auto leaf = in.field();
  (void)quenfold::parse_tlog_proof(text);
  auto list = quenfold::VerifierList::parse(std::span<const std::string>(keys));
  if (!list) return 0;
  const quenfold::CheckpointVerifier verifier(origin, std::move(*list));
  if (entry) {
    (void)quenfold::verify_tlog_proof_entry(text, verifier, leaf);
  } else {
    (void)quenfold::verify_tlog_proof(text, verifier, leaf);
  }
  return 0;
}
