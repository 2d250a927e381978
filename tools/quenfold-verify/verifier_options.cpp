// The log's verifier from --keys and --policy, as the commands that follow
// a log (monitor, tlog) take them: --keys names the log whatever its keys'
// names, and a policy adds its witnesses.
#include <optional>

#include "cli.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold::cli {

CheckpointVerifier log_verifier(const Options& o, const std::string& origin) {
  if (!o.has("keys") && !o.has("policy")) throw UsageError("give --keys, --policy or both");
  std::optional<VerifierList> keys;
  if (o.has("keys")) {
    const auto texts = o.lines("keys");
    auto parsed = VerifierList::parse(std::span<const std::string>(texts));
    if (!parsed) throw UsageError("--keys: " + parsed.error().message());
    keys = std::move(*parsed);
  }
  std::optional<WitnessPolicy> policy;
  if (o.has("policy")) {
    auto parsed = WitnessPolicy::parse(o.text("policy"));
    if (!parsed) throw UsageError("--policy: " + parsed.error().message());
    policy = std::move(*parsed);
  }
  // --keys names the log (whatever its keys' names) and a policy adds its
  // witnesses; a policy alone names the log by its log lines.
  CheckpointVerifier v = keys && policy ? CheckpointVerifier(origin, std::move(*keys), std::move(*policy))
                         : keys         ? CheckpointVerifier(origin, std::move(*keys))
                                        : CheckpointVerifier(origin, std::move(*policy));
  if (v.log_keys().empty()) {
    throw UsageError("no key of the log for " + origin +
                     ": give --keys naming the log's key, or a policy with a log line named " + origin);
  }
  return v;
}

}  // namespace quenfold::cli
