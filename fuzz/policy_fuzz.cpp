// Signed policies: arbitrary envelopes through the parser, and through the
// six policy exports with arbitrary observed values. Every buffer the library
// hands back is freed, so that LeakSanitizer sees any leak on any path.
#include "ffi/buffer.h"
#include "fuzz_input.h"
#include "policy/policy.h"
#include "quenfold_log.h"

using quenfold::fuzz::FuzzInput;

namespace {

void drop(RustCallStatus& st) {
  if (st.code != 0) quenfold::ffi::release(st.error_buf);
  st = RustCallStatus{};
}

// A serialized byte string argument holding `bytes`.
RustBuffer bytes_arg(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> ser;
  const auto n = static_cast<std::uint32_t>(bytes.size());
  for (int i = 3; i >= 0; --i) ser.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  ser.insert(ser.end(), bytes.begin(), bytes.end());
  return quenfold::ffi::buffer_from(ser);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t which = in.u8();
  const auto envelope = in.field();
  (void)quenfold::policy::SignedPolicy::parse(envelope);

  RustCallStatus st{};
  switch (which % 6) {
    case 0:
      quenfold::ffi::release(uniffi_quenfold_log_fn_func_signed_policy_verify(bytes_arg(envelope), &st));
      break;
    case 1:
      uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signing_key(
          bytes_arg(envelope), quenfold::ffi::buffer_from(in.field()), &st);
      break;
    case 2:
      uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signature(bytes_arg(envelope),
                                                                      quenfold::ffi::buffer_from(in.field()), &st);
      break;
    case 3:
      uniffi_quenfold_log_fn_func_policy_enforce_vrf_suite_id(bytes_arg(envelope), in.u8(), &st);
      break;
    case 4:
      uniffi_quenfold_log_fn_func_policy_enforce_commitment_hash(bytes_arg(envelope),
                                                                 quenfold::ffi::buffer_from(in.field()), &st);
      break;
    case 5: {
      const std::uint8_t hi = in.u8();
      const std::uint8_t lo = in.u8();
      uniffi_quenfold_log_fn_func_policy_enforce_directory_backend(
          bytes_arg(envelope), static_cast<std::uint16_t>(hi << 8 | lo), &st);
      break;
    }
  }
  drop(st);
  return 0;
}
