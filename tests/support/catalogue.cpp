#include "support/catalogue.h"

#include <algorithm>
#include <cctype>

namespace quenfold::test {

namespace types {
MetaType u8() { return {0, {}, "", ""}; }
MetaType u16() { return {1, {}, "", ""}; }
MetaType u32() { return {2, {}, "", ""}; }
MetaType u64() { return {3, {}, "", ""}; }
MetaType boolean() { return {10, {}, "", ""}; }
MetaType string() { return {11, {}, "", ""}; }
MetaType optional(MetaType inner) { return {12, {std::move(inner)}, "", ""}; }
MetaType record(const std::string& name) { return {13, {}, kModule, name}; }
MetaType enumeration(const std::string& name) { return {14, {}, kModule, name}; }
MetaType list(MetaType element) { return {17, {std::move(element)}, "", ""}; }
MetaType bytes() { return list(u8()); }
MetaType result(MetaType ok, MetaType error) { return {23, {std::move(ok), std::move(error)}, "", ""}; }
MetaType nothing() { return {255, {}, "", ""}; }
}  // namespace types

std::string to_string(const MetaType& t) {
  switch (t.code) {
    case 0: return "u8";
    case 1: return "u16";
    case 2: return "u32";
    case 3: return "u64";
    case 10: return "bool";
    case 11: return "string";
    case 12: return "optional<" + (t.inner.empty() ? "?" : to_string(t.inner[0])) + ">";
    case 13: return "record " + t.module + "::" + t.name;
    case 14: return "enum " + t.module + "::" + t.name;
    case 17: return "list<" + (t.inner.empty() ? "?" : to_string(t.inner[0])) + ">";
    case 23:
      return "result<" + (t.inner.size() < 2 ? "?" : to_string(t.inner[0]) + ", " + to_string(t.inner[1])) + ">";
    case 255: return "nothing";
    default: return "type code " + std::to_string(t.code);
  }
}

namespace {

using namespace types;
using Args = std::vector<std::pair<std::string, MetaType>>;

Args key_history_args() {
  return {{"seq", u64()},       {"ts_ms", u64()},       {"enc_x25519", bytes()},
          {"enc_pq", bytes()},  {"signing_pub", bytes()}, {"prev_entry_hash", optional(bytes())}};
}
Args directory_args() {
  return {{"namespace", string()}, {"vrf_public", bytes()}, {"root", bytes()}, {"identity", bytes()}, {"proof", bytes()}};
}
Args keytrans_args() {
  return {{"context", string()}, {"vrf_public", bytes()}, {"root", bytes()}, {"label", bytes()}, {"proof", bytes()}};
}
Args prepend(std::pair<std::string, MetaType> first, Args rest) {
  rest.insert(rest.begin(), std::move(first));
  return rest;
}

}  // namespace

const std::vector<CatalogueFunction>& catalogue_functions() {
  static const std::vector<CatalogueFunction> fns = {
      {"verify_inclusion",
       {{"index", u64()}, {"size", u64()}, {"leaf_hash", bytes()}, {"proof", list(bytes())}, {"root", bytes()}},
       nothing(), 23817},
      {"verify_consistency",
       {{"size1", u64()}, {"size2", u64()}, {"proof", list(bytes())}, {"root1", bytes()}, {"root2", bytes()}},
       nothing(), 4525},
      {"key_history_v1_canonical_bytes", key_history_args(), bytes(), 6378},
      {"key_history_v1_entry_hash", key_history_args(), bytes(), 25568},
      {"key_history_entry_hash_with_context", prepend({"context", string()}, key_history_args()), bytes(), 40644},
      {"key_history_v1_rfc6962_leaf_hash", key_history_args(), bytes(), 28671},
      {"verify_signed_note", {{"note_text", string()}, {"vkeys", list(string())}}, u32(), 38403},
      {"checkpoint_verify", {{"note_text", string()}, {"vkeys", list(string())}}, record("CheckpointHead"), 56341},
      {"checkpoint_parse", {{"body_text", string()}}, record("CheckpointHead"), 64703},
      {"checkpoint_verify_inclusion",
       {{"note_text", string()}, {"vkeys", list(string())}, {"leaf_index", u64()}, {"leaf_hash", bytes()},
        {"proof", list(bytes())}},
       nothing(), 22407},
      {"checkpoint_verify_consistency",
       {{"older_note", string()}, {"newer_note", string()}, {"vkeys", list(string())}, {"proof", list(bytes())}},
       nothing(), 5065},
      {"coniks_verify_lookup", directory_args(), bytes(), 63275},
      {"coniks_verify_absence", directory_args(), nothing(), 21326},
      {"verify_commitment",
       {{"context", string()}, {"commitment", bytes()}, {"value", bytes()}, {"opening", bytes()}},
       nothing(), 64010},
      {"signed_policy_verify", {{"envelope", bytes()}}, record("PolicyPosture"), 6304},
      {"policy_enforce_checkpoint_signing_key", {{"envelope", bytes()}, {"public_key", string()}}, nothing(), 29086},
      {"policy_enforce_checkpoint_signature", {{"envelope", bytes()}, {"signature", string()}}, nothing(), 39639},
      {"policy_enforce_vrf_suite_id", {{"envelope", bytes()}, {"observed_suite_id", u8()}}, nothing(), 38214},
      {"policy_enforce_commitment_hash", {{"envelope", bytes()}, {"observed", enumeration("CommitmentHash")}},
       nothing(), 16684},
      {"policy_enforce_directory_backend", {{"envelope", bytes()}, {"observed_backend_id", u16()}}, nothing(),
       65019},
      {"keytrans_verify_search", keytrans_args(), record("SearchResult"), 53157},
      {"keytrans_verify_fixed_version", keytrans_args(), record("SearchResult"), 35412},
      {"keytrans_verify_monitor", keytrans_args(), nothing(), 14302},
      {"keytrans_verify_search_suite", prepend({"suite_id", u16()}, keytrans_args()), record("SearchResult"), 59628},
      {"keytrans_verify_fixed_version_suite", prepend({"suite_id", u16()}, keytrans_args()), record("SearchResult"),
       7714},
      {"keytrans_verify_monitor_suite", prepend({"suite_id", u16()}, keytrans_args()), nothing(), 63127},
  };
  return fns;
}

const std::vector<CatalogueRecord>& catalogue_records() {
  static const std::vector<CatalogueRecord> records = {
      {"CheckpointHead", {{"origin", string()}, {"size", u64()}, {"root", bytes()}, {"extensions", list(string())}}},
      {"SearchResult", {{"present", boolean()}, {"value", optional(bytes())}}},
      {"PolicyPosture",
       {{"namespace", string()},
        {"policy_schema_version", u32()},
        {"security_level", enumeration("SecurityLevel")},
        {"checkpoint_suite", enumeration("CheckpointSuite")},
        {"commitment_hash", enumeration("CommitmentHash")},
        {"vrf_mode", enumeration("VrfMode")},
        {"directory_mode", enumeration("DirectoryMode")},
        {"keytrans_suite", enumeration("KeytransSuite")},
        {"effective_from", u64()},
        {"created_at", u64()},
        {"policy_hash", bytes()},
        {"rfc6962_leaf_hash", bytes()}}},
  };
  return records;
}

const std::vector<CatalogueEnum>& catalogue_enums() {
  static const std::vector<CatalogueEnum> enums = {
      {"SecurityLevel", {"Cat3", "Cat5"}},
      {"CheckpointSuite", {"Hybrid", "HybridMatched", "PureCnsa2"}},
      {"CommitmentHash", {"Sha3_256", "Sha3_512"}},
      {"VrfMode", {"Classical", "HybridOutput", "PurePqExperimental"}},
      {"DirectoryMode", {"Coniks", "Keytrans"}},
      {"KeytransSuite", {"QuenfoldHybridExp", "Kt128Sha256Ed25519", "Kt128Sha256P256"}},
  };
  return enums;
}

const std::vector<std::string>& future_kinds() {
  static const std::vector<std::string> kinds = {"u8",  "i8",  "u16", "i16", "u32",         "i32",
                                                 "u64", "i64", "f32", "f64", "rust_buffer", "void"};
  return kinds;
}

std::string meta_symbol(const std::string& kind, const std::string& item) {
  std::string upper = item;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return "UNIFFI_META_QUENFOLD_LOG_" + kind + "_" + upper;
}

std::vector<std::string> catalogue_function_exports() {
  std::vector<std::string> names;
  for (const auto& f : catalogue_functions()) names.push_back("uniffi_quenfold_log_fn_func_" + f.name);
  for (const auto& f : catalogue_functions()) names.push_back("uniffi_quenfold_log_checksum_func_" + f.name);
  names.push_back("ffi_quenfold_log_uniffi_contract_version");
  for (const char* b : {"alloc", "from_bytes", "free", "reserve"}) names.push_back(std::string("ffi_quenfold_log_rustbuffer_") + b);
  for (const auto& k : future_kinds())
    for (const char* op : {"poll", "complete", "cancel", "free"})
      names.push_back(std::string("ffi_quenfold_log_rust_future_") + op + "_" + k);
  return names;
}

std::vector<std::string> catalogue_data_exports() {
  std::vector<std::string> names;
  for (const auto& f : catalogue_functions()) names.push_back(meta_symbol("FUNC", f.name));
  for (const auto& r : catalogue_records()) names.push_back(meta_symbol("RECORD", r.name));
  for (const auto& e : catalogue_enums()) names.push_back(meta_symbol("ENUM", e.name));
  names.push_back("UNIFFI_META_QUENFOLD_LOG_ERROR_VERIFYERROR");
  names.push_back("UNIFFI_META_NAMESPACE_QUENFOLD_LOG");
  return names;
}

}  // namespace quenfold::test
