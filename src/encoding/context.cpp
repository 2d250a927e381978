#include "encoding/context.h"
#include "base/writer.h"

#include <array>

#include "encoding/text.h"

namespace quenfold::encoding {
namespace {

bool printable_segment(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x21 || b > 0x7E) return false;
  }
  return true;
}

Error label_error(const char* literal, std::string_view label) {
  return Error::malformed_canonical_leaf(std::string(literal) + echoed(label));
}

}  // namespace

std::expected<ContextLabel, Error> ContextLabel::parse(std::string_view text) {
  // Split on '/', looking at no more than four segments; missing segments
  // count as empty.
  std::array<std::string_view, 4> seg{};
  std::size_t count = 0;
  std::size_t start = 0;
  while (count < 4) {
    const std::size_t slash = text.find('/', start);
    if (slash == std::string_view::npos) {
      seg[count++] = text.substr(start);
      break;
    }
    seg[count++] = text.substr(start, slash - start);
    start = slash + 1;
  }
  if (count == 4) return std::unexpected(label_error("context label has too many '/'-segments: ", text));
  if (!printable_segment(seg[0]) || !printable_segment(seg[1]))
    return std::unexpected(label_error("context label segments must be non-empty printable ASCII: ", text));
  const std::string_view ver = seg[2];
  if (ver.empty() || ver[0] != 'v')
    return std::unexpected(label_error("context label version must start with 'v': ", text));
  const std::string_view digits = ver.substr(1);
  bool all_digits = !digits.empty();
  for (char c : digits) all_digits = all_digits && c >= '0' && c <= '9';
  if (!all_digits)
    return std::unexpected(label_error("context label version must be 'v' followed by digits: ", text));
  if (digits.size() >= 2 && digits[0] == '0')
    return std::unexpected(label_error("context label version must not have leading zeros: ", text));
  std::uint64_t version = 0;
  for (char c : digits) {
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (version > (UINT64_MAX - d) / 10)
      return std::unexpected(label_error("context label version overflow: ", text));
    version = version * 10 + d;
  }
  return ContextLabel(std::string(text), seg[0].size(), seg[1].size(), version);
}

std::expected<std::string, Error> validate_namespace(std::string_view text) {
  bool ok = !text.empty();
  for (std::size_t i = 0; ok && i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    ok = b >= 0x21 && b <= 0x7E && b != '/';
  }
  if (!ok)
    return std::unexpected(Error::malformed_namespace(
        "namespace must be non-empty printable ASCII without '/': " + echoed(text)));
  return std::string(text);
}

crypto::Bytes64 sha3_512_with_context(ByteView context, ByteView data) {
  const auto len = big_endian<8>(context.size());
  return crypto::sha3_512({len, context, data});
}

crypto::Bytes64 sha3_512_with_context(std::string_view context, ByteView data) {
  return sha3_512_with_context(bytes_of(context), data);
}

}  // namespace quenfold::encoding
