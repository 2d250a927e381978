// Seeds of witness_fuzz: a policy, an origin and a checkpoint note that
// meets it, for a few policy shapes (a threshold group, nested groups, a
// single witness, no log line) and log and witness key types (Ed25519,
// composite, RFC 6962, ML-DSA-44).
#include <string>

#include "corpus.h"
#include "fuzz_input.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold::corpus {

void witness_seeds(const std::filesystem::path& dir) {
  const std::string origin = "log.example/witnessed";
  const auto ed = test::NoteSigner::ed25519(origin, 0x5749);
  // A log key's name is the origin it signs for, whatever its type.
  const auto pq = test::NoteSigner::composite(origin, crypto::SignatureVersion::MlDsa44Ed25519, 0x5749);
  std::vector<test::Cosigner> w;
  for (std::uint64_t i = 0; i < 3; ++i) w.push_back(test::Cosigner::generate("witness.example/" + std::to_string(i), 0x5750 + i));
  const test::Bytes root(32, 0x42);
  const std::string body = test::checkpoint_body(origin, 42, root, {"ext"});
  // RFC 6962 tree heads cannot carry extension lines.
  const std::string body_only = test::checkpoint_body(origin, 42, root);
  const auto ct = test::Rfc6962Signer::generate(origin, 0x5760);
  const auto ml = test::SubtreeSigner::generate(origin, 0x5761);
  const auto ml_witness = test::SubtreeSigner::generate("witness.example/ml", 0x5762);
  const auto cosigned = [&](const test::NoteSigner& log, std::initializer_list<std::size_t> which) {
    std::string note = test::signed_note(body, {&log});
    for (const std::size_t i : which) note += w[i].cosignature_line(body, 1700000000 + i);
    return note;
  };
  const std::string witnesses = "witness a " + w[0].verifier_key() + "\nwitness b " + w[1].verifier_key() +
                                "\nwitness c " + w[2].verifier_key() + "\n";
  struct Seed {
    const char* name;
    std::string policy;
    std::string note;
  };
  const Seed seeds[] = {
      {"two-of-three", "log " + ed.verifier_key() + "\n" + witnesses + "group g 2 a b c\nquorum g\n",
       cosigned(ed, {0, 2})},
      {"nested", "# nested\nlog " + pq.verifier_key() + " https://log.example/\n" + witnesses +
                     "group ab any a b\ngroup all-of all ab c\nquorum all-of\n",
       cosigned(pq, {1, 2})},
      {"one-witness", "log " + ed.verifier_key() + "\n" + witnesses + "quorum b\n", cosigned(ed, {1})},
      {"no-log", witnesses + "group g all a b c\nquorum g\n", cosigned(ed, {0, 1, 2})},
      {"no-witness", "log " + ed.verifier_key() + "\nquorum none\n", cosigned(ed, {})},
      // The signature bodies of RFC 6962 logs (0x05) and of ML-DSA-44 logs
      // and witnesses (0x06), for mutations to reach their parsers.
      {"rfc6962-log", "log " + ct.verifier_key() + "\n" + witnesses + "quorum a\n",
       body_only + "\n" + ct.checkpoint_line(42, root, 1767139200000) + w[0].cosignature_line(body_only, 1700000000)},
      {"ml-dsa-44", "log " + ml.verifier_key() + "\nwitness m " + ml_witness.verifier_key() + "\nquorum m\n",
       body_only + "\n" + ml.checkpoint_line(origin, 42, root, 0) +
           ml_witness.checkpoint_line(origin, 42, root, 1700000001)},
  };
  for (const auto& s : seeds) {
    fuzz::FuzzOutput o;
    o.field(s.policy).field(origin).field(s.note);
    write_seed(dir, s.name, o.bytes());
  }
}

}  // namespace quenfold::corpus
