// examples/coniks: a directory of four identities under the namespace
// example.org, a presence proof for alice, an absence proof for mallory, and
// alice's proof with its value altered.
#include <string>

#include "examples.h"
#include "support/coniks_directory.h"

namespace quenfold::examples {
namespace {
std::vector<unsigned char> v(const std::vector<std::uint8_t>& b) { return {b.begin(), b.end()}; }
std::vector<std::uint8_t> text(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

void make_coniks(const std::filesystem::path& dir) {
  test::ConiksDirectory d("example.org", 2026);
  for (const char* who : {"alice", "bob", "carol", "dave"})
    d.insert(text(std::string(who) + "@example.org"), text(std::string("public key of ") + who));
  const auto root = d.root();
  write_file(dir / "vrf-public.hex", hex(v(d.vrf_public())) + "\n");
  write_file(dir / "root.hex", hex(std::vector<unsigned char>(root.begin(), root.end())) + "\n");
  auto alice = d.lookup_parts(text("alice@example.org"));
  write_file(dir / "alice.lookup.proof", hex(v(alice.serialize())) + "\n");
  write_file(dir / "mallory.absence.proof", hex(v(d.absence_proof(text("mallory@example.org")))) + "\n");
  alice.value = text("public key of mallory");
  write_file(dir / "alice.tampered.proof", hex(v(alice.serialize())) + "\n");
}

}  // namespace quenfold::examples
