#include "monitor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "encoding/base64.h"
#include "encoding/text.h"
#include "quenfold/merkle.h"

namespace quenfold::cli::monitor {
namespace {

using nlohmann::json;
// Results keep their fields in the order written.
using out_json = nlohmann::ordered_json;

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Items handed to a worker at a time: large enough that the shared counter
// is not contended, small enough that the threads finish together.
constexpr std::size_t kChunk = 16;

struct Work {
  std::string note;
  bool has_consistency = false;
  std::vector<Bytes> consistency;
  Bytes leaf_hash;
  std::vector<Bytes> proof;
  std::size_t anchor = kNone;  // the previous checkpoint item (checkpoints) or the latest one (inclusions)
};

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Bytes> hex_of(const json& j) {
  if (!j.is_string()) return std::nullopt;
  const auto& s = j.get_ref<const std::string&>();
  if (s.size() % 2 != 0) return std::nullopt;
  Bytes out(s.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = hex_digit(s[2 * i]), lo = hex_digit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return out;
}

std::optional<std::vector<Bytes>> hex_list_of(const json& j) {
  if (!j.is_array()) return std::nullopt;
  std::vector<Bytes> out;
  out.reserve(j.size());
  for (const auto& e : j) {
    auto b = hex_of(e);
    if (!b) return std::nullopt;
    out.push_back(std::move(*b));
  }
  return out;
}

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

// Reads one line into its work item; the error text on failure.
std::optional<std::string> read_item(const std::string& line, ItemResult& r, Work& w) {
  const json j = json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return "not a JSON object";
  const auto type = j.find("type");
  if (type == j.end() || !type->is_string()) return "missing \"type\"";
  if (*type == "checkpoint") {
    r.type = ItemType::Checkpoint;
    const auto note = j.find("note");
    if (note == j.end() || !note->is_string()) return "missing \"note\" text";
    w.note = note->get<std::string>();
    if (const auto c = j.find("consistency"); c != j.end()) {
      auto proof = hex_list_of(*c);
      if (!proof) return "\"consistency\" is not a list of hex strings";
      w.has_consistency = true;
      w.consistency = std::move(*proof);
    }
    return std::nullopt;
  }
  if (*type == "inclusion") {
    r.type = ItemType::Inclusion;
    const auto index = j.find("index");
    if (index == j.end() || !index->is_number_unsigned()) return "missing \"index\" (an unsigned integer)";
    r.index = index->get<std::uint64_t>();
    const auto leaf = j.find("leaf_hash");
    auto leaf_hash = leaf == j.end() ? std::nullopt : hex_of(*leaf);
    if (!leaf_hash) return "missing \"leaf_hash\" (hex)";
    w.leaf_hash = std::move(*leaf_hash);
    const auto proof = j.find("proof");
    auto path = proof == j.end() ? std::nullopt : hex_list_of(*proof);
    if (!path) return "missing \"proof\" (a list of hex strings)";
    w.proof = std::move(*path);
    return std::nullopt;
  }
  return "unknown type " + encoding::echoed(type->get<std::string>());
}

// Runs fn(i) for i in [0, n) on `threads` threads; the calling thread
// reports progress meanwhile.
template <class Fn>
void parallel_for(std::size_t n, unsigned threads, const Fn& fn, std::atomic<std::size_t>& done,
                  const std::function<void()>& tick) {
  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (;;) {
      const std::size_t begin = next.fetch_add(kChunk, std::memory_order_relaxed);
      if (begin >= n) return;
      const std::size_t end = std::min(n, begin + kChunk);
      for (std::size_t i = begin; i < end; ++i) fn(i);
      done.fetch_add(end - begin, std::memory_order_relaxed);
    }
  };
  std::vector<std::thread> pool;
  const unsigned count = std::max(1u, threads);
  pool.reserve(count);
  for (unsigned t = 0; t < count; ++t) pool.emplace_back(worker);
  if (tick) {
    while (next.load(std::memory_order_relaxed) < n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      tick();
    }
  }
  for (auto& t : pool) t.join();
}

out_json signers_json(const std::vector<Signer>& signers) {
  out_json out = out_json::array();
  for (const auto& s : signers) {
    out_json o = {{"name", s.name}, {"key_id", encoding::hex_fixed(s.key_id, 8)}};
    if (s.timestamp) o["timestamp"] = *s.timestamp;
    out.push_back(std::move(o));
  }
  return out;
}

}  // namespace

const char* name_of(ItemType t) noexcept {
  switch (t) {
    case ItemType::Checkpoint:
      return "checkpoint";
    case ItemType::Inclusion:
      return "inclusion";
    case ItemType::Unknown:
      break;
  }
  return "unknown";
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  return lines;
}

std::vector<ItemResult> run(const std::vector<std::string>& lines, const CheckpointVerifier& verifier,
                            unsigned threads, const std::function<void(std::size_t, std::size_t)>& progress) {
  std::vector<std::size_t> source;  // the non-blank lines
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find_first_not_of(" \t\r") != std::string::npos) source.push_back(i);
  }
  const std::size_t n = source.size();
  std::vector<ItemResult> results(n);
  std::vector<Work> work(n);
  std::atomic<std::size_t> done{0};
  const std::function<void()> tick = progress ? std::function<void()>([&] { progress(done.load(), 2 * n); })
                                              : std::function<void()>();

  // 1. Read every item; verify every checkpoint's signatures and origin.
  parallel_for(
      n, threads,
      [&](std::size_t i) {
        ItemResult& r = results[i];
        r.line = source[i] + 1;
        r.error = read_item(lines[source[i]], r, work[i]);
        if (r.error || r.type != ItemType::Checkpoint) return;
        auto c = verifier.verify(work[i].note);
        if (c) {
          r.checkpoint = std::move(*c);
        } else {
          r.error = c.error().message();
        }
      },
      done, tick);

  // 2. Anchor each item to the checkpoint line before it.
  std::size_t latest = kNone;
  for (std::size_t i = 0; i < n; ++i) {
    if (results[i].type == ItemType::Unknown) continue;
    work[i].anchor = latest;
    if (results[i].type == ItemType::Checkpoint) latest = i;
  }

  // 3. The proofs. A failed link rejects the newer checkpoint, but the
  // inclusion proofs under it rest on its signatures, which did verify;
  // link errors are kept apart so that no item reads another being written.
  std::vector<std::optional<std::string>> link_error(n);
  parallel_for(
      n, threads,
      [&](std::size_t i) {
        const ItemResult& r = results[i];
        const Work& w = work[i];
        if (r.error) return;
        const auto line_of = [&](std::size_t k) { return std::to_string(results[k].line); };
        if (r.type == ItemType::Checkpoint) {
          if (w.anchor == kNone) {
            if (w.has_consistency) link_error[i] = "consistency proof but no earlier checkpoint";
            return;
          }
          const ItemResult& prev = results[w.anchor];
          if (!w.has_consistency) {
            link_error[i] = "missing consistency proof from the checkpoint on line " + line_of(w.anchor);
          } else if (!prev.checkpoint) {
            link_error[i] = "the previous checkpoint (line " + line_of(w.anchor) + ") did not verify";
          } else {
            const auto& a = prev.checkpoint->head;
            const auto& b = r.checkpoint->head;
            const auto proof = views(w.consistency);
            const auto c = verify_consistency(a.size, b.size, proof, a.root, b.root);
            if (!c) link_error[i] = "consistency with line " + line_of(w.anchor) + ": " + c.error().message();
          }
          return;
        }
        if (w.anchor == kNone) {
          link_error[i] = "no checkpoint before this inclusion proof";
        } else if (!results[w.anchor].checkpoint) {
          link_error[i] = "its checkpoint (line " + line_of(w.anchor) + ") did not verify";
        } else {
          const auto& h = results[w.anchor].checkpoint->head;
          const auto proof = views(w.proof);
          const auto v = verify_inclusion(r.index, h.size, w.leaf_hash, proof, h.root);
          if (!v) link_error[i] = v.error().message();
        }
      },
      done, tick);
  if (progress) progress(2 * n, 2 * n);

  for (std::size_t i = 0; i < n; ++i) {
    if (!link_error[i]) continue;
    results[i].error = std::move(link_error[i]);
    results[i].checkpoint.reset();
  }
  return results;
}

Summary summarize(const std::vector<ItemResult>& results) {
  Summary s;
  s.items = results.size();
  for (const auto& r : results) {
    if (!r.error) ++s.verified;
    if (r.type == ItemType::Checkpoint) ++s.checkpoints;
    if (r.type == ItemType::Inclusion) ++s.inclusions;
  }
  return s;
}

std::string to_json_line(const ItemResult& r) {
  out_json o = {{"line", r.line}, {"type", name_of(r.type)}, {"verified", !r.error}};
  if (r.error) {
    o["error"] = *r.error;
  } else if (r.checkpoint) {
    const auto& h = r.checkpoint->head;
    o["origin"] = h.origin;
    o["size"] = h.size;
    o["root"] = encoding::base64_encode(h.root);
    o["log_signers"] = signers_json(r.checkpoint->log_signers);
    o["cosigners"] = signers_json(r.checkpoint->cosigners);
  } else if (r.type == ItemType::Inclusion) {
    o["index"] = r.index;
  }
  return o.dump(-1, ' ', false, out_json::error_handler_t::replace);
}

std::string summary_json_line(const Summary& s) {
  const out_json o = {{"summary",
                   {{"items", s.items},
                    {"verified", s.verified},
                    {"rejected", s.rejected()},
                    {"checkpoints", s.checkpoints},
                    {"inclusions", s.inclusions}}}};
  return o.dump();
}

std::string to_text_line(const ItemResult& r) {
  return "line " + std::to_string(r.line) + ": " + name_of(r.type) + ": " +
         (r.error ? "rejected: " + *r.error : std::string("verified"));
}

std::string summary_text(const Summary& s) {
  return std::to_string(s.items) + " items (" + std::to_string(s.checkpoints) + " checkpoints, " +
         std::to_string(s.inclusions) + " inclusion proofs): " + std::to_string(s.verified) + " verified, " +
         std::to_string(s.rejected()) + " rejected";
}

}  // namespace quenfold::cli::monitor
