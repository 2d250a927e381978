#include "ffi/lower.h"

#include "ffi/buffer.h"
#include "encoding/writer.h"

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

RustBuffer lower_error(const Error& e) {
  constexpr std::int32_t kVerification = 1;
  ValueWriter w;
  w.i32(kVerification);
  w.string(e.message());
  return w.finish();
}

}  // namespace quenfold::ffi
