// Seeds of policy_fuzz: signed envelopes of both routes and every kind of
// observed value, so that mutations start from envelopes that verify.
#include "corpus.h"
#include "fuzz_input.h"
#include "support/policy_builder.h"
#include "support/serialize.h"

namespace quenfold::corpus {

void policy_seeds(const std::filesystem::path& dir) {
  using fuzz::FuzzOutput;
  const auto& signer = test::default_policy_signer();
  const std::vector<std::pair<std::string, test::PolicyRecord>> records = {
      {"coniks", test::PolicyRecord{}},
      {"keytrans", test::PolicyRecord::keytrans("example.org")},
      {"cat5", test::PolicyRecord::cat5(3)},
  };
  for (const auto& [name, record] : records) {
    const auto envelope = test::sign_policy(record, signer);
    write_seed(dir, name + "-verify", FuzzOutput().u8(0).field(envelope).bytes());
    write_seed(dir, name + "-key", FuzzOutput().u8(1).field(envelope).field(signer.public_key_token()).bytes());
    write_seed(dir, name + "-signature",
               FuzzOutput().u8(2).field(envelope).field(signer.sign(test::Bytes{1}, test::Bytes{2})).bytes());
    write_seed(dir, name + "-vrf", FuzzOutput().u8(3).field(envelope).u8(3).bytes());
    write_seed(dir, name + "-hash", FuzzOutput().u8(4).field(envelope).field(test::Ser().i32(1).out).bytes());
    write_seed(dir, name + "-backend", FuzzOutput().u8(5).field(envelope).u8(0xf0).u8(0x04).bytes());
  }
}

}  // namespace quenfold::corpus
