// Verifier keys and signed notes through the verify_signed_note export: a
// note text and a list of verifier-key texts. Seeds carry valid notes signed
// by the test signers (Ed25519 and composite keys of several versions) with
// their trusted keys, so mutations reach the key parser, the line splitter,
// the key-id match and the signature checks.
#include "fuzz_ffi.h"
#include "fuzz_input.h"

using namespace quenfold::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const auto note = in.field();
  const auto keys = in.list();
  RustCallStatus st{};
  (void)uniffi_quenfold_log_fn_func_verify_signed_note(text_arg(note), list_arg(keys), &st);
  drop(st);
  return 0;
}
