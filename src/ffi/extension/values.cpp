#include "ffi/extension/values.h"

#include "base/try.h"
#include "ffi/buffer.h"
#include "base/reader.h"

namespace quenfold::ffi {

namespace {

using encoding::Reader;

std::expected<CheckpointHead, LiftError> read_head(Reader& r) {
  CheckpointHead head;
  QUENFOLD_TRY(const std::string_view origin, lifting::string(r));
  QUENFOLD_TRY(head.size, lifting::u64(r));
  QUENFOLD_TRY(const ByteView root, lifting::byte_string(r));
  QUENFOLD_TRY(const auto extensions, lifting::string_list(r));
  head.origin.assign(origin);
  head.root.assign(root.begin(), root.end());
  for (std::string_view e : extensions) head.extensions.emplace_back(e);
  return head;
}

// A list of counted elements, storage reserved for no more elements than
// the remaining bytes could hold (as the core's lists).
template <class T, class ReadOne>
std::expected<std::vector<T>, LiftError> read_list(Reader& r, std::size_t min_size, ReadOne read_one) {
  QUENFOLD_TRY(const std::size_t n, lifting::count(r));
  std::vector<T> out;
  out.reserve(std::min(n, r.remaining() / min_size));
  for (std::size_t i = 0; i < n; ++i) {
    QUENFOLD_TRY(T v, read_one(r));
    out.push_back(std::move(v));
  }
  return out;
}

void write(ValueWriter& w, const Signer& s) {
  w.string(s.name);
  w.u32(s.key_id);
  w.i32(static_cast<std::int32_t>(s.type) + 1);
  for (const auto& t : {s.timestamp_seconds, s.timestamp_millis}) {
    w.u8(t ? 1 : 0);
    if (t) w.u64(*t);
  }
  w.u8(s.covers_origin ? 1 : 0);
}

void write(ValueWriter& w, const std::vector<Signer>& signers) {
  w.count(signers.size());
  for (const Signer& s : signers) write(w, s);
}

void write(ValueWriter& w, const VerifiedCheckpoint& c) {
  write(w, c.head);
  write(w, c.log_signers);
  write(w, c.cosigners);
}

void write(ValueWriter& w, const std::optional<Bytes>& b) {
  w.u8(b ? 1 : 0);
  if (b) w.bytes(*b);
}

void write(ValueWriter& w, const std::optional<WitnessState>& s) {
  w.u8(s ? 1 : 0);
  if (!s) return;
  w.u64(s->size);
  w.bytes(s->root);
}

// AddCheckpointStatus as the catalogue's enum: its variant index from 1,
// in the order of the HTTP statuses.
std::int32_t variant(AddCheckpointStatus s) {
  switch (s) {
    case AddCheckpointStatus::Ok: return 1;
    case AddCheckpointStatus::BadRequest: return 2;
    case AddCheckpointStatus::Forbidden: return 3;
    case AddCheckpointStatus::NotFound: return 4;
    case AddCheckpointStatus::Conflict: return 5;
    case AddCheckpointStatus::UnprocessableEntity: return 6;
  }
  return 2;  // not reached: every status is listed
}

class FieldWriter final : public FieldSink {
 public:
  explicit FieldWriter(ValueWriter& w) noexcept : w_(w) {}
  void u32(std::uint32_t v) override { w_.u32(v); }
  void u64(std::uint64_t v) override { w_.u64(v); }
  void text(std::string_view s) override { w_.string(s); }

 private:
  ValueWriter& w_;
};

}  // namespace

std::expected<CheckpointHead, LiftError> lift(CheckpointHeadArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(auto head, read_head(r));
  QUENFOLD_CHECK(lifting::finish(r));
  return head;
}

std::expected<LiftedInclusionProofs, LiftError> lift(InclusionProofListArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  struct Item {
    std::uint64_t index;
    ByteView leaf_hash;
    std::vector<ByteView> path;
  };
  // index, leaf hash count, path count: at least 16 bytes each.
  QUENFOLD_TRY(auto items, read_list<Item>(r, 16, [](Reader& in) -> std::expected<Item, LiftError> {
    QUENFOLD_TRY(const std::uint64_t index, lifting::u64(in));
    QUENFOLD_TRY(const ByteView leaf_hash, lifting::byte_string(in));
    QUENFOLD_TRY(auto path, lifting::byte_string_list(in));
    return Item{index, leaf_hash, std::move(path)};
  }));
  QUENFOLD_CHECK(lifting::finish(r));
  LiftedInclusionProofs out;
  out.paths.reserve(items.size());
  for (Item& item : items) out.paths.push_back(std::move(item.path));
  out.proofs.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    out.proofs.push_back(InclusionProof{items[i].index, items[i].leaf_hash, out.paths[i]});
  return out;
}

std::expected<LiftedPaths, LiftError> lift(BytesListListArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  LiftedPaths out;
  QUENFOLD_TRY(out.paths, read_list<std::vector<ByteView>>(r, 4, lifting::byte_string_list));
  QUENFOLD_CHECK(lifting::finish(r));
  out.spans.assign(out.paths.begin(), out.paths.end());
  return out;
}

std::expected<std::optional<LiftedWitnessState>, LiftError> lift(OptionalWitnessStateArg,
                                                                 std::span<const std::uint8_t> buf) {
  Reader r(buf);
  std::optional<LiftedWitnessState> out;
  QUENFOLD_TRY(const bool present, lifting::option_tag(r));
  if (present) {
    out.emplace();
    QUENFOLD_TRY(out->size, lifting::u64(r));
    QUENFOLD_TRY(out->root, lifting::byte_string(r));
  }
  QUENFOLD_CHECK(lifting::finish(r));
  return out;
}

RustBuffer lower(const std::string& text) { return buffer_from(std::string_view(text)); }

RustBuffer lower(const std::vector<Signer>& signers) {
  ValueWriter w;
  write(w, signers);
  return w.finish();
}

RustBuffer lower(const OpenedNote& note) {
  ValueWriter w;
  w.string(note.body);
  write(w, note.signers);
  return w.finish();
}

RustBuffer lower(const WitnessedNote& note) {
  ValueWriter w;
  w.string(note.body);
  write(w, note.log_signers);
  write(w, note.cosigners);
  return w.finish();
}

RustBuffer lower(const VerifiedCheckpoint& checkpoint) {
  ValueWriter w;
  write(w, checkpoint);
  return w.finish();
}

RustBuffer lower(const std::pair<VerifiedCheckpoint, VerifiedCheckpoint>& pair) {
  ValueWriter w;
  write(w, pair.first);
  write(w, pair.second);
  return w.finish();
}

RustBuffer lower(const std::vector<VerifiedCheckpoint>& chain) {
  ValueWriter w;
  w.count(chain.size());
  for (const auto& c : chain) write(w, c);
  return w.finish();
}

RustBuffer lower(const std::vector<std::optional<Error>>& outcomes) {
  ValueWriter w;
  w.count(outcomes.size());
  for (const auto& o : outcomes) {
    if (o) {
      w.u8(1);
      write(w, *o);
    } else {
      w.u8(0);
    }
  }
  return w.finish();
}

RustBuffer lower(const TlogProof& proof) {
  ValueWriter w;
  write(w, proof.extra);
  w.u64(proof.index);
  w.count(proof.proof.size());
  for (const Hash32& h : proof.proof) w.bytes(h);
  w.string(proof.checkpoint);
  return w.finish();
}

RustBuffer lower(const VerifiedTlogProof& proof) {
  ValueWriter w;
  w.u64(proof.index);
  write(w, proof.extra);
  write(w, proof.checkpoint);
  return w.finish();
}

RustBuffer lower(const AddCheckpointResult& result) {
  ValueWriter w;
  w.i32(variant(result.status));
  w.string(result.reason);
  write(w, result.previous);
  write(w, result.next);
  w.u8(result.checkpoint ? 1 : 0);
  if (result.checkpoint) write(w, *result.checkpoint);
  w.string(result.checkpoint_body);
  return w.finish();
}

void write(ValueWriter& w, const Error& e) {
  w.i32(static_cast<std::int32_t>(e.kind()) + 1);
  FieldWriter fields(w);
  e.write_fields(fields);
  w.string(e.message());
}

RustBuffer lower_structured_error(const Error& e) {
  ValueWriter w;
  write(w, e);
  return w.finish();
}

}  // namespace quenfold::ffi
