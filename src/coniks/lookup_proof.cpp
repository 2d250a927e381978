#include "coniks/lookup_proof.h"

#include <algorithm>
#include <bit>

#include "crypto/vrf.h"
#include "base/try.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "base/writer.h"

namespace quenfold::coniks {
namespace {

Error malformed(std::string detail) { return Error::malformed_coniks_proof(std::move(detail)); }

// The 8-byte length and the label, followed by room for `data_len` bytes.
std::vector<std::uint8_t> hash_input(std::string_view label, std::size_t data_len) {
  encoding::Writer w(8 + label.size() + data_len);
  w.prefixed(8, label);
  std::vector<std::uint8_t> out = w.take();
  out.resize(out.size() + data_len);
  return out;
}

// The fields of a lookup proof whose short reads have texts of their own.
constexpr std::string_view kTag = "tag";
constexpr std::string_view kOpening = "opening";
constexpr std::string_view kBitmap = "bitmap";
constexpr std::string_view kSibling = "sibling";

// Every reader failure of a lookup proof, in CONIKS's words.
Error read_error(const encoding::ReadError& e) {
  using Kind = encoding::ReadError::Kind;
  using Part = encoding::ReadError::Part;
  if (e.kind == Kind::Trailing) return malformed("trailing bytes after authentication path");
  if (e.field == kTag) return malformed("empty proof");
  if (e.field == kOpening) return malformed("missing opening");
  if (e.field == kBitmap) return malformed("authentication path shorter than its bitmap");
  if (e.field == kSibling) return malformed("authentication path: sibling out of bounds");
  if (e.part == Part::LengthPrefix) return malformed(std::string(e.field) + ": missing 4-byte length prefix");
  return malformed(std::string(e.field) + ": length prefix " + std::to_string(e.wanted) +
                   " overruns available bytes");
}

template <class T>
std::expected<T, Error> read(encoding::ReadResult<T> r) {
  return encoding::map_read_error(std::move(r), read_error);
}

std::string label(std::string_view namespace_name, std::string_view purpose) {
  std::string out(namespace_name);
  out += '/';
  out += purpose;
  out += "/v1";
  return out;
}

std::expected<LookupProof, Error> parse(ByteView proof, bool presence) {
  encoding::Reader r(proof);
  QUENFOLD_TRY(const std::uint8_t tag, read(r.u8(kTag)));
  const std::uint8_t want = presence ? kPresenceTag : kAbsenceTag;
  if (tag != want)
    return std::unexpected(malformed(std::string(presence ? "expected presence tag 0x01, got 0x"
                                                          : "expected absence tag 0x00, got 0x") +
                                     encoding::hex_fixed(tag, 2)));
  LookupProof out;
  QUENFOLD_TRY(out.vrf_proof, read(r.prefixed(kLengthPrefix, "vrf proof")));
  if (presence) {
    QUENFOLD_TRY(out.value, read(r.prefixed(kLengthPrefix, "value")));
    QUENFOLD_TRY(out.opening, read(r.bytes(kOpeningLen, kOpening)));
  }
  QUENFOLD_TRY(out.path, AuthPath::parse(r));
  QUENFOLD_CHECK(read(r.finish("authentication path")));
  return out;
}

}  // namespace

std::expected<AuthPath, Error> AuthPath::parse(encoding::Reader& r) {
  const std::size_t available = r.remaining();
  QUENFOLD_TRY(const ByteView bitmap_view, read(r.bytes(kBitmapLen, kBitmap)));
  const std::span<const std::uint8_t, kBitmapLen> bitmap(bitmap_view.data(), kBitmapLen);
  std::uint64_t k = 0;
  for (std::uint8_t b : bitmap) k += static_cast<std::uint64_t>(std::popcount(b));
  const std::uint64_t needed = kBitmapLen + kNodeLen * k;
  if (available < needed)
    return std::unexpected(malformed("authentication path: bitmap implies " + std::to_string(k) +
                                     " sibling hashes (" + std::to_string(needed) + " bytes), only " +
                                     std::to_string(available) + " available"));
  AuthPath path;
  for (std::size_t i = 0; i < kDepth; ++i) {
    if (!bit_at(bitmap, i)) continue;
    QUENFOLD_TRY(path.siblings[i], read(r.bytes(kNodeLen, kSibling)));
  }
  return path;
}

std::expected<LookupProof, Error> LookupProof::parse_presence(ByteView proof) { return parse(proof, true); }
std::expected<LookupProof, Error> LookupProof::parse_absence(ByteView proof) { return parse(proof, false); }

std::string commitment_label(std::string_view namespace_name) {
  return label(namespace_name, "coniks-commitment");
}

ConiksHasher::ConiksHasher(std::string_view namespace_name)
    : leaf_input_(hash_input(label(namespace_name, "coniks-leaf"), 1 + kIndexLen + kNodeLen)),
      leaf_prefix_len_(leaf_input_.size() - (1 + kIndexLen + kNodeLen)),
      node_input_(hash_input(label(namespace_name, "coniks-node"), 0)),
      node_prefix_len_(node_input_.size()),
      node_prefix_absorbed_(node_prefix_len_ >= kSha3_512BlockLen),
      empty_(kDepth + 1) {
  if (node_prefix_absorbed_) {
    node_prefix_.update(node_input_);
    node_input_.resize(2 * kNodeLen);
  } else {
    node_input_.resize(node_prefix_len_ + 2 * kNodeLen);
  }
  empty_[kDepth] = encoding::sha3_512_with_context(label(namespace_name, "coniks-empty"), ByteView{});
  for (std::size_t d = kDepth; d >= 1; --d) empty_[d - 1] = node_hash(empty_[d], empty_[d]);
}

Node ConiksHasher::node_hash(ByteView left, ByteView right) const {
  // The children written in place after the prefix, or alone when the
  // prefix state is copied in.
  const std::size_t at = node_prefix_absorbed_ ? 0 : node_prefix_len_;
  const std::span<std::uint8_t> children = std::span(node_input_).subspan(at);
  std::copy_n(left.begin(), std::min(left.size(), kNodeLen), children.begin());
  std::copy_n(right.begin(), std::min(right.size(), kNodeLen), children.begin() + kNodeLen);
  if (node_prefix_absorbed_) sha3_.copy_state_from(node_prefix_);
  return sha3_.update(node_input_).finish();
}

Node ConiksHasher::leaf_hash(const Index& index, const crypto::Bytes64& commitment) const {
  const std::span<std::uint8_t> data = std::span(leaf_input_).subspan(leaf_prefix_len_);
  data[0] = kLeafPrefix;
  std::copy(index.begin(), index.end(), data.begin() + 1);
  std::copy(commitment.begin(), commitment.end(), data.begin() + 1 + kIndexLen);
  return sha3_.update(leaf_input_).finish();
}

Node ConiksHasher::root_from_path(const Index& index, const Node& leaf, const AuthPath& path) const {
  Node current = leaf;
  for (std::size_t i = kDepth; i-- > 0;) {
    const ByteView sibling = path.siblings[i].empty() ? ByteView(empty_[i + 1]) : path.siblings[i];
    current = bit_at(index, i) ? node_hash(sibling, current) : node_hash(current, sibling);
  }
  return current;
}

std::expected<Index, Error> coniks_vrf_index(std::string_view namespace_name, ByteView identity,
                                             ByteView vrf_public, ByteView vrf_proof) {
  encoding::Writer alpha_writer(kLengthPrefix + namespace_name.size() + identity.size());
  alpha_writer.prefixed(kLengthPrefix, namespace_name).bytes(identity);
  const std::vector<std::uint8_t> alpha = alpha_writer.take();
  const auto verdict = crypto::ecvrf_edwards25519().verify(vrf_public, alpha, vrf_proof);
  if (!verdict) return std::unexpected(Error::vrf(verdict.error().message()));
  if (!verdict->valid) return std::unexpected(Error::vrf_proof_invalid());
  Index index{};
  std::copy_n(verdict->output.begin(), kIndexLen, index.begin());
  return index;
}

}  // namespace quenfold::coniks
