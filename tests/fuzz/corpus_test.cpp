// The seed corpora are valid artefacts: every seed of the structure-aware
// targets verifies when decoded the way its fuzz target decodes it. A seed
// the verifier rejects would start the fuzzer at a shallow failure instead
// of deep inside the verifier.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <string>
#include <vector>

#include "corpus.h"
#include "crypto/sign.h"
#include "fuzz_input.h"
#include "quenfold/checkpoint.h"
#include "quenfold/coniks.h"
#include "quenfold/keytrans.h"
#include "quenfold/note.h"
#include "quenfold/tiles.h"

namespace quenfold::corpus {
namespace {

using fuzz::FuzzInput;
using Raw = std::vector<std::uint8_t>;

std::string text(const Raw& b) { return {b.begin(), b.end()}; }

class Seeds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::filesystem::temp_directory_path() / ("quenfold-corpus-" + std::to_string(::getpid()));
    for (const auto& [target, make] : generators()) make(root_ / target);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(root_); }

  static std::vector<std::pair<std::string, Raw>> seeds(const std::string& target) {
    std::vector<std::pair<std::string, Raw>> out;
    for (const auto& e : std::filesystem::directory_iterator(root_ / target)) {
      std::ifstream f(e.path(), std::ios::binary);
      out.emplace_back(e.path().filename().string(), Raw(std::istreambuf_iterator<char>(f), {}));
    }
    EXPECT_FALSE(out.empty()) << target;
    return out;
  }

  // The vkey list of a seed, as views over storage the caller keeps.
  static std::vector<std::string_view> views(const std::vector<std::string>& keys) { return {keys.begin(), keys.end()}; }
  static std::vector<std::string> texts(const std::vector<Raw>& list) {
    std::vector<std::string> out;
    for (const auto& b : list) out.push_back(text(b));
    return out;
  }
  static std::vector<ByteView> bytes_views(const std::vector<Raw>& list) { return {list.begin(), list.end()}; }

  static inline std::filesystem::path root_;
};

TEST_F(Seeds, EveryNoteSeedVerifies) {
  for (const auto& [name, raw] : seeds("note_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const std::string note = text(in.field());
    const auto keys = texts(in.list());
    const auto r = verify_signed_note(note, views(keys));
    EXPECT_TRUE(r.has_value()) << name << ": " << r.error().message();
  }
}

TEST_F(Seeds, EveryCheckpointSeedVerifies) {
  for (const auto& [name, raw] : seeds("checkpoint_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const std::uint8_t which = in.u8();
    std::expected<void, Error> r;
    if (which == 0) {
      const auto head = checkpoint_parse(text(in.field()));
      if (!head) r = std::unexpected(head.error());
    } else if (which == 1) {
      const std::string note = text(in.field());
      const auto keys = texts(in.list());
      const auto head = checkpoint_verify(note, views(keys));
      if (!head) r = std::unexpected(head.error());
    } else if (which == 2) {
      const std::string note = text(in.field());
      const auto keys = texts(in.list());
      const std::uint64_t index = in.u64();
      const Raw leaf = in.field();
      const auto proof = in.list();
      r = checkpoint_verify_inclusion(note, views(keys), index, leaf, bytes_views(proof));
    } else {
      const std::string older = text(in.field()), newer = text(in.field());
      const auto keys = texts(in.list());
      const auto proof = in.list();
      r = checkpoint_verify_consistency(older, newer, views(keys), bytes_views(proof));
    }
    EXPECT_TRUE(r.has_value()) << name << ": " << r.error().message();
  }
}

TEST_F(Seeds, EveryTokenSeedVerifies) {
  for (const auto& [name, raw] : seeds("token_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const bool decoded = (in.u8() & 1) != 0;
    const Raw message = in.field(), context = in.field(), sig = in.field(), key = in.field();
    if (decoded) {
      EXPECT_TRUE(crypto::verify_token_bytes(message, context, sig, key)) << name;
    } else {
      const auto r = crypto::verify_token(message, context, text(sig), text(key));
      EXPECT_TRUE(r.has_value() && *r) << name;
    }
  }
}

TEST_F(Seeds, EveryConiksSeedVerifies) {
  for (const auto& [name, raw] : seeds("coniks_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const std::uint8_t which = in.u8();
    const std::string ns = text(in.field());
    const Raw vrf = in.field(), root = in.field(), identity = in.field(), proof = in.field();
    if (which % 2 == 0) {
      const auto r = coniks_verify_lookup(ns, vrf, root, identity, proof);
      EXPECT_TRUE(r.has_value()) << name << ": " << r.error().message();
    } else {
      const auto r = coniks_verify_absence(ns, vrf, root, identity, proof);
      EXPECT_TRUE(r.has_value()) << name << ": " << r.error().message();
    }
  }
}

// The suite-explicit seeds (kinds 3..5) verify; the legacy exports fix a
// suite of their own, so their seeds of the other suites are rejections.
TEST_F(Seeds, EveryKeytransSuiteSeedVerifies) {
  int checked = 0;
  for (const auto& [name, raw] : seeds("keytrans_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const std::uint8_t which = in.u8();
    if (which < 3) continue;
    const auto suite = static_cast<std::uint16_t>((in.u8() << 8) | in.u8());
    const std::string context = text(in.field());
    const Raw vrf = in.field(), root = in.field(), label = in.field(), proof = in.field();
    std::expected<void, Error> r;
    if (which == 3 || which == 4) {
      const auto res = which == 3 ? keytrans_verify_search_suite(suite, context, vrf, root, label, proof)
                                  : keytrans_verify_fixed_version_suite(suite, context, vrf, root, label, proof);
      if (!res) r = std::unexpected(res.error());
      else EXPECT_TRUE(res->present) << name;
    } else {
      r = keytrans_verify_monitor_suite(suite, context, vrf, root, label, proof);
    }
    EXPECT_TRUE(r.has_value()) << name << ": " << r.error().message();
    ++checked;
  }
  EXPECT_EQ(checked, 9);
}

// Tile seeds: paths parse in their form, entry tiles parse, and each log's
// tiles authenticate under its root (so mutations start past the checks).
TEST_F(Seeds, EveryTileSeedIsAccepted) {
  for (const auto& [name, raw] : seeds("tile_path_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const auto form = (in.u8() & 1) != 0 ? TilePathForm::Sumdb : TilePathForm::Tlog;
    (void)in.u64();
    EXPECT_TRUE(parse_tile_path(text(in.field()), form).has_value()) << name;
  }
  for (const auto& [name, raw] : seeds("tile_entries_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const bool bundle = (in.u8() & 1) != 0;
    const std::uint64_t index = in.u64() >> 9;
    const std::uint32_t width = std::uint32_t{in.u8()} + 1;
    const Raw bytes = in.field();
    const TileData tile{{bundle ? TileKind::Entries : TileKind::Data, 0, index, width}, bytes};
    EXPECT_TRUE(bundle ? parse_entry_bundle(tile).has_value() : parse_data_tile(tile).has_value()) << name;
  }
  for (const auto& [name, raw] : seeds("tile_auth_fuzz")) {
    FuzzInput in(raw.data(), raw.size());
    const std::uint64_t size = in.u64();
    const Raw root = in.field();
    const auto items = in.list();
    std::vector<TileData> tiles;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) tiles.push_back({parse_tile_path(text(items[i])).value(), items[i + 1]});
    const auto held = TiledTree::create(size, root).value().with_tiles(tiles);
    ASSERT_TRUE(held.has_value()) << name << ": " << held.error().message();
    EXPECT_TRUE(held->inclusion_proof(in.u64()).has_value()) << name;
  }
}

}  // namespace
}  // namespace quenfold::corpus
