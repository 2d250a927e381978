#include "keytrans/tls.h"

#include <algorithm>
#include <string>

#include "base/try.h"
#include "base/reader.h"
#include "base/writer.h"

namespace quenfold::keytrans {
namespace {

using encoding::Reader;

std::unexpected<Error> malformed(std::string text) {
  return std::unexpected(Error::malformed_keytrans(std::move(text)));
}

// Every reader failure of a KEYTRANS proof: the field, and the offset from
// the start of the container being read.
Error read_error(const encoding::ReadError& e) {
  const std::string field(e.field);
  if (e.kind == encoding::ReadError::Kind::Trailing)
    return Error::malformed_keytrans(field + ": " + std::to_string(e.available) +
                                     " trailing byte(s) after struct");
  return Error::malformed_keytrans(field + ": need " + std::to_string(e.wanted) + " bytes at offset " +
                                   std::to_string(e.offset) + ", only " + std::to_string(e.available) +
                                   " available");
}

template <class T>
std::expected<T, Error> read(encoding::ReadResult<T> r) {
  return encoding::map_read_error(std::move(r), read_error);
}

Bytes copy(ByteView b) { return Bytes(b.begin(), b.end()); }

// An opaque vector with a `width`-byte length, copied.
std::expected<Bytes, Error> read_opaque(Reader& r, std::size_t width, std::string_view field) {
  QUENFOLD_TRY(const ByteView content, read(r.prefixed(width, field)));
  return copy(content);
}

// An opaque16 holding a whole number of 32-byte node values.
std::expected<std::vector<Node>, Error> read_hashes16(Reader& r, std::string_view field) {
  QUENFOLD_TRY(const ByteView content, read(r.prefixed(2, field)));
  if (content.size() % kNodeLen != 0)
    return malformed(std::string(field) + ": " + std::to_string(content.size()) +
                     " bytes is not a multiple of the " + std::to_string(kNodeLen) + "-byte hash size");
  std::vector<Node> out(content.size() / kNodeLen);
  for (std::size_t i = 0; i < out.size(); ++i)
    std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(i * kNodeLen), kNodeLen, out[i].begin());
  return out;
}

// A 0-or-1 flag byte; `name` is how the message calls it.
std::expected<bool, Error> read_flag(Reader& r, std::string_view field, std::string_view name) {
  QUENFOLD_TRY(const std::uint8_t flag, read(r.u8(field)));
  if (flag > 1) return malformed(std::string(name) + " must be 0 or 1, got " + std::to_string(flag));
  return flag == 1;
}

std::expected<ProofHeader, Error> read_header(Reader& r, std::uint8_t expected_kind, const char* kind_name) {
  QUENFOLD_TRY(const std::uint8_t kind, read(r.u8("Proof.kind")));
  if (kind != expected_kind)
    return malformed("expected " + std::string(kind_name) + " proof (kind " + std::to_string(expected_kind) +
                     "), got kind " + std::to_string(kind));
  ProofHeader h;
  QUENFOLD_TRY(h.entry_index, read(r.u64("Proof.entry_index")));
  QUENFOLD_TRY(h.tree_size, read(r.u64("Proof.tree_size")));
  QUENFOLD_TRY(h.timestamp, read(r.u64("Proof.timestamp")));
  QUENFOLD_TRY(h.prefix_root, read(r.array<kNodeLen>("Proof.prefix_root")));
  QUENFOLD_TRY(h.log_inclusion, read_hashes16(r, "Proof.log_inclusion"));
  return h;
}

std::expected<PrefixSearchResult, Error> read_search_result(Reader r, std::size_t nc) {
  PrefixSearchResult out;
  QUENFOLD_TRY(const std::uint8_t type, read(r.u8("PrefixSearchResult.result_type")));
  switch (type) {
    case 1: out.type = PrefixSearchResultType::Inclusion; break;
    case 3: out.type = PrefixSearchResultType::NonInclusionParent; break;
    case 2: {
      out.type = PrefixSearchResultType::NonInclusionLeaf;
      QUENFOLD_TRY(const Node key, read(r.array<kSearchKeyLen>("PrefixLeaf.vrf_output")));
      QUENFOLD_TRY(const ByteView commitment, read(r.bytes(nc, "PrefixLeaf.commitment")));
      out.leaf = PrefixLeaf{key, copy(commitment)};
      break;
    }
    default: return malformed("unknown PrefixSearchResultType " + std::to_string(type));
  }
  QUENFOLD_TRY(out.depth, read(r.u8("PrefixSearchResult.depth")));
  QUENFOLD_CHECK(read(r.finish("PrefixProof.results (expected exactly one result)")));
  return out;
}

std::expected<PrefixProof, Error> read_prefix_proof(Reader r, std::size_t nc) {
  PrefixProof out;
  QUENFOLD_TRY(const Reader results, read(r.child(1, "PrefixProof.results")));
  QUENFOLD_TRY(out.result, read_search_result(results, nc));
  QUENFOLD_TRY(out.elements, read_hashes16(r, "PrefixProof.elements"));
  QUENFOLD_CHECK(read(r.finish("PrefixProof")));
  return out;
}

std::expected<LadderStep, Error> read_step(Reader& r, std::size_t nc) {
  LadderStep step;
  QUENFOLD_TRY(step.version, read(r.u32("LadderStep.version")));
  QUENFOLD_TRY(step.vrf_proof, read_opaque(r, 2, "LadderStep.vrf_proof"));
  QUENFOLD_TRY(const Reader prefix, read(r.child(2, "LadderStep.prefix_proof")));
  QUENFOLD_TRY(step.prefix_proof, read_prefix_proof(prefix, nc));
  QUENFOLD_TRY(const bool has_commitment, read_flag(r, "LadderStep.has_commitment", "LadderStep.has_commitment"));
  if (has_commitment) {
    QUENFOLD_TRY(const ByteView commitment, read(r.bytes(nc, "LadderStep.commitment")));
    step.commitment = copy(commitment);
  }
  return step;
}

std::expected<std::vector<LadderStep>, Error> read_ladder(Reader& r, std::size_t nc) {
  QUENFOLD_TRY(const std::uint16_t count, read(r.u16("Ladder.count")));
  std::vector<LadderStep> out;
  for (std::uint16_t i = 0; i < count; ++i) {
    QUENFOLD_TRY(LadderStep step, read_step(r, nc));
    out.push_back(std::move(step));
  }
  return out;
}

std::expected<std::optional<RevealedValue>, Error> read_revealed(Reader& r) {
  QUENFOLD_TRY(const bool present, read_flag(r, "RevealedValue.present", "RevealedValue.present"));
  if (!present) return std::optional<RevealedValue>{};
  RevealedValue v;
  QUENFOLD_TRY(v.value, read_opaque(r, 4, "RevealedValue.value"));
  QUENFOLD_TRY(v.opening, read_opaque(r, 1, "RevealedValue.opening"));
  return std::optional<RevealedValue>{std::move(v)};
}

// The fields of each proof kind after the header.
std::expected<void, Error> read_body(Reader& r, std::size_t nc, SearchProof& out) {
  QUENFOLD_TRY(const bool has_greatest,
               read_flag(r, "SearchProof.greatest_version", "SearchProof.greatest_version.present"));
  if (has_greatest) {
    QUENFOLD_TRY(out.greatest_version, read(r.u32("SearchProof.greatest_version")));
  }
  QUENFOLD_TRY(out.ladder, read_ladder(r, nc));
  QUENFOLD_TRY(out.value, read_revealed(r));
  return {};
}
std::expected<void, Error> read_body(Reader& r, std::size_t nc, FixedVersionProof& out) {
  QUENFOLD_TRY(out.step, read_step(r, nc));
  QUENFOLD_TRY(out.value, read_revealed(r));
  return {};
}
std::expected<void, Error> read_body(Reader& r, std::size_t nc, MonitorProof& out) {
  QUENFOLD_TRY(out.version, read(r.u32("MonitorProof.version")));
  QUENFOLD_TRY(out.ladder, read_ladder(r, nc));
  return {};
}

// A whole proof: the header of its kind, the kind's own fields, and nothing
// after them.
template <class Proof>
std::expected<Proof, Error> decode_proof(ByteView bytes, std::size_t nc, std::uint8_t kind, const char* kind_name,
                                         std::string_view struct_name) {
  Reader r(bytes);
  Proof out;
  QUENFOLD_TRY(out.header, read_header(r, kind, kind_name));
  QUENFOLD_CHECK(read_body(r, nc, out));
  QUENFOLD_CHECK(read(r.finish(struct_name)));
  return out;
}

// Appends an opaque vector with a `width`-byte length, or reports that the
// bytes exceed the vector's bound.
std::expected<void, Error> put_opaque(encoding::Writer& w, std::size_t width, ByteView b, std::string_view field) {
  if (static_cast<std::uint64_t>(b.size()) > encoding::max_prefixed_length(width)) {
    const std::string bound = width == 1 ? "<0..2^8-1> vector bound (255)"
                              : width == 2 ? "<0..2^16-1> vector bound (65535)"
                                           : "<0..2^32-1> vector bound";
    return malformed(std::string(field) + ": " + std::to_string(b.size()) + " bytes exceeds the " + bound);
  }
  w.prefixed(width, b);
  return {};
}

}  // namespace

std::expected<SearchProof, Error> decode_search_proof(ByteView bytes, std::size_t nc) {
  return decode_proof<SearchProof>(bytes, nc, kSearchKind, "search", "KeytransSearchProof");
}

std::expected<FixedVersionProof, Error> decode_fixed_version_proof(ByteView bytes, std::size_t nc) {
  return decode_proof<FixedVersionProof>(bytes, nc, kFixedVersionKind, "fixed-version",
                                         "KeytransFixedVersionProof");
}

std::expected<MonitorProof, Error> decode_monitor_proof(ByteView bytes, std::size_t nc) {
  return decode_proof<MonitorProof>(bytes, nc, kMonitorKind, "monitor", "KeytransMonitorProof");
}

// --- hashed structures -------------------------------------------------------

std::expected<Bytes, Error> encode_vrf_input(ByteView label, std::uint32_t version) {
  encoding::Writer w;
  QUENFOLD_CHECK(put_opaque(w, 1, label, "VrfInput.label"));
  w.u32(version);
  return w.take();
}

std::expected<Bytes, Error> encode_commitment_value(ByteView label, std::uint32_t version, ByteView value) {
  encoding::Writer w;
  QUENFOLD_CHECK(put_opaque(w, 1, label, "CommitmentValue.label"));
  w.u32(version);
  QUENFOLD_CHECK(put_opaque(w, 4, value, "UpdateValue.value"));
  return w.take();
}

}  // namespace quenfold::keytrans
