// The published interface of libquenfold_log_ext as the tests know it,
// written down independently of tools/metadata-gen/extension.json: its
// objects with their constructors and methods, its functions, records,
// enums and error variants, and every export name they give.
#pragma once

#include <string>
#include <vector>

namespace quenfold::test::extension {

struct Object {
  std::string name;
  std::vector<std::string> constructors;
  std::vector<std::string> methods;
};

const std::vector<Object>& objects();
const std::vector<std::string>& functions();
const std::vector<std::string>& records();
const std::vector<std::string>& enums();

// An error variant's fields in wire order, each 'q' (u64), 'l' (u32) or
// 's' (string); the message follows them all.
struct ErrorVariant {
  std::string name;
  std::string fields;
};
// In variant order (from 1): the C++ ErrorKind order.
const std::vector<ErrorVariant>& error_variants();

// The exported names: the calls, the handles' clone and free, the
// checksums, the contract version and the buffer functions; then the
// metadata symbols.
std::vector<std::string> function_exports();
std::vector<std::string> data_exports();

}  // namespace quenfold::test::extension
