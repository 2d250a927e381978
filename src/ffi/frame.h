// The call frame shared by every exported verifier:
//   1. take over every buffer argument (released when the call ends, on
//      every path);
//   2. lift the buffer arguments in declaration order, stopping at the first
//      that fails (status 2, "Failed to convert arg '<name>':\n<text>", or
//      the bare text of a broken buffer invariant);
//   3. run the verifier; lower its result, or its Error as a VerifyError
//      (status 1);
//   4. contain every fault: nothing but a status ever leaves an export.
//
// An export is one declaration of its argument kinds plus the verifier:
//
//   void uniffi_..._verify_inclusion(uint64_t index, uint64_t size, RustBuffer leaf_hash,
//                                    RustBuffer proof, RustBuffer root, RustCallStatus* st) {
//     return ffi::call(st, quenfold::verify_inclusion, index, size,
//                      ffi::arg<ffi::BytesArg>("leaf_hash", leaf_hash),
//                      ffi::arg<ffi::BytesListArg>("proof", proof),
//                      ffi::arg<ffi::BytesArg>("root", root));
//   }
#pragma once

#include <expected>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "ffi/buffer.h"
#include "ffi/lift.h"
#include "ffi/lower.h"
#include "quenfold/error.h"

namespace quenfold::ffi {

// A buffer argument: its kind, its declared name and the buffer.
template <class Kind>
struct BufferArg {
  const char* name;
  RustBuffer buffer;
};

template <class Kind>
BufferArg<Kind> arg(const char* name, RustBuffer buffer) noexcept {
  return {name, buffer};
}

namespace detail {

// Holds one argument for the duration of the call. Scalars pass through.
template <class T>
struct Holder {
  T value;
  explicit Holder(T v) noexcept : value(v) {}
  std::optional<T> lift(std::optional<std::string>&) const { return value; }
};

template <class Kind>
struct Holder<BufferArg<Kind>> {
  const char* name;
  OwnedBuffer owned;
  explicit Holder(BufferArg<Kind> a) noexcept : name(a.name), owned(a.buffer) {}

  std::optional<typename Kind::type> lift(std::optional<std::string>& failure) const {
    if (failure) return std::nullopt;  // an earlier argument failed
    if (auto broken = invariant_violation(owned.get())) {
      failure.emplace(*broken);
      return std::nullopt;
    }
    auto v = ffi::lift(Kind{}, contents(owned.get()));
    if (!v) {
      failure.emplace(std::string("Failed to convert arg '") + name + "':\n" + v.error());
      return std::nullopt;
    }
    return std::move(*v);
  }
};

template <class T>
struct LiftedType {
  using type = T;
};
template <class Kind>
struct LiftedType<BufferArg<Kind>> {
  using type = typename Kind::type;
};
template <class T>
using lifted_t = typename LiftedType<T>::type;

// What an export returns for a verifier result type.
template <class T>
struct Lowered {
  using type = RustBuffer;
  static RustBuffer failure() noexcept { return RustBuffer{0, 0, nullptr}; }
  static RustBuffer lower(const T& v) { return ffi::lower(v); }
};
template <>
struct Lowered<void> {
  using type = void;
  static void failure() noexcept {}
};
template <>
struct Lowered<std::uint32_t> {
  using type = std::uint32_t;
  static std::uint32_t failure() noexcept { return 0; }
  static std::uint32_t lower(std::uint32_t v) noexcept { return v; }
};

}  // namespace detail

template <class Verifier, class... Args>
auto call(RustCallStatus* status, Verifier&& verifier, Args... args) noexcept {
  using Expected = std::invoke_result_t<Verifier, const detail::lifted_t<Args>&...>;
  using Value = typename Expected::value_type;
  using L = detail::Lowered<Value>;

  // Every buffer argument is owned from here on and released on return.
  std::tuple<detail::Holder<Args>...> holders{detail::Holder<Args>(args)...};
  try {
    std::optional<std::string> failure;
    // Braced initialisation evaluates the lifts left to right.
    auto lifted = std::apply(
        [&](const auto&... h) {
          return std::tuple<std::optional<detail::lifted_t<Args>>...>{h.lift(failure)...};
        },
        holders);
    if (failure) {
      set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, *failure);
      return L::failure();
    }
    Expected result = std::apply(
        [&](const auto&... v) { return std::invoke(std::forward<Verifier>(verifier), *v...); },
        lifted);
    if (!result) {
      RustBuffer err = lower_error(result.error());
      if (status != nullptr) {
        status->code = QUENFOLD_CALL_ERROR;
        status->error_buf = err;
      } else {
        release(err);
      }
      return L::failure();
    }
    if constexpr (std::is_void_v<Value>) {
      return;
    } else {
      return L::lower(*result);
    }
  } catch (const InternalFailure& f) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, f.message());
  } catch (const std::bad_alloc&) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "out of memory");
  } catch (const std::exception& e) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, e.what());
  } catch (...) {
    set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "Unknown panic!");
  }
  return L::failure();
}

}  // namespace quenfold::ffi
