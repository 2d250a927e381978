// The catalogue as a bindings generator and generated bindings see it:
// checksum and version exports, and every metadata symbol read from the
// built library (its size from the dynamic symbol table), parsed by the
// encoding rules, checked against the published interface, and hashed to
// the function's checksum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "support/boundary.h"
#include "support/catalogue.h"
#include "support/elf_symbols.h"
#include "support/metadata_reader.h"
#include "support/testdata.h"

extern "C" {
const uint8_t* quenfold_c_namespace_meta(void);
const uint8_t* quenfold_c_verify_inclusion_meta(void);
uint16_t quenfold_c_verify_inclusion_checksum(void);
uint32_t quenfold_c_contract_version(void);
void quenfold_c_free_null_future(void);
}

namespace quenfold::test {
namespace {

const ElfImage& library_image() {
  static const ElfImage image = read_elf(QUENFOLD_LIBRARY_PATH);
  return image;
}

// The bytes of a metadata symbol of the loaded library, sized by the
// dynamic symbol table.
std::span<const std::uint8_t> metadata(const std::string& symbol) {
  const DynamicSymbol* s = library_image().find(symbol);
  if (s == nullptr) throw std::runtime_error("no symbol " + symbol);
  auto* p = static_cast<const std::uint8_t*>(Library::instance().symbol(symbol.c_str()));
  if (p == nullptr) throw std::runtime_error("dlsym failed for " + symbol);
  return {p, static_cast<std::size_t>(s->size)};
}

using ChecksumFn = std::uint16_t();

TEST(Catalogue, ChecksumExportsReturnThePublishedConstants) {
  const Library& lib = Library::instance();
  for (const auto& f : catalogue_functions()) {
    const auto got = lib.fn<ChecksumFn>(("uniffi_quenfold_log_checksum_func_" + f.name).c_str())();
    EXPECT_EQ(got, f.checksum) << f.name;
  }
  // Two constants spelled out, as published.
  EXPECT_EQ(lib.fn<ChecksumFn>("uniffi_quenfold_log_checksum_func_verify_inclusion")(), 23817);
  EXPECT_EQ(lib.fn<ChecksumFn>("uniffi_quenfold_log_checksum_func_keytrans_verify_monitor_suite")(), 63127);
}

TEST(Catalogue, ContractVersionIs30) {
  EXPECT_EQ(Library::instance().fn<std::uint32_t()>("ffi_quenfold_log_uniffi_contract_version")(), 30u);
}

TEST(Catalogue, FunctionMetadataHashesToTheChecksum) {
  const Library& lib = Library::instance();
  for (const auto& f : catalogue_functions()) {
    const auto item = metadata(meta_symbol("FUNC", f.name));
    const auto derived = metadata_checksum(item);
    EXPECT_EQ(derived, f.checksum) << f.name << ": bindings generated from this library would refuse it";
    EXPECT_EQ(derived, lib.fn<ChecksumFn>(("uniffi_quenfold_log_checksum_func_" + f.name).c_str())()) << f.name;
  }
}

TEST(Catalogue, ChecksumRuleMatchesKnownFnvValues) {
  // FNV-1a 64 of "" is the offset basis, of "a" 0xaf63dc4c8601ec8c
  // (published test values of the hash); folded to 16 bits.
  auto fold = [](std::uint64_t h) { return static_cast<std::uint16_t>(h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)); };
  EXPECT_EQ(metadata_checksum({}), fold(0xcbf29ce484222325ull));
  const std::uint8_t a[] = {'a'};
  EXPECT_EQ(metadata_checksum(a), fold(0xaf63dc4c8601ec8cull));
  const std::uint8_t foobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
  EXPECT_EQ(metadata_checksum(foobar), fold(0x85944171f73967e8ull));
}

TEST(Catalogue, FunctionMetadataDescribesEachOperation) {
  for (const auto& want : catalogue_functions()) {
    SCOPED_TRACE(want.name);
    const auto item = parse_metadata_item(metadata(meta_symbol("FUNC", want.name)));
    ASSERT_TRUE(std::holds_alternative<MetaFunction>(item));
    const auto& got = std::get<MetaFunction>(item);
    EXPECT_EQ(got.module, "quenfold_log::ffi");
    EXPECT_EQ(got.name, want.name);
    ASSERT_EQ(got.args.size(), want.args.size());
    for (std::size_t i = 0; i < want.args.size(); ++i) {
      EXPECT_EQ(got.args[i].first, want.args[i].first) << "argument " << i;
      EXPECT_EQ(got.args[i].second, want.args[i].second)
          << want.args[i].first << ": " << to_string(got.args[i].second) << " vs " << to_string(want.args[i].second);
    }
    const MetaType result = types::result(want.result, types::enumeration("VerifyError"));
    EXPECT_EQ(got.result, result) << to_string(got.result) << " vs " << to_string(result);
    // The documentation states the contract; the checksum tag, if any,
    // stays on its own last line.
    const auto tag = got.doc.rfind("\n\nChecksum tag: ");
    const std::string contract = got.doc.substr(0, tag);
    EXPECT_GE(contract.size(), 40u) << got.doc;
    EXPECT_EQ(contract.find('\n'), std::string::npos) << "the contract is one paragraph";
    if (tag != std::string::npos) {
      EXPECT_EQ(got.doc.size() - tag, std::strlen("\n\nChecksum tag: ") + 5);
    }
  }
}

TEST(Catalogue, RecordMetadataListsTheFields) {
  for (const auto& want : catalogue_records()) {
    SCOPED_TRACE(want.name);
    const auto item = parse_metadata_item(metadata(meta_symbol("RECORD", want.name)));
    ASSERT_TRUE(std::holds_alternative<MetaRecord>(item));
    const auto& got = std::get<MetaRecord>(item);
    EXPECT_EQ(got.module, "quenfold_log::ffi");
    EXPECT_EQ(got.name, want.name);
    EXPECT_FALSE(got.doc.empty());
    ASSERT_EQ(got.fields.size(), want.fields.size());
    for (std::size_t i = 0; i < want.fields.size(); ++i) {
      EXPECT_EQ(got.fields[i].name, want.fields[i].first);
      EXPECT_EQ(got.fields[i].type, want.fields[i].second) << want.fields[i].first;
      EXPECT_FALSE(got.fields[i].doc.empty()) << want.fields[i].first;
    }
  }
}

TEST(Catalogue, EnumMetadataListsTheVariantsInIndexOrder) {
  for (const auto& want : catalogue_enums()) {
    SCOPED_TRACE(want.name);
    const auto item = parse_metadata_item(metadata(meta_symbol("ENUM", want.name)));
    ASSERT_TRUE(std::holds_alternative<MetaEnum>(item));
    const auto& got = std::get<MetaEnum>(item);
    EXPECT_EQ(got.module, "quenfold_log::ffi");
    EXPECT_EQ(got.name, want.name);
    EXPECT_FALSE(got.is_error);
    EXPECT_FALSE(got.doc.empty());
    std::vector<std::string> names;
    for (const auto& v : got.variants) {
      names.push_back(v.name);
      EXPECT_FALSE(v.doc.empty()) << v.name;
    }
    EXPECT_EQ(names, want.variants);
  }
}

TEST(Catalogue, ErrorAndNamespaceMetadata) {
  {
    const auto item = parse_metadata_item(metadata("UNIFFI_META_QUENFOLD_LOG_ERROR_VERIFYERROR"));
    ASSERT_TRUE(std::holds_alternative<MetaEnum>(item));
    const auto& e = std::get<MetaEnum>(item);
    EXPECT_EQ(e.module, "quenfold_log::ffi");
    EXPECT_EQ(e.name, "VerifyError");
    EXPECT_TRUE(e.is_error);
    ASSERT_EQ(e.variants.size(), 1u);
    EXPECT_EQ(e.variants[0].name, "Verification");
    EXPECT_FALSE(e.variants[0].doc.empty());
    EXPECT_FALSE(e.doc.empty());
  }
  {
    const auto item = parse_metadata_item(metadata("UNIFFI_META_NAMESPACE_QUENFOLD_LOG"));
    ASSERT_TRUE(std::holds_alternative<MetaNamespace>(item));
    EXPECT_EQ(std::get<MetaNamespace>(item).crate, "quenfold_log");
    EXPECT_EQ(std::get<MetaNamespace>(item).name, "quenfold_log");
    EXPECT_EQ(to_hex(metadata("UNIFFI_META_NAMESPACE_QUENFOLD_LOG")),
              "06" "0c" + to_hex(bytes_of("quenfold_log")) + "0c" + to_hex(bytes_of("quenfold_log")));
  }
}

TEST(Catalogue, EveryTypeInTheMetadataIsDeclared) {
  // Records and enums named by functions and fields exist as items.
  std::vector<std::string> declared;
  for (const auto& r : catalogue_records()) declared.push_back("record " + r.name);
  for (const auto& e : catalogue_enums()) declared.push_back("enum " + e.name);
  declared.push_back("enum VerifyError");
  std::function<void(const MetaType&)> check = [&](const MetaType& t) {
    if (t.code == 13 || t.code == 14) {
      EXPECT_EQ(t.module, "quenfold_log::ffi");
      const std::string key = (t.code == 13 ? "record " : "enum ") + t.name;
      EXPECT_NE(std::ranges::find(declared, key), declared.end()) << key;
    }
    for (const auto& i : t.inner) check(i);
  };
  for (const auto& f : catalogue_functions()) {
    const auto fn = std::get<MetaFunction>(parse_metadata_item(metadata(meta_symbol("FUNC", f.name))));
    for (const auto& a : fn.args) check(a.second);
    check(fn.result);
  }
  for (const auto& r : catalogue_records()) {
    const auto rec = std::get<MetaRecord>(parse_metadata_item(metadata(meta_symbol("RECORD", r.name))));
    for (const auto& field : rec.fields) check(field.type);
  }
}

TEST(Catalogue, HeaderDeclarationsWorkFromC) {
  // The C translation unit sees the same items and constants (here through
  // the statically linked core) as the loaded library exports.
  const auto ns = metadata("UNIFFI_META_NAMESPACE_QUENFOLD_LOG");
  EXPECT_EQ(std::memcmp(quenfold_c_namespace_meta(), ns.data(), ns.size()), 0);
  const auto fn = metadata("UNIFFI_META_QUENFOLD_LOG_FUNC_VERIFY_INCLUSION");
  EXPECT_EQ(std::memcmp(quenfold_c_verify_inclusion_meta(), fn.data(), fn.size()), 0);
  EXPECT_EQ(quenfold_c_verify_inclusion_checksum(), 23817);
  EXPECT_EQ(quenfold_c_contract_version(), 30u);
  quenfold_c_free_null_future();
}

// ---- the reader itself is strict (so a passing parse means something) -----------

TEST(MetadataReader, RejectsEveryTruncationAndAnyTrailingByte) {
  for (const std::string& symbol : {meta_symbol("FUNC", "verify_inclusion"), meta_symbol("RECORD", "PolicyPosture"),
                                   meta_symbol("ENUM", "KeytransSuite"),
                                   std::string("UNIFFI_META_QUENFOLD_LOG_ERROR_VERIFYERROR"),
                                   std::string("UNIFFI_META_NAMESPACE_QUENFOLD_LOG")}) {
    SCOPED_TRACE(symbol);
    const auto full = metadata(symbol);
    EXPECT_NO_THROW(parse_metadata_item(full));
    for (std::size_t n = 0; n < full.size(); ++n)
      EXPECT_THROW(parse_metadata_item(full.first(n)), MetadataError) << "prefix of " << n << " bytes";
    std::vector<std::uint8_t> longer(full.begin(), full.end());
    longer.push_back(0);
    EXPECT_THROW(parse_metadata_item(longer), MetadataError);
  }
}

TEST(MetadataReader, RejectsWrongFixedBytesAndCodes) {
  const auto full = metadata(meta_symbol("FUNC", "verify_signed_note"));
  const std::vector<std::uint8_t> item(full.begin(), full.end());
  // Offsets: tag 0; module path at 1 (1 + 17 bytes); name at 19.
  const std::size_t after_name = 19 + 1 + std::strlen("verify_signed_note");
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  const std::vector<Case> cases = {
      {"unknown item tag", 0, 9},
      {"asynchronous", after_name, 1},
      {"second flag byte", after_name + 1, 7},
      {"unknown type code", after_name + 3 + 1 + std::strlen("note_text"), 42},
      {"argument trailer", after_name + 3 + 1 + std::strlen("note_text") + 1, 1},
  };
  for (const auto& c : cases) {
    auto broken = item;
    broken[c.offset] = c.value;
    EXPECT_THROW(parse_metadata_item(broken), MetadataError) << c.what;
  }
  EXPECT_NO_THROW(parse_metadata_item(item));
}

}  // namespace
}  // namespace quenfold::test
