#include "cli.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "encoding/base64.h"
#include "encoding/text.h"

namespace quenfold::cli {
namespace {

// Standard input holds one value per invocation.
bool stdin_taken = false;

// Asks for transparent huge pages under a large buffer that is about to be
// filled: a 50 MB text then costs 25 page faults instead of 12 800, which
// on virtual machines that provide each page slowly is most of the time it
// takes to read. Only whole 2 MiB pages inside the buffer are advised; the
// advice is a hint, and its failure changes nothing.
void advise_huge_pages(char* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Reads a stream to its end, in one allocation when it is a regular file:
// a monitoring session can be tens of megabytes, and growing the text by
// doubling would copy it several times over.
std::string read_stream(std::FILE* f, const std::string& name) {
  std::string out;
  struct stat st{};
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    out.reserve(static_cast<std::size_t>(st.st_size));
    advise_huge_pages(out.data(), out.capacity());
  }
  char chunk[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
  if (std::ferror(f)) throw UsageError("cannot read " + name + ": " + std::strerror(errno));
  return out;
}

// Reads a whole file; the error names the file and the system's reason.
std::string read_file(const std::string& path) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
  return read_stream(f.get(), path);
}

std::string read_source(const std::string& given) {
  if (given == "-") {
    if (stdin_taken) throw UsageError("only one value can come from standard input (-)");
    stdin_taken = true;
    return read_standard_input();
  }
  if (given.starts_with('@')) return read_file(given.substr(1));
  return given;
}

bool from_stream(const std::string& given) { return given == "-" || given.starts_with('@'); }

std::string trimmed(std::string v) {
  while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.pop_back();
  std::size_t start = 0;
  while (start < v.size() && std::isspace(static_cast<unsigned char>(v[start]))) ++start;
  return v.substr(start);
}

// A text field prints as it is when it is plain printable text, otherwise in
// its quoted form, so that every field stays on one line.
std::string printable(const std::string& s) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return encoding::quoted(s);
  }
  return s;
}

std::string scalar_text(const nlohmann::ordered_json& v) {
  if (v.is_string()) return printable(v.get<std::string>());
  return v.dump();
}

void render(const nlohmann::ordered_json& fields, const std::string& indent, std::string& out) {
  for (const auto& [key, value] : fields.items()) {
    std::string label = key;
    for (char& c : label)
      if (c == '_') c = ' ';
    if (value.is_null()) continue;
    if (value.is_object()) {
      out += indent + label + ":\n";
      render(value, indent + "  ", out);
    } else if (value.is_array()) {
      for (const auto& item : value) out += indent + label + ": " + scalar_text(item) + "\n";
    } else {
      out += indent + label + ": " + scalar_text(value) + "\n";
    }
  }
}

}  // namespace

std::string read_standard_input() { return read_stream(stdin, "standard input"); }

// --- fields and outcomes ------------------------------------------------------

Fields& Fields::text(const std::string& key, std::string_view value) {
  json_[key] = std::string(value);
  return *this;
}
Fields& Fields::bytes(const std::string& key, ByteView value) {
  json_[key] = encoding::hex_bytes(value);
  return *this;
}
Fields& Fields::number(const std::string& key, std::uint64_t value) {
  json_[key] = value;
  return *this;
}
Fields& Fields::flag(const std::string& key, bool value) {
  json_[key] = value;
  return *this;
}
Fields& Fields::texts(const std::string& key, const std::vector<std::string>& values) {
  json_[key] = nlohmann::ordered_json::array();
  for (const auto& v : values) json_[key].push_back(v);
  return *this;
}
Fields& Fields::record(const std::string& key, const Fields& fields) {
  json_[key] = fields.json_;
  return *this;
}
Fields& Fields::none(const std::string& key) {
  json_[key] = nullptr;
  return *this;
}

Outcome verified(Fields fields) { return {true, {}, std::move(fields)}; }
Outcome rejected(const Error& e) { return {false, e.message(), {}}; }
Outcome outcome_of(const std::expected<void, Error>& r) { return r ? verified() : rejected(r.error()); }

std::string to_text(const Outcome& o) {
  if (!o.verified) return "rejected: " + o.message + "\n";
  std::string out = "verified\n";
  render(o.fields.json(), "", out);
  return out;
}

nlohmann::ordered_json to_json(const std::string& command, const std::string& verdict, const std::string& message,
                               const Fields& fields) {
  nlohmann::ordered_json j = {{"command", command}, {"verdict", verdict}};
  if (verdict != "verified") j["message"] = message;
  for (const auto& [key, value] : fields.json().items()) j[key] = value;
  return j;
}

// --- options --------------------------------------------------------------------

Options& Options::required(const std::string& name, const std::string& type, const std::string& help) {
  command_.add_option("--" + name, values_[name], help)->type_name(type)->required();
  return *this;
}

Options& Options::optional(const std::string& name, const std::string& type, const std::string& help) {
  command_.add_option("--" + name, values_[name], help)->type_name(type);
  return *this;
}

bool Options::has(const std::string& name) const { return command_.count("--" + name) != 0; }

const std::string& Options::raw(const std::string& name) const {
  if (!has(name)) throw UsageError("missing --" + name);
  return values_.at(name);
}

std::string Options::text(const std::string& name) const { return read_source(raw(name)); }

Bytes parse_hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) digits.push_back(c);
  if (digits.size() % 2 != 0) throw UsageError("odd number of hex digits");
  auto nibble = [](char c) -> int {
    const int v = encoding::hex_value(c);
    if (v < 0) throw UsageError(std::string("invalid hex digit '") + c + "'");
    return v;
  };
  Bytes out;
  out.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
  return out;
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
  while (std::getline(in, line, stream ? '\n' : ','))
    if (!line.empty()) out.push_back(line);
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

// --- registry -------------------------------------------------------------------

Options& Registry::add(const std::string& name, const std::string& summary, const std::string& example,
                       Handler handler) {
  CLI::App* app = root_.add_subcommand(name, summary);
  app->footer("Example (from the repository root):\n  " + example);
  commands_.push_back({app, std::make_unique<Options>(*app), std::move(handler)});
  return *commands_.back().options;
}

const Registry::Command* Registry::chosen() const {
  for (const auto& c : commands_)
    if (c.app->parsed()) return &c;
  return nullptr;
}

const Registry::Command* Registry::find(std::string_view name) const {
  for (const auto& c : commands_)
    if (c.app->get_name() == name) return &c;
  return nullptr;
}

}  // namespace quenfold::cli
