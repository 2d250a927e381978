#include "monitor_line.h"

#include <string>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

#include "encoding/text.h"

namespace quenfold::cli::monitor {

std::vector<ByteView> HexList::views() const {
  std::vector<ByteView> out;
  out.reserve(ends.size());
  std::size_t begin = 0;
  for (const std::size_t end : ends) {
    out.emplace_back(data.data() + begin, end - begin);
    begin = end;
  }
  return out;
}

std::vector<Bytes> HexList::copies() const {
  std::vector<Bytes> out;
  out.reserve(ends.size());
  for (const ByteView v : views()) out.emplace_back(v.begin(), v.end());
  return out;
}

namespace {

using json = nlohmann::json;

// How a member of the line's object was given.
enum class Given : std::uint8_t { Absent, Null, Valid, Invalid, OutOfRange };

// The fields the engine reads; any other member is parsed (strictly) and
// left aside.
enum class Field : std::uint8_t { Type, Note, Consistency, Index, LeafHash, Proof, Other };

Field field_of(std::string_view key) {
  if (key == "type") return Field::Type;
  if (key == "note") return Field::Note;
  if (key == "consistency") return Field::Consistency;
  if (key == "index") return Field::Index;
  if (key == "leaf_hash") return Field::LeafHash;
  if (key == "proof") return Field::Proof;
  return Field::Other;
}

// The parser's events, as nlohmann::json::sax_parse reports them. Returning
// false stops the parse; `stop` then says why.
class Reader {
 public:
  explicit Reader(Item& item) : item_(item) {}

  std::optional<std::string> stop;  // a limit or rule broken (not a syntax error)
  std::string type;
  Given type_given = Given::Absent, note = Given::Absent, consistency = Given::Absent, index = Given::Absent,
        leaf_hash = Given::Absent, proof = Given::Absent;

  bool null() { return scalar(Kind::Null, {}); }
  bool boolean(bool) { return scalar(Kind::Other, {}); }
  bool number_integer(json::number_integer_t) { return scalar(Kind::Other, {}); }
  bool number_unsigned(json::number_unsigned_t v) {
    value_ = v;
    return scalar(Kind::Unsigned, {});
  }
  bool number_float(json::number_float_t, const std::string& text) {
    // An integer the parser could not hold in 64 bits arrives as a float;
    // its text tells a too-large index from a fraction or an exponent.
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    return scalar(digits ? Kind::BigUnsigned : Kind::Other, {});
  }
  bool string(std::string& v) { return scalar(Kind::String, v); }
  bool binary(json::binary_t&) { return scalar(Kind::Other, {}); }

  bool start_object(std::size_t) {
    if (!open(true)) return false;
    keys_.emplace_back();
    return true;
  }
  bool key(std::string& k) {
    if (!keys_.back().insert(k).second) {
      stop = "duplicate key " + encoding::echoed(k);
      return false;
    }
    if (depth_ == 1) field_ = field_of(k);
    return true;
  }
  bool end_object() {
    keys_.pop_back();
    --depth_;
    return true;
  }
  bool start_array(std::size_t) {
    if (depth_ == 0) return not_an_object();
    if (depth_ == 1) {
      // A list member: only "consistency" and "proof" are lists of hex.
      if (field_ == Field::Consistency) consistency = Given::Valid;
      if (field_ == Field::Proof) proof = Given::Valid;
      if (field_ == Field::Type) type_given = Given::Invalid;
      if (field_ == Field::Note) note = Given::Invalid;
      if (field_ == Field::Index) index = Given::Invalid;
      if (field_ == Field::LeafHash) leaf_hash = Given::Invalid;
    } else if (depth_ == 2) {
      list_element_invalid();
    }
    return open(false);
  }
  bool end_array() {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  enum class Kind : std::uint8_t { Null, String, Unsigned, BigUnsigned, Other };

  bool not_an_object() {
    stop = "not a JSON object";
    return false;
  }

  bool open(bool object) {
    if (depth_ == 0 && !object) return not_an_object();
    if (depth_ == 1 && object) {
      // An object where a member of ours is expected is never valid.
      if (field_ == Field::Type) type_given = Given::Invalid;
      if (field_ == Field::Note) note = Given::Invalid;
      if (field_ == Field::Consistency) consistency = Given::Invalid;
      if (field_ == Field::Index) index = Given::Invalid;
      if (field_ == Field::LeafHash) leaf_hash = Given::Invalid;
      if (field_ == Field::Proof) proof = Given::Invalid;
    } else if (depth_ == 2 && object) {
      list_element_invalid();
    }
    if (depth_ == kMaxDepth) {
      stop = "JSON nested deeper than " + std::to_string(kMaxDepth) + " levels";
      return false;
    }
    ++depth_;
    return true;
  }

  // An element of a list at depth 2 that is not a hex string.
  void list_element_invalid() {
    if (field_ == Field::Consistency) consistency = Given::Invalid;
    if (field_ == Field::Proof) proof = Given::Invalid;
  }

  bool scalar(Kind kind, std::string_view text) {
    if (depth_ == 0) return not_an_object();
    if (depth_ == 2) {
      HexList* list = field_ == Field::Consistency ? &item_.consistency
                      : field_ == Field::Proof     ? &item_.proof
                                                   : nullptr;
      if (list == nullptr) return true;
      if (kind != Kind::String || !encoding::hex_append(text, list->data)) {
        list_element_invalid();
      } else {
        list->ends.push_back(list->data.size());
      }
      return true;
    }
    if (depth_ != 1) return true;
    switch (field_) {
      case Field::Type:
        type_given = kind == Kind::String ? Given::Valid : Given::Invalid;
        if (kind == Kind::String) type = text;
        break;
      case Field::Note:
        note = kind == Kind::String ? Given::Valid : Given::Invalid;
        if (kind == Kind::String) item_.note = text;
        break;
      case Field::Consistency:
        consistency = kind == Kind::Null ? Given::Null : Given::Invalid;
        break;
      case Field::Index:
        index = kind == Kind::Unsigned      ? Given::Valid
                : kind == Kind::BigUnsigned ? Given::OutOfRange
                                            : Given::Invalid;
        item_.index = value_;
        break;
      case Field::LeafHash:
        leaf_hash = kind == Kind::String && encoding::hex_append(text, item_.leaf_hash) ? Given::Valid
                                                                                                : Given::Invalid;
        break;
      case Field::Proof:
        proof = Given::Invalid;
        break;
      case Field::Other:
        break;
    }
    return true;
  }

  Item& item_;
  std::size_t depth_ = 0;
  Field field_ = Field::Other;
  std::uint64_t value_ = 0;
  std::vector<std::unordered_set<std::string>> keys_;  // of each open object
};

}  // namespace

std::optional<std::string> read_item(std::string_view line, Item& item) {
  Reader r(item);
  if (!json::sax_parse(line.begin(), line.end(), &r)) return r.stop ? *r.stop : "not a JSON object";
  if (r.type_given != Given::Valid) return "missing \"type\"";
  if (r.type == "checkpoint") {
    item.type = ItemType::Checkpoint;
    if (r.note != Given::Valid) return "missing \"note\" text";
    if (r.consistency == Given::Invalid) return "\"consistency\" is not a list of hex strings";
    item.has_consistency = r.consistency == Given::Valid;
    return std::nullopt;
  }
  if (r.type == "inclusion") {
    item.type = ItemType::Inclusion;
    if (r.index == Given::OutOfRange) return "\"index\" is out of range (at most 2^64 - 1)";
    if (r.index != Given::Valid) return "missing \"index\" (an unsigned integer)";
    if (r.leaf_hash != Given::Valid) return "missing \"leaf_hash\" (hex)";
    if (r.proof != Given::Valid) return "missing \"proof\" (a list of hex strings)";
    return std::nullopt;
  }
  return "unknown type " + encoding::echoed(r.type);
}

}  // namespace quenfold::cli::monitor
