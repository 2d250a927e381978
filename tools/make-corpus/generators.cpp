#include "corpus.h"
#include "fuzz_input.h"
#include "support/coniks_directory.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/serialize.h"
#include "support/signers.h"

namespace quenfold::corpus {
namespace {

using fuzz::FuzzOutput;
using test::Ser;

std::vector<std::uint8_t> hb(const test::Hash& h) { return {h.begin(), h.end()}; }

void lift_seeds(const std::filesystem::path& dir) {
  test::MerkleTree t;
  for (int i = 0; i < 13; ++i) t.append({static_cast<std::uint8_t>(i)});
  int n = 0;
  for (std::uint64_t i : {0u, 5u, 12u}) {
    FuzzOutput o;
    o.u8(1).u64(i).u64(13).u8(0);
    o.field(Ser().bytes(hb(t.leaf_hash(i))).out);
    o.field(Ser().bytes_list(t.inclusion_proof(i, 13)).out);
    o.field(Ser().bytes(hb(t.root())).out);
    write_seed(dir, "inclusion-" + std::to_string(n++), o.bytes());
  }
  for (std::uint64_t m : {1u, 4u, 7u}) {
    FuzzOutput o;
    o.u8(2).u64(m).u64(13).u8(0);
    o.field(Ser().bytes_list(t.consistency_proof(m, 13)).out);
    o.field(Ser().bytes(hb(t.root(m))).out);
    o.field(Ser().bytes(hb(t.root())).out);
    write_seed(dir, "consistency-" + std::to_string(m), o.bytes());
  }
  FuzzOutput kh;
  kh.u8(3).u8(0).field(std::string("brackle/key-history/v1"));
  kh.field(Ser().bytes({1, 2}).out).field(Ser().bytes({}).out).field(Ser().bytes({3}).out);
  kh.field(Ser().u8(1).bytes(std::vector<std::uint8_t>(64, 7)).out);
  write_seed(dir, "key-history", kh.bytes());
  FuzzOutput lists;
  lists.u8(0).field(Ser().string_list({"a", "b\xc3\xa9"}).out);
  write_seed(dir, "string-list", lists.bytes());
}

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

using V = crypto::SignatureVersion;
constexpr V kVersions[] = {V::MlDsa44Ed25519, V::MlDsa65Ed25519, V::MlDsa87Ed25519,
                           V::MlDsa87,        V::MlDsa65Ed448,   V::MlDsa87EcdsaP521};

// The note signers of the seeds: two Ed25519 keys and a composite key of
// every version.
std::vector<test::NoteSigner> note_signers() {
  std::vector<test::NoteSigner> out;
  out.push_back(test::NoteSigner::ed25519("log.example", 1));
  out.push_back(test::NoteSigner::ed25519("witness.example", 2));
  std::uint64_t seed = 3;
  for (V v : kVersions) {
    out.push_back(test::NoteSigner::composite("log.example/pq" + std::to_string(seed), v, seed));
    ++seed;
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> key_list(const std::vector<const test::NoteSigner*>& signers) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto* s : signers) out.push_back(bytes_of(s->verifier_key()));
  return out;
}

void note_seeds(const std::filesystem::path& dir) {
  const auto signers = note_signers();
  const std::string body = "log.example/checkpoint\n7\n" + test::base64_of(test::Bytes(32, 9)) + "\n";
  int n = 0;
  // Each signer alone, trusted alone; then every signer on one note with
  // only some keys trusted (unknown signature lines are skipped).
  for (const auto& s : signers) {
    FuzzOutput o;
    o.field(bytes_of(test::signed_note(body, {&s}))).list(key_list({&s}));
    write_seed(dir, "single-" + std::to_string(n++), o.bytes());
  }
  FuzzOutput both;
  both.field(bytes_of(test::signed_note("free text\n\nwith a blank line\n", {&signers[0], &signers[1]})))
      .list(key_list({&signers[1], &signers[0]}));
  write_seed(dir, "two-ed25519", both.bytes());
  FuzzOutput partial;
  partial.field(bytes_of(test::signed_note(body, {&signers[0], &signers[3], &signers[1]})))
      .list(key_list({&signers[3]}));
  write_seed(dir, "partial-trust", partial.bytes());
}

void checkpoint_seeds(const std::filesystem::path& dir) {
  const auto signers = note_signers();
  test::MerkleTree t;
  for (int i = 0; i < 21; ++i) t.append({static_cast<std::uint8_t>(i), 0x5a});
  const auto root_of = [&](std::uint64_t size) {
    const auto h = t.root(size);
    return test::Bytes(h.begin(), h.end());
  };
  const auto note_of = [&](std::uint64_t size, const test::NoteSigner& s, std::vector<std::string> ext = {}) {
    return bytes_of(test::signed_note(test::checkpoint_body("log.example/fuzz", size, root_of(size), ext), {&s}));
  };
  {
    FuzzOutput o;
    o.u8(0).field(bytes_of(test::checkpoint_body("log.example/fuzz", 21, root_of(21), {"ext one", "ext two"})));
    write_seed(dir, "parse", o.bytes());
  }
  int n = 0;
  for (std::size_t k : {0u, 2u, 4u, 7u}) {
    FuzzOutput o;
    o.u8(1).field(note_of(21, signers[k], {"extension"})).list(key_list({&signers[k]}));
    write_seed(dir, "verify-" + std::to_string(n++), o.bytes());
  }
  for (std::uint64_t i : {0u, 9u, 20u}) {
    FuzzOutput o;
    o.u8(2).field(note_of(21, signers[0])).list(key_list({&signers[0]})).u64(i);
    o.field(hb(t.leaf_hash(i))).list(t.inclusion_proof(i, 21));
    write_seed(dir, "inclusion-" + std::to_string(i), o.bytes());
  }
  for (std::uint64_t m : {1u, 6u, 16u}) {
    FuzzOutput o;
    o.u8(3).field(note_of(m, signers[3])).field(note_of(21, signers[3])).list(key_list({&signers[3]}));
    o.list(t.consistency_proof(m, 21));
    write_seed(dir, "consistency-" + std::to_string(m), o.bytes());
  }
}

void token_seeds(const std::filesystem::path& dir) {
  const auto message = bytes_of("token message");
  const auto context = bytes_of("quenfold-log.io/fuzz/v1");
  std::uint64_t seed = 1;
  for (V v : kVersions) {
    const auto signer = test::TokenSigner::generate(v, seed++);
    for (int decoded : {0, 1}) {
      FuzzOutput o;
      o.u8(static_cast<std::uint8_t>(decoded)).field(message).field(context);
      if (decoded != 0) {
        o.field(signer.sign_bytes(message, context)).field(signer.public_key_token_bytes());
      } else {
        o.field(bytes_of(signer.sign(message, context))).field(bytes_of(signer.public_key_token()));
      }
      write_seed(dir, "v" + std::to_string(static_cast<int>(v)) + (decoded != 0 ? "-raw" : "-text"), o.bytes());
    }
  }
}

void coniks_seeds(const std::filesystem::path& dir) {
  test::ConiksDirectory d("fuzz.example", 7);
  for (std::uint8_t i = 0; i < 40; ++i) d.insert({'u', i}, {'v', i, i});
  const auto root = d.root();
  const auto seed = [&](std::uint8_t which, const test::Bytes& identity, const test::Bytes& proof) {
    FuzzOutput o;
    o.u8(which).field(bytes_of(d.namespace_name())).field(d.vrf_public());
    o.field(std::vector<std::uint8_t>(root.begin(), root.end())).field(identity).field(proof);
    return o.bytes();
  };
  for (int k : {0, 17, 39}) {
    const auto i = static_cast<std::uint8_t>(k);
    const test::Bytes id{'u', i};
    write_seed(dir, "lookup-" + std::to_string(i), seed(0, id, d.lookup_proof(id)));
    write_seed(dir, "lookup-explicit-" + std::to_string(i), seed(0, id, d.lookup_parts(id, true).serialize()));
  }
  for (int k : {0, 1, 2}) {
    const auto i = static_cast<std::uint8_t>(k);
    const test::Bytes id{'x', i};
    write_seed(dir, "absence-" + std::to_string(i), seed(1, id, d.absence_proof(id)));
  }
  write_seed(dir, "absence-explicit", seed(1, {'x', 9}, d.absence_parts({'x', 9}, true).serialize()));
}

}  // namespace

std::vector<std::pair<std::string, Generator>> generators() {
  return {
      {"lift_fuzz", lift_seeds},
      {"note_fuzz", note_seeds},
      {"checkpoint_fuzz", checkpoint_seeds},
      {"token_fuzz", token_seeds},
      {"coniks_fuzz", coniks_seeds},
      {"policy_fuzz", policy_seeds},
      {"keytrans_fuzz", keytrans_seeds},
      {"witness_fuzz", witness_seeds},
      {"monitor_fuzz", monitor_seeds},
      {"tlog_proof_fuzz", tlog_proof_seeds},
      {"add_checkpoint_fuzz", add_checkpoint_seeds},
      {"tile_path_fuzz", tile_path_seeds},
      {"tile_entries_fuzz", tile_entries_seeds},
      {"tile_auth_fuzz", tile_auth_seeds},
  };
}

}  // namespace quenfold::corpus
