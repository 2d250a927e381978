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
      {"inclusion", "--index N --size N --leaf-hash HEX --proof HEX[,HEX...] --root HEX", inclusion, {}},
      {"consistency", "--size1 N --size2 N --proof HEX[,HEX...] --root1 HEX --root2 HEX", consistency, {}},
  };
}

}  // namespace quenfold::cli
