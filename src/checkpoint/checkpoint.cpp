#include "checkpoint/checkpoint.h"
#include "checkpoint/open.h"

#include <algorithm>
#include <vector>

#include "base/try.h"
#include "encoding/base64.h"
#include "encoding/context.h"
#include "encoding/text.h"
#include "note/signed_note.h"
#include "quenfold/checkpoint.h"
#include "quenfold/merkle.h"

namespace quenfold::checkpoint {
namespace {

constexpr std::size_t kRootLen = 32;

Error malformed(std::string detail) { return Error::malformed_checkpoint(std::move(detail)); }

// Lines cut after each line feed; the line feed is removed, then a carriage
// return just before it. A last line without a line feed is still a line; a
// final line feed does not start an empty one.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::string_view line = text.substr(start, lf - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    start = lf + 1;
  }
  return lines;
}

std::expected<std::uint64_t, Error> parse_size(std::string_view line) {
  const bool decimal = !line.empty() && std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!decimal) return std::unexpected(malformed("tree size is not decimal: " + encoding::echoed(line)));
  if (line.size() >= 2 && line[0] == '0')
    return std::unexpected(malformed("tree size has a leading zero: " + encoding::echoed(line)));
  std::uint64_t value = 0;
  for (const char c : line) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10)
      return std::unexpected(malformed("tree size overflow: " + encoding::echoed(line)));
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::expected<CheckpointHead, Error> parse_checkpoint_body(std::string_view text) {
  const auto lines = split_lines(text);
  if (lines.empty()) return std::unexpected(malformed("missing origin line"));
  if (lines.size() < 2) return std::unexpected(malformed("missing tree-size line"));
  if (lines.size() < 3) return std::unexpected(malformed("missing root-hash line"));
  if (lines[0].empty()) return std::unexpected(malformed("empty origin line"));
  // The origin and the extensions are handed back as text: bytes that are
  // not UTF-8 would reach the caller as a string it cannot decode.
  if (auto bad = encoding::utf8_error(encoding::bytes_of(lines[0])))
    return std::unexpected(malformed("origin line is not valid utf-8: " + *bad));

  QUENFOLD_TRY(const std::uint64_t size, parse_size(lines[1]));

  auto root = encoding::base64_decode(lines[2]);
  if (!root) return std::unexpected(malformed("root hash is not valid base64: " + encoding::echoed(lines[2])));
  if (root->size() != kRootLen)
    return std::unexpected(malformed("root hash is " + std::to_string(root->size()) + " bytes, want " +
                                     std::to_string(kRootLen)));

  CheckpointHead head;
  head.origin = std::string(lines[0]);
  head.size = size;
  head.root = std::move(*root);
  for (std::size_t i = 3; i < lines.size(); ++i) {
    if (lines[i].empty()) return std::unexpected(malformed("empty extension line"));
    if (auto bad = encoding::utf8_error(encoding::bytes_of(lines[i])))
      return std::unexpected(malformed("extension line " + std::to_string(i - 2) + " is not valid utf-8: " + *bad));
    head.extensions.emplace_back(lines[i]);
  }
  return head;
}

std::expected<CheckpointHead, Error> verify_checkpoint_note(std::string_view note_text,
                                                            std::span<const note::VerifierKey> keys) {
  Trust trust;
  trust.log_keys = keys;
  QUENFOLD_TRY(auto opened, open_checkpoint(note_text, trust));
  return std::move(opened.head);
}

}  // namespace quenfold::checkpoint

namespace quenfold {

std::expected<CheckpointHead, Error> checkpoint_parse(std::string_view body_text) {
  return checkpoint::parse_checkpoint_body(body_text);
}

std::expected<CheckpointHead, Error> checkpoint_verify(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys) {
  QUENFOLD_TRY(const auto keys, note::parse_verifier_keys(vkeys));
  return checkpoint::verify_checkpoint_note(note_text, keys);
}

std::expected<void, Error> checkpoint_verify_inclusion(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys,
                                                       std::uint64_t leaf_index, ByteView leaf_hash,
                                                       std::span<const ByteView> proof) {
  QUENFOLD_TRY(const CheckpointHead head, checkpoint_verify(note_text, vkeys));
  return verify_inclusion(leaf_index, head.size, leaf_hash, proof, head.root);
}

std::expected<void, Error> checkpoint_verify_consistency(std::string_view older_note, std::string_view newer_note,
                                                         std::span<const std::string_view> vkeys,
                                                         std::span<const ByteView> proof) {
  QUENFOLD_TRY(const auto keys, note::parse_verifier_keys(vkeys));
  QUENFOLD_TRY(const CheckpointHead older, checkpoint::verify_checkpoint_note(older_note, keys));
  QUENFOLD_TRY(const CheckpointHead newer, checkpoint::verify_checkpoint_note(newer_note, keys));
  return verify_consistency(older.size, newer.size, proof, older.root, newer.root);
}

}  // namespace quenfold
