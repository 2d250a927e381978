// Argument lifting of every kind, through the real call frame: arbitrary
// bytes in every argument buffer of the exports, including broken buffer
// invariants. Every buffer the library hands back is freed, so that
// LeakSanitizer sees any leak on any path.
#include <cstdlib>
#include <cstring>

#include "ffi/buffer.h"
#include "ffi/lift.h"
#include "fuzz_input.h"
#include "quenfold_log.h"

using quenfold::fuzz::FuzzInput;

namespace {

RustBuffer make(const std::vector<std::uint8_t>& bytes, std::uint8_t shape) {
  RustBuffer b = quenfold::ffi::buffer_from(bytes);
  // Occasionally break an invariant the way a buggy caller would.
  switch (shape % 16) {
    case 1:
      if (b.data != nullptr) b.len = b.capacity + 1;
      break;
    case 2:
      if (b.data == nullptr) b.capacity = 3;
      break;
    case 3:
      if (b.data == nullptr) b.len = 2;
      break;
    default:
      break;
  }
  return b;
}

void drop(RustCallStatus& st) {
  if (st.code != 0) quenfold::ffi::release(st.error_buf);
  st = RustCallStatus{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint8_t which = in.u8();
  RustCallStatus st{};
  switch (which % 4) {
    case 0: {  // the six lifting kinds directly
      const auto buf = in.field();
      (void)quenfold::ffi::lift(quenfold::ffi::BytesArg{}, buf);
      (void)quenfold::ffi::lift(quenfold::ffi::BytesListArg{}, buf);
      (void)quenfold::ffi::lift(quenfold::ffi::StringListArg{}, buf);
      (void)quenfold::ffi::lift(quenfold::ffi::OptionalBytesArg{}, buf);
      (void)quenfold::ffi::lift(quenfold::ffi::CommitmentHashArg{}, buf);
      (void)quenfold::ffi::lift(quenfold::ffi::StringArg{}, buf);
      break;
    }
    case 1: {
      const std::uint64_t index = in.u64(), tree = in.u64();
      const std::uint8_t shape = in.u8();
      auto leaf = in.field(), proof = in.field(), root = in.field();
      uniffi_quenfold_log_fn_func_verify_inclusion(index, tree, make(leaf, shape), make(proof, shape >> 4),
                                                   make(root, shape >> 2), &st);
      drop(st);
      break;
    }
    case 2: {
      const std::uint64_t s1 = in.u64(), s2 = in.u64();
      const std::uint8_t shape = in.u8();
      auto proof = in.field(), r1 = in.field(), r2 = in.field();
      uniffi_quenfold_log_fn_func_verify_consistency(s1, s2, make(proof, shape), make(r1, shape >> 4),
                                                     make(r2, shape >> 2), &st);
      drop(st);
      break;
    }
    case 3: {
      const std::uint8_t shape = in.u8();
      auto ctx = in.field(), x = in.field(), pq = in.field(), sig = in.field(), prev = in.field();
      RustBuffer r = uniffi_quenfold_log_fn_func_key_history_entry_hash_with_context(
          make(ctx, shape), in.u64(), in.u64(), make(x, 0), make(pq, 0), make(sig, shape >> 4), make(prev, shape >> 2),
          &st);
      quenfold::ffi::release(r);
      drop(st);
      break;
    }
  }
  // The buffer exports themselves.
  RustBuffer b = ffi_quenfold_log_rustbuffer_alloc(in.u64() & 0xFFFF, &st);
  drop(st);
  b = ffi_quenfold_log_rustbuffer_reserve(b, in.u64() & 0xFFFFF, &st);
  drop(st);
  ffi_quenfold_log_rustbuffer_free(b, &st);
  drop(st);
  return 0;
}
