#include "support/metadata_reader.h"

namespace quenfold::test {
namespace {

class ItemReader {
 public:
  explicit ItemReader(std::span<const std::uint8_t> b) : bytes_(b) {}

  std::uint8_t u8(const char* what) {
    if (pos_ >= bytes_.size()) fail(std::string("truncated before ") + what);
    return bytes_[pos_++];
  }
  void expect(std::uint8_t want, const char* what) {
    const std::uint8_t got = u8(what);
    if (got != want)
      fail(std::string(what) + ": byte " + std::to_string(got) + ", want " + std::to_string(want));
  }
  std::string text(std::size_t n, const char* what) {
    if (n > bytes_.size() - pos_) fail(std::string("truncated inside ") + what);
    std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
    pos_ += n;
    check_utf8(s, what);
    return s;
  }
  std::string short_text(const char* what) { return text(u8(what), what); }
  std::string doc_text(const char* what) {
    const std::size_t lo = u8(what);
    const std::size_t hi = u8(what);
    return text(lo | (hi << 8), what);
  }
  MetaType type() {
    MetaType t;
    t.code = u8("type code");
    switch (t.code) {
      case 0: case 1: case 2: case 3: case 10: case 11: case 255:
        break;
      case 12: case 17:
        t.inner.push_back(type());
        break;
      case 13: case 14:
        t.module = short_text("module path");
        t.name = short_text("type name");
        break;
      case 23:
        t.inner.push_back(type());
        t.inner.push_back(type());
        break;
      default:
        fail("unknown type code " + std::to_string(t.code));
    }
    return t;
  }
  void finish() {
    if (pos_ != bytes_.size()) fail(std::to_string(bytes_.size() - pos_) + " bytes left after the item");
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw MetadataError("metadata offset " + std::to_string(pos_) + ": " + what);
  }

 private:
  void check_utf8(const std::string& s, const char* what) const {
    std::size_t i = 0;
    while (i < s.size()) {
      const auto c = static_cast<unsigned char>(s[i]);
      std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      if (n == 0 || i + n > s.size()) fail(std::string("invalid UTF-8 in ") + what);
      for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) fail(std::string("invalid UTF-8 in ") + what);
      i += n;
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

MetaFunction function(ItemReader& r) {
  MetaFunction f;
  f.module = r.short_text("module path");
  f.name = r.short_text("function name");
  r.expect(0, "asynchronous flag");
  r.expect(0, "byte after the asynchronous flag");
  const std::size_t n = r.u8("argument count");
  for (std::size_t i = 0; i < n; ++i) {
    std::string name = r.short_text("argument name");
    MetaType t = r.type();
    r.expect(0, "argument trailer");
    r.expect(0, "argument trailer");
    f.args.emplace_back(std::move(name), std::move(t));
  }
  f.result = r.type();
  f.doc = r.doc_text("function documentation");
  return f;
}

MetaRecord record(ItemReader& r) {
  MetaRecord rec;
  rec.module = r.short_text("module path");
  rec.name = r.short_text("record name");
  r.expect(0, "record flag");
  const std::size_t n = r.u8("field count");
  for (std::size_t i = 0; i < n; ++i) {
    MetaField f;
    f.name = r.short_text("field name");
    r.expect(0, "byte before the field type");
    f.type = r.type();
    r.expect(0, "field default flag");
    f.doc = r.doc_text("field documentation");
    rec.fields.push_back(std::move(f));
  }
  rec.doc = r.doc_text("record documentation");
  return rec;
}

MetaEnum enumeration(ItemReader& r) {
  MetaEnum e;
  e.module = r.short_text("module path");
  e.name = r.short_text("enum name");
  r.expect(0, "enum shape byte 1");
  const std::uint8_t shape = r.u8("enum shape byte 2");
  if (shape != 0 && shape != 2) r.fail("enum shape byte 2 is " + std::to_string(shape));
  e.is_error = shape == 2;
  r.expect(0, "enum shape byte 3");
  const std::size_t n = r.u8("variant count");
  for (std::size_t i = 0; i < n; ++i) {
    MetaVariant v;
    v.name = r.short_text("variant name");
    r.expect(0, "variant trailer");
    if (!e.is_error) {
      r.expect(0, "variant trailer");
      r.expect(0, "variant trailer");
    }
    v.doc = r.doc_text("variant documentation");
    e.variants.push_back(std::move(v));
  }
  r.expect(0, "byte before the enum documentation");
  e.doc = r.doc_text("enum documentation");
  return e;
}

}  // namespace

MetaItem parse_metadata_item(std::span<const std::uint8_t> bytes) {
  ItemReader r(bytes);
  MetaItem item;
  switch (const std::uint8_t tag = r.u8("item tag")) {
    case 0: item = function(r); break;
    case 2: item = record(r); break;
    case 3: item = enumeration(r); break;
    case 6: {
      MetaNamespace ns;
      ns.crate = r.short_text("library name");
      ns.name = r.short_text("namespace name");
      item = ns;
      break;
    }
    default: r.fail("unknown item tag " + std::to_string(tag));
  }
  r.finish();
  return item;
}

std::uint16_t metadata_checksum(std::span<const std::uint8_t> bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return static_cast<std::uint16_t>(h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48));
}

}  // namespace quenfold::test
