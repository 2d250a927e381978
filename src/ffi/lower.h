// Lowering: serializing results (and errors) into new caller-owned buffers.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold_log.h"

namespace quenfold::ffi {

// Appends the serialized forms of the value kinds (big-endian, i32 counts).
class ValueWriter {
 public:
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void count(std::size_t n);  // fails (code 2) above 2^31 - 1
  void bytes(ByteView b);
  void string(std::string_view s);
  void boolean(bool b) { u8(b ? 1 : 0); }
  template <class E>
  void enumeration(E e) {
    i32(static_cast<std::int32_t>(e));
  }
  RustBuffer finish() const;

 private:
  std::vector<std::uint8_t> out_;
};

RustBuffer lower(ByteView bytes);
inline RustBuffer lower(const Bytes& b) { return lower(ByteView(b)); }
template <std::size_t N>
RustBuffer lower(const std::array<std::uint8_t, N>& b) {
  return lower(ByteView(b));
}
RustBuffer lower(const CheckpointHead& head);
// A head's fields appended to a larger value (a record that holds one).
void write(ValueWriter& w, const CheckpointHead& head);
RustBuffer lower(const SearchResult& result);
RustBuffer lower(const PolicyPosture& posture);

// The serialized VerifyError (variant Verification) carrying e.message().
RustBuffer lower_error(const Error& e);

}  // namespace quenfold::ffi
