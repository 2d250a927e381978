// The monitor's results as printed: one JSON object per line with --json,
// one text line per rejected (or stale) item otherwise, and the forks apart.
#include <nlohmann/json.hpp>

#include "encoding/text.h"
#include "monitor.h"
#include "signer_json.h"

namespace quenfold::cli::monitor {
namespace {

// Results keep their fields in the order written.
using out_json = nlohmann::ordered_json;

std::string dump(const out_json& o) { return o.dump(-1, ' ', false, out_json::error_handler_t::replace); }

std::string head_text(const CheckpointHead& h) {
  return "size " + std::to_string(h.size) + " (root " + encoding::hex_bytes(h.root) + ")";
}

}  // namespace

std::string to_json_line(const ItemResult& r) {
  out_json o = {{"line", r.line}, {"type", name_of(r.type)}, {"verified", !r.error}};
  if (r.error) {
    o["error"] = *r.error;
  } else if (r.checkpoint) {
    if (r.stale) {
      o["stale"] = true;
      o["reference_line"] = r.reference_line;
    }
    const auto& h = r.checkpoint->head;
    o["origin"] = h.origin;
    o["size"] = h.size;
    o["root"] = encoding::hex_bytes(h.root);
    o["log_signers"] = signers_json(r.checkpoint->log_signers);
    o["cosigners"] = signers_json(r.checkpoint->cosigners);
  } else if (r.type == ItemType::Inclusion) {
    o["index"] = r.index;
  }
  return dump(o);
}

std::string fork_json_line(const Fork& f) {
  out_json proof = out_json::array();
  for (const auto& p : f.consistency) proof.push_back(encoding::hex_bytes(p));
  const out_json o = {{"type", "fork"},
                      {"line", f.line},
                      {"reference_line", f.reference_line},
                      {"size", f.head.size},
                      {"root", encoding::hex_bytes(f.head.root)},
                      {"reference_size", f.reference.size},
                      {"reference_root", encoding::hex_bytes(f.reference.root)},
                      {"reference_note", f.reference_note},
                      {"note", f.note},
                      {"consistency", std::move(proof)},
                      {"error", f.error}};
  return dump(o);
}

std::string to_text_line(const ItemResult& r) {
  std::string out = "line " + std::to_string(r.line) + ": " + name_of(r.type) + ": ";
  if (r.error) return out + "rejected: " + *r.error;
  if (r.stale && r.checkpoint) {
    return out + "verified: stale, " + head_text(r.checkpoint->head) + ", behind the checkpoint on line " +
           std::to_string(r.reference_line);
  }
  return out + "verified";
}

std::string fork_text_line(const Fork& f) {
  return "line " + std::to_string(f.line) + ": fork: the log signed " + head_text(f.head) + " here and " +
         head_text(f.reference) + " on line " + std::to_string(f.reference_line) + ": " + f.error;
}

}  // namespace quenfold::cli::monitor
