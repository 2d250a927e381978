#include "keytrans/verify.h"

#include <algorithm>
#include <array>
#include <string>

#include "commitment/commitment.h"
#include "base/try.h"
#include "crypto/hash.h"
#include "encoding/context.h"
#include "keytrans/ladder.h"
#include "keytrans/log_tree.h"
#include "keytrans/prefix_tree.h"
#include "keytrans/tls.h"
#include "quenfold/keytrans.h"

namespace quenfold::keytrans {
namespace {

// The commitment key that the IETF key transparency protocol fixes, in the
// open, for KT_128_SHA256_P256 and KT_128_SHA256_Ed25519: the commitment
// hides the value through the opening alone.
constexpr std::array<std::uint8_t, 16> kFixedCommitmentKey = {0xd8, 0x21, 0xf8, 0x79, 0x0d, 0x97,
                                                               0x70, 0x97, 0x96, 0xb4, 0xd7, 0x90,
                                                               0x33, 0x57, 0xc3, 0xf5};

std::unexpected<Error> malformed(std::string text) {
  return std::unexpected(Error::malformed_keytrans(std::move(text)));
}

std::expected<Node, Error> combined_root(ByteView root) {
  if (root.size() != kNodeLen)
    return malformed("combined root must be " + std::to_string(kNodeLen) + " bytes, got " +
                     std::to_string(root.size()));
  Node out{};
  std::copy(root.begin(), root.end(), out.begin());
  return out;
}

std::expected<void, Error> verify_log(const Node& root, const ProofHeader& h) {
  return verify_batch_inclusion(root, h.entry_index, h.tree_size, h.timestamp, h.prefix_root,
                                h.log_inclusion);
}

// The first steps of every verification, in their order: the trusted root's
// length, the proof's wire form, then its log entry under the root.
template <class Proof>
std::expected<Proof, Error> decode_in_log(const KeytransParams& params, ByteView root, ByteView proof_bytes,
                                          std::expected<Proof, Error> (*decode)(ByteView, std::size_t)) {
  QUENFOLD_TRY(const Node trusted, combined_root(root));
  QUENFOLD_TRY(Proof proof, decode(proof_bytes, suite_commitment_len(params.suite)));
  QUENFOLD_CHECK(verify_log(trusted, proof.header));
  return proof;
}

bool same_bytes(ByteView a, ByteView b) { return std::ranges::equal(a, b); }

// The rungs carry exactly the versions of the canonical ladder, in order.
bool ladder_matches(const std::vector<LadderStep>& ladder, const std::vector<std::uint64_t>& expected) {
  return std::ranges::equal(ladder, expected,
                            [](const LadderStep& s, std::uint64_t v) { return std::uint64_t{s.version} == v; });
}

std::string greatest_text(std::optional<std::uint32_t> greatest) {
  return greatest ? "Some(" + std::to_string(*greatest) + ")" : "None";
}

}  // namespace

std::expected<Bytes, Error> compute_commitment(const KeytransParams& params, ByteView label,
                                               std::uint32_t version, ByteView value, ByteView opening) {
  const std::size_t want = suite_opening_len(params.suite);
  if (opening.size() != want)
    return malformed("commitment opening must be " + std::to_string(want) + " bytes for " +
                     name_of(params.suite) + ", got " + std::to_string(opening.size()));
  QUENFOLD_TRY(const Bytes message, encode_commitment_value(label, version, value));
  if (params.suite == KeytransSuite::QuenfoldHybridExp) {
    const auto c = commit(params.context, message, opening);
    return Bytes(c.begin(), c.end());
  }
  const auto c = crypto::hmac_sha256(kFixedCommitmentKey, {opening, message});
  return Bytes(c.begin(), c.end());
}

std::expected<SearchResult, Error> verify_search(const KeytransParams& params, ByteView root,
                                                 ByteView label, ByteView proof_bytes) {
  QUENFOLD_TRY(SearchProof proof, decode_in_log(params, root, proof_bytes, decode_search_proof));
  // A search answers which version is the newest, so it must be made in the
  // newest prefix tree: a proof about an older log leaf verifies under the
  // same combined root and would let a server hide every later version.
  // (The log check above guarantees 0 <= entry_index < tree_size.)
  const std::uint64_t newest = proof.header.tree_size - 1;
  if (proof.header.entry_index != newest)
    return malformed("search proof must be about the newest log leaf " + std::to_string(newest) + ", got " +
                     std::to_string(proof.header.entry_index));

  const auto greatest = proof.greatest_version;
  // A claimed greatest version of 2^32 - 1 yields ladder values above 32
  // bits, which no 32-bit rung version equals: such a proof never matches.
  const std::vector<std::uint64_t> expected =
      greatest ? binary_ladder(*greatest) : std::vector<std::uint64_t>{0};
  if (!ladder_matches(proof.ladder, expected))
    return malformed("search ladder versions do not match the canonical binary ladder");

  for (const LadderStep& step : proof.ladder) {
    QUENFOLD_TRY(const bool inclusion, verify_rung(params, proof.header.prefix_root, label, step));
    const bool should = greatest && step.version <= *greatest;
    if (inclusion != should)
      return malformed("ladder rung version " + std::to_string(step.version) + " inclusion " +
                       (inclusion ? "true" : "false") + " contradicts claimed greatest " +
                       greatest_text(greatest));
  }
  if (!greatest) return SearchResult{false, std::nullopt};
  if (!proof.value) return malformed("present label is missing its revealed value");
  QUENFOLD_TRY(const Bytes c,
               compute_commitment(params, label, *greatest, proof.value->value, proof.value->opening));
  const auto rung = std::ranges::find_if(proof.ladder, [&](const LadderStep& s) { return s.version == *greatest; });
  if (rung == proof.ladder.end() || !rung->commitment)
    return malformed("greatest version is missing its inclusion commitment");
  if (!same_bytes(c, *rung->commitment)) return std::unexpected(Error::commitment_mismatch());
  return SearchResult{true, std::move(proof.value->value)};
}

std::expected<SearchResult, Error> verify_fixed_version(const KeytransParams& params, ByteView root,
                                                        ByteView label, ByteView proof_bytes) {
  QUENFOLD_TRY(FixedVersionProof proof, decode_in_log(params, root, proof_bytes, decode_fixed_version_proof));

  QUENFOLD_TRY(const bool inclusion, verify_rung(params, proof.header.prefix_root, label, proof.step));
  if (!inclusion) return SearchResult{false, std::nullopt};
  if (!proof.value) return malformed("present fixed version is missing its revealed value");
  QUENFOLD_TRY(const Bytes c,
               compute_commitment(params, label, proof.step.version, proof.value->value, proof.value->opening));
  if (!proof.step.commitment) return malformed("inclusion is missing its commitment");
  if (!same_bytes(c, *proof.step.commitment)) return std::unexpected(Error::commitment_mismatch());
  return SearchResult{true, std::move(proof.value->value)};
}

std::expected<void, Error> verify_monitor(const KeytransParams& params, ByteView root, ByteView label,
                                          ByteView proof_bytes) {
  QUENFOLD_TRY(MonitorProof proof, decode_in_log(params, root, proof_bytes, decode_monitor_proof));

  const auto expected = monitoring_ladder(proof.version);
  if (!ladder_matches(proof.ladder, expected))
    return malformed("monitor ladder versions do not match the canonical monitoring ladder");
  for (const LadderStep& step : proof.ladder) {
    QUENFOLD_TRY(const bool inclusion, verify_rung(params, proof.header.prefix_root, label, step));
    if (!inclusion) return std::unexpected(Error::keytrans_root_mismatch());
  }
  return {};
}

}  // namespace quenfold::keytrans

namespace quenfold {

namespace {
keytrans::KeytransParams experimental(std::string_view context, ByteView vrf_public) {
  return keytrans::make_params(KeytransSuite::QuenfoldHybridExp, encoding::bytes_of(context), vrf_public);
}

// A verification under the suite a `_suite` export names; an unknown suite
// id fails before anything else is looked at.
template <class Result>
std::expected<Result, Error> under_suite(std::uint16_t suite_id, std::string_view context, ByteView vrf_public,
                                         std::expected<Result, Error> (*verify)(const keytrans::KeytransParams&,
                                                                                ByteView, ByteView, ByteView),
                                         ByteView root, ByteView label, ByteView proof) {
  QUENFOLD_TRY(const auto params, keytrans::keytrans_params(suite_id, encoding::bytes_of(context), vrf_public));
  return verify(params, root, label, proof);
}
}  // namespace

std::expected<SearchResult, Error> keytrans_verify_search(std::string_view context, ByteView vrf_public,
                                                          ByteView root, ByteView label, ByteView proof) {
  return keytrans::verify_search(experimental(context, vrf_public), root, label, proof);
}

std::expected<SearchResult, Error> keytrans_verify_fixed_version(std::string_view context,
                                                                 ByteView vrf_public, ByteView root,
                                                                 ByteView label, ByteView proof) {
  return keytrans::verify_fixed_version(experimental(context, vrf_public), root, label, proof);
}

std::expected<void, Error> keytrans_verify_monitor(std::string_view context, ByteView vrf_public,
                                                   ByteView root, ByteView label, ByteView proof) {
  return keytrans::verify_monitor(experimental(context, vrf_public), root, label, proof);
}

std::expected<SearchResult, Error> keytrans_verify_search_suite(std::uint16_t suite_id,
                                                                std::string_view context,
                                                                ByteView vrf_public, ByteView root,
                                                                ByteView label, ByteView proof) {
  return under_suite(suite_id, context, vrf_public, keytrans::verify_search, root, label, proof);
}

std::expected<SearchResult, Error> keytrans_verify_fixed_version_suite(std::uint16_t suite_id,
                                                                       std::string_view context,
                                                                       ByteView vrf_public, ByteView root,
                                                                       ByteView label, ByteView proof) {
  return under_suite(suite_id, context, vrf_public, keytrans::verify_fixed_version, root, label, proof);
}

std::expected<void, Error> keytrans_verify_monitor_suite(std::uint16_t suite_id, std::string_view context,
                                                         ByteView vrf_public, ByteView root,
                                                         ByteView label, ByteView proof) {
  return under_suite(suite_id, context, vrf_public, keytrans::verify_monitor, root, label, proof);
}

}  // namespace quenfold
