// How every subcommand prints a key that signed a checkpoint: its name, key
// id, type and the time its line claims, each time under a name that says
// its unit (cosignatures count seconds, RFC 6962 tree heads milliseconds).
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "encoding/text.h"
#include "quenfold/verifier.h"

namespace quenfold::cli {

inline nlohmann::ordered_json signer_json(const Signer& s) {
  nlohmann::ordered_json o = {
      {"name", s.name}, {"key_id", encoding::hex_fixed(s.key_id, 8)}, {"type", name_of(s.type)}};
  if (s.timestamp_seconds) o["timestamp_seconds"] = *s.timestamp_seconds;
  if (s.timestamp_millis) o["timestamp_millis"] = *s.timestamp_millis;
  // An RFC 6962 tree head signature does not cover the origin line.
  if (!s.covers_origin) o["covers_origin"] = false;
  return o;
}

inline nlohmann::ordered_json signers_json(const std::vector<Signer>& signers) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const Signer& s : signers) out.push_back(signer_json(s));
  return out;
}

}  // namespace quenfold::cli
