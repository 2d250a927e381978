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
//
// An object's handle argument is ffi::handle<T>("self", self): lifted to
// the call's own std::shared_ptr<const T> (ffi/handle.h), refused like an
// unliftable argument when it is no live T handle. A verifier that returns
// a std::shared_ptr<const T> gives the caller a new handle. The rejection
// is lowered by lower_error unless the export names another lowering
// (call<lower_structured_error>(...), for the extension's error variants).
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "ffi/buffer.h"
#include "ffi/handle.h"
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

// An object handle argument: the object type and the declared name.
template <class T>
struct HandleArg {
  const char* name;
  std::uint64_t handle;
};

template <class T>
HandleArg<T> handle(const char* name, std::uint64_t h) noexcept {
  return {name, h};
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
struct Holder<HandleArg<T>> {
  HandleArg<T> arg;
  explicit Holder(HandleArg<T> a) noexcept : arg(a) {}

  std::optional<std::shared_ptr<const T>> lift(std::optional<std::string>& failure) const {
    if (failure) return std::nullopt;
    auto value = borrow_handle<T>(arg.handle);
    if (!value) {
      failure.emplace(std::string("Failed to convert arg '") + arg.name + "':\ninvalid " + HandleType<T>::name +
                      " handle");
      return std::nullopt;
    }
    return value;
  }
};

template <class T>
struct LiftedType {
  using type = T;
};
template <class T>
struct LiftedType<HandleArg<T>> {
  using type = std::shared_ptr<const T>;
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
template <>
struct Lowered<std::uint64_t> {
  using type = std::uint64_t;
  static std::uint64_t failure() noexcept { return 0; }
  static std::uint64_t lower(std::uint64_t v) noexcept { return v; }
};
template <class T>
struct Lowered<std::shared_ptr<const T>> {
  using type = std::uint64_t;
  static std::uint64_t failure() noexcept { return 0; }
  static std::uint64_t lower(const std::shared_ptr<const T>& v) { return make_handle<T>(v); }
};

}  // namespace detail

template <auto LowerError = &lower_error, class Verifier, class... Args>
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
      RustBuffer err = LowerError(result.error());
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
