// CONIKS LookupProof through both exports. The first byte picks presence or
// absence; then the namespace, VRF public key, root, identity and proof.
// Seeds are valid presence and absence proofs of a test directory, so
// mutations reach the VRF proof, the bitmap, the sibling list and the leaf.
#include "fuzz_ffi.h"
#include "fuzz_input.h"

using namespace quenfold::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t which = in.u8();
  const auto ns = in.field();
  const auto vrf_public = in.field();
  const auto root = in.field();
  const auto identity = in.field();
  const auto proof = in.field();
  RustCallStatus st{};
  if (which % 2 == 0) {
    drop(uniffi_quenfold_log_fn_func_coniks_verify_lookup(text_arg(ns), bytes_arg(vrf_public), bytes_arg(root),
                                                          bytes_arg(identity), bytes_arg(proof), &st),
         st);
  } else {
    uniffi_quenfold_log_fn_func_coniks_verify_absence(text_arg(ns), bytes_arg(vrf_public), bytes_arg(root),
                                                      bytes_arg(identity), bytes_arg(proof), &st);
    drop(st);
  }
  return 0;
}
