// inclusion, consistency: RFC 6962 proofs.
#include "cli.h"
#include "quenfold/merkle.h"

namespace quenfold::cli {
namespace {

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

Outcome inclusion(const Options& o) {
  const auto proof = o.hex_list("proof");
  return outcome_of(verify_inclusion(o.u64("index"), o.u64("size"), o.hex("leaf-hash"), views(proof), o.hex("root")));
}

Outcome consistency(const Options& o) {
  const auto proof = o.hex_list("proof");
  return outcome_of(verify_consistency(o.u64("size1"), o.u64("size2"), views(proof), o.hex("root1"), o.hex("root2")));
}

}  // namespace

void register_merkle(Registry& r) {
  r.add("inclusion",
        "Verifies an RFC 6962 inclusion proof: the leaf at --index of a tree of --size leaves is included "
        "under --root (32-byte SHA-256 hashes; --proof is the audit path).",
        "quenfold-verify inclusion --index 4 --size 7 --leaf-hash @examples/merkle/leaf4.hash "
        "--proof @examples/merkle/inclusion-4-of-7.proof --root @examples/merkle/root7.hash",
        inclusion)
      .required("index", "N", "Leaf index")
      .required("size", "N", "Tree size (number of leaves)")
      .required("leaf-hash", "HEX", "32-byte leaf hash")
      .optional("proof", "HEX[,HEX...]", "Audit path, leaf to root (empty when absent)")
      .required("root", "HEX", "32-byte root at --size");
  r.add("consistency",
        "Verifies an RFC 6962 consistency proof: the tree of --size2 leaves with --root2 is an append-only "
        "extension of the tree of --size1 leaves with --root1.",
        "quenfold-verify consistency --size1 3 --size2 7 --proof @examples/merkle/consistency-3-to-7.proof "
        "--root1 @examples/merkle/root3.hash --root2 @examples/merkle/root7.hash",
        consistency)
      .required("size1", "N", "Size of the older tree")
      .required("size2", "N", "Size of the newer tree")
      .optional("proof", "HEX[,HEX...]", "Consistency proof (empty when absent)")
      .required("root1", "HEX", "32-byte root of the older tree")
      .required("root2", "HEX", "32-byte root of the newer tree");
}

}  // namespace quenfold::cli
