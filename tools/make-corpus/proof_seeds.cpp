// Seeds of tlog_proof_fuzz and add_checkpoint_fuzz: valid tlog proofs (with
// and without extra data, by leaf hash and by entry, under a log key alone
// and with witness keys) and add-checkpoint requests a witness accepts.
#include <string>

#include "corpus.h"
#include "fuzz_input.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold::corpus {
namespace {

constexpr std::string_view kOrigin = "log.example/proofs";

struct Log {
  test::NoteSigner key = test::NoteSigner::ed25519(std::string(kOrigin), 0x5052);
  test::Cosigner witness = test::Cosigner::generate("witness.example/w", 0x5053);
  test::MerkleTree tree;
  Log() {
    for (int i = 0; i < 13; ++i) tree.append(entry(i));
  }
  static test::Bytes entry(int i) {
    const std::string e = "entry " + std::to_string(i);
    return {e.begin(), e.end()};
  }
  std::string note(std::uint64_t size, bool cosigned) const {
    const auto root = tree.root(size);
    const std::string body = test::checkpoint_body(kOrigin, size, test::Bytes(root.begin(), root.end()));
    std::string n = test::signed_note(body, {&key});
    if (cosigned) n += witness.cosignature_line(body, 1700000000);
    return n;
  }
};

}  // namespace

void tlog_proof_seeds(const std::filesystem::path& dir) {
  const Log log;
  struct Seed {
    const char* name;
    std::uint64_t index, size;
    bool extra, cosigned, by_entry;
  };
  const Seed seeds[] = {
      {"plain", 5, 13, false, false, false},
      {"extra", 12, 13, true, false, true},
      {"cosigned", 0, 9, false, true, false},
      {"single-leaf", 0, 1, true, true, true},
  };
  for (const auto& s : seeds) {
    const std::optional<test::Bytes> extra =
        s.extra ? std::optional<test::Bytes>(test::Bytes(3, 0x76)) : std::nullopt;
    const std::string text =
        test::tlog_proof_text(extra, s.index, log.tree.inclusion_proof(s.index, s.size), log.note(s.size, s.cosigned));
    std::vector<std::string> keys = {log.key.verifier_key()};
    if (s.cosigned) keys.push_back(log.witness.verifier_key());
    const auto& leaf = log.tree.leaf_hash(s.index);
    fuzz::FuzzOutput o;
    o.field(text).field(std::string(kOrigin)).list(keys).u8(s.by_entry ? 1 : 0);
    if (s.by_entry) {
      o.field(Log::entry(static_cast<int>(s.index)));
    } else {
      o.field(leaf);
    }
    write_seed(dir, s.name, o.bytes());
  }
}

void add_checkpoint_seeds(const std::filesystem::path& dir) {
  const Log log;
  struct Seed {
    const char* name;
    bool stored;
    std::uint64_t old_size, size;
  };
  const Seed seeds[] = {
      {"first", false, 0, 7},
      {"append", true, 7, 13},
      {"same", true, 13, 13},
      {"power-of-two", true, 4, 8},
  };
  for (const auto& s : seeds) {
    const auto proof = s.stored && s.old_size != s.size ? log.tree.consistency_proof(s.old_size, s.size)
                                                        : std::vector<test::Hash>{};
    const std::string request = test::add_checkpoint_request(s.old_size, proof, log.note(s.size, s.stored));
    const auto root = log.tree.root(s.old_size);
    fuzz::FuzzOutput o;
    o.u8(s.stored ? 1 : 0).u64(s.old_size).field(root).field(std::string(kOrigin));
    o.list(std::vector<std::string>{log.key.verifier_key()}).field(request);
    write_seed(dir, s.name, o.bytes());
  }
}

}  // namespace quenfold::corpus
