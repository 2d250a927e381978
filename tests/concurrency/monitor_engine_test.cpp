// The monitor command's engine: its line reader and line source on tables
// of hostile and valid lines, and a session of several windows, valid and
// rejected items mixed, whose answers on any number of threads and from a
// stream or a text must be those of one thread, item for item. Built and
// run under ThreadSanitizer by scripts/run-tests (build-tsan), where the
// pool, the two passes and the state carried between windows are checked
// for data races.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>
#include <memory>
#include <string>
#include <vector>

#include "corpus.h"
#include "monitor.h"
#include "monitor_line.h"
#include "quenfold/checkpoint_verifier.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

namespace monitor = cli::monitor;

constexpr std::string_view kOrigin = "log.example.org/engine";

std::string hex_list(const std::vector<Hash>& hs) {
  std::string out = "[";
  for (std::size_t i = 0; i < hs.size(); ++i) out += (i ? ",\"" : "\"") + to_hex(hs[i]) + "\"";
  return out + "]";
}

std::string escaped(const std::string& note) {
  std::string out;
  for (const char c : note) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

// --- the line reader ------------------------------------------------------------

TEST(MonitorLine, ReadsStrictJsonItems) {
  const std::string h32(64, 'a');
  struct Case {
    const char* name;
    std::string line;
    std::optional<std::string> error;  // nullopt: read
    monitor::ItemType type = monitor::ItemType::Unknown;
  };
  const std::string nested_64 = "{\"type\":\"x\",\"deep\":" + std::string(63, '[') + std::string(63, ']') + "}";
  const std::string nested_65 = "{\"type\":\"x\",\"deep\":" + std::string(64, '[') + std::string(64, ']') + "}";
  const std::vector<Case> cases = {
      {"inclusion", R"({"type":"inclusion","index":3,"leaf_hash":")" + h32 + R"(","proof":[]})", std::nullopt,
       monitor::ItemType::Inclusion},
      {"upper-case hex", R"({"type":"inclusion","index":3,"leaf_hash":"AB","proof":["CDef"]})", std::nullopt,
       monitor::ItemType::Inclusion},
      {"largest index", R"({"type":"inclusion","index":18446744073709551615,"leaf_hash":"","proof":[]})",
       std::nullopt, monitor::ItemType::Inclusion},
      {"index of 2^64", R"({"type":"inclusion","index":18446744073709551616,"leaf_hash":"","proof":[]})",
       "\"index\" is out of range (at most 2^64 - 1)", monitor::ItemType::Inclusion},
      {"index far beyond", R"({"type":"inclusion","index":1000000000000000000000000,"leaf_hash":"","proof":[]})",
       "\"index\" is out of range (at most 2^64 - 1)", monitor::ItemType::Inclusion},
      {"negative index", R"({"type":"inclusion","index":-1,"leaf_hash":"","proof":[]})",
       "missing \"index\" (an unsigned integer)", monitor::ItemType::Inclusion},
      {"fractional index", R"({"type":"inclusion","index":1.5,"leaf_hash":"","proof":[]})",
       "missing \"index\" (an unsigned integer)", monitor::ItemType::Inclusion},
      {"exponent index", R"({"type":"inclusion","index":1e3,"leaf_hash":"","proof":[]})",
       "missing \"index\" (an unsigned integer)", monitor::ItemType::Inclusion},
      {"string index", R"({"type":"inclusion","index":"3","leaf_hash":"","proof":[]})",
       "missing \"index\" (an unsigned integer)", monitor::ItemType::Inclusion},
      {"odd hex", R"({"type":"inclusion","index":3,"leaf_hash":"abc","proof":[]})", "missing \"leaf_hash\" (hex)",
       monitor::ItemType::Inclusion},
      {"hex with a space", R"({"type":"inclusion","index":3,"leaf_hash":"ab cd","proof":[]})",
       "missing \"leaf_hash\" (hex)", monitor::ItemType::Inclusion},
      {"hex with a prefix", R"({"type":"inclusion","index":3,"leaf_hash":"0xab","proof":[]})",
       "missing \"leaf_hash\" (hex)", monitor::ItemType::Inclusion},
      {"proof of numbers", R"({"type":"inclusion","index":3,"leaf_hash":"ab","proof":[1]})",
       "missing \"proof\" (a list of hex strings)", monitor::ItemType::Inclusion},
      {"proof of lists", R"({"type":"inclusion","index":3,"leaf_hash":"ab","proof":[["ab"]]})",
       "missing \"proof\" (a list of hex strings)", monitor::ItemType::Inclusion},
      {"proof null", R"({"type":"inclusion","index":3,"leaf_hash":"ab","proof":null})",
       "missing \"proof\" (a list of hex strings)", monitor::ItemType::Inclusion},
      {"checkpoint", R"({"type":"checkpoint","note":"n","consistency":["00","ff"]})", std::nullopt,
       monitor::ItemType::Checkpoint},
      {"consistency null", R"({"type":"checkpoint","note":"n","consistency":null})", std::nullopt,
       monitor::ItemType::Checkpoint},
      {"consistency of objects", R"({"type":"checkpoint","note":"n","consistency":[{}]})",
       "\"consistency\" is not a list of hex strings", monitor::ItemType::Checkpoint},
      {"consistency text", R"({"type":"checkpoint","note":"n","consistency":"00"})",
       "\"consistency\" is not a list of hex strings", monitor::ItemType::Checkpoint},
      {"note not text", R"({"type":"checkpoint","note":["n"]})", "missing \"note\" text",
       monitor::ItemType::Checkpoint},
      {"duplicate type", R"({"type":"checkpoint","type":"inclusion","note":"n"})", "duplicate key \"type\""},
      {"duplicate note", R"({"type":"checkpoint","note":"a","note":"b"})", "duplicate key \"note\""},
      {"duplicate in a nested object", R"({"type":"checkpoint","note":"a","x":{"k":1,"k":2}})",
       "duplicate key \"k\""},
      {"the same key in two objects", R"({"type":"checkpoint","note":"a","x":{"k":1},"y":{"k":2}})", std::nullopt,
       monitor::ItemType::Checkpoint},
      {"unknown members are read and left", R"({"type":"checkpoint","note":"a","extra":[1,{"a":null},true]})",
       std::nullopt, monitor::ItemType::Checkpoint},
      {"64 levels", nested_64, "unknown type \"x\""},
      {"65 levels", nested_65, "JSON nested deeper than 64 levels"},
      {"a list", "[1,2]", "not a JSON object"},
      {"a number", "3", "not a JSON object"},
      {"not JSON", "not json", "not a JSON object"},
      {"trailing text", R"({"type":"checkpoint","note":"a"} x)", "not a JSON object"},
      {"two objects", R"({"type":"checkpoint","note":"a"}{})", "not a JSON object"},
      {"invalid UTF-8", "{\"type\":\"checkpoint\",\"note\":\"\xff\"}", "not a JSON object"},
      {"no type", R"({"note":"a"})", "missing \"type\""},
      {"type not text", R"({"type":1})", "missing \"type\""},
      {"unknown type", R"({"type":"witness"})", "unknown type \"witness\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    monitor::Item item;
    EXPECT_EQ(monitor::read_item(c.line, item), c.error);
    EXPECT_EQ(item.type, c.type);
  }

  monitor::Item item;
  ASSERT_EQ(monitor::read_item(R"({"type":"inclusion","index":7,"leaf_hash":"0aFF","proof":["01","","a0b1"]})", item),
            std::nullopt);
  EXPECT_EQ(item.index, 7u);
  EXPECT_EQ(item.leaf_hash, (Bytes{0x0a, 0xff}));
  EXPECT_EQ(item.proof.copies(), (std::vector<Bytes>{{0x01}, {}, {0xa0, 0xb1}}));
  monitor::Item cp;
  ASSERT_EQ(monitor::read_item(R"({"type":"checkpoint","note":"a\nb","consistency":[]})", cp), std::nullopt);
  EXPECT_EQ(cp.note, "a\nb");
  EXPECT_TRUE(cp.has_consistency);
  EXPECT_EQ(cp.consistency.size(), 0u);
}

// --- the line source ------------------------------------------------------------

struct Gathered {
  std::vector<std::pair<std::size_t, std::string>> lines;  // number, text ("<long>" for a too-long line)
  std::vector<std::size_t> window_sizes;
};

Gathered gather(monitor::Source& source, std::size_t max_lines, std::size_t max_bytes) {
  Gathered g;
  std::vector<monitor::Line> lines;
  while (source.next(lines, max_lines, max_bytes)) {
    g.window_sizes.push_back(lines.size());
    for (const auto& l : lines) g.lines.emplace_back(l.number, l.too_long ? "<long>" : std::string(l.text));
  }
  return g;
}

std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream_of(const std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::tmpfile(), &std::fclose);
  std::fwrite(text.data(), 1, text.size(), f.get());
  std::rewind(f.get());
  return f;
}

TEST(MonitorSource, SplitsBoundedLinesFromTextsAndStreams) {
  const std::string big(monitor::kMaxLineBytes + 1, 'x');
  const std::string just(monitor::kMaxLineBytes, 'y');
  using L = std::vector<std::pair<std::size_t, std::string>>;
  struct Case {
    const char* name;
    std::string text;
    L lines;
    std::vector<std::size_t> windows;  // with windows of at most 2 lines and 1 MiB
  };
  const std::vector<Case> cases = {
      {"empty", "", {}, {}},
      {"blank lines", "\n \n\t\r\n\n", {}, {}},
      {"a last line without its line feed", "a\n\nb", {{1, "a"}, {3, "b"}}, {2}},
      {"windows of two", "a\nb\nc\nd\ne\n", {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}}, {2, 2, 1}},
      {"a line of the limit", "a\n" + just + "\nb\n", {{1, "a"}, {2, just}, {3, "b"}}, {2, 1}},
      {"a long line ends its window", "a\n" + big + "\nb\nc\n", {{1, "a"}, {2, "<long>"}, {3, "b"}, {4, "c"}},
       {2, 2}},
      {"a long last line", "a\n" + big, {{1, "a"}, {2, "<long>"}}, {2}},
      {"long lines in a row", big + "\n" + big + "\n\nz", {{1, "<long>"}, {2, "<long>"}, {4, "z"}}, {1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    monitor::Source text(c.text);
    const Gathered a = gather(text, 2, monitor::kMaxLineBytes);
    EXPECT_EQ(a.lines, c.lines);
    EXPECT_EQ(a.window_sizes, c.windows);
    EXPECT_EQ(text.bytes_read(), c.text.size());
    auto f = stream_of(c.text);
    monitor::Source stream(f.get(), "test");
    const Gathered b = gather(stream, 2, monitor::kMaxLineBytes);
    EXPECT_EQ(b.lines, c.lines);
    EXPECT_EQ(b.window_sizes, c.windows);
    EXPECT_EQ(stream.bytes_read(), c.text.size());
    EXPECT_EQ(stream.total_bytes(), c.text.size());
  }
}

// --- the engine over many windows -----------------------------------------------

struct Session {
  NoteSigner log = NoteSigner::ed25519(std::string(kOrigin), 5);
  NoteSigner stranger = NoteSigner::ed25519(std::string(kOrigin), 6);
  MerkleTree tree;
  std::vector<std::string> lines;
  std::map<std::size_t, std::string> rejected;  // line number -> error
  std::size_t items = 0;

  void add(std::string line, std::string error = {}) {
    lines.push_back(std::move(line));
    ++items;
    if (!error.empty()) rejected[lines.size()] = std::move(error);
  }
  std::string checkpoint(std::uint64_t size, const NoteSigner& signer, const std::string& consistency) {
    const auto root = tree.root(size);
    const std::string note = signed_note(checkpoint_body(kOrigin, size, Bytes(root.begin(), root.end())), {&signer});
    return "{\"type\":\"checkpoint\",\"note\":\"" + escaped(note) + "\"" +
           (consistency.empty() ? "" : ",\"consistency\":" + consistency) + "}";
  }
  std::string inclusion(std::uint64_t index, std::uint64_t size, bool tamper) {
    auto proof = tree.inclusion_proof(index, size);
    if (tamper) proof.back()[0] ^= 1;
    return "{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
           to_hex(tree.leaf_hash(index)) + "\",\"proof\":" + hex_list(proof) + "}";
  }

  // Five checkpoints (64, 100, 140, 200, 90 leaves), each followed by 1 500
  // inclusion proofs, so that the engine's windows of 4 096 lines end in
  // the middle of them and the reference and the latest checkpoint are
  // carried across. The third checkpoint is signed by a stranger: it is
  // rejected (not the log's, so no fork), and so are its proofs. The fourth
  // carries the proof from the reference (100), not from the line before
  // it. The fifth is stale: smaller than the reference, with the proof from
  // it to the reference; its proofs verify. Tampered proofs, a bad line, an
  // unknown type and blank lines are scattered so that every chunk holds a
  // different mix.
  Session() {
    for (std::uint32_t i = 0; i < 200; ++i) tree.append(Bytes{static_cast<std::uint8_t>(i), 0x17});
    const std::vector<std::uint64_t> sizes = {64, 100, 140, 200, 90};
    const std::vector<std::string> proofs = {"", hex_list(tree.consistency_proof(64, 100)),
                                             hex_list(tree.consistency_proof(100, 140)),
                                             hex_list(tree.consistency_proof(100, 200)),
                                             hex_list(tree.consistency_proof(90, 200))};
    for (std::size_t c = 0; c < sizes.size(); ++c) {
      const std::uint64_t size = sizes[c];
      const bool forged = c == 2;
      add(checkpoint(size, forged ? stranger : log, proofs[c]),
          forged ? "note has no verifiable signature from a trusted key" : "");
      const std::size_t checkpoint_line = lines.size();
      for (std::uint64_t k = 0; k < 1500; ++k) {
        const std::uint64_t index = (k * 37 + c) % size;
        const bool tamper = k % 97 == 5;
        std::string e;
        if (forged) {
          e = "its checkpoint (line " + std::to_string(checkpoint_line) + ") was rejected";
        } else if (tamper) {
          e = "root mismatch: recomputed root does not match the expected root";
        }
        add(inclusion(index, size, tamper), e);
        if (k % 700 == 30) lines.emplace_back("   ");
      }
      if (c == 1) add("{\"type\":\"witness\"}", "unknown type \"witness\"");
      if (c == 3) add("not json", "not a JSON object");
    }
  }
};

struct Collected {
  std::vector<std::string> json;
  std::map<std::size_t, std::string> rejected;
  std::vector<std::size_t> stale;
  monitor::Summary summary;
};

Collected collect(monitor::Source& source, const CheckpointVerifier& verifier, unsigned threads,
                  const monitor::Progress& progress = {}, std::size_t window_lines = monitor::kWindowLines) {
  Collected c;
  c.summary = monitor::run(
      source, verifier, threads,
      [&](const monitor::ItemResult& r) {
        c.json.push_back(monitor::to_json_line(r));
        if (r.error) c.rejected[r.line] = *r.error;
        if (r.stale) c.stale.push_back(r.line);
        EXPECT_FALSE(r.fork.has_value()) << r.line;
        EXPECT_EQ(r.checkpoint.has_value(), r.type == monitor::ItemType::Checkpoint && !r.error) << r.line;
      },
      progress, {}, window_lines);
  return c;
}

TEST(MonitorEngine, AnyThreadCountAndAnySourceGivesTheAnswersOfOneThread) {
  const Session s;
  const std::vector<std::string> keys = {s.log.verifier_key()};
  const CheckpointVerifier verifier(std::string(kOrigin), *VerifierList::parse(std::span<const std::string>(keys)));

  std::string text;
  for (const auto& line : s.lines) text += line + "\n";
  // A last line without its line feed is still a line.
  text.pop_back();
  monitor::Source source(text);
  const Collected one = collect(source, verifier, 1);
  EXPECT_EQ(one.json.size(), s.items);
  EXPECT_EQ(one.rejected, s.rejected);
  ASSERT_EQ(one.stale.size(), 1u);
  EXPECT_EQ(one.summary.items, s.items);
  EXPECT_EQ(one.summary.checkpoints, 5u);
  EXPECT_EQ(one.summary.inclusions, 7500u);
  EXPECT_EQ(one.summary.stale, 1u);
  EXPECT_EQ(one.summary.forks, 0u);
  EXPECT_EQ(one.summary.rejected(), s.rejected.size());

  for (const unsigned threads : {2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    std::uint64_t last_done = 0;
    monitor::Source again(text);
    const Collected many = collect(again, verifier, threads, [&](std::uint64_t done, std::uint64_t total) {
      EXPECT_LE(done, total);
      EXPECT_EQ(total, text.size());
      EXPECT_GE(done, last_done);
      last_done = done;
    });
    EXPECT_EQ(last_done, text.size());
    EXPECT_EQ(many.json, one.json);
    auto f = stream_of(text);
    monitor::Source stream(f.get(), "test");
    EXPECT_EQ(collect(stream, verifier, threads).json, one.json);
    // Windows of a few lines carry the reference and the latest
    // checkpoint across thousands of window ends.
    monitor::Source small(text);
    EXPECT_EQ(collect(small, verifier, threads, {}, 7).json, one.json);
  }
}

// The fuzz target's seeds (tools/make-corpus) are sessions that reach the
// engine's every decision: their first line is the log's key.
TEST(MonitorEngine, FuzzSeedsReachEveryVerdict) {
  const auto dir = std::filesystem::temp_directory_path() / ("quenfold-monitor-seeds-" + std::to_string(::getpid()));
  corpus::monitor_seeds(dir);
  struct Want {
    std::size_t items, verified, stale, forks;
  };
  const std::map<std::string, Want> want = {
      {"grows", {7, 7, 0, 0}},
      {"stale", {5, 5, 1, 0}},
      {"fork-same-size", {3, 1, 0, 1}},
      {"fork-failed-proof", {4, 2, 0, 1}},
      {"refused-lines", {4, 1, 0, 0}},
  };
  std::map<std::string, Want> got;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    const std::string seed{std::istreambuf_iterator<char>(in), {}};
    const std::size_t cut = seed.find('\n');
    const std::vector<std::string> keys = {seed.substr(0, cut)};
    const CheckpointVerifier verifier("log.example.org/fuzz", *VerifierList::parse(std::span<const std::string>(keys)));
    monitor::Source source(std::string_view(seed).substr(cut + 1));
    const monitor::Summary s = monitor::run(source, verifier, 2, {}, {}, {}, 2);
    got[e.path().filename().string()] = {s.items, s.verified, s.stale, s.forks};
  }
  std::filesystem::remove_all(dir);
  ASSERT_EQ(got.size(), want.size());
  for (const auto& [name, w] : want) {
    SCOPED_TRACE(name);
    const Want& g = got.at(name);
    EXPECT_EQ(std::tie(g.items, g.verified, g.stale, g.forks), std::tie(w.items, w.verified, w.stale, w.forks));
  }
}

}  // namespace
}  // namespace quenfold::test
