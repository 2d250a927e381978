// Witness-cosigned checkpoints through the C++ API: a witness policy in the
// C2SP tlog-policy format, the expected origin and a checkpoint note. The
// policy is parsed; when it parses, the note is verified against it. Seeds
// are cosigned checkpoints that meet their policies, so mutations reach the
// policy grammar, the cosignature lines, their timestamps and the quorum.
#include <string>

#include "fuzz_input.h"
#include "quenfold/checkpoint_verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  const auto policy_text = in.field();
  const auto origin = in.field();
  const auto note = in.field();
  auto policy = quenfold::WitnessPolicy::parse(std::string(policy_text.begin(), policy_text.end()));
  if (!policy) return 0;
  const std::string note_text(note.begin(), note.end());
  // The policy alone reaches the cosignatures even when it lists no log.
  (void)policy->open(note_text);
  const quenfold::CheckpointVerifier verifier(std::string(origin.begin(), origin.end()), std::move(*policy));
  (void)verifier.verify(note_text);
  return 0;
}
