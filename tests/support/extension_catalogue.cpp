#include "support/extension_catalogue.h"

#include <algorithm>
#include <cctype>

namespace quenfold::test::extension {

namespace {

constexpr const char* kNamespace = "quenfold_log_ext";

std::string lower(std::string s) {
  std::ranges::transform(s, s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
std::string upper(std::string s) {
  std::ranges::transform(s, s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}
std::string fn(const std::string& what) { return std::string("uniffi_") + kNamespace + "_fn_" + what; }
std::string checksum(const std::string& what) { return std::string("uniffi_") + kNamespace + "_checksum_" + what; }
std::string meta(const std::string& what) { return "UNIFFI_META_QUENFOLD_LOG_EXT_" + what; }

// The calls in export order, as (kind, object, name).
struct Call {
  std::string kind, object, name;
};
std::vector<Call> calls() {
  std::vector<Call> out;
  for (const auto& f : functions()) out.push_back({"func", "", f});
  for (const auto& o : objects()) {
    for (const auto& c : o.constructors) out.push_back({"constructor", o.name, c});
    for (const auto& m : o.methods) out.push_back({"method", o.name, m});
  }
  return out;
}
std::string suffix(const Call& c) {
  return c.kind + "_" + (c.object.empty() ? "" : lower(c.object) + "_") + c.name;
}

}  // namespace

const std::vector<Object>& objects() {
  static const std::vector<Object> v = {
      {"VerifierList", {"parse"}, {"open", "keys", "size"}},
      {"WitnessPolicy", {"parse", "threshold"}, {"open", "logs", "witnesses"}},
      {"CheckpointVerifier",
       {"with_keys", "with_policy", "with_keys_and_policy"},
       {"require_log_signatures", "origin", "log_keys", "verify", "verify_log_signature", "verify_inclusion", "verify_consistency",
        "verify_chain"}},
      {"TilePlan", {"whole_tree", "growth", "leaves"}, {"count", "page", "segments"}},
      {"TiledTree",
       {"create"},
       {"size", "root", "edge_tiles", "needed_for_leaves", "needed_for_subtree", "needed_for_inclusion",
        "needed_for_consistency", "with_tiles", "authenticate", "audit_leaves", "leaf_hash", "inclusion_proof",
        "consistency_proof", "subtree_hash", "check_older_root", "confirm_subtrees", "verify_entry_bundle",
        "verify_data_tile"}},
  };
  return v;
}

const std::vector<std::string>& functions() {
  static const std::vector<std::string> v = {"verify_inclusions",       "rfc6962_verifier_key", "parse_tlog_proof",
                                             "verify_tlog_proof",       "verify_tlog_proof_entry",
                                             "check_add_checkpoint",    "parse_tile_path",      "parse_sumdb_tile_path",
                                             "format_tile_path",        "format_sumdb_tile_path", "hash_tile_range",
                                             "hash_entry_range",        "check_leaf_tiles",     "combine_subtrees",     "check_entries",
                                             "parse_entry_bundle",      "parse_data_tile"};
  return v;
}

const std::vector<std::string>& records() {
  static const std::vector<std::string> v = {"CheckpointHead", "Signer",         "OpenedNote",    "WitnessedNote",
                                             "VerifiedCheckpoint", "CheckpointPair", "InclusionProof", "TlogProof",
                                             "VerifiedTlogProof", "WitnessState", "AddCheckpointResult", "TileId",
                                             "TileSegment", "SubtreeHash", "AuthenticatedTile", "RangeAudit", "ByteSpan",
                                             "EntryView", "CtLeafView"};
  return v;
}

const std::vector<std::string>& enums() {
  static const std::vector<std::string> v = {"KeyType", "AddCheckpointStatus", "TileKind", "CtEntryType"};
  return v;
}

const std::vector<ErrorVariant>& error_variants() {
  static const std::vector<ErrorVariant> v = {
      {"LeafIndexOutOfRange", "qq"}, {"WrongProofSize", "qq"},       {"InvalidHashLength", "qq"},
      {"RootMismatch", ""},          {"EmptyTreeConsistency", ""},   {"TreeSizeRegression", "qq"},
      {"EqualSizesNonEmptyProof", ""}, {"MalformedCanonicalLeaf", "s"}, {"MalformedCheckpoint", "s"},
      {"MalformedSignedNote", "s"},  {"InvalidSignature", "sl"},     {"NoTrustedSignature", ""},
      {"MalformedNamespace", "s"},   {"Vrf", "s"},                   {"VrfProofInvalid", ""},
      {"CommitmentMismatch", ""},    {"MalformedConiksProof", "s"},  {"ConiksRootMismatch", ""},
      {"MalformedPolicy", "s"},      {"PostureMismatch", "ss"},      {"MalformedKeytrans", "s"},
      {"KeytransRootMismatch", ""},  {"WrongFixedLength", "sq"},     {"MalformedVerifierKey", "qss"},
      {"OriginMismatch", "ss"},      {"MalformedWitnessPolicy", "qs"}, {"WitnessQuorumNotMet", "s"},
      {"BrokenChain", "qs"},         {"LogSignaturesNotMet", "qq"},  {"MalformedTlogProof", "s"},
      {"MalformedTilePath", "ss"},   {"MalformedTile", "ss"},        {"TileHashMismatch", "ss"},
      {"TileMissing", "s"},          {"TreeTooLarge", "qq"},         {"InvalidSubtree", "qq"},
  };
  return v;
}

std::vector<std::string> function_exports() {
  std::vector<std::string> names;
  for (const auto& c : calls()) names.push_back(fn(suffix(c)));
  for (const auto& o : objects()) {
    names.push_back(fn("clone_" + lower(o.name)));
    names.push_back(fn("free_" + lower(o.name)));
  }
  for (const auto& c : calls()) names.push_back(checksum(suffix(c)));
  names.push_back(std::string("ffi_") + kNamespace + "_uniffi_contract_version");
  for (const char* b : {"alloc", "from_bytes", "free", "reserve"})
    names.push_back(std::string("ffi_") + kNamespace + "_rustbuffer_" + b);
  return names;
}

std::vector<std::string> data_exports() {
  std::vector<std::string> names;
  for (const auto& c : calls()) {
    const std::string item = c.kind == "func" ? "FUNC" : upper(c.kind);
    names.push_back(meta(item + "_" + (c.object.empty() ? "" : upper(c.object) + "_") + upper(c.name)));
  }
  for (const auto& o : objects()) names.push_back(meta("INTERFACE_" + upper(o.name)));
  for (const auto& r : records()) names.push_back(meta("RECORD_" + upper(r)));
  for (const auto& e : enums()) names.push_back(meta("ENUM_" + upper(e)));
  names.push_back(meta("ERROR_VERIFYERROR"));
  names.push_back("UNIFFI_META_NAMESPACE_QUENFOLD_LOG_EXT");
  return names;
}

}  // namespace quenfold::test::extension
