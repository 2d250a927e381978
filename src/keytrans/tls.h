// KEYTRANS proofs in the TLS presentation language (RFC 8446 section 3):
// big-endian integers, fixed arrays and vectors with 1-, 2- or 4-byte length
// prefixes. The decoders are strict (every container consumed exactly, flag
// bytes 0 or 1) and purely structural; the commitment width Nc comes from the
// suite of the call and is never inferred from the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

#include "encoding/reader.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::keytrans {

inline constexpr std::size_t kNodeLen = 32;
inline constexpr std::size_t kSearchKeyLen = 32;  // SEARCH_KEY_LEN
using Node = std::array<std::uint8_t, kNodeLen>;

// A cursor over borrowed bytes whose failures are MalformedKeytrans errors
// naming the field and counting offsets from the start of this reader.
class TlsReader {
 public:
  explicit TlsReader(ByteView data) noexcept : r_(data) {}

  std::size_t position() const noexcept { return r_.position(); }

  std::expected<ByteView, Error> take(std::size_t n, std::string_view field);
  std::expected<std::uint8_t, Error> read_u8(std::string_view field);
  std::expected<std::uint16_t, Error> read_u16(std::string_view field);
  std::expected<std::uint32_t, Error> read_u32(std::string_view field);
  std::expected<std::uint64_t, Error> read_u64(std::string_view field);
  // Length prefix and content are read under the same field name.
  std::expected<Bytes, Error> read_opaque8(std::string_view field);
  std::expected<Bytes, Error> read_opaque16(std::string_view field);
  std::expected<Bytes, Error> read_opaque32(std::string_view field);
  // An opaque16 holding a whole number of 32-byte node values.
  std::expected<std::vector<Node>, Error> read_hashes16(std::string_view field);
  // Succeeds only when every byte has been read.
  std::expected<void, Error> finish(std::string_view struct_name) const;

 private:
  std::expected<ByteView, Error> read_vector(std::size_t prefix_len, std::string_view field);
  encoding::Reader r_;
};

// An append-only encoder. The opaque vectors check their length bounds.
class TlsWriter {
 public:
  void put_bytes(ByteView b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void put_u8(std::uint8_t v) { out_.push_back(v); }
  void put_u16(std::uint16_t v) { encoding::put_be(out_, v, 2); }
  void put_u32(std::uint32_t v) { encoding::put_be(out_, v, 4); }
  void put_u64(std::uint64_t v) { encoding::put_be(out_, v, 8); }
  std::expected<void, Error> put_opaque8(ByteView b, std::string_view field);
  std::expected<void, Error> put_opaque16(ByteView b, std::string_view field);
  std::expected<void, Error> put_opaque32(ByteView b, std::string_view field);

  const Bytes& bytes() const noexcept { return out_; }
  Bytes take() noexcept { return std::move(out_); }

 private:
  Bytes out_;
};

enum class PrefixSearchResultType : std::uint8_t {
  Inclusion = 1,
  NonInclusionLeaf = 2,
  NonInclusionParent = 3,
};

struct PrefixLeaf {
  Node vrf_output{};
  Bytes commitment;  // Nc bytes
};

struct PrefixSearchResult {
  PrefixSearchResultType type = PrefixSearchResultType::Inclusion;
  std::optional<PrefixLeaf> leaf;  // present exactly for NonInclusionLeaf
  std::uint8_t depth = 0;
};

struct PrefixProof {
  PrefixSearchResult result;
  std::vector<Node> elements;  // copath, from just below the root downwards
};

struct LadderStep {
  std::uint32_t version = 0;
  Bytes vrf_proof;
  PrefixProof prefix_proof;
  std::optional<Bytes> commitment;  // Nc bytes when has_commitment is 1
};

struct RevealedValue {
  Bytes value;
  Bytes opening;
};

struct ProofHeader {
  std::uint64_t entry_index = 0;
  std::uint64_t tree_size = 0;
  std::uint64_t timestamp = 0;
  Node prefix_root{};
  std::vector<Node> log_inclusion;
};

struct SearchProof {
  ProofHeader header;
  std::optional<std::uint32_t> greatest_version;
  std::vector<LadderStep> ladder;
  std::optional<RevealedValue> value;
};

struct FixedVersionProof {
  ProofHeader header;
  LadderStep step;
  std::optional<RevealedValue> value;
};

struct MonitorProof {
  ProofHeader header;
  std::uint32_t version = 0;
  std::vector<LadderStep> ladder;
};

inline constexpr std::uint8_t kSearchKind = 1;
inline constexpr std::uint8_t kFixedVersionKind = 2;
inline constexpr std::uint8_t kMonitorKind = 3;

std::expected<SearchProof, Error> decode_search_proof(ByteView bytes, std::size_t nc);
std::expected<FixedVersionProof, Error> decode_fixed_version_proof(ByteView bytes, std::size_t nc);
std::expected<MonitorProof, Error> decode_monitor_proof(ByteView bytes, std::size_t nc);

// VrfInput: label as opaque8, version as u32.
std::expected<Bytes, Error> encode_vrf_input(ByteView label, std::uint32_t version);
// CommitmentValue: label as opaque8, version as u32, value as opaque32.
std::expected<Bytes, Error> encode_commitment_value(ByteView label, std::uint32_t version,
                                                    ByteView value);

}  // namespace quenfold::keytrans
