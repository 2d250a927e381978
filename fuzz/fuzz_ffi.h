// Argument buffers built the way a well-behaved foreign caller builds them,
// so that structure-aware targets spend their mutations on the artefacts
// rather than on the framing (lift_fuzz covers broken framing), and the
// release of everything the library hands back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/buffer.h"
#include "quenfold_log.h"

namespace quenfold::fuzz {

class ArgWriter {
 public:
  ArgWriter& i32(std::size_t n) {
    const auto v = static_cast<std::uint32_t>(n);
    for (int i = 3; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  template <class C>
  ArgWriter& bytes(const C& b) {
    i32(b.size());
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  template <class L>
  ArgWriter& list(const L& items) {
    i32(items.size());
    for (const auto& b : items) bytes(b);
    return *this;
  }
  RustBuffer buffer() const { return ffi::buffer_from(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

// A raw UTF-8 string argument (no length prefix).
template <class C>
RustBuffer text_arg(const C& text) {
  return ffi::buffer_from(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}
template <class C>
RustBuffer bytes_arg(const C& b) {
  return ArgWriter().bytes(b).buffer();
}
template <class L>
RustBuffer list_arg(const L& items) {
  return ArgWriter().list(items).buffer();
}

// Frees the error buffer of a failed call and resets the status.
inline void drop(RustCallStatus& st) {
  if (st.code != 0) ffi::release(st.error_buf);
  st = RustCallStatus{};
}

// Frees a result buffer and the status of the call that returned it.
inline void drop(RustBuffer result, RustCallStatus& st) {
  ffi::release(result);
  drop(st);
}

}  // namespace quenfold::fuzz
