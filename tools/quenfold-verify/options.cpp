// A subcommand's options, declared with the parser and read as the typed
// values the handlers need.
#include <cctype>
#include <sstream>

#include "cli.h"
#include "encoding/base64.h"
#include "encoding/text.h"

namespace quenfold::cli {
namespace {

bool from_stream(const std::string& given) { return given == "-" || given.starts_with('@'); }

std::string trimmed(std::string v) {
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  std::size_t start = 0;
  while (start < v.size() && std::isspace(static_cast<unsigned char>(v[start]))) ++start;
  return v.substr(start);
}

}  // namespace

Options& Options::required(const std::string& name, const std::string& type, const std::string& help) {
  command_.add_option("--" + name, values_[name], help)->type_name(type)->required();
  return *this;
}

Options& Options::optional(const std::string& name, const std::string& type, const std::string& help) {
  command_.add_option("--" + name, values_[name], help)->type_name(type);
  return *this;
}

Options& Options::flag(const std::string& name, const std::string& help) {
  command_.add_flag("--" + name, help);
  return *this;
}

bool Options::has(const std::string& name) const { return command_.count("--" + name) != 0; }

const std::string& Options::raw(const std::string& name) const {
  if (!has(name)) throw UsageError("missing --" + name);
  return values_.at(name);
}

std::string Options::text(const std::string& name, std::size_t cap) const {
  return read_value(raw(name), "--" + name, cap);
}

std::string Options::text_or_stdin(const std::string& name, std::size_t cap) const {
  return has(name) ? text(name, cap) : read_standard_input(cap, "--" + name);
}

Bytes parse_hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) digits.push_back(c);
  if (auto bytes = encoding::hex_to_bytes(digits)) return std::move(*bytes);
  // Only the reason is left to find.
  if (digits.size() % 2 != 0) throw UsageError("odd number of hex digits");
  for (char c : digits)
    if (encoding::hex_value(c) < 0) throw UsageError(std::string("invalid hex digit '") + c + "'");
  throw UsageError("invalid hex");  // not reached: hex_to_bytes fails only for the two reasons above
}

Bytes Options::hex(const std::string& name) const { return parse_hex(text(name)); }

std::vector<Bytes> Options::hex_list(const std::string& name) const {
  std::vector<Bytes> out;
  if (!has(name)) return out;
  std::string t = text(name);
  for (char& c : t)
    if (c == ',') c = ' ';
  std::istringstream in(t);
  std::string item;
  while (in >> item) out.push_back(parse_hex(item));
  return out;
}

std::vector<std::string> Options::lines(const std::string& name) const {
  const std::string& given = raw(name);
  const bool stream = from_stream(given);
  std::istringstream in(stream ? text(name) : given);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line, stream ? '\n' : ',')) {
    // A file written with CRLF line ends: no value read as lines holds a CR.
    if (stream && line.ends_with('\r')) line.pop_back();
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

std::uint64_t Options::u64(const std::string& name) const {
  const std::string v = trimmed(text(name));
  if (v.empty() || v.size() > 20 || v.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("--" + name + " must be an unsigned decimal number");
  try {
    return std::stoull(v);
  } catch (const std::out_of_range&) {
    throw UsageError("--" + name + " is out of range");
  }
}

bool Options::json() const {
  // --json belongs to the root parser; the subcommand passes it up.
  const CLI::App* root = command_.get_parent();
  return root != nullptr && root->count("--json") != 0;
}

}  // namespace quenfold::cli
