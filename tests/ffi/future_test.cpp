// The future protocol driven for real: a task the test controls, created
// with make_future and driven through the exported poll / complete / cancel /
// free functions, with wakers fired from this thread, from inside the poll,
// and from other threads. Also built alone under ThreadSanitizer
// (quenfold_future_tests).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ffi/buffer.h"
#include "ffi/future.h"

namespace quenfold::ffi::future {
namespace {

using namespace std::chrono_literals;

// ---- a task the test controls -----------------------------------------------------

// Shared between the test and its task; outlives the task so the test can see
// that free dropped it and can keep firing a waker afterwards.
struct Control {
  std::mutex m;
  std::optional<Outcome> result;  // handed out by the next poll
  std::optional<Waker> waker;     // the waker of the latest pending poll
  int polls = 0;
  bool wake_while_polled = false;      // the task wakes itself before returning pending
  bool throw_on_poll = false;
  bool dropped = false;

  void finish(Outcome o) {
    std::lock_guard l(m);
    result = std::move(o);
  }
  // Fires the latest waker, as the operation's event source would.
  void wake() {
    std::optional<Waker> w;
    {
      std::lock_guard l(m);
      w = waker;
    }
    ASSERT_TRUE(w.has_value()) << "no poll has handed out a waker yet";
    w->wake();
  }
  int poll_count() {
    std::lock_guard l(m);
    return polls;
  }
  bool was_dropped() {
    std::lock_guard l(m);
    return dropped;
  }
};

class ControlledTask : public Task {
 public:
  explicit ControlledTask(std::shared_ptr<Control> c) : c_(std::move(c)) {}
  ~ControlledTask() override {
    std::lock_guard l(c_->m);
    c_->dropped = true;
  }
  std::optional<Outcome> poll(const Waker& waker) override {
    bool wake_now = false;
    {
      std::lock_guard l(c_->m);
      ++c_->polls;
      if (c_->throw_on_poll) throw std::runtime_error("task exploded");
      if (c_->result) {
        std::optional<Outcome> r = std::move(c_->result);
        c_->result.reset();
        return r;
      }
      c_->waker = waker;
      wake_now = c_->wake_while_polled;
    }
    if (wake_now) waker.wake();
    return std::nullopt;
  }

 private:
  std::shared_ptr<Control> c_;
};

struct Handle {
  std::shared_ptr<Control> control = std::make_shared<Control>();
  std::uint64_t handle = make_future(std::make_unique<ControlledTask>(control));
};

// ---- continuation recorder -----------------------------------------------------------

// Records the poll codes its continuation receives (from any thread) and can
// run an action from inside the continuation.
struct Continuations {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::int8_t> codes;
  std::function<void(std::int8_t)> inside;  // runs inside the continuation

  static void callback(std::uint64_t data, std::int8_t code) {
    auto* self = reinterpret_cast<Continuations*>(static_cast<std::uintptr_t>(data));
    {
      std::lock_guard l(self->m);
      self->codes.push_back(code);
    }
    if (self->inside) self->inside(code);
    self->cv.notify_all();
  }
  std::uint64_t data() { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this)); }
  std::vector<std::int8_t> seen() {
    std::lock_guard l(m);
    return codes;
  }
  // Waits (bounded) until `n` continuations have run.
  bool wait_for(std::size_t n) {
    std::unique_lock l(m);
    return cv.wait_for(l, 10s, [&] { return codes.size() >= n; });
  }
};

using Codes = std::vector<std::int8_t>;

RustCallStatus zero_status() { return RustCallStatus{0, RustBuffer{0, 0, nullptr}}; }

bool all_zero(const RustBuffer& b) { return b.capacity == 0 && b.len == 0 && b.data == nullptr; }

std::string text_of(RustBuffer b) {
  std::string s;
  if (b.data != nullptr) s.assign(reinterpret_cast<const char*>(b.data), static_cast<std::size_t>(b.len));
  release(b);
  return s;
}

// A hang in these tests means a lock held across a callback: fail loudly
// instead of waiting for the test runner's timeout.
void within_deadline(const char* what, const std::function<void()>& body) {
  std::packaged_task<void()> task(body);
  auto done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(20s) != std::future_status::ready) {
    std::fprintf(stderr, "deadlock: %s did not finish\n", what);
    std::abort();
  }
  runner.join();
  done.get();
}

// ---- every result kind: value, failure, second complete ----------------------------

template <class T>
struct Kind {
  using Poll = void(std::uint64_t, QuenfoldFutureContinuation, std::uint64_t);
  using Complete = T(std::uint64_t, RustCallStatus*);
  using Free = void(std::uint64_t);
  Poll* poll;
  Complete* complete;
  Free* free;
};

#define QUENFOLD_KIND(K, T)                                                                     \
  Kind<T> {                                                                                     \
    ffi_quenfold_log_rust_future_poll_##K, ffi_quenfold_log_rust_future_complete_##K,          \
        ffi_quenfold_log_rust_future_free_##K                                                   \
  }

template <class T>
void check_value_kind(const char* name, Kind<T> kind, T value) {
  SCOPED_TRACE(name);
  Handle h;
  h.control->finish(Outcome::success(value_of(value)));
  Continuations c;
  kind.poll(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});

  RustCallStatus st = zero_status();
  EXPECT_EQ(kind.complete(h.handle, &st), value);
  EXPECT_EQ(st.code, 0);
  EXPECT_TRUE(all_zero(st.error_buf));

  // The outcome has been taken: a second complete reports cancellation.
  EXPECT_EQ(kind.complete(h.handle, &st), T{});
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  EXPECT_TRUE(all_zero(st.error_buf));
  EXPECT_TRUE(h.control->was_dropped()) << "complete drops the operation";
  kind.free(h.handle);
}

TEST(Future, EveryScalarKindCompletesWithItsValue) {
  check_value_kind("u8", QUENFOLD_KIND(u8, std::uint8_t), std::uint8_t{200});
  check_value_kind("i8", QUENFOLD_KIND(i8, std::int8_t), std::int8_t{-5});
  check_value_kind("u16", QUENFOLD_KIND(u16, std::uint16_t), std::uint16_t{60000});
  check_value_kind("i16", QUENFOLD_KIND(i16, std::int16_t), std::int16_t{-30000});
  check_value_kind("u32", QUENFOLD_KIND(u32, std::uint32_t), std::uint32_t{4000000000u});
  check_value_kind("i32", QUENFOLD_KIND(i32, std::int32_t), std::int32_t{-2000000000});
  check_value_kind("u64", QUENFOLD_KIND(u64, std::uint64_t), std::uint64_t{0xfedcba9876543210u});
  check_value_kind("i64", QUENFOLD_KIND(i64, std::int64_t), std::int64_t{-0x123456789abcdef});
  check_value_kind("f32", QUENFOLD_KIND(f32, float), 1.5f);
  check_value_kind("f64", QUENFOLD_KIND(f64, double), -2.25);
}

TEST(Future, RustBufferKindHandsTheBufferToTheCaller) {
  Handle h;
  h.control->finish(Outcome::success(buffer_from(std::string_view("result bytes"))));
  Continuations c;
  ffi_quenfold_log_rust_future_poll_rust_buffer(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  RustCallStatus st = zero_status();
  RustBuffer b = ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(text_of(b), "result bytes");
  EXPECT_TRUE(all_zero(ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st)));
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  ffi_quenfold_log_rust_future_free_rust_buffer(h.handle);
}

TEST(Future, VoidKindCompletes) {
  Handle h;
  h.control->finish(Outcome::success(std::monostate{}));
  Continuations c;
  ffi_quenfold_log_rust_future_poll_void(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  RustCallStatus st = zero_status();
  ffi_quenfold_log_rust_future_complete_void(h.handle, &st);
  EXPECT_EQ(st.code, 0);
  ffi_quenfold_log_rust_future_complete_void(h.handle, &st);
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  ffi_quenfold_log_rust_future_free_void(h.handle);
}

TEST(Future, FailuresAreCopiedIntoTheStatus) {
  struct Case {
    const char* name;
    std::int8_t code;
    std::string payload;
  };
  // The payload is opaque to the future: whatever the operation's frame put
  // in error_buf travels unchanged.
  const std::vector<Case> cases = {
      {"rejected input", QUENFOLD_CALL_ERROR, std::string("\0\0\0\1\0\0\0\4nope", 12)},
      {"internal failure", QUENFOLD_CALL_UNEXPECTED_ERROR, "something broke"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {  // u32: returns 0
      Handle h;
      h.control->finish(Outcome::failure(c.code, buffer_from(c.payload)));
      Continuations k;
      ffi_quenfold_log_rust_future_poll_u32(h.handle, Continuations::callback, k.data());
      RustCallStatus st = zero_status();
      EXPECT_EQ(ffi_quenfold_log_rust_future_complete_u32(h.handle, &st), 0u);
      EXPECT_EQ(st.code, c.code);
      EXPECT_EQ(text_of(st.error_buf), c.payload);
      ffi_quenfold_log_rust_future_free_u32(h.handle);
    }
    {  // rust_buffer: returns the all-zero buffer
      Handle h;
      h.control->finish(Outcome::failure(c.code, buffer_from(c.payload)));
      Continuations k;
      ffi_quenfold_log_rust_future_poll_rust_buffer(h.handle, Continuations::callback, k.data());
      RustCallStatus st = zero_status();
      EXPECT_TRUE(all_zero(ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st)));
      EXPECT_EQ(st.code, c.code);
      EXPECT_EQ(text_of(st.error_buf), c.payload);
      // Taken once: the second complete is code 3 with an empty buffer.
      st = zero_status();
      ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st);
      EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
      EXPECT_TRUE(all_zero(st.error_buf));
      ffi_quenfold_log_rust_future_free_rust_buffer(h.handle);
    }
  }
}

TEST(Future, InternalFaultsBecomeCode2) {
  {  // the operation throws while being polled
    Handle h;
    h.control->throw_on_poll = true;
    Continuations c;
    ffi_quenfold_log_rust_future_poll_u8(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), Codes{kReady});
    RustCallStatus st = zero_status();
    EXPECT_EQ(ffi_quenfold_log_rust_future_complete_u8(h.handle, &st), 0);
    EXPECT_EQ(st.code, QUENFOLD_CALL_UNEXPECTED_ERROR);
    EXPECT_EQ(text_of(st.error_buf), "task exploded");
    ffi_quenfold_log_rust_future_free_u8(h.handle);
  }
  {  // completed through the wrong kind: the value (a buffer) is not leaked
    Handle h;
    h.control->finish(Outcome::success(buffer_from(std::string_view("abc"))));
    Continuations c;
    ffi_quenfold_log_rust_future_poll_u32(h.handle, Continuations::callback, c.data());
    RustCallStatus st = zero_status();
    EXPECT_EQ(ffi_quenfold_log_rust_future_complete_u32(h.handle, &st), 0u);
    EXPECT_EQ(st.code, QUENFOLD_CALL_UNEXPECTED_ERROR);
    EXPECT_EQ(text_of(st.error_buf), "future completed with a result of another kind");
    ffi_quenfold_log_rust_future_free_u32(h.handle);
  }
}

// ---- pending, waking, the continuation slot ----------------------------------------------

TEST(Future, PendingPollWaitsForTheWaker) {
  Handle h;
  Continuations c;
  ffi_quenfold_log_rust_future_poll_u64(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{}) << "a pending poll stores its continuation";
  EXPECT_EQ(h.control->poll_count(), 1);

  // Not finished: complete has no outcome to take.
  h.control->wake();
  EXPECT_EQ(c.seen(), Codes{kWake});
  ffi_quenfold_log_rust_future_poll_u64(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kWake});
  h.control->finish(Outcome::success(value_of(std::uint64_t{42})));
  h.control->wake();
  EXPECT_EQ(c.seen(), (Codes{kWake, kWake}));
  ffi_quenfold_log_rust_future_poll_u64(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), (Codes{kWake, kWake, kReady}));
  EXPECT_EQ(h.control->poll_count(), 3);

  // A finished operation is never advanced again.
  ffi_quenfold_log_rust_future_poll_u64(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), (Codes{kWake, kWake, kReady, kReady}));
  EXPECT_EQ(h.control->poll_count(), 3);

  RustCallStatus st = zero_status();
  EXPECT_EQ(ffi_quenfold_log_rust_future_complete_u64(h.handle, &st), 42u);
  EXPECT_EQ(st.code, 0);
  ffi_quenfold_log_rust_future_free_u64(h.handle);
}

TEST(Future, CompleteBeforeTheOutcomeIsCode3) {
  Handle h;
  Continuations c;
  ffi_quenfold_log_rust_future_poll_i32(h.handle, Continuations::callback, c.data());
  RustCallStatus st = zero_status();
  EXPECT_EQ(ffi_quenfold_log_rust_future_complete_i32(h.handle, &st), 0);
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  EXPECT_TRUE(all_zero(st.error_buf));
  EXPECT_TRUE(h.control->was_dropped());
  // Consumed: a later poll is told to complete at once, without polling.
  ffi_quenfold_log_rust_future_poll_i32(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  EXPECT_EQ(h.control->poll_count(), 1);
  ffi_quenfold_log_rust_future_free_i32(h.handle);
}

TEST(Future, WakeBeforePollStoresWokenEarly) {
  {  // the operation wakes itself while being polled, before pending is stored
    Handle h;
    h.control->wake_while_polled = true;
    Continuations c;
    ffi_quenfold_log_rust_future_poll_u16(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), Codes{kWake}) << "woken early: the poll is told at once to poll again";
    // The early wake was used up: the next pending poll waits.
    h.control->wake_while_polled = false;
    ffi_quenfold_log_rust_future_poll_u16(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), Codes{kWake});
    h.control->wake();
    EXPECT_EQ(c.seen(), (Codes{kWake, kWake}));
    ffi_quenfold_log_rust_future_free_u16(h.handle);
  }
  {  // wakes arriving between polls: several collapse into one
    Handle h;
    Continuations c;
    ffi_quenfold_log_rust_future_poll_u16(h.handle, Continuations::callback, c.data());
    h.control->wake();  // the stored continuation runs, the slot empties
    h.control->wake();  // nothing stored: woken early
    h.control->wake();  // still woken early
    EXPECT_EQ(c.seen(), Codes{kWake});
    ffi_quenfold_log_rust_future_poll_u16(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), (Codes{kWake, kWake}));
    ffi_quenfold_log_rust_future_poll_u16(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), (Codes{kWake, kWake})) << "the early wake counts once";
    ffi_quenfold_log_rust_future_free_u16(h.handle);
  }
}

TEST(Future, NewerPollReplacesTheStoredContinuation) {
  Handle h;
  Continuations older, newer;
  ffi_quenfold_log_rust_future_poll_f64(h.handle, Continuations::callback, older.data());
  ffi_quenfold_log_rust_future_poll_f64(h.handle, Continuations::callback, newer.data());
  EXPECT_EQ(older.seen(), Codes{kWake}) << "the replaced continuation is told to poll again";
  EXPECT_EQ(newer.seen(), Codes{});
  h.control->wake();
  EXPECT_EQ(older.seen(), Codes{kWake});
  EXPECT_EQ(newer.seen(), Codes{kWake});
  ffi_quenfold_log_rust_future_free_f64(h.handle);
}

// ---- cancel and free ------------------------------------------------------------------------

TEST(Future, CancelBeforePoll) {
  Handle h;
  ffi_quenfold_log_rust_future_cancel_i64(h.handle);
  Continuations c;
  ffi_quenfold_log_rust_future_poll_i64(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  EXPECT_EQ(h.control->poll_count(), 0) << "a cancelled operation is never advanced";
  RustCallStatus st = zero_status();
  EXPECT_EQ(ffi_quenfold_log_rust_future_complete_i64(h.handle, &st), 0);
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  EXPECT_TRUE(all_zero(st.error_buf));
  ffi_quenfold_log_rust_future_free_i64(h.handle);
}

TEST(Future, CancelWakesTheStoredContinuationWithReady) {
  Handle h;
  Continuations c;
  ffi_quenfold_log_rust_future_poll_f32(h.handle, Continuations::callback, c.data());
  ffi_quenfold_log_rust_future_cancel_f32(h.handle);
  EXPECT_EQ(c.seen(), Codes{kReady});
  // A wake after cancel does nothing; a cancel twice does nothing more.
  h.control->wake();
  ffi_quenfold_log_rust_future_cancel_f32(h.handle);
  EXPECT_EQ(c.seen(), Codes{kReady});
  RustCallStatus st = zero_status();
  EXPECT_EQ(ffi_quenfold_log_rust_future_complete_f32(h.handle, &st), 0.0f);
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  ffi_quenfold_log_rust_future_free_f32(h.handle);
}

TEST(Future, CancelOvertakesAFinishedOutcome) {
  Handle h;
  h.control->finish(Outcome::success(buffer_from(std::string_view("never delivered"))));
  Continuations c;
  ffi_quenfold_log_rust_future_poll_rust_buffer(h.handle, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  ffi_quenfold_log_rust_future_cancel_rust_buffer(h.handle);
  RustCallStatus st = zero_status();
  EXPECT_TRUE(all_zero(ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st)));
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  ffi_quenfold_log_rust_future_free_rust_buffer(h.handle);  // the buffer was released (leak check)
}

TEST(Future, FreeCancelsAndDropsTheOperation) {
  {  // a stored continuation hears ready; the operation is dropped at once
    Handle h;
    Continuations c;
    ffi_quenfold_log_rust_future_poll_u8(h.handle, Continuations::callback, c.data());
    EXPECT_FALSE(h.control->was_dropped());
    ffi_quenfold_log_rust_future_free_u8(h.handle);
    EXPECT_EQ(c.seen(), Codes{kReady});
    EXPECT_TRUE(h.control->was_dropped());
    // The waker the operation handed out outlives the future harmlessly.
    h.control->wake();
    EXPECT_EQ(c.seen(), Codes{kReady});
  }
  {  // an outcome nobody took is released with the future (leak check)
    Handle h;
    h.control->finish(Outcome::failure(QUENFOLD_CALL_ERROR, buffer_from(std::string_view("unread"))));
    Continuations c;
    ffi_quenfold_log_rust_future_poll_void(h.handle, Continuations::callback, c.data());
    ffi_quenfold_log_rust_future_free_void(h.handle);
    EXPECT_TRUE(h.control->was_dropped());
  }
  {  // never polled at all
    Handle h;
    ffi_quenfold_log_rust_future_free_i16(h.handle);
    EXPECT_TRUE(h.control->was_dropped());
    EXPECT_EQ(h.control->poll_count(), 0);
  }
}

TEST(Future, NullHandleIsInert) {
  Continuations c;
  ffi_quenfold_log_rust_future_poll_u8(0, Continuations::callback, c.data());
  EXPECT_EQ(c.seen(), Codes{kReady});
  RustCallStatus st = zero_status();
  EXPECT_EQ(ffi_quenfold_log_rust_future_complete_u8(0, &st), 0);
  EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
  ffi_quenfold_log_rust_future_cancel_u8(0);
  ffi_quenfold_log_rust_future_free_u8(0);
}

// ---- no lock is held while a continuation runs ----------------------------------------------

TEST(Future, ContinuationMayPollAndCompleteFromInsideItself) {
  within_deadline("re-entrant poll/complete", [] {
    Handle h;
    h.control->wake_while_polled = true;  // every pending poll is woken early
    Continuations c;
    std::uint32_t got = 0;
    RustCallStatus st = zero_status();
    int repolls = 0;
    c.inside = [&](std::int8_t code) {
      if (code == kWake) {
        // Poll again from inside the continuation (nested inside poll);
        // on the third time round the operation has finished.
        if (++repolls == 3) h.control->finish(Outcome::success(value_of(std::uint32_t{77})));
        ffi_quenfold_log_rust_future_poll_u32(h.handle, Continuations::callback, c.data());
      } else {
        got = ffi_quenfold_log_rust_future_complete_u32(h.handle, &st);
      }
    };
    ffi_quenfold_log_rust_future_poll_u32(h.handle, Continuations::callback, c.data());
    EXPECT_EQ(c.seen(), (Codes{kWake, kWake, kWake, kReady}));
    EXPECT_EQ(got, 77u);
    EXPECT_EQ(st.code, 0);
    ffi_quenfold_log_rust_future_free_u32(h.handle);
  });
}

TEST(Future, ContinuationMayCancelOrFreeFromInsideItself) {
  within_deadline("re-entrant cancel/free", [] {
    {  // cancel from inside the continuation of a replaced poll
      Handle h;
      Continuations first, second;
      first.inside = [&](std::int8_t) { ffi_quenfold_log_rust_future_cancel_u8(h.handle); };
      ffi_quenfold_log_rust_future_poll_u8(h.handle, Continuations::callback, first.data());
      ffi_quenfold_log_rust_future_poll_u8(h.handle, Continuations::callback, second.data());
      EXPECT_EQ(first.seen(), Codes{kWake});
      EXPECT_EQ(second.seen(), Codes{kReady}) << "the replacing continuation hears the cancel";
      ffi_quenfold_log_rust_future_free_u8(h.handle);
    }
    {  // free from inside the ready continuation: the running poll still
       // holds its own reference, so nothing is used after release
      Handle h;
      h.control->finish(Outcome::success(buffer_from(std::string_view("taken"))));
      Continuations c;
      RustBuffer got{0, 0, nullptr};
      c.inside = [&](std::int8_t) {
        RustCallStatus st = zero_status();
        got = ffi_quenfold_log_rust_future_complete_rust_buffer(h.handle, &st);
        ffi_quenfold_log_rust_future_free_rust_buffer(h.handle);
      };
      ffi_quenfold_log_rust_future_poll_rust_buffer(h.handle, Continuations::callback, c.data());
      EXPECT_EQ(text_of(got), "taken");
      EXPECT_TRUE(h.control->was_dropped());
    }
  });
}

// ---- the waker on other threads -------------------------------------------------------------

TEST(Future, WakerOnAnotherThreadDrivesTheFutureToCompletion) {
  within_deadline("cross-thread wake", [] {
    constexpr int kFutures = 8;
    constexpr int kSteps = 25;
    struct Driven {
      Handle h;
      Continuations c;
      std::atomic<int> steps{0};
      std::atomic<std::uint64_t> result{0};
      std::atomic<bool> completed{false};
    };
    std::vector<std::unique_ptr<Driven>> all;
    for (int i = 0; i < kFutures; ++i) all.push_back(std::make_unique<Driven>());
    for (auto& d : all) {
      Driven* p = d.get();
      // Each continuation polls again (on whichever thread woke it), and
      // completes once told ready.
      p->c.inside = [p](std::int8_t code) {
        if (code == kWake) {
          ffi_quenfold_log_rust_future_poll_u64(p->h.handle, Continuations::callback, p->c.data());
        } else {
          RustCallStatus st = zero_status();
          p->result = ffi_quenfold_log_rust_future_complete_u64(p->h.handle, &st);
          std::lock_guard l(p->c.m);  // so the waiting test cannot miss it
          p->completed = st.code == 0;
        }
      };
      ffi_quenfold_log_rust_future_poll_u64(p->h.handle, Continuations::callback, p->c.data());
    }
    // Two event threads wake every future repeatedly, racing each other and
    // the re-polls, then finish them.
    auto event_source = [&](int parity) {
      for (int step = 0; step < kSteps; ++step) {
        for (int i = parity; i < kFutures; i += 2) {
          Driven& d = *all[static_cast<std::size_t>(i)];
          if (step == kSteps - 1) d.h.control->finish(Outcome::success(value_of(std::uint64_t(1000 + i))));
          d.h.control->wake();
          ++d.steps;
        }
      }
    };
    std::thread even(event_source, 0), odd(event_source, 1);
    even.join();
    odd.join();
    for (int i = 0; i < kFutures; ++i) {
      Driven& d = *all[static_cast<std::size_t>(i)];
      // The final wake's re-poll finds the outcome and completes.
      std::unique_lock l(d.c.m);
      EXPECT_TRUE(d.c.cv.wait_for(l, 10s, [&] { return d.completed.load(); })) << "future " << i;
      l.unlock();
      EXPECT_EQ(d.result.load(), std::uint64_t(1000 + i));
      EXPECT_EQ(d.c.seen().back(), kReady);
      ffi_quenfold_log_rust_future_free_u64(d.h.handle);
      EXPECT_TRUE(d.h.control->was_dropped());
    }
  });
}

TEST(Future, CancelRacesAWakeOnAnotherThread) {
  within_deadline("cancel against wake", [] {
    for (int round = 0; round < 50; ++round) {
      Handle h;
      Continuations c;
      ffi_quenfold_log_rust_future_poll_void(h.handle, Continuations::callback, c.data());
      std::thread waker([&] { h.control->wake(); });
      ffi_quenfold_log_rust_future_cancel_void(h.handle);
      waker.join();
      // Whichever came first, the stored continuation ran exactly once:
      // with 1 if the wake won, with 0 if the cancel did.
      EXPECT_EQ(c.seen().size(), 1u);
      RustCallStatus st = zero_status();
      ffi_quenfold_log_rust_future_complete_void(h.handle, &st);
      EXPECT_EQ(st.code, QUENFOLD_CALL_CANCELLED);
      ffi_quenfold_log_rust_future_free_void(h.handle);
    }
  });
}

}  // namespace
}  // namespace quenfold::ffi::future
