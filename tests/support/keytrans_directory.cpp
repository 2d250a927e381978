#include "support/keytrans_directory.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/hash.h"
#include "crypto/vrf.h"
#include "support/vrf_reference.h"

namespace quenfold::test {
namespace {

const crypto::Vrf& vrf_of(KeytransSuite suite) {
  return suite == KeytransSuite::Kt128Sha256P256 ? crypto::ecvrf_p256() : crypto::ecvrf_edwards25519();
}

// Big-endian appends and length-prefixed vectors.
struct Out {
  Bytes b;
  void raw(const std::uint8_t* p, std::size_t n) { b.insert(b.end(), p, p + n); }
  template <class C>
  void raw(const C& c) {
    raw(c.data(), c.size());
  }
  void uint(std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  template <class C>
  void vec(const C& c, int prefix) {
    uint(c.size(), prefix);
    raw(c);
  }
};

Bytes u64_bytes(std::uint64_t v) {
  Out o;
  o.uint(v, 8);
  return o.b;
}

Bytes vrf_input(const Bytes& label, std::uint32_t version) {
  Out o;
  o.vec(label, 1);
  o.uint(version, 4);
  return o.b;
}

std::string key_of(const Bytes& label) { return std::string(label.begin(), label.end()); }

bool bit(const Node& key, unsigned j) { return ((key[j / 8] >> (7 - j % 8)) & 1) != 0; }

}  // namespace

std::uint16_t kt_suite_id(KeytransSuite suite) {
  switch (suite) {
    case KeytransSuite::Kt128Sha256P256: return 0x0001;
    case KeytransSuite::Kt128Sha256Ed25519: return 0x0002;
    case KeytransSuite::QuenfoldHybridExp: return 0xF000;
  }
  throw std::logic_error("suite");
}
std::size_t kt_commitment_len(KeytransSuite suite) { return suite == KeytransSuite::QuenfoldHybridExp ? 64 : 32; }
std::size_t kt_opening_len(KeytransSuite suite) { return suite == KeytransSuite::QuenfoldHybridExp ? 32 : 16; }

Node kt_prefix_leaf(const Node& key, const Bytes& commitment) {
  const std::uint8_t tag = 0x01;
  return crypto::sha256({crypto::ByteView(&tag, 1), key, commitment});
}
Node kt_prefix_parent(const Node& left, const Node& right) {
  const std::uint8_t tag = 0x02;
  return crypto::sha256({crypto::ByteView(&tag, 1), left, right});
}
Node kt_log_leaf(std::uint64_t timestamp, const Node& prefix_root) {
  return crypto::sha256({u64_bytes(timestamp), prefix_root});
}

Bytes kt_commitment(KeytransSuite suite, const std::string& context, const Bytes& label,
                    std::uint32_t version, const Bytes& value, const Bytes& opening) {
  Out m;
  m.vec(label, 1);
  m.uint(version, 4);
  m.vec(value, 4);
  if (suite == KeytransSuite::QuenfoldHybridExp) {
    const Bytes ctx(context.begin(), context.end());
    const auto d = crypto::sha3_512({u64_bytes(ctx.size()), ctx, opening, m.b});
    return Bytes(d.begin(), d.end());
  }
  static const std::uint8_t key[16] = {0xd8, 0x21, 0xf8, 0x79, 0x0d, 0x97, 0x70, 0x97,
                                       0x96, 0xb4, 0xd7, 0x90, 0x33, 0x57, 0xc3, 0xf5};
  const auto d = crypto::hmac_sha256(key, {opening, m.b});
  return Bytes(d.begin(), d.end());
}

std::vector<std::uint64_t> kt_binary_ladder(std::uint64_t target) {
  std::vector<std::uint64_t> out;
  std::uint64_t v = 0;
  for (;;) {
    out.push_back(v);
    if (v > target) break;
    v = 2 * v + 1;
  }
  std::uint64_t lo = out.size() >= 2 ? out[out.size() - 2] : 0;
  std::uint64_t hi = out.back();
  while (hi - lo > 1) {
    const std::uint64_t mid = (lo + hi) / 2;
    out.push_back(mid);
    (target < mid ? hi : lo) = mid;
  }
  return out;
}

std::vector<std::uint64_t> kt_monitoring_ladder(std::uint64_t version) {
  std::vector<std::uint64_t> out;
  for (auto v : kt_binary_ladder(version))
    if (v <= version) out.push_back(v);
  return out;
}

// --- prefix tree -----------------------------------------------------------

Node PrefixTree::value(It begin, It end, unsigned depth) const {
  if (begin == end) return Node{};
  if (std::next(begin) == end) return kt_prefix_leaf(begin->first, begin->second);
  const It mid = std::find_if(begin, end, [&](const auto& kv) { return bit(kv.first, depth); });
  return kt_prefix_parent(value(begin, mid, depth + 1), value(mid, end, depth + 1));
}

Node PrefixTree::root() const { return value(leaves_.begin(), leaves_.end(), 0); }

keytrans::PrefixProof PrefixTree::prove(const Node& key) const {
  keytrans::PrefixProof out;
  auto& r = out.result;
  It begin = leaves_.begin();
  It end = leaves_.end();
  if (begin == end) {
    r.type = keytrans::PrefixSearchResultType::NonInclusionParent;
    r.depth = 0;
    return out;
  }
  for (unsigned depth = 0;; ++depth) {
    if (std::next(begin) == end) {
      r.depth = static_cast<std::uint8_t>(depth);
      if (begin->first == key) {
        r.type = keytrans::PrefixSearchResultType::Inclusion;
      } else {
        r.type = keytrans::PrefixSearchResultType::NonInclusionLeaf;
        r.leaf = keytrans::PrefixLeaf{begin->first, begin->second};
      }
      return out;
    }
    // A parent: descend on the key's side, the other side is the sibling.
    const It mid = std::find_if(begin, end, [&](const auto& kv) { return bit(kv.first, depth); });
    const bool right = bit(key, depth);
    const It cb = right ? mid : begin, ce = right ? end : mid;
    const It sb = right ? begin : mid, se = right ? mid : end;
    out.elements.push_back(value(sb, se, depth + 1));
    if (cb == ce) {
      r.type = keytrans::PrefixSearchResultType::NonInclusionParent;
      r.depth = static_cast<std::uint8_t>(depth);
      return out;
    }
    begin = cb;
    end = ce;
  }
}

// --- log tree --------------------------------------------------------------

namespace {
std::uint64_t largest_power_below(std::uint64_t n) {
  std::uint64_t k = 1;
  while (2 * k < n) k *= 2;
  return k;
}
Node log_parent(bool left_leaf, const Node& l, bool right_leaf, const Node& r) {
  const std::uint8_t ml = left_leaf ? 0 : 1;
  const std::uint8_t mr = right_leaf ? 0 : 1;
  return crypto::sha256({crypto::ByteView(&ml, 1), l, crypto::ByteView(&mr, 1), r});
}
}  // namespace

Node LogTree::value(std::uint64_t start, std::uint64_t end) const {
  if (end - start == 1) return leaves_.at(start);
  const std::uint64_t k = largest_power_below(end - start);
  return log_parent(k == 1, value(start, start + k), end - start - k == 1, value(start + k, end));
}

Node LogTree::root(std::uint64_t size) const {
  if (size == 0 || size > leaves_.size()) throw std::out_of_range("log tree size");
  return value(0, size);
}

void LogTree::collect(std::uint64_t index, std::uint64_t start, std::uint64_t end,
                      std::vector<Node>& out) const {
  if (index < start || index >= end) {
    // Unopened: its full subtrees, largest first.
    std::uint64_t at = start;
    for (int b = 63; b >= 0; --b) {
      const std::uint64_t size = std::uint64_t{1} << b;
      if (((end - start) & size) == 0) continue;
      out.push_back(value(at, at + size));
      at += size;
    }
    return;
  }
  if (end - start == 1) return;
  const std::uint64_t k = largest_power_below(end - start);
  collect(index, start, start + k, out);
  collect(index, start + k, end, out);
}

std::vector<Node> LogTree::proof(std::uint64_t index, std::uint64_t size) const {
  if (index >= size || size > leaves_.size()) throw std::out_of_range("log tree proof");
  std::vector<Node> out;
  collect(index, 0, size, out);
  return out;
}

// --- directory -------------------------------------------------------------

KeytransDirectory::KeytransDirectory(KeytransSuite suite, std::uint64_t seed, std::string context)
    : suite_(suite), context_(std::move(context)), seed_(seed) {
  // A deterministic secret: SHA-256 of the seed and a counter, the first
  // one the curve accepts.
  for (std::uint64_t ctr = 0;; ++ctr) {
    const auto d = crypto::sha256({u64_bytes(seed), u64_bytes(ctr), Bytes{'v', 'r', 'f'}});
    Bytes secret(d.begin(), d.end());
    auto pk = prover_for(vrf_of(suite)).public_key_from_secret(secret);
    if (pk) {
      vrf_secret_ = std::move(secret);
      vrf_public_ = std::move(*pk);
      break;
    }
  }
}

Bytes KeytransDirectory::vrf_proof(const Bytes& label, std::uint32_t version) const {
  auto pi = prover_for(vrf_of(suite_)).prove(vrf_secret_, vrf_input(label, version));
  if (!pi) throw std::runtime_error("vrf prove: " + pi.error().message());
  return *pi;
}

Node KeytransDirectory::search_key(const Bytes& label, std::uint32_t version) const {
  auto out = prover_for(vrf_of(suite_)).proof_to_hash(vrf_proof(label, version));
  if (!out) throw std::runtime_error("vrf proof_to_hash: " + out.error().message());
  Node k{};
  std::copy_n(out->begin(), k.size(), k.begin());
  return k;
}

Bytes KeytransDirectory::opening(const Bytes& label, std::uint32_t version) const {
  const auto d = crypto::sha256({u64_bytes(seed_), Bytes{'o', 'p', 'e', 'n'}, vrf_input(label, version)});
  return Bytes(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(kt_opening_len(suite_)));
}

Bytes KeytransDirectory::commitment(const Bytes& label, std::uint32_t version, const Bytes& value) const {
  return kt_commitment(suite_, context_, label, version, value, opening(label, version));
}

std::uint32_t KeytransDirectory::add_version(const Bytes& label, const Bytes& value) {
  auto& versions = labels_[key_of(label)];
  const auto version = static_cast<std::uint32_t>(versions.size());
  versions.push_back(Version{value, opening(label, version)});
  tree_.insert(search_key(label, version), commitment(label, version, value));
  return version;
}

void KeytransDirectory::add_noise(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto k = crypto::sha256({u64_bytes(seed_), u64_bytes(noise_++), Bytes{'n'}});
    const auto c = crypto::sha512({k});
    tree_.insert(k, Bytes(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(nc())));
  }
}

std::uint64_t KeytransDirectory::publish(std::uint64_t timestamp) {
  snapshots_.push_back(Snapshot{timestamp, tree_, labels_});
  log_.append(kt_log_leaf(timestamp, tree_.root()));
  return log_.size() - 1;
}

std::uint64_t KeytransDirectory::latest(std::optional<std::uint64_t> entry) const {
  if (snapshots_.empty()) throw std::logic_error("nothing published");
  return entry.value_or(snapshots_.size() - 1);
}

std::uint32_t KeytransDirectory::versions_at(const Bytes& label, std::uint64_t entry) const {
  const auto& labels = snapshots_.at(entry).labels;
  auto it = labels.find(key_of(label));
  return it == labels.end() ? 0 : static_cast<std::uint32_t>(it->second.size());
}

keytrans::ProofHeader KeytransDirectory::header(std::uint64_t entry) const {
  keytrans::ProofHeader h;
  h.entry_index = entry;
  h.tree_size = log_.size();
  h.timestamp = snapshots_.at(entry).timestamp;
  h.prefix_root = snapshots_.at(entry).tree.root();
  h.log_inclusion = log_.proof(entry, log_.size());
  return h;
}

keytrans::LadderStep KeytransDirectory::step(const Bytes& label, std::uint32_t version,
                                             std::uint64_t entry) const {
  keytrans::LadderStep s;
  s.version = version;
  s.vrf_proof = vrf_proof(label, version);
  const Node key = search_key(label, version);
  const auto& tree = snapshots_.at(entry).tree;
  s.prefix_proof = tree.prove(key);
  if (s.prefix_proof.result.type == keytrans::PrefixSearchResultType::Inclusion) {
    const auto& v = snapshots_.at(entry).labels.at(key_of(label)).at(version);
    s.commitment = commitment(label, version, v.value);
  }
  return s;
}

std::optional<keytrans::RevealedValue> KeytransDirectory::revealed(const Bytes& label, std::uint32_t version,
                                                                   std::uint64_t entry) const {
  if (version >= versions_at(label, entry)) return std::nullopt;
  const auto& v = snapshots_.at(entry).labels.at(key_of(label)).at(version);
  return keytrans::RevealedValue{v.value, v.opening};
}

keytrans::SearchProof KeytransDirectory::search(const Bytes& label, std::optional<std::uint64_t> entry) const {
  const std::uint64_t e = latest(entry);
  keytrans::SearchProof p;
  p.header = header(e);
  const std::uint32_t n = versions_at(label, e);
  if (n > 0) p.greatest_version = n - 1;
  const auto ladder = n > 0 ? kt_binary_ladder(n - 1) : std::vector<std::uint64_t>{0};
  for (auto v : ladder) p.ladder.push_back(step(label, static_cast<std::uint32_t>(v), e));
  if (n > 0) p.value = revealed(label, n - 1, e);
  return p;
}

keytrans::FixedVersionProof KeytransDirectory::fixed_version(const Bytes& label, std::uint32_t version,
                                                             std::optional<std::uint64_t> entry) const {
  const std::uint64_t e = latest(entry);
  keytrans::FixedVersionProof p;
  p.header = header(e);
  p.step = step(label, version, e);
  p.value = revealed(label, version, e);
  return p;
}

keytrans::MonitorProof KeytransDirectory::monitor(const Bytes& label, std::uint32_t version,
                                                  std::optional<std::uint64_t> entry) const {
  const std::uint64_t e = latest(entry);
  keytrans::MonitorProof p;
  p.header = header(e);
  p.version = version;
  for (auto v : kt_monitoring_ladder(version)) p.ladder.push_back(step(label, static_cast<std::uint32_t>(v), e));
  return p;
}

// --- encoders --------------------------------------------------------------

namespace {

void put_header(Out& o, std::uint8_t kind, const keytrans::ProofHeader& h) {
  o.uint(kind, 1);
  o.uint(h.entry_index, 8);
  o.uint(h.tree_size, 8);
  o.uint(h.timestamp, 8);
  o.raw(h.prefix_root);
  o.uint(h.log_inclusion.size() * 32, 2);
  for (const auto& n : h.log_inclusion) o.raw(n);
}

void put_ladder(Out& o, const std::vector<keytrans::LadderStep>& ladder) {
  o.uint(ladder.size(), 2);
  for (const auto& s : ladder) o.raw(kt_encode_step(s));
}

void put_revealed(Out& o, const std::optional<keytrans::RevealedValue>& v) {
  o.uint(v ? 1 : 0, 1);
  if (!v) return;
  o.vec(v->value, 4);
  o.vec(v->opening, 1);
}

}  // namespace

Bytes kt_encode_prefix_proof(const keytrans::PrefixProof& p) {
  Out result;
  result.uint(static_cast<std::uint8_t>(p.result.type), 1);
  if (p.result.leaf) {
    result.raw(p.result.leaf->vrf_output);
    result.raw(p.result.leaf->commitment);
  }
  result.uint(p.result.depth, 1);
  Out o;
  o.vec(result.b, 1);
  o.uint(p.elements.size() * 32, 2);
  for (const auto& n : p.elements) o.raw(n);
  return o.b;
}

Bytes kt_encode_step(const keytrans::LadderStep& s) {
  Out o;
  o.uint(s.version, 4);
  o.vec(s.vrf_proof, 2);
  o.vec(kt_encode_prefix_proof(s.prefix_proof), 2);
  o.uint(s.commitment ? 1 : 0, 1);
  if (s.commitment) o.raw(*s.commitment);
  return o.b;
}

Bytes kt_encode(const keytrans::SearchProof& p) {
  Out o;
  put_header(o, 1, p.header);
  o.uint(p.greatest_version ? 1 : 0, 1);
  if (p.greatest_version) o.uint(*p.greatest_version, 4);
  put_ladder(o, p.ladder);
  put_revealed(o, p.value);
  return o.b;
}

Bytes kt_encode(const keytrans::FixedVersionProof& p) {
  Out o;
  put_header(o, 2, p.header);
  o.raw(kt_encode_step(p.step));
  put_revealed(o, p.value);
  return o.b;
}

Bytes kt_encode(const keytrans::MonitorProof& p) {
  Out o;
  put_header(o, 3, p.header);
  o.uint(p.version, 4);
  put_ladder(o, p.ladder);
  return o.b;
}

}  // namespace quenfold::test
