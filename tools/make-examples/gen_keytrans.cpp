// examples/keytrans: one small KEYTRANS directory per suite. Each holds a
// label with six versions among a few other leaves, logged over three
// publications; the artefacts are a greatest-version search, a search for a
// label that is absent, a fixed-version search and a monitoring proof against
// the latest combined root, and (in the P-256 directory) a search proof whose
// revealed value was tampered with and one about an older log entry.
#include <string>

#include "examples.h"
#include "support/keytrans_directory.h"

namespace quenfold::examples {
namespace {

std::string hex_line(const std::vector<std::uint8_t>& b) { return hex(std::vector<unsigned char>(b.begin(), b.end())) + "\n"; }
std::vector<std::uint8_t> text(const std::string& s) { return {s.begin(), s.end()}; }

void make_directory(const std::filesystem::path& dir, KeytransSuite suite, std::uint64_t seed, bool tampered) {
  test::KeytransDirectory d(suite, seed, "example.org/keytrans-commitment/v1");
  const auto alice = text("alice@example.org");
  const auto carol = text("carol@example.org");
  d.add_version(alice, text("alice key 0"));
  d.add_version(carol, text("carol key 0"));
  d.add_noise(5);
  d.publish(1767225600000);
  for (int v = 1; v < 4; ++v) d.add_version(alice, text("alice key " + std::to_string(v)));
  d.add_noise(3);
  d.publish(1767229200000);
  for (int v = 4; v < 6; ++v) d.add_version(alice, text("alice key " + std::to_string(v)));
  d.add_version(carol, text("carol key 1"));
  d.publish(1767232800000);

  const auto root = d.combined_root();
  write_file(dir / "context.txt", d.context());
  write_file(dir / "vrf-public.hex", hex_line(d.vrf_public()));
  write_file(dir / "root.hex", hex_line(std::vector<std::uint8_t>(root.begin(), root.end())));
  write_file(dir / "search-alice.proof", hex_line(test::kt_encode(d.search(alice))));
  write_file(dir / "search-bob.proof", hex_line(test::kt_encode(d.search(text("bob@example.org")))));
  write_file(dir / "fixed-version-alice-2.proof", hex_line(test::kt_encode(d.fixed_version(alice, 2))));
  write_file(dir / "monitor-alice-4.proof", hex_line(test::kt_encode(d.monitor(alice, 4))));
  if (tampered) {
    auto p = d.search(alice);
    p.value->value = text("mallory key");
    write_file(dir / "search-alice-tampered.proof", hex_line(test::kt_encode(p)));
    // An honest search about the second log entry, when alice had versions
    // 0 to 3: it verifies under the same combined root, so a server could
    // use it to hide versions 4 and 5, and it is refused.
    write_file(dir / "search-alice-stale.proof", hex_line(test::kt_encode(d.search(alice, 1))));
  }
}

}  // namespace

void make_keytrans(const std::filesystem::path& dir) {
  make_directory(dir / "p256", KeytransSuite::Kt128Sha256P256, 101, true);
  make_directory(dir / "ed25519", KeytransSuite::Kt128Sha256Ed25519, 102, false);
  make_directory(dir / "experimental", KeytransSuite::QuenfoldHybridExp, 103, false);
}

}  // namespace quenfold::examples
