// The exported surface of the built libquenfold_log.so, read from its
// dynamic symbol table: exactly the catalogue's names, each of the right
// kind, and nothing else (no internal helper, no OpenSSL or libsodium
// symbol, no linker marker).
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <set>

#include "support/catalogue.h"
#include "support/elf_symbols.h"

namespace quenfold::test {
namespace {

const ElfImage& library_image() {
  static const ElfImage image = read_elf(QUENFOLD_LIBRARY_PATH);
  return image;
}

TEST(Surface, CatalogueCountsAreTheInterfaceContract) {
  EXPECT_EQ(catalogue_functions().size(), 26u);
  EXPECT_EQ(catalogue_function_exports().size(), 26u + 26u + 1u + 4u + 48u);
  EXPECT_EQ(catalogue_data_exports().size(), 37u);
}

TEST(Surface, ExportsExactlyTheCatalogue) {
  std::set<std::string> want;
  for (const auto& n : catalogue_function_exports()) want.insert(n);
  for (const auto& n : catalogue_data_exports()) want.insert(n);
  ASSERT_EQ(want.size(), 26u + 26u + 1u + 4u + 48u + 37u) << "catalogue names must be distinct";

  std::multiset<std::string> got;
  for (const auto& s : library_image().exported()) got.insert(s.name);

  std::vector<std::string> missing, extra;
  for (const auto& n : want)
    if (got.count(n) == 0) missing.push_back(n);
  for (const auto& n : got)
    if (want.count(n) == 0 || got.count(n) > 1) extra.push_back(n);
  EXPECT_TRUE(missing.empty()) << "missing exports: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "unexpected or duplicated exports: " << ::testing::PrintToString(extra);
  EXPECT_EQ(got.size(), 142u);
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

// The library is self-contained: its cryptographic dependencies are linked
// in (and hidden), so a wheel or a copied .so loads on any glibc system with
// the C and C++ runtimes and nothing else.
TEST(Surface, NeedsOnlyTheCAndCxxRuntimes) {
  std::set<std::string> allowed = {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1"};
#ifdef QUENFOLD_SANITIZER_RUNTIMES
  // A sanitizer build links its runtimes into the library as well.
  allowed.insert({"libasan.so.8", "libubsan.so.1", "libtsan.so.2"});
#endif
  const auto& needed = library_image().needed;
  ASSERT_FALSE(needed.empty()) << "no DT_NEEDED entries read";
  EXPECT_EQ(std::count(needed.begin(), needed.end(), "libc.so.6"), 1) << "the dynamic section was misread";
  for (const auto& lib : needed) EXPECT_TRUE(allowed.count(lib) == 1) << "needs " << lib;
}

}  // namespace
}  // namespace quenfold::test
