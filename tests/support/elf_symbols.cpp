#include "support/elf_symbols.h"

#include <elf.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <sstream>
#include <stdexcept>

#include "support/testdata.h"

namespace quenfold::test {
namespace {

[[noreturn]] void malformed(const std::string& what) { throw std::runtime_error("malformed ELF: " + what); }

// Bounds-checked little-endian reads at absolute offsets of the file.
class File {
 public:
  explicit File(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::span<const std::uint8_t> range(std::uint64_t offset, std::uint64_t size, const char* what) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset) malformed(std::string(what) + " out of bounds");
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
  }
  template <class T>
  T le(std::uint64_t offset, const char* what) const {
    auto b = range(offset, sizeof(T), what);
    std::uint64_t v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) v = (v << 8) | b[i];
    return static_cast<T>(v);
  }
  // A NUL-terminated name inside a string table section.
  std::string name(const ElfSection& table, std::uint64_t index) const {
    if (index >= table.size) malformed("name index beyond its string table");
    auto s = range(table.offset + index, table.size - index, "string table");
    auto end = std::find(s.begin(), s.end(), std::uint8_t{0});
    if (end == s.end()) malformed("unterminated name");
    return std::string(s.begin(), end);
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace

std::vector<DynamicSymbol> ElfImage::exported() const {
  std::vector<DynamicSymbol> out;
  for (const auto& s : dynamic_symbols) {
    if (s.section == SHN_UNDEF) continue;
    if (s.binding != STB_GLOBAL && s.binding != STB_WEAK && s.binding != STB_GNU_UNIQUE) continue;
    if (s.visibility == STV_HIDDEN || s.visibility == STV_INTERNAL) continue;
    out.push_back(s);
  }
  return out;
}

const DynamicSymbol* ElfImage::find(const std::string& name) const {
  for (const auto& s : dynamic_symbols)
    if (s.name == name && s.section != SHN_UNDEF) return &s;
  return nullptr;
}

ElfImage read_elf(const std::string& path) {
  const std::string content = read_file(path);
  const File f(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));

  auto ident = f.range(0, EI_NIDENT, "identification");
  if (std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) malformed("not an ELF file");
  if (ident[EI_CLASS] != ELFCLASS64 || ident[EI_DATA] != ELFDATA2LSB) malformed("not ELF64 little-endian");

  const auto shoff = f.le<std::uint64_t>(offsetof(Elf64_Ehdr, e_shoff), "e_shoff");
  const auto shentsize = f.le<std::uint16_t>(offsetof(Elf64_Ehdr, e_shentsize), "e_shentsize");
  const auto shnum = f.le<std::uint16_t>(offsetof(Elf64_Ehdr, e_shnum), "e_shnum");
  const auto shstrndx = f.le<std::uint16_t>(offsetof(Elf64_Ehdr, e_shstrndx), "e_shstrndx");
  if (shentsize < sizeof(Elf64_Shdr)) malformed("section header entries too small");
  if (shstrndx >= shnum) malformed("section name table index out of range");

  ElfImage image;
  std::vector<std::uint32_t> name_index(shnum), link(shnum);
  std::vector<std::uint64_t> entsize(shnum);
  for (std::uint16_t i = 0; i < shnum; ++i) {
    const std::uint64_t h = shoff + std::uint64_t{i} * shentsize;
    ElfSection s;
    name_index[i] = f.le<std::uint32_t>(h + offsetof(Elf64_Shdr, sh_name), "sh_name");
    s.type = f.le<std::uint32_t>(h + offsetof(Elf64_Shdr, sh_type), "sh_type");
    s.flags = f.le<std::uint64_t>(h + offsetof(Elf64_Shdr, sh_flags), "sh_flags");
    s.address = f.le<std::uint64_t>(h + offsetof(Elf64_Shdr, sh_addr), "sh_addr");
    s.offset = f.le<std::uint64_t>(h + offsetof(Elf64_Shdr, sh_offset), "sh_offset");
    s.size = f.le<std::uint64_t>(h + offsetof(Elf64_Shdr, sh_size), "sh_size");
    link[i] = f.le<std::uint32_t>(h + offsetof(Elf64_Shdr, sh_link), "sh_link");
    entsize[i] = f.le<std::uint64_t>(h + offsetof(Elf64_Shdr, sh_entsize), "sh_entsize");
    image.sections.push_back(s);
  }
  for (std::uint16_t i = 0; i < shnum; ++i) image.sections[i].name = f.name(image.sections[shstrndx], name_index[i]);

  bool found = false;
  for (std::uint16_t i = 0; i < shnum; ++i) {
    const ElfSection& table = image.sections[i];
    if (table.type != SHT_DYNSYM) continue;
    if (found) malformed("two dynamic symbol tables");
    found = true;
    if (entsize[i] < sizeof(Elf64_Sym) || table.size % entsize[i] != 0) malformed("dynamic symbol entry size");
    if (link[i] >= shnum || image.sections[link[i]].type != SHT_STRTAB) malformed("dynamic string table link");
    const ElfSection& strings = image.sections[link[i]];
    f.range(table.offset, table.size, "dynamic symbol table");
    for (std::uint64_t e = 1; e < table.size / entsize[i]; ++e) {  // entry 0 is the null symbol
      const std::uint64_t at = table.offset + e * entsize[i];
      DynamicSymbol s;
      s.name = f.name(strings, f.le<std::uint32_t>(at + offsetof(Elf64_Sym, st_name), "st_name"));
      const auto info = f.le<std::uint8_t>(at + offsetof(Elf64_Sym, st_info), "st_info");
      s.type = ELF64_ST_TYPE(info);
      s.binding = ELF64_ST_BIND(info);
      s.visibility = ELF64_ST_VISIBILITY(f.le<std::uint8_t>(at + offsetof(Elf64_Sym, st_other), "st_other"));
      s.section = f.le<std::uint16_t>(at + offsetof(Elf64_Sym, st_shndx), "st_shndx");
      s.value = f.le<std::uint64_t>(at + offsetof(Elf64_Sym, st_value), "st_value");
      s.size = f.le<std::uint64_t>(at + offsetof(Elf64_Sym, st_size), "st_size");
      if (s.section != SHN_UNDEF && s.section < SHN_LORESERVE && s.section >= shnum) malformed("symbol section index");
      image.dynamic_symbols.push_back(std::move(s));
    }
  }
  if (!found) malformed("no dynamic symbol table");

  for (std::uint16_t i = 0; i < shnum; ++i) {
    const ElfSection& dynamic = image.sections[i];
    if (dynamic.type != SHT_DYNAMIC) continue;
    if (entsize[i] < sizeof(Elf64_Dyn) || dynamic.size % entsize[i] != 0) malformed("dynamic entry size");
    if (link[i] >= shnum || image.sections[link[i]].type != SHT_STRTAB) malformed("dynamic string table link");
    const ElfSection& strings = image.sections[link[i]];
    for (std::uint64_t e = 0; e < dynamic.size / entsize[i]; ++e) {
      const std::uint64_t at = dynamic.offset + e * entsize[i];
      const auto tag = f.le<std::uint64_t>(at + offsetof(Elf64_Dyn, d_tag), "d_tag");
      if (tag == DT_NULL) break;
      if (tag == DT_NEEDED)
        image.needed.push_back(f.name(strings, f.le<std::uint64_t>(at + offsetof(Elf64_Dyn, d_un), "d_val")));
    }
  }
  return image;
}

std::vector<std::string> linker_map_exports(const std::string& path) {
  std::istringstream in(read_file(path));
  std::vector<std::string> names;
  bool global = false;
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    line = line.substr(first);
    if (line == "global:") {
      global = true;
    } else if (line == "local:") {
      global = false;
    } else if (global) {
      if (line.back() != ';') throw std::runtime_error("linker map line without ';': " + line);
      names.push_back(line.substr(0, line.size() - 1));
    }
  }
  return names;
}

}  // namespace quenfold::test
