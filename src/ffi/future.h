// Futures: the handle protocol by which a foreign caller drives an
// asynchronous operation (poll until a continuation receives "ready", then
// complete once, then free).
//
// No exported operation is asynchronous, so the library itself never creates
// a future; the exports exist so that the interface contract is complete,
// and make_future() below is how an asynchronous operation would hand one
// out (the unit tests use it to drive the protocol for real).
//
// A handle is the address of a reference-counted FutureObject. The caller
// owns one reference (given up by free); every scaffolding call holds one
// more for its duration; a Waker holds none (it points at the continuation
// slot, which it shares), so a waker kept by some other thread never keeps
// the operation alive.
//
// Locks: the future's lock serialises advancing the operation and taking its
// outcome; the continuation slot has its own lock, taken after the future's
// when both are needed (a task that wakes itself while being polled). Neither
// lock is ever held while a continuation callback runs, so a callback may call
// poll or complete again from inside itself, on any thread.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

#include "quenfold_log.h"

namespace quenfold::ffi::future {

// Continuation poll codes.
inline constexpr std::int8_t kReady = 0;  // call complete now
inline constexpr std::int8_t kWake = 1;   // call poll again

using Continuation = QuenfoldFutureContinuation;

// What an operation finishes with, by result kind. Signed kinds travel in
// the unsigned type of their width (the complete exports share code per
// width); std::monostate is the value of a void operation.
using Value = std::variant<std::monostate, std::uint8_t, std::uint16_t, std::uint32_t,
                           std::uint64_t, float, double, RustBuffer>;

// The Value of a result of kind T (signed integers as their bits).
template <class T>
Value value_of(T v) noexcept {
  if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return std::bit_cast<std::make_unsigned_t<T>>(v);
  } else {
    return v;
  }
}

// An operation's outcome: a value, or a failure status (code 1 with a
// serialized VerifyError, or 2 with raw text) and its error buffer. Owns any
// buffer it holds until take_* hands it on.
class Outcome {
 public:
  static Outcome success(Value value) noexcept { return Outcome(std::move(value), 0, kNoBuffer); }
  static Outcome failure(std::int8_t code, RustBuffer error_buf) noexcept {
    return Outcome(std::monostate{}, code, error_buf);
  }
  // A failure with code 2 and `message` as raw UTF-8.
  static Outcome internal_failure(std::string_view message) noexcept;

  Outcome(Outcome&& o) noexcept;
  Outcome& operator=(Outcome&& o) noexcept;
  Outcome(const Outcome&) = delete;
  Outcome& operator=(const Outcome&) = delete;
  ~Outcome();

  bool failed() const noexcept { return code_ != 0; }
  std::int8_t code() const noexcept { return code_; }
  const Value& value() const noexcept { return value_; }
  // Hands the value (with any buffer in it) to the caller.
  Value take_value() noexcept;
  // Hands the error buffer to the caller.
  RustBuffer take_error_buf() noexcept;

 private:
  static constexpr RustBuffer kNoBuffer{0, 0, nullptr};
  Outcome(Value v, std::int8_t code, RustBuffer err) noexcept : value_(std::move(v)), code_(code), error_buf_(err) {}
  void release_all() noexcept;

  Value value_;
  std::int8_t code_;
  RustBuffer error_buf_;
};

class ContinuationSlot;

// Wakes the future it belongs to: called by the operation (on any thread,
// any number of times) when it can make progress.
class Waker {
 public:
  explicit Waker(std::shared_ptr<ContinuationSlot> slot) noexcept : slot_(std::move(slot)) {}
  void wake() const noexcept;

 private:
  std::shared_ptr<ContinuationSlot> slot_;
};

// One asynchronous operation. poll() advances it once on the calling thread
// (with the future's lock held) and returns its outcome when it has
// finished, or nothing when it must wait; in that case it keeps a copy of
// `waker` and wakes it once it can progress. An exception escaping poll()
// finishes the operation as an internal failure (code 2).
class Task {
 public:
  virtual ~Task() = default;
  virtual std::optional<Outcome> poll(const Waker& waker) = 0;
};

// Creates a future running `task` (not null); the returned handle carries
// the caller's reference.
std::uint64_t make_future(std::unique_ptr<Task> task);

// The protocol behind the exports. Handles must be live (0 is accepted and
// inert: it behaves as a cancelled future with no outcome).
void poll(std::uint64_t handle, Continuation callback, std::uint64_t data) noexcept;
void cancel(std::uint64_t handle) noexcept;
void free(std::uint64_t handle) noexcept;

// Takes the outcome. On success returns the value and leaves `status`
// untouched; on a failure copies its code and buffer into `status`; with no
// outcome to take (unfinished, cancelled or already taken) sets code 3 and
// an empty buffer. Returns nullopt whenever `status` was written. A value of
// another kind than `Stored` is an internal failure (code 2).
template <class Stored>
std::optional<Stored> complete(std::uint64_t handle, RustCallStatus* status) noexcept;

}  // namespace quenfold::ffi::future
