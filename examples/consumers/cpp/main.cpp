// A C++ program using quenfold_log through its C++ API: plain functions over
// byte spans and string views returning std::expected<T, quenfold::Error>,
// whose message() is exactly the text a C caller receives.
//
// Usage: cpp_consumer <examples directory>
// Verifies the bundled example artefacts and a tampered copy of each, and
// exits 0 only when every verdict is the expected one.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "quenfold/quenfold.h"

namespace {

using quenfold::Bytes;
using quenfold::ByteView;

int failures = 0;
std::filesystem::path examples;

std::string read(const std::string& name) {
  std::ifstream in(examples / name, std::ios::binary);
  if (!in) {
    std::cerr << "cannot open " << (examples / name) << "\n";
    std::exit(2);
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Bytes from_hex(std::string_view text) {
  Bytes out;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
  return out;
}

// Whitespace-separated hex items of a file.
std::vector<Bytes> hex_items(const std::string& name) {
  std::istringstream in(read(name));
  std::vector<Bytes> out;
  for (std::string item; in >> item;) out.push_back(from_hex(item));
  return out;
}
Bytes hex_file(const std::string& name) { return hex_items(name).at(0); }

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

template <class T>
void verdict(const std::string& what, const std::expected<T, quenfold::Error>& r, bool expect_verified) {
  if (r) {
    std::cout << what << ": verified\n";
  } else {
    std::cout << what << ": rejected: " << r.error().message() << "\n";
  }
  if (r.has_value() != expect_verified) {
    std::cout << "  unexpected verdict\n";
    ++failures;
  }
}

void merkle_examples() {
  const Bytes leaf = hex_file("merkle/leaf4.hash");
  const Bytes root3 = hex_file("merkle/root3.hash");
  const Bytes root7 = hex_file("merkle/root7.hash");
  const auto inclusion = hex_items("merkle/inclusion-4-of-7.proof");
  const auto consistency = hex_items("merkle/consistency-3-to-7.proof");
  verdict("inclusion of leaf 4 in the size-7 tree",
          quenfold::verify_inclusion(4, 7, leaf, views(inclusion), root7), true);
  verdict("the same proof claimed for leaf 5",
          quenfold::verify_inclusion(5, 7, leaf, views(inclusion), root7), false);
  verdict("consistency from size 3 to size 7",
          quenfold::verify_consistency(3, 7, views(consistency), root3, root7), true);
  verdict("the same consistency proof with the roots swapped",
          quenfold::verify_consistency(3, 7, views(consistency), root7, root3), false);
}

void key_history_examples() {
  std::optional<Bytes> previous_entry_hash;
  for (int i = 0; i < 3; ++i) {
    std::map<std::string, std::string> fields;
    std::istringstream in(read("key_history/entry" + std::to_string(i) + ".txt"));
    for (std::string key, value; in >> key >> value;) fields[key] = value;
    const auto field = [&](const std::string& key) {
      const auto it = fields.find(key);
      return it == fields.end() ? std::string() : it->second;
    };
    const Bytes x25519 = from_hex(field("enc-x25519")), pq = from_hex(field("enc-pq")),
                signing = from_hex(field("signing-pub")), prev = from_hex(field("prev-entry-hash"));
    // No prev-entry-hash line: the genesis entry.
    std::optional<ByteView> prev_view;
    if (fields.contains("prev-entry-hash")) prev_view = ByteView(prev);
    const std::uint64_t seq = std::stoull(field("seq")), ts = std::stoull(field("ts-ms"));

    const std::string what = "key-history entry " + std::to_string(i);
    auto leaf = quenfold::key_history_v1_rfc6962_leaf_hash(seq, ts, x25519, pq, signing, prev_view);
    auto hash = quenfold::key_history_v1_entry_hash(seq, ts, x25519, pq, signing, prev_view);
    if (!leaf || !hash) {
      verdict(what, leaf ? hash : leaf, true);
      continue;
    }
    const bool leaf_ok = *leaf == hex_file("key_history/entry" + std::to_string(i) + ".leaf-hash");
    // Each entry links to the entry hash of its predecessor.
    const bool link_ok = i == 0 ? !prev_view : previous_entry_hash && prev == *previous_entry_hash;
    std::cout << what << ": leaf hash " << (leaf_ok ? "matches" : "differs") << ", chain link "
              << (link_ok ? "holds" : "broken") << "\n";
    if (!leaf_ok || !link_ok) ++failures;
    previous_entry_hash = *hash;
  }

  const Bytes commitment = hex_file("key_history/commitment.hex");
  const Bytes opening = hex_file("key_history/opening.hex");
  const std::string value = read("key_history/value.txt");
  const std::string_view mallory = "mallory";
  const auto as_bytes = [](std::string_view s) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  verdict("commitment opening",
          quenfold::verify_commitment("example.org/profile/v1", commitment, as_bytes(value), opening), true);
  verdict("the commitment opened to another value",
          quenfold::verify_commitment("example.org/profile/v1", commitment, as_bytes(mallory), opening), false);
}

void coniks_examples() {
  const Bytes vrf = hex_file("coniks/vrf-public.hex"), root = hex_file("coniks/root.hex");
  const auto blob = [](const std::string& name) {
    std::string all;
    for (const auto& item : hex_items(name)) all.append(item.begin(), item.end());
    return Bytes(all.begin(), all.end());
  };
  const Bytes alice = blob("coniks/alice.lookup.proof"), tampered = blob("coniks/alice.tampered.proof"),
              mallory = blob("coniks/mallory.absence.proof");
  const auto id = [](std::string_view s) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  auto value = quenfold::coniks_verify_lookup("example.org", vrf, root, id("alice@example.org"), alice);
  verdict("coniks lookup of alice", value, true);
  if (value) std::cout << "  value \"" << std::string(value->begin(), value->end()) << "\"\n";
  verdict("coniks lookup of alice with a tampered proof",
          quenfold::coniks_verify_lookup("example.org", vrf, root, id("alice@example.org"), tampered), false);
  verdict("coniks absence of mallory",
          quenfold::coniks_verify_absence("example.org", vrf, root, id("mallory@example.org"), mallory), true);
}

void checkpoint_examples() {
  std::vector<std::string> keys;
  std::istringstream in(read("log/keys.txt"));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) keys.push_back(line);
  const std::vector<std::string_view> vkeys(keys.begin(), keys.end());
  const auto head = quenfold::checkpoint_verify(read("log/checkpoint-7.note"), vkeys);
  verdict("checkpoint of size 7", head, true);
  if (head) {
    std::cout << "  origin " << head->origin << ", size " << head->size << "\n";
    if (head->size != 7) ++failures;
  }
  verdict("the size-7 checkpoint with its size rewritten",
          quenfold::checkpoint_verify(read("log/checkpoint-7-tampered.note"), vkeys), false);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <examples directory>\n";
    return 2;
  }
  examples = argv[1];
  merkle_examples();
  key_history_examples();
  coniks_examples();
  checkpoint_examples();
  std::cout << (failures == 0 ? "all verdicts as expected" : "some verdicts differ") << "\n";
  return failures == 0 ? 0 : 1;
}
