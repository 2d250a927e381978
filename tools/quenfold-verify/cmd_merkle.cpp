// inclusion, consistency: RFC 6962 proofs.
#include "cli.h"
#include "quenfold/merkle.h"

namespace quenfold::cli {
namespace {

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

int inclusion(const Args& a) {
  a.finish({"index", "size", "leaf-hash", "proof", "root"});
  const auto proof = a.has("proof") ? a.hex_list("proof") : std::vector<Bytes>{};
  return report(verify_inclusion(a.u64("index"), a.u64("size"), a.hex("leaf-hash"), views(proof), a.hex("root")));
}

int consistency(const Args& a) {
  a.finish({"size1", "size2", "proof", "root1", "root2"});
  const auto proof = a.has("proof") ? a.hex_list("proof") : std::vector<Bytes>{};
  return report(verify_consistency(a.u64("size1"), a.u64("size2"), views(proof), a.hex("root1"), a.hex("root2")));
}

}  // namespace

std::vector<Command> merkle_commands() {
  return {
      {"inclusion", "--index N --size N --leaf-hash HEX --proof HEX[,HEX...] --root HEX", inclusion, {},
       "Verifies an RFC 6962 inclusion proof: the leaf at --index of a tree of --size leaves\n"
       "is included under --root (32-byte SHA-256 hashes; --proof is the audit path).",
       "quenfold-verify inclusion --index 4 --size 7 --leaf-hash @examples/merkle/leaf4.hash "
       "--proof @examples/merkle/inclusion-4-of-7.proof --root @examples/merkle/root7.hash"},
      {"consistency", "--size1 N --size2 N --proof HEX[,HEX...] --root1 HEX --root2 HEX", consistency, {},
       "Verifies an RFC 6962 consistency proof: the tree of --size2 leaves with --root2 is an\n"
       "append-only extension of the tree of --size1 leaves with --root1.",
       "quenfold-verify consistency --size1 3 --size2 7 --proof @examples/merkle/consistency-3-to-7.proof "
       "--root1 @examples/merkle/root3.hash --root2 @examples/merkle/root7.hash"},
  };
}

}  // namespace quenfold::cli
