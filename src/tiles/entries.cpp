// Entry bundles (tlog-tiles) and static-ct-api data tiles, read with the
// bounds-checked cursor and checked against the level-0 hashes.
#include <set>

#include "base/reader.h"
#include "crypto/hash.h"
#include "encoding/text.h"
#include "tiles/internal.h"

namespace quenfold {
namespace {

using encoding::Reader;
using encoding::ReadError;
using tiles::path_of;

// The position of entry i of a tile: index * 256 + i, when the tile could be
// in a tree at all.
std::expected<std::uint64_t, Error> first_position(const TileId& id) {
  if (id.index > (UINT64_MAX >> 8)) return std::unexpected(Error::malformed_tile(path_of(id), "index beyond any tree"));
  return id.index << 8;
}

std::string describe(const ReadError& e) {
  if (e.kind == ReadError::Kind::Trailing) return std::to_string(e.available) + " trailing bytes";
  const char* part = e.part == ReadError::Part::LengthPrefix ? " length" : "";
  return std::string(e.field) + part + " truncated at byte " + std::to_string(e.offset) + " (needs " +
         std::to_string(e.wanted) + ", has " + std::to_string(e.available) + ")";
}

std::expected<void, Error> check_entry_kind(const TileData& t, TileKind kind) {
  if (t.id.kind != kind || t.id.level != 0 || t.id.height != kTileHeight || t.id.width < 1 ||
      t.id.width > kTileWidth)
    return std::unexpected(Error::malformed_tile(
        path_of(t.id), kind == TileKind::Entries ? "not an entry bundle" : "not a static-ct data tile"));
  return {};
}

// The level-0 tile and the entry tile must be the same tile, the entry tile
// as wide as the level-0 one or full in its place.
std::expected<void, Error> check_pair(const AuthenticatedTile& level0, const TileData& t) {
  const TileId& l0 = level0.id();
  if (l0.level != 0 || l0.index != t.id.index)
    return std::unexpected(Error::malformed_tile(path_of(t.id), "checked against " + path_of(l0) +
                                                                    ", which is not its level-0 tile"));
  if (t.id.width != l0.width && !(l0.is_partial() && t.id.width == kTileWidth))
    return std::unexpected(Error::malformed_tile(path_of(t.id), "width " + std::to_string(t.id.width) +
                                                                    ", but its level-0 tile " + path_of(l0) +
                                                                    " has width " + std::to_string(l0.width)));
  return {};
}

std::expected<void, Error> check_slot(const AuthenticatedTile& level0, const TileData& t, std::uint32_t i,
                                      const Hash32& leaf_hash, std::uint64_t position) {
  if (level0.hashes()[i] != leaf_hash)
    return std::unexpected(Error::tile_hash_mismatch(
        path_of(t.id), "entry " + std::to_string(position) + " does not hash to its slot in " + path_of(level0.id())));
  return {};
}

}  // namespace

std::expected<std::vector<BundleEntry>, Error> parse_entry_bundle(const TileData& bundle) {
  QUENFOLD_CHECK(check_entry_kind(bundle, TileKind::Entries));
  QUENFOLD_TRY(const std::uint64_t first, first_position(bundle.id));
  std::vector<BundleEntry> out;
  out.reserve(bundle.id.width);
  Reader r(bundle.bytes);
  for (std::uint32_t i = 0; i < bundle.id.width; ++i) {
    auto data = r.prefixed(2, "entry");
    if (!data)
      return std::unexpected(Error::malformed_tile(path_of(bundle.id), "entry " + std::to_string(first + i) + ": " +
                                                                           describe(data.error())));
    out.push_back({first + i, *data});
  }
  if (auto done = r.finish("bundle"); !done)
    return std::unexpected(Error::malformed_tile(
        path_of(bundle.id), describe(done.error()) + " after its " + std::to_string(bundle.id.width) + " entries"));
  return out;
}

std::expected<std::vector<BundleEntry>, Error> verify_entry_bundle(const AuthenticatedTile& level0,
                                                                  const TileData& bundle) {
  QUENFOLD_CHECK(check_entry_kind(bundle, TileKind::Entries));
  QUENFOLD_CHECK(check_pair(level0, bundle));
  QUENFOLD_TRY(auto entries, parse_entry_bundle(bundle));
  entries.resize(level0.width());
  for (std::uint32_t i = 0; i < level0.width(); ++i)
    QUENFOLD_CHECK(check_slot(level0, bundle, i, tiles::leaf(entries[i].data), entries[i].index));
  return entries;
}

namespace {

// One TileLeaf (static-ct-api): a TimestampedEntry (RFC 6962 section 3.4),
// the precertificate for precert entries, and the chain's fingerprints.
// `all` is the rest of the tile; `consumed` is set to the leaf's length.
std::expected<CtTileLeaf, std::string> read_tile_leaf(ByteView all, std::uint64_t position, std::size_t& consumed) {
  auto fail = [](const ReadError& e) { return std::unexpected(describe(e)); };
  CtTileLeaf leaf;
  leaf.index = position;
  Reader te(all);
  auto timestamp = te.u64("timestamp");
  if (!timestamp) return fail(timestamp.error());
  leaf.timestamp = *timestamp;
  auto type = te.u16("entry_type");
  if (!type) return fail(type.error());
  if (*type == 0) {
    leaf.entry_type = CtEntryType::X509;
    auto cert = te.prefixed(3, "certificate");
    if (!cert) return fail(cert.error());
    if (cert->empty()) return std::unexpected("empty certificate");
    leaf.certificate = *cert;
  } else if (*type == 1) {
    leaf.entry_type = CtEntryType::Precert;
    auto ikh = te.bytes(32, "issuer_key_hash");
    if (!ikh) return fail(ikh.error());
    leaf.issuer_key_hash = *ikh;
    auto tbs = te.prefixed(3, "tbs_certificate");
    if (!tbs) return fail(tbs.error());
    if (tbs->empty()) return std::unexpected("empty tbs_certificate");
    leaf.certificate = *tbs;
  } else {
    return std::unexpected("unknown entry_type " + std::to_string(*type));
  }
  auto ext = te.prefixed(2, "extensions");
  if (!ext) return fail(ext.error());
  leaf.extensions = *ext;
  leaf.timestamped_entry = all.first(te.position());

  // CtExtensions: one-byte types, no duplicates, leaf_index (type 0) a
  // 40-bit big-endian integer; other types are carried, not interpreted.
  Reader xr(leaf.extensions);
  std::set<std::uint8_t> seen;
  bool has_index = false;
  while (!xr.empty()) {
    auto xt = xr.u8("extension_type");
    if (!xt) return fail(xt.error());
    auto xd = xr.prefixed(2, "extension_data");
    if (!xd) return fail(xd.error());
    if (!seen.insert(*xt).second) return std::unexpected("duplicate extension " + std::to_string(*xt));
    if (*xt == 0) {
      if (xd->size() != 5) return std::unexpected("leaf_index extension of " + std::to_string(xd->size()) + " bytes, want 5");
      leaf.leaf_index = Reader::big_endian(*xd);
      has_index = true;
    }
  }
  if (!has_index) return std::unexpected("no leaf_index extension");
  if (leaf.leaf_index != position)
    return std::unexpected("leaf_index extension says " + std::to_string(leaf.leaf_index));

  if (leaf.entry_type == CtEntryType::Precert) {
    auto pre = te.prefixed(3, "pre_certificate");
    if (!pre) return fail(pre.error());
    if (pre->empty()) return std::unexpected("empty pre_certificate");
    leaf.pre_certificate = *pre;
  }
  auto chain = te.prefixed(2, "certificate_chain");
  if (!chain) return fail(chain.error());
  if (chain->size() % 32 != 0)
    return std::unexpected("certificate_chain of " + std::to_string(chain->size()) + " bytes, not whole fingerprints");
  for (std::size_t i = 0; i < chain->size(); i += 32) leaf.chain.push_back(chain->subspan(i, 32));

  // MerkleTreeLeaf: version v1 (0), leaf_type timestamped_entry (0), then
  // the TimestampedEntry; its leaf hash adds RFC 6962's 0x00 prefix.
  static constexpr std::uint8_t kPrefix[3] = {0x00, 0x00, 0x00};
  leaf.leaf_hash = crypto::sha256({ByteView(kPrefix, 3), leaf.timestamped_entry});

  consumed = te.position();
  return leaf;
}

}  // namespace

std::expected<std::vector<CtTileLeaf>, Error> parse_data_tile(const TileData& data) {
  QUENFOLD_CHECK(check_entry_kind(data, TileKind::Data));
  QUENFOLD_TRY(const std::uint64_t first, first_position(data.id));
  std::vector<CtTileLeaf> out;
  out.reserve(data.id.width);
  std::size_t offset = 0;
  for (std::uint32_t i = 0; i < data.id.width; ++i) {
    std::size_t consumed = 0;
    auto leaf = read_tile_leaf(data.bytes.subspan(offset), first + i, consumed);
    if (!leaf)
      return std::unexpected(Error::malformed_tile(path_of(data.id), "entry " + std::to_string(first + i) +
                                                                         " (at byte " + std::to_string(offset) +
                                                                         "): " + leaf.error()));
    offset += consumed;
    out.push_back(std::move(*leaf));
  }
  if (offset != data.bytes.size())
    return std::unexpected(Error::malformed_tile(path_of(data.id), std::to_string(data.bytes.size() - offset) +
                                                                       " trailing bytes after its " +
                                                                       std::to_string(data.id.width) + " entries"));
  return out;
}

std::expected<std::vector<CtTileLeaf>, Error> verify_data_tile(const AuthenticatedTile& level0, const TileData& data) {
  QUENFOLD_CHECK(check_entry_kind(data, TileKind::Data));
  QUENFOLD_CHECK(check_pair(level0, data));
  QUENFOLD_TRY(auto leaves, parse_data_tile(data));
  leaves.resize(level0.width());
  for (std::uint32_t i = 0; i < level0.width(); ++i)
    QUENFOLD_CHECK(check_slot(level0, data, i, leaves[i].leaf_hash, leaves[i].index));
  return leaves;
}

std::expected<void, Error> verify_issuer(ByteView fingerprint, ByteView issuer) {
  if (fingerprint.size() != 32) return std::unexpected(Error::invalid_hash_length(fingerprint.size(), 32));
  const Hash32 h = crypto::sha256({issuer});
  if (!std::ranges::equal(h, fingerprint))
    return std::unexpected(Error::tile_hash_mismatch("issuer/" + encoding::hex_bytes(fingerprint),
                                                     "the certificate's SHA-256 is " + encoding::hex_bytes(h)));
  return {};
}

}  // namespace quenfold
