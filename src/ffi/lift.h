// Lifting: reading one argument value out of the buffer that carries it,
// with the exact error texts generated bindings expect. Lifted values borrow
// from the argument buffer, which the call frame keeps alive for the call.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/types.h"

namespace quenfold::encoding {
class Reader;
}

namespace quenfold::ffi {

// A lifting failure: the text that follows "Failed to convert arg '<name>':\n".
using LiftError = std::string;

// The argument kinds of the catalogue. Each names the value type it lifts to.
struct StringArg { using type = std::string_view; };           // raw UTF-8, no prefix
struct BytesArg { using type = ByteView; };                    // one serialized byte string
struct BytesListArg { using type = std::vector<ByteView>; };   // list of byte strings
struct StringListArg { using type = std::vector<std::string_view>; };  // list of UTF-8 strings
struct OptionalBytesArg { using type = std::optional<ByteView>; };
struct CommitmentHashArg { using type = CommitmentHash; };

std::expected<std::string_view, LiftError> lift(StringArg, std::span<const std::uint8_t> buf);
std::expected<ByteView, LiftError> lift(BytesArg, std::span<const std::uint8_t> buf);
std::expected<std::vector<ByteView>, LiftError> lift(BytesListArg, std::span<const std::uint8_t> buf);
std::expected<std::vector<std::string_view>, LiftError> lift(StringListArg, std::span<const std::uint8_t> buf);
std::expected<std::optional<ByteView>, LiftError> lift(OptionalBytesArg, std::span<const std::uint8_t> buf);
std::expected<CommitmentHash, LiftError> lift(CommitmentHashArg, std::span<const std::uint8_t> buf);

// The readers behind the kinds above, for argument kinds built from them
// (records and nested lists): the same wire forms and the same error texts.
namespace lifting {
std::expected<std::uint64_t, LiftError> u64(encoding::Reader& r);
std::expected<std::size_t, LiftError> count(encoding::Reader& r);  // a signed 32-bit count
std::expected<ByteView, LiftError> byte_string(encoding::Reader& r);
std::expected<std::string_view, LiftError> string(encoding::Reader& r);
std::expected<std::vector<ByteView>, LiftError> byte_string_list(encoding::Reader& r);
std::expected<std::vector<std::string_view>, LiftError> string_list(encoding::Reader& r);
// An optional's tag byte: false for 0 (nothing follows), true for 1.
std::expected<bool, LiftError> option_tag(encoding::Reader& r);
// The buffer must be consumed exactly.
std::expected<void, LiftError> finish(const encoding::Reader& r);
}  // namespace lifting

}  // namespace quenfold::ffi
