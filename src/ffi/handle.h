// Object handles: a long-lived, immutable value (a parsed verifier list, a
// witness policy, a checkpoint verifier) handed to a foreign caller as a
// u64, the address of a heap-held box with a std::shared_ptr to the value.
//
// Every call that takes a handle copies the shared_ptr at entry and works
// on its own reference, so a handle freed (or another clone's handle freed)
// while a call runs on another thread leaves that call's value alive. clone
// makes a second box sharing the value; free deletes one box.
//
// A handle must come from the library and be freed once, as with every
// generated binding's objects. What can be checked cheaply is: zero and
// misaligned values, and a handle of another type (each box starts with its
// type's tag, cleared when the box is freed), are refused rather than used.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace quenfold::ffi {

// Specialised for every object type: its tag (any distinctive non-zero
// constant) and its name, for the messages.
//   template <> struct HandleType<VerifierList> {
//     static constexpr std::uint64_t tag = ...; static constexpr const char* name = "VerifierList"; };
template <class T>
struct HandleType;

template <class T>
struct HandleBox {
  std::uint64_t tag;
  std::shared_ptr<const T> value;
};

// A new handle to `value` (throws std::bad_alloc).
template <class T>
std::uint64_t make_handle(std::shared_ptr<const T> value) {
  auto* box = new HandleBox<T>{HandleType<T>::tag, std::move(value)};
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(box));
}

template <class T>
HandleBox<T>* handle_box(std::uint64_t handle) noexcept {
  if (handle == 0 || handle > UINTPTR_MAX || handle % alignof(HandleBox<T>) != 0) return nullptr;
  auto* box = reinterpret_cast<HandleBox<T>*>(static_cast<std::uintptr_t>(handle));
  return box->tag == HandleType<T>::tag ? box : nullptr;
}

// The call's own reference to the handle's value; null for a refused handle.
template <class T>
std::shared_ptr<const T> borrow_handle(std::uint64_t handle) noexcept {
  HandleBox<T>* box = handle_box<T>(handle);
  return box == nullptr ? nullptr : box->value;
}

// Releases one handle; false (and nothing released) for a refused handle.
template <class T>
bool free_handle(std::uint64_t handle) noexcept {
  HandleBox<T>* box = handle_box<T>(handle);
  if (box == nullptr) return false;
  box->tag = 0;
  delete box;
  return true;
}

}  // namespace quenfold::ffi
