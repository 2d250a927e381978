// The monitor's line source, line reader and engine. The input is a session
// as quenfold-verify monitor reads it, after a first line holding the log's
// verifier key (so that seeds carry signed checkpoints the engine accepts,
// and mutations reach the reference, stale and fork decisions). Every line
// goes through the strict JSON reader; then the session runs through the
// engine twice, from the text in place and from a stream read in blocks,
// with windows of 2 and 3 lines so that state is carried between them, and
// the two runs must give the same results.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "monitor.h"
#include "monitor_line.h"
#include "quenfold/checkpoint_verifier.h"

namespace {

namespace monitor = quenfold::cli::monitor;

std::vector<std::string> results(monitor::Source& source, const quenfold::CheckpointVerifier& verifier,
                                 std::size_t window_lines) {
  std::vector<std::string> out;
  std::size_t last_line = 0;
  const auto each = [&](const monitor::ItemResult& r) {
    // Results come in line order, one per non-blank line.
    if (r.line <= last_line) std::abort();
    last_line = r.line;
    // A checkpoint is reported with its head exactly when it was accepted.
    if (r.checkpoint.has_value() != (r.type == monitor::ItemType::Checkpoint && !r.error)) std::abort();
    if (r.stale && (r.error || r.reference_line == 0 || r.reference_line >= r.line)) std::abort();
    if (r.fork && (!r.error || r.fork->reference_line >= r.line)) std::abort();
    out.push_back(monitor::to_json_line(r));
    if (r.fork) out.push_back(monitor::fork_json_line(*r.fork));
  };
  const monitor::Summary s = monitor::run(source, verifier, 1, each, {}, {}, window_lines);
  if (s.items + s.forks != out.size() || s.verified > s.items) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string_view key = input.substr(0, cut);
  const std::string_view session = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  // The reader alone, on every line.
  monitor::Source lines(session);
  std::vector<monitor::Line> window;
  while (lines.next(window, 3, 256)) {
    for (const auto& line : window) {
      monitor::Item item;
      const auto error = monitor::read_item(line.text, item);
      if (!error && item.type == monitor::ItemType::Unknown) std::abort();
      if (!error && item.type == monitor::ItemType::Inclusion) (void)item.proof.views();
    }
  }

  const std::vector<std::string> keys = {std::string(key)};
  auto list = quenfold::VerifierList::parse(std::span<const std::string>(keys));
  if (!list) return 0;
  const quenfold::CheckpointVerifier verifier("log.example.org/fuzz", std::move(*list));
  monitor::Source text(session);
  const auto a = results(text, verifier, 2);
  if (session.empty()) return 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
      fmemopen(const_cast<char*>(session.data()), session.size(), "r"), &std::fclose);
  if (!f) return 0;
  monitor::Source stream(f.get(), "fuzz input");
  if (results(stream, verifier, 3) != a) std::abort();
  return 0;
}
