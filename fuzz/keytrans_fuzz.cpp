// The three KEYTRANS proof kinds (search, fixed version, monitor) through
// their six exports: the first byte picks the kind and whether the suite is
// given explicitly (then a big-endian u16 suite id follows); then the
// context, VRF public key, combined root, label and proof. Seeds are honest
// proofs of test directories under every suite, so mutations reach the
// header, the ladder rungs, the prefix-tree copaths and the log proof.
#include "fuzz_ffi.h"
#include "fuzz_input.h"

using namespace quenfold::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t which = in.u8();
  const bool with_suite = ((which / 3) % 2) != 0;
  std::uint16_t suite = 0;
  if (with_suite) suite = static_cast<std::uint16_t>((in.u8() << 8) | in.u8());
  const auto context = in.field();
  const auto vrf_public = in.field();
  const auto root = in.field();
  const auto label = in.field();
  const auto proof = in.field();
  RustCallStatus st{};
  const auto a = [&] {
    struct Args {
      RustBuffer c, v, r, l, p;
    };
    return Args{text_arg(context), bytes_arg(vrf_public), bytes_arg(root), bytes_arg(label), bytes_arg(proof)};
  }();
  switch ((which % 3) + (with_suite ? 3 : 0)) {
    case 0: drop(uniffi_quenfold_log_fn_func_keytrans_verify_search(a.c, a.v, a.r, a.l, a.p, &st), st); break;
    case 1: drop(uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version(a.c, a.v, a.r, a.l, a.p, &st), st); break;
    case 2: uniffi_quenfold_log_fn_func_keytrans_verify_monitor(a.c, a.v, a.r, a.l, a.p, &st); drop(st); break;
    case 3:
      drop(uniffi_quenfold_log_fn_func_keytrans_verify_search_suite(suite, a.c, a.v, a.r, a.l, a.p, &st), st);
      break;
    case 4:
      drop(uniffi_quenfold_log_fn_func_keytrans_verify_fixed_version_suite(suite, a.c, a.v, a.r, a.l, a.p, &st), st);
      break;
    case 5:
      uniffi_quenfold_log_fn_func_keytrans_verify_monitor_suite(suite, a.c, a.v, a.r, a.l, a.p, &st);
      drop(st);
      break;
  }
  return 0;
}
