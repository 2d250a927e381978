// The wire identifiers of the KEYTRANS suites: one table read by the
// `_suite` exports and by namespace-policy records, which name a suite by the
// same 16-bit identifier.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "quenfold/types.h"

namespace quenfold::keytrans {

struct SuiteId {
  KeytransSuite suite;
  std::uint16_t id;
};

inline constexpr std::array<SuiteId, 3> kSuiteIds = {{
    {KeytransSuite::Kt128Sha256P256, 0x0001},     // KT_128_SHA256_P256
    {KeytransSuite::Kt128Sha256Ed25519, 0x0002},  // KT_128_SHA256_Ed25519
    {KeytransSuite::QuenfoldHybridExp, 0xF000},   // experimental, private-use range
}};

constexpr std::optional<KeytransSuite> suite_from_id(std::uint16_t id) noexcept {
  for (const SuiteId& s : kSuiteIds)
    if (s.id == id) return s.suite;
  return std::nullopt;
}

constexpr std::uint16_t suite_id_of(KeytransSuite suite) noexcept {
  for (const SuiteId& s : kSuiteIds)
    if (s.suite == suite) return s.id;
  return 0;
}

}  // namespace quenfold::keytrans
