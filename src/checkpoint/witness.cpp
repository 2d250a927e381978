#include <algorithm>
#include <optional>

#include "base/try.h"
#include "encoding/text.h"
#include "note/signed_note.h"
#include "note/verifier_key.h"
#include "quenfold/witness.h"

namespace quenfold {

// Every witness and group is a node, numbered in definition order. A group
// refers only to earlier nodes, so one pass in node order evaluates them all.
struct WitnessPolicy::Impl {
  struct Node {
    std::optional<std::size_t> witness;  // its index in `witnesses`; a group otherwise
    std::size_t k = 0;                   // group: at least k of
    std::vector<std::size_t> members;    // these earlier nodes
  };
  VerifierList logs;
  VerifierList witnesses;
  std::vector<Node> nodes;
  std::optional<std::size_t> quorum;  // none: no cosignature required
};

namespace {

using Impl = WitnessPolicy::Impl;
using note::KeyKind;
using note::VerifierKey;

constexpr std::string_view kNone = "none";

bool is_policy_space(char c) noexcept { return c == ' ' || c == '\t'; }

std::vector<std::string_view> split_items(std::string_view line) {
  std::vector<std::string_view> items;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_policy_space(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_policy_space(line[i])) ++i;
    if (i > start) items.push_back(line.substr(start, i - start));
  }
  return items;
}

// Canonical decimal in 1..max (no sign, no leading zero).
std::optional<std::size_t> parse_threshold(std::string_view text, std::size_t max) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
  std::size_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  if (v < 1 || v > max) return std::nullopt;
  return v;
}

// Builds a policy line by line; each method returns the failure's detail.
class Builder {
 public:
  std::optional<std::string> log(std::string_view vkey) {
    auto key = VerifierKey::parse_any(vkey);
    if (!key) return note::key_failure_reason(key.error());
    if (key->kind == KeyKind::CosignatureV1)
      return "log key " + encoding::echoed(key->name) + " is a cosignature/v1 key, not a note-signing key";
    if (duplicate(logs_, *key)) return "duplicate log key " + encoding::echoed(key->name);
    logs_.push_back(std::move(*key));
    return std::nullopt;
  }

  std::optional<std::string> witness(std::string_view name, std::string_view vkey) {
    if (auto e = new_name(name)) return e;
    auto key = VerifierKey::parse_any(vkey);
    if (!key) return note::key_failure_reason(key.error());
    if (key->kind != KeyKind::CosignatureV1)
      return "witness key " + encoding::echoed(key->name) + " is not a cosignature/v1 key (type 0x04)";
    if (duplicate(witnesses_, *key)) return "duplicate witness key " + encoding::echoed(key->name);
    names_.emplace_back(name);
    nodes_.push_back(Impl::Node{witnesses_.size(), 0, {}});
    witnesses_.push_back(std::move(*key));
    return std::nullopt;
  }

  std::optional<std::string> group(std::string_view name, std::string_view threshold,
                                   std::span<const std::string_view> members) {
    if (auto e = new_name(name)) return e;
    if (members.empty()) return "group " + encoding::echoed(name) + " has no members";
    Impl::Node g;
    for (const std::string_view m : members) {
      const auto node = lookup(m);
      if (!node) return "unknown witness or group " + encoding::echoed(m);
      if (std::find(g.members.begin(), g.members.end(), *node) != g.members.end())
        return "group " + encoding::echoed(name) + " lists " + encoding::echoed(m) + " twice";
      g.members.push_back(*node);
    }
    if (threshold == "all") {
      g.k = g.members.size();
    } else if (threshold == "any") {
      g.k = 1;
    } else {
      const auto k = parse_threshold(threshold, g.members.size());
      if (!k)
        return "group threshold " + encoding::echoed(threshold) + " is not all, any or a number from 1 to " +
               std::to_string(g.members.size());
      g.k = *k;
    }
    names_.emplace_back(name);
    nodes_.push_back(std::move(g));
    return std::nullopt;
  }

  std::optional<std::string> quorum(std::string_view name) {
    if (quorum_set_) return "second quorum line";
    quorum_set_ = true;
    if (name == kNone) return std::nullopt;
    const auto node = lookup(name);
    if (!node) return "unknown witness or group " + encoding::echoed(name);
    quorum_ = *node;
    return std::nullopt;
  }

  // Checks that hold for the policy as a whole.
  std::expected<WitnessPolicy::Impl, std::string> finish() && {
    if (!quorum_set_) return std::unexpected("missing quorum line");
    if (logs_.empty() && !quorum_) return std::unexpected("no log and quorum none: the policy verifies nothing");
    Impl impl;
    impl.nodes = std::move(nodes_);
    impl.quorum = quorum_;
    logs_out_ = std::move(logs_);
    witnesses_out_ = std::move(witnesses_);
    return impl;
  }

  std::vector<VerifierKey> logs_out_;
  std::vector<VerifierKey> witnesses_out_;

 private:
  static bool duplicate(const std::vector<VerifierKey>& keys, const VerifierKey& k) {
    return std::any_of(keys.begin(), keys.end(), [&](const VerifierKey& o) { return o.public_key == k.public_key; });
  }
  std::optional<std::string> new_name(std::string_view name) const {
    if (name == kNone) return std::string("the name \"none\" is reserved");
    if (lookup(name)) return "name " + encoding::echoed(name) + " defined twice";
    return std::nullopt;
  }
  std::optional<std::size_t> lookup(std::string_view name) const {
    const auto it = std::find(names_.begin(), names_.end(), name);
    if (it == names_.end()) return std::nullopt;
    return static_cast<std::size_t>(it - names_.begin());
  }

  std::vector<VerifierKey> logs_;
  std::vector<VerifierKey> witnesses_;
  std::vector<std::string> names_;  // of each node
  std::vector<Impl::Node> nodes_;
  std::optional<std::size_t> quorum_;
  bool quorum_set_ = false;
};

// Tab, line feed, printable ASCII and any byte with the high bit set.
bool allowed_policy_byte(unsigned char b) noexcept { return b == 0x09 || b == 0x0A || (b >= 0x20 && b != 0x7F); }

}  // namespace

std::expected<WitnessPolicy, Error> WitnessPolicy::parse(std::string_view text) {
  Builder b;
  std::uint64_t line_no = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    ++line_no;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const auto fail = [&](std::string detail) {
      return std::unexpected(Error::malformed_witness_policy(line_no, std::move(detail)));
    };
    const auto bad = std::find_if(line.begin(), line.end(),
                                  [](char c) { return !allowed_policy_byte(static_cast<unsigned char>(c)); });
    if (bad != line.end()) return fail("forbidden control character");
    const auto items = split_items(line);
    if (items.empty() || items[0].starts_with('#')) continue;

    const std::string_view keyword = items[0];
    const std::size_t n = items.size();
    std::optional<std::string> err;
    if (keyword == "log") {
      if (n < 2 || n > 3) return fail("want: log <vkey> [<url>]");
      err = b.log(items[1]);
    } else if (keyword == "witness") {
      if (n < 3 || n > 4) return fail("want: witness <name> <vkey> [<url>]");
      err = b.witness(items[1], items[2]);
    } else if (keyword == "group") {
      if (n < 4) return fail("want: group <name> all|any|<k> <name>...");
      err = b.group(items[1], items[2], std::span(items).subspan(3));
    } else if (keyword == "quorum") {
      if (n != 2) return fail("want: quorum <name>");
      err = b.quorum(items[1]);
    } else {
      return fail("unknown keyword " + encoding::echoed(keyword));
    }
    if (err) return fail(std::move(*err));
  }
  auto impl = std::move(b).finish();
  if (!impl) return std::unexpected(Error::malformed_witness_policy(0, std::move(impl.error())));
  impl->logs = VerifierList(std::make_shared<const std::vector<VerifierKey>>(std::move(b.logs_out_)));
  impl->witnesses = VerifierList(std::make_shared<const std::vector<VerifierKey>>(std::move(b.witnesses_out_)));
  return WitnessPolicy(std::make_shared<const Impl>(std::move(*impl)));
}

std::expected<WitnessPolicy, Error> WitnessPolicy::threshold(const VerifierList& logs, const VerifierList& witnesses,
                                                             std::size_t k) {
  const auto fail = [](std::string detail) {
    return std::unexpected(Error::malformed_witness_policy(0, std::move(detail)));
  };
  for (const VerifierKey& key : logs.parsed()) {
    if (key.kind == KeyKind::CosignatureV1)
      return fail("log key " + encoding::echoed(key.name) + " is a cosignature/v1 key, not a note-signing key");
  }
  for (const VerifierKey& key : witnesses.parsed()) {
    if (key.kind != KeyKind::CosignatureV1)
      return fail("witness key " + encoding::echoed(key.name) + " is not a cosignature/v1 key (type 0x04)");
  }
  const std::size_t n = witnesses.size();
  if (k > n) return fail("threshold " + std::to_string(k) + " exceeds the " + std::to_string(n) + " witnesses");
  if (logs.empty() && k == 0) return fail("no log and quorum none: the policy verifies nothing");
  Impl impl;
  impl.logs = logs;
  impl.witnesses = witnesses;
  Impl::Node all;
  all.k = k;
  for (std::size_t i = 0; i < n; ++i) {
    impl.nodes.push_back(Impl::Node{i, 0, {}});
    all.members.push_back(i);
  }
  if (k > 0) {
    impl.nodes.push_back(std::move(all));
    impl.quorum = n;  // the one group
  }
  return WitnessPolicy(std::make_shared<const Impl>(std::move(impl)));
}

const VerifierList& WitnessPolicy::logs() const noexcept { return impl_->logs; }
const VerifierList& WitnessPolicy::witnesses() const noexcept { return impl_->witnesses; }

std::expected<WitnessedNote, Error> WitnessPolicy::open(std::string_view note_text) const {
  QUENFOLD_TRY(const auto parsed_note, note::SignedNote::parse(note_text));
  const std::string& body = parsed_note.body();
  const auto log_keys = impl_->logs.parsed();
  const auto witness_keys = impl_->witnesses.parsed();

  WitnessedNote out;
  // The log's signatures as any verifier list checks them: a line from a
  // log key that does not verify rejects the note.
  if (!log_keys.empty()) {
    QUENFOLD_TRY(const auto lines, parsed_note.verify(log_keys));
    for (const note::VerifiedLine& line : lines)
      out.log_signers.push_back(
          Signer{line.key->name, line.key->key_id, note::key_type_of(line.key->kind), std::nullopt});
  }
  // A cosignature that does not verify only fails to count; each witness
  // counts once.
  std::vector<bool> cosigned(witness_keys.size(), false);
  for (const note::NoteSignature& sig : parsed_note.signatures()) {
    if (note::find_key(log_keys, sig) != nullptr) continue;  // a log line, checked above
    const VerifierKey* key = note::find_key(witness_keys, sig);
    if (key == nullptr) continue;
    const auto node = static_cast<std::size_t>(key - witness_keys.data());
    std::optional<std::uint64_t> timestamp;
    if (cosigned[node] || !note::verify_line(*key, body, sig, timestamp)) continue;
    cosigned[node] = true;
    out.cosigners.push_back(Signer{key->name, key->key_id, KeyType::CosignatureV1, timestamp});
  }

  if (impl_->quorum) {
    std::vector<bool> holds(impl_->nodes.size(), false);
    for (std::size_t i = 0; i < impl_->nodes.size(); ++i) {
      const auto& node = impl_->nodes[i];
      if (node.witness) {
        holds[i] = cosigned[*node.witness];
      } else {
        const auto count = static_cast<std::size_t>(
            std::count_if(node.members.begin(), node.members.end(), [&](std::size_t m) { return holds[m]; }));
        holds[i] = count >= node.k;
      }
    }
    if (!holds[*impl_->quorum]) {
      std::string detail = std::to_string(out.cosigners.size()) + " valid cosignature" +
                           (out.cosigners.size() == 1 ? "" : "s");
      for (std::size_t i = 0; i < out.cosigners.size(); ++i)
        detail += (i == 0 ? " (" : ", ") + encoding::echoed(out.cosigners[i].name);
      if (!out.cosigners.empty()) detail += ")";
      return std::unexpected(Error::witness_quorum_not_met(std::move(detail)));
    }
  }
  out.body = body;
  return out;
}

}  // namespace quenfold
