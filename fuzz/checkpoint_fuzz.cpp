// Checkpoint bodies and the four checkpoint exports. The first byte picks
// the export; then the note (or body) texts, the verifier keys, and the
// proof inputs. Seeds are checkpoints over real trees signed by the test
// signers with valid inclusion and consistency proofs.
#include "fuzz_ffi.h"
#include "fuzz_input.h"

using namespace quenfold::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t which = in.u8();
  RustCallStatus st{};
  switch (which % 4) {
    case 0: {
      const auto body = in.field();
      drop(uniffi_quenfold_log_fn_func_checkpoint_parse(text_arg(body), &st), st);
      break;
    }
    case 1: {
      const auto note = in.field();
      const auto keys = in.list();
      drop(uniffi_quenfold_log_fn_func_checkpoint_verify(text_arg(note), list_arg(keys), &st), st);
      break;
    }
    case 2: {
      const auto note = in.field();
      const auto keys = in.list();
      const std::uint64_t index = in.u64();
      const auto leaf = in.field();
      const auto proof = in.list();
      uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion(text_arg(note), list_arg(keys), index,
                                                              bytes_arg(leaf), list_arg(proof), &st);
      drop(st);
      break;
    }
    case 3: {
      const auto older = in.field();
      const auto newer = in.field();
      const auto keys = in.list();
      const auto proof = in.list();
      uniffi_quenfold_log_fn_func_checkpoint_verify_consistency(text_arg(older), text_arg(newer), list_arg(keys),
                                                                list_arg(proof), &st);
      drop(st);
      break;
    }
  }
  return 0;
}
