#include "cli.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace quenfold::cli {

Args::Args(int argc, char** argv, int first, std::vector<std::string> switches) {
  switches.push_back("json");  // every subcommand takes it; run_command acts on it
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

std::string read_source(const std::string& given) {
  if (given == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  if (!given.empty() && given[0] == '@') {
    std::ifstream in(given.substr(1), std::ios::binary);
    if (!in) throw UsageError("cannot read " + given.substr(1));
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  return given;
}

std::string Args::text(const std::string& name) const {
  const std::string& given = raw(name);
  if (given == "-") {
    if (stdin_taken_) throw UsageError("only one value can come from standard input (-)");
    stdin_taken_ = true;
  }
  return read_source(given);
}

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
  const std::string& given = raw(name);
  std::vector<std::string> out;
  if (given == "-" || (!given.empty() && given[0] == '@')) {
    std::istringstream in(text(name));
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) out.push_back(line);
  } else {
    std::istringstream in(given);
    std::string item;
    while (std::getline(in, item, ','))
      if (!item.empty()) out.push_back(item);
  }
  return out;
}

std::uint64_t Args::u64(const std::string& name) const {
  std::string v = text(name);
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front()))) v.erase(0, 1);
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
  return verified();
}

int verified(const std::vector<Field>& fields) {
  std::cout << "verified\n";
  for (const auto& f : fields) std::cout << f.label << ": " << f.value << "\n";
  return kVerified;
}

namespace {

void json_string(std::string& out, std::string_view s) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out.push_back('"');
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\u00";
          out.push_back(kDigits[c >> 4]);
          out.push_back(kDigits[c & 15]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

// "entry hash" -> "entry_hash"
std::string json_key(std::string_view label) {
  std::string key;
  for (char ch : label) {
    const auto c = static_cast<unsigned char>(ch);
    key.push_back(std::isalnum(c) ? static_cast<char>(std::tolower(c)) : '_');
  }
  return key;
}

void print_help(const Command& c) {
  std::cout << "usage: quenfold-verify " << c.name << " " << c.usage << " [--json]\n";
  if (*c.summary) std::cout << "\n" << c.summary << "\n";
  std::cout << "\nEvery value may be given inline (hex for bytes, white space ignored), as\n"
               "@path for the contents of a file, or as - for standard input (one value).\n"
               "Lists of hashes are separated by commas or white space.\n"
               "  --json   print the verdict as one JSON object on standard output\n"
               "Exit status: 0 verified, 1 rejected, 2 bad usage.\n";
  if (*c.example) std::cout << "\nExample (from the repository root):\n  " << c.example << "\n";
}

}  // namespace

std::string to_json(const std::string& command, const std::string& output, int status,
                    const std::string& usage_message) {
  std::vector<std::pair<std::string, std::vector<std::string>>> fields;
  std::vector<std::string> other;
  std::string verdict = status == kUsage ? "usage" : status == kVerified ? "verified" : "rejected";
  std::string message = usage_message;
  std::istringstream in(output);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && status != kUsage) {
      first = false;
      if (line == "verified") continue;
      if (line.rfind("rejected: ", 0) == 0) {
        message = line.substr(10);
        continue;
      }
    }
    const auto colon = line.find(": ");
    if (colon == std::string::npos || colon == 0) {
      if (!line.empty()) other.push_back(line);
      continue;
    }
    const std::string key = json_key(line.substr(0, colon));
    std::string value = line.substr(colon + 2);
    value.erase(0, value.find_first_not_of(' '));
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == key; });
    if (it == fields.end()) {
      fields.push_back({key, {value}});
    } else {
      it->second.push_back(value);
    }
  }
  std::string out = "{\"command\":";
  json_string(out, command);
  out += ",\"verdict\":";
  json_string(out, verdict);
  if (verdict != "verified") {
    out += ",\"message\":";
    json_string(out, message);
  }
  for (const auto& [key, values] : fields) {
    if (key == "command" || key == "verdict" || key == "message") continue;
    out += ",";
    json_string(out, key);
    out += ":";
    if (values.size() == 1) {
      json_string(out, values[0]);
    } else {
      out += "[";
      for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out += ",";
        json_string(out, values[i]);
      }
      out += "]";
    }
  }
  if (!other.empty()) {
    out += ",\"lines\":[";
    for (std::size_t i = 0; i < other.size(); ++i) {
      if (i) out += ",";
      json_string(out, other[i]);
    }
    out += "]";
  }
  out += "}";
  return out;
}

int run_command(const Command& c, int argc, char** argv, int first) {
  bool json = false;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      print_help(c);
      return kVerified;
    }
    json = json || a == "--json";
  }
  std::ostringstream captured;
  std::streambuf* const original = std::cout.rdbuf();
  if (json) std::cout.rdbuf(captured.rdbuf());
  int status = kUsage;
  std::string usage_message;
  try {
    Args args(argc, argv, first, c.switches);
    status = c.run(args);
  } catch (const UsageError& e) {
    usage_message = e.what();
  } catch (const std::exception& e) {
    usage_message = std::string("internal failure: ") + e.what();
  }
  std::cout.rdbuf(original);
  if (json) {
    std::cout << to_json(c.name, captured.str(), status, usage_message) << "\n";
  } else if (status == kUsage) {
    std::cerr << "quenfold-verify " << c.name << ": " << usage_message << "\n"
              << "usage: quenfold-verify " << c.name << " " << c.usage << "\n"
              << "(quenfold-verify " << c.name << " --help for details and an example)\n";
  }
  return status;
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
