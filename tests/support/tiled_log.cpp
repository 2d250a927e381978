#include "support/tiled_log.h"

#include <openssl/sha.h>

#include <stdexcept>

namespace quenfold::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& out, std::uint64_t v, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put_prefixed(Bytes& out, const Bytes& data, int width) {
  put(out, data.size(), width);
  out.insert(out.end(), data.begin(), data.end());
}
Bytes sha256_of(const Bytes& b) {
  Bytes h(32);
  SHA256(b.data(), b.size(), h.data());
  return h;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

Bytes timestamped_entry(const CtEntry& e, std::uint64_t index) {
  Bytes out;
  put(out, e.timestamp, 8);
  put(out, e.precert ? 1 : 0, 2);
  if (e.precert) out.insert(out.end(), e.issuer_key_hash.begin(), e.issuer_key_hash.end());
  put_prefixed(out, e.certificate, 3);
  // CtExtensions holding one leaf_index extension: type 0, 5-byte value.
  Bytes ext{0x00};
  put(ext, 5, 2);
  put(ext, index, 5);
  put_prefixed(out, ext, 2);
  return out;
}

Bytes tile_leaf(const CtEntry& e, std::uint64_t index) {
  Bytes out = timestamped_entry(e, index);
  if (e.precert) put_prefixed(out, e.pre_certificate, 3);
  Bytes chain;
  for (const Bytes& issuer : e.issuers) {
    const Bytes fp = sha256_of(issuer);
    chain.insert(chain.end(), fp.begin(), fp.end());
  }
  put_prefixed(out, chain, 2);
  return out;
}

CtEntry sample_ct_entry(std::uint64_t i) {
  CtEntry e;
  e.precert = i % 2 == 1;
  e.timestamp = 1767139200000 + i;
  e.certificate = text("certificate " + std::to_string(i));
  if (e.precert) {
    e.issuer_key_hash = sha256_of(text("issuer key " + std::to_string(i % 3)));
    e.pre_certificate = text("precertificate " + std::to_string(i));
  }
  e.issuers.push_back(text("intermediate " + std::to_string(i % 3)));
  if (i % 5 == 0) e.issuers.push_back(text("root"));
  return e;
}

std::string tlog_path(const std::string& level, std::uint64_t index, std::uint32_t width) {
  std::vector<std::uint64_t> groups;
  do {
    groups.push_back(index % 1000);
    index /= 1000;
  } while (index > 0);
  std::string out = "tile/" + level + "/";
  for (std::size_t i = groups.size(); i-- > 0;) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s%03u", i > 0 ? "x" : "", static_cast<unsigned>(groups[i]));
    out += buf;
    if (i > 0) out += "/";
  }
  if (width < 256) out += ".p/" + std::to_string(width);
  return out;
}

TiledLog TiledLog::synthetic(std::uint64_t n, Kind kind) {
  TiledLog log;
  log.kind_ = kind;
  for (std::uint64_t i = 0; i < n; ++i) {
    if (kind == Kind::Bundles) {
      Bytes entry = text("entry " + std::to_string(i));
      const Hash h = leaf_hash_of(entry);
      log.add(std::move(entry), h);
    } else {
      const CtEntry e = sample_ct_entry(i);
      // MerkleTreeLeaf: version v1 (0), leaf_type timestamped_entry (0).
      Bytes mtl{0x00, 0x00};
      const Bytes te = timestamped_entry(e, i);
      mtl.insert(mtl.end(), te.begin(), te.end());
      log.add(tile_leaf(e, i), leaf_hash_of(mtl));
    }
  }
  log.build_levels();
  return log;
}

TiledLog TiledLog::of_entries(const std::vector<Bytes>& entries) {
  TiledLog log;
  for (const Bytes& e : entries) log.add(e, leaf_hash_of(e));
  log.build_levels();
  return log;
}

void TiledLog::add(Bytes record, const Hash& leaf_hash) {
  records_.push_back(std::move(record));
  tree_.append_hash(leaf_hash);
}

void TiledLog::build_levels() {
  levels_.clear();
  std::vector<Hash> level;
  for (std::uint64_t i = 0; i < size(); ++i) level.push_back(tree_.leaf_hash(i));
  while (!level.empty()) {
    levels_.push_back(level);
    std::vector<Hash> up;
    for (std::size_t j = 0; j + 256 <= level.size(); j += 256) {
      std::vector<Hash> run(level.begin() + static_cast<std::ptrdiff_t>(j),
                            level.begin() + static_cast<std::ptrdiff_t>(j + 256));
      while (run.size() > 1) {
        std::vector<Hash> next;
        for (std::size_t k = 0; k < run.size(); k += 2) next.push_back(node_hash_of(run[k], run[k + 1]));
        run = std::move(next);
      }
      up.push_back(run[0]);
    }
    level = std::move(up);
  }
}

Bytes TiledLog::hash_tile(std::uint64_t size, unsigned level, std::uint64_t index) const {
  std::uint64_t unit = 1;
  for (unsigned l = 0; l < level; ++l) unit *= 256;
  const std::uint64_t total = size / unit;  // hashes at this level in a tree of `size`
  const std::uint64_t begin = index * 256;
  if (begin >= total) throw std::out_of_range("no such tile");
  const std::uint64_t end = std::min(total, begin + 256);
  Bytes out;
  for (std::uint64_t j = begin; j < end; ++j) {
    const Hash& h = levels_.at(level).at(j);
    out.insert(out.end(), h.begin(), h.end());
  }
  return out;
}

Bytes TiledLog::entry_tile(std::uint64_t size, std::uint64_t index) const {
  const std::uint64_t begin = index * 256;
  if (begin >= size) throw std::out_of_range("no such tile");
  const std::uint64_t end = std::min(size, begin + 256);
  Bytes out;
  for (std::uint64_t i = begin; i < end; ++i) {
    if (kind_ == Kind::Bundles)
      put_prefixed(out, records_.at(i), 2);
    else
      out.insert(out.end(), records_.at(i).begin(), records_.at(i).end());
  }
  return out;
}

std::map<std::string, Bytes> TiledLog::files(std::uint64_t size) const {
  if (size > this->size()) throw std::out_of_range("tree larger than the log");
  std::map<std::string, Bytes> out;
  std::uint64_t unit = 1;
  for (unsigned level = 0; size / unit > 0; ++level, unit *= 256) {
    const std::uint64_t total = size / unit;
    for (std::uint64_t n = 0; n * 256 < total; ++n) {
      const auto width = static_cast<std::uint32_t>(std::min<std::uint64_t>(256, total - n * 256));
      out[tlog_path(std::to_string(level), n, width)] = hash_tile(size, level, n);
    }
    if (unit > UINT64_MAX / 256) break;
  }
  const std::string entries = kind_ == Kind::Bundles ? "entries" : "data";
  for (std::uint64_t n = 0; n * 256 < size; ++n) {
    const auto width = static_cast<std::uint32_t>(std::min<std::uint64_t>(256, size - n * 256));
    out[tlog_path(entries, n, width)] = entry_tile(size, n);
  }
  return out;
}

}  // namespace quenfold::test
