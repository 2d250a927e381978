// Seeds of keytrans_fuzz: honest search, fixed-version and monitoring proofs
// of a test directory under every suite, through both the legacy exports
// and the suite-explicit ones.
#include "corpus.h"
#include "fuzz_input.h"
#include "support/keytrans_directory.h"

namespace quenfold::corpus {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

}  // namespace

void keytrans_seeds(const std::filesystem::path& dir) {
  int n = 0;
  for (const KeytransSuite suite : test::kAllKtSuites) {
    test::KeytransDirectory d(suite, 11);
    const auto label = bytes_of("dana");
    for (int i = 0; i < 5; ++i) d.add_version(label, bytes_of("value-" + std::to_string(i)));
    d.add_noise(6);
    d.publish(42);
    d.add_version(label, bytes_of("value-5"));
    d.publish(43);
    const auto root = d.combined_root();
    const std::vector<std::pair<int, test::Bytes>> proofs = {
        {0, test::kt_encode(d.search(label))},
        {1, test::kt_encode(d.fixed_version(label, 2))},
        {2, test::kt_encode(d.monitor(label, 1))},
    };
    for (const auto& [kind, proof] : proofs) {
      for (const bool with_suite : {false, true}) {
        fuzz::FuzzOutput o;
        o.u8(static_cast<std::uint8_t>(kind + (with_suite ? 3 : 0)));
        if (with_suite) {
          const auto id = test::kt_suite_id(suite);
          o.u8(static_cast<std::uint8_t>(id >> 8)).u8(static_cast<std::uint8_t>(id));
        }
        o.field(bytes_of(d.context())).field(d.vrf_public()).field(std::vector<std::uint8_t>(root.begin(), root.end()));
        o.field(label).field(proof);
        write_seed(dir, "kt-" + std::to_string(n++), o.bytes());
      }
    }
  }
}

}  // namespace quenfold::corpus
