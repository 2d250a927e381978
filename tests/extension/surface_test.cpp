// The exported surface of the built libquenfold_log_ext.so: exactly the
// names of its linker map and of the tests' own list, of the right kinds,
// self-contained like libquenfold_log, and sharing no name with it (whose
// own surface stays exactly its catalogue).
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "support/catalogue.h"
#include "support/elf_symbols.h"
#include "support/extension_catalogue.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

const ElfImage& ext_image() {
  static const ElfImage image = read_elf(QUENFOLD_EXT_LIBRARY_PATH);
  return image;
}
const ElfImage& core_image() {
  static const ElfImage image = read_elf(QUENFOLD_LIBRARY_PATH);
  return image;
}


std::set<std::string> exported_names(const ElfImage& image) {
  std::set<std::string> out;
  for (const auto& s : image.exported()) out.insert(s.name);
  return out;
}

std::vector<std::string> listed_exports() {
  auto names = extension::function_exports();
  for (auto& n : extension::data_exports()) names.push_back(std::move(n));
  return names;
}

TEST(ExtensionSurface, TheTestsListIsTheLinkerMap) {
  const auto map = linker_map_exports(QUENFOLD_EXT_LINKER_MAP);
  ASSERT_FALSE(map.empty());
  EXPECT_EQ(listed_exports(), map);
}

TEST(ExtensionSurface, ExportsExactlyItsList) {
  const auto names = listed_exports();
  const std::set<std::string> want(names.begin(), names.end());
  ASSERT_EQ(want.size(), names.size());
  const auto got = exported_names(ext_image());
  EXPECT_EQ(got, want);
  EXPECT_EQ(ext_image().exported().size(), names.size()) << "a name exported twice";
}

TEST(ExtensionSurface, FunctionsAreCodeAndMetadataIsReadOnlyData) {
  const ElfImage& image = ext_image();
  for (const auto& name : extension::function_exports()) {
    const DynamicSymbol* s = image.find(name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->type, unsigned{STT_FUNC}) << name;
  }
  for (const auto& name : extension::data_exports()) {
    const DynamicSymbol* s = image.find(name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->type, unsigned{STT_OBJECT}) << name;
    EXPECT_GT(s->size, 0u) << name;
    ASSERT_LT(s->section, image.sections.size()) << name;
    EXPECT_EQ(image.sections[s->section].flags & (SHF_WRITE | SHF_EXECINSTR), 0u) << name;
  }
}

TEST(ExtensionSurface, SharesNoNameWithTheCoreLibrary) {
  const auto ext = exported_names(ext_image());
  const auto core = exported_names(core_image());
  ASSERT_FALSE(core.empty());
  std::vector<std::string> shared;
  std::ranges::set_intersection(ext, core, std::back_inserter(shared));
  EXPECT_TRUE(shared.empty()) << ::testing::PrintToString(shared);
  // Nothing of the core's own prefix leaks into the extension.
  for (const auto& n : ext) EXPECT_EQ(n.find("quenfold_log_fn_"), std::string::npos) << n;
}

TEST(ExtensionSurface, TheCoreLibraryIsExactlyItsCatalogue) {
  auto names = catalogue_function_exports();
  for (auto& n : catalogue_data_exports()) names.push_back(std::move(n));
  const std::set<std::string> want(names.begin(), names.end());
  EXPECT_EQ(exported_names(core_image()), want);
  EXPECT_EQ(core_image().exported().size(), names.size());
  for (const auto& n : want) EXPECT_EQ(n.find("_ext_"), std::string::npos) << n;
}

// (The runtimes it may need are checked with the core library's, in the
// boundary tests' Surface.NeedsOnlyTheCAndCxxRuntimes.)
TEST(ExtensionSurface, NeedsNotTheCoreLibrary) {
  const auto& needed = ext_image().needed;
  ASSERT_FALSE(needed.empty()) << "no DT_NEEDED entries read";
  for (const auto& lib : needed) EXPECT_EQ(lib.find("quenfold"), std::string::npos) << lib;
}

}  // namespace
}  // namespace quenfold::test
