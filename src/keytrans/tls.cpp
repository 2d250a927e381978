#include "keytrans/tls.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace quenfold::keytrans {
namespace {

std::unexpected<Error> malformed(std::string text) {
  return std::unexpected(Error::malformed_keytrans(std::move(text)));
}

std::string str(std::string_view s) { return std::string(s); }

Node to_node(ByteView b) noexcept {
  Node n{};
  std::memcpy(n.data(), b.data(), n.size());
  return n;
}

template <class T>
T be(ByteView b) noexcept {
  std::uint64_t v = 0;
  for (std::uint8_t x : b) v = (v << 8) | x;
  return static_cast<T>(v);
}

// Applies f to a successful read (std::expected::transform is not available
// in every standard library this builds with).
template <class F>
auto map(std::expected<ByteView, Error> r, F f) -> std::expected<decltype(f(ByteView{})), Error> {
  if (!r) return std::unexpected(std::move(r.error()));
  return f(*r);
}

Bytes copy(ByteView b) { return Bytes(b.begin(), b.end()); }

}  // namespace

// --- reader ------------------------------------------------------------------

std::expected<ByteView, Error> TlsReader::take(std::size_t n, std::string_view field) {
  const std::size_t pos = r_.position();
  if (n > std::numeric_limits<std::size_t>::max() - pos)
    return malformed(str(field) + ": length " + std::to_string(n) + " overflows offset");
  auto out = r_.take(n);
  if (!out)
    return malformed(str(field) + ": need " + std::to_string(n) + " bytes at offset " +
                     std::to_string(pos) + ", only " + std::to_string(r_.remaining()) + " available");
  return *out;
}

std::expected<std::uint8_t, Error> TlsReader::read_u8(std::string_view field) {
  return map(take(1, field), be<std::uint8_t>);
}
std::expected<std::uint16_t, Error> TlsReader::read_u16(std::string_view field) {
  return map(take(2, field), be<std::uint16_t>);
}
std::expected<std::uint32_t, Error> TlsReader::read_u32(std::string_view field) {
  return map(take(4, field), be<std::uint32_t>);
}
std::expected<std::uint64_t, Error> TlsReader::read_u64(std::string_view field) {
  return map(take(8, field), be<std::uint64_t>);
}

std::expected<ByteView, Error> TlsReader::read_vector(std::size_t prefix_len, std::string_view field) {
  auto len = take(prefix_len, field);
  if (!len) return std::unexpected(len.error());
  return take(be<std::size_t>(*len), field);
}

std::expected<Bytes, Error> TlsReader::read_opaque8(std::string_view field) {
  return map(read_vector(1, field), copy);
}
std::expected<Bytes, Error> TlsReader::read_opaque16(std::string_view field) {
  return map(read_vector(2, field), copy);
}
std::expected<Bytes, Error> TlsReader::read_opaque32(std::string_view field) {
  return map(read_vector(4, field), copy);
}

std::expected<std::vector<Node>, Error> TlsReader::read_hashes16(std::string_view field) {
  auto content = read_vector(2, field);
  if (!content) return std::unexpected(content.error());
  if (content->size() % kNodeLen != 0)
    return malformed(str(field) + ": " + std::to_string(content->size()) +
                     " bytes is not a multiple of the " + std::to_string(kNodeLen) + "-byte hash size");
  std::vector<Node> out;
  out.reserve(content->size() / kNodeLen);
  for (std::size_t i = 0; i < content->size(); i += kNodeLen)
    out.push_back(to_node(content->subspan(i, kNodeLen)));
  return out;
}

std::expected<void, Error> TlsReader::finish(std::string_view struct_name) const {
  if (r_.remaining() != 0)
    return malformed(str(struct_name) + ": " + std::to_string(r_.remaining()) +
                     " trailing byte(s) after struct");
  return {};
}

// --- writer ------------------------------------------------------------------

std::expected<void, Error> TlsWriter::put_opaque8(ByteView b, std::string_view field) {
  if (b.size() > 0xff)
    return malformed(str(field) + ": " + std::to_string(b.size()) +
                     " bytes exceeds the <0..2^8-1> vector bound (255)");
  put_u8(static_cast<std::uint8_t>(b.size()));
  put_bytes(b);
  return {};
}

std::expected<void, Error> TlsWriter::put_opaque16(ByteView b, std::string_view field) {
  if (b.size() > 0xffff)
    return malformed(str(field) + ": " + std::to_string(b.size()) +
                     " bytes exceeds the <0..2^16-1> vector bound (65535)");
  put_u16(static_cast<std::uint16_t>(b.size()));
  put_bytes(b);
  return {};
}

std::expected<void, Error> TlsWriter::put_opaque32(ByteView b, std::string_view field) {
  if (static_cast<std::uint64_t>(b.size()) > 0xffffffffull)
    return malformed(str(field) + ": " + std::to_string(b.size()) +
                     " bytes exceeds the <0..2^32-1> vector bound");
  put_u32(static_cast<std::uint32_t>(b.size()));
  put_bytes(b);
  return {};
}

// --- decoders ----------------------------------------------------------------

namespace {

std::expected<ProofHeader, Error> read_header(TlsReader& r, std::uint8_t expected_kind,
                                              const char* kind_name) {
  auto kind = r.read_u8("Proof.kind");
  if (!kind) return std::unexpected(kind.error());
  if (*kind != expected_kind)
    return malformed("expected " + str(kind_name) + " proof (kind " + std::to_string(expected_kind) +
                     "), got kind " + std::to_string(*kind));
  ProofHeader h;
  auto entry_index = r.read_u64("Proof.entry_index");
  if (!entry_index) return std::unexpected(entry_index.error());
  h.entry_index = *entry_index;
  auto tree_size = r.read_u64("Proof.tree_size");
  if (!tree_size) return std::unexpected(tree_size.error());
  h.tree_size = *tree_size;
  auto timestamp = r.read_u64("Proof.timestamp");
  if (!timestamp) return std::unexpected(timestamp.error());
  h.timestamp = *timestamp;
  auto root = r.take(kNodeLen, "Proof.prefix_root");
  if (!root) return std::unexpected(root.error());
  h.prefix_root = to_node(*root);
  auto inclusion = r.read_hashes16("Proof.log_inclusion");
  if (!inclusion) return std::unexpected(inclusion.error());
  h.log_inclusion = std::move(*inclusion);
  return h;
}

std::expected<PrefixSearchResult, Error> read_search_result(ByteView content, std::size_t nc) {
  TlsReader r(content);
  PrefixSearchResult out;
  auto type = r.read_u8("PrefixSearchResult.result_type");
  if (!type) return std::unexpected(type.error());
  switch (*type) {
    case 1: out.type = PrefixSearchResultType::Inclusion; break;
    case 3: out.type = PrefixSearchResultType::NonInclusionParent; break;
    case 2: {
      out.type = PrefixSearchResultType::NonInclusionLeaf;
      auto key = r.take(kSearchKeyLen, "PrefixLeaf.vrf_output");
      if (!key) return std::unexpected(key.error());
      auto commitment = r.take(nc, "PrefixLeaf.commitment");
      if (!commitment) return std::unexpected(commitment.error());
      out.leaf = PrefixLeaf{to_node(*key), Bytes(commitment->begin(), commitment->end())};
      break;
    }
    default: return malformed("unknown PrefixSearchResultType " + std::to_string(*type));
  }
  auto depth = r.read_u8("PrefixSearchResult.depth");
  if (!depth) return std::unexpected(depth.error());
  out.depth = *depth;
  if (auto done = r.finish("PrefixProof.results (expected exactly one result)"); !done)
    return std::unexpected(done.error());
  return out;
}

std::expected<PrefixProof, Error> read_prefix_proof(ByteView content, std::size_t nc) {
  TlsReader r(content);
  auto results = r.read_opaque8("PrefixProof.results");
  if (!results) return std::unexpected(results.error());
  auto result = read_search_result(*results, nc);
  if (!result) return std::unexpected(result.error());
  auto elements = r.read_hashes16("PrefixProof.elements");
  if (!elements) return std::unexpected(elements.error());
  if (auto done = r.finish("PrefixProof"); !done) return std::unexpected(done.error());
  return PrefixProof{std::move(*result), std::move(*elements)};
}

std::expected<LadderStep, Error> read_step(TlsReader& r, std::size_t nc) {
  LadderStep step;
  auto version = r.read_u32("LadderStep.version");
  if (!version) return std::unexpected(version.error());
  step.version = *version;
  auto vrf_proof = r.read_opaque16("LadderStep.vrf_proof");
  if (!vrf_proof) return std::unexpected(vrf_proof.error());
  step.vrf_proof = std::move(*vrf_proof);
  auto prefix = r.read_opaque16("LadderStep.prefix_proof");
  if (!prefix) return std::unexpected(prefix.error());
  auto prefix_proof = read_prefix_proof(*prefix, nc);
  if (!prefix_proof) return std::unexpected(prefix_proof.error());
  step.prefix_proof = std::move(*prefix_proof);
  auto has_commitment = r.read_u8("LadderStep.has_commitment");
  if (!has_commitment) return std::unexpected(has_commitment.error());
  if (*has_commitment > 1)
    return malformed("LadderStep.has_commitment must be 0 or 1, got " + std::to_string(*has_commitment));
  if (*has_commitment == 1) {
    auto commitment = r.take(nc, "LadderStep.commitment");
    if (!commitment) return std::unexpected(commitment.error());
    step.commitment = Bytes(commitment->begin(), commitment->end());
  }
  return step;
}

std::expected<std::vector<LadderStep>, Error> read_ladder(TlsReader& r, std::size_t nc) {
  auto count = r.read_u16("Ladder.count");
  if (!count) return std::unexpected(count.error());
  std::vector<LadderStep> out;
  for (std::uint16_t i = 0; i < *count; ++i) {
    auto step = read_step(r, nc);
    if (!step) return std::unexpected(step.error());
    out.push_back(std::move(*step));
  }
  return out;
}

std::expected<std::optional<RevealedValue>, Error> read_revealed(TlsReader& r) {
  auto present = r.read_u8("RevealedValue.present");
  if (!present) return std::unexpected(present.error());
  if (*present > 1)
    return malformed("RevealedValue.present must be 0 or 1, got " + std::to_string(*present));
  if (*present == 0) return std::optional<RevealedValue>{};
  auto value = r.read_opaque32("RevealedValue.value");
  if (!value) return std::unexpected(value.error());
  auto opening = r.read_opaque8("RevealedValue.opening");
  if (!opening) return std::unexpected(opening.error());
  return std::optional<RevealedValue>{RevealedValue{std::move(*value), std::move(*opening)}};
}

}  // namespace

std::expected<SearchProof, Error> decode_search_proof(ByteView bytes, std::size_t nc) {
  TlsReader r(bytes);
  SearchProof out;
  auto header = read_header(r, kSearchKind, "search");
  if (!header) return std::unexpected(header.error());
  out.header = std::move(*header);
  auto present = r.read_u8("SearchProof.greatest_version");
  if (!present) return std::unexpected(present.error());
  if (*present > 1)
    return malformed("SearchProof.greatest_version.present must be 0 or 1, got " + std::to_string(*present));
  if (*present == 1) {
    auto greatest = r.read_u32("SearchProof.greatest_version");
    if (!greatest) return std::unexpected(greatest.error());
    out.greatest_version = *greatest;
  }
  auto ladder = read_ladder(r, nc);
  if (!ladder) return std::unexpected(ladder.error());
  out.ladder = std::move(*ladder);
  auto value = read_revealed(r);
  if (!value) return std::unexpected(value.error());
  out.value = std::move(*value);
  if (auto done = r.finish("KeytransSearchProof"); !done) return std::unexpected(done.error());
  return out;
}

std::expected<FixedVersionProof, Error> decode_fixed_version_proof(ByteView bytes, std::size_t nc) {
  TlsReader r(bytes);
  FixedVersionProof out;
  auto header = read_header(r, kFixedVersionKind, "fixed-version");
  if (!header) return std::unexpected(header.error());
  out.header = std::move(*header);
  auto step = read_step(r, nc);
  if (!step) return std::unexpected(step.error());
  out.step = std::move(*step);
  auto value = read_revealed(r);
  if (!value) return std::unexpected(value.error());
  out.value = std::move(*value);
  if (auto done = r.finish("KeytransFixedVersionProof"); !done) return std::unexpected(done.error());
  return out;
}

std::expected<MonitorProof, Error> decode_monitor_proof(ByteView bytes, std::size_t nc) {
  TlsReader r(bytes);
  MonitorProof out;
  auto header = read_header(r, kMonitorKind, "monitor");
  if (!header) return std::unexpected(header.error());
  out.header = std::move(*header);
  auto version = r.read_u32("MonitorProof.version");
  if (!version) return std::unexpected(version.error());
  out.version = *version;
  auto ladder = read_ladder(r, nc);
  if (!ladder) return std::unexpected(ladder.error());
  out.ladder = std::move(*ladder);
  if (auto done = r.finish("KeytransMonitorProof"); !done) return std::unexpected(done.error());
  return out;
}

// --- hashed structures -------------------------------------------------------

std::expected<Bytes, Error> encode_vrf_input(ByteView label, std::uint32_t version) {
  TlsWriter w;
  if (auto ok = w.put_opaque8(label, "VrfInput.label"); !ok) return std::unexpected(ok.error());
  w.put_u32(version);
  return w.take();
}

std::expected<Bytes, Error> encode_commitment_value(ByteView label, std::uint32_t version,
                                                    ByteView value) {
  TlsWriter w;
  if (auto ok = w.put_opaque8(label, "CommitmentValue.label"); !ok) return std::unexpected(ok.error());
  w.put_u32(version);
  if (auto ok = w.put_opaque32(value, "UpdateValue.value"); !ok) return std::unexpected(ok.error());
  return w.take();
}

}  // namespace quenfold::keytrans
