#include "ffi/future.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>

#include "ffi/buffer.h"

namespace quenfold::ffi::future {

// ---- Outcome ------------------------------------------------------------------

Outcome Outcome::internal_failure(std::string_view message) noexcept {
  RustBuffer text{0, 0, nullptr};
  try {
    text = buffer_from(message);
  } catch (...) {
    // No memory for the text: the code alone still reports the failure.
  }
  return failure(QUENFOLD_CALL_UNEXPECTED_ERROR, text);
}

Outcome::Outcome(Outcome&& o) noexcept : value_(o.take_value()), code_(o.code_), error_buf_(o.take_error_buf()) {}

Outcome& Outcome::operator=(Outcome&& o) noexcept {
  if (this != &o) {
    release_all();
    value_ = o.take_value();
    code_ = o.code_;
    error_buf_ = o.take_error_buf();
  }
  return *this;
}

Outcome::~Outcome() { release_all(); }

Value Outcome::take_value() noexcept {
  Value v = value_;
  value_ = std::monostate{};
  return v;
}

RustBuffer Outcome::take_error_buf() noexcept {
  RustBuffer b = error_buf_;
  error_buf_ = kNoBuffer;
  return b;
}

void Outcome::release_all() noexcept {
  if (auto* b = std::get_if<RustBuffer>(&value_)) release(*b);
  value_ = std::monostate{};
  release(take_error_buf());
}

// ---- continuation slot ----------------------------------------------------------

namespace {

// A continuation call decided under the slot's lock and made after it is
// released.
struct PendingCall {
  Continuation callback = nullptr;
  std::uint64_t data = 0;
  std::int8_t code = kReady;
  void run() const noexcept {
    if (callback != nullptr) callback(data, code);
  }
};

}  // namespace

class ContinuationSlot {
 public:
  // A poll that did not finish leaves its continuation here.
  void store(Continuation callback, std::uint64_t data) noexcept {
    PendingCall call;
    {
      std::lock_guard lock(mutex_);
      switch (state_) {
        case State::Empty:
          set(callback, data);
          break;
        case State::WokenEarly:
          // The wake this poll would wait for has already happened.
          state_ = State::Empty;
          call = {callback, data, kWake};
          break;
        case State::Set:
          // A newer poll supersedes the stored one, which is told to poll
          // again (and will find the newer continuation in place).
          call = {callback_, data_, kWake};
          set(callback, data);
          break;
        case State::Cancelled:
          call = {callback, data, kReady};
          break;
      }
    }
    call.run();
  }

  void wake() noexcept {
    PendingCall call;
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::Set) {
        call = {callback_, data_, kWake};
        clear(State::Empty);
      } else if (state_ == State::Empty) {
        state_ = State::WokenEarly;
      }
    }
    call.run();
  }

  void cancel() noexcept {
    PendingCall call;
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::Set) call = {callback_, data_, kReady};
      clear(State::Cancelled);
    }
    call.run();
  }

  bool cancelled() noexcept {
    std::lock_guard lock(mutex_);
    return state_ == State::Cancelled;
  }

 private:
  enum class State { Empty, WokenEarly, Cancelled, Set };

  void set(Continuation callback, std::uint64_t data) noexcept {
    state_ = State::Set;
    callback_ = callback;
    data_ = data;
  }
  void clear(State s) noexcept {
    state_ = s;
    callback_ = nullptr;
    data_ = 0;
  }

  std::mutex mutex_;
  State state_ = State::Empty;
  Continuation callback_ = nullptr;
  std::uint64_t data_ = 0;
};

void Waker::wake() const noexcept {
  if (slot_) slot_->wake();
}

// ---- the future object ----------------------------------------------------------

namespace {

struct FutureObject {
  explicit FutureObject(std::unique_ptr<Task> t)
      : task(std::move(t)), slot(std::make_shared<ContinuationSlot>()), waker(slot) {}

  std::atomic<std::uint64_t> refs{1};  // the caller's reference
  std::mutex mutex;                    // guards task, outcome, consumed
  std::unique_ptr<Task> task;
  std::optional<Outcome> outcome;
  bool consumed = false;  // the outcome was taken and the operation dropped
  std::shared_ptr<ContinuationSlot> slot;
  Waker waker;

  // Takes the operation and any outcome out, marking them consumed; the
  // caller destroys them after releasing the lock.
  void consume(std::unique_ptr<Task>& task_out, std::optional<Outcome>& outcome_out) {
    std::lock_guard lock(mutex);
    task_out = std::move(task);
    outcome_out = std::move(outcome);
    outcome.reset();
    consumed = true;
  }
};

FutureObject* object_of(std::uint64_t handle) noexcept {
  return reinterpret_cast<FutureObject*>(static_cast<std::uintptr_t>(handle));
}

void unref(FutureObject* f) noexcept {
  if (f->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete f;
}

// The extra reference every scaffolding call holds while it runs.
class CallRef {
 public:
  explicit CallRef(std::uint64_t handle) noexcept : f_(object_of(handle)) {
    if (f_ != nullptr) f_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  ~CallRef() {
    if (f_ != nullptr) unref(f_);
  }
  CallRef(const CallRef&) = delete;
  CallRef& operator=(const CallRef&) = delete;
  FutureObject* get() const noexcept { return f_; }

 private:
  FutureObject* f_;
};

}  // namespace

std::uint64_t make_future(std::unique_ptr<Task> task) {
  if (!task) throw std::invalid_argument("a future needs an operation");
  auto* f = new FutureObject(std::move(task));
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(f));
}

void poll(std::uint64_t handle, Continuation callback, std::uint64_t data) noexcept {
  CallRef ref(handle);
  FutureObject* f = ref.get();
  if (f == nullptr || f->slot->cancelled()) {
    PendingCall{callback, data, kReady}.run();
    return;
  }
  bool finished = true;
  {
    std::lock_guard lock(f->mutex);
    if (!f->consumed && !f->outcome) {
      std::optional<Outcome> step;
      try {
        step = f->task->poll(f->waker);
      } catch (const std::bad_alloc&) {
        step = Outcome::internal_failure("out of memory");
      } catch (const std::exception& e) {
        step = Outcome::internal_failure(e.what());
      } catch (...) {
        step = Outcome::internal_failure("Unknown panic!");
      }
      finished = step.has_value();
      if (finished) f->outcome = std::move(step);
    }
  }
  if (finished) {
    PendingCall{callback, data, kReady}.run();
  } else {
    f->slot->store(callback, data);
  }
}

void cancel(std::uint64_t handle) noexcept {
  CallRef ref(handle);
  if (ref.get() != nullptr) ref.get()->slot->cancel();
}

void free(std::uint64_t handle) noexcept {
  CallRef ref(handle);
  FutureObject* f = ref.get();
  if (f == nullptr) return;
  f->slot->cancel();
  std::unique_ptr<Task> task;
  std::optional<Outcome> outcome;
  f->consume(task, outcome);
  task.reset();
  outcome.reset();
  unref(f);  // the caller's reference; the call's own goes with `ref`
}

template <class Stored>
std::optional<Stored> complete(std::uint64_t handle, RustCallStatus* status) noexcept {
  CallRef ref(handle);
  FutureObject* f = ref.get();
  std::unique_ptr<Task> task;
  std::optional<Outcome> outcome;
  bool cancelled = true;
  if (f != nullptr) {
    cancelled = f->slot->cancelled();
    f->consume(task, outcome);
  }
  task.reset();
  if (!outcome || cancelled) {
    // Not finished, cancelled, or taken before; an outcome that a cancel
    // overtook is dropped with `outcome`.
    if (status != nullptr) {
      status->code = QUENFOLD_CALL_CANCELLED;
      status->error_buf = RustBuffer{0, 0, nullptr};
    }
    return std::nullopt;
  }
  if (outcome->failed()) {
    RustBuffer err = outcome->take_error_buf();
    if (status != nullptr) {
      status->code = outcome->code();
      status->error_buf = err;
    } else {
      release(err);
    }
    return std::nullopt;
  }
  Value value = outcome->take_value();
  if (auto* v = std::get_if<Stored>(&value)) return *v;
  if (auto* b = std::get_if<RustBuffer>(&value)) release(*b);
  set_failure(status, QUENFOLD_CALL_UNEXPECTED_ERROR, "future completed with a result of another kind");
  return std::nullopt;
}

template std::optional<std::monostate> complete<std::monostate>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<std::uint8_t> complete<std::uint8_t>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<std::uint16_t> complete<std::uint16_t>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<std::uint32_t> complete<std::uint32_t>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<std::uint64_t> complete<std::uint64_t>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<float> complete<float>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<double> complete<double>(std::uint64_t, RustCallStatus*) noexcept;
template std::optional<RustBuffer> complete<RustBuffer>(std::uint64_t, RustCallStatus*) noexcept;

}  // namespace quenfold::ffi::future
