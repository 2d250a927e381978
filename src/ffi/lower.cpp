#include "ffi/lower.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ffi/buffer.h"
#include "base/writer.h"

namespace quenfold::ffi {

void ValueWriter::u32(std::uint32_t v) {
  const auto b = encoding::big_endian<4>(v);
  out_.insert(out_.end(), b.begin(), b.end());
}
void ValueWriter::u64(std::uint64_t v) {
  const auto b = encoding::big_endian<8>(v);
  out_.insert(out_.end(), b.begin(), b.end());
}
void ValueWriter::count(std::size_t n) {
  if (n > static_cast<std::size_t>(INT32_MAX))
    throw InternalFailure("value too large to cross the boundary");
  i32(static_cast<std::int32_t>(n));
}
void ValueWriter::bytes(ByteView b) {
  count(b.size());
  out_.insert(out_.end(), b.begin(), b.end());
}
void ValueWriter::string(std::string_view s) {
  count(s.size());
  out_.insert(out_.end(), s.begin(), s.end());
}
RustBuffer ValueWriter::finish() const { return buffer_from(out_); }

RustBuffer lower(ByteView bytes) {
  ValueWriter w;
  w.bytes(bytes);
  return w.finish();
}

RustBuffer lower(const CheckpointHead& head) {
  ValueWriter w;
  w.string(head.origin);
  w.u64(head.size);
  w.bytes(head.root);
  w.count(head.extensions.size());
  for (const auto& e : head.extensions) w.string(e);
  return w.finish();
}

RustBuffer lower(const SearchResult& result) {
  ValueWriter w;
  w.boolean(result.present);
  if (result.value) {
    w.u8(1);
    w.bytes(*result.value);
  } else {
    w.u8(0);
  }
  return w.finish();
}

RustBuffer lower(const PolicyPosture& p) {
  ValueWriter w;
  w.string(p.namespace_);
  w.u32(p.policy_schema_version);
  w.enumeration(p.security_level);
  w.enumeration(p.checkpoint_suite);
  w.enumeration(p.commitment_hash);
  w.enumeration(p.vrf_mode);
  w.enumeration(p.directory_mode);
  w.enumeration(p.keytrans_suite);
  w.u64(p.effective_from);
  w.u64(p.created_at);
  w.bytes(p.policy_hash);
  w.bytes(p.rfc6962_leaf_hash);
  return w.finish();
}

namespace {

// Two passes over the message pieces: the first measures, the second writes
// them into the buffer that goes to the caller, so the message exists once.
class LengthSink final : public MessageSink {
 public:
  void append(std::string_view piece) override { length += piece.size(); }
  std::size_t length = 0;
};

class PlacingSink final : public MessageSink {
 public:
  PlacingSink(std::uint8_t* at, std::size_t room) noexcept : at_(at), room_(room) {}
  void append(std::string_view piece) override {
    // Formatting is deterministic, so the pieces fit; the check keeps a
    // broken formatter from writing past the buffer.
    if (piece.size() > room_) throw InternalFailure("error message changed while it was written");
    if (!piece.empty()) std::memcpy(at_, piece.data(), piece.size());
    at_ += piece.size();
    room_ -= piece.size();
  }

 private:
  std::uint8_t* at_;
  std::size_t room_;
};

void put_be32(std::uint8_t* at, std::uint32_t v) noexcept {
  const auto b = encoding::big_endian<4>(v);
  std::copy(b.begin(), b.end(), at);
}

}  // namespace

RustBuffer lower_error(const Error& e) {
  constexpr std::uint32_t kVerification = 1;
  constexpr std::size_t kHeader = 8;  // variant index, message length
  LengthSink measure;
  e.write_message(measure);
  if (measure.length > static_cast<std::size_t>(INT32_MAX))
    throw InternalFailure("value too large to cross the boundary");
  const std::size_t total = kHeader + measure.length;
  auto* data = static_cast<std::uint8_t*>(std::malloc(total));
  if (data == nullptr) throw std::bad_alloc();
  put_be32(data, kVerification);
  put_be32(data + 4, static_cast<std::uint32_t>(measure.length));
  PlacingSink place(data + kHeader, measure.length);
  try {
    e.write_message(place);
  } catch (...) {
    std::free(data);
    throw;
  }
  return RustBuffer{total, total, data};
}

}  // namespace quenfold::ffi
