// Calling the built shared library exactly as a foreign caller does: dlopen,
// look the exports up by name, build arguments with rustbuffer_from_bytes,
// read the CallStatus, free what the library hands out.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold_log.h"
#include "support/serialize.h"

namespace quenfold::test {

class Library {
 public:
  static Library& instance() {
    static Library lib(QUENFOLD_LIBRARY_PATH);
    return lib;
  }

  template <class Fn>
  Fn* fn(const char* name) const {
    void* p = dlsym(handle_, name);
    if (p == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn*>(p);
  }
  void* symbol(const char* name) const { return dlsym(handle_, name); }

  // A library-owned buffer holding a copy of the bytes.
  RustBuffer buffer(const std::vector<std::uint8_t>& bytes) const {
    RustCallStatus st{};
    auto from = fn<RustBuffer(ForeignBytes, RustCallStatus*)>("ffi_quenfold_log_rustbuffer_from_bytes");
    RustBuffer b = from(ForeignBytes{static_cast<int32_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data()}, &st);
    if (st.code != 0) throw std::runtime_error("rustbuffer_from_bytes failed");
    return b;
  }
  RustBuffer buffer(std::string_view text) const {
    return buffer(std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  void free(RustBuffer b) const {
    RustCallStatus st{};
    fn<void(RustBuffer, RustCallStatus*)>("ffi_quenfold_log_rustbuffer_free")(b, &st);
    if (st.code != 0) throw std::runtime_error("rustbuffer_free failed");
  }
  // Copies out and frees a buffer the library returned.
  std::vector<std::uint8_t> take(RustBuffer b) const {
    std::vector<std::uint8_t> out;
    if (b.data != nullptr) out.assign(b.data, b.data + b.len);
    free(b);
    return out;
  }

 private:
  explicit Library(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
  }
  void* handle_;
};

// The outcome of one call: status code and decoded message.
struct Outcome {
  int code = 0;
  std::string message;  // VerifyError message (code 1) or raw text (code 2)
  bool error_buf_zero = true;
};

// Reads and frees the status of a finished call, and resets it.
inline Outcome outcome_of(const Library& lib, RustCallStatus& st) {
  Outcome o;
  o.code = st.code;
  o.error_buf_zero = st.error_buf.capacity == 0 && st.error_buf.len == 0 && st.error_buf.data == nullptr;
  if (st.code == 0) return o;
  auto bytes = lib.take(st.error_buf);
  st = RustCallStatus{};  // ready for the next call
  if (o.code == 1) {
    // i32 variant (1), i32 length, message
    if (bytes.size() < 8) throw std::runtime_error("short VerifyError");
    o.message.assign(bytes.begin() + 8, bytes.end());
  } else {
    o.message.assign(bytes.begin(), bytes.end());
  }
  return o;
}

}  // namespace quenfold::test
