// The exported surface of the built libquenfold_log.so, read from its
// dynamic symbol table: exactly the catalogue's names, each of the right
// kind, and nothing else (no internal helper, no OpenSSL or libsodium
// symbol, no linker marker).
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string_view>

#include "support/catalogue.h"
#include "support/elf_symbols.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

const ElfImage& library_image() {
  static const ElfImage image = read_elf(QUENFOLD_LIBRARY_PATH);
  return image;
}

std::vector<std::string> catalogue_exports() {
  auto names = catalogue_function_exports();
  for (auto& n : catalogue_data_exports()) names.push_back(std::move(n));
  return names;
}

TEST(Surface, CatalogueCountsAreTheInterfaceContract) {
  // This catalogue is written down independently of the generator's; the
  // two agree name for name and in order, so every count of the one (of
  // operations, checksums, scaffolding and metadata symbols) is the other's.
  const auto map = linker_map_exports(QUENFOLD_LINKER_MAP);
  ASSERT_FALSE(map.empty()) << "no names read from " << QUENFOLD_LINKER_MAP;
  EXPECT_EQ(catalogue_exports(), map);
  // The same, kind by kind, so that a mismatch names the part that differs:
  // a function and a checksum per operation, four functions per future
  // result kind, a metadata item per operation, record and enum plus the
  // error's and the namespace's.
  const auto count = [&](std::string_view prefix) {
    return static_cast<std::size_t>(
        std::ranges::count_if(map, [&](const std::string& n) { return n.starts_with(prefix); }));
  };
  const std::size_t operations = catalogue_functions().size();
  EXPECT_EQ(count("uniffi_quenfold_log_fn_func_"), operations);
  EXPECT_EQ(count("uniffi_quenfold_log_checksum_func_"), operations);
  EXPECT_EQ(count("ffi_quenfold_log_rust_future_"), 4 * future_kinds().size());
  EXPECT_EQ(count("UNIFFI_META_"), operations + catalogue_records().size() + catalogue_enums().size() + 2);
}

TEST(Surface, ExportsExactlyTheCatalogue) {
  const auto names = catalogue_exports();
  const std::set<std::string> want(names.begin(), names.end());
  ASSERT_EQ(want.size(), names.size()) << "catalogue names must be distinct";

  std::multiset<std::string> got;
  for (const auto& s : library_image().exported()) got.insert(s.name);

  std::vector<std::string> missing, extra;
  for (const auto& n : want)
    if (got.count(n) == 0) missing.push_back(n);
  for (const auto& n : got)
    if (want.count(n) == 0 || got.count(n) > 1) extra.push_back(n);
  EXPECT_TRUE(missing.empty()) << "missing exports: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "unexpected or duplicated exports: " << ::testing::PrintToString(extra);
  EXPECT_EQ(got.size(), linker_map_exports(QUENFOLD_LINKER_MAP).size());
}

TEST(Surface, FunctionsAreCodeAndMetadataIsReadOnlyData) {
  const ElfImage& image = library_image();
  for (const auto& name : catalogue_function_exports()) {
    const DynamicSymbol* s = image.find(name);
    if (s == nullptr) continue;  // reported by ExportsExactlyTheCatalogue
    EXPECT_EQ(s->type, unsigned{STT_FUNC}) << name;
    EXPECT_EQ(s->binding, unsigned{STB_GLOBAL}) << name;
  }
  for (const auto& name : catalogue_data_exports()) {
    const DynamicSymbol* s = image.find(name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->type, unsigned{STT_OBJECT}) << name;
    EXPECT_GT(s->size, 0u) << name;
    ASSERT_LT(s->section, image.sections.size()) << name;
    const ElfSection& section = image.sections[s->section];
    EXPECT_EQ(section.flags & SHF_WRITE, 0u) << name << " lives in writable section " << section.name;
    EXPECT_EQ(section.flags & SHF_EXECINSTR, 0u) << name << " lives in code section " << section.name;
    EXPECT_GE(s->value, section.address) << name;
    EXPECT_LE(s->value + s->size, section.address + section.size) << name;
  }
}

// The libraries are self-contained: their cryptographic dependencies are
// linked in (and hidden), so a wheel or a copied .so loads on any glibc
// system with the C and C++ runtimes and nothing else. The extension library
// is held to the same rule.
TEST(Surface, NeedsOnlyTheCAndCxxRuntimes) {
  std::set<std::string> allowed = {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1"};
#ifdef QUENFOLD_SANITIZER_RUNTIMES
  // A sanitizer build links its runtimes into the library as well.
  allowed.insert({"libasan.so.8", "libubsan.so.1", "libtsan.so.2"});
#endif
  static const ElfImage extension = read_elf(QUENFOLD_EXT_LIBRARY_PATH);
  for (const ElfImage* image : {&library_image(), &extension}) {
    const auto& needed = image->needed;
    ASSERT_FALSE(needed.empty()) << "no DT_NEEDED entries read";
    EXPECT_EQ(std::count(needed.begin(), needed.end(), "libc.so.6"), 1) << "the dynamic section was misread";
    for (const auto& lib : needed) EXPECT_TRUE(allowed.count(lib) == 1) << "needs " << lib;
  }
}

}  // namespace
}  // namespace quenfold::test
