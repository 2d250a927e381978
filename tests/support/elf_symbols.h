// Reading the dynamic symbol table of a built ELF64 little-endian shared
// library, the way a bindings generator or `nm -D` does: the exported names,
// their kinds and sizes, and the sections they live in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quenfold::test {

struct ElfSection {
  std::string name;
  std::uint32_t type = 0;
  std::uint64_t flags = 0;
  std::uint64_t address = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct DynamicSymbol {
  std::string name;
  std::uint64_t value = 0;
  std::uint64_t size = 0;
  unsigned type = 0;        // STT_*
  unsigned binding = 0;     // STB_*
  unsigned visibility = 0;  // STV_*
  std::uint16_t section = 0;  // st_shndx; 0 (SHN_UNDEF) for an imported symbol
};

struct ElfImage {
  std::vector<ElfSection> sections;
  std::vector<DynamicSymbol> dynamic_symbols;  // in table order, the null entry skipped
  std::vector<std::string> needed;             // DT_NEEDED: the libraries loaded with it, in order

  // Symbols another object can bind to: defined here, global or weak, and
  // not hidden or internal.
  std::vector<DynamicSymbol> exported() const;
  const DynamicSymbol* find(const std::string& name) const;
};

// Parses the file; throws std::runtime_error on anything malformed.
ElfImage read_elf(const std::string& path);

// The names between "global:" and "local:" of a linker version script, in
// order: what tools/metadata-gen wrote from its catalogue. Each must end in
// ';' (an error of the file otherwise).
std::vector<std::string> linker_map_exports(const std::string& path);

}  // namespace quenfold::test
