// examples/merkle: a log of seven leaves, an inclusion proof for leaf 4 and a
// consistency proof from size 3 to size 7.
#include <string>

#include "examples.h"
#include "support/merkle_tree.h"

namespace quenfold::examples {
namespace {
std::vector<unsigned char> v(const test::Hash& h) { return {h.begin(), h.end()}; }
std::string lines(const std::vector<test::Hash>& hs) {
  std::string out;
  for (const auto& h : hs) out += hex(v(h)) + "\n";
  return out;
}
}  // namespace

void make_merkle(const std::filesystem::path& dir) {
  test::MerkleTree t;
  for (int i = 0; i < 7; ++i) t.append(std::vector<std::uint8_t>{'l', 'e', 'a', 'f', static_cast<std::uint8_t>('0' + i)});
  write_file(dir / "leaf4.hash", hex(v(t.leaf_hash(4))) + "\n");
  write_file(dir / "root3.hash", hex(v(t.root(3))) + "\n");
  write_file(dir / "root7.hash", hex(v(t.root(7))) + "\n");
  write_file(dir / "inclusion-4-of-7.proof", lines(t.inclusion_proof(4, 7)));
  write_file(dir / "consistency-3-to-7.proof", lines(t.consistency_proof(3, 7)));
}

}  // namespace quenfold::examples
