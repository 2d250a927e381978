#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "checkpoint/open.h"

#include "base/try.h"
#include "encoding/text.h"
#include "note/signed_note.h"
#include "note/verifier_key.h"
#include "quenfold/witness.h"

namespace quenfold {

struct WitnessPolicy::Impl {
  VerifierList logs;
  VerifierList witnesses;
  checkpoint::KeyIndex log_index;
  checkpoint::KeyIndex witness_index;
  std::optional<checkpoint::Quorum> quorum;  // none: no cosignature required

  Impl(VerifierList l, VerifierList w, std::optional<checkpoint::Quorum> q)
      : logs(std::move(l)),
        witnesses(std::move(w)),
        log_index(logs.parsed()),
        witness_index(witnesses.parsed()),
        quorum(std::move(q)) {}
};

namespace {

using Impl = WitnessPolicy::Impl;
using Node = checkpoint::Quorum::Node;
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
// Names, keys and memberships are kept in hash tables, so that parsing is
// linear in the text however many witnesses and members it lists.
class Builder {
 public:
  std::optional<std::string> log(std::string_view vkey) {
    auto key = VerifierKey::parse_any(vkey);
    if (!key) return note::key_failure_reason(key.error());
    if (key->kind == KeyKind::CosignatureV1)
      return "log key " + encoding::echoed(key->name) + " is a cosignature/v1 key, not a note-signing key";
    if (!log_keys_seen_.insert(key_bytes(*key)).second) return "duplicate log key " + encoding::echoed(key->name);
    logs_.push_back(std::move(*key));
    return std::nullopt;
  }

  std::optional<std::string> witness(std::string_view name, std::string_view vkey) {
    if (auto e = new_name(name)) return e;
    auto key = VerifierKey::parse_any(vkey);
    if (!key) return note::key_failure_reason(key.error());
    if (key->kind != KeyKind::CosignatureV1)
      return "witness key " + encoding::echoed(key->name) + " is not a cosignature/v1 key (type 0x04)";
    if (!witness_keys_seen_.insert(key_bytes(*key)).second)
      return "duplicate witness key " + encoding::echoed(key->name);
    define(name, Node{witnesses_.size(), 0, {}});
    witnesses_.push_back(std::move(*key));
    return std::nullopt;
  }

  std::optional<std::string> group(std::string_view name, std::string_view threshold,
                                   std::span<const std::string_view> members) {
    if (auto e = new_name(name)) return e;
    if (members.empty()) return "group " + encoding::echoed(name) + " has no members";
    Node g;
    g.members.reserve(members.size());
    for (const std::string_view m : members) {
      const auto node = lookup(m);
      if (!node) return "unknown witness or group " + encoding::echoed(m);
      // tlog-policy: each witness or group is a member of at most one
      // group. Otherwise one cosignature would count in two groups, and
      // "all of g1 and g2" could hold with fewer witnesses than it names.
      const auto [owner, fresh] = member_of_.try_emplace(*node, std::string(name));
      if (!fresh) {
        if (owner->second == name)
          return "group " + encoding::echoed(name) + " lists " + encoding::echoed(m) + " twice";
        return encoding::echoed(m) + " is already a member of group " + encoding::echoed(owner->second);
      }
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
    define(name, std::move(g));
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
  std::expected<std::shared_ptr<const Impl>, Error> finish() && {
    const auto fail = [](std::string detail) {
      return std::unexpected(Error::malformed_witness_policy(0, std::move(detail)));
    };
    if (!quorum_set_) return fail("missing quorum line");
    if (logs_.empty() && !quorum_) return fail("no log and quorum none: the policy verifies nothing");
    std::optional<checkpoint::Quorum> q;
    if (quorum_) q = checkpoint::Quorum{std::move(nodes_), *quorum_};
    return std::make_shared<const Impl>(list_of(std::move(logs_)), list_of(std::move(witnesses_)), std::move(q));
  }

 private:
  static std::string key_bytes(const VerifierKey& k) { return std::string(k.public_key.begin(), k.public_key.end()); }
  static VerifierList list_of(std::vector<VerifierKey> keys) { return VerifierList::of(std::move(keys)); }
  std::optional<std::string> new_name(std::string_view name) const {
    if (name == kNone) return std::string("the name \"none\" is reserved");
    if (lookup(name)) return "name " + encoding::echoed(name) + " defined twice";
    return std::nullopt;
  }
  std::optional<std::size_t> lookup(std::string_view name) const {
    const auto it = names_.find(std::string(name));
    if (it == names_.end()) return std::nullopt;
    return it->second;
  }
  void define(std::string_view name, Node node) {
    names_.emplace(std::string(name), nodes_.size());
    nodes_.push_back(std::move(node));
  }

  std::vector<VerifierKey> logs_;
  std::vector<VerifierKey> witnesses_;
  std::unordered_set<std::string> log_keys_seen_, witness_keys_seen_;  // public key bytes
  std::unordered_map<std::string, std::size_t> names_;                 // node of each name
  std::unordered_map<std::size_t, std::string> member_of_;             // group of each member node
  std::vector<Node> nodes_;
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
  QUENFOLD_TRY(auto impl, std::move(b).finish());
  return WitnessPolicy(std::move(impl));
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
  std::optional<checkpoint::Quorum> q;
  if (k > 0) {
    checkpoint::Quorum all;
    Node group;
    group.k = k;
    for (std::size_t i = 0; i < n; ++i) {
      all.nodes.push_back(Node{i, 0, {}});
      group.members.push_back(i);
    }
    all.nodes.push_back(std::move(group));
    all.root = n;  // the one group
    q = std::move(all);
  }
  return WitnessPolicy(std::make_shared<const Impl>(logs, witnesses, std::move(q)));
}

const VerifierList& WitnessPolicy::logs() const noexcept { return impl_->logs; }
const VerifierList& WitnessPolicy::witnesses() const noexcept { return impl_->witnesses; }

checkpoint::Trust WitnessPolicy::trust() const {
  checkpoint::Trust t;
  t.log_keys = impl_->logs.parsed();
  t.log_index = &impl_->log_index;
  t.witness_keys = impl_->witnesses.parsed();
  t.witness_index = &impl_->witness_index;
  t.quorum = impl_->quorum ? &*impl_->quorum : nullptr;
  t.require_log = !impl_->logs.empty();
  t.log_named_by_origin = true;
  return t;
}

std::expected<WitnessedNote, Error> WitnessPolicy::open(std::string_view note_text) const {
  QUENFOLD_TRY(auto opened, checkpoint::open_checkpoint(note_text, trust()));
  return WitnessedNote{std::move(opened.body), std::move(opened.log_signers), std::move(opened.cosigners)};
}

}  // namespace quenfold
