// monitor: a session of checkpoints and proofs as JSON lines, verified on
// every core, one result per item.
#include <unistd.h>

#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli.h"
#include "monitor.h"
#include "quenfold/monitor.h"

namespace quenfold::cli {
namespace {

constexpr const char* kUsageLine =
    "--origin ORIGIN (--keys KEY[,KEY...]|@FILE | --policy @FILE) [--input @FILE|-] [--threads N] [--no-progress]";

void print_monitor_help() {
  std::cout << "usage: quenfold-verify monitor " << kUsageLine << " [--json]\n\n"
            << "Verifies a monitoring session read as JSON lines (from --input, standard input by\n"
               "default), one object per line:\n"
               "  {\"type\":\"checkpoint\",\"note\":\"<signed note>\",\"consistency\":[\"<hex>\",...]}\n"
               "  {\"type\":\"inclusion\",\"index\":N,\"leaf_hash\":\"<hex>\",\"proof\":[\"<hex>\",...]}\n"
               "Every checkpoint must be of --origin and signed by one of --keys, or meet the witness\n"
               "--policy (C2SP tlog-policy: log keys, cosignature/v1 witness keys, quorum); each one\n"
               "after the first carries the consistency proof from the previous checkpoint line, and\n"
               "each inclusion proof is checked under the latest checkpoint line before it.\n"
               "Items are verified on --threads threads (default: every core); a progress bar is\n"
               "drawn on standard error when it is a terminal (--no-progress: never).\n"
               "  --json   one JSON object per item, then a summary object\n"
               "Exit status: 0 verified, 1 rejected, 2 bad usage.\n\n"
               "Example (from the repository root):\n"
               "  quenfold-verify monitor --origin log.example.org/monitored/v1 --policy "
               "@examples/monitor/policy.txt --input @examples/monitor/session.jsonl\n";
}

std::string read_input(const std::string& given) {
  if (given != "-" && (given.empty() || given[0] != '@')) throw UsageError("--input takes @FILE or -");
  return read_source(given);
}

struct Progress {
  bool enabled = false;
  void draw(std::size_t done, std::size_t total) const {
    if (!enabled || total == 0) return;
    constexpr std::size_t kWidth = 40;
    const std::size_t filled = done * kWidth / total;
    std::cerr << "\rmonitor [" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
              << done * 100 / total << "%" << std::flush;
  }
  void clear() const {
    if (enabled) std::cerr << "\r\033[K" << std::flush;
  }
};

int run(const Args& a, bool json) {
  a.finish({"origin", "keys", "policy", "input", "threads"});
  const std::string origin = a.raw("origin");
  if (a.has("keys") == a.has("policy")) throw UsageError("give exactly one of --keys and --policy");
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  if (a.has("threads")) {
    const std::uint64_t t = a.u64("threads");
    if (t < 1 || t > 1024) throw UsageError("--threads must be from 1 to 1024");
    threads = static_cast<unsigned>(t);
  }
  const std::string input = read_input(a.has("input") ? a.raw("input") : std::string("-"));

  std::optional<CheckpointVerifier> verifier;
  if (a.has("keys")) {
    const auto texts = a.lines("keys");
    auto keys = VerifierList::parse(std::span<const std::string>(texts));
    if (!keys) return reject(keys.error());
    verifier.emplace(origin, std::move(*keys));
  } else {
    auto policy = WitnessPolicy::parse(a.text("policy"));
    if (!policy) return reject(policy.error());
    verifier.emplace(origin, std::move(*policy));
  }

  Progress bar;
  bar.enabled = !a.flag("no-progress") && isatty(STDERR_FILENO) == 1;
  const auto results = monitor::run(monitor::split_lines(input), *verifier, threads,
                                    bar.enabled ? std::function<void(std::size_t, std::size_t)>(
                                                      [&](std::size_t d, std::size_t t) { bar.draw(d, t); })
                                                : std::function<void(std::size_t, std::size_t)>());
  bar.clear();
  const monitor::Summary s = monitor::summarize(results);
  const bool all = s.rejected() == 0;
  if (json) {
    std::string out;
    for (const auto& r : results) out += monitor::to_json_line(r) + "\n";
    std::cout << out;
    nlohmann::ordered_json summary = {{"command", "monitor"}, {"verdict", all ? "verified" : "rejected"}};
    summary.update(nlohmann::ordered_json::parse(monitor::summary_json_line(s)));
    std::cout << summary.dump() << "\n";
  } else {
    std::cout << (all ? std::string("verified") : "rejected: " + std::to_string(s.rejected()) + " of " +
                                                      std::to_string(s.items) + " items did not verify")
              << "\n";
    for (const auto& r : results)
      if (r.error) std::cout << monitor::to_text_line(r) << "\n";
    std::cout << "items: " << monitor::summary_text(s) << "\n";
  }
  return all ? kVerified : kRejected;
}

}  // namespace

int run_monitor(int argc, char** argv, int first) {
  bool json = false;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      print_monitor_help();
      return kVerified;
    }
    json = json || a == "--json";
  }
  try {
    const Args args(argc, argv, first, {"no-progress"});
    return run(args, json);
  } catch (const std::exception& e) {
    const bool usage = dynamic_cast<const UsageError*>(&e) != nullptr;
    const std::string message = usage ? e.what() : std::string("internal failure: ") + e.what();
    if (json) {
      std::cout << nlohmann::json{{"command", "monitor"}, {"verdict", "usage"}, {"message", message}}.dump() << "\n";
    } else {
      std::cerr << "quenfold-verify monitor: " << message << "\n"
                << "usage: quenfold-verify monitor " << kUsageLine << "\n"
                << "(quenfold-verify monitor --help for details and an example)\n";
    }
    return kUsage;
  }
}

std::vector<Command> monitor_commands() {
  return {{"monitor", kUsageLine, [](const Args&) { return kUsage; }, {}, "", ""}};
}

}  // namespace quenfold::cli
