// Outcomes as printed: typed fields, the "label: value" text and the JSON
// verdict.
#include <cstdint>

#include "cli.h"
#include "encoding/text.h"

namespace quenfold::cli {
namespace {

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

// Records nest below their label, indented; a list repeats its label for
// each item (a list of records: the label, then the record below it).
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
      for (const auto& item : value) {
        if (item.is_object()) {
          out += indent + label + ":\n";
          render(item, indent + "  ", out);
        } else {
          out += indent + label + ": " + scalar_text(item) + "\n";
        }
      }
    } else {
      out += indent + label + ": " + scalar_text(value) + "\n";
    }
  }
}

}  // namespace

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
Fields& Fields::json(const std::string& key, nlohmann::ordered_json value) {
  json_[key] = std::move(value);
  return *this;
}

Fields& Fields::records(const std::string& key, const std::vector<Fields>& values) {
  json_[key] = nlohmann::ordered_json::array();
  for (const auto& v : values) json_[key].push_back(v.json_);
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

}  // namespace quenfold::cli
