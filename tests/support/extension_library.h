// Calling the built libquenfold_log_ext as a foreign caller does: dlopen,
// look the exports up by name, hand over buffers made by its own
// rustbuffer_from_bytes, and read results and structured errors with a
// reader written from the wire rules alone.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quenfold_log.h"
#include "support/extension_catalogue.h"

namespace quenfold::test::extension {

class ExtLibrary {
 public:
  static ExtLibrary& instance() {
    static ExtLibrary lib(QUENFOLD_EXT_LIBRARY_PATH);
    return lib;
  }
  template <class Fn>
  Fn* fn(const std::string& name) const {
    void* p = dlsym(handle_, name.c_str());
    if (p == nullptr) throw std::runtime_error("missing export " + name);
    return reinterpret_cast<Fn*>(p);
  }
  RustBuffer buffer(const std::vector<std::uint8_t>& bytes) const {
    RustCallStatus st{};
    RustBuffer b = fn<RustBuffer(ForeignBytes, RustCallStatus*)>("ffi_quenfold_log_ext_rustbuffer_from_bytes")(
        ForeignBytes{static_cast<int32_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data()}, &st);
    if (st.code != 0) throw std::runtime_error("rustbuffer_from_bytes failed");
    return b;
  }
  RustBuffer buffer(std::string_view text) const { return buffer(std::vector<std::uint8_t>(text.begin(), text.end())); }
  std::vector<std::uint8_t> take(RustBuffer b) const {
    std::vector<std::uint8_t> out;
    if (b.data != nullptr) out.assign(b.data, b.data + b.len);
    RustCallStatus st{};
    fn<void(RustBuffer, RustCallStatus*)>("ffi_quenfold_log_ext_rustbuffer_free")(b, &st);
    if (st.code != 0) throw std::runtime_error("rustbuffer_free failed");
    return out;
  }

 private:
  explicit ExtLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
  }
  void* handle_;
};

// Reads one value; every read throws on a short buffer.
class WireReader {
 public:
  explicit WireReader(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  std::uint8_t u8() { return take(1)[0]; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (std::uint8_t b : take(4)) v = v << 8 | b;
    return v;
  }
  std::uint64_t u64() {
    std::uint64_t v = 0;
    for (std::uint8_t b : take(8)) v = v << 8 | b;
    return v;
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::string string() {
    const auto n = static_cast<std::size_t>(i32());
    const auto b = take(n);
    return {b.begin(), b.end()};
  }
  std::vector<std::uint8_t> bytes() { return take(static_cast<std::size_t>(i32())); }
  bool done() const { return pos_ == data_.size(); }

 private:
  std::vector<std::uint8_t> take(std::size_t n) {
    if (n > data_.size() - pos_) throw std::runtime_error("short value");
    std::vector<std::uint8_t> out(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                  data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return out;
  }
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// A structured error as read back: its variant's name, its fields and the
// message.
using FieldValue = std::variant<std::uint64_t, std::string>;
struct StructuredError {
  std::string variant;
  std::vector<FieldValue> fields;
  std::string message;
};

// Reads a VerifyError value with the field layout of error_variants().
inline StructuredError read_error(WireReader& r) {
  const std::int32_t index = r.i32();
  const auto& variants = error_variants();
  if (index < 1 || static_cast<std::size_t>(index) > variants.size())
    throw std::runtime_error("unknown variant " + std::to_string(index));
  const ErrorVariant& v = variants[static_cast<std::size_t>(index - 1)];
  StructuredError e{v.name, {}, {}};
  for (char f : v.fields) {
    if (f == 'q') e.fields.emplace_back(r.u64());
    if (f == 'l') e.fields.emplace_back(std::uint64_t{r.u32()});
    if (f == 's') e.fields.emplace_back(r.string());
  }
  e.message = r.string();
  return e;
}

}  // namespace quenfold::test::extension
