#include "coniks/lookup_proof.h"

#include <algorithm>
#include <bit>

#include "crypto/vrf.h"
#include "encoding/context.h"
#include "encoding/reader.h"
#include "encoding/text.h"

namespace quenfold::coniks {
namespace {

Error malformed(std::string detail) { return Error::malformed_coniks_proof(std::move(detail)); }

// The 8-byte length and the label, followed by room for `data_len` bytes.
std::vector<std::uint8_t> hash_input(std::string_view label, std::size_t data_len) {
  std::vector<std::uint8_t> out;
  out.reserve(8 + label.size() + data_len);
  encoding::put_be(out, label.size(), 8);
  out.insert(out.end(), label.begin(), label.end());
  out.resize(out.size() + data_len);
  return out;
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
  const auto tag = r.u8();
  if (!tag) return std::unexpected(malformed("empty proof"));
  const std::uint8_t want = presence ? kPresenceTag : kAbsenceTag;
  if (*tag != want)
    return std::unexpected(malformed(std::string(presence ? "expected presence tag 0x01, got 0x"
                                                          : "expected absence tag 0x00, got 0x") +
                                     encoding::hex_fixed(*tag, 2)));
  const ByteView body = r.rest();

  LookupProof out;
  auto vrf = read_length_prefixed(body, 0, "vrf proof");
  if (!vrf) return std::unexpected(vrf.error());
  out.vrf_proof = vrf->first;
  std::size_t pos = vrf->second;
  if (presence) {
    auto value = read_length_prefixed(body, pos, "value");
    if (!value) return std::unexpected(value.error());
    out.value = value->first;
    pos = value->second;
    encoding::Reader rest(body.subspan(pos));
    const auto opening = rest.take(kOpeningLen);
    if (!opening) return std::unexpected(malformed("missing opening"));
    out.opening = *opening;
    pos += kOpeningLen;
  }
  const ByteView path_bytes = body.subspan(pos);
  auto path = AuthPath::parse(path_bytes);
  if (!path) return std::unexpected(path.error());
  if (path->second != path_bytes.size())
    return std::unexpected(malformed("trailing bytes after authentication path"));
  out.path = path->first;
  return out;
}

}  // namespace

std::expected<std::pair<ByteView, std::size_t>, Error> read_length_prefixed(ByteView bytes,
                                                                            std::size_t position,
                                                                            std::string_view field_name) {
  if (position > bytes.size()) position = bytes.size();
  encoding::Reader r(bytes.subspan(position));
  const auto len = r.u32();
  if (!len) return std::unexpected(malformed(std::string(field_name) + ": missing 4-byte length prefix"));
  const auto field = r.take(*len);
  if (!field)
    return std::unexpected(malformed(std::string(field_name) + ": length prefix " + std::to_string(*len) +
                                     " overruns available bytes"));
  return std::pair{*field, position + r.position()};
}

std::expected<std::pair<AuthPath, std::size_t>, Error> AuthPath::parse(ByteView bytes) {
  encoding::Reader r(bytes);
  const auto bitmap_view = r.take(kBitmapLen);
  if (!bitmap_view) return std::unexpected(malformed("authentication path shorter than its bitmap"));
  const std::span<const std::uint8_t, kBitmapLen> bitmap(bitmap_view->data(), kBitmapLen);
  std::uint64_t k = 0;
  for (std::uint8_t b : bitmap) k += static_cast<std::uint64_t>(std::popcount(b));
  const std::uint64_t needed = kBitmapLen + kNodeLen * k;
  if (bytes.size() < needed)
    return std::unexpected(malformed("authentication path: bitmap implies " + std::to_string(k) +
                                     " sibling hashes (" + std::to_string(needed) + " bytes), only " +
                                     std::to_string(bytes.size()) + " available"));
  AuthPath path;
  for (std::size_t i = 0; i < kDepth; ++i) {
    if (!bit_at(bitmap, i)) continue;
    const auto sibling = r.take(kNodeLen);
    if (!sibling) return std::unexpected(malformed("authentication path: sibling out of bounds"));
    path.siblings[i] = *sibling;
  }
  return std::pair{path, r.position()};
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
  std::vector<std::uint8_t> alpha;
  alpha.reserve(4 + namespace_name.size() + identity.size());
  encoding::put_be(alpha, namespace_name.size(), 4);
  alpha.insert(alpha.end(), namespace_name.begin(), namespace_name.end());
  alpha.insert(alpha.end(), identity.begin(), identity.end());
  const auto verdict = crypto::ecvrf_edwards25519().verify(vrf_public, alpha, vrf_proof);
  if (!verdict) return std::unexpected(Error::vrf(verdict.error().message()));
  if (!verdict->valid) return std::unexpected(Error::vrf_proof_invalid());
  Index index{};
  std::copy_n(verdict->output.begin(), kIndexLen, index.begin());
  return index;
}

}  // namespace quenfold::coniks
