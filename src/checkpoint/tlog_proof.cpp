#include "quenfold/tlog_proof.h"

#include <algorithm>

#include "base/try.h"
#include "encoding/base64.h"
#include "encoding/lines.h"
#include "encoding/text.h"

namespace quenfold {
namespace {

Error malformed(std::string detail) { return Error::malformed_tlog_proof(std::move(detail)); }

std::string line_no(std::size_t n) { return "line " + std::to_string(n) + ": "; }

}  // namespace

std::expected<TlogProof, Error> parse_tlog_proof(std::string_view text) {
  encoding::LineCursor lines(text);
  // A line that must be present: missing when the text ends, unterminated
  // when it ends without a newline.
  auto required = [&lines](std::string_view what) -> std::expected<std::string_view, Error> {
    if (lines.at_end()) return std::unexpected(malformed("missing " + std::string(what)));
    auto line = lines.next();
    if (!line) return std::unexpected(malformed(std::string(what) + " does not end in a newline"));
    return *line;
  };

  QUENFOLD_TRY(const std::string_view header, required("header line"));
  if (header != kTlogProofHeader)
    return std::unexpected(malformed("header line is not " + std::string(kTlogProofHeader) + ": " +
                                     encoding::echoed(header)));

  TlogProof proof;
  if (const auto next = lines.peek(); next && next->starts_with("extra ")) {
    lines.next();
    const std::string_view data = next->substr(6);
    if (data.empty()) return std::unexpected(malformed("extra line carries no data"));
    auto extra = encoding::base64_decode(data);
    if (!extra) return std::unexpected(malformed("extra data is not valid base64: " + encoding::echoed(data)));
    proof.extra = std::move(*extra);
  }

  QUENFOLD_TRY(const std::string_view index_line, required("index line"));
  const std::size_t at = lines.taken();
  if (!index_line.starts_with("index "))
    return std::unexpected(malformed(line_no(at) + "want \"index <decimal>\", got " + encoding::echoed(index_line)));
  const std::string_view digits = index_line.substr(6);
  const auto index = encoding::parse_decimal_u64(digits);
  if (!index.value) {
    switch (index.error) {
      case encoding::DecimalError::LeadingZero:
        return std::unexpected(malformed("index has a leading zero: " + encoding::echoed(digits)));
      case encoding::DecimalError::Overflow:
        return std::unexpected(malformed("index overflow: " + encoding::echoed(digits)));
      case encoding::DecimalError::NotDecimal:
        break;
    }
    return std::unexpected(malformed("index is not decimal: " + encoding::echoed(digits)));
  }
  proof.index = *index.value;

  for (;;) {
    if (lines.at_end()) return std::unexpected(malformed("missing empty line before the checkpoint"));
    const auto line = lines.next();
    if (!line) return std::unexpected(malformed("line " + std::to_string(lines.taken() + 1) + " does not end in a newline"));
    if (line->empty()) break;
    if (proof.proof.size() == kTlogProofMaxHashes)
      return std::unexpected(malformed("more than " + std::to_string(kTlogProofMaxHashes) + " proof hashes"));
    const std::size_t n = proof.proof.size() + 1;
    auto hash = encoding::base64_decode(*line);
    if (!hash)
      return std::unexpected(malformed("proof hash " + std::to_string(n) + " is not valid base64: " +
                                       encoding::echoed(*line)));
    if (hash->size() != 32)
      return std::unexpected(malformed("proof hash " + std::to_string(n) + " is " + std::to_string(hash->size()) +
                                       " bytes, want 32"));
    Hash32& h = proof.proof.emplace_back();
    std::copy(hash->begin(), hash->end(), h.begin());
  }
  if (lines.at_end()) return std::unexpected(malformed("missing checkpoint"));
  proof.checkpoint = std::string(lines.rest());
  return proof;
}

std::expected<VerifiedTlogProof, Error> verify_tlog_proof(std::string_view text, const CheckpointVerifier& verifier,
                                                          ByteView leaf_hash) {
  QUENFOLD_TRY(TlogProof proof, parse_tlog_proof(text));
  if (leaf_hash.size() != 32) return std::unexpected(Error::invalid_hash_length(leaf_hash.size(), 32));
  QUENFOLD_TRY(VerifiedCheckpoint checkpoint, verifier.verify(proof.checkpoint));
  std::vector<ByteView> path(proof.proof.begin(), proof.proof.end());
  const CheckpointHead& head = checkpoint.head;
  QUENFOLD_CHECK(verify_inclusion(proof.index, head.size, leaf_hash, path, head.root));
  return VerifiedTlogProof{proof.index, std::move(proof.extra), std::move(checkpoint)};
}

std::expected<VerifiedTlogProof, Error> verify_tlog_proof_entry(std::string_view text,
                                                                const CheckpointVerifier& verifier, ByteView entry) {
  const Hash32 leaf = rfc6962_leaf_hash(entry);
  return verify_tlog_proof(text, verifier, leaf);
}

}  // namespace quenfold
