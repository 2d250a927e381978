// The published interface of libquenfold_log as the tests know it, written
// down independently of the library and of its metadata generator: every
// export name, each operation's arguments, result and checksum, the records
// and the enums.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quenfold::test {

// A type as the interface metadata describes it: its code byte, then the
// inner types (optional, list, result) or the module path and name (record,
// enum).
struct MetaType {
  std::uint8_t code = 0;
  std::vector<MetaType> inner;
  std::string module;
  std::string name;
  friend bool operator==(const MetaType&, const MetaType&) = default;
};
std::string to_string(const MetaType& t);

namespace types {
inline constexpr const char* kModule = "quenfold_log::ffi";
MetaType u8();
MetaType u16();
MetaType u32();
MetaType u64();
MetaType boolean();
MetaType string();
MetaType bytes();  // list of u8
MetaType list(MetaType element);
MetaType optional(MetaType inner);
MetaType record(const std::string& name);
MetaType enumeration(const std::string& name);
MetaType nothing();
MetaType result(MetaType ok, MetaType error);
}  // namespace types

struct CatalogueFunction {
  std::string name;
  std::vector<std::pair<std::string, MetaType>> args;
  MetaType result;  // the success type (nothing for none)
  std::uint16_t checksum = 0;
};
struct CatalogueRecord {
  std::string name;
  std::vector<std::pair<std::string, MetaType>> fields;
};
struct CatalogueEnum {
  std::string name;
  std::vector<std::string> variants;
};

const std::vector<CatalogueFunction>& catalogue_functions();  // the operations, in order
const std::vector<CatalogueRecord>& catalogue_records();
const std::vector<CatalogueEnum>& catalogue_enums();

// The result kinds of the future scaffolding.
const std::vector<std::string>& future_kinds();

// Every exported name, in the linker map's order: the operations, their
// checksums, the contract version, the buffer functions, the future
// functions (four per result kind), then the metadata symbols.
std::vector<std::string> catalogue_function_exports();
std::vector<std::string> catalogue_data_exports();

// The metadata symbol of an item name ("verify_inclusion" -> ..._FUNC_VERIFY_INCLUSION).
std::string meta_symbol(const std::string& kind, const std::string& item);

}  // namespace quenfold::test
