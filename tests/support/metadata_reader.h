// A reader of the interface metadata items, written from the encoding rules
// alone (as a bindings generator would read them): strict, every fixed byte
// checked, and every item consumed exactly.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "support/catalogue.h"

namespace quenfold::test {

struct MetadataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct MetaFunction {
  std::string module, name;
  std::vector<std::pair<std::string, MetaType>> args;
  MetaType result;
  std::string doc;
};
struct MetaField {
  std::string name;
  MetaType type;
  std::string doc;
};
struct MetaRecord {
  std::string module, name;
  std::vector<MetaField> fields;
  std::string doc;
};
struct MetaVariant {
  std::string name;
  std::string doc;
};
struct MetaEnum {
  std::string module, name;
  bool is_error = false;  // variants travel as message text only
  std::vector<MetaVariant> variants;
  std::string doc;
};
struct MetaNamespace {
  std::string crate, name;
};
using MetaItem = std::variant<MetaFunction, MetaRecord, MetaEnum, MetaNamespace>;

// Parses one item; throws MetadataError on any deviation from the encoding,
// including bytes left over after the item.
MetaItem parse_metadata_item(std::span<const std::uint8_t> bytes);

// The checksum a bindings generator derives from an item: 64-bit FNV-1a
// over its bytes, folded to 16 bits.
std::uint16_t metadata_checksum(std::span<const std::uint8_t> bytes);

}  // namespace quenfold::test
