#include "cli.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace quenfold::cli {

Args::Args(int argc, char** argv, int first, std::vector<std::string> switches) {
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0) throw UsageError("unexpected argument " + a);
    a = a.substr(2);
    bool is_switch = false;
    for (const auto& s : switches) is_switch = is_switch || s == a;
    if (is_switch) {
      switches_on_[a] = true;
      continue;
    }
    if (i + 1 >= argc) throw UsageError("missing value for --" + a);
    if (values_.count(a)) throw UsageError("--" + a + " given twice");
    values_[a] = argv[++i];
  }
}

const std::string& Args::raw(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw UsageError("missing --" + name);
  return it->second;
}

std::string read_source(const std::string& spec) {
  if (spec == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  if (!spec.empty() && spec[0] == '@') {
    std::ifstream in(spec.substr(1), std::ios::binary);
    if (!in) throw UsageError("cannot read " + spec.substr(1));
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  return spec;
}

std::string Args::text(const std::string& name) const { return read_source(raw(name)); }

Bytes parse_hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) digits.push_back(c);
  if (digits.size() % 2 != 0) throw UsageError("odd number of hex digits");
  Bytes out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    auto nib = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      throw UsageError(std::string("invalid hex digit '") + c + "'");
    };
    out.push_back(static_cast<std::uint8_t>(nib(digits[i]) << 4 | nib(digits[i + 1])));
  }
  return out;
}

Bytes Args::hex(const std::string& name) const { return parse_hex(text(name)); }

std::vector<Bytes> Args::hex_list(const std::string& name) const {
  std::string t = text(name);
  for (char& c : t)
    if (c == ',') c = ' ';
  std::istringstream in(t);
  std::vector<Bytes> out;
  std::string item;
  while (in >> item) out.push_back(parse_hex(item));
  return out;
}

std::vector<std::string> Args::lines(const std::string& name) const {
  const std::string& spec = raw(name);
  std::vector<std::string> out;
  if (spec == "-" || (!spec.empty() && spec[0] == '@')) {
    std::istringstream in(read_source(spec));
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) out.push_back(line);
  } else {
    std::istringstream in(spec);
    std::string item;
    while (std::getline(in, item, ','))
      if (!item.empty()) out.push_back(item);
  }
  return out;
}

std::uint64_t Args::u64(const std::string& name) const {
  const std::string& v = raw(name);
  if (v.empty() || v.size() > 20 || v.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError("--" + name + " must be an unsigned decimal number");
  try {
    return std::stoull(v);
  } catch (const std::exception&) {
    throw UsageError("--" + name + " is out of range");
  }
}

void Args::finish(const std::vector<std::string>& known) const {
  for (const auto& [k, v] : values_) {
    bool ok = false;
    for (const auto& n : known) ok = ok || n == k;
    if (!ok) throw UsageError("unknown option --" + k);
  }
}

int reject(const Error& e) {
  std::cout << "rejected: " << e.message() << "\n";
  return kRejected;
}

int report(const std::expected<void, Error>& r) {
  if (!r) return reject(r.error());
  std::cout << "verified\n";
  return kVerified;
}

std::string to_hex(ByteView b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (auto x : b) {
    out.push_back(kDigits[x >> 4]);
    out.push_back(kDigits[x & 15]);
  }
  return out;
}

}  // namespace quenfold::cli
