// Propagation of std::expected errors: the one way a verifier hands a
// callee's error to its own caller unchanged.
//
//   QUENFOLD_TRY(auto n, r.u32("count"));   // binds n, or returns the error
//   QUENFOLD_CHECK(check_legality(p));       // for std::expected<void, E>
//
// The enclosing function must return a std::expected whose error type the
// callee's error converts to.
#pragma once

#include <expected>
#include <utility>

#define QUENFOLD_TRY_CAT2(a, b) a##b
#define QUENFOLD_TRY_CAT(a, b) QUENFOLD_TRY_CAT2(a, b)
#define QUENFOLD_TRY_TMP QUENFOLD_TRY_CAT(quenfold_try_, __LINE__)

#define QUENFOLD_TRY(decl, expr)                                                   \
  auto QUENFOLD_TRY_TMP = (expr);                                                  \
  if (!QUENFOLD_TRY_TMP) return std::unexpected(std::move(QUENFOLD_TRY_TMP.error())); \
  decl = std::move(*QUENFOLD_TRY_TMP)

#define QUENFOLD_CHECK(expr)                                                     \
  do {                                                                           \
    if (auto quenfold_check = (expr); !quenfold_check)                           \
      return std::unexpected(std::move(quenfold_check.error()));                 \
  } while (false)
