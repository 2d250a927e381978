#include "corpus.h"
#include "fuzz_input.h"
#include "support/merkle_tree.h"
#include "support/serialize.h"

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

}  // namespace

std::vector<std::pair<std::string, Generator>> generators() {
  return {
      {"lift_fuzz", lift_seeds},
      {"policy_fuzz", policy_seeds},
  };
}

}  // namespace quenfold::corpus
